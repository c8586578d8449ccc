#pragma once

#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <optional>

// UTF-8 to UTF-16, the one way every reader of bytes takes. Strict by default: nothing when any
// sequence is ill-formed (an overlong form, a surrogate, beyond U+10FFFF, a cut-short sequence).
// A large input is decoded in parts side by side (BulkCodec), with the result of one sequential
// pass. Keeps no state; any thread may call it.
class Utf8Decoder {
public:
    Utf8Decoder() = delete;

    enum class IllFormed {
        fail,    // nothing is answered
        replace, // each maximal ill-formed subpart becomes one U+FFFD, as Unicode recommends
    };
    enum class ByteOrderMark {
        keep, // a leading EF BB BF is U+FEFF in the text
        drop, // one leading EF BB BF is left out
    };
    struct Options {
        IllFormed illFormed = IllFormed::fail;
        ByteOrderMark byteOrderMark = ByteOrderMark::keep;
        // Nothing is answered once this turns true.
        const std::atomic_bool* cancelled = nullptr;
        // The text will be kept a long time (an opened file): it is cut into parts only from a
        // couple of megabytes, and the flag above is looked at only before and after the work.
        bool longLived = false;
    };

    static std::optional<QString> decode(QByteArrayView bytes, const Options& options);
    static std::optional<QString> decode(QByteArrayView bytes) { return decode(bytes, Options{}); }
    // Never fails: ill-formed sequences replaced, a byte-order mark as `mark` says.
    static QString decodeReplacing(QByteArrayView bytes, ByteOrderMark mark, bool longLived = false);
    // Whether the bytes are well-formed UTF-8, decoding nothing: runs of ASCII are skipped a
    // word (or with AVX2 32 bytes) at a time, and a large text is checked in slices side by side.
    static bool isWellFormed(QByteArrayView bytes);
};
