#include "tools/markdown/MarkdownText.h"

#include "formats/CpuFeatures.h"

#include <QChar>

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

#if defined(QUORRIX_AVX2_LOOPS)
QUORRIX_AVX2 const char16_t* findEscapableAvx2(const char16_t* p, const char16_t* end, char16_t also)
{
    const __m256i amp = _mm256_set1_epi16(u'&');
    const __m256i lt = _mm256_set1_epi16(u'<');
    const __m256i gt = _mm256_set1_epi16(u'>');
    const __m256i other = _mm256_set1_epi16(short(also));
    for (; end - p >= 16; p += 16) {
        const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i hit = _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi16(u, amp), _mm256_cmpeq_epi16(u, lt)),
                                            _mm256_or_si256(_mm256_cmpeq_epi16(u, gt), _mm256_cmpeq_epi16(u, other)));
        if (const unsigned mask = unsigned(_mm256_movemask_epi8(hit)))
            return p + __builtin_ctz(mask) / 2;
    }
    return p;
}

// Presence by a table look-up: each unit, narrowed to a byte (units above 0xFF become 0xFF or
// 0), selects by its low and its high half a byte of bits, one bit for each character of the set
// with that half; a unit has bit k in both exactly when it is set.chars[k]. Thirty-two units a
// step (sixteen for a shorter text); the last step overlaps the one before. At least sixteen units.
QUORRIX_AVX2 inline __m128i lookSixteen(const char16_t* at, __m128i lowTable, __m128i highTable)
{
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i bytes = _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)),
                                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 8)));
    return _mm_and_si128(_mm_shuffle_epi8(lowTable, _mm_and_si128(bytes, nibble)),
                         _mm_shuffle_epi8(highTable, _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble)));
}

QUORRIX_AVX2 unsigned presentAmongAvx2(const char16_t* p, qsizetype n, const MarkdownText::AsciiSet& set)
{
    const __m128i lowTable = _mm_load_si128(reinterpret_cast<const __m128i*>(set.low));
    const __m128i highTable = _mm_load_si128(reinterpret_cast<const __m128i*>(set.high));
    const char16_t* const end = p + n;
    __m128i folded;
    if (n >= 32) {
        const __m256i lows = _mm256_broadcastsi128_si256(lowTable);
        const __m256i highs = _mm256_broadcastsi128_si256(highTable);
        const __m256i nibble = _mm256_set1_epi8(0x0F);
        __m256i seen = _mm256_setzero_si256();
        for (;;) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16));
            const __m256i bytes = _mm256_packus_epi16(a, b);
            seen = _mm256_or_si256(seen, _mm256_and_si256(_mm256_shuffle_epi8(lows, _mm256_and_si256(bytes, nibble)),
                                                          _mm256_shuffle_epi8(highs, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble))));
            p += 32;
            if (p >= end)
                break;
            if (end - p < 32)
                p = end - 32;
        }
        folded = _mm_or_si128(_mm256_castsi256_si128(seen), _mm256_extracti128_si256(seen, 1));
    } else {
        folded = _mm_or_si128(lookSixteen(p, lowTable, highTable), lookSixteen(end - 16, lowTable, highTable));
    }
    folded = _mm_or_si128(folded, _mm_srli_si128(folded, 8));
    folded = _mm_or_si128(folded, _mm_srli_si128(folded, 4));
    folded = _mm_or_si128(folded, _mm_srli_si128(folded, 2));
    folded = _mm_or_si128(folded, _mm_srli_si128(folded, 1));
    return unsigned(_mm_cvtsi128_si32(folded)) & 0xFF;
}

using CpuFeatures::hasAvx2;
#endif

} // namespace

namespace MarkdownText {

const char16_t* findEscapable(const char16_t* p, const char16_t* end, char16_t also)
{
    const char16_t* const begin = p;
#if defined(QUORRIX_AVX2_LOOPS)
    if (hasAvx2()) {
        p = findEscapableAvx2(p, end, also);
        if (end - p >= 16)
            return p;
    }
#endif
#if defined(__SSE2__)
    const __m128i amp = _mm_set1_epi16(u'&');
    const __m128i lt = _mm_set1_epi16(u'<');
    const __m128i gt = _mm_set1_epi16(u'>');
    const __m128i other = _mm_set1_epi16(short(also));
    auto hits = [&](const char16_t* at) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        return unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(u, amp), _mm_cmpeq_epi16(u, lt)),
                                                       _mm_or_si128(_mm_cmpeq_epi16(u, gt), _mm_cmpeq_epi16(u, other)))));
    };
    for (; end - p >= 8; p += 8) {
        if (const unsigned mask = hits(p))
            return p + __builtin_ctz(mask) / 2;
    }
    if (p == end)
        return end;
    // The last few units: eight that end at the end, those already read masked off.
    if (end - begin >= 8) {
        const char16_t* const last = end - 8;
        if (const unsigned mask = hits(last) & ~((1u << (2 * (p - last))) - 1))
            return last + __builtin_ctz(mask) / 2;
        return end;
    }
#endif
    // '&' (38), '<' (60) and '>' (62) as bits of one word.
    constexpr quint64 escapable = (quint64(1) << u'&') | (quint64(1) << u'<') | (quint64(1) << u'>');
    for (; p < end; ++p) {
        if ((*p < 64 && ((escapable >> *p) & 1)) || *p == also)
            return p;
    }
    return end;
}

bool containsSchemeSeparator(QStringView text)
{
    const char16_t* p = text.utf16();
    const char16_t* const end = p + text.size();
#if defined(__SSE2__)
    // Eight places a step, each compared with the two units after it too.
    const __m128i colon = _mm_set1_epi16(u':');
    const __m128i slash = _mm_set1_epi16(u'/');
    for (; end - p >= 10; p += 8) {
        const __m128i at = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), colon);
        const __m128i next = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1)), slash);
        const __m128i after = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2)), slash);
        if (_mm_movemask_epi8(_mm_and_si128(at, _mm_and_si128(next, after))))
            return true;
    }
#endif
    for (; end - p >= 3; ++p) {
        if (p[0] == u':' && p[1] == u'/' && p[2] == u'/')
            return true;
    }
    return false;
}

unsigned presentAmong(QStringView text, const AsciiSet& set)
{
    const char16_t* p = text.utf16();
    const qsizetype n = text.size();
    if (n < 16) {
        unsigned bits = 0;
        for (qsizetype i = 0; i < n; ++i) {
            if (p[i] < 0x80)
                bits |= set.of[p[i]];
        }
        return bits;
    }
#if defined(QUORRIX_AVX2_LOOPS)
    if (hasAvx2())
        return presentAmongAvx2(p, n, set);
#endif
#if defined(__SSE2__)
    // Presence does not mind units seen twice: the last block overlaps the one before.
    const char16_t* const end = p + n;
    __m128i want[8];
    __m128i seen[8];
    for (int k = 0; k < 8; ++k) {
        want[k] = _mm_set1_epi16(short(set.chars[k]));
        seen[k] = _mm_setzero_si128();
    }
    for (;;) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        for (int k = 0; k < 8; ++k)
            seen[k] = _mm_or_si128(seen[k], _mm_cmpeq_epi16(u, want[k]));
        p += 8;
        if (p >= end)
            break;
        if (end - p < 8)
            p = end - 8;
    }
    unsigned bits = 0;
    for (int k = 0; k < 8; ++k) {
        if (_mm_movemask_epi8(seen[k]))
            bits |= 1u << k;
    }
    // A character given twice stands for its first bit only.
    unsigned given = 0;
    for (int k = 0; k < 8; ++k)
        given |= set.of[set.chars[k]];
    return bits & given;
#else
    unsigned bits = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] < 0x80)
            bits |= set.of[p[i]];
    }
    return bits;
#endif
}

bool isWhiteSpaceProperty(char32_t c)
{
    if (c < 0x80)
        return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029
        || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool isWordChar(char32_t c)
{
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
    if (c == 0x200C || c == 0x200D)
        return true;
    switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Number_Letter:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Punctuation_Connector:
        return true;
    default:
        // Alphabetic symbols: circled and squared Latin letters.
        return (c >= 0x24B6 && c <= 0x24E9) || (c >= 0x1F130 && c <= 0x1F149) || (c >= 0x1F150 && c <= 0x1F169)
            || (c >= 0x1F170 && c <= 0x1F189);
    }
}

bool isDecimalDigit(char32_t c)
{
    if (c < 0x80)
        return c >= u'0' && c <= u'9';
    return QChar::category(c) == QChar::Number_DecimalDigit;
}

bool endsCharacter(QStringView s, qsizetype i)
{
    if (i >= s.size())
        return true;
    const char32_t c = scalarAt(s, i);
    if (c < 0x300)
        return true;
    if (c == 0x200C || c == 0x200D || c == 0xFF9E || c == 0xFF9F || (c >= 0x1F3FB && c <= 0x1F3FF)
        || (c >= 0xE0020 && c <= 0xE007F))
        return false;
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return false;
    default:
        return true;
    }
}

} // namespace MarkdownText
