#pragma once

#include "tools/jwt/JWTJSONValue.h"
#include "tools/jwt/JWTToken.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

// Checks a compact token's signature on this computer against a key text: a shared secret (as
// text or Base64), a PEM public key or certificate, a JWK or a JWK set. Every problem is an
// outcome with a sentence; nothing is thrown, stored or sent. Pure functions; any thread.
struct evp_pkey_st;

namespace JWTVerifier {

struct Outcome {
    enum class Kind { verified, mismatch, unsupported, badKey, noKey, unsigned_, encrypted, malformed };
    Kind kind = Kind::malformed;
    // verified, mismatch: the key's description; unsupported: the alg as written; badKey: the sentence
    QString text;

    static Outcome verified(QString key) { return {Kind::verified, std::move(key)}; }
    static Outcome mismatch(QString key) { return {Kind::mismatch, std::move(key)}; }
    static Outcome unsupported(QString algorithm) { return {Kind::unsupported, std::move(algorithm)}; }
    static Outcome badKey(QString sentence) { return {Kind::badKey, std::move(sentence)}; }
    static Outcome noKey() { return {Kind::noKey, QString()}; }
    static Outcome unsignedToken() { return {Kind::unsigned_, QString()}; }
    static Outcome encrypted() { return {Kind::encrypted, QString()}; }
    static Outcome malformed() { return {Kind::malformed, QString()}; }

    friend bool operator==(const Outcome&, const Outcome&) = default;
};

enum class Hash { sha256, sha384, sha512 };
int bitCount(Hash hash);
// Bytes of one coordinate (and of r or s) on the curve an ES hash goes with: 32, 48, 66.
int coordinateLength(Hash hash);

struct Algorithm {
    enum class Family { hs, rs, ps, es, eddsa };
    Family family = Family::hs;
    Hash hash = Hash::sha256;     // meaningless for eddsa
    bool spelledEd25519 = false;  // eddsa: the header wrote "Ed25519" rather than "EdDSA"

    // Exactly the accepted names, case-sensitive; anything else gives none.
    static std::optional<Algorithm> fromName(QStringView name);
    QString name() const;

    friend bool operator==(const Algorithm&, const Algorithm&) = default;
};

// The curve an ES algorithm needs: "P-256", "P-384", "P-521".
QString curveName(Hash hash);
// "Not a <curve> public key, which ES<bits> needs."
QString notCurveMessage(Hash hash);

struct VerificationKey {
    QString description;
    // signature bytes, signing input; true only when the platform says the signature is valid.
    std::function<bool(const QByteArray& signature, const QByteArray& input)> check;
};

struct KeyReading {
    std::optional<VerificationKey> key;
    QString refusal; // when there is no key

    static KeyReading accepted(VerificationKey key) { return KeyReading{std::move(key), QString()}; }
    static KeyReading refused(QString sentence) { return KeyReading{std::nullopt, std::move(sentence)}; }
};

struct ECKeyBytes {
    enum class Form { der, x963 };
    Form form = Form::der;
    QByteArray bytes; // der: a SubjectPublicKeyInfo; x963: 0x04 ‖ X ‖ Y
};

// The entry: the token text, the key text, whether a shared secret is Base64. The key is read
// and the signature checked by checkSignature() from the library of the checks
// (JWTVerifierLibrary), loaded the first time a token comes with a key.
Outcome verify(QStringView token, QStringView key, bool secretIsBase64);
// The same from a token read already (the decoder may share the reading).
Outcome verify(const JWTToken& token, QStringView key, bool secretIsBase64);

// What follows is the library of the checks (src/tools/jwt/checks/), the one part of the tool
// that calls OpenSSL. The signature over `input` (the token's first two parts) checked with the
// key in `key` (trimmed, not empty) for `algorithm`; `kid` is the header's key id.
Outcome checkSignature(const QByteArray& signature, const QByteArray& input, QStringView key, Algorithm algorithm,
                       const std::optional<QString>& kid, bool secretIsBase64);

// Key makers; `suffix` says where the key came from (", from a JWK", …).
KeyReading hmacKey(const QByteArray& secret, Algorithm algorithm, const QString& suffix);
KeyReading rsaKey(const QByteArray& pkcs1, Algorithm algorithm, const QString& suffix);
KeyReading ecKey(const ECKeyBytes& bytes, Hash hash, const QString& suffix);
KeyReading ed25519Key(const QByteArray& raw, Algorithm algorithm, const QString& suffix);
// From a key that OpenSSL made already (from a certificate, say); the reading owns its own reference.
KeyReading rsaVerificationKey(evp_pkey_st* key, Algorithm algorithm, const QString& suffix);
KeyReading ecVerificationKey(evp_pkey_st* key, Hash hash, const QString& suffix);

// Key text: what it is, and the key it holds for the algorithm.
KeyReading readKey(QStringView text, Algorithm algorithm, const std::optional<QString>& kid, bool secretIsBase64);
KeyReading readPEM(QStringView text, Algorithm algorithm);
std::optional<QByteArray> pemBody(QStringView text);
KeyReading certificateKey(const QByteArray& der, Algorithm algorithm);

// A bounded reader of DER elements.
struct DERCursor {
    QByteArray bytes;
    qsizetype position = 0;
    // The content of the element at the position when it has `tag`; moves past it only then.
    std::optional<QByteArray> read(quint8 tag);
};
// The content of a certificate's subjectPublicKeyInfo SEQUENCE.
std::optional<QByteArray> certificateSPKI(const QByteArray& certificate);
// The algorithm identifier's OID content and the public-key bits of a SubjectPublicKeyInfo's content.
std::optional<std::pair<QByteArray, QByteArray>> spkiParts(const QByteArray& spkiContent);
// The RSAPublicKey inside a whole SubjectPublicKeyInfo of rsaEncryption.
std::optional<QByteArray> rsaPKCS1(const QByteArray& spki);
KeyReading ed25519KeyFromSPKI(const QByteArray& spkiContent, Algorithm algorithm, const QString& suffix);

// JWK and JWK sets.
KeyReading keyFromJWKOrSet(const JWTJSONValue& object, Algorithm algorithm, const std::optional<QString>& kid);
KeyReading keyFromJWK(const JWTJSONValue& jwk, Algorithm algorithm, const QString& suffix);
bool jwkCouldFit(const JWTJSONValue& jwk, Algorithm algorithm);
std::optional<QByteArray> base64URLMember(QStringView name, const JWTJSONValue& jwk);
QByteArray derLength(qsizetype count);
QByteArray derInteger(const QByteArray& unsignedBigEndian);
QByteArray rsaPublicKeyDER(const QByteArray& n, const QByteArray& e);

// Whether HMAC secret bytes are a public key (DER, its Base64, PEM or JWK text): a key anyone
// may hold would let anyone sign tokens.
bool secretIsPublicKey(const QByteArray& secret);

// Sentences shared by the readers.
QString privateKeyMessage();
QString publicKeyAsSecretMessage(Algorithm algorithm);
QString notRSAMessage(Algorithm algorithm);
QString notEd25519Message(Algorithm algorithm);
QString ed448Message();

} // namespace JWTVerifier
