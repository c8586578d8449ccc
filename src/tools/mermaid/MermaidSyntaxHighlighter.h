#pragma once

#include "kit/CodeTextHighlighter.h"
#include "kit/DynamicColor.h"
#include "tools/mermaid/MermaidSyntaxTokens.h"

#include <QColor>

// Colours the Mermaid editor by token class. The view asks for the runs of the slice it paints;
// the highlighter classifies the whole lines around it (a window of a very long line), so each
// paint costs what is on screen. Colours follow the light or dark appearance it is told.
class MermaidSyntaxHighlighter : public CodeTextHighlighter {
public:
    void setDark(bool dark) { m_dark = dark; }
    bool isDark() const { return m_dark; }

    static const DynamicColor* colour(MermaidSyntaxTokens::Token token);
    static bool isBold(MermaidSyntaxTokens::Token token) { return token == MermaidSyntaxTokens::Token::diagramType; }

    // Lines longer than this are classified only around the painted slice.
    static constexpr qsizetype longLine = 16384;

    void runs(const CodeTextBuffer& buffer, qsizetype from, qsizetype to, QList<CodeTextRun>& out) const override;

private:
    bool m_dark = false;
};
