#pragma once

#include <QList>
#include <QTextLayout>

#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class CodeTextBuffer;
class QPainter;

// The shapes of one line too long to lay out whole. Its rows are cut every `wrapColumns` columns
// (moved to a grapheme boundary). Its text is shaped in pieces of a few dozen units whose bounds
// move with edits rather than with the rows, so an edit reshapes only the piece it falls in,
// although every row after it shifts; rows are drawn from the pieces they cover. Pieces are cut
// only where rows are asked for, so a huge line is never scanned whole.
class CodeTextLongLine {
public:
    using FormatRange = QTextLayout::FormatRange;

    // What the layout cache lends for one call: the line, its metrics, and how it colours and
    // shapes a slice of the buffer.
    struct Context {
        const CodeTextBuffer& buffer;
        qsizetype line;
        qint64 rows; // the line's row count
        bool wrap;
        int wrapColumns;
        qreal charWidth;
        int lineHeight;
        quint64 formatGeneration; // the colours may have changed when this has
        std::function<QList<FormatRange>(qsizetype from, qsizetype to)> formats;
        // Lays a slice out as one unwrapped row with the view's font and these formats.
        std::function<void(QTextLayout& layout, const QList<FormatRange>& formats)> shape;
    };

    CodeTextLongLine();
    ~CodeTextLongLine();
    CodeTextLongLine(const CodeTextLongLine&) = delete;
    CodeTextLongLine& operator=(const CodeTextLongLine&) = delete;

    // An edit replaced `removed` units at buffer `position` by `added`, all within the line, which
    // is still long.
    void edited(const CodeTextBuffer& buffer, qsizetype line, qsizetype position, qsizetype removed, qsizetype added);

    qint64 rowOfPosition(const Context& c, qsizetype position, bool upstream);
    std::pair<qsizetype, qsizetype> rowRange(const Context& c, qint64 row);
    // The x of a position's caret within `row`, unclamped.
    qreal xOfPosition(const Context& c, qsizetype position, qint64 row);
    // The caret position nearest to x in a row, before it is kept within the row.
    qsizetype positionAtX(const Context& c, qint64 row, qreal x);
    void draw(const Context& c, QPainter& painter, qint64 firstRow, qint64 lastRow, const QPointF& origin,
        const QList<FormatRange>& selections, const QRectF& clip, qint64 horizontalColumns);

    // The grapheme cluster bound before a position, found without shaping its line.
    static qsizetype previousCluster(const CodeTextBuffer& buffer, qsizetype position, qsizetype lineStart);

private:
    struct Piece;
    struct Slice;
    struct Part {
        QTextLayout* layout;
        qsizetype pieceStart; // within the line
        qsizetype from, to;   // within the line
        qreal x0, x1;         // of from and to within the piece
    };

    qsizetype pieceEnd(size_t i) const;
    // The piece holding a position within the line (the last one for its end).
    size_t pieceAt(qsizetype local) const;
    qsizetype rowStart(const Context& c, qint64 row) const;
    QTextLayout* rowLayout(const Context& c, qint64 row);
    QTextLayout* sliceLayout(const Context& c, qsizetype from, qsizetype to);
    // The shaped pieces covering [from, to) of the line, in order; false (and no parts) when
    // one holds right-to-left text, whose visual order a piece cannot be cut by.
    bool rowParts(const Context& c, qsizetype from, qsizetype to, std::vector<Part>& parts);
    void splitPieces(const Context& c);
    // Cuts the uncut stretches that [from, to) reaches into pieces.
    void cutPieces(const Context& c, qsizetype from, qsizetype to);
    void trimPieces();

    std::map<qsizetype, Slice> m_slices; // shaped row slices, by their start
    std::vector<Piece> m_pieces;      // in order
    qsizetype m_piecesLength = 0;     // the line length they cover
    size_t m_shapedPieces = 0;
    quint64 m_useClock = 0;
};
