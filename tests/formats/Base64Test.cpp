#include "support/QuorrixTestMain.h"
#include "formats/Encodings.h"
#include "formats/Utf8Encoder.h"

#include <QRandomGenerator>

class Base64Test : public QObject {
    Q_OBJECT
private slots:
    void tolerantDecode_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("expected");
        // RFC 4648, section 10.
        QTest::newRow("rfc empty") << "" << true << QByteArray();
        QTest::newRow("rfc f") << "Zg==" << true << QByteArray("f");
        QTest::newRow("rfc fo") << "Zm8=" << true << QByteArray("fo");
        QTest::newRow("rfc foo") << "Zm9v" << true << QByteArray("foo");
        QTest::newRow("rfc foob") << "Zm9vYg==" << true << QByteArray("foob");
        QTest::newRow("rfc fooba") << "Zm9vYmE=" << true << QByteArray("fooba");
        QTest::newRow("rfc foobar") << "Zm9vYmFy" << true << QByteArray("foobar");
        QTest::newRow("unpadded two") << "QQ" << true << QByteArray("A");
        QTest::newRow("half padded") << "QQ=" << true << QByteArray("A");
        QTest::newRow("fully padded") << "QQ==" << true << QByteArray("A");
        QTest::newRow("unpadded three") << "Zm8" << true << QByteArray("fo");
        QTest::newRow("url-safe alphabet") << "aGk_Pg" << true << QByteArray("hi?>");
        QTest::newRow("standard alphabet") << "aGk/Pg==" << true << QByteArray("hi?>");
        QTest::newRow("mixed alphabets") << "-_+/" << true << QByteArray::fromHex("fbffbf");
        QTest::newRow("line wrapped") << "Zm9v\r\nYmFy\n" << true << QByteArray("foobar");
        QTest::newRow("blanks inside padding") << "QQ = =" << true << QByteArray("A");
        QTest::newRow("unicode blanks") << QString::fromUtf8("Zm9v\xC2\xA0Ym\xE3\x80\x80" "Fy\xE2\x80\xA8") << true
                                        << QByteArray("foobar");
        QTest::newRow("blank with combining mark") << QString::fromUtf8("Zm9v \xCC\x81YmFy") << true
                                                   << QByteArray("foobar");
        QTest::newRow("all blank") << " \t\n " << true << QByteArray();
        QTest::newRow("one left over") << "QUJDR" << false << QByteArray();
        QTest::newRow("single character") << "Q" << false << QByteArray();
        QTest::newRow("outside alphabet") << "QUJ!" << false << QByteArray();
        QTest::newRow("non-ASCII letter") << QString::fromUtf8("QU\xC3\xA9=") << false << QByteArray();
        QTest::newRow("lone combining mark") << QString::fromUtf8("QQ\xCC\x81==") << false << QByteArray();
        QTest::newRow("padding in the middle") << "QQ==QQ==" << false << QByteArray();
        QTest::newRow("three pads") << "Q===" << false << QByteArray();
        QTest::newRow("pad after full quantum") << "QUJD=" << false << QByteArray();
        QTest::newRow("two pads after three") << "QUJDQUJ==" << false << QByteArray();
        QTest::newRow("only padding") << "====" << false << QByteArray();
        QTest::newRow("control character") << QString(QChar(0x1C)) + "QQ" << false << QByteArray();
    }
    void tolerantDecode()
    {
        QFETCH(QString, input);
        QFETCH(bool, ok);
        QFETCH(QByteArray, expected);
        const auto decoded = Encodings::base64URLDecode(input);
        QCOMPARE(decoded.has_value(), ok);
        if (ok)
            QCOMPARE(*decoded, expected);
        // A slice of a longer text behaves the same.
        const QString framed = QStringLiteral("[") + input + QStringLiteral("]");
        const auto sliced = Encodings::base64URLDecode(QStringView(framed).mid(1, input.size()));
        QCOMPARE(sliced, decoded);
    }

    void encodeOfText()
    {
        // The piecewise encoder of text gives what encoding its UTF-8 bytes gives, at every length,
        // across piece boundaries, with surrogate pairs and lone surrogates.
        QRandomGenerator random(1);
        const char16_t units[] = {u'a', u'\u00e9', u'\u20ac', 0xD83D, 0xDE00, u'\n'};
        for (int size : {0, 1, 2, 3, 4, 5, 16383, 16384, 16385, 40000}) {
            for (int variant = 0; variant < 4; ++variant) {
                QString text(size, Qt::Uninitialized);
                for (auto& c : text)
                    c = QChar(units[random.bounded(variant == 0 ? 1 : variant == 1 ? 3 : 6)]);
                for (bool urlSafe : {false, true}) {
                    const QString expected = Encodings::base64Encode(Utf8Encoder::toUtf8(text), urlSafe);
                    QCOMPARE(Encodings::base64EncodeText(text, urlSafe), expected);
                }
                // Lone surrogates become U+FFFD, as the byte count has it.
                QCOMPARE(Utf8Encoder::toUtf8(text).size(), qsizetype(Utf8Encoder::encodedLength(text)));
            }
        }
        QCOMPARE(Utf8Encoder::toUtf8(QString(QChar(0xD800))), QByteArray("\xEF\xBF\xBD"));
    }

    void randomRoundTrip()
    {
        QRandomGenerator random(4648);
        for (int round = 0; round < 500; ++round) {
            QByteArray bytes(random.bounded(0, 200), Qt::Uninitialized);
            for (auto& b : bytes)
                b = static_cast<char>(random.bounded(256));
            QString text = QString::fromLatin1(bytes.toBase64());
            if (round % 2)
                text = QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
            if (round % 3 == 0) {
                for (qsizetype i = text.size(); i > 0; i -= random.bounded(1, 9))
                    text.insert(i, QLatin1Char(round % 5 ? '\n' : ' '));
            }
            const auto decoded = Encodings::base64URLDecode(text);
            QVERIFY2(decoded.has_value(), qPrintable(text));
            QCOMPARE(*decoded, bytes);
        }
    }
};

QUORRIX_TEST_MAIN(Base64Test)
#include "Base64Test.moc"
