// Key text: shared secrets, PEM framing, the DER walk of certificates and public-key infos.
#include "tools/jwt/JWTVerifier.h"

#include "formats/Encodings.h"

#include <QList>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace JWTVerifier {

namespace {

const QByteArray rsaEncryptionOID = QByteArray::fromHex("2a864886f70d010101");
const QByteArray ed25519OID = QByteArray::fromHex("2b6570");
const QByteArray ed448OID = QByteArray::fromHex("2b6571");

constexpr quint8 sequenceTag = 0x30;
constexpr quint8 integerTag = 0x02;
constexpr quint8 bitStringTag = 0x03;
constexpr quint8 oidTag = 0x06;
constexpr quint8 versionTag = 0xA0;

bool isHMAC(Algorithm algorithm) { return algorithm.family == Algorithm::Family::hs; }

bool isLineBreak(QChar c)
{
    const char16_t u = c.unicode();
    return u == 0x0A || u == 0x0B || u == 0x0C || u == 0x0D || u == 0x85 || u == 0x2028 || u == 0x2029;
}

// Non-empty lines; CR LF counts as one break (and empty lines are dropped anyway).
QList<QStringView> nonEmptyLines(QStringView text)
{
    QList<QStringView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isLineBreak(text[i])) {
            if (i > start)
                lines.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    return lines;
}

// The first PEM framing line (BEGIN or END, in any case), after blanks or a byte-order mark; its
// label is the text between the keyword's blank and the next "-----". A line that has lost its
// BEGIN line or its capitals still frames a key.
std::optional<QString> pemFramingLabel(QStringView text)
{
    for (QStringView line : nonEmptyLines(text)) {
        qsizetype i = 0;
        while (i < line.size() && (line[i].isSpace() || line[i] == QChar(0xFEFF)))
            ++i;
        line = line.mid(i);
        for (QStringView keyword : {QStringView(u"-----BEGIN"), QStringView(u"-----END")}) {
            if (!line.startsWith(keyword, Qt::CaseInsensitive))
                continue;
            QStringView rest = line.mid(keyword.size());
            if (!rest.isEmpty() && rest.front() != u' ' && rest.front() != u'-')
                continue; // "-----ENDLESS" is no framing
            if (rest.startsWith(u' '))
                rest = rest.mid(1);
            const qsizetype end = rest.indexOf(u"-----");
            return (end >= 0 ? rest.left(end) : rest).toString();
        }
    }
    return std::nullopt;
}

QString publicKeyOnlyMessage(Algorithm algorithm)
{
    return QStringLiteral("%1 is checked with a public key: a PEM, a certificate, a JWK or a JWK set.")
        .arg(algorithm.name());
}

// DER that OpenSSL reads whole as a public-key info, a PKCS #1 RSA public key or a certificate.
bool isPublicKeyDER(const QByteArray& der)
{
    const auto readsWhole = [&der](auto read) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(der.constData());
        const unsigned char* start = p;
        return read(&p) && p - start == der.size();
    };
    return readsWhole([&der](const unsigned char** p) {
               std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(d2i_PUBKEY(nullptr, p, long(der.size())),
                                                                         EVP_PKEY_free);
               return key != nullptr;
           })
        || readsWhole([&der](const unsigned char** p) {
               std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
                   d2i_PublicKey(EVP_PKEY_RSA, nullptr, p, long(der.size())), EVP_PKEY_free);
               return key != nullptr;
           })
        || readsWhole([&der](const unsigned char** p) {
               std::unique_ptr<X509, decltype(&X509_free)> certificate(d2i_X509(nullptr, p, long(der.size())),
                                                                       X509_free);
               return certificate != nullptr;
           });
}

// The uncompressed point of one of the ES curves, with or without its leading 0x04.
bool isECPoint(const QByteArray& bytes)
{
    for (Hash hash : {Hash::sha256, Hash::sha384, Hash::sha512}) {
        const qsizetype coordinates = 2 * coordinateLength(hash);
        QByteArray point;
        if (bytes.size() == 1 + coordinates && bytes.at(0) == 0x04)
            point = bytes;
        else if (bytes.size() == coordinates)
            point = char(0x04) + bytes;
        if (!point.isEmpty() && ecKey(ECKeyBytes{ECKeyBytes::Form::x963, point}, hash, QString()).key)
            return true;
    }
    return false;
}

bool isPublicKeyBytes(const QByteArray& bytes) { return isPublicKeyDER(bytes) || isECPoint(bytes); }

// A JWK of any type but oct, also one whose "kty" went missing but which holds public members.
bool isPublicJWK(const JWTJSONValue& value)
{
    if (!value.isObject())
        return false;
    if (const std::optional<JWTJSONValue> keys = value.member(u"keys"); keys && keys->isArray()) {
        for (const JWTJSONValue& key : keys->elements())
            if (isPublicJWK(key))
                return true;
    }
    if (const std::optional<QString> kty = value.stringMember(u"kty"))
        return *kty != u"oct";
    for (QStringView name : {u"n", u"e", u"x", u"y", u"crv", u"x5c"})
        if (value.hasMember(name))
            return true;
    return false;
}

QString certificateUnreadable() { return QStringLiteral("This certificate could not be read."); }

} // namespace

bool secretIsPublicKey(const QByteArray& secret)
{
    if (secret.isEmpty())
        return false;
    if (isPublicKeyBytes(secret))
        return true;
    const QString text = QString::fromUtf8(secret).trimmed();
    if (pemFramingLabel(text))
        return true;
    if (text.startsWith(u'{')) {
        if (const std::optional<JWTJSONValue> json = JWTJSONValue::parse(text); json && isPublicJWK(*json))
            return true;
    }
    // The key's bytes written out: the Base64 body of a PEM without its framing, or hex.
    const std::optional<QByteArray> decoded = Encodings::base64URLDecode(text);
    if (decoded && !decoded->isEmpty() && isPublicKeyBytes(*decoded))
        return true;
    const std::optional<QByteArray> hex = Encodings::hexDecode(text);
    return hex && !hex->isEmpty() && isPublicKeyBytes(*hex);
}

QString publicKeyAsSecretMessage(Algorithm algorithm)
{
    return QStringLiteral("This is a public key or a certificate, but %1 is checked with the shared secret.")
        .arg(algorithm.name());
}

KeyReading readKey(QStringView text, Algorithm algorithm, const std::optional<QString>& kid, bool secretIsBase64)
{
    if (text.startsWith(u"-----BEGIN"))
        return readPEM(text, algorithm);
    if (text.startsWith(u'{')) {
        if (std::optional<JWTJSONValue> json = JWTJSONValue::parse(text.toString())) {
            if (json->isObject() && (json->hasMember(u"kty") || json->hasMember(u"keys")))
                return keyFromJWKOrSet(*json, algorithm, kid);
        }
    }
    if (!isHMAC(algorithm))
        return KeyReading::refused(publicKeyOnlyMessage(algorithm));
    // A public key used as an HMAC secret would let anyone who has it sign tokens.
    if (const std::optional<QString> label = pemFramingLabel(text))
        return KeyReading::refused(label->contains(u"PRIVATE", Qt::CaseInsensitive)
                                       ? privateKeyMessage()
                                       : publicKeyAsSecretMessage(algorithm));
    if (!secretIsBase64)
        return hmacKey(text.toUtf8(), algorithm, QString());
    // The text itself may be the key, in a form that also reads as Base64 (hex, say).
    if (secretIsPublicKey(text.toUtf8()))
        return KeyReading::refused(publicKeyAsSecretMessage(algorithm));
    const std::optional<QByteArray> secret = Encodings::base64URLDecode(text);
    if (!secret || secret->isEmpty())
        return KeyReading::refused(QStringLiteral("The secret is not Base64. Turn Base64 off to use it as text."));
    return hmacKey(*secret, algorithm, QString());
}

KeyReading readPEM(QStringView text, Algorithm algorithm)
{
    QString label;
    const qsizetype begin = text.indexOf(u"-----BEGIN ");
    if (begin >= 0) {
        const qsizetype start = begin + 11;
        const qsizetype end = text.indexOf(u"-----", start);
        if (end >= 0)
            label = text.mid(start, end - start).toString();
    }
    if (label.contains(u"PRIVATE"))
        return KeyReading::refused(privateKeyMessage());
    if (isHMAC(algorithm))
        return KeyReading::refused(publicKeyAsSecretMessage(algorithm));
    const std::optional<QByteArray> body = pemBody(text);
    if (!body)
        return KeyReading::refused(QStringLiteral("The PEM's body is not Base64."));
    if (label == u"CERTIFICATE")
        return certificateKey(*body, algorithm);
    const bool rsaLabel = label == u"RSA PUBLIC KEY";
    const bool spkiLabel = label == u"PUBLIC KEY";
    if (!rsaLabel && !spkiLabel)
        return KeyReading::refused(QStringLiteral("A PEM labelled %1 is not a key this tool reads.").arg(label));
    switch (algorithm.family) {
    case Algorithm::Family::rs:
    case Algorithm::Family::ps: {
        if (rsaLabel)
            return rsaKey(*body, algorithm, QString());
        const std::optional<QByteArray> pkcs1 = rsaPKCS1(*body);
        if (!pkcs1)
            return KeyReading::refused(notRSAMessage(algorithm));
        return rsaKey(*pkcs1, algorithm, QString());
    }
    case Algorithm::Family::es:
        if (rsaLabel)
            return KeyReading::refused(notCurveMessage(algorithm.hash));
        return ecKey(ECKeyBytes{ECKeyBytes::Form::der, *body}, algorithm.hash, QString());
    case Algorithm::Family::eddsa: {
        if (rsaLabel)
            return KeyReading::refused(notEd25519Message(algorithm));
        DERCursor cursor{*body};
        const std::optional<QByteArray> spki = cursor.read(sequenceTag);
        if (!spki)
            return KeyReading::refused(notEd25519Message(algorithm));
        return ed25519KeyFromSPKI(*spki, algorithm, QString());
    }
    case Algorithm::Family::hs: break;
    }
    return KeyReading::refused(QStringLiteral("A PEM labelled %1 is not a key this tool reads.").arg(label));
}

std::optional<QByteArray> pemBody(QStringView text)
{
    const QList<QStringView> lines = nonEmptyLines(text);
    qsizetype b = -1;
    qsizetype e = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (b < 0 && lines[i].startsWith(u"-----BEGIN"))
            b = i;
        if (e < 0 && lines[i].startsWith(u"-----END"))
            e = i;
    }
    if (b < 0 || e < 0 || b >= e)
        return std::nullopt;
    QString joined;
    for (qsizetype i = b + 1; i < e; ++i)
        joined.append(lines[i]);
    return Encodings::base64URLDecode(joined);
}

KeyReading certificateKey(const QByteArray& der, Algorithm algorithm)
{
    const QString suffix = QStringLiteral(", from a certificate");
    if (algorithm.family == Algorithm::Family::eddsa) {
        const std::optional<QByteArray> spki = certificateSPKI(der);
        if (!spki)
            return KeyReading::refused(certificateUnreadable());
        return ed25519KeyFromSPKI(*spki, algorithm, suffix);
    }
    const unsigned char* start = reinterpret_cast<const unsigned char*>(der.constData());
    const unsigned char* p = start;
    std::unique_ptr<X509, decltype(&X509_free)> certificate(d2i_X509(nullptr, &p, long(der.size())), X509_free);
    if (!certificate || p != start + der.size())
        return KeyReading::refused(certificateUnreadable());
    EVP_PKEY* key = X509_get0_pubkey(certificate.get());
    if (!key)
        return KeyReading::refused(certificateUnreadable());
    if (algorithm.family == Algorithm::Family::es)
        return ecVerificationKey(key, algorithm.hash, suffix);
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA)
        return KeyReading::refused(notRSAMessage(algorithm));
    // The RSAPublicKey itself goes through the same checks as a pasted one.
    const std::optional<QByteArray> spki = certificateSPKI(der);
    const auto parts = spki ? spkiParts(*spki) : std::nullopt;
    if (!parts)
        return KeyReading::refused(certificateUnreadable());
    if (parts->first != rsaEncryptionOID)
        return KeyReading::refused(notRSAMessage(algorithm));
    return rsaKey(parts->second, algorithm, suffix);
}

std::optional<QByteArray> DERCursor::read(quint8 tag)
{
    const qsizetype n = bytes.size();
    const qsizetype p = position;
    if (p < 0 || p + 2 > n || quint8(bytes.at(p)) != tag)
        return std::nullopt;
    const quint8 first = quint8(bytes.at(p + 1));
    qsizetype length = 0;
    qsizetype content = p + 2;
    if (first < 0x80) {
        length = first;
    } else if (first >= 0x81 && first <= 0x84) {
        const int count = first - 0x80;
        if (content + count > n)
            return std::nullopt;
        for (int i = 0; i < count; ++i)
            length = (length << 8) | quint8(bytes.at(content + i));
        content += count;
    } else {
        return std::nullopt;
    }
    if (length > n - content)
        return std::nullopt;
    position = content + length;
    return bytes.mid(content, length);
}

std::optional<QByteArray> certificateSPKI(const QByteArray& certificate)
{
    DERCursor outer{certificate};
    const std::optional<QByteArray> cert = outer.read(sequenceTag);
    if (!cert)
        return std::nullopt;
    DERCursor certCursor{*cert};
    const std::optional<QByteArray> tbs = certCursor.read(sequenceTag);
    if (!tbs)
        return std::nullopt;
    DERCursor cursor{*tbs};
    (void)cursor.read(versionTag); // absent in a version 1 certificate
    if (!cursor.read(integerTag))
        return std::nullopt;
    std::optional<QByteArray> element;
    for (int i = 0; i < 5; ++i) {
        element = cursor.read(sequenceTag);
        if (!element)
            return std::nullopt;
    }
    return element;
}

std::optional<std::pair<QByteArray, QByteArray>> spkiParts(const QByteArray& spkiContent)
{
    DERCursor cursor{spkiContent};
    const std::optional<QByteArray> algorithmIdentifier = cursor.read(sequenceTag);
    if (!algorithmIdentifier)
        return std::nullopt;
    const std::optional<QByteArray> bits = cursor.read(bitStringTag);
    if (!bits || bits->isEmpty() || bits->at(0) != 0)
        return std::nullopt;
    DERCursor inner{*algorithmIdentifier};
    const std::optional<QByteArray> oid = inner.read(oidTag);
    if (!oid)
        return std::nullopt;
    return std::make_pair(*oid, bits->mid(1));
}

std::optional<QByteArray> rsaPKCS1(const QByteArray& spki)
{
    DERCursor cursor{spki};
    const std::optional<QByteArray> content = cursor.read(sequenceTag);
    if (!content)
        return std::nullopt;
    const auto parts = spkiParts(*content);
    if (!parts || parts->first != rsaEncryptionOID)
        return std::nullopt;
    return parts->second;
}

KeyReading ed25519KeyFromSPKI(const QByteArray& spkiContent, Algorithm algorithm, const QString& suffix)
{
    const auto parts = spkiParts(spkiContent);
    if (!parts)
        return KeyReading::refused(notEd25519Message(algorithm));
    if (parts->first == ed448OID)
        return KeyReading::refused(ed448Message());
    if (parts->first == ed25519OID)
        return ed25519Key(parts->second, algorithm, suffix);
    return KeyReading::refused(notEd25519Message(algorithm));
}

} // namespace JWTVerifier
