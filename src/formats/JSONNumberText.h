#pragma once

#include <QtGlobal>

#include <string_view>

// Number literals: how one with a fraction or an exponent prints.
namespace JSONNumberText {

// A literal with a fraction or an exponent prints as the double's shortest text when that text
// has the literal's own digits (only the spelling differs: "1.50", "1E2"); otherwise it is written
// as typed. `literal` is well-formed; `point` is the index of its decimal point (`mark` when it has
// none) and `mark` that of its "e" or "E" (the size when it has none), as its reader found them.
// Writes that text into `out` (room for 32 bytes) and answers its length, or -1 when the literal
// prints as typed (it is spelled so already, or the double cannot carry it).
int respelling(std::string_view literal, qsizetype point, qsizetype mark, char* out);

} // namespace JSONNumberText
