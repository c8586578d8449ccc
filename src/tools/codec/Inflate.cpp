#include "tools/codec/Inflate.h"

#include <QString>

#include <zlib.h>

namespace {

constexpr qsizetype kChunk = 65536;

quint32 readLE32(const unsigned char* p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint32 readBE32(const unsigned char* p)
{
    return quint32(p[3]) | quint32(p[2]) << 8 | quint32(p[1]) << 16 | quint32(p[0]) << 24;
}

Inflate::Result failed(Inflate::Failure failure)
{
    return Inflate::Result{QByteArray(), failure};
}

// The raw inflate, with the trailer's checksum kept up as each chunk comes out (while it is
// still in the cache) rather than in a second pass over the whole result. The bytes are appended
// to `out` from `produced` on, so the members of one gzip stream share one buffer; `limit` caps
// the whole of `out`. `used` tells how much of the body the DEFLATE stream took.
enum class Check { crc32, adler32 };

struct Body {
    QByteArray& out;
    qsizetype& produced;
    quint32 sum = 0;
    qsizetype used = 0;
};

std::optional<Inflate::Failure> inflateBody(QByteArrayView body, qsizetype limit, const std::atomic_bool* cancelled,
                                            Check check, Body& into)
{
    using Failure = Inflate::Failure;
    uLong running = check == Check::crc32 ? crc32_z(0, nullptr, 0) : adler32_z(0, nullptr, 0);
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK)
        return Failure::damaged;

    // Grow the buffer geometrically, never past the cap plus one chunk, so memory stays bounded.
    QByteArray& out = into.out;
    qsizetype& produced = into.produced;
    const qsizetype ceiling = limit + kChunk;
    qsizetype capacity = out.size();
    if (capacity - produced < kChunk && capacity < ceiling) {
        capacity = std::min(ceiling, std::max(produced + kChunk, produced + body.size() * 4));
        out.resize(capacity);
    }

    const auto* in = reinterpret_cast<const unsigned char*>(body.data());
    qsizetype inLeft = body.size();
    stream.next_in = const_cast<Bytef*>(in);
    std::optional<Failure> failure;

    for (;;) {
        if (cancelled && cancelled->load(std::memory_order_relaxed)) {
            failure = Failure::damaged;
            break;
        }
        if (capacity - produced < kChunk && capacity < ceiling) {
            capacity = std::min(ceiling, std::max(capacity * 2, produced + kChunk));
            out.resize(capacity);
        }
        const uInt inPiece = static_cast<uInt>(std::min<qsizetype>(inLeft, 1 << 30));
        const uInt outPiece = static_cast<uInt>(std::min<qsizetype>(kChunk, capacity - produced));
        stream.avail_in = inPiece;
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
        stream.avail_out = outPiece;
        const int status = inflate(&stream, Z_NO_FLUSH);
        const qsizetype consumed = inPiece - stream.avail_in;
        const qsizetype made = outPiece - stream.avail_out;
        inLeft -= consumed;
        if (check == Check::crc32)
            running = crc32_z(running, reinterpret_cast<const Bytef*>(out.constData() + produced), size_t(made));
        else
            running = adler32_z(running, reinterpret_cast<const Bytef*>(out.constData() + produced), size_t(made));
        produced += made;
        if (produced > limit) {
            failure = Failure::tooLarge;
            break;
        }
        if (status == Z_STREAM_END)
            break; // the caller judges what follows the final block
        if (status != Z_OK) {
            // Z_BUF_ERROR: no progress possible (the body ends before its final block);
            // Z_DATA_ERROR, Z_NEED_DICT, Z_MEM_ERROR: the data is not a DEFLATE stream we can read.
            failure = Failure::damaged;
            break;
        }
        if (consumed == 0 && made == 0) {
            failure = Failure::damaged;
            break;
        }
        if (produced == capacity && capacity >= ceiling) {
            failure = Failure::tooLarge;
            break;
        }
    }
    inflateEnd(&stream);
    if (failure)
        return failure;
    into.sum = static_cast<quint32>(running);
    into.used = body.size() - inLeft;
    return std::nullopt;
}

Inflate::Result finished(QByteArray& out, qsizetype produced)
{
    out.truncate(produced);
    out.squeeze();
    return Inflate::Result{out, std::nullopt};
}

// Where the DEFLATE body of the gzip member at the start of `b` begins, or -1 when its header is
// damaged.
qsizetype gzipBodyStart(const unsigned char* b, qsizetype length)
{
    if (length < 18 || b[0] != 0x1F || b[1] != 0x8B || b[2] != 8)
        return -1;
    const unsigned flags = b[3];
    qsizetype p = 10;
    if (flags & 0x04)
        p = 12 + (qsizetype(b[10]) | qsizetype(b[11]) << 8);
    for (unsigned field : { 0x08u, 0x10u }) {
        if (!(flags & field))
            continue;
        if (p >= length)
            return -1;
        const void* zero = memchr(b + p, 0, size_t(length - p));
        if (!zero)
            return -1;
        p = static_cast<const unsigned char*>(zero) - b + 1;
    }
    if (flags & 0x02)
        p += 2;
    if (length - 8 < p)
        return -1;
    return p;
}

} // namespace

QString Inflate::formatName(Format format)
{
    return format == Format::gzip ? QStringLiteral("gzip") : QStringLiteral("zlib");
}

std::optional<Inflate::Format> Inflate::detectFormat(QByteArrayView bytes)
{
    if (bytes.size() < 2)
        return std::nullopt;
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    const auto b1 = static_cast<unsigned char>(bytes[1]);
    if (b0 == 0x1F)
        return b1 == 0x8B ? std::optional(Format::gzip) : std::nullopt;
    if ((b0 & 0x8F) == 0x08 && (b1 & 0x20) == 0 && (b0 * 256 + b1) % 31 == 0)
        return Format::zlib;
    return std::nullopt;
}

// Every member is unpacked and the members' contents joined, as gunzip does; each member's
// trailer is checked against its own content, and the cap applies to the whole. Bytes after a
// member that do not form a whole member make the stream damaged.
Inflate::Result Inflate::unpackGzip(QByteArrayView bytes, qsizetype limit, const std::atomic_bool* cancelled)
{
    const qsizetype length = bytes.size();
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    QByteArray out;
    qsizetype produced = 0;
    qsizetype member = 0;
    do {
        const qsizetype start = gzipBodyStart(b + member, length - member);
        if (start < 0)
            return failed(Failure::damaged);
        const qsizetype bodyAt = member + start;
        const qsizetype before = produced;
        Body into{out, produced};
        if (const auto failure = inflateBody(bytes.sliced(bodyAt), limit, cancelled, Check::crc32, into))
            return failed(*failure);
        const qsizetype trailer = bodyAt + into.used;
        if (length - trailer < 8)
            return failed(Failure::damaged);
        const quint32 storedCRC = readLE32(b + trailer);
        const quint32 storedLength = readLE32(b + trailer + 4);
        if (storedLength != static_cast<quint32>(produced - before) || storedCRC != into.sum)
            return failed(Failure::damaged);
        member = trailer + 8;
    } while (member < length);
    return finished(out, produced);
}

Inflate::Result Inflate::unpackZlib(QByteArrayView bytes, qsizetype limit, const std::atomic_bool* cancelled)
{
    const qsizetype length = bytes.size();
    if (length < 6)
        return failed(Failure::damaged);
    QByteArray out;
    qsizetype produced = 0;
    Body into{out, produced};
    if (const auto failure = inflateBody(bytes.sliced(2, length - 6), limit, cancelled, Check::adler32, into))
        return failed(*failure);
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    if (readBE32(b + length - 4) != into.sum)
        return failed(Failure::damaged);
    return finished(out, produced);
}

quint32 Inflate::crc32(QByteArrayView bytes)
{
    return static_cast<quint32>(
        ::crc32_z(::crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), size_t(bytes.size())));
}

quint32 Inflate::adler32(QByteArrayView bytes)
{
    return static_cast<quint32>(
        ::adler32_z(::adler32_z(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), size_t(bytes.size())));
}
