#include "formats/Utf8Encoder.h"

#include "support/QuorrixTestMain.h"

#include <QRandomGenerator>
#include <QtTest>

// Exact bytes (from the wide loops, or the narrow ones when the test runs with the narrow-loop
// switch set), through the length, the raw writer and the whole-buffer call.
class Utf8EncoderTest : public QObject {
    Q_OBJECT

    static QString units(std::initializer_list<char16_t> list) { return QString(reinterpret_cast<const QChar*>(list.begin()), qsizetype(list.size())); }

    // Well-formed text of code points of every width, in runs and alone.
    static QString randomText(quint32 seed, qsizetype size)
    {
        QRandomGenerator random(seed);
        QString text;
        text.reserve(size + 2);
        while (text.size() < size) {
            const quint32 kind = random.bounded(10);
            const int run = 1 + int(random.bounded(kind < 5 ? 80 : 12));
            for (int i = 0; i < run && text.size() < size; ++i) {
                if (kind < 5)
                    text += QChar(char16_t(0x20 + random.bounded(0x5F)));
                else if (kind < 7)
                    text += QChar(char16_t(0x80 + random.bounded(0x780)));
                else if (kind < 9)
                    text += QChar(char16_t(random.bounded(2) ? 0x800 + random.bounded(0xD000) : 0xE000 + random.bounded(0x2000)));
                else {
                    const char32_t c = 0x10000 + random.bounded(0x100000);
                    text += QString::fromUcs4(&c, 1);
                }
            }
        }
        return text;
    }

    static void check(const QString& text, const QByteArray& expected)
    {
        QCOMPARE(Utf8Encoder::encodedLength(text), expected.size());
        QByteArray raw(expected.size() + 8, '#');
        char* const end = Utf8Encoder::encode(text, raw.data());
        QCOMPARE(end - raw.data(), expected.size());
        QCOMPARE(raw.left(expected.size()), expected);
        QCOMPARE(raw.mid(expected.size()), QByteArray(8, '#'));
        QCOMPARE(Utf8Encoder::toUtf8(text), expected);
    }

    static void addRow(const char* name, const QString& text, const QByteArray& expected)
    {
        QTest::addRow("%s", name) << text << expected;
    }

private slots:
    void encodes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray replacement = "\xEF\xBF\xBD";
        addRow("empty", QString(), QByteArray());
        addRow("ASCII", QStringLiteral("plain {\"ascii\": 1}\n"), "plain {\"ascii\": 1}\n");
        addRow("NUL and DEL", units({0, u'a', 0x7F}), QByteArray("\0a\x7F", 3));
        addRow("two-byte", QStringLiteral("caf\u00E9 \u0080\u07FF"), "caf\xC3\xA9 \xC2\x80\xDF\xBF");
        addRow("three-byte", QStringLiteral("\u0800\u6771\uFFFF\uE000"), "\xE0\xA0\x80\xE6\x9D\xB1\xEF\xBF\xBF\xEE\x80\x80");
        addRow("four-byte", units({0xD83D, 0xDE00, u'x', 0xDBFF, 0xDFFF}), "\xF0\x9F\x98\x80x\xF4\x8F\xBF\xBF");
        addRow("lone high surrogate", units({u'a', 0xD800, u'b'}), "a" + replacement + "b");
        addRow("lone high surrogate at the end", units({u'a', 0xDBFF}), "a" + replacement);
        addRow("lone low surrogate", units({u'a', 0xDC00, u'b'}), "a" + replacement + "b");
        addRow("low before high", units({0xDC00, 0xD800}), replacement + replacement);
        addRow("two highs then a low", units({0xD83D, 0xD83D, 0xDE00}), replacement + "\xF0\x9F\x98\x80");

        // A character of every width at every place around the wide loops' blocks of 16 and 32.
        const struct {
            const char* name;
            QString text;
            QByteArray bytes;
        } specials[] = {{"two-byte", QStringLiteral("\u00E9"), "\xC3\xA9"},
                        {"three-byte", QStringLiteral("\u6771"), "\xE6\x9D\xB1"},
                        {"pair", units({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},
                        {"lone high", units({0xD800}), replacement},
                        {"lone low", units({0xDFFF}), replacement}};
        for (const qsizetype size : {15, 16, 17, 31, 32, 33, 47, 48, 63, 64, 65, 95, 96, 97}) {
            for (const auto& special : specials) {
                for (const qsizetype at : {qsizetype(0), size / 2, size - 1, size}) {
                    QString text(size, u'a');
                    QByteArray bytes(size, 'a');
                    text.insert(at, special.text);
                    bytes.insert(at, special.bytes);
                    const QByteArray name = QByteArray(special.name) + " at " + QByteArray::number(at) + " of "
                        + QByteArray::number(size) + " ASCII units";
                    addRow(name.constData(), text, bytes);
                }
            }
            const QByteArray name = QByteArray::number(size) + " ASCII units";
            addRow(name.constData(), QString(size, u'z'), QByteArray(size, 'z'));
        }

        for (const quint32 seed : {1u, 2u, 3u, 4u}) {
            const qsizetype size = seed < 4 ? 1000 * seed + seed : 100;
            const QString text = randomText(seed, size);
            addRow(QByteArray("random well-formed text " + QByteArray::number(seed)).constData(), text, text.toUtf8());
        }
        // Large enough to be cut into parts, with pairs wherever the cuts may fall.
        QString large = randomText(9, 6 << 20);
        addRow("random well-formed text of six million units", large, large.toUtf8());
        QString pairs;
        for (int i = 0; i < (5 << 20) / 2; ++i)
            pairs += units({0xD83D, 0xDE00});
        addRow("five million units of surrogate pairs", pairs, pairs.toUtf8());
        QString lone = pairs;
        lone[lone.size() / 2 + 1] = u'x';
        QByteArray loneBytes = lone.left(lone.size() / 2).toUtf8() + replacement + "x" + lone.mid(lone.size() / 2 + 2).toUtf8();
        addRow("a lone high surrogate amid five million units of pairs", lone, loneBytes);
    }

    void encodes()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, expected);
        check(text, expected);
    }
};

QUORRIX_TEST_MAIN(Utf8EncoderTest)
#include "Utf8EncoderTest.moc"
