#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

// The lexical classes of Mermaid source that the editor colours, one per UTF-16 unit. Two ways
// give the same answer: a hand-written scanner, used whenever it can decide every word
// boundary, and eleven ICU regular expressions, used when the scanner gives up (a word next to
// a non-ASCII letter, say). The colouring knows nothing of Mermaid's grammar beyond them.
namespace MermaidSyntaxTokens {

enum class Token : std::uint8_t {
    plain = 0,
    punctuation = 1, // ( ) < > [ ] { } |
    label = 2,       // text inside brackets, braces, parentheses or between bars; quoted strings
    arrow = 3,
    keyword = 4,
    diagramType = 5, // a diagram type word at a line's start (and the blanks before it)
    comment = 6,     // from "%%" to the line's end
};

// A raw value names a token only below 7.
std::optional<Token> tokenFromRaw(std::uint8_t raw);

using Classification = std::vector<std::uint8_t>;

const QList<QString>& keywords();
const QList<QString>& diagramTypes();

// The classification of `text`, whose start is taken as a line start.
Classification tokens(QStringView text);
// The scanner; nothing when it meets a word boundary it cannot decide.
std::optional<Classification> scanTokens(QStringView text);
// The pattern path.
Classification matchTokens(QStringView text);

} // namespace MermaidSyntaxTokens
