#include "tools/json/JSONNumberText.h"

#include <charconv>
#include <cmath>

namespace JSONNumberText {

std::optional<NormalForm> normalForm(QStringView literal)
{
    enum { mantissa, fraction, exponent } part = mantissa;
    bool negative = false, negativeExponent = false;
    QByteArray digits;
    qint64 exp = 0, fractionDigits = 0;
    constexpr qint64 expCap = (qint64(1) << 40) - 1;
    for (QChar qc : literal) {
        const char16_t c = qc.unicode();
        if (c == u'.') {
            part = fraction;
        } else if (c == u'e' || c == u'E') {
            part = exponent;
        } else if (c == u'-') {
            (part == exponent ? negativeExponent : negative) = true;
        } else if (c >= u'0' && c <= u'9') {
            if (part == exponent) {
                if (exp <= expCap)
                    exp = exp * 10 + (c - u'0');
            } else {
                digits.append(char(c));
                if (part == fraction)
                    ++fractionDigits;
            }
        }
    }
    qsizetype first = 0;
    while (first < digits.size() && digits[first] == '0')
        ++first;
    if (first == digits.size())
        return std::nullopt;
    qsizetype last = digits.size();
    while (digits[last - 1] == '0')
        --last;
    const qint64 trailing = digits.size() - last;
    NormalForm form;
    form.negative = negative;
    form.digits = digits.mid(first, last - first);
    form.power = (negativeExponent ? -exp : exp) - fractionDigits + trailing;
    return form;
}

QString doubleText(double value)
{
    if (value == 0)
        return std::signbit(value) ? QStringLiteral("-0.0") : QStringLiteral("0.0");
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    // buf: [-]d[.ddd]e(+|-)XX
    const char* p = buf;
    const char* end = res.ptr;
    QString out;
    out.reserve(32);
    if (*p == '-') {
        out.append(u'-');
        ++p;
    }
    QByteArray digits;
    while (p < end && *p != 'e') {
        if (*p != '.')
            digits.append(*p);
        ++p;
    }
    int exp = 0;
    std::from_chars(p + 1 + (p[1] == '+'), end, exp);
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e-4 && magnitude < 1e16) {
        if (exp >= 0) {
            const qsizetype intDigits = exp + 1;
            for (qsizetype i = 0; i < intDigits; ++i)
                out.append(i < digits.size() ? QChar(digits[i]) : QChar(u'0'));
            out.append(u'.');
            if (digits.size() > intDigits)
                out.append(QLatin1StringView(digits.constData() + intDigits, digits.size() - intDigits));
            else
                out.append(u'0');
        } else {
            out.append(QLatin1StringView("0."));
            out.append(QString(-exp - 1, u'0'));
            out.append(QLatin1StringView(digits));
        }
        return out;
    }
    out.append(QChar(digits[0]));
    if (digits.size() > 1) {
        out.append(u'.');
        out.append(QLatin1StringView(digits.constData() + 1, digits.size() - 1));
    }
    out.append(u'e');
    out.append(exp < 0 ? u'-' : u'+');
    const int absExp = exp < 0 ? -exp : exp;
    if (absExp < 10)
        out.append(u'0');
    out.append(QString::number(absExp));
    return out;
}

std::optional<QString> printedDecimal(QStringView literal)
{
    if (literal.size() > 4096)
        return std::nullopt; // far beyond what a double can carry; keep the source text
    char buf[4100];
    for (qsizetype i = 0; i < literal.size(); ++i)
        buf[i] = char(literal[i].unicode());
    double value = 0;
    const auto res = std::from_chars(buf, buf + literal.size(), value);
    if (res.ec != std::errc() || !std::isfinite(value))
        return std::nullopt;
    QString text = doubleText(value);
    if (normalForm(literal) != normalForm(text))
        return std::nullopt;
    return text;
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
