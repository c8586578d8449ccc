#include "support/Deflated.h"
#include "support/QuorrixTestMain.h"
#include "tools/codec/Codec.h"
#include "tools/codec/Inflate.h"

#include <QRandomGenerator>

#include <zlib.h>

Q_DECLARE_METATYPE(std::optional<Inflate::Format>)

namespace {

void appendLE32(QByteArray& out, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

void appendBE32(QByteArray& out, quint32 v)
{
    for (int i = 3; i >= 0; --i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

QByteArray gzipHeader(quint8 flags = 0)
{
    return QByteArray::fromHex("1f8b08") + char(flags) + QByteArray::fromHex("00000000") + QByteArray::fromHex("0003");
}

QByteArray gzipOf(const QByteArray& data, const QByteArray& header = gzipHeader(), int level = 6)
{
    QByteArray out = header + deflated(data, -15, level);
    appendLE32(out, Inflate::crc32(data));
    appendLE32(out, quint32(data.size()));
    return out;
}

QByteArray gzipOfZeros(qint64 count)
{
    QByteArray out = gzipHeader() + deflatedZeros(count, -15);
    // The CRC of the zeros, computed piecewise.
    uLong crc = crc32_z(0, nullptr, 0);
    const QByteArray chunk(1 << 20, '\0');
    for (qint64 left = count; left > 0; left -= chunk.size())
        crc = crc32_z(crc, reinterpret_cast<const Bytef*>(chunk.constData()), size_t(std::min<qint64>(left, chunk.size())));
    appendLE32(out, quint32(crc));
    appendLE32(out, quint32(count));
    return out;
}

QByteArray zlibOf(const QByteArray& data, const QByteArray& header = QByteArray::fromHex("789c"))
{
    QByteArray out = header + deflated(data, -15);
    appendBE32(out, Inflate::adler32(data));
    return out;
}

QString describe(const Inflate::Result& r)
{
    if (r.ok())
        return QStringLiteral("ok:") + QString::fromLatin1(r.bytes.left(64).toHex());
    return *r.failure == Inflate::Failure::damaged ? QStringLiteral("damaged") : QStringLiteral("tooLarge");
}

const QByteArray kJSON = R"({"tool":"Encode / Decode","steps":["base64","gzip","json"]})";

} // namespace

class InflateTest : public QObject {
    Q_OBJECT
private slots:
    void detectFormat_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<std::optional<Inflate::Format>>("expected");
        using F = std::optional<Inflate::Format>;
        QTest::newRow("gzip magic") << QByteArray::fromHex("1f8b") << F(Inflate::Format::gzip);
        QTest::newRow("1f without 8b") << QByteArray::fromHex("1f8c") << F();
        QTest::newRow("zlib default") << QByteArray::fromHex("789c") << F(Inflate::Format::zlib);
        QTest::newRow("zlib fastest") << QByteArray::fromHex("7801") << F(Inflate::Format::zlib);
        QTest::newRow("zlib best") << QByteArray::fromHex("78da") << F(Inflate::Format::zlib);
        QTest::newRow("zlib small window") << QByteArray::fromHex("5885") << F(Inflate::Format::zlib);
        QTest::newRow("not a multiple of 31") << QByteArray::fromHex("789d") << F();
        QTest::newRow("method 9") << QByteArray::fromHex("799c") << F();
        QTest::newRow("window exponent 15") << QByteArray::fromHex("f89c") << F();
        QTest::newRow("preset dictionary") << QByteArray::fromHex("78bb") << F();
        QTest::newRow("single byte") << QByteArray::fromHex("78") << F();
        QTest::newRow("empty") << QByteArray() << F();
    }
    void detectFormat()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(std::optional<Inflate::Format>, expected);
        QCOMPARE(Inflate::detectFormat(bytes), expected);
    }

    void checksums()
    {
        QCOMPARE(Inflate::crc32("abc"), 0x352441C2u);
        QCOMPARE(Inflate::adler32("abc"), 0x024D0127u);
        QCOMPARE(Inflate::crc32(QByteArray()), 0u);
        QCOMPARE(Inflate::adler32(QByteArray()), 1u);
        QCOMPARE(Inflate::crc32("123456789"), 0xCBF43926u);
    }

    void gzip_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("expected");
        const QString json = QStringLiteral("ok:") + QString::fromLatin1(kJSON.left(64).toHex());
        const QByteArray plain = gzipOf(kJSON);
        QTest::newRow("plain member") << plain << json;
        QTest::newRow("empty stream (20 bytes)") << QByteArray::fromHex("1f8b0800000000000003030000000000000000000000") .left(20)
                                                  << QStringLiteral("ok:");
        const QByteArray named = gzipOf(kJSON, gzipHeader(0x08) + "file.json" + '\0');
        QTest::newRow("file name") << named << json;
        QTest::newRow("cut inside the name") << (gzipHeader(0x08) + "file.json").leftJustified(18, 'x', false)
                                             << QStringLiteral("damaged");
        QByteArray allFlags = gzipHeader(0x1E) + QByteArray::fromHex("0400") + "abcd" + "name" + '\0' + "comment" + '\0'
            + QByteArray::fromHex("beef");
        QTest::newRow("extra, name, comment and header CRC") << gzipOf(kJSON, allFlags) << json;
        QTest::newRow("text flag and reserved bits ignored") << gzipOf(kJSON, gzipHeader(0xE1)) << json;
        QTest::newRow("extra field past the end") << gzipOf(kJSON, gzipHeader(0x04) + QByteArray::fromHex("ffff"))
                                                  << QStringLiteral("damaged");
        QTest::newRow("name flag with nothing after the extra")
            << (gzipHeader(0x0C) + QByteArray::fromHex("0600") + "abcdef" + QByteArray(8, '\0')) << QStringLiteral("damaged");
        QTest::newRow("unterminated comment") << (gzipHeader(0x10) + QByteArray(20, 'c')) << QStringLiteral("damaged");
        QTest::newRow("header runs into the trailer") << (gzipHeader(0x02) + QByteArray(7, '\0')) << QStringLiteral("damaged");
        QByteArray badCRC = plain;
        badCRC[badCRC.size() - 8] = char(badCRC[badCRC.size() - 8] ^ 1);
        QTest::newRow("wrong CRC") << badCRC << QStringLiteral("damaged");
        QByteArray badLength = plain;
        badLength[badLength.size() - 4] = char(badLength[badLength.size() - 4] + 1);
        QTest::newRow("wrong length") << badLength << QStringLiteral("damaged");
        QTest::newRow("last byte cut off") << plain.chopped(1) << QStringLiteral("damaged");
        QTest::newRow("cut in the body") << plain.left(plain.size() / 2) << QStringLiteral("damaged");
        QTest::newRow("short of 18 bytes") << plain.left(17) << QStringLiteral("damaged");
        QByteArray badMethod = plain;
        badMethod[2] = 7;
        QTest::newRow("method not deflate") << badMethod << QStringLiteral("damaged");
        QTest::newRow("trailing bytes") << plain + QByteArray(8, '\0') << QStringLiteral("damaged");
        QTest::newRow("garbage body") << (gzipHeader() + QByteArray(30, '\xff')) << QStringLiteral("damaged");
    }
    void gzip()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QString, expected);
        QCOMPARE(describe(Inflate::unpackGzip(stream, Codec::unpackLimit)), expected);
    }

    void gzipMembers_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("expected"); // empty with `failure` set when it must fail
        QTest::addColumn<QString>("failure");
        const QByteArray first = gzipOf(kJSON);
        const QByteArray second = gzipOf("second member\n", gzipHeader(0x08) + "b.txt" + '\0');
        QTest::newRow("two members") << first + second << kJSON + "second member\n" << QString();
        QTest::newRow("two identical members") << first + first << kJSON + kJSON << QString();
        QTest::newRow("an empty member between")
            << first + gzipOf(QByteArray()) + first << kJSON + kJSON << QString();
        QTest::newRow("three members, one stored uncompressed")
            << first + gzipOf(kJSON, gzipHeader(), 0) + second
            << kJSON + kJSON + "second member\n" << QString();
        QByteArray badSecondCRC = first + second;
        badSecondCRC[badSecondCRC.size() - 8] = char(badSecondCRC[badSecondCRC.size() - 8] ^ 1);
        QTest::newRow("second member's CRC wrong") << badSecondCRC << QByteArray() << QStringLiteral("damaged");
        QByteArray badFirstLength = first + second;
        badFirstLength[first.size() - 4] = char(badFirstLength[first.size() - 4] + 1);
        QTest::newRow("first member's length wrong") << badFirstLength << QByteArray() << QStringLiteral("damaged");
        QTest::newRow("second member cut short") << first + second.chopped(3) << QByteArray() << QStringLiteral("damaged");
        QTest::newRow("second member's header only") << first + second.left(18) << QByteArray() << QStringLiteral("damaged");
        QTest::newRow("garbage after a member") << first + QByteArray(24, 'x') << QByteArray() << QStringLiteral("damaged");
        QTest::newRow("zero padding after a member") << first + QByteArray(512, '\0') << QByteArray()
                                                     << QStringLiteral("damaged");
        QTest::newRow("members past the cap together")
            << gzipOfZeros(Codec::unpackLimit / 2 + 1) + gzipOfZeros(Codec::unpackLimit / 2) << QByteArray()
            << QStringLiteral("tooLarge");
    }
    void gzipMembers()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, expected);
        QFETCH(QString, failure);
        const Inflate::Result result = Inflate::unpackGzip(stream, Codec::unpackLimit);
        if (!failure.isEmpty()) {
            QCOMPARE(describe(result), failure);
            return;
        }
        QVERIFY(result.ok());
        QCOMPARE(result.bytes, expected);
    }

    void membersFillTheCapExactly()
    {
        const qint64 limit = Codec::unpackLimit;
        const Inflate::Result whole = Inflate::unpackGzip(gzipOfZeros(limit / 2) + gzipOfZeros(limit / 2), limit);
        QVERIFY(whole.ok());
        QCOMPARE(whole.bytes.size(), limit);
        QCOMPARE(whole.bytes.count('\0'), limit);
    }

    void zlib_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QString>("expected");
        const QString json = QStringLiteral("ok:") + QString::fromLatin1(kJSON.left(64).toHex());
        const QByteArray plain = zlibOf(kJSON);
        QTest::newRow("plain") << plain << json;
        QByteArray badAdler = plain;
        badAdler[badAdler.size() - 1] = char(badAdler[badAdler.size() - 1] ^ 0x40);
        QTest::newRow("wrong Adler-32") << badAdler << QStringLiteral("damaged");
        QTest::newRow("cut short") << plain.chopped(3) << QStringLiteral("damaged");
        QTest::newRow("under six bytes") << QByteArray::fromHex("789c0300") << QStringLiteral("damaged");
        QTest::newRow("known looping stream") << QByteArray::fromHex("081D050700F8FF081D040700F8FF00000000")
                                              << QStringLiteral("damaged");
        QTest::newRow("trailing bytes") << plain + "xyz" << QStringLiteral("damaged");
    }
    void zlib()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QString, expected);
        QCOMPARE(describe(Inflate::unpackZlib(stream, Codec::unpackLimit)), expected);
    }

    void capIsExact()
    {
        const qint64 limit = Codec::unpackLimit;
        QCOMPARE(limit, 33554432);
        const Inflate::Result atCap = Inflate::unpackGzip(gzipOfZeros(limit), limit);
        QVERIFY(atCap.ok());
        QCOMPARE(atCap.bytes.size(), limit);
        const Inflate::Result overByOne = Inflate::unpackGzip(gzipOfZeros(limit + 1), limit);
        QCOMPARE(overByOne.failure, std::optional(Inflate::Failure::tooLarge));
        QCOMPARE(describe(Inflate::unpackGzip(gzipOfZeros(40000000), limit)), QStringLiteral("tooLarge"));
    }

    void bombsStopAtTheCap()
    {
        // 256 MB of zeros packs to about 250 KB; unpacking stops as soon as it passes the cap.
        const QByteArray raw = deflatedZeros(qint64(256) << 20, -15);
        QByteArray zlibBomb = QByteArray::fromHex("78da") + raw;
        appendBE32(zlibBomb, 0);
        QCOMPARE(describe(Inflate::unpackZlib(zlibBomb, Codec::unpackLimit)), QStringLiteral("tooLarge"));
        QByteArray gzipBomb = gzipHeader() + raw + QByteArray(8, '\0');
        QCOMPARE(describe(Inflate::unpackGzip(gzipBomb, Codec::unpackLimit)), QStringLiteral("tooLarge"));
    }

    void presetDictionaryIsNotUnpacked()
    {
        // A zlib stream with FDICT set is not taken for zlib at all; its body alone needs no dictionary,
        // so hand the raw inflater a stream that does.
        z_stream s{};
        deflateInit(&s, 9);
        const QByteArray dictionary = "hello world hello world";
        deflateSetDictionary(&s, reinterpret_cast<const Bytef*>(dictionary.constData()), uInt(dictionary.size()));
        QByteArray data = "hello world";
        QByteArray out(256, Qt::Uninitialized);
        s.next_in = reinterpret_cast<Bytef*>(data.data());
        s.avail_in = uInt(data.size());
        s.next_out = reinterpret_cast<Bytef*>(out.data());
        s.avail_out = uInt(out.size());
        deflate(&s, Z_FINISH);
        out.truncate(qsizetype(s.total_out));
        deflateEnd(&s);
        QCOMPARE(Inflate::detectFormat(out), std::nullopt);
        QCOMPARE(describe(Inflate::unpackZlib(out, Codec::unpackLimit)), QStringLiteral("damaged"));
        // Through the codec: the bytes are shown as they are, with no compression.
        const auto result = Codec::decodedOutput(out, true, false);
        QVERIFY(result.ok());
        QCOMPARE(result.output->compression, std::nullopt);
    }

    void cancelStopsEarly()
    {
        std::atomic_bool cancelled{true};
        const QByteArray stream = gzipOf(QByteArray(1 << 20, 'a'));
        QVERIFY(!Inflate::unpackGzip(stream, Codec::unpackLimit, &cancelled).ok());
        QVERIFY(Inflate::unpackGzip(stream, Codec::unpackLimit).ok());
    }

    void randomRoundTrip()
    {
        QRandomGenerator random(1952);
        for (int round = 0; round < 60; ++round) {
            QByteArray data(random.bounded(0, 300000), Qt::Uninitialized);
            const int alphabet = random.bounded(1, 256);
            for (auto& b : data)
                b = char(random.bounded(alphabet));
            const auto g = Inflate::unpackGzip(gzipOf(data), Codec::unpackLimit);
            QVERIFY(g.ok());
            QCOMPARE(g.bytes, data);
            const auto z = Inflate::unpackZlib(zlibOf(data), Codec::unpackLimit);
            QVERIFY(z.ok());
            QCOMPARE(z.bytes, data);
        }
    }
};

QUORRIX_TEST_MAIN(InflateTest)
#include "InflateTest.moc"
