// JSON Web Keys and key sets: choosing the key, reading its members, RSA keys as DER.
#include "tools/jwt/JWTVerifier.h"

#include "formats/Encodings.h"

namespace JWTVerifier {

namespace {

QString keyType(const JWTJSONValue& jwk) { return jwk.stringMember(u"kty").value_or(QStringLiteral("untyped")); }

// "keys" holding an array of objects only (an empty array counts).
std::optional<std::vector<JWTJSONValue>> setKeys(const JWTJSONValue& object)
{
    const std::optional<JWTJSONValue> keys = object.member(u"keys");
    if (!keys || !keys->isArray())
        return std::nullopt;
    std::vector<JWTJSONValue> elements = keys->elements();
    for (const JWTJSONValue& element : elements)
        if (!element.isObject())
            return std::nullopt;
    return elements;
}

} // namespace

KeyReading keyFromJWKOrSet(const JWTJSONValue& object, Algorithm algorithm, const std::optional<QString>& kid)
{
    const std::optional<std::vector<JWTJSONValue>> keys = setKeys(object);
    if (!keys)
        return keyFromJWK(object, algorithm, QStringLiteral(", from a JWK"));
    if (kid) {
        for (const JWTJSONValue& key : *keys) {
            if (key.stringMember(u"kid") == *kid)
                return keyFromJWK(key, algorithm, QStringLiteral(", from a JWK set, kid ") + *kid);
        }
        return KeyReading::refused(
            QStringLiteral("No key in this JWK set has the kid “%1”, which the token names.").arg(*kid));
    }
    const JWTJSONValue* candidate = nullptr;
    qsizetype candidates = 0;
    for (const JWTJSONValue& key : *keys) {
        if (jwkCouldFit(key, algorithm)) {
            if (!candidate)
                candidate = &key;
            ++candidates;
        }
    }
    if (candidates == 0)
        return KeyReading::refused(QStringLiteral("No key in this JWK set fits %1.").arg(algorithm.name()));
    if (candidates > 1)
        return KeyReading::refused(QStringLiteral("The token names no kid, and %1 keys in this JWK set could fit. "
                                                  "Paste the one that signed it.")
                                       .arg(candidates));
    return keyFromJWK(*candidate, algorithm, QStringLiteral(", from a JWK set"));
}

bool jwkCouldFit(const JWTJSONValue& jwk, Algorithm algorithm)
{
    const std::optional<QString> kty = jwk.stringMember(u"kty");
    if (!kty)
        return false;
    switch (algorithm.family) {
    case Algorithm::Family::hs: return *kty == u"oct";
    case Algorithm::Family::rs:
    case Algorithm::Family::ps: return *kty == u"RSA";
    case Algorithm::Family::es: return *kty == u"EC" && jwk.stringMember(u"crv") == curveName(algorithm.hash);
    case Algorithm::Family::eddsa: return *kty == u"OKP" && jwk.stringMember(u"crv") == QStringLiteral("Ed25519");
    }
    return false;
}

KeyReading keyFromJWK(const JWTJSONValue& jwk, Algorithm algorithm, const QString& suffix)
{
    const QString kty = keyType(jwk);
    if (kty != u"oct" && jwk.hasMember(u"d"))
        return KeyReading::refused(privateKeyMessage());
    switch (algorithm.family) {
    case Algorithm::Family::hs: {
        if (kty == u"oct") {
            const std::optional<QByteArray> k = base64URLMember(u"k", jwk);
            if (k && !k->isEmpty())
                return hmacKey(*k, algorithm, suffix);
        }
        return KeyReading::refused(QStringLiteral("%1 needs an oct JWK, with the secret in k. This one is %2.")
                                       .arg(algorithm.name(), kty));
    }
    case Algorithm::Family::rs:
    case Algorithm::Family::ps: {
        const std::optional<QByteArray> n = base64URLMember(u"n", jwk);
        const std::optional<QByteArray> e = base64URLMember(u"e", jwk);
        if (kty != u"RSA" || !n || !e)
            return KeyReading::refused(notRSAMessage(algorithm));
        return rsaKey(rsaPublicKeyDER(*n, *e), algorithm, suffix);
    }
    case Algorithm::Family::es: {
        const std::optional<QByteArray> x = base64URLMember(u"x", jwk);
        const std::optional<QByteArray> y = base64URLMember(u"y", jwk);
        // Coordinates are written at the curve's full length; a short one is not this curve's point.
        const qsizetype size = coordinateLength(algorithm.hash);
        if (kty != u"EC" || jwk.stringMember(u"crv") != curveName(algorithm.hash) || !x || !y || x->size() != size
            || y->size() != size)
            return KeyReading::refused(notCurveMessage(algorithm.hash));
        QByteArray point;
        point.reserve(1 + 2 * size);
        point.append(char(0x04));
        point.append(*x);
        point.append(*y);
        return ecKey(ECKeyBytes{ECKeyBytes::Form::x963, point}, algorithm.hash, suffix);
    }
    case Algorithm::Family::eddsa: {
        if (kty != u"OKP")
            return KeyReading::refused(notEd25519Message(algorithm));
        const std::optional<QString> crv = jwk.stringMember(u"crv");
        if (crv == QStringLiteral("Ed448"))
            return KeyReading::refused(ed448Message());
        const std::optional<QByteArray> x = base64URLMember(u"x", jwk);
        if (crv == QStringLiteral("Ed25519") && x)
            return ed25519Key(*x, algorithm, suffix);
        return KeyReading::refused(notEd25519Message(algorithm));
    }
    }
    return KeyReading::refused(notRSAMessage(algorithm));
}

std::optional<QByteArray> base64URLMember(QStringView name, const JWTJSONValue& jwk)
{
    const std::optional<QString> text = jwk.stringMember(name);
    if (!text)
        return std::nullopt;
    return Encodings::base64URLDecode(*text);
}

QByteArray derLength(qsizetype count)
{
    QByteArray out;
    if (count < 128) {
        out.append(char(count));
        return out;
    }
    QByteArray digits;
    for (qsizetype c = count; c > 0; c >>= 8)
        digits.prepend(char(c & 0xFF));
    out.append(char(0x80 + digits.size()));
    out.append(digits);
    return out;
}

QByteArray derInteger(const QByteArray& unsignedBigEndian)
{
    qsizetype start = 0;
    while (start < unsignedBigEndian.size() && unsignedBigEndian.at(start) == 0)
        ++start;
    QByteArray content = unsignedBigEndian.mid(start);
    if (content.isEmpty())
        content = QByteArray(1, '\0');
    else if (quint8(content.at(0)) >= 0x80)
        content.prepend('\0');
    QByteArray out;
    out.append(char(0x02));
    out.append(derLength(content.size()));
    out.append(content);
    return out;
}

QByteArray rsaPublicKeyDER(const QByteArray& n, const QByteArray& e)
{
    const QByteArray body = derInteger(n) + derInteger(e);
    QByteArray out;
    out.append(char(0x30));
    out.append(derLength(body.size()));
    out.append(body);
    return out;
}

} // namespace JWTVerifier
