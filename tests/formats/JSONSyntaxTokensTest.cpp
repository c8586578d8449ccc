#include "support/QuorrixTestMain.h"
#include "formats/JSONSyntaxTokens.h"

#include <QRandomGenerator>

using namespace JSONSyntaxTokens;

namespace {
// One letter per unit: . plain, p punctuation, n number, w keyword, s string, k key.
QString kinds(const TokenArray& tokens)
{
    static const char letters[] = ".pnwsk";
    QString out;
    for (Token t : tokens)
        out += QChar(letters[int(t)]);
    return out;
}
QString ranges(const QList<TextRange>& list)
{
    QStringList parts;
    for (const TextRange& r : list)
        parts << QStringLiteral("%1+%2").arg(r.location).arg(r.length);
    return parts.join(u' ');
}
} // namespace

class JSONSyntaxTokensTest : public QObject {
    Q_OBJECT
private slots:
    void kinds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("scanned"); // the fast scan accepts it
        QTest::newRow("member") << "{\"a\": 1}" << "pkkkp.np" << true;
        QTest::newRow("no keyword in truex") << "truex xtrue" << "..........." << true;
        QTest::newRow("keyword in brackets") << "[true]" << "pwwwwp" << true;
        QTest::newRow("lone minus") << "-" << "." << true;
        QTest::newRow("exponent") << "1e5" << "nnn" << true;
        QTest::newRow("fraction given back") << "1.5e" << "n..." << true;
        QTest::newRow("integer given back") << "123abc" << "nn...." << true;
        QTest::newRow("exponent digit given back") << "1e55x" << "nnn.." << true;
        QTest::newRow("no number") << "1e5x" << "...." << true;
        QTest::newRow("number after a quote") << "\"a\"12" << "sss.n" << true;
        QTest::newRow("key with blanks and tab") << "{\"k\" \t: 1}" << "pkkk..p.np" << true;
        QTest::newRow("line feed before colon") << "{\"k\"\n: 1}" << "psss.p.np" << true;
        QTest::newRow("string beats its content") << "[\"1,true\"]" << "pssssssssp" << true;
        QTest::newRow("backslash outside strings") << "\\ 1" << "..n" << false;
        QTest::newRow("control unit outside") << QString("1") + QChar(1) + "2" << "n.n" << false;
        QTest::newRow("non-ASCII outside") << QString::fromUtf8("\xC3\xA9 null") << "..wwww" << false;
        QTest::newRow("unterminated string runs on") << "[\"ab, 1\n]" << "p...p.n.p" << false;
        QTest::newRow("string across line feeds") << "\"a\nb\" 1" << "sssss.n" << true;
        QTest::newRow("escaped quote") << "\"a\\\"b\":1" << "kkkkkkpn" << true;
        QTest::newRow("backslash before non-ASCII") << QString::fromUtf8("\"\\\xC3\xA9\" 1") << "ssss.n" << false;
        QTest::newRow("lone surrogate in a string") << QString("[\"") + QChar(0xD800) + "\"]" << "psssp" << true;
        QTest::newRow("empty") << "" << "" << true;
    }
    void kinds()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QFETCH(bool, scanned);
        QCOMPARE(::kinds(tokens(text)), expected);
        QCOMPARE(::kinds(patternTokens(text)), expected);
        const auto fast = scannedTokens(text);
        QCOMPARE(fast.has_value(), scanned);
        if (fast)
            QCOMPARE(::kinds(*fast), expected);
    }

    void rangeIsRespected()
    {
        const QString text = QStringLiteral("xx{\"a\":true}yy");
        QCOMPARE(::kinds(tokens(text, {2, 10})), QStringLiteral("pkkkpwwwwp"));
    }

    // Wherever the scanner accepts a text, it must give exactly what the patterns give.
    void scannerAgreesWithPatterns_data()
    {
        QTest::addColumn<QString>("alphabet");
        QTest::newRow("json") << QStringLiteral("{}[],:\"\" \n\t01239-+.eEtruefalsn\\ax_");
        QTest::newRow("numbers") << QStringLiteral("0123456789-+.eEx_\" ,");
        QTest::newRow("strings and keys") << QStringLiteral("\"\"\"\\:: \t\nab\r,{}");
        QTest::newRow("words") << QStringLiteral("truefalsnul_1 [],\"");
    }
    void scannerAgreesWithPatterns()
    {
        QFETCH(QString, alphabet);
        QRandomGenerator rng(20261208);
        int accepted = 0;
        for (int round = 0; round < 4000; ++round) {
            const int length = rng.bounded(1, 40);
            QString text;
            for (int i = 0; i < length; ++i)
                text += alphabet.at(rng.bounded(int(alphabet.size())));
            if (rng.bounded(8) == 0)
                text.insert(rng.bounded(int(text.size()) + 1), QChar(0xE9));
            const auto fast = scannedTokens(text);
            if (!fast)
                continue;
            ++accepted;
            const TokenArray slow = patternTokens(text);
            if (*fast != slow)
                QFAIL(qPrintable(QStringLiteral("text %1: scan %2, patterns %3")
                                     .arg(QString::fromLatin1(text.toUtf8().toPercentEncoding()), ::kinds(*fast), ::kinds(slow))));
        }
        QVERIFY2(accepted > 300, qPrintable(QString::number(accepted)));
    }

    void longLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("2048 plus line feed is long") << QString(2048, u'a') + u'\n' + "b" << "0+2049";
        QTest::newRow("last line of 2048 is not") << QString("x\n") + QString(2048, u'a') << "";
        QTest::newRow("last line of 2049 is") << QString("x\n") + QString(2049, u'a') << "2+2049";
        QTest::newRow("short lines") << QString("a\nb\nc\n") << "";
        QTest::newRow("two long lines") << QString(3000, u'a') + u'\n' + "b\n" + QString(2500, u'c')
                                        << "0+3001 3003+2500";
    }
    void longLines()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(ranges(longLineRanges({0, text.size()}, text)), expected);
    }

    void firstLines_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("expected");
        QTest::newRow("none") << 0 << 0;
        QTest::newRow("one") << 1 << 2;
        QTest::newRow("two") << 2 << 4;
        QTest::newRow("more than there are") << 9 << 5;
    }
    void firstLines()
    {
        QFETCH(int, count);
        QFETCH(int, expected);
        QCOMPARE(rangeOfFirstLines(count, QStringLiteral("a\nb\nc")), (TextRange{0, expected}));
    }

    void longLineLookup()
    {
        LongLines lines;
        const QString text = QString(3000, u' ') + "{\"a\":12}\n";
        const TextRange line{0, text.size()};
        lines.insert(line, tokens(text, line));
        const auto at = lines.token(3002);
        QVERIFY(at);
        QCOMPARE(at->first, Token::key);
        QCOMPARE(at->second, (TextRange{3001, 3}));
        QCOMPARE(lines.token(3005)->second, (TextRange{3005, 2}));
        QVERIFY(!lines.token(text.size()));
        // An edit after the line moves nothing; one before it moves the line; one inside drops it.
        lines.shift({text.size() + 5, 3}, 3);
        QCOMPARE(lines.lines.size(), size_t(1));
        lines.insert({5000, 10}, TokenArray(10, Token::plain));
        lines.shift({4000, 2}, 2);
        QCOMPARE(lines.lines[1].range.location, qsizetype(5002));
        lines.shift({10, 0}, -1);
        QCOMPARE(lines.lines.size(), size_t(1));
        lines.removeLines({5002, 1});
        QVERIFY(lines.lines.empty());
    }

    void coverage_data()
    {
        QTest::addColumn<bool>("longLine");
        QTest::addColumn<QString>("expected");
        QTest::newRow("short span is coloured whole") << false << "0+4";
        QTest::newRow("large span yields only its long lines") << true << "2+3001";
    }
    void coverage()
    {
        QFETCH(bool, longLine);
        QFETCH(QString, expected);
        Coverage c;
        QString text = longLine ? QString("a\n") + QString(3000, u'x') + u'\n' + QString(100, u'\n') : QString("ab\ncd\n");
        // Typing one character at the start of the text.
        QCOMPARE(ranges(c.invalidate({0, longLine ? text.size() : 1}, longLine ? text.size() : 1, text)),
                 longLine ? expected : QStringLiteral("0+3"));
        if (!longLine) {
            c = Coverage();
            QCOMPARE(ranges(c.invalidate({1, 1}, 1, text)), expected.isEmpty() ? QString() : QStringLiteral("0+3"));
            QCOMPARE(ranges(c.claim({4, 1}, text)), QStringLiteral("3+3"));
            QCOMPARE(ranges(c.claim({0, 6}, text)), QString());
            QCOMPARE(c.tinted.ranges(), (QList<TextRange>{{0, 6}}));
            // Deleting "b": everything after moves back, the edited line is coloured again.
            text.remove(1, 1);
            QCOMPARE(ranges(c.invalidate({1, 0}, -1, text)), QStringLiteral("0+2"));
            QCOMPARE(c.tinted.ranges(), (QList<TextRange>{{0, 5}}));
        }
    }

    void claimingWidensToLines()
    {
        Coverage c;
        const QString text = QStringLiteral("one\ntwo\nthree\nfour");
        QCOMPARE(ranges(c.claim({5, 1}, text)), QStringLiteral("4+4"));
        QCOMPARE(ranges(c.claim({0, text.size()}, text)), QStringLiteral("0+4 8+10"));
        QCOMPARE(ranges(c.claim({0, text.size()}, text)), QString());
    }

    void indexSet()
    {
        IndexSet s;
        s.insert({10, 5});
        s.insert({20, 5});
        s.insert({15, 5});
        QCOMPARE(s.ranges(), (QList<TextRange>{{10, 15}}));
        s.remove({12, 2});
        QCOMPARE(s.ranges(), (QList<TextRange>{{10, 2}, {14, 11}}));
        QCOMPARE(ranges(s.missing({0, 30})), QStringLiteral("0+10 12+2 25+5"));
        s.shift(14, 3);
        QCOMPARE(s.ranges(), (QList<TextRange>{{10, 2}, {17, 11}}));
        QVERIFY(s.contains(11));
        QVERIFY(!s.contains(12));
        QVERIFY(s.containsRange({18, 5}));
        QCOMPARE(s.count(), qsizetype(13));
    }

    void rawValues()
    {
        QCOMPARE(tokenFromRawValue(4), std::optional<Token>(Token::string));
        QVERIFY(!tokenFromRawValue(6));
    }
};

QUORRIX_TEST_MAIN(JSONSyntaxTokensTest)
#include "JSONSyntaxTokensTest.moc"
