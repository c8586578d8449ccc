// The key makers on OpenSSL and the check of one signature.
#include "tools/jwt/JWTVerifier.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>

namespace JWTVerifier {

namespace {

using PKey = std::shared_ptr<EVP_PKEY>;
using BigNum = std::unique_ptr<BIGNUM, decltype(&BN_free)>;

PKey owned(EVP_PKEY* key) { return PKey(key, EVP_PKEY_free); }
BigNum bigNum(BIGNUM* n = nullptr) { return BigNum(n, BN_free); }

const char* digestName(Hash hash)
{
    switch (hash) {
    case Hash::sha256: return "SHA256";
    case Hash::sha384: return "SHA384";
    case Hash::sha512: return "SHA512";
    }
    return "SHA256";
}

int digestLength(Hash hash) { return bitCount(hash) / 8; }

int curveNID(Hash hash)
{
    switch (hash) {
    case Hash::sha256: return NID_X9_62_prime256v1;
    case Hash::sha384: return NID_secp384r1;
    case Hash::sha512: return NID_secp521r1;
    }
    return NID_undef;
}

const unsigned char* bytesOf(const QByteArray& a) { return reinterpret_cast<const unsigned char*>(a.constData()); }

// One-shot verification; only a result of exactly 1 is a valid signature.
bool digestVerify(EVP_PKEY* key, const char* digest, const QByteArray& signature, const QByteArray& input,
                  const std::function<bool(EVP_PKEY_CTX*)>& configure = {})
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx)
        return false;
    EVP_PKEY_CTX* pctx = nullptr;
    if (EVP_DigestVerifyInit_ex(ctx.get(), &pctx, digest, nullptr, nullptr, key, nullptr) != 1)
        return false;
    if (configure && !configure(pctx))
        return false;
    return EVP_DigestVerify(ctx.get(), bytesOf(signature), size_t(signature.size()), bytesOf(input),
                            size_t(input.size()))
           == 1;
}


// The curve of an EC key as an OpenSSL NID, or NID_undef.
int groupNID(EVP_PKEY* key)
{
    char name[80] = {};
    size_t length = 0;
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, name, sizeof name, &length) != 1)
        return NID_undef;
    int nid = OBJ_sn2nid(name);
    if (nid == NID_undef)
        nid = EC_curve_nist2nid(name);
    return nid;
}

} // namespace

Outcome checkSignature(const QByteArray& signature, const QByteArray& input, QStringView key, Algorithm algorithm,
                       const std::optional<QString>& kid, bool secretIsBase64)
{
    const KeyReading reading = readKey(key, algorithm, kid, secretIsBase64);
    if (!reading.key)
        return Outcome::badKey(reading.refusal);
    const bool valid = reading.key->check && reading.key->check(signature, input);
    return valid ? Outcome::verified(reading.key->description) : Outcome::mismatch(reading.key->description);
}

KeyReading hmacKey(const QByteArray& secret, Algorithm algorithm, const QString& suffix)
{
    if (secretIsPublicKey(secret))
        return KeyReading::refused(publicKeyAsSecretMessage(algorithm));
    const qsizetype count = secret.size();
    const QString description = QStringLiteral("HMAC secret, %1 %2%3")
                                    .arg(count)
                                    .arg(count == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"), suffix);
    const Hash hash = algorithm.hash;
    auto check = [secret, hash](const QByteArray& signature, const QByteArray& input) {
        const size_t expected = size_t(digestLength(hash));
        // Only a full-length tag can match; an empty signature never does.
        if (size_t(signature.size()) != expected)
            return false;
        unsigned char mac[EVP_MAX_MD_SIZE];
        size_t macLength = 0;
        static const unsigned char noKey = 0;
        const unsigned char* keyBytes = secret.isEmpty() ? &noKey : bytesOf(secret);
        if (!EVP_Q_mac(nullptr, "HMAC", nullptr, digestName(hash), nullptr, keyBytes, size_t(secret.size()),
                       bytesOf(input), size_t(input.size()), mac, sizeof mac, &macLength))
            return false;
        return macLength == expected && CRYPTO_memcmp(mac, signature.constData(), expected) == 0;
    };
    return KeyReading::accepted(VerificationKey{description, check});
}

KeyReading rsaKey(const QByteArray& pkcs1, Algorithm algorithm, const QString& suffix)
{
    // OpenSSL reads the two INTEGERs as magnitudes, so a negative one is caught here.
    DERCursor outer{pkcs1};
    DERCursor inner{outer.read(0x30).value_or(QByteArray())};
    const std::optional<QByteArray> n = inner.read(0x02);
    const std::optional<QByteArray> e = inner.read(0x02);
    if (!n || !e || n->isEmpty() || e->isEmpty() || (quint8(n->at(0)) & 0x80) || (quint8(e->at(0)) & 0x80))
        return KeyReading::refused(notRSAMessage(algorithm));
    const unsigned char* p = bytesOf(pkcs1);
    PKey key = owned(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, long(pkcs1.size())));
    // Bytes left over mean the text was not one RSAPublicKey.
    if (!key || p != bytesOf(pkcs1) + pkcs1.size())
        return KeyReading::refused(notRSAMessage(algorithm));
    return rsaVerificationKey(key.get(), algorithm, suffix);
}

KeyReading rsaVerificationKey(EVP_PKEY* given, Algorithm algorithm, const QString& suffix)
{
    if (!given || EVP_PKEY_get_base_id(given) != EVP_PKEY_RSA
        || (algorithm.family != Algorithm::Family::rs && algorithm.family != Algorithm::Family::ps))
        return KeyReading::refused(notRSAMessage(algorithm));
    BIGNUM* rawN = nullptr;
    BIGNUM* rawE = nullptr;
    EVP_PKEY_get_bn_param(given, OSSL_PKEY_PARAM_RSA_N, &rawN);
    EVP_PKEY_get_bn_param(given, OSSL_PKEY_PARAM_RSA_E, &rawE);
    BigNum n = bigNum(rawN);
    BigNum e = bigNum(rawE);
    // A modulus is odd and positive, an exponent odd and at least 3; no sound key is larger.
    if (!n || !e || BN_is_negative(n.get()) || BN_is_zero(n.get()) || !BN_is_odd(n.get())
        || BN_num_bits(n.get()) > 16384 || BN_is_negative(e.get()) || !BN_is_odd(e.get()) || BN_is_one(e.get()))
        return KeyReading::refused(notRSAMessage(algorithm));
    // The verifying key is made afresh from n and e alone.
    std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)> builder(OSSL_PARAM_BLD_new(),
                                                                           OSSL_PARAM_BLD_free);
    if (!builder || OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1
        || OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1)
        return KeyReading::refused(notRSAMessage(algorithm));
    std::unique_ptr<OSSL_PARAM, decltype(&OSSL_PARAM_free)> params(OSSL_PARAM_BLD_to_param(builder.get()),
                                                                  OSSL_PARAM_free);
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY* made = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1
        || EVP_PKEY_fromdata(ctx.get(), &made, EVP_PKEY_PUBLIC_KEY, params.get()) != 1 || !made)
        return KeyReading::refused(notRSAMessage(algorithm));
    PKey key = owned(made);
    const int bits = EVP_PKEY_get_size(made) * 8;
    const QString description = QStringLiteral("RSA public key, %1 bits%2").arg(bits).arg(suffix);
    const Hash hash = algorithm.hash;
    const bool pss = algorithm.family == Algorithm::Family::ps;
    auto check = [key, hash, pss](const QByteArray& signature, const QByteArray& input) {
        return digestVerify(key.get(), digestName(hash), signature, input, [hash, pss](EVP_PKEY_CTX* pctx) {
            if (!pss)
                return EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) == 1;
            // RSASSA-PSS as JWS uses it: MGF1 on the same hash, salt as long as the hash.
            return EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PSS_PADDING) == 1
                   && EVP_PKEY_CTX_set_rsa_mgf1_md_name(pctx, digestName(hash), nullptr) == 1
                   && EVP_PKEY_CTX_set_rsa_pss_saltlen(pctx, digestLength(hash)) == 1;
        });
    };
    return KeyReading::accepted(VerificationKey{description, check});
}

KeyReading ecKey(const ECKeyBytes& bytes, Hash hash, const QString& suffix)
{
    PKey key;
    if (bytes.form == ECKeyBytes::Form::der) {
        const unsigned char* p = bytesOf(bytes.bytes);
        key = owned(d2i_PUBKEY(nullptr, &p, long(bytes.bytes.size())));
        if (key && p != bytesOf(bytes.bytes) + bytes.bytes.size())
            key.reset();
    } else {
        // Only the uncompressed point of the curve's exact size.
        const int coordinate = coordinateLength(hash);
        if (bytes.bytes.size() != 1 + 2 * coordinate || quint8(bytes.bytes.at(0)) != 0x04)
            return KeyReading::refused(notCurveMessage(hash));
        const QByteArray group = QByteArray(OBJ_nid2sn(curveNID(hash)));
        std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)> builder(OSSL_PARAM_BLD_new(),
                                                                               OSSL_PARAM_BLD_free);
        if (!builder
            || OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, group.constData(), 0) != 1
            || OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, bytes.bytes.constData(),
                                                size_t(bytes.bytes.size()))
                   != 1)
            return KeyReading::refused(notCurveMessage(hash));
        std::unique_ptr<OSSL_PARAM, decltype(&OSSL_PARAM_free)> params(OSSL_PARAM_BLD_to_param(builder.get()),
                                                                      OSSL_PARAM_free);
        std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
            EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr), EVP_PKEY_CTX_free);
        EVP_PKEY* made = nullptr;
        if (params && ctx && EVP_PKEY_fromdata_init(ctx.get()) == 1
            && EVP_PKEY_fromdata(ctx.get(), &made, EVP_PKEY_PUBLIC_KEY, params.get()) == 1)
            key = owned(made);
    }
    if (!key)
        return KeyReading::refused(notCurveMessage(hash));
    return ecVerificationKey(key.get(), hash, suffix);
}

KeyReading ecVerificationKey(EVP_PKEY* given, Hash hash, const QString& suffix)
{
    if (!given || EVP_PKEY_get_base_id(given) != EVP_PKEY_EC || groupNID(given) != curveNID(hash))
        return KeyReading::refused(notCurveMessage(hash));
    // The point must lie on the curve and not be the point at infinity.
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> checkCtx(
        EVP_PKEY_CTX_new_from_pkey(nullptr, given, nullptr), EVP_PKEY_CTX_free);
    if (!checkCtx || EVP_PKEY_public_check_quick(checkCtx.get()) != 1)
        return KeyReading::refused(notCurveMessage(hash));
    if (!EVP_PKEY_up_ref(given))
        return KeyReading::refused(notCurveMessage(hash));
    PKey key = owned(given);
    const QString description = curveName(hash) + QStringLiteral(" public key") + suffix;
    auto check = [key, hash](const QByteArray& signature, const QByteArray& input) {
        // JWS writes r ‖ s at the curve's fixed width; any other length is no signature.
        const int half = coordinateLength(hash);
        if (signature.size() != 2 * half)
            return false;
        BigNum r = bigNum(BN_bin2bn(bytesOf(signature), half, nullptr));
        BigNum s = bigNum(BN_bin2bn(bytesOf(signature) + half, half, nullptr));
        std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> sig(ECDSA_SIG_new(), ECDSA_SIG_free);
        if (!r || !s || !sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1)
            return false;
        (void)r.release();
        (void)s.release();
        unsigned char* der = nullptr;
        const int derLength = i2d_ECDSA_SIG(sig.get(), &der);
        if (derLength <= 0 || !der)
            return false;
        const QByteArray derSignature(reinterpret_cast<const char*>(der), derLength);
        OPENSSL_free(der);
        return digestVerify(key.get(), digestName(hash), derSignature, input);
    };
    return KeyReading::accepted(VerificationKey{description, check});
}

KeyReading ed25519Key(const QByteArray& raw, Algorithm algorithm, const QString& suffix)
{
    if (raw.size() != 32)
        return KeyReading::refused(notEd25519Message(algorithm));
    PKey key = owned(EVP_PKEY_new_raw_public_key_ex(nullptr, "ED25519", nullptr, bytesOf(raw), size_t(raw.size())));
    if (!key)
        return KeyReading::refused(notEd25519Message(algorithm));
    const QString description = QStringLiteral("Ed25519 public key") + suffix;
    auto check = [key](const QByteArray& signature, const QByteArray& input) {
        if (signature.size() != 64)
            return false;
        return digestVerify(key.get(), nullptr, signature, input);
    };
    return KeyReading::accepted(VerificationKey{description, check});
}

} // namespace JWTVerifier
