#include "formats/JSONTextMetrics.h"
#include "formats/Utf8Encoder.h"

#include <QRandomGenerator>
#include <QtTest/QTest>


class JSONTextMetricsTest : public QObject {
    Q_OBJECT
private slots:
    void metrics_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("lines");
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("empty") << "" << qint64(0) << qint64(0);
        QTest::newRow("one letter") << "a" << qint64(1) << qint64(1);
        QTest::newRow("letter and line feed") << "a\n" << qint64(2) << qint64(2);
        QTest::newRow("lone line feed") << "\n" << qint64(2) << qint64(1);
        QTest::newRow("CR LF counts once") << "a\r\nb" << qint64(2) << qint64(4);
        QTest::newRow("CR alone ends a line") << "a\rb" << qint64(2) << qint64(3);
        QTest::newRow("accented letter") << QString(QChar(0xE9)) << qint64(1) << qint64(2);
        QTest::newRow("three-byte letter") << QString(QChar(0x20AC)) << qint64(1) << qint64(3);
        QTest::newRow("astral pair") << QString::fromUtf8("\xF0\x9F\x98\x80") << qint64(1) << qint64(4);
        QTest::newRow("lone surrogate as U+FFFD") << QString(QChar(0xDC00)) << qint64(1) << qint64(3);
    }
    void metrics()
    {
        QFETCH(QString, text);
        QFETCH(qint64, lines);
        QFETCH(qint64, bytes);
        const JSONTextMetrics m(text);
        QCOMPARE(m.lines, lines);
        QCOMPARE(m.bytes, bytes);
        QCOMPARE(m, JSONTextMetrics(lines, bytes));
    }

    // A text of many megabytes is counted in parts: a surrogate pair, a CR LF and a lone CR
    // across the cuts count as in one piece.
    void largeTextCountsAcrossItsParts()
    {
        constexpr qsizetype cut = qsizetype(1) << 23;
        QString text(3 * cut + 5, u'x');
        for (qsizetype i = 100; i < text.size(); i += 997)
            text[i] = u'\n';
        text[cut - 1] = QChar(0xD83D);
        text[cut] = QChar(0xDE00);
        text[2 * cut - 1] = u'\r';
        text[2 * cut] = u'\n';
        text[3 * cut - 1] = u'\r';
        text[3 * cut] = QChar(0xE9);
        qint64 breaks = 0;
        for (qsizetype i = 0; i < text.size(); ++i)
            if (text[i] == u'\n' || (text[i] == u'\r' && !(i + 1 < text.size() && text[i + 1] == u'\n')))
                ++breaks;
        const JSONTextMetrics m(text);
        QCOMPARE(m.bytes, qint64(text.toUtf8().size()));
        QCOMPARE(m.lines, breaks + 1);
    }

    // Long texts go through the several-units-at-a-time path; compare with a plain count.
    void randomTextsCountLikeAPlainEncoder()
    {
        QRandomGenerator rng(17);
        const char16_t samples[] = {u'a', u'\n', 0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0xD83D, 0xDE00, 0xDC00};
        for (int round = 0; round < 300; ++round) {
            QString text;
            const int length = int(rng.bounded(80));
            for (int i = 0; i < length; ++i)
                text += QChar(rng.bounded(4) ? u'x' : samples[rng.bounded(int(std::size(samples)))]);
            qint64 expected = 0;
            for (qsizetype i = 0; i < text.size(); ++i) {
                const char16_t c = text[i].unicode();
                if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                    expected += 4;
                    ++i;
                } else {
                    expected += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
                }
            }
            QCOMPARE(Utf8Encoder::encodedLength(text), expected);
        }
        // Long enough for the step counters to be summed on the way.
        QString longText;
        for (int i = 0; i < 300000; ++i)
            longText += QChar(samples[rng.bounded(7)]);
        QCOMPARE(Utf8Encoder::encodedLength(longText), qint64(longText.toUtf8().size()));
    }
};

QTEST_GUILESS_MAIN(JSONTextMetricsTest)
#include "JSONTextMetricsTest.moc"
