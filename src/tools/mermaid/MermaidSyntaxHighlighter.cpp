#include "tools/mermaid/MermaidSyntaxHighlighter.h"

#include "kit/CodeTextBuffer.h"

#include <algorithm>

using MermaidSyntaxTokens::Token;

const DynamicColor* MermaidSyntaxHighlighter::colour(Token token)
{
    static const DynamicColor punctuation = dynamicColor(0x737373, 0x8A8A8A);
    static const DynamicColor label = dynamicColor(0x1F7F36, 0x8CCC80);
    static const DynamicColor arrow = dynamicColor(0xB85000, 0xFF9230);
    static const DynamicColor keyword = dynamicColor(0x007D8A, 0x00D2E0);
    static const DynamicColor diagramType = dynamicColor(0xBF4709, 0xFB923C);
    static const DynamicColor comment = dynamicColor(0x646464, 0x9A9A9A);
    switch (token) {
    case Token::plain: return nullptr;
    case Token::punctuation: return &punctuation;
    case Token::label: return &label;
    case Token::arrow: return &arrow;
    case Token::keyword: return &keyword;
    case Token::diagramType: return &diagramType;
    case Token::comment: return &comment;
    }
    return nullptr;
}

void MermaidSyntaxHighlighter::runs(const CodeTextBuffer& buffer, qsizetype from, qsizetype to,
                                    QList<CodeTextRun>& out) const
{
    const qsizetype n = buffer.length();
    from = std::clamp<qsizetype>(from, 0, n);
    to = std::clamp<qsizetype>(to, from, n);
    if (n == 0)
        return;
    const qsizetype firstLine = buffer.lineAt(from);
    const qsizetype lastLine = buffer.lineAt(std::max(from, to - 1));
    qsizetype start = buffer.lineStart(firstLine);
    qsizetype end = std::min(n, buffer.lineEnd(lastLine) + 1);
    if (end - start > longLine) {
        // A very long line: its neighbourhood stands for it.
        start = std::max(start, from - 2048);
        end = std::min(end, to + 2048);
    }
    const QString text = buffer.mid(start, end - start);
    const MermaidSyntaxTokens::Classification classes = MermaidSyntaxTokens::tokens(text);
    const qsizetype count = qsizetype(classes.size());
    for (qsizetype i = 0; i < count;) {
        const std::uint8_t raw = classes[size_t(i)];
        qsizetype j = i + 1;
        while (j < count && classes[size_t(j)] == raw)
            ++j;
        const Token token = Token(raw);
        if (const DynamicColor* c = colour(token)) {
            CodeTextRun run;
            run.from = start + i;
            run.to = start + j;
            run.foreground = c->resolved(m_dark);
            run.bold = isBold(token);
            out << run;
        }
        i = j;
    }
}
