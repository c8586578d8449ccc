#include "kit/TextHelpers.h"

#include <QTextDocument>

#include <algorithm>

namespace TextHelpers {

qsizetype lineCount(QStringView text)
{
    if (text.isEmpty())
        return 0;
    qsizetype breaks = 0;
    const QChar* p = text.data();
    const QChar* const end = p + text.size();
    for (; p != end; ++p) {
        const char16_t c = p->unicode();
        if (c == u'\n') {
            ++breaks;
        } else if (c == u'\r') {
            ++breaks;
            if (p + 1 != end && p[1].unicode() == u'\n')
                ++p;
        }
    }
    return breaks + 1;
}

QString normalizedLineBreaks(const QString& text)
{
    if (!text.contains(QLatin1Char('\r')))
        return text;
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            out.append(QLatin1Char('\n'));
            if (i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else {
            out.append(c);
        }
    }
    return out;
}

QString nativeTextCopy(const QTextDocument& document)
{
    QString text = document.toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

void clearUndoActions(QTextDocument& document)
{
    if (document.isUndoRedoEnabled())
        document.clearUndoRedoStacks();
}

bool isInsertAfterLineBreak(Range edited, qsizetype changeInLength, QStringView text)
{
    if (edited.length < 1 || edited.length != changeInLength)
        return false;
    if (edited.location < 0 || edited.location + edited.length > text.size())
        return false;
    if (edited.location == 0)
        return true;
    const QChar before = text.at(edited.location - 1);
    return before == QLatin1Char('\n') || before == QChar::ParagraphSeparator;
}

Range lineBreakEditRange(Range edited, qsizetype changeInLength, QStringView text)
{
    const qsizetype size = text.size();
    qsizetype start = std::clamp<qsizetype>(edited.location, 0, size);
    qsizetype length = std::max<qsizetype>(edited.length, 0);
    if (!isInsertAfterLineBreak(edited, changeInLength, text))
        length += 1;
    length = std::min(length, size - start);
    if (start > 0 && text.at(start - 1) == QLatin1Char('\r')) {
        start -= 1;
        length += 1;
    }
    return {start, length};
}

} // namespace TextHelpers
