#pragma once

#include "formats/CpuFeatures.h"
#include "formats/JSONDocument.h"

#include <QtGlobal>

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Where the tokens of a JSON text end, found the same way by the reader, which checks them, and by
// the printer, which copies them from a text already checked.
namespace JSONTokenScan {

inline unsigned char byteAt(const char* p) { return static_cast<unsigned char>(*p); }

inline bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// A byte stops a plain run of a string body when it is a quotation mark, a backslash or a control
// character. (The text is well-formed UTF-8: every other byte belongs to the string.)
inline bool endsPlainRun(char c) { return c == '"' || c == '\\' || byteAt(&c) < 0x20; }

#if defined(QUORRIX_AVX2_LOOPS)
QUORRIX_AVX2 const char* plainRunEndAvx2(const char* p, const char* end);
#endif

// Where the plain run of a string body from p (just past its opening quotation mark or later)
// ends: at a quotation mark, a backslash, a control character or the end. Strings are most of a
// large document, so this goes sixteen or thirty-two bytes a step.
inline const char* plainRunEnd(const char* p, const char* end)
{
#if defined(QUORRIX_AVX2_LOOPS)
    if (CpuFeatures::hasAvx2())
        return plainRunEndAvx2(p, end);
#endif
#if defined(__SSE2__)
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const unsigned printable = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(0x20)), v)));
        const unsigned stop = (unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                                                       _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')))))
                               | ~printable) & 0xFFFF;
        if (stop)
            return p + __builtin_ctz(stop);
        p += 16;
    }
#endif
    while (p < end && !endsPlainRun(*p))
        ++p;
    return p;
}

enum class StringFault : quint8 { none, unterminated, control, unicodeEscape, escape };

struct StringScan {
    const char* at;   // the closing quotation mark, or where the fault stands
    StringFault fault;
    quint8 flags;     // Node::escaped when a backslash was met
};

StringScan scanStringRest(const char* open, const char* p, const char* end);

// A string literal from its opening quotation mark. Most are one plain run.
[[gnu::always_inline]] inline StringScan scanString(const char* open, const char* end)
{
    const char* p = plainRunEnd(open + 1, end);
    if (p < end && *p == '"') [[likely]]
        return StringScan{p, StringFault::none, 0};
    return scanStringRest(open, p, end);
}


enum class NumberFault : quint8 { none, minus, leadingZero, point, exponent };

struct NumberScan {
    const char* stop;  // just past the literal
    NumberFault fault;
    bool integer;
    const char* point; // the decimal point, else where the exponent or the end stands
    const char* mark;  // "e" or "E", else the end
};

#if defined(__SSE2__)
// Where digits, points, exponent marks and signs stand among the 32 bytes at p (bit i for p[i]).
struct ByteClasses {
    quint64 digit, point, mark, sign;
};
inline ByteClasses classesOf32(const char* p)
{
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    auto mask = [](__m128i a, __m128i b) {
        return quint64(quint32(_mm_movemask_epi8(a)) | quint32(_mm_movemask_epi8(b)) << 16);
    };
    // Bytes from '0' to '9' are those that, less '0' (wrapping), do not exceed 9.
    auto digit = [](__m128i v) {
        return _mm_cmpeq_epi8(_mm_subs_epu8(_mm_sub_epi8(v, _mm_set1_epi8('0')), _mm_set1_epi8(9)), _mm_setzero_si128());
    };
    auto is = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    auto mark = [&](__m128i v) { return is(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'e'); };
    auto sign = [&](__m128i v) { return _mm_or_si128(is(v, '-'), is(v, '+')); };
    return ByteClasses{mask(digit(lo), digit(hi)), mask(is(lo, '.'), is(hi, '.')), mask(mark(lo), mark(hi)),
                       mask(sign(lo), sign(hi))};
}
#endif

NumberScan scanNumberPlain(const char* p, const char* end);

// A number literal from its first byte ('-' or a digit).
[[gnu::always_inline]] inline NumberScan scanNumber(const char* p, const char* end)
{
#if defined(__SSE2__)
    // Most literals are read whole from the classes of the bytes ahead.
    if (end - p >= 32) {
        const ByteClasses c = classesOf32(p);
        const quint64 other = ~c.digit;
        NumberScan r{p, NumberFault::none, true, nullptr, nullptr};
        const int start = *p == '-';
        const int intEnd = start + std::countr_zero(other >> start);
        if (intEnd == start) {
            r.fault = NumberFault::minus;
            return r;
        }
        if (p[start] == '0' && intEnd > start + 1) {
            r.fault = NumberFault::leadingZero;
            return r;
        }
        int i = intEnd;
        r.point = p + i;
        if ((c.point >> i) & 1) {
            r.integer = false;
            const int fractionEnd = i + 1 + std::countr_zero(other >> (i + 1));
            if (fractionEnd == i + 1) {
                r.fault = NumberFault::point;
                return r;
            }
            i = fractionEnd;
        }
        r.mark = p + i;
        if ((c.mark >> i) & 1) {
            r.integer = false;
            const int digits = i + 1 + int((c.sign >> (i + 1)) & 1);
            const int exponentEnd = digits + std::countr_zero(other >> digits);
            if (exponentEnd == digits) {
                r.fault = NumberFault::exponent;
                return r;
            }
            i = exponentEnd;
        }
        if (i < 32) {
            r.stop = p + i;
            return r;
        }
        // The literal runs on past the bytes looked at: the plain way.
    }
#endif
    return scanNumberPlain(p, end);
}

inline bool isBlankByte(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Where a run of blanks ends. Indentation makes long runs: they go sixteen or thirty-two bytes a step.
const char* blankRunEnd(const char* p, const char* end);

// Past the blanks at p: most tokens stand after none or one, which are settled here.
inline const char* skipBlanks(const char* p, const char* end)
{
    if (p >= end || byteAt(p) > ' ' || !isBlankByte(*p))
        return p;
    ++p;
    if (p >= end || byteAt(p) > ' ')
        return p;
    return blankRunEnd(p, end);
}

} // namespace JSONTokenScan
