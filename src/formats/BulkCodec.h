#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>
#include <QStringView>

#include <atomic>
#include <optional>

// The engines under Codec's Base64 and UTF-8 conversions. Each works in one pass over clean runs
// and falls back to a careful step only where the text asks for it; inputs of a quarter of a
// megabyte and more are cut into parts done side by side by a pool of threads kept for the
// purpose, whose results are exactly those of one sequential pass. A `cancelled` flag is polled
// every 64 Ki units.
class BulkCodec {
public:
    BulkCodec() = delete;

    // Every part is at least this many units long; shorter inputs are one part.
    static constexpr qsizetype partMinimum = 1 << 17;
    // How many parts an input of so many units is cut into: several per worker thread, taken in
    // turn, so that a worker that starts late or a slower part holds up no more than one part.
    // Part k of p begins at unit n / p * k, moved on past the rest of a character.
    static int partCount(qsizetype units);

    // Base64 of the text's UTF-8 bytes (a lone surrogate as U+FFFD): "+", "/" and "=" padding,
    // or with `urlSafe` "-", "_" and no padding.
    static QString base64Encode(QStringView text, bool urlSafe, const std::atomic_bool* cancelled = nullptr);
    static QString base64Encode(QByteArrayView bytes, bool urlSafe);

    // Tolerant Base64 (see Encodings::base64URLDecode). Nullopt also when cancelled.
    static std::optional<QByteArray> base64Decode(QStringView text, const std::atomic_bool* cancelled = nullptr);

    // Bytes to bytes, for a file's contents, with no text in between. The Base64 of the bytes as
    // they are, one byte a character, in a buffer sized once; for UTF-8 text the same characters
    // as base64Encode of that text. A `cancelled` flag that turns true makes the result meaningless.
    static QByteArray base64EncodeBytes(QByteArrayView bytes, bool urlSafe, const std::atomic_bool* cancelled = nullptr);
    // base64Decode of the text that UTF-8 bytes spell; nullopt also for bytes that are not
    // well-formed UTF-8 (ill-formed bytes can only stand for characters outside the alphabet).
    static std::optional<QByteArray> base64DecodeUtf8(QByteArrayView utf8, const std::atomic_bool* cancelled = nullptr);

    // The same from one device to another as the bytes come, through buffers of this many bytes
    // used over and over: nothing grows with the input, and no fresh memory is mapped after the
    // first chunk. False when reading or writing fails, when cancelled, or (decoding) when the
    // text is not Base64, with what was written by then to be thrown away.
    static constexpr qsizetype streamChunk = 3 << 18;
    static bool base64EncodeStream(QIODevice& in, QIODevice& out, bool urlSafe, const std::atomic_bool* cancelled = nullptr);
    static bool base64DecodeStream(QIODevice& in, QIODevice& out, const std::atomic_bool* cancelled = nullptr);

    // Strict UTF-8 as UTF-16, a leading byte-order mark kept. Nullopt also when cancelled.
    static std::optional<QString> textFromUtf8(QByteArrayView bytes, const std::atomic_bool* cancelled = nullptr);
};
