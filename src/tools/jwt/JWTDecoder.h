#pragma once

#include "tools/jwt/JWTToken.h"

#include <QList>
#include <QString>

#include <optional>
#include <variant>

// Turns pasted text into a readable token: cleaning, splitting, base64url, the header as a JSON
// object, the payload's kind and its time claims, and a verdict on those claims at a moment the
// caller gives. Pure functions; any thread.
namespace JWTDecoder {

struct Payload {
    enum class Kind { json, text, binary, detached, encrypted };
    Kind kind = Kind::detached;
    QString text;                        // json: the pretty text; text: the text
    std::optional<qsizetype> claimCount; // json: members of a top-level object
    qsizetype byteCount = 0;             // binary

    static Payload json(QString text, std::optional<qsizetype> claimCount)
    {
        return Payload{Kind::json, std::move(text), claimCount, 0};
    }
    static Payload plainText(QString text) { return Payload{Kind::text, std::move(text), std::nullopt, 0}; }
    static Payload binary(qsizetype byteCount) { return Payload{Kind::binary, QString(), std::nullopt, byteCount}; }
    static Payload detached() { return Payload{Kind::detached, QString(), std::nullopt, 0}; }
    static Payload encrypted() { return Payload{Kind::encrypted, QString(), std::nullopt, 0}; }

    friend bool operator==(const Payload&, const Payload&) = default;
};

struct TimeClaim {
    enum class Name { exp, nbf, iat };
    static constexpr Name allNames[] = {Name::exp, Name::nbf, Name::iat};
    static QString rawValue(Name name);
    static std::optional<Name> fromRawValue(QStringView text);

    Name name = Name::exp;
    // Seconds since 1970-01-01T00:00:00Z, fractions kept; none when the value is no usable number.
    std::optional<double> date;

    friend bool operator==(const TimeClaim&, const TimeClaim&) = default;
};

struct Decoded {
    QString header;                 // pretty JSON, two blanks, keys ascending
    std::optional<QString> algorithm;
    Payload payload;
    qsizetype payloadByteCount = 0;
    std::optional<qsizetype> signatureByteCount;
    int segmentCount = 3;
    QList<TimeClaim> timeClaims;

    friend bool operator==(const Decoded&, const Decoded&) = default;
};

struct Failure {
    enum class Kind { segmentCount, notBase64URL, empty, headerNotJSONObject };
    Kind kind = Kind::empty;
    qsizetype count = 0;  // segmentCount: the pieces found; notBase64URL: the 1-based position
    QString name;         // notBase64URL: the segment's name

    static Failure segments(qsizetype n) { return Failure{Kind::segmentCount, n, QString()}; }
    static Failure notBase64URL(qsizetype segment, QString name) { return Failure{Kind::notBase64URL, segment, std::move(name)}; }
    static Failure emptyToken() { return Failure{Kind::empty, 0, QString()}; }
    static Failure headerNotJSONObject() { return Failure{Kind::headerNotJSONObject, 0, QString()}; }

    // The sentence shown to the user.
    QString message() const;

    friend bool operator==(const Failure&, const Failure&) = default;
};

enum class TimeStatus { badTimeClaim, expired, notYetValid, notExpired, noExpiry };

using Result = std::variant<Decoded, Failure>;

// Quotes, an "Authorization:" prefix, the "Bearer" word and all white space taken off.
QString cleanToken(QStringView text);

Result decode(QStringView text);
// The same from a token read already (the verifier may share the reading).
Result decode(const JWTToken& token);

TimeStatus timeStatus(const QList<TimeClaim>& claims, double now);

// The payload's kind, and its top-level object when it has one.
std::pair<Payload, std::optional<JWTJSONValue>> classifyPayload(const QByteArray& bytes);
QList<TimeClaim> timeClaims(const JWTJSONValue& object);

// Segment names by count (3 or 5) and 1-based position.
QString segmentName(qsizetype segmentCount, qsizetype position);

} // namespace JWTDecoder
