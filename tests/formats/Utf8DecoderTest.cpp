#include "support/QuorrixTestMain.h"
#include "formats/Utf8Decoder.h"

#include <QRandomGenerator>

using IllFormed = Utf8Decoder::IllFormed;
using Mark = Utf8Decoder::ByteOrderMark;

class Utf8DecoderTest : public QObject {
    Q_OBJECT
private slots:
    void decodes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("replace");
        QTest::addColumn<bool>("dropMark");
        QTest::addColumn<bool>("decoded");
        QTest::addColumn<QString>("expected");

        const QString bom(QChar(0xFEFF));
        QTest::newRow("ASCII") << QByteArray("plain text") << false << false << true << QStringLiteral("plain text");
        QTest::newRow("empty") << QByteArray() << false << false << true << QString();
        QTest::newRow("two, three and four bytes") << QByteArray("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80") << false << false
                                                   << true << QStringLiteral(u"é€😀");
        QTest::newRow("mark kept") << QByteArray("\xEF\xBB\xBFx") << false << false << true << bom + QStringLiteral("x");
        QTest::newRow("mark dropped") << QByteArray("\xEF\xBB\xBFx") << false << true << true << QStringLiteral("x");
        QTest::newRow("only one mark dropped") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF") << false << true << true << bom;
        QTest::newRow("mark in the middle stays") << QByteArray("a\xEF\xBB\xBF") << false << true << true << QStringLiteral("a") + bom;
        QTest::newRow("overlong fails") << QByteArray("\xC0\xAF") << false << false << false << QString();
        QTest::newRow("encoded surrogate fails") << QByteArray("\xED\xA0\x80") << false << false << false << QString();
        QTest::newRow("beyond U+10FFFF fails") << QByteArray("\xF4\x90\x80\x80") << false << false << false << QString();
        QTest::newRow("cut short fails") << QByteArray("ab\xE2\x82") << false << false << false << QString();
        QTest::newRow("cut short replaced once") << QByteArray("ab\xE2\x82") << true << false << true
                                                 << QStringLiteral(u"ab\uFFFD");
        QTest::newRow("each bad lead byte replaced") << QByteArray("\xC0\xAFx") << true << false << true
                                                     << QStringLiteral(u"\uFFFD\uFFFDx");
        QTest::newRow("encoded surrogate replaced byte by byte") << QByteArray("\xED\xA0\x80") << true << false << true
                                                                 << QStringLiteral(u"\uFFFD\uFFFD\uFFFD");
        QTest::newRow("four-byte form cut short by ASCII replaced once") << QByteArray("\xF0\x9F\x98x\xC3\xA9") << true
                                                                         << false << true << QStringLiteral(u"\uFFFDx\u00E9");
        QTest::newRow("replaced text drops a mark when asked") << QByteArray("\xEF\xBB\xBF\xFF") << true << true << true
                                                               << QStringLiteral(u"\uFFFD");
    }
    void decodes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, replace);
        QFETCH(bool, dropMark);
        QFETCH(bool, decoded);
        QFETCH(QString, expected);
        const Utf8Decoder::Options options{replace ? IllFormed::replace : IllFormed::fail,
                                           dropMark ? Mark::drop : Mark::keep, nullptr};
        const std::optional<QString> text = Utf8Decoder::decode(bytes, options);
        QCOMPARE(text.has_value(), decoded);
        if (text)
            QCOMPARE(*text, expected);
    }

    // The check that decodes nothing agrees with decoding, wherever a sequence falls against the
    // 32-byte blocks it is read in and against the end.
    void wellFormedCheck_data()
    {
        QTest::addColumn<QByteArray>("sequence");
        QTest::newRow("two bytes") << QByteArray("\xC3\xA9");
        QTest::newRow("three bytes") << QByteArray("\xE2\x82\xAC");
        QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x98\x80");
        QTest::newRow("highest scalar") << QByteArray("\xF4\x8F\xBF\xBF");
        QTest::newRow("lowest three-byte form") << QByteArray("\xE0\xA0\x80");
        QTest::newRow("last before the surrogates") << QByteArray("\xED\x9F\xBF");
        QTest::newRow("first after the surrogates") << QByteArray("\xEE\x80\x80");
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF");
        QTest::newRow("stray continuation") << QByteArray("\x80");
        QTest::newRow("two stray continuations") << QByteArray("\xBF\x80");
        QTest::newRow("lead alone") << QByteArray("\xC3");
        QTest::newRow("three-byte form cut short") << QByteArray("\xE2\x82");
        QTest::newRow("four-byte form cut short") << QByteArray("\xF0\x9F\x98");
        QTest::newRow("one continuation too many") << QByteArray("\xC3\xA9\xA9");
        QTest::newRow("overlong two bytes") << QByteArray("\xC1\xBF");
        QTest::newRow("overlong three bytes") << QByteArray("\xE0\x9F\xBF");
        QTest::newRow("overlong four bytes") << QByteArray("\xF0\x8F\xBF\xBF");
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80");
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80");
        QTest::newRow("lead F5") << QByteArray("\xF5\x80\x80\x80");
        QTest::newRow("byte FE") << QByteArray("\xFE");
        QTest::newRow("byte FF") << QByteArray("\xFF");
        QTest::newRow("five-byte form") << QByteArray("\xF8\x88\x80\x80\x80");
    }
    void wellFormedCheck()
    {
        QFETCH(QByteArray, sequence);
        const bool wellFormed = Utf8Decoder::decode(sequence).has_value();
        for (int before = 0; before < 70; ++before) {
            for (int after : {0, 1, 2, 3, 31, 32, 33}) {
                const QByteArray bytes = QByteArray(before, 'a') + sequence + QByteArray(after, 'b');
                QVERIFY2(Utf8Decoder::isWellFormed(bytes) == wellFormed, qPrintable(QStringLiteral("%1 before, %2 after").arg(before).arg(after)));
                // After a multi-byte character instead of ASCII.
                const QByteArray mixed = QByteArray("\xE2\x82\xAC") + bytes;
                QVERIFY(Utf8Decoder::isWellFormed(mixed) == wellFormed);
            }
        }
    }
    void wellFormedCheckOfRandomBytes()
    {
        QRandomGenerator random(3629);
        const char palette[] = {'a', ' ', char(0x80), char(0x9F), char(0xA0), char(0xBF), char(0xC2), char(0xC0),
                                char(0xE0), char(0xE2), char(0xED), char(0xEF), char(0xF0), char(0xF4), char(0xF5), char(0xFF)};
        int wellFormed = 0;
        for (int round = 0; round < 20000; ++round) {
            QByteArray bytes(random.bounded(0, 100), 'a');
            const int spread = 1 + random.bounded(int(std::size(palette)));
            for (auto& b : bytes)
                b = random.bounded(4) ? 'a' : palette[random.bounded(spread)];
            const bool expected = Utf8Decoder::decode(bytes).has_value();
            wellFormed += expected;
            QVERIFY2(Utf8Decoder::isWellFormed(bytes) == expected, bytes.toHex().constData());
        }
        QVERIFY(wellFormed > 1000);
        // Nothing at all is well-formed, a null view too.
        QVERIFY(Utf8Decoder::isWellFormed(QByteArrayView()));
        QVERIFY(Utf8Decoder::isWellFormed(QByteArray()));
    }

    // Large inputs are decoded in parts side by side; the result is the sequential one.
    void largeInputsDecodeAsShortOnes_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::newRow("well-formed") << false;
        QTest::newRow("one bad byte near the end") << true;
    }
    void largeInputsDecodeAsShortOnes()
    {
        QFETCH(bool, damaged);
        const QByteArray piece("ascii \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 ");
        QByteArray bytes;
        while (bytes.size() < (qsizetype(3) << 20))
            bytes += piece;
        QString expected;
        for (qsizetype i = 0; i < bytes.size(); i += piece.size())
            expected += QStringLiteral(u"ascii é€😀 ");
        if (damaged) {
            bytes[bytes.size() - 1] = char(0xFF);
            expected[expected.size() - 1] = QChar(0xFFFD);
        }
        QCOMPARE(Utf8Decoder::decode(bytes).has_value(), !damaged);
        QCOMPARE(Utf8Decoder::decodeReplacing(bytes, Mark::keep), expected);
    }

    void cancelledGivesNothing()
    {
        const std::atomic_bool cancelled{true};
        QVERIFY(!Utf8Decoder::decode(QByteArray(1 << 20, 'q'), {IllFormed::replace, Mark::keep, &cancelled}).has_value());
        QVERIFY(!Utf8Decoder::decode(QByteArray("short"), {IllFormed::fail, Mark::keep, &cancelled}).has_value());
    }
};

QUORRIX_TEST_MAIN(Utf8DecoderTest)
#include "Utf8DecoderTest.moc"
