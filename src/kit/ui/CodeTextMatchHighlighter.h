#pragma once

#include "kit/CodeTextHighlighter.h"
#include "formats/TextRange.h"

#include <QList>

#include <optional>

// Draws search matches over the token colours: each match on a faint find-highlight background,
// the current one on the full colour with black text. In the dark appearance other matches are
// drawn in the text colour; in the light one they keep their token colour.
class CodeTextMatchHighlighter : public CodeTextHighlighter {
public:
    void setMatches(const QList<TextRange>& matches) { m_matches = matches; }
    const QList<TextRange>& matches() const { return m_matches; }
    void setCurrent(std::optional<TextRange> current) { m_current = current; }
    std::optional<TextRange> current() const { return m_current; }
    void setDark(bool dark) { m_dark = dark; }
    void setTextColour(const QColor& colour) { m_text = colour; }

    static QColor findHighlightColour();

    void runs(const CodeTextBuffer& buffer, qsizetype from, qsizetype to, QList<CodeTextRun>& out) const override;

private:
    QList<TextRange> m_matches;
    std::optional<TextRange> m_current;
    bool m_dark = false;
    QColor m_text;
};
