#include "formats/JSONNumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace JSONNumberText {

namespace {

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
    return d;
}

// The shortest text that reads back as the double, written to `out` (room for 32 units); its
// length. A whole value keeps ".0"; magnitudes below 1e-4 or from 1e16 on take an exponent
// ("1e-05", "1.5e+16").
int writeDoubleText(double value, const ShortestDigits& d, char16_t* out)
{
    char16_t* w = out;
    if (value == 0) {
        if (std::signbit(value))
            *w++ = u'-';
        *w++ = u'0';
        *w++ = u'.';
        *w++ = u'0';
        return int(w - out);
    }
    if (d.negative)
        *w++ = u'-';
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e-4 && magnitude < 1e16) {
        if (d.exp >= 0) {
            const int intDigits = d.exp + 1;
            for (int i = 0; i < intDigits; ++i)
                *w++ = i < d.count ? char16_t(d.digits[i]) : u'0';
            *w++ = u'.';
            if (d.count > intDigits)
                for (int i = intDigits; i < d.count; ++i)
                    *w++ = char16_t(d.digits[i]);
            else
                *w++ = u'0';
        } else {
            *w++ = u'0';
            *w++ = u'.';
            for (int i = 0; i < -d.exp - 1; ++i)
                *w++ = u'0';
            for (int i = 0; i < d.count; ++i)
                *w++ = char16_t(d.digits[i]);
        }
        return int(w - out);
    }
    *w++ = char16_t(d.digits[0]);
    if (d.count > 1) {
        *w++ = u'.';
        for (int i = 1; i < d.count; ++i)
            *w++ = char16_t(d.digits[i]);
    }
    *w++ = u'e';
    *w++ = d.exp < 0 ? u'-' : u'+';
    const int absExp = d.exp < 0 ? -d.exp : d.exp;
    if (absExp < 10)
        *w++ = u'0';
    char digits[8];
    const auto r = std::to_chars(digits, digits + sizeof digits, absExp);
    for (const char* c = digits; c < r.ptr; ++c)
        *w++ = char16_t(*c);
    return int(w - out);
}

} // namespace

int printedDecimal(QStringView literal, char16_t* out)
{
    if (literal.size() > 4096)
        return -1; // far beyond what a double can carry; keep the source text
    char buf[4100];
    const qsizetype n = literal.size();
    for (qsizetype i = 0; i < n; ++i)
        buf[i] = char(literal[i].unicode());
    double value = 0;
    const auto res = std::from_chars(buf, buf + n, value);
    if (res.ec != std::errc() || !std::isfinite(value))
        return -1;

    // The literal's normal form, read in place: sign, significant digits, power of ten.
    bool negative = false, negativeExponent = false;
    qint64 exp = 0;
    constexpr qint64 expCap = (qint64(1) << 40) - 1;
    qsizetype i = 0;
    if (buf[0] == '-') {
        negative = true;
        ++i;
    }
    const qsizetype mantissaStart = i;
    while (i < n && buf[i] != 'e' && buf[i] != 'E')
        ++i;
    const qsizetype mantissaEnd = i;
    if (i < n) {
        ++i;
        if (i < n && (buf[i] == '-' || buf[i] == '+'))
            negativeExponent = buf[i++] == '-';
        for (; i < n; ++i)
            if (exp <= expCap)
                exp = exp * 10 + (buf[i] - '0');
    }
    // Digits of the mantissa without the point, leading and trailing zeros.
    qsizetype first = mantissaStart, last = mantissaEnd;
    while (first < last && (buf[first] == '0' || buf[first] == '.'))
        ++first;
    while (last > first && (buf[last - 1] == '0' || buf[last - 1] == '.'))
        --last;
    const bool zero = first == last;
    if (zero || value == 0) {
        // A zero literal prints as the double's zero; a nonzero one that reads as zero keeps its text.
        if (!(zero && value == 0))
            return -1;
        return writeDoubleText(value, ShortestDigits(), out);
    }
    const qsizetype point = std::find(buf + mantissaStart, buf + mantissaEnd, '.') - buf;
    // Power of the last significant digit: digits after it up to the point (or minus those
    // between the point and it), plus the exponent.
    qint64 power = negativeExponent ? -exp : exp;
    if (point >= last)
        power += point - last;
    else
        power -= last - point - 1;
    const ShortestDigits d = shortestDigits(value);
    int count = d.count;
    while (count > 1 && d.digits[count - 1] == '0')
        --count;
    if (d.negative != negative || qint64(d.exp) - (count - 1) != power)
        return -1;
    qsizetype k = 0;
    for (qsizetype j = first; j < last; ++j) {
        if (buf[j] == '.')
            continue;
        if (k >= count || buf[j] != d.digits[k])
            return -1;
        ++k;
    }
    if (k != count)
        return -1;
    return writeDoubleText(value, d, out);
}

std::optional<QString> printedDecimal(QStringView literal)
{
    char16_t buf[40];
    const int n = printedDecimal(literal, buf);
    if (n < 0)
        return std::nullopt;
    return QString(reinterpret_cast<const QChar*>(buf), n);
}

bool isCanonicalDecimal(QStringView literal)
{
    qsizetype i = 0;
    if (i < literal.size() && literal[i] == u'-')
        ++i;
    const qsizetype intStart = i;
    while (i < literal.size() && literal[i].isDigit() && literal[i].unicode() < 128)
        ++i;
    const qsizetype intLen = i - intStart;
    if (intLen == 0 || i >= literal.size() || literal[i] != u'.')
        return false;
    ++i;
    const qsizetype fracStart = i;
    while (i < literal.size() && literal[i].unicode() >= u'0' && literal[i].unicode() <= u'9')
        ++i;
    if (i != literal.size())
        return false; // exponent
    const qsizetype fracLen = i - fracStart;
    if (fracLen == 0)
        return false;
    const bool intIsZero = intLen == 1 && literal[intStart] == u'0';
    if (fracLen == 1 && literal[fracStart] == u'0')
        return intLen <= 15; // "1.0", "0.0", "-0.0"
    if (literal[i - 1] == u'0')
        return false; // "1.50" prints as "1.5"
    qsizetype significant;
    if (intIsZero) {
        qsizetype zeros = 0;
        while (literal[fracStart + zeros] == u'0')
            ++zeros;
        if (zeros > 3)
            return false; // below 1e-4: exponent form
        significant = fracLen - zeros;
    } else {
        significant = intLen + fracLen;
    }
    return significant <= 15;
}

} // namespace JSONNumberText
