#include "tools/markdown/MarkdownLists.h"

#include "tools/markdown/MarkdownHTML.h"
#include "tools/markdown/MarkdownInline.h"
#include "tools/markdown/MarkdownText.h"

#include <QChar>

#include <vector>

using namespace MarkdownText;

namespace MarkdownLists {

qsizetype itemMarkerEnd(QStringView t)
{
    const qsizetype n = t.size();
    if (n == 0)
        return -1;
    qsizetype pos = 0;
    const char16_t first = t[0].unicode();
    if (first == u'-' || first == u'*' || first == u'+') {
        pos = 1;
    } else {
        while (pos < n) {
            int width = 1;
            if (!isDecimalDigit(scalarAt(t, pos, &width)))
                break;
            pos += width;
        }
        if (pos == 0 || pos >= n || (t[pos].unicode() != u'.' && t[pos].unicode() != u')'))
            return -1;
        ++pos;
    }
    if (pos == n)
        return n;
    if (isPatternSpace(t[pos].unicode())) {
        while (pos < n && isPatternSpace(t[pos].unicode()))
            ++pos;
        return pos;
    }
    // The end anchor also holds before one final line terminator that is not whitespace.
    if (pos == n - 1 && (t[pos].unicode() == 0x0B || t[pos].unicode() == 0x85))
        return pos;
    return -1;
}

ParsedItem parseListLine(QStringView t)
{
    ParsedItem item;
    const qsizetype end = itemMarkerEnd(t);
    const char16_t first = t.isEmpty() ? 0 : t[0].unicode();
    item.ordered = !(first == u'-' || first == u'*' || first == u'+');
    QStringView content = end >= 0 ? t.sliced(end) : t;
    if (content.startsWith(u"[ ]"))
        item.checkbox = u' ';
    else if (content.startsWith(u"[x]") || content.startsWith(u"[X]"))
        item.checkbox = u'x';
    if (item.checkbox) {
        content = content.sliced(3);
        if (content.startsWith(u' '))
            content = content.sliced(1);
    }
    item.content = content;
    return item;
}

ContentColumn listContentColumn(QStringView rawLine)
{
    const QStringView t = trimmed(rawLine);
    const qsizetype end = itemMarkerEnd(t);
    const int indent = MarkdownHTML::indentWidth(rawLine);
    if (end < 0)
        return {indent, false};
    const QStringView matched = t.first(end);
    qsizetype pos = 0;
    int markerScalars = 0;
    while (pos < matched.size()) {
        int width = 1;
        if (isWhiteSpaceProperty(scalarAt(matched, pos, &width)))
            break;
        pos += width;
        ++markerScalars;
    }
    const int base = indent + markerScalars;
    if (end == t.size())
        return {base + 1, false};
    int column = base;
    while (pos < matched.size()) {
        int width = 1;
        const char32_t c = scalarAt(matched, pos, &width);
        column = c == U'\t' ? column - column % 4 + 4 : column + 1;
        pos += width;
    }
    if (column - base > 4)
        column = base + 1;
    return {column, true};
}

bool canInterruptParagraph(QStringView rawLine)
{
    const QStringView t = trimmed(rawLine);
    const qsizetype end = itemMarkerEnd(t);
    if (end < 0 || end >= t.size())
        return false;
    const char16_t first = t[0].unicode();
    if (first == u'-' || first == u'*' || first == u'+')
        return true;
    // Only a list numbered from 1 ("1", "01", ...) may interrupt.
    std::vector<int> values;
    for (qsizetype pos = 0; pos < t.size();) {
        if (t[pos].unicode() == u'.' || t[pos].unicode() == u')')
            break;
        int width = 1;
        values.push_back(QChar::digitValue(scalarAt(t, pos, &width)));
        pos += width;
    }
    if (values.empty() || values.back() != 1)
        return false;
    for (size_t k = 0; k + 1 < values.size(); ++k) {
        if (values[k] != 0)
            return false;
    }
    return true;
}

ListBlock renderList(MarkdownText::Lines lines, const MarkdownText::TrimmedLines& trimmedLines, qsizetype start,
                     qint64 baseLine, MarkdownOutput& out)
{
    ListBlock block;
    // One list per thread: the inline step renders no list.
    thread_local QList<ListLine> items;
    items.clear();
    qsizetype i = start;
    qsizetype last = start;
    const qsizetype count = qsizetype(lines.size());
    while (i < count) {
        const QStringView t = trimmedLines[i];
        if (t.isEmpty()) {
            if (i + 1 >= count || !isListItem(trimmedLines[i + 1]))
                break;
            ++i;
            continue;
        }
        if (!isListItem(t))
            break;
        const ParsedItem parsed = parseListLine(t);
        const int indent = MarkdownHTML::indentWidth(lines[i]);
        if (items.isEmpty() || indent <= items.first().indent) {
            const ContentColumn column = listContentColumn(lines[i]);
            block.topContentColumn = column.column;
            block.topHasContent = column.hasContent;
        }
        items.append(ListLine{indent, baseLine + i, parsed.ordered, parsed.checkbox, parsed.content});
        last = i;
        ++i;
    }
    block.lastLineHasContent = listContentColumn(lines[last]).hasContent;
    block.consumedLines = i - start;
    block.endIndex = last + 1;
    renderListItems(items, out);
    if (items.capacity() > 4096)
        items = QList<ListLine>();
    return block;
}

void renderListItems(const QList<ListLine>& items, MarkdownOutput& out)
{
    const qsizetype n = items.size();
    if (n == 0)
        return;
    // Kept by the thread from list to list; the inline step renders no list.
    thread_local std::vector<int> levels;
    thread_local std::vector<int> indents;
    thread_local std::vector<qint64> ends;
    thread_local std::vector<qsizetype> open;
    thread_local std::vector<bool> kinds;
    levels.assign(size_t(n), 0);
    {
        indents.clear();
        for (qsizetype k = 0; k < n; ++k) {
            const int indent = items[k].indent;
            if (indents.empty()) {
                indents.push_back(indent);
            } else if (indent > indents.back()) {
                if (indents.size() < size_t(maxDepth))
                    indents.push_back(indent);
            } else {
                size_t p = 0;
                while (indents[p] < indent)
                    ++p;
                indents.resize(p + 1);
            }
            levels[k] = int(indents.size()) - 1;
        }
    }
    ends.assign(size_t(n), 0);
    {
        open.clear();
        for (qsizetype k = 0; k < n; ++k) {
            ends[k] = items[k].line + 1;
            while (!open.empty() && levels[open.back()] >= levels[k]) {
                ends[open.back()] = items[k - 1].line + 1;
                open.pop_back();
            }
            open.push_back(k);
        }
        for (qsizetype k : open)
            ends[k] = items[n - 1].line + 1;
    }
    kinds.clear();
    auto closeList = [&out](bool ordered) { appendView(out, ordered ? QStringView(u"</ol>\n") : QStringView(u"</ul>\n")); };
    for (qsizetype k = 0; k < n; ++k) {
        if (k > 0) {
            if (levels[k - 1] < levels[k]) {
                appendUnit(out, u'\n');
            } else {
                appendLiteral(out, u"</li>\n");
                for (int d = levels[k - 1]; d > levels[k]; --d) {
                    closeList(kinds.back());
                    kinds.pop_back();
                    appendLiteral(out, u"</li>\n");
                }
            }
        }
        if (qsizetype(kinds.size()) == levels[k]) {
            kinds.push_back(items[k].ordered);
            appendView(out, items[k].ordered ? QStringView(u"<ol>\n") : QStringView(u"<ul>\n"));
        }
        if (!items[k].checkbox) {
            appendLiteral(out, u"<li");
            MarkdownHTML::appendDataLineAttributes(out, items[k].line, ends[k]);
            appendUnit(out, u'>');
        } else {
            appendLiteral(out, u"<li class=\"task-list-item\"");
            MarkdownHTML::appendDataLineAttributes(out, items[k].line, ends[k]);
            appendLiteral(out, u"><input type=\"checkbox\" disabled");
            if (items[k].checkbox == u'x' || items[k].checkbox == u'X')
                appendLiteral(out, u" checked");
            appendLiteral(out, u"> ");
        }
        MarkdownInline::appendInline(items[k].content, out);
    }
    appendLiteral(out, u"</li>\n");
    while (kinds.size() > 1) {
        closeList(kinds.back());
        kinds.pop_back();
        appendLiteral(out, u"</li>\n");
    }
    closeList(kinds.back());
    if (levels.capacity() > (size_t(1) << 16)) {
        for (std::vector<int>* v : {&levels, &indents})
            std::vector<int>().swap(*v);
        std::vector<qint64>().swap(ends);
        std::vector<qsizetype>().swap(open);
    }
}

} // namespace MarkdownLists
