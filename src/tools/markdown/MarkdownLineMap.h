#pragma once

#include <QList>

#include <optional>

// Anchors from source lines to vertical positions in the preview page, built from the rows the
// page measured. Lines and positions map both ways by linear interpolation between anchors.
// Invariants: the first anchor is (0, 0); anchor lines are whole, strictly increasing, the last is
// the line count (>= 1); y never decreases; there are at least two anchors.
class MarkdownLineMap {
public:
    struct Anchor {
        double line = 0;
        double y = 0;
        bool operator==(const Anchor&) const = default;
    };

    struct Block {
        struct End {
            qint64 line = 0;   // first source line after the block, > the block's line
            double bottom = 0; // >= the block's top
            bool operator==(const End&) const = default;
        };

        qint64 line = 0; // first source line, >= 0
        double top = 0;
        std::optional<End> end;

        // One page row [line, top, endLine, bottom]; nothing when the row is not a valid block.
        // An invalid end is dropped and the block kept.
        static std::optional<Block> fromRow(const QList<double>& row);

        bool operator==(const Block&) const = default;
    };

    MarkdownLineMap(); // no blocks, one line, height 0
    MarkdownLineMap(const QList<Block>& blocks, qint64 lineCount, double documentHeight);

    double yForLine(double line) const;
    double lineForY(double y) const;

    const QList<Anchor>& anchors() const { return m_anchors; }

    bool operator==(const MarkdownLineMap& other) const = default;

private:
    QList<Anchor> m_anchors;
};
