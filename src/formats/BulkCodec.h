#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <atomic>
#include <optional>

// The engines under Codec's Base64. Each works in one pass over clean runs and falls back to a
// careful step only where the text asks for it; inputs of a quarter of a megabyte and more are
// cut into parts done side by side by a pool of threads kept for the purpose, whose results are
// exactly those of one sequential pass. A `cancelled` flag is polled
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

    // Base64 of the bytes, ASCII: "+", "/" and "=" padding, or with `urlSafe` "-", "_" and no
    // padding. Bytes handed over as the only holder of their storage and encoded as one part
    // (a short input, or one worker) are encoded in that storage, grown to fit. A `cancelled`
    // flag that turns true makes the result meaningless.
    static QByteArray base64Encode(QByteArray bytes, bool urlSafe, const std::atomic_bool* cancelled = nullptr);

    // Tolerant Base64 (see Encodings::base64URLDecode) of UTF-16 text, or of UTF-8 text, where
    // a sequence that is not well-formed is outside the alphabet. Nullopt also when cancelled.
    static std::optional<QByteArray> base64Decode(QStringView text, const std::atomic_bool* cancelled = nullptr);
    static std::optional<QByteArray> base64Decode(QByteArrayView utf8, const std::atomic_bool* cancelled = nullptr);
};
