#pragma once

#include "tools/markdown/MarkdownOutput.h"
#include "tools/markdown/MarkdownText.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

// The Markdown tool's own converter: the whole document in, the preview page's body out.
// Every block element carries data-line / data-end (0-based source lines, LF, CR and CR LF
// each one break) so the preview can be scrolled in step with the editor. Raw HTML is escaped.
// Pure and thread-safe; any number of conversions may run at once.
QString renderMarkdownHTML(const QString& text);
// The same, with the HTML's UTF-8 size, counted part by part as it is written.
QString renderMarkdownHTML(const QString& text, qsizetype* utf8Length);

namespace MarkdownHTML {

// Blockquotes open only below this depth; deeper ">" lines are plain text.
inline constexpr int maxQuoteDepth = 32;

// Renders lines (already split, no line breaks inside) whose first one is source line baseLine.
// Appends to out.
void renderBlocks(MarkdownText::Lines lines, qint64 baseLine, int depth, MarkdownOutput& out);
// The same; `endsBetweenBlocks` is set when the last line is blank and belongs to no block.
void renderBlocks(MarkdownText::Lines lines, qint64 baseLine, int depth, MarkdownOutput& out, bool* endsBetweenBlocks);

// Appends ' data-line="S" data-end="E"'.
void appendDataLineAttributes(MarkdownOutput& out, qint64 start, qint64 end);

// "```", "~~~" or empty, from a trimmed line.
QStringView fenceMarker(QStringView trimmed);

struct Heading {
    int level = 0; // 0: not a heading
    QStringView title;
};
Heading parseHeading(QStringView trimmed);

bool isHorizontalRule(QStringView trimmed);

// Leading spaces count 1, tabs a flat 4.
int indentWidth(QStringView rawLine);

} // namespace MarkdownHTML
