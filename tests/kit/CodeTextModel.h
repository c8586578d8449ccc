#pragma once

// A plain, slow model of the code view's text geometry, written independently of the buffer:
// lines split at LF, columns counted character by character.
#include "kit/CodeTextBuffer.h"

#include <QString>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <vector>

namespace CodeTextModel {

inline qint64 columnsOf(QStringView line)
{
    qint64 col = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('\t')) {
            col = col - col % 4 + 4;
        } else if (c.isHighSurrogate() && i + 1 < line.size() && line[i + 1].isLowSurrogate()) {
            col += CodeTextBuffer::codePointColumns(QChar::surrogateToUcs4(c, line[i + 1]));
            ++i;
        } else {
            col += c.isSurrogate() ? 1 : CodeTextBuffer::codePointColumns(c.unicode());
        }
    }
    return col;
}

// Compares everything the buffer answers with the model of `text`; QVERIFY-style, so call it
// through a helper that checks QTest::currentTestFailed().
inline void check(const CodeTextBuffer& buffer, const QString& text)
{
    QCOMPARE(buffer.length(), text.size());
    QCOMPARE(buffer.text(), text);
    const QStringList lines = text.split(QLatin1Char('\n'));
    QCOMPARE(buffer.lineCount(), lines.size());
    // The columns of every line in one walk, from a line inside the first block and past the end.
    const qsizetype from = std::min<qsizetype>(3, lines.size());
    std::vector<qint64> walked(size_t(lines.size() - from), -1);
    buffer.lineColumns(from, lines.size() - from + 5, walked.data());
    qsizetype start = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QCOMPARE(buffer.lineStart(i), start);
        QCOMPARE(buffer.lineLength(i), lines[i].size());
        QCOMPARE(buffer.lineAt(start), i);
        QCOMPARE(buffer.lineAt(start + lines[i].size()), i);
        const qint64 cols = columnsOf(lines[i]);
        QCOMPARE(buffer.lineColumns(i), cols);
        if (i >= from)
            QCOMPARE(walked[size_t(i - from)], cols);
        // A few columns inside the line, including the end.
        for (qsizetype probe : {qsizetype(0), lines[i].size() / 3, lines[i].size() / 2 + 1, lines[i].size()}) {
            probe = std::min(probe, lines[i].size());
            if (probe > 0 && probe < lines[i].size() && lines[i][probe].isLowSurrogate() && lines[i][probe - 1].isHighSurrogate())
                ++probe;
            QCOMPARE(buffer.columnOf(start + probe), columnsOf(QStringView(lines[i]).left(probe)));
        }
        start += lines[i].size() + 1;
    }
}

} // namespace CodeTextModel
