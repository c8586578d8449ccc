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
