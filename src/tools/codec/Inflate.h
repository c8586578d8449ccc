#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <atomic>
#include <optional>

// Unpacks gzip (RFC 1952) and zlib (RFC 1950) data: the framing is read here, the DEFLATE body
// goes to zlib's raw inflater, and the unpacked size is capped so a bomb stops early. A gzip
// stream of several members unpacks to their contents joined, under one cap.
class Inflate {
public:
    Inflate() = delete;

    enum class Format { gzip, zlib };
    enum class Failure { damaged, tooLarge };

    struct Result {
        QByteArray bytes;
        std::optional<Failure> failure;
        bool ok() const { return !failure.has_value(); }
    };

    // "gzip" or "zlib".
    static QString formatName(Format format);

    // The format the first two bytes announce, if any.
    static std::optional<Format> detectFormat(QByteArrayView bytes);

    // A `cancelled` flag that turns true stops the work early; the result is then meaningless.
    static Result unpackGzip(QByteArrayView bytes, qsizetype limit, const std::atomic_bool* cancelled = nullptr);
    static Result unpackZlib(QByteArrayView bytes, qsizetype limit, const std::atomic_bool* cancelled = nullptr);

    static quint32 crc32(QByteArrayView bytes);
    static quint32 adler32(QByteArrayView bytes);
};
