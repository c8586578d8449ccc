#pragma once

#include <QByteArray>
#include <QStringView>

#include <optional>

// The pure-logic core of the Encode / Decode tool: stateless, thread-safe functions.
class Codec {
public:
    Codec() = delete;

    // Tolerant Base64: either alphabet, padding optional, white space anywhere. Nullopt when a
    // character is outside both alphabets, padding is misplaced, or the length leaves one
    // character over a multiple of four. Empty or all-blank text gives empty bytes.
    static std::optional<QByteArray> base64URLDecode(QStringView text);
};
