#include "tools/jwt/JWTToolViewModel.h"

#include "kit/DynamicColor.h"
#include "kit/StatusColor.h"
#include "kit/TextHelpers.h"
#include "kit/TextUnits.h"

using JWTDecoder::Decoded;
using JWTDecoder::Failure;
using JWTVerifier::Outcome;

namespace {
const QString sample = QStringLiteral(
    "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9."
    "eyJzdWIiOiJ1c2VyLTEyMzQ1NiIsIm5hbWUiOiJBZGEgTG92ZWxhY2UiLCJhZG1pbiI6dHJ1ZSwiaWF0IjoxNzY1MjM4NDAwfQ."
    "fszJj8L7j3hyM3ADcoq_M7R7m8RIcOINYGFddrd8p7U");
} // namespace

JWTToolViewModel::JWTToolViewModel(QObject* parent, int quietMs)
    : QObject(parent), m_task(quietMs, this)
{
    m_token.text = sample;
}

QString JWTToolViewModel::sampleToken() { return sample; }

const QString& JWTToolViewModel::Field::value() const
{
    if (fromEdit) {
        text = TextHelpers::repairedUTF16(edited.text());
        edited = CodeTextSnapshot();
        fromEdit = false;
    }
    return text;
}

std::function<QString()> JWTToolViewModel::Field::maker() const
{
    if (fromEdit)
        return [snapshot = edited] { return TextHelpers::repairedUTF16(snapshot.text()); };
    return [text = text] { return text; };
}

void JWTToolViewModel::setText(Field& field, const QString& text, void (JWTToolViewModel::*changed)())
{
    const bool differs = TextUnits(field.value()) != TextUnits(text);
    field.text = text;
    ++m_textGeneration;
    if (!differs)
        return;
    emit(this->*changed)();
    refresh();
}

void JWTToolViewModel::editText(Field& field, const CodeTextSnapshot& snapshot, void (JWTToolViewModel::*changed)())
{
    field.edited = snapshot;
    field.fromEdit = true;
    field.text = QString();
    ++m_textGeneration;
    emit(this->*changed)();
    refresh();
}

void JWTToolViewModel::editToken(const CodeTextSnapshot& snapshot)
{
    editText(m_token, snapshot, &JWTToolViewModel::tokenChanged);
}

void JWTToolViewModel::editKey(const CodeTextSnapshot& snapshot)
{
    editText(m_key, snapshot, &JWTToolViewModel::keyChanged);
}

void JWTToolViewModel::setToken(const QString& token) { setText(m_token, token, &JWTToolViewModel::tokenChanged); }

void JWTToolViewModel::setKey(const QString& key) { setText(m_key, key, &JWTToolViewModel::keyChanged); }

void JWTToolViewModel::setSecretIsBase64(bool on)
{
    if (m_secretIsBase64 == on)
        return;
    m_secretIsBase64 = on;
    emit secretIsBase64Changed();
}

void JWTToolViewModel::refresh()
{
    m_requestedInputs = Inputs{m_textGeneration, m_secretIsBase64};
    m_task.schedule<RunResult>(
        [makeToken = m_token.maker(), makeKey = m_key.maker(), base64 = m_secretIsBase64](const std::atomic_bool&) {
            const QString token = makeToken();
            const QString key = makeKey();
            // One reading of the token serves the decoder and the verifier.
            const JWTToken read = JWTToken::read(token);
            RunResult result{JWTDecoder::decode(read), std::nullopt};
            if (std::holds_alternative<Decoded>(result.decoded))
                result.outcome = JWTVerifier::verify(read, key, base64);
            return result;
        },
        [this](RunResult result) { publish(std::move(result)); });
}

void JWTToolViewModel::refreshIfNeeded()
{
    if (m_requestedInputs && *m_requestedInputs == Inputs{m_textGeneration, m_secretIsBase64})
        return;
    refresh();
}

void JWTToolViewModel::publish(RunResult result)
{
    if (const Failure* failure = std::get_if<Failure>(&result.decoded)) {
        m_decoded.reset();
        m_failure = *failure;
        m_verification.reset();
    } else {
        m_decoded = std::get<Decoded>(std::move(result.decoded));
        m_failure.reset();
        m_verification = result.outcome;
    }
    emit resultsChanged();
}

std::optional<PaneBadge> JWTToolViewModel::decodeBadge() const
{
    if (m_failure) {
        if (m_failure->kind == Failure::Kind::empty)
            return std::nullopt;
        return PaneBadge(QStringLiteral("MALFORMED"), StatusColor::red());
    }
    if (m_decoded) {
        if (m_decoded->payload.kind == JWTDecoder::Payload::Kind::encrypted)
            return PaneBadge(QStringLiteral("ENCRYPTED"), StatusColor::amber());
        return PaneBadge(QStringLiteral("DECODED"), StatusColor::green());
    }
    return std::nullopt;
}

std::optional<PaneBadge> JWTToolViewModel::verificationBadge() const
{
    if (!m_verification)
        return std::nullopt;
    switch (m_verification->kind) {
    case Outcome::Kind::verified: return PaneBadge(QStringLiteral("VERIFIED"), StatusColor::green());
    case Outcome::Kind::mismatch: return PaneBadge(QStringLiteral("INVALID"), StatusColor::red());
    case Outcome::Kind::unsupported: return PaneBadge(QStringLiteral("UNSUPPORTED"), StatusColor::amber());
    case Outcome::Kind::badKey: return PaneBadge(QStringLiteral("BAD KEY"), StatusColor::red());
    case Outcome::Kind::noKey: return PaneBadge(QStringLiteral("UNCHECKED"), DynamicColor::secondary());
    case Outcome::Kind::unsigned_: return PaneBadge(QStringLiteral("UNSIGNED"), StatusColor::amber());
    case Outcome::Kind::encrypted:
    case Outcome::Kind::malformed: return std::nullopt;
    }
    return std::nullopt;
}

PaneBadge JWTToolViewModel::algorithmBadge(const Decoded& decoded)
{
    if (!decoded.algorithm || decoded.algorithm->isEmpty())
        return PaneBadge(QStringLiteral("NO ALG"), StatusColor::amber());
    if (decoded.algorithm->compare(u"none", Qt::CaseInsensitive) == 0)
        return PaneBadge(QStringLiteral("UNSIGNED"), StatusColor::amber());
    return PaneBadge(*decoded.algorithm, DynamicColor::secondary());
}

std::optional<PaneBadge> JWTToolViewModel::timeBadge(const Decoded& decoded, double now)
{
    if (decoded.payload.kind != JWTDecoder::Payload::Kind::json || !decoded.payload.claimCount)
        return std::nullopt;
    switch (JWTDecoder::timeStatus(decoded.timeClaims, now)) {
    case JWTDecoder::TimeStatus::badTimeClaim: return PaneBadge(QStringLiteral("BAD TIME CLAIM"), StatusColor::amber());
    case JWTDecoder::TimeStatus::expired: return PaneBadge(QStringLiteral("EXPIRED"), StatusColor::red());
    case JWTDecoder::TimeStatus::notYetValid: return PaneBadge(QStringLiteral("NOT YET VALID"), StatusColor::amber());
    case JWTDecoder::TimeStatus::notExpired: return PaneBadge(QStringLiteral("NOT EXPIRED"), StatusColor::green());
    case JWTDecoder::TimeStatus::noExpiry: return PaneBadge(QStringLiteral("NO EXPIRY"), DynamicColor::secondary());
    }
    return std::nullopt;
}

std::optional<JWTVerifier::Algorithm> JWTToolViewModel::headerAlgorithm() const
{
    if (!m_decoded || !m_decoded->algorithm)
        return std::nullopt;
    return JWTVerifier::Algorithm::fromName(*m_decoded->algorithm);
}

QString JWTToolViewModel::keyHint() const
{
    const std::optional<JWTVerifier::Algorithm> algorithm = headerAlgorithm();
    if (!algorithm)
        return QStringLiteral("Paste the key to check the signature.");
    if (algorithm->family == JWTVerifier::Algorithm::Family::hs) {
        QString hint = QStringLiteral("Paste the shared secret to check this %1 signature.").arg(algorithm->name());
        // Compared by length first: the token is not made whole for this after every keystroke.
        if ((m_token.fromEdit ? m_token.edited.length() : m_token.text.size()) == sample.size() && token() == sample)
            hint += QStringLiteral(" The sample token's secret is marblecat.");
        return hint;
    }
    return QStringLiteral("Paste the public key to check this %1 signature: a PEM, a certificate, a JWK, or a JWK set.")
        .arg(algorithm->name());
}

bool JWTToolViewModel::showsVerdict() const
{
    if (m_verification) {
        switch (m_verification->kind) {
        case Outcome::Kind::unsupported:
        case Outcome::Kind::unsigned_:
        case Outcome::Kind::encrypted: return true;
        default: break;
        }
    }
    return !m_key.isEmpty();
}

QString JWTToolViewModel::verdict() const
{
    if (!m_verification)
        return keyHint();
    switch (m_verification->kind) {
    case Outcome::Kind::verified: return QStringLiteral("The signature matches this key.");
    case Outcome::Kind::mismatch:
        return QStringLiteral("The signature does not match this key. Either the key is not the one that signed it, "
                              "or the token was changed after signing.");
    case Outcome::Kind::unsupported:
        return (m_verification->text.isEmpty() ? QStringLiteral("A missing alg") : m_verification->text)
               + QStringLiteral(" is not a signature this tool can check. It checks HS, RS, PS and ES with SHA-256, "
                                "SHA-384 or SHA-512, and EdDSA on Ed25519.");
    case Outcome::Kind::badKey: return m_verification->text;
    case Outcome::Kind::unsigned_:
        return QStringLiteral("The header's alg is none: there is no signature, so anyone could have written this "
                              "token.");
    case Outcome::Kind::encrypted: return QStringLiteral("An encrypted token has no signature to check.");
    case Outcome::Kind::noKey:
    case Outcome::Kind::malformed: return keyHint();
    }
    return keyHint();
}

qint64 JWTToolViewModel::tokenByteCount() const
{
    if (!m_token.fromEdit)
        return TextHelpers::utf8Length(m_token.text);
    // Counted in place; a surrogate pair never straddles two parts (wide parts end at line breaks,
    // narrow ones hold none).
    qint64 bytes = 0;
    m_token.edited.forEachPart([&bytes](QStringView part) {
        bytes += TextHelpers::utf8Length(part);
        return true;
    });
    return bytes;
}
