#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

// Reads JSON text (RFC 8259, any value at the top level), tells whether it is valid and prints it
// again, pretty or minified, with object keys in source order or sorted. Every number literal keeps
// its source text wherever the double or 64-bit integer forms could not reproduce it.
// Pure functions: no state, any thread may call them at the same time.
namespace JSONFormatter {

struct Indent {
    enum class Kind { spaces, tabs };
    Kind kind = Kind::spaces;
    int count = 2; // blanks per level; meaningless for tabs

    static constexpr Indent spaces(int n) { return Indent{Kind::spaces, n}; }
    static constexpr Indent tabs() { return Indent{Kind::tabs, 1}; }

    QString unit() const;
    friend constexpr bool operator==(const Indent& a, const Indent& b)
    {
        return a.kind == b.kind && (a.kind == Kind::tabs || a.count == b.count);
    }
};
size_t qHash(const Indent& indent, size_t seed = 0);

enum class SortMode { none, ascending, descending };
inline constexpr SortMode allSortModes[] = {SortMode::none, SortMode::ascending, SortMode::descending};

// The sentence shown to the user, and where the fault stands (1-based line and column in UTF-16
// units; line breaks are LF, CR and CR LF). line is 0 when the failure has no position.
struct FormatError {
    QString message;
    int line = 0;
    int column = 0;
    qsizetype offset = -1; // UTF-16 offset into the text, -1 without position

    friend bool operator==(const FormatError&, const FormatError&) = default;
};

struct Validation {
    bool isValid = false;
    std::optional<QString> error;              // absent when valid and when blank
    std::optional<qsizetype> topLevelKeyCount; // members of an object, elements of an array
    qint64 byteSize = 0;                       // UTF-8 length of the whole input
    std::optional<FormatError> failure;        // error with its position; present exactly when error is

    friend bool operator==(const Validation&, const Validation&) = default;
};

// Printed texts are UTF-8.
struct Outputs {
    Validation validation;
    QByteArray formatted;
    QByteArray minified;

    friend bool operator==(const Outputs&, const Outputs&) = default;
};

struct FormatResult {
    QByteArray text;                   // UTF-8; empty on failure
    std::optional<FormatError> error;  // present on failure

    bool ok() const { return !error.has_value(); }
};

// Each entry takes a text, encoded as UTF-8 first (one holding a lone surrogate cannot be), or
// text that is UTF-8 already and well-formed (a file's bytes, once checked).

// Pretty text, or the parse error. For valid input the text equals the outputs' formatted one.
FormatResult format(const QString& text, Indent indent, SortMode sortMode);
FormatResult format(const QByteArray& utf8, Indent indent, SortMode sortMode);

// Minified text, or the parse error. For valid input the text equals the outputs' minified one.
FormatResult minify(const QString& text, SortMode sortMode = SortMode::none);
FormatResult minify(const QByteArray& utf8, SortMode sortMode = SortMode::none);

// Verdict plus both texts from one parse, printed one at a time: the pretty one first when
// `prettyFirst`, handed with the verdict to `firstReady` (when given) before the other is printed,
// so the one on show need not wait for both (the tool's throws there, to leave the other
// unprinted). Nothing is handed over for text that is not valid JSON. Never fails: when
// `cancelled` becomes true the work stops early and the result is meaningless (the caller drops
// it).
using FirstReady = std::function<void(const Validation&, const QByteArray&)>;
Outputs outputs(const QString& text, Indent indent, SortMode sortMode, const std::atomic_bool* cancelled,
                bool prettyFirst, const FirstReady& firstReady);
Outputs outputs(const QByteArray& utf8, Indent indent, SortMode sortMode, const std::atomic_bool* cancelled,
                bool prettyFirst, const FirstReady& firstReady);

// Deepest nesting of arrays and objects that is accepted.
inline constexpr int maxDepth = 512;

} // namespace JSONFormatter
