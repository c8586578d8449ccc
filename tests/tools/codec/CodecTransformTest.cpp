#include "support/Deflated.h"
#include "support/QuorrixTestMain.h"
#include "formats/Encodings.h"
#include "tools/codec/Codec.h"

#include <QRandomGenerator>


Q_DECLARE_METATYPE(Codec::Scheme)
Q_DECLARE_METATYPE(Codec::Direction)
Q_DECLARE_METATYPE(Codec::Options)

namespace {

using Scheme = Codec::Scheme;
using Direction = Codec::Direction;
using Options = Codec::Options;

Options opts(const char* flags)
{
    const QByteArray f(flags);
    return Options{f.contains('u'), f.contains('p'), f.contains('i'), f.contains('j')};
}

QString kindName(Codec::Failure::Kind kind)
{
    switch (kind) {
    case Codec::Failure::Kind::damaged: return QStringLiteral("damaged");
    case Codec::Failure::Kind::tooLarge: return QStringLiteral("tooLarge");
    case Codec::Failure::Kind::notBase64: return QStringLiteral("notBase64");
    case Codec::Failure::Kind::notHex: return QStringLiteral("notHex");
    case Codec::Failure::Kind::oddHexLength: return QStringLiteral("oddHexLength");
    case Codec::Failure::Kind::notPercentEncoded: return QStringLiteral("notPercentEncoded");
    }
    return {};
}

// "text 4: hi?>", "json gzip 59: {...}", "binary 3", or "fail notHex" / "fail damaged gzip".
QString describe(const Codec::Result& r)
{
    if (!r.ok()) {
        QString s = QStringLiteral("fail ") + kindName(r.failure->kind);
        if (!r.failure->isInputFault())
            s += u' ' + Inflate::formatName(r.failure->format);
        return s;
    }
    const Codec::Output& o = *r.output;
    QString s = o.content == Codec::Content::text ? QStringLiteral("text")
        : o.content == Codec::Content::json       ? QStringLiteral("json")
                                                  : QStringLiteral("binary");
    if (o.compression)
        s += u' ' + Inflate::formatName(*o.compression);
    s += u' ' + QString::number(o.byteCount);
    if (o.content != Codec::Content::binary)
        s += QStringLiteral(": ") + QString::fromUtf8(o.text);
    return s;
}

QString b64(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

const char* const kSample = "H4sIAAAAAAACA6tWKsnPz1GyUnLNS85PSVXQV3BJBTGUdJSKS1ILipWsopWSEotTzUyAIulVmQVAKqs4P08pthYA3E8JOTsAAAA=";

} // namespace

class CodecTransformTest : public QObject {
    Q_OBJECT
private slots:
    void transform_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<Scheme>("scheme");
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<Options>("options");
        QTest::addColumn<QString>("expected");
        const auto E = Direction::encode;
        const auto D = Direction::decode;

        // Base64, RFC 4648 section 10, both ways.
        const char* rfc[][2] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
                                {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
        for (auto& v : rfc) {
            QTest::addRow("rfc4648 encode \"%s\"", v[0]) << v[0] << Scheme::base64 << E << opts("") << QStringLiteral("text %1: %2").arg(qstrlen(v[1])).arg(v[1]);
            QTest::addRow("rfc4648 decode \"%s\"", v[1]) << v[1] << Scheme::base64 << D << opts("") << QStringLiteral("text %1: %2").arg(qstrlen(v[0])).arg(v[0]);
        }
        QTest::newRow("base64 encode standard") << "hi?>" << Scheme::base64 << E << opts("") << "text 8: aGk/Pg==";
        QTest::newRow("base64 encode url-safe") << "hi?>" << Scheme::base64 << E << opts("u") << "text 6: aGk_Pg";
        QTest::newRow("base64 encode url-safe, one byte") << "f" << Scheme::base64 << E << opts("u") << "text 2: Zg";
        QTest::newRow("base64 encode utf-8") << QString::fromUtf8("\xC3\xA9") << Scheme::base64 << E << opts("") << "text 4: w6k=";
        QTest::newRow("url-safe ignored when decoding") << "aGk/Pg==" << Scheme::base64 << D << opts("u") << "text 4: hi?>";
        QTest::newRow("base64 decode url-safe unpadded") << "aGk_Pg" << Scheme::base64 << D << opts("") << "text 4: hi?>";
        QTest::newRow("base64 decode one left over") << "QUJDR" << Scheme::base64 << D << opts("") << "fail notBase64";
        QTest::newRow("base64 decode stray character") << "QUJ!" << Scheme::base64 << D << opts("") << "fail notBase64";
        QTest::newRow("base64 decode data url with json")
            << "  data:application/json;base64,eyJiIjoxLCJhIjoyfQ==" << Scheme::base64 << D << opts("j")
            << "json 13: {\n  \"a\" : 2,\n  \"b\" : 1\n}";
        QTest::newRow("data url without json option")
            << "data:application/json;base64,eyJiIjoxLCJhIjoyfQ==" << Scheme::base64 << D << opts("")
            << "text 13: {\"b\":1,\"a\":2}";
        QTest::newRow("data url that is not base64") << "data:text/plain,hello" << Scheme::base64 << D << opts("") << "fail notBase64";
        QTest::newRow("upper-case DATA") << "DATA:text/plain;base64,aGk=" << Scheme::base64 << D << opts("") << "fail notBase64";
        QTest::newRow("upper-case BASE64") << "data:text/plain;BASE64,aGk=" << Scheme::base64 << D << opts("") << "fail notBase64";
        QTest::newRow("not json stays as it is") << b64("{oops") << Scheme::base64 << D << opts("j") << "text 5: {oops";
        QTest::newRow("json array formatted") << b64("[1,[2]]") << Scheme::base64 << D << opts("j") << "json 7: [\n  1,\n  [\n    2\n  ]\n]";
        QTest::newRow("bare json value not formatted") << b64("42") << Scheme::base64 << D << opts("j") << "text 2: 42";
        QTest::newRow("sample decodes through gzip into json")
            << kSample << Scheme::base64 << D << opts("ij")
            << "json gzip 59: {\n  \"steps\" : [\n    \"base64\",\n    \"gzip\",\n    \"json\"\n  ],\n  \"tool\" : \"Encode / Decode\"\n}";
        QTest::newRow("sample without unpacking is binary") << kSample << Scheme::base64 << D << opts("j") << "binary 74";
        QTest::newRow("gzip without json option")
            << b64(deflated("{\"x\":1}", 31, 9)) << Scheme::base64 << D << opts("i") << "text gzip 7: {\"x\":1}";
        QByteArray badGzip = deflated("hello", 31, 9);
        badGzip[badGzip.size() - 5] = 'X';
        QTest::newRow("damaged gzip") << b64(badGzip) << Scheme::base64 << D << opts("i") << "fail damaged gzip";
        QTest::newRow("bytes that only look like zlib") << b64("x^hello") << Scheme::base64 << D << opts("i") << "text 7: x^hello";
        QByteArray zl = qCompress(QByteArray("zlib text")).mid(4);
        QTest::newRow("zlib unpacked") << b64(zl) << Scheme::base64 << D << opts("i") << "text zlib 9: zlib text";
        QTest::newRow("zlib hex unpacked") << QString::fromLatin1(zl.toHex()) << Scheme::hex << D << opts("i") << "text zlib 9: zlib text";
        QTest::newRow("binary bytes") << "AAH/" << Scheme::base64 << D << opts("ij") << "binary 3";

        // URL.
        QTest::newRow("url encode") << QString::fromUtf8("a b+c/\xC3\xA9") << Scheme::url << E << opts("") << "text 18: a%20b%2Bc%2F%C3%A9";
        QTest::newRow("url encode plus for space") << QString::fromUtf8("a b+c/\xC3\xA9") << Scheme::url << E << opts("p") << "text 16: a+b%2Bc%2F%C3%A9";
        QTest::newRow("url encode unreserved kept") << "AZaz09-._~" << Scheme::url << E << opts("") << "text 10: AZaz09-._~";
        QTest::newRow("url encode astral") << QString::fromUtf8("\xF0\x9F\x98\x80") << Scheme::url << E << opts("") << "text 12: %F0%9F%98%80";
        QTest::newRow("url decode trims, keeps +") << "  a+b%20c  " << Scheme::url << D << opts("") << "text 5: a+b c";
        QTest::newRow("url decode plus for space") << "  a+b%20c  " << Scheme::url << D << opts("p") << "text 5: a b c";
        QTest::newRow("url decode lone %") << "100%" << Scheme::url << D << opts("") << "fail notPercentEncoded";
        QTest::newRow("url decode %zz") << "%zz" << Scheme::url << D << opts("") << "fail notPercentEncoded";
        QTest::newRow("url decode %F") << "%F" << Scheme::url << D << opts("") << "fail notPercentEncoded";
        QTest::newRow("url decode not utf-8") << "%FF" << Scheme::url << D << opts("") << "fail notPercentEncoded";
        QTest::newRow("url decode lower-case escapes") << "%c3%a9" << Scheme::url << D << opts("") << QString::fromUtf8("text 2: \xC3\xA9");
        QTest::newRow("url decode never unpacks")
            << QString::fromLatin1(QByteArray("x^hello").toPercentEncoding()) << Scheme::url << D << opts("i") << "text 7: x^hello";
        QTest::newRow("url decode json") << "%7B%22b%22%3A1%7D" << Scheme::url << D << opts("j") << "json 7: {\n  \"b\" : 1\n}";
        QTest::newRow("url decode keeps inner blanks") << " a \n b " << Scheme::url << D << opts("") << "text 5: a \n b";

        // HTML.
        QTest::newRow("html encode") << "<a href='x'>Tom & Jerry</a>" << Scheme::html << E << opts("")
                                     << "text 51: &lt;a href=&#39;x&#39;&gt;Tom &amp; Jerry&lt;/a&gt;";
        QTest::newRow("html decode") << QString::fromUtf8("&lt;b&gt; &amp;amp; &hellip;") << Scheme::html << D << opts("")
                                     << QString::fromUtf8("text 13: <b> &amp; \xE2\x80\xA6");
        QTest::newRow("html decode empty") << "" << Scheme::html << D << opts("ij") << "text 0: ";
        QTest::newRow("html decode json") << "{&quot;a&quot;:[]}" << Scheme::html << D << opts("j") << "json 8: {\n  \"a\" : []\n}";

        // Hex.
        QTest::newRow("hex encode") << "hi" << Scheme::hex << E << opts("") << "text 4: 6869";
        QTest::newRow("hex encode utf-8") << QString::fromUtf8("\xC3\xA9") << Scheme::hex << E << opts("") << "text 4: c3a9";
        QTest::newRow("hex decode") << "68 69" << Scheme::hex << D << opts("") << "text 2: hi";
        QTest::newRow("hex decode odd") << "abc" << Scheme::hex << D << opts("") << "fail oddHexLength";
        QTest::newRow("hex decode bad") << "zz" << Scheme::hex << D << opts("") << "fail notHex";
        QTest::newRow("hex decode empty") << "" << Scheme::hex << D << opts("ij") << "text 0: ";
        QTest::newRow("hex decode gzip") << QString::fromLatin1(deflated("[true]", 31, 9).toHex(':')) << Scheme::hex << D << opts("ij")
                                         << "json gzip 6: [\n  true\n]";
    }
    void transform()
    {
        QFETCH(QString, input);
        QFETCH(Scheme, scheme);
        QFETCH(Direction, direction);
        QFETCH(Options, options);
        QFETCH(QString, expected);
        // As the tool holds its input: UTF-8.
        const QByteArray utf8 = Codec::utf8Of(input);
        const Codec::Result result = Codec::transform(utf8, scheme, direction, options);
        QCOMPARE(describe(result), expected);
        // The same through the cancellable path, when nobody cancels.
        std::atomic_bool cancelled{false};
        QCOMPARE(describe(Codec::transform(utf8, scheme, direction, options, &cancelled)), expected);
    }

    void binaryOutputCarriesADump()
    {
        QByteArray bytes(70000, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7 + 0x80);
        const auto r = Codec::transform(Codec::utf8Of(b64(bytes)), Scheme::base64, Direction::decode, opts("ij"));
        QVERIFY(r.ok());
        QCOMPARE(r.output->content, Codec::Content::binary);
        QCOMPARE(r.output->byteCount, 70000);
        QVERIFY(r.output->dump.has_value());
        QCOMPARE(r.output->dump->count, 70000);
        QCOMPARE(r.output->dump->bytes, bytes.left(65536));
        QCOMPARE(QString::fromUtf8(r.output->text), Codec::hexDumpText(16, *r.output->dump));
        QVERIFY(r.output->text.endsWith("\n\xE2\x80\xA6 4464 more bytes"));
    }

    void bigGzipPayload()
    {
        // Exactly at the cap unpacks; one byte more is left packed.
        const QByteArray atCap(Codec::unpackLimit, 'a');
        auto r = Codec::transform(Codec::utf8Of(b64(deflated(atCap, 31, 9))), Scheme::base64, Direction::decode, opts("i"));
        QVERIFY(r.ok());
        QCOMPARE(r.output->byteCount, Codec::unpackLimit);
        r = Codec::transform(Codec::utf8Of(b64(deflated(atCap + 'a', 31, 9))), Scheme::base64, Direction::decode, opts("i"));
        QCOMPARE(describe(r), QStringLiteral("fail tooLarge gzip"));
        QCOMPARE(r.failure->message(), QStringLiteral("The gzip data inside unpacks to more than 32 MB, so it was left packed."));
    }

    void messages_data()
    {
        QTest::addColumn<Codec::Failure>("failure");
        QTest::addColumn<QString>("message");
        using K = Codec::Failure::Kind;
        QTest::newRow("damaged gzip") << Codec::Failure::damaged(Inflate::Format::gzip)
                                      << "The gzip data inside is damaged or cut short: it does not unpack, or its checksum does not match.";
        QTest::newRow("damaged zlib") << Codec::Failure::damaged(Inflate::Format::zlib)
                                      << "The zlib data inside is damaged or cut short: it does not unpack, or its checksum does not match.";
        QTest::newRow("too large zlib") << Codec::Failure::tooLarge(Inflate::Format::zlib)
                                        << "The zlib data inside unpacks to more than 32 MB, so it was left packed.";
        QTest::newRow("not base64") << Codec::Failure::of(K::notBase64)
                                    << "This is not Base64. It has a character outside the alphabet, or a length no Base64 text can have.";
        QTest::newRow("not hex") << Codec::Failure::of(K::notHex)
                                 << QString::fromUtf8("This is not hex. Apart from spaces, colons, commas, dashes and 0x prefixes, only 0\xE2\x80\x93" "9 and a\xE2\x80\x93" "f may appear.");
        QTest::newRow("odd hex") << Codec::Failure::of(K::oddHexLength)
                                 << "Hex takes two digits per byte, and this has an odd number of digits.";
        QTest::newRow("not percent") << Codec::Failure::of(K::notPercentEncoded)
                                     << "A % here is not followed by two hex digits, or the bytes it encodes are not UTF-8 text.";
    }
    void messages()
    {
        QFETCH(Codec::Failure, failure);
        QFETCH(QString, message);
        QCOMPARE(failure.message(), message);
    }

    void stripDataURL_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("png") << "data:image/png;base64,iVBOR" << "iVBOR";
        QTest::newRow("leading blanks") << " \n data:;base64,QQ" << "QQ";
        QTest::newRow("no base64 marker") << "data:text/plain,hello" << "data:text/plain,hello";
        QTest::newRow("no comma") << "data:;base64" << "data:;base64";
        QTest::newRow("upper case") << " DATA:x;base64,QQ" << " DATA:x;base64,QQ";
        QTest::newRow("marker after the comma") << "data:x,y;base64,QQ" << "data:x,y;base64,QQ";
        QTest::newRow("plain text") << "QUJD" << "QUJD";
    }
    void stripDataURL()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromUtf8(Codec::stripDataURL(Codec::utf8Of(input)).toByteArray()), expected);
    }

    void looksLikeJSONContainer_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("expected");
        QTest::newRow("object") << " \n{" << true;
        QTest::newRow("array") << "[1]" << true;
        QTest::newRow("no-break space first") << QString::fromUtf8("\xC2\xA0[") << true;
        QTest::newRow("string") << "\"a\"" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("blank") << "  \t" << false;
    }
    void looksLikeJSONContainer()
    {
        QFETCH(QString, input);
        QFETCH(bool, expected);
        QCOMPARE(Codec::looksLikeJSONContainer(Codec::utf8Of(input)), expected);
    }

    void encodeDecodeRoundTrips()
    {
        QRandomGenerator random(101);
        for (int round = 0; round < 300; ++round) {
            QString text;
            const int length = random.bounded(0, 60);
            for (int i = 0; i < length; ++i) {
                const char32_t pick[] = {U'a', U' ', U'+', U'%', U'&', U'<', U'\'', U'"', U';', U'#', U'\u00e9', U'\u20ac', U'\U0001F600', U'\n', U'='};
                const char32_t c = pick[random.bounded(int(std::size(pick)))];
                text += QString::fromUcs4(&c, 1);
            }
            const QString trimmed = text.trimmed();
            for (Scheme scheme : Codec::allSchemes) {
                for (const char* flags : {"", "u", "p"}) {
                    const auto encoded = Codec::transform(Codec::utf8Of(text), scheme, Direction::encode, opts(flags));
                    QVERIFY(encoded.ok());
                    const auto decoded = Codec::transform(encoded.output->text, scheme, Direction::decode, opts(flags));
                    QVERIFY2(decoded.ok(), qPrintable(text));
                    // URL decoding trims blanks at the ends of the encoded text, which has none.
                    QCOMPARE(QString::fromUtf8(decoded.output->text), text);
                }
            }
            Q_UNUSED(trimmed);
        }
    }

    void percentDecodeAgainstModel()
    {
        // The model: every "%" must start two hex digits; then the bytes must be UTF-8.
        QRandomGenerator random(3986);
        const char* pieces[] = {"%", "2", "0", "F", "f", "z", "+", "a", " ", "%C3", "%A9", "%e2%82%ac", "\xC3\xA9", "%%"};
        for (int round = 0; round < 3000; ++round) {
            QString text;
            for (int i = random.bounded(10); i > 0; --i)
                text += QString::fromUtf8(pieces[random.bounded(int(std::size(pieces)))]);
            const bool plus = round % 2;
            QString body = text.trimmed();
            if (plus)
                body.replace(u'+', u' ');
            const QByteArray utf8 = body.toUtf8();
            bool wellFormed = true;
            for (qsizetype i = 0; i < utf8.size(); ++i) {
                if (utf8[i] == '%') {
                    const bool hex = i + 2 < utf8.size() && isxdigit(uchar(utf8[i + 1])) && isxdigit(uchar(utf8[i + 2]));
                    if (!hex) {
                        wellFormed = false;
                        break;
                    }
                    i += 2;
                }
            }
            const QByteArray decoded = QByteArray::fromPercentEncoding(utf8);
            const auto ours = Encodings::percentDecode(text, plus);
            if (!wellFormed || !QByteArrayView(decoded).isValidUtf8()) {
                QVERIFY2(!ours, qPrintable(text));
            } else {
                QVERIFY2(ours, qPrintable(text));
                QCOMPARE(*ours, decoded);
            }
        }
    }

    // A cancelled run stops at the stage it is in and never delivers what that stage makes,
    // which the caller would drop anyway. A stage that ignored the flag would deliver it.
    void cancelledRunStops_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("unpack");
        QTest::addColumn<bool>("formatJSON");
        QByteArray json = "[";
        while (json.size() < (1 << 20))
            json += "{\"a\":[1,2,3],\"b\":\"text\"},";
        json += "0]";
        QTest::newRow("unpacking") << deflated(QByteArray(1 << 20, 'a'), 31, 9) << true << false;
        QTest::newRow("checking UTF-8") << QByteArray(1 << 20, 'a') << false << false;
        QTest::newRow("formatting JSON") << json << false << true;
    }
    void cancelledRunStops()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, unpack);
        QFETCH(bool, formatJSON);
        const Codec::Result whole = Codec::decodedOutput(bytes, unpack, formatJSON);
        QVERIFY(whole.ok());
        QCOMPARE(whole.output->content, formatJSON ? Codec::Content::json : Codec::Content::text);
        // What the stage makes: the unpacked length, the text, the formatted JSON.
        const auto madeIt = [&](const Codec::Result& r) {
            if (!r.ok())
                return false;
            if (unpack)
                return r.output->byteCount == whole.output->byteCount;
            return r.output->content == whole.output->content && r.output->text == whole.output->text;
        };
        std::atomic_bool cancelled{true};
        QVERIFY(!madeIt(Codec::decodedOutput(bytes, unpack, formatJSON, &cancelled)));
        // Through the Base64 stage as well.
        const QByteArray text = bytes.toBase64();
        QVERIFY(!madeIt(Codec::transform(text, Scheme::base64, Direction::decode,
                                         Options{false, false, unpack, formatJSON}, &cancelled)));
    }
};

QUORRIX_TEST_MAIN(CodecTransformTest)
#include "CodecTransformTest.moc"
