#include "tools/markdown/ui/MarkdownSyntaxHighlighter.h"

#include "kit/DynamicColor.h"
#include "kit/Palette.h"
#include "tools/markdown/MarkdownSyntaxPatterns.h"

#include <QGuiApplication>
#include <QPalette>

namespace {

using Style = MarkdownSyntaxHighlighter::Style;
using Colour = MarkdownSyntaxHighlighter::Colour;
using Font = MarkdownSyntaxHighlighter::Font;

struct Rule {
    int group;
    Colour colour;
    std::optional<Font> font;
};

void applyPass(const QRegularExpression& expression, const QString& subject, QList<Style>& styles,
               std::initializer_list<Rule> rules)
{
    const qsizetype limit = styles.size();
    QRegularExpressionMatchIterator it = expression.globalMatch(subject);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        for (const Rule& rule : rules) {
            const qsizetype start = match.capturedStart(rule.group);
            const qsizetype length = match.capturedLength(rule.group);
            if (start < 0 || length <= 0)
                continue;
            const qsizetype end = std::min(start + length, limit);
            for (qsizetype i = start; i < end; ++i) {
                styles[i].colour = rule.colour;
                if (rule.font)
                    styles[i].font = *rule.font;
            }
        }
    }
}

} // namespace

MarkdownSyntaxHighlighter::MarkdownSyntaxHighlighter(const QFont& baseFont, QTextDocument* document)
    : QSyntaxHighlighter(document), m_baseFont(baseFont)
{
    m_headingFont = baseFont;
    m_headingFont.setBold(true);
    m_dark = DynamicColor::isDark(QGuiApplication::palette());
    buildFormats();
}

void MarkdownSyntaxHighlighter::setDark(bool dark)
{
    if (dark == m_dark)
        return;
    m_dark = dark;
    buildFormats();
    rehighlight();
}

QColor MarkdownSyntaxHighlighter::colour(Colour colour) const
{
    switch (colour) {
    case Colour::label:
        return QGuiApplication::palette().color(QPalette::Text);
    case Colour::secondary:
        return Palette::dim().resolved(m_dark);
    case Colour::tertiary:
        return Palette::muted().resolved(m_dark);
    case Colour::accent:
        return Palette::copper().resolved(m_dark);
    case Colour::link:
        return Palette::blue().resolved(m_dark);
    }
    return {};
}

void MarkdownSyntaxHighlighter::buildFormats()
{
    for (int c = 0; c < 5; ++c) {
        for (int f = 0; f < 3; ++f) {
            QTextCharFormat format;
            if (c != int(Colour::label))
                format.setForeground(colour(Colour(c)));
            if (Font(f) == Font::heading)
                format.setFontWeight(QFont::Bold);
            m_formats[c * 3 + f] = format;
        }
    }
}

QList<MarkdownSyntaxHighlighter::Style> MarkdownSyntaxHighlighter::styles(const QString& line)
{
    QList<Style> styles(line.size());
    if (line.isEmpty())
        return styles;
    // The line break the block leaves out, so "\s" at the end of a line matches as it does in
    // the whole text.
    const QString subject = MarkdownSyntaxPatterns::matchable(line) + QLatin1Char('\n');
    const QString masked = MarkdownSyntaxPatterns::maskingCodeSpans(subject);
    using namespace MarkdownSyntaxPatterns;
    applyPass(heading(), subject, styles, {{1, Colour::secondary, {}}, {3, Colour::accent, Font::heading}});
    applyPass(blockquote(), subject, styles, {{1, Colour::tertiary, {}}});
    applyPass(listMarker(), subject, styles, {{2, Colour::secondary, {}}});
    applyPass(strong(), masked, styles, {{1, Colour::tertiary, {}}, {3, Colour::tertiary, {}}});
    applyPass(emphasisAsterisk(), masked, styles, {{1, Colour::tertiary, {}}, {3, Colour::tertiary, {}}});
    applyPass(emphasisUnderscore(), masked, styles, {{1, Colour::tertiary, {}}, {3, Colour::tertiary, {}}});
    applyPass(inlineCode(), subject, styles,
              {{1, Colour::tertiary, {}}, {2, Colour::link, Font::mono}, {3, Colour::tertiary, {}}});
    return styles;
}

void MarkdownSyntaxHighlighter::highlightBlock(const QString& text)
{
    const QList<Style> lineStyles = styles(text);
    const qsizetype length = lineStyles.size();
    qsizetype runStart = 0;
    while (runStart < length) {
        const Style style = lineStyles[runStart];
        qsizetype runEnd = runStart + 1;
        while (runEnd < length && lineStyles[runEnd] == style)
            ++runEnd;
        if (!(style.colour == Colour::label && style.font == Font::base))
            setFormat(int(runStart), int(runEnd - runStart), m_formats[int(style.colour) * 3 + int(style.font)]);
        runStart = runEnd;
    }
}
