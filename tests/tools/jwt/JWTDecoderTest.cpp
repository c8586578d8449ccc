#include "support/QuorrixTestMain.h"
#include "tools/jwt/JWTDecoder.h"

#include <QRandomGenerator>

#include <cmath>

using namespace JWTDecoder;

Q_DECLARE_METATYPE(JWTDecoder::Failure)
Q_DECLARE_METATYPE(JWTDecoder::TimeStatus)
Q_DECLARE_METATYPE(JWTDecoder::Payload)

namespace {

QString b64u(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString jws(const QByteArray& header, const QByteArray& payload, const QByteArray& signature = "sig")
{
    return b64u(header) + u'.' + b64u(payload) + u'.' + b64u(signature);
}

const QByteArray hs256 = R"({"alg":"HS256","typ":"JWT"})";

Decoded decoded(const QString& text)
{
    const Result r = decode(text);
    if (!std::holds_alternative<Decoded>(r)) {
        qWarning() << "failed:" << std::get<Failure>(r).message();
        return Decoded{};
    }
    return std::get<Decoded>(r);
}

std::optional<Failure> failure(const QString& text)
{
    const Result r = decode(text);
    if (const Failure* f = std::get_if<Failure>(&r))
        return *f;
    return std::nullopt;
}

TimeClaim claim(TimeClaim::Name name, std::optional<double> date) { return TimeClaim{name, date}; }

} // namespace

class JWTDecoderTest : public QObject {
    Q_OBJECT
private slots:
    void cleaning_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain token") << "a.b.c" << "a.b.c";
        QTest::newRow("blanks and line breaks around") << " \n\t a.b.c \r\n" << "a.b.c";
        QTest::newRow("double quotes") << "\"a.b.c\"" << "a.b.c";
        QTest::newRow("single quotes") << "'a.b.c'" << "a.b.c";
        QTest::newRow("single inside double lose both") << "\"'a.b.c'\"" << "a.b.c";
        QTest::newRow("double inside single lose the outer only") << "'\"a.b.c\"'" << "\"a.b.c\"";
        QTest::newRow("one quote stays") << "\"" << "\"";
        QTest::newRow("two double quotes") << "\"\"" << "";
        QTest::newRow("authorization header") << "Authorization: Bearer a.b.c" << "a.b.c";
        QTest::newRow("authorization in any case, no blank") << "AUTHORIZATION:bearer a.b.c" << "a.b.c";
        QTest::newRow("authorization without scheme") << "authorization:   a.b.c" << "a.b.c";
        QTest::newRow("authorization with other scheme keeps it") << "Authorization: Basic xyz" << "Basicxyz";
        QTest::newRow("bearer and a line break") << "Bearer\na.b.c" << "a.b.c";
        QTest::newRow("bearer with two blanks") << "bearer  a.b.c" << "a.b.c";
        QTest::newRow("BEARER and a tab") << "BEARER\ta.b.c" << "a.b.c";
        QTest::newRow("bearer glued to the token stays") << "Bearera.b.c" << "Bearera.b.c";
        QTest::newRow("bearer alone") << "Bearer" << "";
        QTest::newRow("header name and scheme alone") << "Authorization: Bearer " << "";
        QTest::newRow("token broken over lines") << "aaa.\nbbb\n.ccc" << "aaa.bbb.ccc";
        QTest::newRow("unicode blanks removed") << QString::fromUtf8("a\u00A0.b\u2028.c\u3000") << "a.b.c";
        QTest::newRow("quoted header line") << "\"Authorization: Bearer a.b.c\"" << "a.b.c";
    }
    void cleaning()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(cleanToken(input), expected);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<Failure>("expected");
        QTest::addColumn<QString>("sentence");
        const QString countSentence = QStringLiteral(
            "A JWT has three parts separated by dots, or five when it is encrypted. This has %1.");
        QTest::newRow("empty") << "" << Failure::emptyToken() << "Paste a token to decode it.";
        QTest::newRow("blanks only") << " \n\t " << Failure::emptyToken() << "Paste a token to decode it.";
        QTest::newRow("bearer alone") << "bearer" << Failure::emptyToken() << "Paste a token to decode it.";
        QTest::newRow("authorization alone") << "Authorization: Bearer" << Failure::emptyToken()
                                             << "Paste a token to decode it.";
        QTest::newRow("two double quotes") << "\"\"" << Failure::emptyToken() << "Paste a token to decode it.";
        QTest::newRow("no dot") << "abc" << Failure::segments(1) << countSentence.arg("1 part");
        QTest::newRow("one dot") << "a.b" << Failure::segments(2) << countSentence.arg("2 parts");
        QTest::newRow("three dots") << "a.b.c.d" << Failure::segments(4) << countSentence.arg("4 parts");
        QTest::newRow("six segments") << "a.b.c.d.e.f" << Failure::segments(6) << countSentence.arg("6 parts");
        QTest::newRow("hundred segments") << QString(99, u'.') << Failure::segments(100)
                                          << countSentence.arg("100 parts");
        QTest::newRow("payload with an asterisk")
            << b64u(hs256) + ".ab*c." + b64u("s") << Failure::notBase64URL(2, "payload")
            << "Part 2, the payload, is not base64url.";
        QTest::newRow("five characters in the header")
            << "abcde." + b64u("{}") + ".c" << Failure::notBase64URL(1, "header")
            << "Part 1, the header, is not base64url.";
        QTest::newRow("signature not base64url") << b64u(hs256) + "." + b64u("{}") + ".%%"
                                                 << Failure::notBase64URL(3, "signature")
                                                 << "Part 3, the signature, is not base64url.";
        QTest::newRow("encrypted token, bad ciphertext")
            << b64u(R"({"alg":"RSA-OAEP","enc":"A256GCM"})") + ".a2V5.aXY.***." + b64u("tag")
            << Failure::notBase64URL(4, "ciphertext") << "Part 4, the ciphertext, is not base64url.";
        QTest::newRow("encrypted token, bad tag")
            << b64u(R"({"alg":"dir"})") + "..aXY.Y3Q.x" << Failure::notBase64URL(5, "authentication tag")
            << "Part 5, the authentication tag, is not base64url.";
        QTest::newRow("encrypted token, bad key")
            << b64u(R"({"alg":"dir"})") + ".!.aXY.Y3Q.dGFn" << Failure::notBase64URL(2, "encrypted key")
            << "Part 2, the encrypted key, is not base64url.";
        QTest::newRow("encrypted token, bad iv")
            << b64u(R"({"alg":"dir"})") + "..!.Y3Q.dGFn" << Failure::notBase64URL(3, "initialization vector")
            << "Part 3, the initialization vector, is not base64url.";
        QTest::newRow("header is an array") << jws("[1,2]", "{}") << Failure::headerNotJSONObject()
                                            << "The header does not decode to a JSON object.";
        QTest::newRow("header is a string") << jws("\"HS256\"", "{}") << Failure::headerNotJSONObject()
                                            << "The header does not decode to a JSON object.";
        QTest::newRow("header is no JSON") << jws("alg=HS256", "{}") << Failure::headerNotJSONObject()
                                           << "The header does not decode to a JSON object.";
        QTest::newRow("header is not UTF-8") << jws("{\"a\":\"\xff\"}", "{}") << Failure::headerNotJSONObject()
                                             << "The header does not decode to a JSON object.";
        QTest::newRow("header holds an encoded surrogate")
            << jws("{\"a\":\"\xed\xa0\x80\"}", "{}") << Failure::headerNotJSONObject()
            << "The header does not decode to a JSON object.";
        QTest::newRow("header nested too deep") << jws(QByteArray(100000, '[') + QByteArray(100000, ']'), "{}")
                                                << Failure::headerNotJSONObject()
                                                << "The header does not decode to a JSON object.";
        QTest::newRow("object nested too deep")
            << jws("{\"a\":" + QByteArray(100000, '[') + QByteArray(100000, ']') + "}", "{}")
            << Failure::headerNotJSONObject() << "The header does not decode to a JSON object.";
        QTest::newRow("lone surrogate in the text")
            << QString(QChar(0xD800)) + ".a.b" << Failure::notBase64URL(1, "header")
            << "Part 1, the header, is not base64url.";
    }
    void failures()
    {
        QFETCH(QString, input);
        QFETCH(Failure, expected);
        QFETCH(QString, sentence);
        const std::optional<Failure> f = failure(input);
        QVERIFY(f.has_value());
        QCOMPARE(*f, expected);
        QCOMPARE(f->message(), sentence);
    }

    void headerAndAlgorithm_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QString>("pretty");
        QTest::addColumn<QString>("algorithm"); // "(none)" for none
        QTest::newRow("keys sorted, two blanks") << QByteArray(R"({"typ":"JWT","alg":"HS256"})")
                                                 << "{\n  \"alg\" : \"HS256\",\n  \"typ\" : \"JWT\"\n}" << "HS256";
        QTest::newRow("empty object") << QByteArray("{}") << "{}" << "(none)";
        QTest::newRow("alg is a number") << QByteArray(R"({"alg":256})") << "{\n  \"alg\" : 256\n}" << "(none)";
        QTest::newRow("alg is null") << QByteArray(R"({"alg":null})") << "{\n  \"alg\" : null\n}" << "(none)";
        QTest::newRow("alg escaped") << QByteArray(R"({"\u0061lg":"R\u0053256"})")
                                     << "{\n  \"alg\" : \"RS256\"\n}" << "RS256";
        QTest::newRow("alg none") << QByteArray(R"({"alg":"none"})") << "{\n  \"alg\" : \"none\"\n}" << "none";
    }
    void headerAndAlgorithm()
    {
        QFETCH(QByteArray, header);
        QFETCH(QString, pretty);
        QFETCH(QString, algorithm);
        const Decoded d = decoded(jws(header, "{}"));
        QCOMPARE(d.header, pretty);
        QCOMPARE(d.algorithm.value_or(QStringLiteral("(none)")), algorithm);
    }

    void payloadKinds_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<Payload>("expected");
        QTest::newRow("object") << QByteArray(R"({"sub":"x","iat":1})")
                                << Payload::json("{\n  \"iat\" : 1,\n  \"sub\" : \"x\"\n}", 2);
        QTest::newRow("empty object") << QByteArray("{}") << Payload::json("{}", 0);
        // The text shows every member as written; the decoded object keeps one per name, and the
        // count is of those.
        QTest::newRow("a repeated name counts once") << QByteArray(R"({"a":1,"a":2})")
                                                     << Payload::json("{\n  \"a\" : 1,\n  \"a\" : 2\n}", 1);
        QTest::newRow("a name repeated in another spelling")
            << QByteArray(R"({"a":1,"b":0,"\u0061":2})")
            << Payload::json("{\n  \"a\" : 1,\n  \"a\" : 2,\n  \"b\" : 0\n}", 2);
        QTest::newRow("array") << QByteArray("[1, 2]") << Payload::json("[\n  1,\n  2\n]", std::nullopt);
        QTest::newRow("bare number") << QByteArray("42") << Payload::json("42", std::nullopt);
        QTest::newRow("bare string") << QByteArray("\"hi\"") << Payload::json("\"hi\"", std::nullopt);
        QTest::newRow("plain words") << QByteArray("hello world") << Payload::plainText("hello world");
        QTest::newRow("UTF-8 text") << QByteArray("gr\xc3\xbc\xc3\x9f") << Payload::plainText(QString::fromUtf8("grüß"));
        QTest::newRow("FF FE") << QByteArray("\xff\xfe") << Payload::binary(2);
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << Payload::binary(2);
        QTest::newRow("empty") << QByteArray() << Payload::detached();
        QTest::newRow("JSON too deep is text") << QByteArray(600, '[') + QByteArray(600, ']')
                                               << Payload::plainText(QString(600, u'[') + QString(600, u']'));
    }
    void payloadKinds()
    {
        QFETCH(QByteArray, payload);
        QFETCH(Payload, expected);
        const Decoded d = decoded(jws(hs256, payload, "signature!"));
        QCOMPARE(d.payload, expected);
        QCOMPARE(d.payloadByteCount, payload.size());
        QCOMPARE(d.signatureByteCount, std::optional<qsizetype>(10));
        QCOMPARE(d.segmentCount, 3);
    }

    void emptySignatureAndPayload()
    {
        const Decoded d = decoded(b64u(hs256) + "..");
        QCOMPARE(d.payload, Payload::detached());
        QCOMPARE(d.payloadByteCount, 0);
        QCOMPARE(d.signatureByteCount, std::optional<qsizetype>(0));
        QVERIFY(d.timeClaims.isEmpty());
    }

    void paddingAndAlphabets()
    {
        // "{}" is e30 in base64url; "=" padding, no padding and the standard alphabet all read.
        QCOMPARE(decoded(b64u(hs256) + ".e30=.-_8").payload, Payload::json("{}", 0));
        QCOMPARE(decoded(b64u(hs256) + ".e30.+/8=").signatureByteCount, std::optional<qsizetype>(2));
    }

    void encryptedToken()
    {
        const QString token = b64u(R"({"enc":"A256GCM","alg":"RSA-OAEP"})") + "..aXY." + b64u("ciphertext!") + "."
                              + b64u("tag");
        const Decoded d = decoded(token);
        QCOMPARE(d.payload, Payload::encrypted());
        QCOMPARE(d.segmentCount, 5);
        QCOMPARE(d.payloadByteCount, 11);
        QCOMPARE(d.signatureByteCount, std::nullopt);
        QVERIFY(d.timeClaims.isEmpty());
        QCOMPARE(d.algorithm, std::optional<QString>("RSA-OAEP"));
        QCOMPARE(d.header, "{\n  \"alg\" : \"RSA-OAEP\",\n  \"enc\" : \"A256GCM\"\n}");
    }

    void timeClaimsRead_data()
    {
        using N = TimeClaim::Name;
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QList<TimeClaim>>("expected");
        QTest::newRow("all three, listed exp nbf iat")
            << QByteArray(R"({"iat":10,"nbf":20,"exp":30.5})")
            << QList<TimeClaim>{claim(N::exp, 30.5), claim(N::nbf, 20), claim(N::iat, 10)};
        QTest::newRow("none") << QByteArray(R"({"sub":"x"})") << QList<TimeClaim>{};
        QTest::newRow("exp true") << QByteArray(R"({"exp":true})") << QList<TimeClaim>{claim(N::exp, std::nullopt)};
        QTest::newRow("exp a string of digits") << QByteArray(R"({"exp":"1700000000"})")
                                                << QList<TimeClaim>{claim(N::exp, std::nullopt)};
        QTest::newRow("exp null") << QByteArray(R"({"exp":null})") << QList<TimeClaim>{claim(N::exp, std::nullopt)};
        QTest::newRow("exp an object") << QByteArray(R"({"exp":{}})") << QList<TimeClaim>{claim(N::exp, std::nullopt)};
        QTest::newRow("exp 1e300") << QByteArray(R"({"exp":1e300})") << QList<TimeClaim>{claim(N::exp, 1e300)};
        QTest::newRow("exp -1e300") << QByteArray(R"({"exp":-1e300})") << QList<TimeClaim>{claim(N::exp, -1e300)};
        QTest::newRow("exp beyond a double") << QByteArray(R"({"exp":1e400})")
                                             << QList<TimeClaim>{claim(N::exp, std::nullopt)};
        QTest::newRow("exp below a double's reach") << QByteArray(R"({"exp":1e-400})")
                                                    << QList<TimeClaim>{claim(N::exp, 0.0)};
        QTest::newRow("negative and fraction") << QByteArray(R"({"nbf":-12.25})")
                                               << QList<TimeClaim>{claim(N::nbf, -12.25)};
        QTest::newRow("milliseconds kept as they are") << QByteArray(R"({"exp":1700000000000})")
                                                       << QList<TimeClaim>{claim(N::exp, 1700000000000.0)};
        QTest::newRow("iat string") << QByteArray(R"({"iat":"yesterday"})")
                                    << QList<TimeClaim>{claim(N::iat, std::nullopt)};
        QTest::newRow("escaped member name") << QByteArray(R"({"\u0065xp":5})") << QList<TimeClaim>{claim(N::exp, 5)};
    }
    void timeClaimsRead()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QList<TimeClaim>, expected);
        QCOMPARE(decoded(jws(hs256, payload)).timeClaims, expected);
    }

    void noTimeClaimsOutsideAnObject()
    {
        QVERIFY(decoded(jws(hs256, "[{\"exp\":1}]")).timeClaims.isEmpty());
        QVERIFY(decoded(jws(hs256, "12")).timeClaims.isEmpty());
    }

    void status_data()
    {
        using N = TimeClaim::Name;
        QTest::addColumn<QList<TimeClaim>>("claims");
        QTest::addColumn<double>("now");
        QTest::addColumn<TimeStatus>("expected");
        QTest::newRow("no claims") << QList<TimeClaim>{} << 100.0 << TimeStatus::noExpiry;
        QTest::newRow("bad exp wins over all") << QList<TimeClaim>{claim(N::exp, std::nullopt), claim(N::nbf, 1e9)}
                                               << 100.0 << TimeStatus::badTimeClaim;
        QTest::newRow("bad nbf") << QList<TimeClaim>{claim(N::exp, 50), claim(N::nbf, std::nullopt)} << 100.0
                                 << TimeStatus::badTimeClaim;
        QTest::newRow("bad iat plays no part") << QList<TimeClaim>{claim(N::iat, std::nullopt)} << 100.0
                                               << TimeStatus::noExpiry;
        QTest::newRow("expired") << QList<TimeClaim>{claim(N::exp, 50)} << 100.0 << TimeStatus::expired;
        QTest::newRow("exp equal to now is expired") << QList<TimeClaim>{claim(N::exp, 100)} << 100.0
                                                     << TimeStatus::expired;
        QTest::newRow("expired beats not yet valid")
            << QList<TimeClaim>{claim(N::exp, 50), claim(N::nbf, 200)} << 100.0 << TimeStatus::expired;
        QTest::newRow("not yet valid") << QList<TimeClaim>{claim(N::exp, 500), claim(N::nbf, 200)} << 100.0
                                       << TimeStatus::notYetValid;
        QTest::newRow("nbf equal to now is valid") << QList<TimeClaim>{claim(N::exp, 500), claim(N::nbf, 100)}
                                                   << 100.0 << TimeStatus::notExpired;
        QTest::newRow("good nbf without exp") << QList<TimeClaim>{claim(N::nbf, 10)} << 100.0 << TimeStatus::noExpiry;
        QTest::newRow("nbf ahead without exp") << QList<TimeClaim>{claim(N::nbf, 1000)} << 100.0
                                               << TimeStatus::notYetValid;
        QTest::newRow("not expired") << QList<TimeClaim>{claim(N::exp, 101)} << 100.0 << TimeStatus::notExpired;
        QTest::newRow("1e300 never expires") << QList<TimeClaim>{claim(N::exp, 1e300)} << 4e9
                                             << TimeStatus::notExpired;
        QTest::newRow("-1e300 always expired") << QList<TimeClaim>{claim(N::exp, -1e300)} << -4e9
                                               << TimeStatus::expired;
        QTest::newRow("first exp counts") << QList<TimeClaim>{claim(N::exp, 500), claim(N::exp, 5)} << 100.0
                                          << TimeStatus::notExpired;
    }
    void status()
    {
        QFETCH(QList<TimeClaim>, claims);
        QFETCH(double, now);
        QFETCH(TimeStatus, expected);
        QCOMPARE(timeStatus(claims, now), expected);
    }

    void claimNames()
    {
        QCOMPARE(TimeClaim::rawValue(TimeClaim::Name::nbf), "nbf");
        QCOMPARE(TimeClaim::fromRawValue(u"iat"), std::optional<TimeClaim::Name>(TimeClaim::Name::iat));
        QCOMPARE(TimeClaim::fromRawValue(u"EXP"), std::nullopt);
    }

    void cleanedPasteDecodes()
    {
        const QString token = jws(hs256, R"({"exp":1})");
        const Decoded a = decoded(token);
        QCOMPARE(decoded("Authorization: Bearer " + token), a);
        QCOMPARE(decoded("\"" + token.left(20) + "\n" + token.mid(20) + "\""), a);
    }

    // Any text at all gets a result: a decoded token or a failure with its sentence.
    void randomTextNeverFails()
    {
        QRandomGenerator random(1414);
        for (int round = 0; round < 3000; ++round) {
            QString text;
            const int length = int(random.bounded(80));
            for (int i = 0; i < length; ++i) {
                const quint32 pick = random.bounded(10);
                if (pick < 3)
                    text.append(u'.');
                else if (pick < 8)
                    text.append(QChar(u"eyJhbGciOiJI{}[]\"'-_+/= \n"[random.bounded(26)]));
                else
                    text.append(QChar(char16_t(random.bounded(0x10000))));
            }
            const Result r = decode(text);
            if (const Failure* f = std::get_if<Failure>(&r))
                QVERIFY(!f->message().isEmpty());
        }
    }

    void randomBytesAsSegments()
    {
        QRandomGenerator random(7);
        for (int round = 0; round < 500; ++round) {
            QByteArray header(int(random.bounded(64)), Qt::Uninitialized);
            QByteArray payload(int(random.bounded(64)), Qt::Uninitialized);
            for (char& c : header)
                c = char(random.bounded(256));
            for (char& c : payload)
                c = char(random.bounded(256));
            const Result r = decode(jws(header, payload));
            QVERIFY(std::holds_alternative<Failure>(r) || std::get<Decoded>(r).segmentCount == 3);
        }
        // A valid header over random payload bytes is always decoded and classified.
        for (int round = 0; round < 300; ++round) {
            QByteArray payload(int(random.bounded(1, 64)), Qt::Uninitialized);
            for (char& c : payload)
                c = char(random.bounded(256));
            const Decoded d = decoded(jws(hs256, payload));
            QCOMPARE(d.payloadByteCount, payload.size());
        }
    }

    void largeTokens()
    {
        // About five megabytes of payload text.
        const QByteArray claims = "{\"data\":\"" + QByteArray(3'700'000, 'x') + "\",\"exp\":5}";
        const QString token = jws(hs256, claims);
        QVERIFY(token.size() > 4'900'000);
        const Decoded d = decoded(token);
        QCOMPARE(d.payloadByteCount, claims.size());
        QCOMPARE(d.payload.claimCount, std::optional<qsizetype>(2));
        QCOMPARE(d.timeClaims.size(), 1);
        // Five megabytes of one piece and of dots.
        QCOMPARE(*failure(QString(5'000'000, u'A')), Failure::segments(1));
        QCOMPARE(*failure(QString(5'000'000, u'.')), Failure::segments(5'000'001));
        QCOMPARE(*failure(b64u(hs256) + "." + QString(5'000'000, u'A') + "B.e30"), Failure::notBase64URL(2, "payload"));
    }
};

QUORRIX_TEST_MAIN(JWTDecoderTest)
#include "JWTDecoderTest.moc"
