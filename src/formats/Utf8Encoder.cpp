#include "formats/Utf8Encoder.h"

#include "formats/CpuFeatures.h"
#include "formats/RunParts.h"


#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace {

bool wide()
{
#if defined(QUORRIX_AVX2_LOOPS)
    return CpuFeatures::hasAvx2();
#else
    return false;
#endif
}

inline bool isHigh(char16_t u) { return (u & 0xFC00) == 0xD800; }
inline bool isLow(char16_t u) { return (u & 0xFC00) == 0xDC00; }

// One code point from p (a pair or one unit) at o; both move past it.
inline void encodeOne(const char16_t*& p, const char16_t* end, unsigned char*& o)
{
    const char16_t u = *p++;
    if (u < 0x80) {
        *o++ = static_cast<unsigned char>(u);
    } else if (u < 0x800) {
        o[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
        o[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        o += 2;
    } else if ((u & 0xF800) != 0xD800) {
        o[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
        o[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
        o[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        o += 3;
    } else if (isHigh(u) && p < end && isLow(*p)) {
        const char32_t c = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(*p++) - 0xDC00);
        o[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
        o[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
        o[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        o[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        o += 4;
    } else {
        o[0] = 0xEF; // U+FFFD
        o[1] = 0xBF;
        o[2] = 0xBD;
        o += 3;
    }
}

// Bytes of the code point at p; p moves past it.
inline qsizetype lengthOne(const char16_t*& p, const char16_t* end)
{
    const char16_t u = *p++;
    if (u < 0x80)
        return 1;
    if (u < 0x800)
        return 2;
    if (isHigh(u) && p < end && isLow(*p)) {
        ++p;
        return 4;
    }
    return 3; // also a lone surrogate, as U+FFFD
}

void encodePlain(const char16_t* p, const char16_t* end, unsigned char*& o)
{
    while (p < end) {
        // Four ASCII units at a time.
        if (end - p >= 4) {
            quint64 four;
            std::memcpy(&four, p, 8);
            if (!(four & 0xFF80FF80FF80FF80ull)) {
                o[0] = static_cast<unsigned char>(p[0]);
                o[1] = static_cast<unsigned char>(p[1]);
                o[2] = static_cast<unsigned char>(p[2]);
                o[3] = static_cast<unsigned char>(p[3]);
                o += 4;
                p += 4;
                continue;
            }
        }
        encodeOne(p, end, o);
    }
}

qsizetype lengthPlain(const char16_t* p, const char16_t* end)
{
    qsizetype total = 0;
    while (p < end)
        total += lengthOne(p, end);
    return total;
}

#if defined(QUORRIX_AVX2_LOOPS)
// While 32 units are left the output has room for 32 bytes (a unit is at least one byte): a whole
// block is stored packed, and the writer moves on by its ASCII units, then writes the run of other
// characters after them one by one.
QUORRIX_AVX2 void encodeAvx2(const char16_t* p, const char16_t* end, unsigned char*& o)
{
    const __m256i high = _mm256_set1_epi16(short(0xFF80));
    const __m256i zero = _mm256_setzero_si256();
    while (end - p >= 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), _mm256_permute4x64_epi64(_mm256_packus_epi16(x, y), 0xD8));
        const quint64 ascii = quint64(quint32(_mm256_movemask_epi8(_mm256_cmpeq_epi16(_mm256_and_si256(x, high), zero))))
            | quint64(quint32(_mm256_movemask_epi8(_mm256_cmpeq_epi16(_mm256_and_si256(y, high), zero)))) << 32;
        if (ascii == ~quint64(0)) {
            p += 32;
            o += 32;
            continue;
        }
        const int run = std::countr_one(ascii) / 2;
        p += run;
        o += run;
        do
            encodeOne(p, end, o);
        while (p < end && *p >= 0x80);
    }
    encodePlain(p, end, o);
}

// Sixteen units a step, each read with the unit after it: 1 byte a unit, one more from U+0080
// on, one more from U+0800 on, two less for a high surrogate followed by a low one (a pair is 4
// bytes, a lone surrogate 3). The 16-bit lanes gain at most two a step and are summed in time.
QUORRIX_AVX2 qsizetype lengthAvx2(const char16_t* p, const char16_t* end)
{
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i at80 = _mm256_set1_epi16(0x80);
    const __m256i at800 = _mm256_set1_epi16(0x800);
    const __m256i tenBits = _mm256_set1_epi16(short(0xFC00));
    const __m256i highTag = _mm256_set1_epi16(short(0xD800));
    const __m256i lowTag = _mm256_set1_epi16(short(0xDC00));
    qsizetype total = 0;
    while (end - p > 16) {
        const char16_t* const stop = p + std::min<qsizetype>((end - p - 1) / 16, 8000) * 16;
        __m256i above = _mm256_setzero_si256(); // minus one per step up
        __m256i pairs = _mm256_setzero_si256();  // minus one per pair
        total += stop - p;
        for (; p < stop; p += 16) {
            const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
            above = _mm256_add_epi16(above, _mm256_cmpeq_epi16(_mm256_min_epu16(u, at80), at80));
            above = _mm256_add_epi16(above, _mm256_cmpeq_epi16(_mm256_min_epu16(u, at800), at800));
            pairs = _mm256_add_epi16(pairs, _mm256_and_si256(_mm256_cmpeq_epi16(_mm256_and_si256(u, tenBits), highTag),
                                                             _mm256_cmpeq_epi16(_mm256_and_si256(next, tenBits), lowTag)));
        }
        alignas(32) qint32 lanes[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes),
                           _mm256_sub_epi32(_mm256_madd_epi16(pairs, _mm256_set1_epi16(2)), _mm256_madd_epi16(above, ones)));
        for (qint32 lane : lanes)
            total += lane;
    }
    // A low surrogate left here after a pair's high counted in the blocks above is 3 bytes, as
    // that sum expects.
    return total + lengthPlain(p, end);
}
#endif

qsizetype lengthOf(const char16_t* p, const char16_t* end, bool useWide)
{
#if defined(QUORRIX_AVX2_LOOPS)
    if (useWide)
        return lengthAvx2(p, end);
#endif
    (void)useWide;
    return lengthPlain(p, end);
}

unsigned char* encodeOf(const char16_t* p, const char16_t* end, unsigned char* o, bool useWide)
{
#if defined(QUORRIX_AVX2_LOOPS)
    if (useWide) {
        encodeAvx2(p, end, o);
        return o;
    }
#endif
    (void)useWide;
    encodePlain(p, end, o);
    return o;
}

} // namespace

qsizetype Utf8Encoder::encodedLength(QStringView text)
{
    return lengthOf(text.utf16(), text.utf16() + text.size(), wide());
}

char* Utf8Encoder::encode(QStringView text, char* out)
{
    return reinterpret_cast<char*>(
        encodeOf(text.utf16(), text.utf16() + text.size(), reinterpret_cast<unsigned char*>(out), wide()));
}

QByteArray Utf8Encoder::toUtf8(QStringView text)
{
    const bool useWide = wide();
    const char16_t* const s = text.utf16();
    const qsizetype n = text.size();
    // Below a few megabytes threads cost more than they save.
    const qsizetype parts = WorkPool::parts(n, qsizetype(2) << 20);
    if (parts <= 1) {
        QByteArray out(lengthOf(s, s + n, useWide), Qt::Uninitialized);
        encodeOf(s, s + n, reinterpret_cast<unsigned char*>(out.data()), useWide);
        return out;
    }
    // Cuts never fall inside a surrogate pair.
    std::vector<qsizetype> cuts(size_t(parts) + 1);
    for (qsizetype k = 0; k <= parts; ++k) {
        qsizetype at = n / parts * k;
        if (k == parts)
            at = n;
        else if (at > 0 && isLow(s[at]) && isHigh(s[at - 1]))
            ++at;
        cuts[size_t(k)] = at;
    }
    std::vector<qsizetype> offsets(size_t(parts) + 1, 0);
    runParts(parts, [&](qsizetype k) {
        offsets[size_t(k) + 1] = lengthOf(s + cuts[size_t(k)], s + cuts[size_t(k) + 1], useWide);
    });
    for (qsizetype k = 0; k < parts; ++k)
        offsets[size_t(k) + 1] += offsets[size_t(k)];
    QByteArray out(offsets.back(), Qt::Uninitialized);
    auto* const base = reinterpret_cast<unsigned char*>(out.data());
    runParts(parts, [&](qsizetype k) {
        unsigned char* const at = base + offsets[size_t(k)];
        encodeOf(s + cuts[size_t(k)], s + cuts[size_t(k) + 1], at, useWide);
    });
    return out;
}
