#include "support/QuorrixTestMain.h"
#include "formats/BulkCodec.h"
#include "formats/Encodings.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <atomic>

// The bytes-to-bytes Base64 path against the text path, which it must match wherever the bytes
// are the UTF-8 of that text: random short texts, and large ones with hazards where the bytes
// are cut into parts.

namespace {

// What the text path makes of bytes read as a file is read: ill-formed bytes as U+FFFD, a
// byte-order mark kept.
std::optional<QByteArray> textPathDecode(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return Encodings::base64URLDecode(QString(decoder.decode(bytes)));
}

QByteArray randomBytes(QRandomGenerator& random, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (auto& b : bytes)
        b = static_cast<char>(random.bounded(256));
    return bytes;
}

constexpr qsizetype kLarge = 4'500'000;

// The text with `insert` put in so that it begins at each of the places, in the finished text.
QByteArray laidOut(const QByteArray& text, const QList<qsizetype>& places, const QByteArray& insert)
{
    QByteArray laid;
    laid.reserve(text.size() + places.size() * insert.size());
    qsizetype from = 0;
    for (qsizetype at : places) {
        const qsizetype take = at - laid.size();
        laid += text.mid(from, take);
        from += take;
        laid += insert;
    }
    laid += text.mid(from);
    return laid;
}

// The stream decoder's output, or nothing when it fails.
std::optional<QByteArray> decodeStream(const QByteArray& text)
{
    QBuffer in;
    in.setData(text);
    in.open(QIODevice::ReadOnly);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    if (!BulkCodec::base64DecodeStream(in, out))
        return std::nullopt;
    return out.data();
}

} // namespace

class Base64BytesTest : public QObject {
    Q_OBJECT
private slots:
    void rfcVectors_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("standard");
        QTest::addColumn<QByteArray>("urlSafe");
        // RFC 4648, section 10, and both alphabets' last two characters.
        QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("f") << QByteArray("f") << QByteArray("Zg==") << QByteArray("Zg");
        QTest::newRow("fo") << QByteArray("fo") << QByteArray("Zm8=") << QByteArray("Zm8");
        QTest::newRow("foo") << QByteArray("foo") << QByteArray("Zm9v") << QByteArray("Zm9v");
        QTest::newRow("foob") << QByteArray("foob") << QByteArray("Zm9vYg==") << QByteArray("Zm9vYg");
        QTest::newRow("fooba") << QByteArray("fooba") << QByteArray("Zm9vYmE=") << QByteArray("Zm9vYmE");
        QTest::newRow("foobar") << QByteArray("foobar") << QByteArray("Zm9vYmFy") << QByteArray("Zm9vYmFy");
        QTest::newRow("signs") << QByteArray::fromHex("fbffbf") << QByteArray("+/+/") << QByteArray("-_-_");
    }
    void rfcVectors()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, standard);
        QFETCH(QByteArray, urlSafe);
        QCOMPARE(BulkCodec::base64EncodeBytes(bytes, false), standard);
        QCOMPARE(BulkCodec::base64EncodeBytes(bytes, true), urlSafe);
        QCOMPARE(BulkCodec::base64DecodeUtf8(standard), std::optional<QByteArray>(bytes));
        QCOMPARE(BulkCodec::base64DecodeUtf8(urlSafe), std::optional<QByteArray>(bytes));
    }

    void encodeEveryLength()
    {
        // Lengths around the wide loop's blocks and its reach before and after them, then large
        // ones cut into parts, each ending one, two or three bytes past a group.
        QRandomGenerator random(64);
        QList<qsizetype> sizes;
        for (qsizetype n = 0; n <= 130; ++n)
            sizes.append(n);
        for (qsizetype n : {kLarge, kLarge + 1, kLarge + 2})
            sizes.append(n);
        for (qsizetype n : sizes) {
            const QByteArray bytes = randomBytes(random, n);
            QCOMPARE(BulkCodec::base64EncodeBytes(bytes, false), bytes.toBase64());
            QCOMPARE(BulkCodec::base64EncodeBytes(bytes, true),
                     bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        }
    }

    void shortTextsAsTheTextPathReadsThem()
    {
        QRandomGenerator random(2648);
        const QList<QByteArray> blanks = {" ", "\n", "\r\n", "\t", "\xC2\xA0", "\xC2\x85", "\xE2\x80\xA8", "\xE3\x80\x80",
                                          " \xCC\x81", "\xE2\x80\x83\xE2\x83\x9D\xCC\x81"};
        // Faults, ill-formed UTF-8 among them: stray and missing continuation bytes, an overlong
        // form, an encoded surrogate, a byte-order mark, a mark with no blank before it.
        const QList<QByteArray> faults = {"=", "==", "!", QByteArray(1, '\0'), "\xC3\xA9", "\xF0\x9F\x98\x80", "\x80",
                                          "\xC2", "\xE2\x80", "\xC0\xA0", "\xE0\x80\xA0", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF",
                                          "\xEF\xBB\xBF", "\xCC\x81", "A"};
        int kept = 0;
        for (int round = 0; round < 4000; ++round) {
            const QByteArray bytes = randomBytes(random, random.bounded(0, 120));
            QByteArray text = bytes.toBase64(round % 2 ? QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals
                                                       : QByteArray::Base64Encoding);
            bool meaningKept = true;
            for (int c = random.bounded(4); c > 0; --c) {
                // Between characters, so that no insert splits an earlier one.
                qsizetype at = random.bounded(text.size() + 1);
                while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
                    ++at;
                if (random.bounded(3)) {
                    text.insert(at, blanks[random.bounded(blanks.size())]);
                } else {
                    text.insert(at, faults[random.bounded(faults.size())]);
                    meaningKept = false;
                }
            }
            const auto actual = BulkCodec::base64DecodeUtf8(text);
            QVERIFY2(actual == textPathDecode(text), text.toHex().constData());
            QVERIFY2(decodeStream(text) == actual, text.toHex().constData());
            if (meaningKept) {
                QVERIFY2(actual == bytes, text.toHex().constData());
                ++kept;
            }
        }
        QVERIFY(kept > 1000);
    }

    void largeTextsCutInParts_data()
    {
        QTest::addColumn<QByteArray>("atCuts");
        QTest::addColumn<int>("offset");
        QTest::addColumn<bool>("valid");
        QTest::newRow("a line break ending at every cut") << QByteArray("\r\n") << -2 << true;
        QTest::newRow("a no-break space across every cut") << QByteArray("\xC2\xA0") << -1 << true;
        QTest::newRow("an ideographic space across every cut") << QByteArray("\xE3\x80\x80") << -2 << true;
        QTest::newRow("a space before and a mark after every cut") << QByteArray(" \xCC\x81") << -1 << true;
        QTest::newRow("a mark after data at every cut") << QByteArray("\xCC\x81") << 0 << false;
        QTest::newRow("a stray continuation byte at every cut") << QByteArray("\x80") << 0 << false;
        QTest::newRow("a sequence cut short at every cut") << QByteArray("\xE3\x80") << -1 << false;
        QTest::newRow("padding at every cut") << QByteArray("=") << 0 << false;
    }
    void largeTextsCutInParts()
    {
        QFETCH(QByteArray, atCuts);
        QFETCH(int, offset);
        QFETCH(bool, valid);
        QRandomGenerator random(4500);
        const QByteArray bytes = randomBytes(random, kLarge / 4 * 3);
        const QByteArray body = bytes.toBase64();
        // Spaces near the start shift the count of alphabet characters before each cut through
        // every remainder modulo four.
        for (int shift = 0; shift < 4 && !QTest::currentTestFailed(); ++shift) {
            const QByteArray text = QByteArray(shift, ' ') + body;
            const int parts = BulkCodec::partCount(text.size());
            const qsizetype n = text.size() + (parts - 1) * atCuts.size();
            QCOMPARE(BulkCodec::partCount(n), parts);
            QList<qsizetype> cuts;
            for (int k = 1; k < parts; ++k)
                cuts.append(n / parts * k + offset);
            const QByteArray laid = laidOut(text, cuts, atCuts);
            QCOMPARE(laid.size(), n);
            // The inserts are blanks or faults, so the body alone is what a valid text decodes to.
            const auto actual = BulkCodec::base64DecodeUtf8(laid);
            QCOMPARE(actual.has_value(), valid);
            if (valid)
                QVERIFY(*actual == bytes);
            QVERIFY(actual == textPathDecode(laid));

            // The same at every end of the stream decoder's chunks.
            QList<qsizetype> chunkEnds;
            for (qsizetype at = BulkCodec::streamChunk; at < text.size(); at += BulkCodec::streamChunk)
                chunkEnds.append(at + offset);
            const QByteArray chunked = laidOut(text, chunkEnds, atCuts);
            const auto streamed = decodeStream(chunked);
            QCOMPARE(streamed.has_value(), valid);
            if (valid)
                QVERIFY(*streamed == bytes);
        }
    }

    void encodeStreamAcrossChunks()
    {
        QRandomGenerator random(768);
        const qsizetype chunk = BulkCodec::streamChunk;
        for (qsizetype n : {qsizetype(0), qsizetype(1), chunk - 1, chunk, chunk + 1, 2 * chunk + 2}) {
            const QByteArray bytes = randomBytes(random, n);
            for (bool urlSafe : {false, true}) {
                QBuffer in;
                in.setData(bytes);
                in.open(QIODevice::ReadOnly);
                QBuffer out;
                out.open(QIODevice::WriteOnly);
                QVERIFY(BulkCodec::base64EncodeStream(in, out, urlSafe));
                QVERIFY(out.data() == BulkCodec::base64EncodeBytes(bytes, urlSafe));
            }
        }
    }

    void cancelledDecodeGivesNothing()
    {
        const QByteArray text = QByteArray(kLarge, 'q');
        std::atomic_bool cancelled{true};
        QVERIFY(!BulkCodec::base64DecodeUtf8(text, &cancelled).has_value());
        std::atomic_bool running{false};
        QVERIFY(BulkCodec::base64DecodeUtf8(text, &running).has_value());
    }
};

QUORRIX_TEST_MAIN(Base64BytesTest)
#include "Base64BytesTest.moc"
