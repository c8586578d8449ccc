#include "tools/markdown/MarkdownTables.h"

#include "tools/markdown/MarkdownHTML.h"
#include "tools/markdown/MarkdownInline.h"
#include "tools/markdown/MarkdownText.h"

using namespace MarkdownText;

namespace MarkdownTables {

bool isTableDelimiterRow(QStringView rawLine)
{
    const QStringView t = MarkdownText::trimmed(rawLine);
    bool pipe = false;
    bool dash = false;
    for (const QChar ch : t) {
        switch (ch.unicode()) {
        case u'|': pipe = true; break;
        case u'-': dash = true; break;
        case u':':
        case u' ': break;
        default: return false;
        }
    }
    return pipe && dash;
}

namespace {

void splitCells(QStringView rawLine, QList<QStringView>& cells)
{
    const QStringView t = MarkdownText::trimmed(rawLine);
    qsizetype from = 0;
    for (;;) {
        const qsizetype bar = indexOfUnit(t, u'|', from);
        if (bar < 0) {
            cells.append(MarkdownText::trimmed(t.sliced(from)));
            break;
        }
        cells.append(MarkdownText::trimmed(t.sliced(from, bar - from)));
        from = bar + 1;
    }
    if (!cells.isEmpty() && cells.first().isEmpty())
        cells.removeFirst();
    if (!cells.isEmpty() && cells.last().isEmpty())
        cells.removeLast();
}

QStringView alignmentText(const QList<int>& codes, qsizetype column)
{
    switch (column < codes.size() ? codes[column] : None) {
    case Left: return u" style=\"text-align:left\"";
    case Center: return u" style=\"text-align:center\"";
    case Right: return u" style=\"text-align:right\"";
    default: return {};
    }
}


void appendAlignments(QStringView delimiterLine, QList<int>& codes)
{
    thread_local QList<QStringView> cells;
    cells.clear();
    splitCells(delimiterLine, cells);
    for (const QStringView cell : cells) {
        const bool starts = cell.startsWith(u':');
        const bool ends = cell.endsWith(u':');
        codes.append(starts && ends ? Center : starts ? Left : ends ? Right : None);
    }
    if (cells.capacity() > 4096)
        cells = QList<QStringView>();
}


void appendRow(MarkdownOutput& out, QStringView line, qint64 absolute, const QList<int>& codes, QStringView cell,
               QStringView cellClose)
{
    appendLiteral(out, u"<tr");
    MarkdownHTML::appendDataLineAttributes(out, absolute, absolute + 1);
    appendLiteral(out, u">\n");
    // One list per thread: the inline step renders no table.
    thread_local QList<QStringView> cells;
    cells.clear();
    splitCells(line, cells);
    for (qsizetype k = 0; k < cells.size(); ++k) {
        MarkdownText::appendView(out, cell);
        MarkdownText::appendView(out, alignmentText(codes, k));
        MarkdownText::appendUnit(out, u'>');
        MarkdownInline::appendInline(cells[k], out);
        MarkdownText::appendView(out, cellClose);
    }
    if (cells.capacity() > 4096)
        cells = QList<QStringView>();
    appendLiteral(out, u"</tr>\n");
}

} // namespace

qsizetype renderTable(MarkdownText::Lines lines, const MarkdownText::TrimmedLines& trimmed, qsizetype i,
                      qint64 baseLine, MarkdownOutput& out)
{
    // Kept by the thread from table to table; the inline step renders no table.
    thread_local QList<int> codes;
    codes.clear();
    appendAlignments(lines[i + 1], codes);
    appendLiteral(out, u"<table>\n<thead>\n");
    appendRow(out, lines[i], baseLine + i, codes, u"<th", u"</th>\n");
    appendLiteral(out, u"</thead>\n<tbody>\n");
    qsizetype r = i + 2;
    while (r < qsizetype(lines.size())) {
        const QStringView t = trimmed[r];
        if (t.isEmpty() || indexOfUnit(t, u'|') < 0)
            break;
        appendRow(out, lines[r], baseLine + r, codes, u"<td", u"</td>\n");
        ++r;
    }
    appendLiteral(out, u"</tbody>\n</table>\n");
    if (codes.capacity() > 4096)
        codes = QList<int>();
    return r - i;
}

} // namespace MarkdownTables
