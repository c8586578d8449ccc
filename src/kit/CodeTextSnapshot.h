#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// The text of a `CodeTextBuffer` at one moment, sharing the buffer's blocks: taking one costs a
// reference per block, and the buffer copies a block only when it edits one that a snapshot
// still holds. A snapshot may be read on any thread and outlives its buffer.
//
// Hold one only as long as needed: while it lives, the next edit of each block it shares copies
// that block.
class CodeTextSnapshot {
public:
    CodeTextSnapshot() = default;

    qsizetype length() const { return m_length; }
    bool isEmpty() const { return m_length == 0; }
    // Lines as the buffer counts them: a text of n line feeds has n + 1.
    qsizetype lineCount() const { return m_lineCount; }
    // Calls `visit(QStringView)` on the text part by part, in order, without joining them;
    // stops early when `visit` returns false.
    template<class Visit> void forEachPart(Visit visit) const
    {
        for (const QString& part : m_parts)
            if (!visit(QStringView(part)))
                return;
    }
    // The whole text as one string; shared, not copied, when the snapshot is one part already.
    QString text() const;
    QString mid(qsizetype position, qsizetype length) const;

private:
    friend class CodeTextBuffer;
    void appendPart(const QString& part);

    QList<QString> m_parts;
    QList<qsizetype> m_starts; // where each part begins
    // Storage that parts made over raw data read from; kept alive with them.
    QString m_storage;
    qsizetype m_length = 0;
    qsizetype m_lineCount = 1;
};
