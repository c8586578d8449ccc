#pragma once
// Packs bytes with zlib for the tests and benchmarks of unpacking. windowBits as deflateInit2
// takes it: -15 raw deflate, 15 zlib, 31 gzip.
#include <QByteArray>

#include <algorithm>
#include <zlib.h>

inline QByteArray deflated(const QByteArray& data, int windowBits, int level = 6)
{
    z_stream s{};
    deflateInit2(&s, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&s, uLong(data.size()))) + 64, Qt::Uninitialized);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    s.avail_in = uInt(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = uInt(out.size());
    deflate(&s, Z_FINISH);
    out.truncate(qsizetype(s.total_out));
    deflateEnd(&s);
    return out;
}

// Zeros packed without holding them: fed to the deflater a megabyte at a time.
inline QByteArray deflatedZeros(qint64 count, int windowBits)
{
    z_stream s{};
    deflateInit2(&s, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY);
    const QByteArray chunk(1 << 20, '\0');
    QByteArray out;
    char buffer[1 << 16];
    qint64 left = count;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        const qint64 piece = std::min<qint64>(left, chunk.size());
        left -= piece;
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.constData()));
        s.avail_in = uInt(piece);
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            s.next_out = reinterpret_cast<Bytef*>(buffer);
            s.avail_out = sizeof buffer;
            status = deflate(&s, flush);
            out.append(buffer, qsizetype(sizeof buffer - s.avail_out));
        } while (s.avail_out == 0);
        if (flush != Z_FINISH)
            status = Z_OK;
    }
    deflateEnd(&s);
    return out;
}
