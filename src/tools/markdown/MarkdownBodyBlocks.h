#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <vector>

// The converter's body fragment cut into its top-level elements, so that a new rendering can be
// sent to the preview page as the few blocks that changed instead of the whole body.
//
// Block k runs from the opening tag of the k-th top-level element up to the opening tag of the
// next one (the text in between belongs to it); block 0 also holds any text before the first
// element. Blocks are compared without their data-line / data-end values, so a block that only
// moved down or up by some lines still counts as unchanged.
//
// Pure value; building one reads the fragment once.
class MarkdownBodyBlocks {
public:
    // What turns the page holding `from` into the page holding `to`: remove `removeCount` blocks
    // at `start` and put in the `insertCount` blocks of `html`; the data-line / data-end values
    // of every block after them change by `lineShift`.
    struct Patch {
        qsizetype start = 0;
        qsizetype removeCount = 0;
        qsizetype insertCount = 0;
        QString html;
        qint64 lineShift = 0;
        bool operator==(const Patch&) const = default;
    };

    // Nothing when the fragment is not a plain sequence of balanced elements (no element at all,
    // a stray closing tag, a comment, an unclosed element, a tag cut off) or a line value is not
    // a plain decimal number.
    static std::optional<MarkdownBodyBlocks> split(const QString& html);

    qsizetype count() const { return qsizetype(m_htmlStarts.size()) - 1; }
    QStringView block(qsizetype k) const;
    const QString& html() const { return m_html; }

    // Nothing when the two share no block at either end, so that a patch would be the whole body.
    static std::optional<Patch> patch(const MarkdownBodyBlocks& from, const MarkdownBodyBlocks& to);

    // A line attribute's value as the converter writes it (digits, no leading zero, at most 15),
    // so that a shifted value is written back the same way; nothing otherwise.
    static std::optional<qint64> lineValue(QStringView value);

private:
    bool sameShape(qsizetype k, const MarkdownBodyBlocks& other, qsizetype j) const;
    // Whether every line value of block k equals other's block j's plus shift.
    bool linesShifted(qsizetype k, const MarkdownBodyBlocks& other, qsizetype j, qint64 shift) const;

    QString m_html;
    std::vector<qsizetype> m_htmlStarts;  // count + 1 entries, the last is m_html's length
    std::vector<qsizetype> m_lineStarts;  // the same cuts in m_lines
    std::vector<qint64> m_lines;          // the data-line / data-end values in order
    std::vector<std::pair<qsizetype, qsizetype>> m_valueSpans; // where each value stands in m_html
};
