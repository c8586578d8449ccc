#pragma once

#include <QString>

#include <optional>

// Number literals: how one with a fraction or an exponent prints.
namespace JSONNumberText {

// How a literal with a fraction or an exponent prints: the double's text when that keeps its
// value, otherwise nothing (the literal is then written as typed).
std::optional<QString> printedDecimal(QStringView literal);
// The same into `out` (room for 32 units), without allocating: the length, or -1 for nothing.
int printedDecimal(QStringView literal, char16_t* out);

// True when a decimal literal (fraction, no exponent) is already exactly the double's text, so
// the source spelling can be kept without converting.
bool isCanonicalDecimal(QStringView literal);

} // namespace JSONNumberText
