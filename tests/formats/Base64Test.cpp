#include "support/QuorrixTestMain.h"
#include "formats/Encodings.h"
#include "formats/Utf8Encoder.h"

#include <QRandomGenerator>

// A copy that holds its storage alone.
QByteArray owned(const QByteArray& bytes)
{
    return QByteArray(bytes.constData(), bytes.size());
}

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
        // The same text as UTF-8, as the Codec tool holds it, reads the same.
        const QByteArray utf8 = Utf8Encoder::toUtf8(input);
        QCOMPARE(Encodings::base64URLDecode(QByteArrayView(utf8)), decoded);
        const QByteArray framedUtf8 = "[" + utf8 + "]";
        QCOMPARE(Encodings::base64URLDecode(QByteArrayView(framedUtf8).sliced(1, utf8.size())), decoded);
    }

    void decodeOfIllFormedUtf8_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("stray continuation byte") << QByteArray("Zm9v\x80YmFy");
        QTest::newRow("cut-short sequence at the end") << QByteArray("Zm9vYmFy\xE3\x80");
        QTest::newRow("overlong blank") << QByteArray("Zm9v\xC0\xA0YmFy");
        QTest::newRow("encoded surrogate") << QByteArray("Zm9v\xED\xA0\x80YmFy");
        QTest::newRow("beyond U+10FFFF") << QByteArray("Zm9v\xF4\x90\x80\x80YmFy");
        QTest::newRow("byte FF") << QByteArray("\xFFZm9v");
    }
    void decodeOfIllFormedUtf8()
    {
        // Never taken for blanks or letters: such bytes are outside the alphabet.
        QFETCH(QByteArray, input);
        QVERIFY(!Encodings::base64URLDecode(QByteArrayView(input)).has_value());
    }

    void encode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("urlSafe");
        QTest::addColumn<QByteArray>("expected");
        // RFC 4648, section 10, and its URL-safe alphabet of section 5 (no padding).
        QTest::newRow("rfc empty") << QByteArray() << false << QByteArray();
        QTest::newRow("rfc f") << QByteArray("f") << false << QByteArray("Zg==");
        QTest::newRow("rfc fo") << QByteArray("fo") << false << QByteArray("Zm8=");
        QTest::newRow("rfc foo") << QByteArray("foo") << false << QByteArray("Zm9v");
        QTest::newRow("rfc foob") << QByteArray("foob") << false << QByteArray("Zm9vYg==");
        QTest::newRow("rfc fooba") << QByteArray("fooba") << false << QByteArray("Zm9vYmE=");
        QTest::newRow("rfc foobar") << QByteArray("foobar") << false << QByteArray("Zm9vYmFy");
        QTest::newRow("url-safe f") << QByteArray("f") << true << QByteArray("Zg");
        QTest::newRow("url-safe fo") << QByteArray("fo") << true << QByteArray("Zm8");
        QTest::newRow("url-safe foobar") << QByteArray("foobar") << true << QByteArray("Zm9vYmFy");
        QTest::newRow("signs, standard") << QByteArray::fromHex("fbffbf") << false << QByteArray("+/+/");
        QTest::newRow("signs, url-safe") << QByteArray::fromHex("fbffbf") << true << QByteArray("-_-_");
        QTest::newRow("every sextet") << QByteArray::fromHex("00108310518720928b30d38f41149351559761969b71d79f8218a39259a7a29aabb2dbafc31cb3d35db7e39ebbf3dfbf")
                                      << false << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    }
    void encode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, urlSafe);
        QFETCH(QByteArray, expected);
        QCOMPARE(Encodings::base64Encode(bytes, urlSafe), expected);
        // Handed over as the only holder of its storage: encoded in it.
        QCOMPARE(Encodings::base64Encode(owned(bytes), urlSafe), expected);
    }

    void encodeAtEveryLength_data()
    {
        QTest::addColumn<bool>("handedOver");
        QTest::newRow("into a buffer of its own") << false;
        QTest::newRow("over the bytes, from the end back") << true;
    }
    void encodeAtEveryLength()
    {
        // The wide loop takes blocks of eight groups and leaves the rest to the plain one: every
        // length around those edges, and random bytes, give what Qt's encoder gives.
        QFETCH(bool, handedOver);
        QRandomGenerator random(2);
        for (int size = 0; size < 300; ++size) {
            QByteArray bytes(size, Qt::Uninitialized);
            for (auto& b : bytes)
                b = static_cast<char>(random.bounded(256));
            const QByteArray standard = bytes.toBase64();
            const QByteArray url = bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
            QCOMPARE(Encodings::base64Encode(handedOver ? owned(bytes) : bytes, false), standard);
            QCOMPARE(Encodings::base64Encode(handedOver ? owned(bytes) : bytes, true), url);
            // The caller's bytes are never written.
            QCOMPARE(bytes.toBase64(), standard);
        }
    }

    void utf8OfLoneSurrogate()
    {
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
