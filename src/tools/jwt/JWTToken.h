#pragma once

#include "tools/jwt/JWTJSONValue.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// A pasted token read once: cleaned, split at its dots, each segment decoded from base64url,
// and the header parsed as JSON. The decoder and the verifier both work from one reading, so
// the two always agree on what the token says.
class JWTToken {
public:
    static JWTToken read(QStringView text);

    const QString& cleaned() const { return m_cleaned; }
    // Pieces between dots, empty ones included (a text without dots is one piece).
    qsizetype segmentCount() const { return m_segmentCount; }
    // The pieces themselves and their decoded bytes; only kept for three or five pieces.
    QStringView piece(qsizetype index) const;
    const std::optional<QByteArray>& bytes(qsizetype index) const { return m_bytes[size_t(index)]; }

    // The first piece parsed as JSON, when it decodes to UTF-8 JSON text.
    const std::optional<JWTJSONValue>& header() const { return m_header; }

private:
    QString m_cleaned;
    qsizetype m_segmentCount = 0;
    std::vector<std::pair<qsizetype, qsizetype>> m_pieces; // start, length in m_cleaned
    std::vector<std::optional<QByteArray>> m_bytes;
    std::optional<JWTJSONValue> m_header;
};
