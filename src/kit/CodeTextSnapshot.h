#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <algorithm>

// The text of a `CodeTextBuffer` at one moment, sharing the buffer's blocks: taking one costs a
// reference per block, and the buffer copies a block only when it edits one that a snapshot
// still holds. A snapshot may be read on any thread and outlives its buffer.
//
// Hold one only as long as needed: while it lives, the next edit of each block it shares copies
// that block.
class CodeTextSnapshot {
public:
    // One stored part: UTF-16 units, or, for text that is all Latin-1, one byte a unit.
    struct Part {
        QString wide;
        QByteArray narrow;
        bool isNarrow = false;
        qsizetype size() const { return isNarrow ? narrow.size() : wide.size(); }
    };

    CodeTextSnapshot() = default;

    qsizetype length() const { return m_length; }
    bool isEmpty() const { return m_length == 0; }
    // Lines as the buffer counts them: a text of n line feeds has n + 1.
    qsizetype lineCount() const { return m_lineCount; }
    // Calls `visit(QStringView)` on the text part by part, in order, without joining them;
    // stops early when `visit` returns false. A part stored as Latin-1 is widened a few
    // thousand units at a time, each handed over on its own (a cut there never splits a
    // surrogate pair); a view is valid only during its call.
    template<class Visit> void forEachPart(Visit visit) const
    {
        constexpr qsizetype kChunk = 2048;
        char16_t wide[kChunk];
        for (const Part& part : m_parts) {
            if (!part.isNarrow) {
                if (!visit(QStringView(part.wide)))
                    return;
                continue;
            }
            const auto* p = reinterpret_cast<const unsigned char*>(part.narrow.constData());
            for (qsizetype at = 0; at < part.narrow.size(); at += kChunk) {
                const qsizetype n = std::min(kChunk, part.narrow.size() - at);
                std::copy_n(p + at, n, wide);
                if (!visit(QStringView(wide, n)))
                    return;
            }
        }
    }
    // The parts as stored, for readers that handle Latin-1 themselves.
    const QList<Part>& parts() const { return m_parts; }
    // The whole text as one string; shared, not copied, when the snapshot is one UTF-16 part.
    QString text() const;
    QString mid(qsizetype position, qsizetype length) const;

private:
    friend class CodeTextBuffer;
    void appendPart(const QString& part);
    void appendPart(const QByteArray& latin1);
    void copyRange(qsizetype position, qsizetype length, QChar* to) const;

    QList<Part> m_parts;
    QList<qsizetype> m_starts; // where each part begins
    // Storage that parts made over raw data read from; kept alive with them.
    QString m_storage;
    QByteArray m_byteStorage;
    qsizetype m_length = 0;
    qsizetype m_lineCount = 1;
};
