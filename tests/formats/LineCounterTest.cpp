#include "support/QuorrixTestMain.h"
#include "formats/LineCounter.h"

#include <QRandomGenerator>

using Empty = LineCounter::EmptyText;

class LineCounterTest : public QObject {
    Q_OBJECT

    // Unit by unit, as the rule reads.
    static qsizetype referenceBreaks(const QString& text)
    {
        qsizetype breaks = 0;
        for (qsizetype i = 0; i < text.size(); ++i)
            breaks += text[i] == u'\n' || (text[i] == u'\r' && (i + 1 == text.size() || text[i + 1] != u'\n'));
        return breaks;
    }

private slots:
    void counts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qsizetype>("lines");
        QTest::newRow("empty text has no lines") << QString() << qsizetype(0);
        QTest::newRow("one line without a break") << QStringLiteral("abc") << qsizetype(1);
        QTest::newRow("trailing LF opens an empty line") << QStringLiteral("a\n") << qsizetype(2);
        QTest::newRow("CR LF is one break") << QStringLiteral("a\r\nb") << qsizetype(2);
        QTest::newRow("lone CR is a break") << QStringLiteral("a\rb") << qsizetype(2);
        QTest::newRow("trailing CR") << QStringLiteral("a\r") << qsizetype(2);
        QTest::newRow("LF CR is two breaks") << QStringLiteral("\n\r") << qsizetype(3);
        QTest::newRow("CR CR LF is two breaks") << QStringLiteral("\r\r\n") << qsizetype(3);
        QTest::newRow("CR LF across eight-unit steps") << QStringLiteral("abcdefg\r\nhijklmn\r\nop\r") << qsizetype(4);
    }
    void counts()
    {
        QFETCH(QString, text);
        QFETCH(qsizetype, lines);
        QCOMPARE(LineCounter::lines(text), lines);
        QCOMPARE(LineCounter::lines(text, Empty::oneLine), std::max<qsizetype>(lines, 1));
    }

    // Breaks placed at random over every position of the wide steps, in texts long enough for
    // the lane sums to be flushed more than once.
    void randomTextsCountAsUnitByUnit()
    {
        QRandomGenerator random(2417);
        const char16_t alphabet[] = {u'a', u'\r', u'\n', u'\r', u'\n', 0xD83D};
        for (int round = 0; round < 300; ++round) {
            const qsizetype size = round < 290 ? random.bounded(40) : random.bounded(300000, 600000);
            QString text(size, Qt::Uninitialized);
            for (qsizetype i = 0; i < size; ++i)
                text[i] = QChar(alphabet[random.bounded(int(std::size(alphabet)))]);
            QCOMPARE(LineCounter::breaks(text), referenceBreaks(text));
        }
    }

    void viewEndingInCrCountsItWhateverFollows()
    {
        const QString text = QStringLiteral("ab\r\ncd");
        QCOMPARE(LineCounter::breaks(QStringView(text).first(3)), qsizetype(1));
        QCOMPARE(LineCounter::breaks(QStringView(text).sliced(3)), qsizetype(1));
    }
};

QUORRIX_TEST_MAIN(LineCounterTest)
#include "LineCounterTest.moc"
