#include "tools/mermaid/MermaidSourceMetrics.h"

#include "formats/LineCounter.h"
#include "kit/CodeTextSnapshot.h"

namespace {

// The blank, the tab and the Unicode space separators; no line break.
bool isBlank(char16_t c)
{
    switch (c) {
    case 0x0009: case 0x0020: case 0x00A0: case 0x1680: case 0x202F: case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

// The first word of a significant line, or nothing for a blank, comment or directive line.
bool lineWord(QStringView line, QString& word)
{
    qsizetype start = 0;
    qsizetype end = line.size();
    while (start < end && isBlank(line[start].unicode()))
        ++start;
    while (end > start && isBlank(line[end - 1].unicode()))
        --end;
    if (start == end)
        return false;
    const QStringView text = line.mid(start, end - start);
    if (text.startsWith(u"%%"))
        return false;
    const qsizetype blank = text.indexOf(u' ');
    const QStringView first = blank < 0 ? text : text.left(blank);
    word = first.toString();
    // An unpaired surrogate shows as U+FFFD.
    QChar* units = word.data();
    const qsizetype n = word.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = units[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(units[i + 1].unicode())) {
            ++i;
            continue;
        }
        if (QChar::isSurrogate(c))
            units[i] = QChar(0xFFFD);
    }
    return true;
}

} // namespace

MermaidSourceMetrics::MermaidSourceMetrics(QStringView source)
{
    lines = LineCounter::lines(source);
    const qsizetype n = source.size();
    const char16_t* units = reinterpret_cast<const char16_t*>(source.data());
    qsizetype lineStart = 0;
    bool found = false;
    for (qsizetype i = 0; i < n && !found; ++i) {
        const char16_t c = units[i];
        if (c != u'\n' && c != u'\r')
            continue;
        found = lineWord(source.mid(lineStart, i - lineStart), diagramType);
        if (c == u'\r' && i + 1 < n && units[i + 1] == u'\n')
            ++i;
        lineStart = i + 1;
    }
    if (!found && n > 0)
        found = lineWord(source.mid(lineStart), diagramType);
    if (!found)
        diagramType = QStringLiteral("—");
}

MermaidSourceMetrics::MermaidSourceMetrics(const CodeTextSnapshot& source)
{
    if (source.isEmpty())
        return;
    // Whole lines from the start, more of them until one is significant or the text ends.
    for (qsizetype take = 4096;; take *= 4) {
        if (take >= source.length()) {
            diagramType = MermaidSourceMetrics(QStringView(source.text())).diagramType;
            break;
        }
        const QString head = source.mid(0, take);
        const qsizetype lastBreak = head.lastIndexOf(QLatin1Char('\n'));
        if (lastBreak < 0)
            continue;
        const MermaidSourceMetrics part(QStringView(head).left(lastBreak + 1));
        if (part.diagramType != diagramType) {
            diagramType = part.diagramType;
            break;
        }
    }
    lines = source.lineCount();
}
