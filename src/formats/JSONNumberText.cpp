#include "formats/JSONNumberText.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace JSONNumberText {

namespace {

using u128 = unsigned __int128;
using i128 = __int128;

// The literal's normal form: sign, significant digits (leading and trailing zeros dropped), the
// power of ten of the last one, and where they stand in the literal.
struct Digits {
    bool negative = false;
    qsizetype count = 0;
    qint64 power = 0;
    qsizetype first = 0; // index of the first significant digit
    qsizetype last = 0;  // of the last
    qsizetype point = 0; // of the decimal point, when it stands between them; else -1
};

// Far beyond any double either way; the cap keeps the sums below from overflowing.
constexpr qint64 exponentCap = qint64(1) << 40;

Digits readDigits(const char* p, qsizetype n, qsizetype point, qsizetype mark)
{
    Digits d;
    d.negative = *p == '-';
    const qsizetype start = d.negative;
    // The first significant digit: the integer part has no leading zero but a lone "0".
    qsizetype first = start;
    if (p[first] == '0') {
        first = point + 1;
        while (first < mark && p[first] == '0')
            ++first;
        if (first >= mark)
            return d; // zero
    }
    // The last: trailing zeros of the fraction, then of the integer part.
    qsizetype last = mark - 1;
    while (last > point && p[last] == '0')
        --last;
    if (last <= point) {
        last = point - 1;
        while (p[last] == '0')
            --last;
    }
    qint64 exponent = 0;
    if (mark < n) {
        qsizetype i = mark + 1;
        const bool negativeExponent = p[i] == '-';
        i += p[i] == '-' || p[i] == '+';
        for (; i < n; ++i)
            if (exponent <= exponentCap)
                exponent = exponent * 10 + (p[i] - '0');
        if (negativeExponent)
            exponent = -exponent;
    }
    const bool split = first < point && point < last;
    d.count = last - first + 1 - split;
    d.power = exponent + (last < point ? point - 1 - last : -(last - point));
    d.first = first;
    d.last = last;
    d.point = split ? point : -1;
    return d;
}

// The digit units p[from, to) as a number (at most 19 of them), after `value`.
quint64 runValue(const char* p, qsizetype from, qsizetype to, qsizetype size, quint64 value)
{
#if defined(__SSE2__) && defined(__x86_64__)
    // Eight at a time, where eight units from `from` or up to `to` lie inside the literal.
    auto eight = [](const char* at, int keepFrom, int keepTo) {
        // Less '0' a byte at a time, so that no borrow crosses into a digit.
        const __m128i bytes = _mm_sub_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at)), _mm_set1_epi8('0'));
        quint64 v = quint64(_mm_cvtsi128_si64(bytes));
        // The first digit is the lowest byte: what stands from `keepTo` on is shifted out, and
        // what stood before `keepFrom` is cleared, to zeros in front.
        v = (v << (8 * (8 - keepTo))) & (~0ull << (8 * (8 - (keepTo - keepFrom))));
        v = v * 10 + (v >> 8);
        return (((v & 0x000000FF000000FFull) * 0x000F424000000064ull)
                + (((v >> 16) & 0x000000FF000000FFull) * 0x0000271000000001ull)) >> 32;
    };
    static constexpr quint64 powersOf10[] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull,
                                             10000000ull, 100000000ull};
    if (size >= 8) {
        for (; to - from >= 8; from += 8)
            value = value * 100000000ull + eight(p + from, 0, 8);
        if (to > from) {
            const qsizetype at = std::max<qsizetype>(0, to - 8);
            value = value * powersOf10[to - from] + eight(p + at, int(from - at), int(to - at));
        }
        return value;
    }
#else
    Q_UNUSED(size);
#endif
    for (; from < to; ++from)
        value = value * 10 + quint64(p[from] - '0');
    return value;
}

// The double's text from its shortest digits (`count` of them, value d.ddd × 10^exp): a whole
// value keeps ".0"; magnitudes below 1e-4 or from 1e16 on take an exponent ("1e-05", "1.5e+16").
[[gnu::noinline]] int writeText(bool negative, const char* digits, int count, int exp, char* out)
{
    char* w = out;
    if (negative)
        *w++ = '-';
    if (exp >= -4 && exp < 16) {
        if (exp >= 0) {
            const int intDigits = exp + 1;
            for (int i = 0; i < intDigits; ++i)
                *w++ = i < count ? char(digits[i]) : '0';
            *w++ = '.';
            if (count > intDigits)
                for (int i = intDigits; i < count; ++i)
                    *w++ = char(digits[i]);
            else
                *w++ = '0';
        } else {
            *w++ = '0';
            *w++ = '.';
            for (int i = 0; i < -exp - 1; ++i)
                *w++ = '0';
            for (int i = 0; i < count; ++i)
                *w++ = char(digits[i]);
        }
        return int(w - out);
    }
    *w++ = char(digits[0]);
    if (count > 1) {
        *w++ = '.';
        for (int i = 1; i < count; ++i)
            *w++ = char(digits[i]);
    }
    *w++ = 'e';
    *w++ = exp < 0 ? '-' : '+';
    const int absExp = exp < 0 ? -exp : exp;
    if (absExp < 10)
        *w++ = '0';
    char text[8];
    const auto r = std::to_chars(text, text + sizeof text, absExp);
    for (const char* c = text; c < r.ptr; ++c)
        *w++ = char(*c);
    return int(w - out);
}

enum class Shortest { yes, no, unknown };

// Whether 16 or 17 digits m × 10^-k (k from 0 to 27) are the shortest digits of the double nearest
// them. A shorter text reads as the same double exactly when one of the two multiples of ten
// around m does; without one, the digits are the shortest when they stand within half a unit of
// the double, no other text of their length being nearer. Decided with m × 2^s / 10^k taken as
// m × T, T the 64 leading bits of 2^s / 10^k, whose error (under m units) is far below what
// decides; a case within it, a tie or a double that is a power of two (whose gap below is half
// the one above) is left undecided, to the long way.
Shortest isShortest(quint64 m, int k)
{
    static constexpr quint64 tenths[] = {
        0x8000000000000000ull, 0xccccccccccccccccull, 0xa3d70a3d70a3d70aull, 0x83126e978d4fdf3bull,
        0xd1b71758e219652bull, 0xa7c5ac471b478423ull, 0x8637bd05af6c69b5ull, 0xd6bf94d5e57a42bcull,
        0xabcc77118461cefcull, 0x89705f4136b4a597ull, 0xdbe6fecebdedd5beull, 0xafebff0bcb24aafeull,
        0x8cbccc096f5088cbull, 0xe12e13424bb40e13ull, 0xb424dc35095cd80full, 0x901d7cf73ab0acd9ull,
        0xe69594bec44de15bull, 0xb877aa3236a4b449ull, 0x9392ee8e921d5d07ull, 0xec1e4a7db69561a5ull,
        0xbce5086492111aeaull, 0x971da05074da7beeull, 0xf1c90080baf72cb1ull, 0xc16d9a0095928a27ull,
        0x9abe14cd44753b52ull, 0xf79687aed3eec551ull, 0xc612062576589ddaull, 0x9e74d1b791e07e48ull};
    const quint64 T = tenths[k];
    // The literal, scaled: in [P, P + m).
    const u128 P = u128(m) * T;
    auto bits = [](u128 x) {
        const quint64 high = quint64(x >> 64);
        return high ? 128 - std::countl_zero(high) : 64 - std::countl_zero(quint64(x));
    };
    const int length = bits(P);
    if (bits(P + m) != length)
        return Shortest::unknown;
    // The double's gap is 2^u here; its significand the top 53 bits, rounded.
    const int u = length - 53;
    const u128 gap = u128(1) << u;
    const i128 half = i128(gap >> 1);
    const u128 fraction = P & (gap - 1);
    // The literal's place among the doubles decides most of what follows both ways alike, so
    // the steps below are taken without branches where they can be.
    const bool roundsUp = fraction > gap >> 1;
    if (!roundsUp && fraction + m >= gap >> 1)
        return Shortest::unknown; // about halfway
    const quint64 M = quint64(P >> u) + roundsUp;
    if (M == (quint64(1) << 52) || M == (quint64(1) << 53))
        return Shortest::unknown;
    // The literal less the double: in [E, E + m).
    const i128 E = i128(fraction) - (roundsUp ? i128(gap) : i128(0));
    // A text c × 10^-k stands at E + (c - m) × T from the double, within c units more.
    const i128 margin = i128(m) + 16;
    const qint64 r = qint64(m % 10);
    const i128 below = E - i128(r) * i128(T), above = E + i128(10 - r) * i128(T);
    const bool belowReads = (below > -half) & (below + margin < half);
    const bool aboveReads = (above > -half) & (above + margin < half);
    const bool belowClear = (below > half) | (below + margin < -half);
    const bool aboveClear = (above > half) | (above + margin < -half);
    if (belowReads | aboveReads)
        return Shortest::no;
    if (!(belowClear & aboveClear))
        return Shortest::unknown;
    // Nearer than half of one unit (T, up to one more) of the last digit?
    const i128 high = E + i128(m);
    const i128 lowAbs = E < 0 ? -E : E, highAbs = high < 0 ? -high : high;
    const i128 most = lowAbs > highAbs ? lowAbs : highAbs;
    const i128 least = (E <= 0) & (high >= 0) ? 0 : (lowAbs < highAbs ? lowAbs : highAbs);
    if (2 * most < i128(T))
        return Shortest::yes;
    if (2 * least > i128(T) + 1)
        return Shortest::no;
    return Shortest::unknown;
}

// The shortest digits of a finite nonzero double and its decimal exponent: value = d.ddd × 10^exp.
struct ShortestDigits {
    char digits[24];
    int count = 0;
    int exp = 0;
    bool negative = false;
};

ShortestDigits shortestDigits(double value)
{
    ShortestDigits d;
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    // buf: [-]d[.ddd]e(+|-)XX
    const char* p = buf;
    const char* end = res.ptr;
    if (*p == '-') {
        d.negative = true;
        ++p;
    }
    while (p < end && *p != 'e') {
        if (*p != '.')
            d.digits[d.count++] = *p;
        ++p;
    }
    std::from_chars(p + 1 + (p[1] == '+'), end, d.exp);
    while (d.count > 1 && d.digits[d.count - 1] == '0')
        --d.count;
    return d;
}

// The long way: the literal read as a double and that double's shortest digits compared with its
// own. The double's text, or -1.
[[gnu::noinline]] int doubleText(const Digits& literal, const char* digits, std::string_view text, char* out)
{
    double value = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    // Beyond the double's range either way: the literal keeps its text.
    if (res.ec != std::errc() || !std::isfinite(value) || value == 0)
        return -1;
    const ShortestDigits d = shortestDigits(value);
    if (d.negative != literal.negative || d.count != literal.count || qint64(d.exp) - (d.count - 1) != literal.power
        || !std::equal(d.digits, d.digits + d.count, digits))
        return -1;
    return writeText(d.negative, d.digits, d.count, d.exp, out);
}

} // namespace

int respelling(std::string_view literal, qsizetype point, qsizetype mark, char* out)
{
    const qsizetype n = literal.size();
    if (n > 4096)
        return -1; // far beyond what a double can carry; keep the source text
    const char* const p = literal.data();
    const Digits d = readDigits(p, n, point, mark);
    if (d.count == 0) {
        // Zero prints as "0.0", with its sign.
        const bool spelled = mark == n && mark - point == 2 && p[point + 1] == '0' && point - d.negative == 1;
        if (spelled)
            return -1;
        char* w = out;
        if (d.negative)
            *w++ = '-';
        *w++ = '0';
        *w++ = '.';
        *w++ = '0';
        return int(w - out);
    }
    if (d.count > 17)
        return -1; // more digits than any double's shortest text
    const qint64 exp = d.power + d.count - 1;
    // Up to 15 digits of a normal double are always its shortest text: no two such texts read as
    // the same double, the doubles' gaps being finer than theirs.
    Shortest shortest = d.count <= 15 && exp >= -307 && exp <= 307 ? Shortest::yes : Shortest::unknown;
    if (shortest == Shortest::unknown && d.count >= 16 && d.power <= 0 && d.power >= -27) {
        // The integer part's digits first: without an exponent they alone often settle it. Texts
        // one digit shorter stand 10^(power + 1) apart; when that is below the double's gap,
        // found from the integer part's leading bit, some such text reads as the same double (a
        // power of two rounded to has more room still), so the literal keeps its text.
        static constexpr qint8 shorterGap[] = {1,   -3,  -6,  -9,  -13, -16, -19, -23, -26, -29, -33, -36, -39, -43,
                                               -46, -49, -53, -56, -59, -63, -66, -69, -73, -76, -79, -83, -86};
        quint64 whole = 0;
        const qsizetype wholeEnd = std::min(point, d.last + 1);
        for (qsizetype i = d.first; i < wholeEnd; ++i)
            whole = whole * 10 + quint64(p[i] - '0');
        const qint64 shorter = -(d.power + 1); // 10^(power + 1) < 2^shorterGap[shorter]
        if (whole && mark == n && shorter >= 0 && shorterGap[shorter] <= (63 - std::countl_zero(whole)) - 52)
            return -1;
        static constexpr quint64 powersOf10[] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull,
            10000000ull, 100000000ull, 1000000000ull, 10000000000ull, 100000000000ull, 1000000000000ull,
            10000000000000ull, 100000000000000ull, 1000000000000000ull, 10000000000000000ull, 100000000000000000ull};
        // The fraction's digits up to the last significant one follow the whole part's; when that
        // is zero, from the first significant one on.
        const quint64 fraction = d.last > point ? runValue(p, std::max(point + 1, d.first), d.last + 1, n, 0) : 0;
        const quint64 m = whole && d.last > point ? whole * powersOf10[d.last - point] + fraction : whole + fraction;
        shortest = isShortest(m, int(-d.power));
    }
    if (shortest == Shortest::no)
        return -1;
    // The double's text is the literal's own when it has no exponent and its fraction no
    // trailing zero (but a lone one), and it is not so large or small as to take one.
    if (shortest == Shortest::yes && mark == n && point < mark && exp >= -4 && exp < 16
        && (p[mark - 1] != '0' || mark - point == 2))
        return -1;
    char digits[20];
    char* w = digits;
    for (qsizetype i = d.first; i <= d.last; ++i)
        if (i != d.point)
            *w++ = char(p[i]);
    const int length = shortest == Shortest::yes ? writeText(d.negative, digits, int(d.count), int(exp), out)
                                                 : doubleText(d, digits, literal, out);
    if (length < 0 || std::string_view(out, size_t(length)) == literal)
        return -1;
    return length;
}

} // namespace JSONNumberText
