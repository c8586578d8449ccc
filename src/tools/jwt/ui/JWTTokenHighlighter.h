#pragma once

#include "kit/CodeTextHighlighter.h"

#include <array>

// Colours a compact token as it is typed: each dot-separated segment in a colour of its own (the
// fifth colour serves the fifth segment and every later one) and the dots in grey. A segment's
// colour depends only on how many dots come before it, counted from the start of the text, so
// only the first four dots need to be known.
class JWTTokenHighlighter : public CodeTextHighlighter {
public:
    void setDark(bool dark) { m_dark = dark; }
    bool isDark() const { return m_dark; }
    // The text changed: the dots are found again when next drawn.
    void invalidate() { m_known = false; }

    // The colour of segment `index` (0-based, capped at the fifth) and of a dot.
    static QColor segmentColour(int index, bool dark);
    static QColor dotColour(bool dark);

    void runs(const CodeTextBuffer& buffer, qsizetype from, qsizetype to, QList<CodeTextRun>& out) const override;

private:
    void findDots(const CodeTextBuffer& buffer) const;

    bool m_dark = false;
    mutable bool m_known = false;
    mutable int m_dotCount = 0;                  // dots found, at most four
    mutable std::array<qsizetype, 4> m_dots{};   // positions of the first dots
};
