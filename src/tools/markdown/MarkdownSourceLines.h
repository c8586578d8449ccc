#pragma once

#include <QList>
#include <QStringView>

// Where every line of a text begins, in UTF-16 offsets. LF, CR and CR LF each end one line; an
// empty text has one line and a text ending in a break has an empty last line. Kept up to date
// per edit without rereading the whole text.
class MarkdownSourceLines {
public:
    MarkdownSourceLines(); // the empty text
    explicit MarkdownSourceLines(QStringView text);

    // Brings the value up to date after an edit of the text, as a text document reports it:
    // editedLocation/editedLength is the edited range in the new text, changeInLength the change of
    // the text's length. A report that does not fit (a negative location stands for "no location")
    // rebuilds from the whole new text.
    void apply(qint64 editedLocation, qint64 editedLength, qint64 changeInLength, QStringView text);

    // The 0-based line holding a UTF-16 offset; offsets are clamped into 0...length().
    qint64 lineAt(qint64 offset) const;

    // starts()[i] is where line i begins; starts()[0] is 0; strictly increasing.
    const QList<qint64>& starts() const { return m_starts; }
    qint64 length() const { return m_length; }
    qsizetype lineCount() const { return m_starts.size(); }

    bool operator==(const MarkdownSourceLines& other) const = default;

private:
    QList<qint64> m_starts;
    qint64 m_length = 0;
};
