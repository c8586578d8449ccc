#pragma once

#include "kit/CodeTextSnapshot.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class QObject;

// The text of a code view: units in blocks of whole lines, with every 16th line start and each
// line's column count kept per block, so an edit touches the blocks it hits and never rescans the
// document. A block whose text is all Latin-1 keeps one byte a unit, and turns to UTF-16 only
// when an edit brings it a character beyond Latin-1: a large plain text is held at half size. Only LF breaks lines; text given to it has its CR LF and lone CR turned into LF.
// It holds no layout: rows and wrap widths belong to each view's `CodeTextLayout`, which uses the
// column counts to estimate the rows of lines it has not laid out.
//
// Columns: a tab advances to the next multiple of `tabWidth`, East Asian wide characters and
// wide emoji take two, combining marks and zero-width formats none, everything else one. Very
// long lines keep column checkpoints, so a position's column is found without scanning the line.
//
// Building from a text is independent of any widget and may run on any thread; a built buffer
// may be moved to another thread, but one buffer is not to be used by two threads at once
// (`text()` keeps a cached copy).
class CodeTextBuffer {
public:
    static constexpr int tabWidth = 4;
    // A line of this many units or more is stored in a block of its own and laid out a segment at a time.
    static constexpr qsizetype longLine = 4096;

    CodeTextBuffer();
    explicit CodeTextBuffer(QStringView text);
    // Keeps a shallow copy of `text` and lets its blocks read from it instead of copying them: a
    // large text is then held once, and an edit copies only the block it touches.
    explicit CodeTextBuffer(const QString& text);

    // Reads `text` in place like the constructor above, with every block kept as UTF-16 for now:
    // for a text another holder goes on using for a while (a document about to be parsed),
    // whose Latin-1 copies would only add to its peak. `Narrowing` makes them later.
    static CodeTextBuffer narrowedLater(const QString& text);
    // Reads UTF-8 text (well-formed, as the program's readers and printers make it). Blocks of
    // ASCII read `utf8` in place as Latin-1, the buffer keeping it; the others are decoded. A text
    // with CR is read as UTF-16, its line breaks made LF.
    static CodeTextBuffer fromUtf8(const QByteArray& utf8);

    // Latin-1 copies of the blocks of a buffer made by `narrowedLater`, taken on the GUI thread,
    // made on any thread, and applied back if the buffer was not edited meanwhile.
    class Narrowing {
    public:
        void run();

    private:
        friend class CodeTextBuffer;
        std::vector<QString> m_texts; // the blocks' texts; those read in place read `m_source`
        std::vector<bool> m_longLine; // per block: it holds one long line, which gets room to type in
        QString m_source;
        std::vector<QByteArray> m_narrow; // per block: its bytes, or null when not Latin-1
        std::vector<QString> m_owned;     // per block read in place and not Latin-1: its copy
        quint64 m_version = 0;
    };
    // Whether some blocks still wait for `Narrowing`.
    bool isNarrowingPending() const { return m_narrowingPending; }
    // Makes the Latin-1 copies of a buffer built by `narrowedLater` on a worker thread and takes
    // them back on the GUI thread, unless the text changed meanwhile (a later call then tries
    // again) or `owner` is gone. The buffer must stay where it is while `owner` lives (a member
    // of it). Once per text: a call while its copies are being made does nothing.
    void narrowLater(QObject* owner);
    Narrowing narrowing() const;
    // False when the buffer changed since `narrowing()` (nothing is applied then).
    bool apply(Narrowing&& done);

    // Columns of one code point (tab excluded: it depends on the column).
    static int codePointColumns(char32_t c);

    qsizetype length() const { return m_length; }
    bool isEmpty() const { return m_length == 0; }
    // The whole text, built once per state of the buffer and never sharing a block's storage,
    // so holding it does not make the next edit copy the block.
    QString text() const;
    // The text as it is now, sharing the blocks instead of copying them.
    CodeTextSnapshot snapshot() const;
    QString mid(qsizetype position, qsizetype length) const;
    QChar at(qsizetype position) const;

    // Replaces [position, position + length) (clamped to the text) by `text` after normalising
    // its line breaks; returns the number of units inserted.
    qsizetype replace(qsizetype position, qsizetype length, QStringView text);
    // The same; when `text` becomes the whole text it is also kept as what `text()` answers,
    // so replacing everything (a paste over a select-all) needs no copy of it later.
    qsizetype replace(qsizetype position, qsizetype length, const QString& text);

    // Whether any block keeps its text as Latin-1.
    bool hasLatin1Blocks() const;

    // Lines, 0-based; a text of n line feeds has n + 1 lines (the empty text has one).
    qsizetype lineCount() const { return m_lineCount; }
    qsizetype lineAt(qsizetype position) const;
    qsizetype lineStart(qsizetype line) const;
    // Without the line feed.
    qsizetype lineLength(qsizetype line) const;
    qsizetype lineEnd(qsizetype line) const { return lineStart(line) + lineLength(line); }
    QString lineText(qsizetype line) const { return mid(lineStart(line), lineLength(line)); }

    // The lines of more than `units` units, line feed included, that start in [from, to), in
    // order, each cut at `to`, and only when still that long; found from the blocks' line starts.
    std::vector<std::pair<qsizetype, qsizetype>> linesLongerThan(qsizetype units, qsizetype from, qsizetype to) const;

    qint64 lineColumns(qsizetype line) const;
    // The columns of lines [first, first + count), clamped to the text, into `out`: one walk
    // through their blocks, cheaper than asking line by line.
    void lineColumns(qsizetype first, qsizetype count, qint64* out) const;
    qint64 maxLineColumns() const;
    // Column of `position` within its line.
    qint64 columnOf(qsizetype position) const;
    // The position in `line` whose character covers `column` (the line end when past it);
    // `nearest` picks the nearer edge of that character instead of its start.
    qsizetype positionAtColumn(qsizetype line, qint64 column, bool nearest = false) const;

    // Bytes held, for the memory figures.
    qsizetype memoryUsage() const;

private:
    struct Checkpoint {
        int32_t offset; // from the line start
        int32_t column; // column at that offset
        bool tabAfter;  // a tab lies between this checkpoint and the next
    };
    // A block of short lines stays under 64 Ki units, so its line starts and columns take 16 bits.
    struct Block {
        // Whole lines; every block but the last ends with LF. In `narrow` (Latin-1) when
        // `isNarrow`, else in `text`.
        QString text;
        QByteArray narrow;
        bool isNarrow = false;
        // The start of every 16th line within the text (marks[0] == 0); the lines between
        // are found from the mark before them by their line feeds. A document of short lines
        // (pretty-printed JSON) would otherwise hold two bytes a line for its starts alone.
        std::vector<uint16_t> marks;
        int32_t lines = 0;
        int32_t longest = 0;                 // units of the longest line, its line feed included
        // Per line; left empty when each line's columns equal its length (plain ASCII without
        // tabs, the common case) and for a long line, whose columns are `widest`.
        std::vector<uint16_t> columns;
        int32_t widest = 0;                  // the most columns of a line in the block
        std::vector<Checkpoint> checkpoints; // only for a block holding one long line
        bool borrowed = false;               // `text` reads `m_borrowed` in place

        qsizetype size() const { return isNarrow ? narrow.size() : text.size(); }
        char16_t unit(qsizetype i) const
        {
            return isNarrow ? char16_t(static_cast<unsigned char>(narrow[i])) : text[i].unicode();
        }
    };

    CodeTextBuffer(QStringView text, const QString* source, bool narrowLater = false);

    // With `owner` holding `text`, a block that is all of it takes its storage instead of a copy;
    // with `borrow`, blocks read `text` in place (its storage outlives them).
    // `sawCarriageReturn`, when given, is told whether `text` holds a CR (it is then split wrongly).
    // `oneLine`: `text` holds no line feed, so none is looked for, and its kinds are read side by side.
    static void appendBlocks(std::vector<Block>& out, QStringView text, bool tail, QString* owner = nullptr,
                             bool borrow = false, bool narrow = true, bool* sawCarriageReturn = nullptr,
                             bool oneLine = false);
    // Builds the blocks of `text` (read in place when `source` owns it); false, with blocks to
    // drop, when it holds a CR.
    bool build(QStringView text, const QString* source, bool narrowLater);
    // The blocks of UTF-8 text without CR, read in place where they are ASCII.
    static void appendUtf8Blocks(std::vector<Block>& out, const char* all, qsizetype n);
    // Sets the block's lines from the `count` line starts at `starts` and its columns; `plain`:
    // its units are all printable ASCII or line feeds.
    static void setLines(Block& block, const uint16_t* starts, size_t count, bool plain);
    // The first line feed in [from, to) of the block, or `to`.
    static qsizetype lineFeedIn(const Block& block, qsizetype from, qsizetype to);
    static qsizetype localLineStart(const Block& block, size_t i);
    static qsizetype localLineLength(const Block& block, size_t i);
    // Where line i, which starts at `start`, ends: at its line feed, or for the block's last line
    // at the block's end (before a closing line feed), which is not looked for.
    static qsizetype localLineEnd(const Block& block, size_t i, qsizetype start);
    static qint64 measure(QStringView text, qint64 startColumn, bool* sawTab = nullptr);
    static qint64 measure(const Block& block, qsizetype from, qsizetype length, qint64 startColumn,
                          bool* sawTab = nullptr);
    static qsizetype safeCutIn(const Block& block, qsizetype size, qsizetype offset);
    // Copies units [from, from + length) of `block` to `to`, widening Latin-1.
    static void readUnits(const Block& block, qsizetype from, qsizetype length, QChar* to);
    static void appendUnits(QString& out, const Block& block, qsizetype from, qsizetype length);
    static void widen(Block& block, qsizetype spare);
    static void buildCheckpoints(Block& block);
    void editLongLine(size_t b, qsizetype local, qsizetype removed, QStringView inserted);
    void forgetBorrowed(const Block& block);
    void refreshFrom(size_t b);
    size_t blockAtPosition(qsizetype position) const;
    size_t blockAtLine(qsizetype line) const;
    qint64 columnInLongLine(const Block& block, qsizetype local) const;

    std::vector<Block> m_blocks;
    std::vector<qsizetype> m_blockStart; // prefix sums, size blocks + 1
    std::vector<qsizetype> m_blockLine;
    qsizetype m_length = 0;
    qsizetype m_lineCount = 1;
    mutable qint64 m_maxColumns = -1;
    // The text the borrowed blocks read in place, let go when none is left; while nothing is
    // edited, also the answer of `text()`.
    QString m_borrowed;
    bool m_borrowedIsText = false;
    // The UTF-8 that blocks of `fromUtf8` read in place (an edit copies the block it changes).
    QByteArray m_borrowedBytes;
    qsizetype m_borrowedBlocks = 0;
    mutable QString m_textCache;
    mutable bool m_textCached = false;
    bool m_narrowingPending = false;
    quint64 m_version = 0; // counts edits, for `Narrowing`
    struct NarrowRun;
    std::shared_ptr<NarrowRun> m_narrowRun; // the copies being made by `narrowLater`
};
