#include "tools/markdown/MarkdownUtf8.h"

#include "kit/CpuFeatures.h"

#include <QtGlobal>

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

#if defined(QUORRIX_AVX2_LOOPS)
// QUORRIX_MARKDOWN_NARROW in the environment keeps to the narrower loops, so that tests cover both.
bool hasAvx2()
{
    static const bool has = CpuFeatures::hasAvx2("QUORRIX_MARKDOWN_NARROW");
    return has;
}
#endif

inline bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u < 0xDC00; }
inline bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u < 0xE000; }

// One code point from p (a pair, or one unit), written at o; p and o move past it.
inline void encodeOne(const char16_t*& p, const char16_t* end, unsigned char*& o)
{
    const char16_t u = *p++;
    if (u < 0x80) {
        *o++ = static_cast<unsigned char>(u);
    } else if (u < 0x800) {
        *o++ = static_cast<unsigned char>(0xC0 | (u >> 6));
        *o++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
    } else if (u < 0xD800 || u >= 0xE000) {
        *o++ = static_cast<unsigned char>(0xE0 | (u >> 12));
        *o++ = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
        *o++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
    } else if (isHighSurrogate(u) && p < end && isLowSurrogate(*p)) {
        const char32_t c = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(*p++) - 0xDC00);
        *o++ = static_cast<unsigned char>(0xF0 | (c >> 18));
        *o++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
        *o++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        *o++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
        *o++ = '?';
    }
}

inline qsizetype lengthOne(const char16_t*& p, const char16_t* end)
{
    const char16_t u = *p++;
    if (u < 0x80)
        return 1;
    if (u < 0x800)
        return 2;
    if (u < 0xD800 || u >= 0xE000)
        return 3;
    if (isHighSurrogate(u) && p < end && isLowSurrogate(*p)) {
        ++p;
        return 4;
    }
    return 1;
}

// Every unit gives at least one byte, so while n units are left the output has room for n bytes:
// the wide loops store a whole block and move on by its ASCII units, then write one code point.

#if defined(QUORRIX_AVX2_LOOPS)
QUORRIX_AVX2 void encodeAvx2(const char16_t*& p, const char16_t* end, unsigned char*& o)
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
        encodeOne(p, end, o);
    }
}

// Units and bytes of the longest prefix counted thirty-two units at a time without surrogates.
QUORRIX_AVX2 qsizetype lengthAvx2(const char16_t*& p, const char16_t* end)
{
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i surrogateMask = _mm256_set1_epi16(short(0xF800));
    const __m256i surrogate = _mm256_set1_epi16(short(0xD800));
    qsizetype total = 0;
    while (end - p >= 16) {
        // At most 2048 blocks per round, so that the 16-bit lane sums cannot overflow.
        __m256i sums = _mm256_setzero_si256();
        int blocks = 0;
        while (end - p >= 16 && blocks < 2048) {
            const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            if (!_mm256_testz_si256(_mm256_cmpeq_epi16(_mm256_and_si256(u, surrogateMask), surrogate),
                                    _mm256_set1_epi16(-1)))
                break;
            // 1, plus 1 from 0x80 on, plus 1 from 0x800 on.
            const __m256i two = _mm256_cmpeq_epi16(_mm256_min_epu16(u, _mm256_set1_epi16(0x80)), _mm256_set1_epi16(0x80));
            const __m256i three = _mm256_cmpeq_epi16(_mm256_min_epu16(u, _mm256_set1_epi16(0x800)), _mm256_set1_epi16(0x800));
            sums = _mm256_sub_epi16(_mm256_sub_epi16(_mm256_add_epi16(sums, ones), two), three);
            p += 16;
            ++blocks;
        }
        alignas(32) quint32 lanes[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), _mm256_madd_epi16(sums, ones));
        for (quint32 lane : lanes)
            total += lane;
        if (blocks < 2048)
            break;
    }
    return total;
}
#endif

} // namespace

namespace MarkdownUtf8 {

qsizetype encodedLength(QStringView text)
{
    const char16_t* p = text.utf16();
    const char16_t* const end = p + text.size();
    qsizetype total = 0;
    while (p < end) {
#if defined(QUORRIX_AVX2_LOOPS)
        if (hasAvx2())
            total += lengthAvx2(p, end);
#endif
#if defined(__SSE2__)
        // Eight units at a time while no surrogate is among them: 1, plus 1 from 0x80 on, plus 1
        // from 0x800 on, summed in 16-bit lanes for at most 4096 blocks at a time.
        const __m128i bias = _mm_set1_epi16(short(0x8000)); // unsigned order as signed
        const __m128i ones = _mm_set1_epi16(1);
        bool surrogate = false;
        while (end - p >= 8 && !surrogate) {
            __m128i sums = _mm_setzero_si128();
            int blocks = 0;
            for (; end - p >= 8 && blocks < 4096; p += 8, ++blocks) {
                const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const __m128i isSurrogate
                    = _mm_cmpeq_epi16(_mm_and_si128(u, _mm_set1_epi16(short(0xF800))), _mm_set1_epi16(short(0xD800)));
                if (_mm_movemask_epi8(isSurrogate)) {
                    surrogate = true;
                    break;
                }
                const __m128i s = _mm_xor_si128(u, bias);
                const __m128i two = _mm_cmpgt_epi16(s, _mm_set1_epi16(short(0x7F ^ 0x8000)));
                const __m128i three = _mm_cmpgt_epi16(s, _mm_set1_epi16(short(0x7FF ^ 0x8000)));
                sums = _mm_sub_epi16(_mm_sub_epi16(_mm_add_epi16(sums, ones), two), three);
            }
            alignas(16) quint32 lanes[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_madd_epi16(sums, ones));
            for (quint32 lane : lanes)
                total += lane;
        }
#endif
        const char16_t* const stop = std::min(end, p + 8);
        while (p < stop)
            total += lengthOne(p, end);
    }
    return total;
}

char* encode(QStringView text, char* out)
{
    const char16_t* p = text.utf16();
    const char16_t* const end = p + text.size();
    auto* o = reinterpret_cast<unsigned char*>(out);
#if defined(QUORRIX_AVX2_LOOPS)
    if (hasAvx2())
        encodeAvx2(p, end, o);
#endif
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(short(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(x, y));
        const unsigned ascii = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(x, high), zero)))
            | unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(y, high), zero))) << 16;
        if (ascii == 0xFFFFFFFFu) {
            p += 16;
            o += 16;
            continue;
        }
        const int run = std::countr_one(ascii) / 2;
        p += run;
        o += run;
        encodeOne(p, end, o);
    }
#endif
    while (p < end)
        encodeOne(p, end, o);
    return reinterpret_cast<char*>(o);
}

} // namespace MarkdownUtf8
