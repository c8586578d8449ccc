#pragma once

#include "kit/CodeTextHighlighter.h"

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>

#include <atomic>
#include <optional>
#include <vector>

// Colours the Markdown source: heading markers and titles, quote and list markers, the markers
// of strong and emphasised text (the enclosed text keeps the plain style) and inline code.
//
// Styles are kept per line, one byte a unit, for the lines that were brought into view
// (`styleLines`) or touched by an edit (`applyEdit`); the view asks for runs per painted slice
// and never waits for styling. A line longer than `longLine` is styled off the GUI thread: until
// its styles arrive (`takeStyled`) it keeps its old ones, shifted by the edit.
class MarkdownSyntaxHighlighter : public CodeTextHighlighter {
public:
    enum class Colour { label, secondary, tertiary, accent, link };
    enum class Font { base, heading, mono };

    static constexpr qsizetype longLine = 4096;

    MarkdownSyntaxHighlighter();

    void setDark(bool dark) { m_dark = dark; }
    bool isDark() const { return m_dark; }

    // The colour a style draws in (for the current appearance); invalid for the label colour,
    // which is the view's own text colour.
    QColor colour(Colour colour) const;

    // Styles of one line of text, one entry per UTF-16 unit; public so the styling rules can be
    // checked without a text view.
    struct Style {
        Colour colour = Colour::label;
        Font font = Font::base;
        friend bool operator==(const Style&, const Style&) = default;
    };
    static QList<Style> styles(const QString& line);
    // The same, packed one byte a unit (colour * 3 + font); polls `cancelled` between passes.
    static QByteArray packedStyles(const QString& line, const std::atomic_bool* cancelled = nullptr);

    // A line of the text whose styles are wanted but too long to compute on the GUI thread.
    struct Pending {
        qsizetype start = 0;
        QString text;
        quint64 serial = 0;
    };

    // Styles the lines of `text` that meet [from, to) and are not styled yet. Long lines are
    // left as pending work (see `pending`). Answers whether anything changed.
    bool styleLines(const CodeTextBuffer& buffer, qsizetype from, qsizetype to);
    // After an edit of the text: the edited range in the new text and the change in length.
    // Restyles the short lines the edit touched at once.
    void applyEdit(const CodeTextBuffer& buffer, qsizetype location, qsizetype length, qsizetype changeInLength);
    // Forgets everything (a new text).
    void clear();

    // Long lines waiting for styles, for the caller to style off the GUI thread.
    const QList<Pending>& pending() const { return m_pending; }
    // Stores the styles of a pending line; dropped when the line was edited meanwhile.
    bool takeStyled(const Pending& line, const QByteArray& styles);
    bool hasPending() const { return !m_pending.isEmpty(); }

    // Drops the styles of lines outside [from, to) when many are kept.
    void forgetOutside(qsizetype from, qsizetype to);

    // The style at a position, when its line is styled.
    std::optional<Style> styleAt(qsizetype position) const;
    bool isStyled(qsizetype position) const { return styleAt(position).has_value(); }

    void runs(const CodeTextBuffer& buffer, qsizetype from, qsizetype to, QList<CodeTextRun>& out) const override;

private:
    // One styled line: its start and one style byte per unit (the line feed excluded).
    struct Entry {
        qsizetype start = 0;
        QByteArray styles;
        // Non-zero while its styles are only the shifted old ones and a fresh set is on its way.
        quint64 serial = 0;
        qsizetype end() const { return start + styles.size(); }
    };
    std::vector<Entry>::iterator firstEndingAtOrAfter(qsizetype position);
    std::vector<Entry>::const_iterator firstEndingAtOrAfter(qsizetype position) const;
    void styleLine(const CodeTextBuffer& buffer, qsizetype line, QByteArray* shifted = nullptr);
    void eraseEntry(std::vector<Entry>::iterator it);

    std::vector<Entry> m_entries;
    QList<Pending> m_pending;
    quint64 m_nextSerial = 1;
    bool m_dark = false;
};
