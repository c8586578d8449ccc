#pragma once

#include "kit/CodeTextHighlighter.h"
#include "kit/ui/CodeTextLongLine.h"
#include "kit/ui/CodeTextRowTable.h"

#include <QFont>
#include <QHash>
#include <QList>
#include <QString>
#include <QTextLayout>

#include <map>
#include <memory>
#include <vector>

class CodeTextBuffer;
class QPainter;

// The layout of one view over a `CodeTextBuffer`: each line that is needed is shaped by
// `QTextLayout` (grapheme clusters, emoji sequences, breaks at word boundaries, a break inside a
// word only when it is wider than the row) and kept until an edit touches it or the width changes.
//
// Every line has a row count: exact once the line has been laid out, estimated from its column
// count until then. The counts are summed in a tree, so a row's line and a line's first row cost
// a logarithm, and a correction costs the same. Rows all have the same height. After a change of
// width or font, a document of many lines is estimated again a stretch at a time (`estimateMore`),
// so that a resize costs the same however long the document is; lines not reached yet keep their
// former counts, and a line is brought up to date whenever it is used. A new document of many
// lines starts at one row a line and is estimated the same way.
//
// A line of `CodeTextBuffer::longLine` units or more is never shaped whole: a `CodeTextLongLine`
// finds its rows the same way a segment at a time, as far as they are used.
class CodeTextLayout {
public:
    explicit CodeTextLayout(const CodeTextBuffer& buffer);
    ~CodeTextLayout();
    CodeTextLayout(const CodeTextLayout&) = delete;
    CodeTextLayout& operator=(const CodeTextLayout&) = delete;

    void setFont(const QFont& font);
    const QFont& font() const { return m_font; }
    qreal characterWidth() const { return m_charWidth; }
    int lineHeight() const { return m_lineHeight; }
    // Width in pixels of a row; with `wrap` off each line is one row.
    void setWidth(qreal width, bool wrap);
    qreal width() const { return m_width; }
    bool wraps() const { return m_wrap; }
    int wrapColumns() const;
    void setHighlighters(const QList<const CodeTextHighlighter*>& highlighters);
    // The highlighters' answers may have changed: lines are checked again when next used.
    void formatsChanged() { ++m_formatGeneration; }
    // Input-method text shown inline at `position` (none when empty).
    void setPreedit(qsizetype position, const QString& text);

    // The buffer was replaced as a whole.
    void reset();
    // An edit replaced `removed` units at `position` by `added`, and old lines
    // [firstLine, oldLastLine] by new lines [firstLine, newLastLine].
    void replaced(qsizetype position, qsizetype removed, qsizetype added, qsizetype firstLine, qsizetype oldLastLine,
        qsizetype newLastLine);

    // Rows, exact where laid out and estimated elsewhere.
    qint64 rowCount() const;
    qint64 rowsOfLine(qsizetype line) const;
    qint64 firstRowOfLine(qsizetype line) const;
    qsizetype lineAtRow(qint64 row, qint64* rowInLine = nullptr) const;
    // Lays a line out (correcting its row count) and answers its exact row count.
    qint64 exactRowsOfLine(qsizetype line);
    // Whether corrections changed row counts since the last call.
    bool takeRowsChanged();
    // Whether some lines still have row counts from a former width or font, or a long line rows
    // that an edit left as they were.
    bool estimating() const { return m_staleFrom >= 0 || m_longUnsettled; }
    // Estimates the next stretch of those lines, or finds the next of those rows; answers
    // whether any remain.
    bool estimateMore();

    // The row within its line that shows `position`; with `upstream`, a position where a wrapped
    // row ends belongs to that row rather than to the next.
    qint64 rowOfPosition(qsizetype position, bool upstream);
    // The buffer positions [start, end) of a row.
    std::pair<qsizetype, qsizetype> rowRange(qsizetype line, qint64 rowInLine);
    // The x of a position's caret within its row, from the left of the text area (no scroll).
    qreal xOfPosition(qsizetype position, bool upstream);
    // The caret position nearest to x in a row; never past the end of a row that wraps.
    qsizetype positionAtX(qsizetype line, qint64 rowInLine, qreal x);
    // The cursor stops next to a position: grapheme cluster boundaries, from the shaped line.
    qsizetype nextCursorPosition(qsizetype position);
    qsizetype previousCursorPosition(qsizetype position);
    // The stop to the right or the left on screen in a line that holds right-to-left text;
    // -1 where screen order is the logical order (no such text, a long line, a preedit).
    qsizetype visualCursorPosition(qsizetype position, bool right);

    // Draws rows [firstRow, lastRow] of a line whose row 0 lies at `origin`. `selections` are in
    // buffer positions; `horizontalColumns` is the horizontal scroll when rows do not wrap.
    void draw(QPainter& painter, qsizetype line, qint64 firstRow, qint64 lastRow, const QPointF& origin,
        const QList<QTextLayout::FormatRange>& selections, const QRectF& clip, qint64 horizontalColumns);

    // The shaped layout of a line shorter than `CodeTextBuffer::longLine` units (for tests); nullptr otherwise.
    const QTextLayout* lineLayout(qsizetype line);

private:
    struct Entry;

    int32_t estimateRows(qsizetype line) const;
    // Sets the rows of lines [from, to) to their estimates.
    void estimateLines(qsizetype from, qsizetype to);
    void reestimate();
    // Counts of every line are out of date: estimated again now or, for many lines, bit by bit.
    void reestimateLater();
    bool isLong(qsizetype line) const;
    Entry* entry(qsizetype line);
    void layOut(Entry& e, qsizetype line);
    QList<QTextLayout::FormatRange> formatsFor(qsizetype from, qsizetype to) const;
    void setRows(qsizetype line, int32_t rows);
    CodeTextLongLine::Context longContext(qsizetype line) const;
    CodeTextLongLine::Preedit shape(QTextLayout& layout, qsizetype from, qsizetype to,
        const QList<QTextLayout::FormatRange>& formats, bool wrap, Qt::LayoutDirection direction) const;
    void syncLongRows(qsizetype line, Entry& e, const CodeTextLongLine::Context& c);
    template <typename Ask>
    auto askLong(qsizetype line, Entry& e, Ask&& ask);
    void trimCache();

    const CodeTextBuffer& m_buffer;
    QFont m_font;
    qreal m_charWidth = 8;
    int m_lineHeight = 16;
    qreal m_width = 0;
    bool m_wrap = true;
    QList<const CodeTextHighlighter*> m_highlighters;
    quint64 m_formatGeneration = 1;
    qsizetype m_preeditAt = -1;
    QString m_preedit;
    CodeTextRowTable m_rows;
    bool m_rowsChanged = false;
    qsizetype m_staleFrom = -1; // lines from here on have out-of-date counts; -1 when none
    bool m_longUnsettled = false;
    std::map<qsizetype, std::unique_ptr<Entry>> m_cache;
    quint64 m_useClock = 0;
};
