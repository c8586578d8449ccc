#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <atomic>
#include <optional>

// Base64, percent-encoding, HTML character references and hex: stateless, thread-safe functions
// that the tools share. Base64 runs on BulkCodec's engines.
class Encodings {
public:
    Encodings() = delete;

    // Tolerant Base64: either alphabet, padding optional, white space anywhere. Nullopt when a
    // character is outside both alphabets, padding is misplaced, or the length leaves one
    // character over a multiple of four. Empty or all-blank text gives empty bytes. Large texts
    // are decoded in parts side by side, with the result of one sequential reading; a
    // `cancelled` flag that turns true gives nullopt.
    static std::optional<QByteArray> base64URLDecode(QStringView text, const std::atomic_bool* cancelled = nullptr);
    // The same of UTF-8 text; a sequence that is not well-formed is outside the alphabets.
    static std::optional<QByteArray> base64URLDecode(QByteArrayView utf8, const std::atomic_bool* cancelled = nullptr);

    // ASCII; bytes that are handed over may be encoded in their own storage (see BulkCodec). A
    // `cancelled` flag that turns true makes the result meaningless.
    static QByteArray base64Encode(QByteArray bytes, bool urlSafe, const std::atomic_bool* cancelled = nullptr);

    static QString percentEncode(QStringView text, bool plusForSpace);
    // The UTF-8 bytes a percent-encoded text stands for, or nullopt.
    static std::optional<QByteArray> percentDecode(QStringView text, bool plusForSpace);

    static QString htmlEscape(QStringView text);
    static QString htmlUnescape(QStringView text);
    // The replacement a numeric character reference's value stands for.
    static QString referenceText(quint32 value);

    // Lower-case digits, ASCII.
    static QByteArray hexEncode(QByteArrayView bytes);
    enum class HexFault { notHex, oddLength };
    // The bytes, or nullopt with the reason in `fault`.
    static std::optional<QByteArray> hexDecode(QStringView text, HexFault* fault = nullptr);

    // Unicode White_Space.
    static bool isWhiteSpace(char32_t c);
    // The code point at i and the index after it; a lone surrogate stands for itself.
    static char32_t codePointAt(QStringView text, qsizetype i, qsizetype* next)
    {
        const char16_t u = text.utf16()[i];
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && QChar::isLowSurrogate(text.utf16()[i + 1])) {
            *next = i + 2;
            return QChar::surrogateToUcs4(u, text.utf16()[i + 1]);
        }
        *next = i + 1;
        return u;
    }
};
