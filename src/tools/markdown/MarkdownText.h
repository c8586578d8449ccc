#pragma once

#include "tools/markdown/MarkdownOutput.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <cstring>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Character classes and small text steps shared by the Markdown converter. Offsets are UTF-16
// units; classes that depend on the scalar decode surrogate pairs.
namespace MarkdownText {

// Tab or a Unicode space separator (Zs): what trimming removes. Line breaks are not in it.
inline bool isTrimSpace(char16_t u)
{
    if (u == u' ' || u == u'\t')
        return true;
    if (u < 0xA0)
        return false;
    return u == 0xA0 || u == 0x1680 || (u >= 0x2000 && u <= 0x200A) || u == 0x202F || u == 0x205F || u == 0x3000;
}

inline QStringView trimmed(QStringView s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && isTrimSpace(s[begin].unicode()))
        ++begin;
    while (end > begin && isTrimSpace(s[end - 1].unicode()))
        --end;
    return s.sliced(begin, end - begin);
}

// \s of the converter's patterns: tab, LF, FF, CR and every separator (Zs, Zl, Zp). All are BMP.
inline bool isPatternSpace(char16_t u)
{
    if (u < 0x80)
        return u == u' ' || u == u'\t' || u == u'\n' || u == u'\f' || u == u'\r';
    return isTrimSpace(u) || u == 0x2028 || u == 0x2029;
}

// The Unicode White_Space property.
bool isWhiteSpaceProperty(char32_t c);

// \w of the converter's patterns: alphabetic, marks, decimal digits, connector punctuation, ZWNJ, ZWJ.
bool isWordChar(char32_t c);

// \d: a Unicode decimal digit (Nd).
bool isDecimalDigit(char32_t c);

// The scalar starting at i (a lone surrogate is itself); width receives 1 or 2.
inline char32_t scalarAt(QStringView s, qsizetype i, int* width = nullptr)
{
    const char16_t u = s[i].unicode();
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < s.size()) {
        const char16_t v = s[i + 1].unicode();
        if (v >= 0xDC00 && v < 0xE000) {
            if (width)
                *width = 2;
            return 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(v) - 0xDC00);
        }
    }
    if (width)
        *width = 1;
    return u;
}

// The scalar that ends just before i (i > 0).
inline char32_t scalarBefore(QStringView s, qsizetype i)
{
    const char16_t v = s[i - 1].unicode();
    if (v >= 0xDC00 && v < 0xE000 && i >= 2) {
        const char16_t u = s[i - 2].unicode();
        if (u >= 0xD800 && u < 0xDC00)
            return 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(v) - 0xDC00);
    }
    return v;
}

// Whether a user-perceived character ends at i, given that the unit before i is ASCII: false when
// a combining mark, joiner or other grapheme extender follows.
bool endsCharacter(QStringView s, qsizetype i);

// s[i] is the ASCII character c standing alone as one user-perceived character.
inline bool isCharacterAt(QStringView s, qsizetype i, char16_t c)
{
    return i < s.size() && s[i].unicode() == c && (i + 1 >= s.size() || s[i + 1].unicode() < 0x80 || endsCharacter(s, i + 1));
}

inline bool startsWithCharacter(QStringView s, char16_t c) { return isCharacterAt(s, 0, c); }

// Lines of a document or of a block, without their line breaks; a QList converts to it.
using Lines = std::span<const QStringView>;

// Lines read trimmed, trimming each when it is asked for (trimming touches only the blanks at the ends).
struct TrimmedLines {
    Lines lines;
    QStringView operator[](qsizetype i) const { return trimmed(lines[i]); }
};

// Appending to the converter's output.
inline void appendUnits(MarkdownOutput& out, const char16_t* units, qsizetype n) { out.append(units, n); }
inline void clearUnits(MarkdownOutput& out) { out.clear(); }
inline void appendView(MarkdownOutput& out, QStringView text) { out.append(text.utf16(), text.size()); }
inline void appendUnit(MarkdownOutput& out, char16_t unit) { out.appendFixed<1>(&unit); }
template<size_t N>
inline void appendLiteral(MarkdownOutput& out, const char16_t (&text)[N])
{
    out.appendFixed<qsizetype(N - 1)>(text);
}

// The first unit from p on that is a or b, or end; eight units at a time.
inline const char16_t* findEither(const char16_t* p, const char16_t* end, char16_t a, char16_t b)
{
#if defined(__SSE2__)
    const __m128i wantA = _mm_set1_epi16(short(a));
    const __m128i wantB = _mm_set1_epi16(short(b));
    for (; end - p >= 8; p += 8) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hit = _mm_or_si128(_mm_cmpeq_epi16(u, wantA), _mm_cmpeq_epi16(u, wantB));
        if (const unsigned mask = unsigned(_mm_movemask_epi8(hit)))
            return p + __builtin_ctz(mask) / 2;
    }
#endif
    for (; p < end; ++p) {
        if (*p == a || *p == b)
            return p;
    }
    return end;
}

// s.indexOf(unit, from) for from >= 0, inline: the converter searches many short texts.
inline qsizetype indexOfUnit(QStringView s, char16_t unit, qsizetype from = 0)
{
    if (from >= s.size())
        return -1;
    const char16_t* const base = s.utf16();
    const char16_t* const hit = findEither(base + from, base + s.size(), unit, unit);
    return hit == base + s.size() ? -1 : hit - base;
}

// Whether the text holds "://".
bool containsSchemeSeparator(QStringView text);

// The first of "&", "<", ">" and `also` from p on, or end.
const char16_t* findEscapable(const char16_t* p, const char16_t* end, char16_t also = u'&');

// Up to eight ASCII characters (no U+0000) looked for at once, bit k standing for chars[k]; made
// when compiled, with the tables of the look-ups.
struct AsciiSet {
    char16_t chars[8] = {};
    // For a unit's low and high four bits, the characters that have them.
    alignas(16) unsigned char low[16] = {};
    alignas(16) unsigned char high[16] = {};
    // For each ASCII unit, the characters it is.
    unsigned char of[128] = {};

    template<size_t N>
    consteval AsciiSet(const char16_t (&set)[N])
    {
        static_assert(N >= 2 && N <= 9, "up to eight characters");
        for (size_t k = 0; k + 1 < N; ++k) {
            const char16_t c = set[k];
            if (c == 0 || c >= 0x80)
                throw "an ASCII character other than U+0000";
            chars[k] = c;
            low[c & 0xF] |= (unsigned char)(1u << k);
            high[c >> 4] |= (unsigned char)(1u << k);
            of[c] |= (unsigned char)(1u << k);
        }
        // Unused bits repeat the first character, which the comparisons then find again.
        for (size_t k = N - 1; k < 8; ++k)
            chars[k] = set[0];
    }
};

// Bit k set when set.chars[k] occurs in the text (only for the characters given).
unsigned presentAmong(QStringView text, const AsciiSet& set);

} // namespace MarkdownText
