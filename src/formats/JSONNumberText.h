#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Number literals: their value-preserving normal form and the printed text of a double.
namespace JSONNumberText {

// Significant digits without leading or trailing '0', sign, and power of ten; absent for zero.
struct NormalForm {
    bool negative = false;
    QByteArray digits;
    qint64 power = 0;
    friend bool operator==(const NormalForm&, const NormalForm&) = default;
};
std::optional<NormalForm> normalForm(QStringView literal);

// Shortest text that reads back as the same double: a whole value keeps ".0", magnitudes below
// 1e-4 or from 1e16 on are written with an exponent ("1e-05", "1.5e+16"). Finite values only.
QString doubleText(double value);

// How a literal with a fraction or an exponent prints: the double's text when that keeps its
// value, otherwise nothing (the literal is then written as typed).
std::optional<QString> printedDecimal(QStringView literal);
// The same into `out` (room for 32 units), without allocating: the length, or -1 for nothing.
int printedDecimal(QStringView literal, char16_t* out);

// True when a decimal literal (fraction, no exponent) is already exactly the double's text, so
// the source spelling can be kept without converting.
bool isCanonicalDecimal(QStringView literal);

} // namespace JSONNumberText
