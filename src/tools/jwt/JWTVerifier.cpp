#include "tools/jwt/JWTVerifier.h"

#include "tools/jwt/JWTVerifierLibrary.h"

namespace JWTVerifier {

int bitCount(Hash hash) { return 256 + 128 * int(hash); }

int coordinateLength(Hash hash)
{
    switch (hash) {
    case Hash::sha256: return 32;
    case Hash::sha384: return 48;
    case Hash::sha512: return 66;
    }
    return 32;
}

QString curveName(Hash hash)
{
    switch (hash) {
    case Hash::sha256: return QStringLiteral("P-256");
    case Hash::sha384: return QStringLiteral("P-384");
    case Hash::sha512: return QStringLiteral("P-521");
    }
    return QString();
}

QString notCurveMessage(Hash hash)
{
    return QStringLiteral("Not a %1 public key, which ES%2 needs.").arg(curveName(hash)).arg(bitCount(hash));
}

QString privateKeyMessage()
{
    return QStringLiteral("This is a private key. A signature is checked with the public key, so paste that "
                          "instead; the private key need never leave where it is kept.");
}

QString notRSAMessage(Algorithm algorithm)
{
    return QStringLiteral("Not an RSA public key, which %1 needs.").arg(algorithm.name());
}

QString notEd25519Message(Algorithm algorithm)
{
    return QStringLiteral("Not an Ed25519 public key, which %1 needs.").arg(algorithm.name());
}

QString ed448Message()
{
    return QStringLiteral("This is an Ed448 key. Only Ed25519 can be checked here: Ed448 is not supported.");
}

std::optional<Algorithm> Algorithm::fromName(QStringView name)
{
    if (name == u"EdDSA")
        return Algorithm{Family::eddsa, Hash::sha256, false};
    if (name == u"Ed25519")
        return Algorithm{Family::eddsa, Hash::sha256, true};
    if (name.size() != 5)
        return std::nullopt;
    Algorithm algorithm;
    const QStringView bits = name.mid(2);
    if (bits == u"256")
        algorithm.hash = Hash::sha256;
    else if (bits == u"384")
        algorithm.hash = Hash::sha384;
    else if (bits == u"512")
        algorithm.hash = Hash::sha512;
    else
        return std::nullopt;
    const QStringView family = name.left(2);
    if (family == u"HS")
        algorithm.family = Family::hs;
    else if (family == u"RS")
        algorithm.family = Family::rs;
    else if (family == u"PS")
        algorithm.family = Family::ps;
    else if (family == u"ES")
        algorithm.family = Family::es;
    else
        return std::nullopt;
    return algorithm;
}

QString Algorithm::name() const
{
    switch (family) {
    case Family::hs: return QStringLiteral("HS%1").arg(bitCount(hash));
    case Family::rs: return QStringLiteral("RS%1").arg(bitCount(hash));
    case Family::ps: return QStringLiteral("PS%1").arg(bitCount(hash));
    case Family::es: return QStringLiteral("ES%1").arg(bitCount(hash));
    case Family::eddsa: return spelledEd25519 ? QStringLiteral("Ed25519") : QStringLiteral("EdDSA");
    }
    return QString();
}

Outcome verify(QStringView token, QStringView key, bool secretIsBase64)
{
    return verify(JWTToken::read(token), key, secretIsBase64);
}

Outcome verify(const JWTToken& token, QStringView key, bool secretIsBase64)
{
    if (token.segmentCount() == 5)
        return Outcome::encrypted();
    if (token.segmentCount() != 3)
        return Outcome::malformed();
    const std::optional<JWTJSONValue>& header = token.header();
    // A name given twice could be read one way here and another way by the token's consumer.
    if (!header || !header->isObject() || header->hasDuplicateMember())
        return Outcome::malformed();
    if (!token.bytes(2))
        return Outcome::malformed();
    const QString alg = header->stringMember(u"alg").value_or(QString());
    if (alg.compare(u"none", Qt::CaseInsensitive) == 0)
        return Outcome::unsignedToken();
    const std::optional<Algorithm> algorithm = Algorithm::fromName(alg);
    if (!algorithm)
        return Outcome::unsupported(alg);
    const QStringView trimmedKey = key.trimmed();
    if (trimmedKey.isEmpty())
        return Outcome::noKey();
    QByteArray input = token.piece(0).toUtf8();
    input.append('.');
    input.append(token.piece(1).toUtf8());
    const std::optional<QString> kid = header->stringMember(u"kid");
    const JWTVerifierLibrary::CheckSignature check = JWTVerifierLibrary::checkSignature();
    if (!check)
        return Outcome::badKey(JWTVerifierLibrary::notLoadedMessage());
    return check(*token.bytes(2), input, trimmedKey, *algorithm, kid, secretIsBase64);
}

} // namespace JWTVerifier
