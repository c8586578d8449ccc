#include "tools/jwt/JWTDecoder.h"

#include "formats/Utf8Decoder.h"

#include <cmath>

namespace JWTDecoder {

namespace {

bool isWhite(QChar c) { return c.isSpace(); }

QStringView trimmedWhite(QStringView text)
{
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && isWhite(text[b]))
        ++b;
    while (e > b && isWhite(text[e - 1]))
        --e;
    return text.mid(b, e - b);
}

QStringView withoutQuotes(QStringView text, QChar quote)
{
    if (text.size() >= 2 && text.front() == quote && text.back() == quote)
        return text.mid(1, text.size() - 2);
    return text;
}

QStringView skipWhite(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && isWhite(text[i]))
        ++i;
    return text.mid(i);
}

} // namespace

QString TimeClaim::rawValue(Name name)
{
    switch (name) {
    case Name::exp: return QStringLiteral("exp");
    case Name::nbf: return QStringLiteral("nbf");
    case Name::iat: return QStringLiteral("iat");
    }
    return QString();
}

std::optional<TimeClaim::Name> TimeClaim::fromRawValue(QStringView text)
{
    for (Name name : allNames)
        if (text == rawValue(name))
            return name;
    return std::nullopt;
}

QString Failure::message() const
{
    switch (kind) {
    case Kind::empty: return QStringLiteral("Paste a token to decode it.");
    case Kind::headerNotJSONObject: return QStringLiteral("The header does not decode to a JSON object.");
    case Kind::segmentCount:
        return QStringLiteral("A JWT has three parts separated by dots, or five when it is encrypted. This has %1 %2.")
            .arg(count)
            .arg(count == 1 ? QStringLiteral("part") : QStringLiteral("parts"));
    case Kind::notBase64URL: return QStringLiteral("Part %1, the %2, is not base64url.").arg(count).arg(name);
    }
    return QString();
}

QString segmentName(qsizetype segmentCount, qsizetype position)
{
    static const char* const signedNames[] = {"header", "payload", "signature"};
    static const char* const encryptedNames[] = {"header", "encrypted key", "initialization vector", "ciphertext",
                                                 "authentication tag"};
    if (segmentCount == 3 && position >= 1 && position <= 3)
        return QString::fromLatin1(signedNames[position - 1]);
    if (segmentCount == 5 && position >= 1 && position <= 5)
        return QString::fromLatin1(encryptedNames[position - 1]);
    return QString();
}

QString cleanToken(QStringView text)
{
    QStringView t = trimmedWhite(text);
    t = withoutQuotes(t, u'"');
    t = withoutQuotes(t, u'\'');
    static const QString authorization = QStringLiteral("authorization:");
    if (t.startsWith(authorization, Qt::CaseInsensitive))
        t = skipWhite(t.mid(authorization.size()));
    static const QString bearer = QStringLiteral("bearer");
    if (t.startsWith(bearer, Qt::CaseInsensitive) && (t.size() == bearer.size() || isWhite(t[bearer.size()])))
        t = skipWhite(t.mid(bearer.size()));
    QString out;
    out.reserve(t.size());
    const QChar* p = t.data();
    const QChar* end = p + t.size();
    while (p < end) {
        // Copy runs between white space in one piece.
        const QChar* run = p;
        while (p < end && !isWhite(*p))
            ++p;
        out.append(run, p - run);
        while (p < end && isWhite(*p))
            ++p;
    }
    return out;
}

std::pair<Payload, std::optional<JWTJSONValue>> classifyPayload(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return {Payload::detached(), std::nullopt};
    const std::optional<QString> text = Utf8Decoder::decode(bytes);
    if (!text)
        return {Payload::binary(bytes.size()), std::nullopt};
    if (std::optional<JWTJSONValue> value = JWTJSONValue::parse(*text)) {
        if (value->isObject())
            return {Payload::json(value->formatted(), value->distinctMemberCount()), value};
        return {Payload::json(value->formatted(), std::nullopt), std::nullopt};
    }
    return {Payload::plainText(*text), std::nullopt};
}

QList<TimeClaim> timeClaims(const JWTJSONValue& object)
{
    QList<TimeClaim> claims;
    for (TimeClaim::Name name : TimeClaim::allNames) {
        const std::optional<JWTJSONValue> value = object.member(TimeClaim::rawValue(name));
        if (!value)
            continue;
        TimeClaim claim{name, std::nullopt};
        if (value->isNumber()) {
            const double seconds = value->number();
            if (std::isfinite(seconds))
                claim.date = seconds;
        }
        claims.append(claim);
    }
    return claims;
}

Result decode(QStringView text) { return decode(JWTToken::read(text)); }

Result decode(const JWTToken& token)
{
    if (token.cleaned().isEmpty())
        return Failure::emptyToken();
    const qsizetype count = token.segmentCount();
    if (count != 3 && count != 5)
        return Failure::segments(count);
    for (qsizetype i = 0; i < count; ++i)
        if (!token.bytes(i))
            return Failure::notBase64URL(i + 1, segmentName(count, i + 1));
    const std::optional<JWTJSONValue>& header = token.header();
    if (!header || !header->isObject())
        return Failure::headerNotJSONObject();

    Decoded decoded;
    decoded.header = header->formatted();
    decoded.algorithm = header->stringMember(u"alg");
    decoded.segmentCount = int(count);
    if (count == 5) {
        decoded.payload = Payload::encrypted();
        decoded.payloadByteCount = token.bytes(3)->size();
        return decoded;
    }
    const QByteArray& payloadBytes = *token.bytes(1);
    auto [payload, object] = classifyPayload(payloadBytes);
    decoded.payload = std::move(payload);
    decoded.payloadByteCount = payloadBytes.size();
    decoded.signatureByteCount = token.bytes(2)->size();
    if (object)
        decoded.timeClaims = timeClaims(*object);
    return decoded;
}

TimeStatus timeStatus(const QList<TimeClaim>& claims, double now)
{
    const TimeClaim* exp = nullptr;
    const TimeClaim* nbf = nullptr;
    for (const TimeClaim& claim : claims) {
        if (claim.name == TimeClaim::Name::exp && !exp)
            exp = &claim;
        if (claim.name == TimeClaim::Name::nbf && !nbf)
            nbf = &claim;
    }
    if (exp && !exp->date)
        return TimeStatus::badTimeClaim;
    if (nbf && !nbf->date)
        return TimeStatus::badTimeClaim;
    if (exp && now >= *exp->date)
        return TimeStatus::expired;
    if (nbf && now < *nbf->date)
        return TimeStatus::notYetValid;
    if (exp)
        return TimeStatus::notExpired;
    return TimeStatus::noExpiry;
}

} // namespace JWTDecoder
