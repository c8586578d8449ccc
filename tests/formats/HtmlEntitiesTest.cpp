#include "support/QuorrixTestMain.h"
#include "formats/Encodings.h"

#include <QHash>
#include <QRandomGenerator>

namespace {

// The unescaper written as plainly as the rules read, to check the fast one against.
QString modelUnescape(const QString& text)
{
    static const QHash<QString, QString> named = [] {
        QHash<QString, QString> map;
        const std::pair<const char*, char16_t> table[] = {
            {"amp", 0x26}, {"lt", 0x3C}, {"gt", 0x3E}, {"quot", 0x22}, {"apos", 0x27}, {"nbsp", 0xA0}, {"copy", 0xA9},
            {"reg", 0xAE}, {"trade", 0x2122}, {"hellip", 0x2026}, {"mdash", 0x2014}, {"ndash", 0x2013},
            {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"laquo", 0xAB},
            {"raquo", 0xBB}, {"euro", 0x20AC}, {"pound", 0xA3}, {"yen", 0xA5}, {"cent", 0xA2}, {"sect", 0xA7},
            {"para", 0xB6}, {"middot", 0xB7}, {"bull", 0x2022}, {"deg", 0xB0}, {"plusmn", 0xB1}, {"times", 0xD7},
            {"divide", 0xF7}, {"frac12", 0xBD}, {"frac14", 0xBC}, {"frac34", 0xBE}, {"micro", 0xB5},
            {"larr", 0x2190}, {"rarr", 0x2192}, {"uarr", 0x2191}, {"darr", 0x2193}, {"harr", 0x2194}};
        for (const auto& [name, scalar] : table)
            map.insert(QString::fromLatin1(name), QString(QChar(scalar)));
        return map;
    }();
    QString out;
    qsizetype cursor = 0, search = 0;
    for (;;) {
        const qsizetype amp = text.indexOf(u'&', search);
        if (amp < 0)
            break;
        const QString rest = text.mid(amp + 1);
        std::optional<std::pair<QString, qsizetype>> reference;
        if (rest.startsWith(u'#')) {
            qsizetype i = 1;
            int radix = 10;
            if (rest.mid(1, 1).toLower() == u"x") {
                radix = 16;
                ++i;
            }
            const qsizetype start = i;
            const QString digits = radix == 16 ? QStringLiteral("0123456789abcdefABCDEF") : QStringLiteral("0123456789");
            while (i < rest.size() && digits.contains(rest[i]))
                ++i;
            if (i < rest.size() && i > start && rest[i] == u';') {
                bool ok = false;
                const quint64 wide = rest.mid(start, i - start).toULongLong(&ok, radix);
                const quint32 value = !ok || wide > 0xFFFFFFFFull ? 0xFFFFFFFFu : quint32(wide);
                reference = std::pair(Encodings::referenceText(value), i + 1);
            }
        } else {
            const qsizetype semicolon = rest.left(7).indexOf(u';');
            if (semicolon > 0 && named.contains(rest.left(semicolon)))
                reference = std::pair(named.value(rest.left(semicolon)), semicolon + 1);
        }
        if (reference) {
            out += text.mid(cursor, amp - cursor) + reference->first;
            cursor = search = amp + 1 + reference->second;
        } else {
            search = amp + 1;
        }
    }
    return out + text.mid(cursor);
}

} // namespace

class HtmlEntitiesTest : public QObject {
    Q_OBJECT
private slots:
    void escape_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("markup") << "<a href='x'>Tom & Jerry</a>" << "&lt;a href=&#39;x&#39;&gt;Tom &amp; Jerry&lt;/a&gt;";
        QTest::newRow("double quote") << "\"" << "&quot;";
        QTest::newRow("non-ascii unchanged") << QString::fromUtf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80")
                                             << QString::fromUtf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
        QTest::newRow("control characters unchanged") << QString::fromUtf8("\x01\t\n") << QString::fromUtf8("\x01\t\n");
        QTest::newRow("empty") << "" << "";
    }
    void escape()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(Encodings::htmlEscape(input), expected);
    }

    void namedTable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<uint>("scalar");
        const std::pair<const char*, uint> table[] = {
            {"amp", 0x26}, {"lt", 0x3C}, {"gt", 0x3E}, {"quot", 0x22}, {"apos", 0x27}, {"nbsp", 0xA0},
            {"copy", 0xA9}, {"reg", 0xAE}, {"trade", 0x2122}, {"hellip", 0x2026}, {"mdash", 0x2014},
            {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C}, {"rdquo", 0x201D},
            {"laquo", 0xAB}, {"raquo", 0xBB}, {"euro", 0x20AC}, {"pound", 0xA3}, {"yen", 0xA5},
            {"cent", 0xA2}, {"sect", 0xA7}, {"para", 0xB6}, {"middot", 0xB7}, {"bull", 0x2022},
            {"deg", 0xB0}, {"plusmn", 0xB1}, {"times", 0xD7}, {"divide", 0xF7}, {"frac12", 0xBD},
            {"frac14", 0xBC}, {"frac34", 0xBE}, {"micro", 0xB5}, {"larr", 0x2190}, {"rarr", 0x2192},
            {"uarr", 0x2191}, {"darr", 0x2193}, {"harr", 0x2194},
        };
        QCOMPARE(int(std::size(table)), 39);
        for (const auto& [name, scalar] : table)
            QTest::newRow(name) << QString::fromLatin1(name) << scalar;
    }
    void namedTable()
    {
        QFETCH(QString, name);
        QFETCH(uint, scalar);
        const QString expected = QStringLiteral("x") + QChar(char16_t(scalar)) + QStringLiteral("y");
        QCOMPARE(Encodings::htmlUnescape(QStringLiteral("x&") + name + QStringLiteral(";y")), expected);
        // Names are case-sensitive.
        const QString upper = QStringLiteral("&") + name.toUpper() + u';';
        if (upper != QStringLiteral("&") + name + u';')
            QCOMPARE(Encodings::htmlUnescape(upper), upper);
    }

    void unescape_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const QString fffd = QString(QChar(0xFFFD));
        QTest::newRow("worked example") << "&lt;b&gt; &amp;amp; &hellip;" << QString::fromUtf8("<b> &amp; \xE2\x80\xA6");
        QTest::newRow("copy") << "&copy;" << QString(QChar(0xA9));
        QTest::newRow("AMP stays") << "&AMP;" << "&AMP;";
        QTest::newRow("Amp stays") << "&Amp;" << "&Amp;";
        QTest::newRow("unknown stays") << "&unknown;" << "&unknown;";
        QTest::newRow("no semicolon stays") << "&amp" << "&amp";
        QTest::newRow("ampere stays") << "&ampere;" << "&ampere;";
        QTest::newRow("six-letter name") << "&frac34;" << QString(QChar(0xBE));
        QTest::newRow("seven letters never looked up") << "&abcdefg;" << "&abcdefg;";
        QTest::newRow("empty name") << "&;" << "&;";
        QTest::newRow("decimal") << "&#65;" << "A";
        QTest::newRow("hex lower x") << "&#x41;" << "A";
        QTest::newRow("hex upper X") << "&#X41;" << "A";
        QTest::newRow("leading zeros") << "&#0065;" << "A";
        QTest::newRow("astral") << "&#x1F600;" << QString::fromUtf8("\xF0\x9F\x98\x80");
        QTest::newRow("unterminated at end") << "&#65" << "&#65";
        QTest::newRow("followed by blank") << "&#65 " << "&#65 ";
        QTest::newRow("letter after digits") << "&#65a;" << "&#65a;";
        QTest::newRow("no digits") << "&#;" << "&#;";
        QTest::newRow("no hex digits") << "&#x;" << "&#x;";
        QTest::newRow("bad hex digit") << "&#xG;" << "&#xG;";
        QTest::newRow("hash at end") << "&#" << "&#";
        QTest::newRow("x at end") << "&#x" << "&#x";
        QTest::newRow("zero") << "&#0;" << fffd;
        QTest::newRow("surrogate") << "&#xD800;" << fffd;
        QTest::newRow("last surrogate") << "&#57343;" << fffd;
        QTest::newRow("beyond U+10FFFF") << "&#x110000;" << fffd;
        QTest::newRow("last scalar") << "&#x10FFFF;" << QString::fromUcs4(U"\U0010FFFF", 1);
        QTest::newRow("saturated decimal") << "&#99999999999;" << fffd;
        QTest::newRow("forty digits") << "&#1234567890123456789012345678901234567890;" << fffd;
        QTest::newRow("forty hex digits") << "&#x0000000000000000000000000000000000000041;" << "A";
        QTest::newRow("4294967295") << "&#4294967295;" << fffd;
        QTest::newRow("windows-1252 0x80") << "&#128;" << QString(QChar(0x20AC));
        QTest::newRow("windows-1252 0x92") << "&#x92;" << QString(QChar(0x2019));
        QTest::newRow("windows-1252 0x85") << "&#x85;" << QString(QChar(0x2026));
        QTest::newRow("windows-1252 0x99") << "&#x99;" << QString(QChar(0x2122));
        QTest::newRow("windows-1252 0x9F") << "&#x9F;" << QString(QChar(0x178));
        QTest::newRow("unmapped 0x81") << "&#x81;" << QString(QChar(0x81));
        QTest::newRow("unmapped 0x8D") << "&#141;" << QString(QChar(0x8D));
        QTest::newRow("0xA0 is itself") << "&#160;" << QString(QChar(0xA0));
        QTest::newRow("0x7F is itself") << "&#127;" << QString(QChar(0x7F));
        QTest::newRow("bare ampersand") << "a & b" << "a & b";
        QTest::newRow("double ampersand") << "&&amp;" << "&&";
        QTest::newRow("not rescanned") << "&amp;lt;" << "&lt;";
        QTest::newRow("adjacent references") << "&lt;&gt;&#33;" << "<>!";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("trailing ampersand") << "x&" << "x&";
    }
    void unescape()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(Encodings::htmlUnescape(input), expected);
    }

    void againstPlainModel()
    {
        QRandomGenerator random(6102);
        const char* pieces[] = {"&", "#", "x", "X", ";", "amp", "lt", "frac34", "abcdefg", "1", "0", "65", "9f",
                                "128", "D800", "1F600", "99999999999", "a", " ", "\xC3\xA9", "&&", "&#", "&#x"};
        for (int round = 0; round < 3000; ++round) {
            QString text;
            for (int i = random.bounded(12); i > 0; --i)
                text += QString::fromUtf8(pieces[random.bounded(int(std::size(pieces)))]);
            QCOMPARE(Encodings::htmlUnescape(text), modelUnescape(text));
        }
    }

    void windows1252Range()
    {
        // Every value from 0x80 to 0x9F maps to one character; the five unmapped ones to themselves.
        const char16_t expected[32] = {0x20AC, 0x81, 0x201A, 0x192, 0x201E, 0x2026, 0x2020, 0x2021, 0x2C6, 0x2030, 0x160,
                                       0x2039, 0x152, 0x8D, 0x17D, 0x8F, 0x90, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                       0x2013, 0x2014, 0x2DC, 0x2122, 0x161, 0x203A, 0x153, 0x9D, 0x17E, 0x178};
        for (int i = 0; i < 32; ++i)
            QCOMPARE(Encodings::referenceText(quint32(0x80 + i)), QString(QChar(expected[i])));
    }
};

QUORRIX_TEST_MAIN(HtmlEntitiesTest)
#include "HtmlEntitiesTest.moc"
