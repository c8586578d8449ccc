#pragma once

#include "tools/markdown/MarkdownText.h"

#include <QList>
#include <QString>
#include <QStringView>

// Bullet and ordered lists with task items, nested by indentation.
namespace MarkdownLists {

// Lists nest at most this many levels deep; deeper items join the innermost list.
inline constexpr int maxDepth = 32;

struct ListLine {
    int indent = 0;
    qint64 line = 0; // absolute source line
    bool ordered = false;
    char16_t checkbox = 0; // 0 plain item, ' ' open task, 'x' done task
    QStringView content;
};

// What the block renderer keeps of a list to decide where a following paragraph ends.
struct ListBlock {
    qsizetype consumedLines = 0; // up to the line that ended the list, blank lines inside included
    qsizetype endIndex = 0;      // the line right after the last item line
    bool lastLineHasContent = false;
    int topContentColumn = 0;
    bool topHasContent = false;
};

// End of the list marker and the whitespace after it in a trimmed line, or -1 when the line is no
// list item: "-", "*", "+" or decimal digits with "." or ")", then whitespace or the line's end.
qsizetype itemMarkerEnd(QStringView trimmed);
inline bool isListItem(QStringView trimmed) { return itemMarkerEnd(trimmed) >= 0; }

struct ParsedItem {
    bool ordered = false;
    char16_t checkbox = 0;
    QStringView content;
};
ParsedItem parseListLine(QStringView trimmed);

struct ContentColumn {
    int column = 0;
    bool hasContent = false;
};
ContentColumn listContentColumn(QStringView rawLine);

// An item line that may end a paragraph outside a list: a bullet, or an ordered item numbered 1,
// and with content in both cases.
bool canInterruptParagraph(QStringView rawLine);

// Renders the list that starts at lines[start] (trimmed holds the same lines trimmed) onto out.
ListBlock renderList(MarkdownText::Lines lines, const MarkdownText::TrimmedLines& trimmed, qsizetype start,
                     qint64 baseLine, MarkdownOutput& out);

void renderListItems(const QList<ListLine>& items, MarkdownOutput& out);

} // namespace MarkdownLists
