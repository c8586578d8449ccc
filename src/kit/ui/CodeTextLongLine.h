#pragma once

#include <QList>
#include <QString>
#include <QTextLayout>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class CodeTextBuffer;
class QPainter;

// The rows of one line too long to shape whole. Its rows are cut the way a text layout of the
// whole line cuts them (words whole, clusters whole, one paragraph direction), found a segment at
// a time: a segment is shaped from a row start, wrapped at the row width, and keeps the rows that
// the text after it cannot change. Rows are found from the start of a stretch of about 16K units
// as far as they are asked for, so a huge line is never shaped whole; a stretch also ends a row,
// which is the one place where these rows may differ from a layout of the whole line. An edit
// shapes its segment again, and the segments after it are kept once their rows meet the old ones;
// where they do not meet within a segment, the old rows are shown from there on and found
// again between events (`settleMore`), so a keystroke never shapes a screen of rows.
class CodeTextLongLine {
public:
    using FormatRange = QTextLayout::FormatRange;

    // Where an input method's composition sits in a shaped text (none when `at` is -1).
    struct Preedit {
        qsizetype at = -1; // within the shaped text
        qsizetype length = 0;
    };

    // What the layout cache lends for one call: the line, its metrics, and how it shapes a slice.
    struct Context {
        const CodeTextBuffer& buffer;
        qsizetype line;
        bool wrap;
        int wrapColumns;
        qreal charWidth;
        int lineHeight;
        quint64 formatGeneration; // the colours may have changed when this has
        qsizetype preeditAt;      // in the buffer, -1 when none
        qsizetype preeditLength;
        // The highlighters' formats of [from, to) of the buffer.
        std::function<QList<FormatRange>(qsizetype from, qsizetype to)> formats;
        // Lays [from, to) of the buffer out with the view's font, `formats` and the composition
        // when it falls within; wrapped at the row width when `wrap`, else as one row.
        std::function<Preedit(QTextLayout& layout, qsizetype from, qsizetype to, const QList<FormatRange>& formats,
            bool wrap, Qt::LayoutDirection direction)>
            shape;
    };

    CodeTextLongLine();
    ~CodeTextLongLine();
    CodeTextLongLine(const CodeTextLongLine&) = delete;
    CodeTextLongLine& operator=(const CodeTextLongLine&) = delete;

    // An edit replaced `removed` units at buffer `position` by `added`, all within the line, which
    // is still long.
    void edited(const CodeTextBuffer& buffer, qsizetype line, qsizetype position, qsizetype removed, qsizetype added);

    // Exact for the stretches whose rows have been found, estimated from columns elsewhere.
    qint64 rowCount(const Context& c);
    qint64 rowOfPosition(const Context& c, qsizetype position, bool upstream);
    std::pair<qsizetype, qsizetype> rowRange(const Context& c, qint64 row);
    // The x of a position's caret within `row`, unclamped.
    qreal xOfPosition(const Context& c, qsizetype position, qint64 row);
    // The caret position nearest to x in a row, before it is kept within the row.
    qsizetype positionAtX(const Context& c, qint64 row, qreal x);
    // The stop to the right or the left on screen; -1 where that is the logical order.
    qsizetype visualCursorPosition(const Context& c, qsizetype position, bool right);
    void draw(const Context& c, QPainter& painter, qint64 firstRow, qint64 lastRow, const QPointF& origin,
        const QList<FormatRange>& selections, const QRectF& clip, qint64 horizontalColumns);

    // Whether rows shown after an edit are old ones still to be found again.
    bool unsettled() const;
    // Finds the next of them; answers whether any remain.
    bool settleMore(const Context& c);

private:
    struct Segment;
    struct Stretch;
    struct RowAt {
        size_t stretch;
        size_t segment;
        int index; // of the row within the segment
    };

    void prepare(const Context& c);
    void findDirection(const Context& c);
    void cutStretches(const Context& c);
    qsizetype stretchEnd(size_t s) const;
    size_t stretchAt(qsizetype local) const;
    qint64 estimatedRows(const Context& c, size_t s) const;
    void countRows(const Context& c);
    // Finds rows of stretch `s` until one starts after `local` or `rows` are known.
    void findRows(const Context& c, size_t s, qsizetype local, qint64 rows);
    // Shapes a new segment at the end of the known rows of `s` and keeps its settled rows.
    void findSegment(const Context& c, size_t s);
    RowAt locate(const Context& c, qint64 row);
    RowAt locatePosition(const Context& c, qsizetype local);
    QTextLayout* layoutOf(const Context& c, size_t s, size_t g);
    qint64 firstRowOf(size_t s, size_t g) const;
    qsizetype toLayout(const Segment& g, qsizetype local) const;
    qsizetype fromLayout(const Segment& g, qsizetype index) const;
    void trimShapes();
    // Rows are found again from before an edit at `local`; those after it are kept for the
    // segment whose rows meet theirs.
    void startSync(size_t s, qsizetype local, qsizetype removed, qsizetype added);
    void dropSync();

    // Without wrapping the line is one row of which only the slice in view is shaped.
    QTextLayout* sliceLayout(const Context& c, qsizetype from, qsizetype to);

    struct Sync {
        bool active = false;
        size_t stretch = 0;
        std::vector<Segment> kept; // the old segments after the edit, moved to their new places
        qsizetype after = 0;       // rows starting past here may meet them
        qsizetype limit = 0;       // the old frontier
        bool complete = false;     // whether the old rows reached the stretch's end
        int budget = 0;
    };

    std::vector<Stretch> m_stretches;
    Sync m_sync;
    qsizetype m_length = -1; // the line length they were cut for
    Qt::LayoutDirection m_direction = Qt::LeftToRight;
    qsizetype m_strongAt = -1; // the first strong character, which gives the direction; -1 when none
    qsizetype m_preeditAt = -1; // the composition the rows were found with, within the line
    qsizetype m_preeditLength = 0;
    quint64 m_generation = 0;
    bool m_rowsDirty = true;
    std::vector<qint64> m_firstRows; // of each stretch
    qint64 m_rowCount = 1;
    size_t m_shaped = 0;
    quint64 m_useClock = 0;
    std::unique_ptr<QTextLayout> m_slice;
    qsizetype m_sliceFrom = -1, m_sliceTo = -1;
    quint64 m_sliceGeneration = 0;
};
