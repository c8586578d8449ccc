#include "tools/markdown/MarkdownBodyBlocks.h"

#include <QStringView>

#include <algorithm>
#include <cstring>

namespace {

bool isAsciiLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isTagNameChar(char16_t c)
{
    return isAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'-';
}

bool isSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

// Tag names are ASCII letters, digits and '-' here; lowered into `out` when they fit.
bool lowered(QStringView name, char (&out)[10])
{
    if (name.size() >= qsizetype(sizeof out))
        return false;
    for (qsizetype i = 0; i < name.size(); ++i)
        out[i] = char(name[i].unicode() | (isAsciiLetter(name[i].unicode()) ? 0x20 : 0));
    out[name.size()] = 0;
    return true;
}

bool isVoidElement(QStringView name)
{
    static const char* const names[] = {"area", "base", "br", "col", "embed", "hr", "img", "input",
                                        "link", "meta", "source", "track", "wbr"};
    char low[10];
    if (name.size() > 6 || !lowered(name, low))
        return false;
    for (const char* n : names) {
        if (std::strcmp(low, n) == 0)
            return true;
    }
    return false;
}

bool isLineAttribute(QStringView name)
{
    char low[10];
    if ((name.size() != 8 && name.size() != 9) || !lowered(name, low))
        return false;
    return std::strcmp(low, "data-line") == 0 || std::strcmp(low, "data-end") == 0;
}

} // namespace

std::optional<MarkdownBodyBlocks> MarkdownBodyBlocks::split(const QString& html)
{
    MarkdownBodyBlocks result;
    result.m_html = html;
    const char16_t* s = reinterpret_cast<const char16_t*>(html.constData());
    const qsizetype n = html.size();
    int depth = 0;
    qsizetype i = 0;
    while (i < n) {
        if (s[i] != u'<') {
            i = QStringView(html).indexOf(u'<', i);
            if (i < 0)
                break;
        }
        if (i + 1 < n && s[i + 1] == u'/') {
            qsizetype j = i + 2;
            if (j >= n || !isAsciiLetter(s[j]))
                return std::nullopt;
            while (j < n && isTagNameChar(s[j]))
                ++j;
            while (j < n && isSpace(s[j]))
                ++j;
            if (j >= n || s[j] != u'>' || --depth < 0)
                return std::nullopt;
            i = j + 1;
            continue;
        }
        // Escaped text never holds "<", so anything but a tag here is markup we do not follow.
        if (i + 1 >= n || !isAsciiLetter(s[i + 1]))
            return std::nullopt;
        if (depth == 0) {
            result.m_htmlStarts.push_back(i);
            result.m_lineStarts.push_back(qsizetype(result.m_lines.size()));
        }
        qsizetype j = i + 1;
        while (j < n && isTagNameChar(s[j]))
            ++j;
        const QStringView name(s + i + 1, j - i - 1);
        bool selfClosing = false;
        bool closed = false;
        while (j < n) {
            while (j < n && isSpace(s[j]))
                ++j;
            if (j >= n)
                break;
            if (s[j] == u'>') {
                closed = true;
                ++j;
                break;
            }
            if (s[j] == u'/' && j + 1 < n && s[j + 1] == u'>') {
                selfClosing = closed = true;
                j += 2;
                break;
            }
            const qsizetype nameStart = j;
            while (j < n && !isSpace(s[j]) && s[j] != u'=' && s[j] != u'>' && s[j] != u'/' && s[j] != u'"' && s[j] != u'\'')
                ++j;
            if (j == nameStart)
                return std::nullopt;
            const QStringView attribute(s + nameStart, j - nameStart);
            while (j < n && isSpace(s[j]))
                ++j;
            if (j >= n || s[j] != u'=')
                continue;
            ++j;
            while (j < n && isSpace(s[j]))
                ++j;
            if (j >= n)
                break;
            qsizetype valueStart = 0;
            qsizetype valueEnd = 0;
            bool quoted = false;
            if (s[j] == u'"' || s[j] == u'\'') {
                const char16_t quote = s[j];
                valueStart = j + 1;
                valueEnd = valueStart;
                while (valueEnd < n && s[valueEnd] != quote)
                    ++valueEnd;
                if (valueEnd >= n)
                    return std::nullopt;
                j = valueEnd + 1;
                quoted = true;
            } else {
                valueStart = j;
                while (j < n && !isSpace(s[j]) && s[j] != u'>')
                    ++j;
                valueEnd = j;
            }
            if (isLineAttribute(attribute)) {
                // The page shifts these by number; any other value would not come back the same.
                const std::optional<qint64> value = lineValue(QStringView(s + valueStart, valueEnd - valueStart));
                if (!quoted || !value)
                    return std::nullopt;
                result.m_lines.push_back(*value);
                result.m_valueSpans.push_back({valueStart, valueEnd});
            }
        }
        if (!closed)
            return std::nullopt;
        if (!selfClosing && !isVoidElement(name))
            ++depth;
        i = j;
    }
    if (depth != 0 || result.m_htmlStarts.empty())
        return std::nullopt;
    // Text before the first element belongs to the first block.
    result.m_htmlStarts.front() = 0;
    result.m_htmlStarts.push_back(n);
    result.m_lineStarts.push_back(qsizetype(result.m_lines.size()));
    return result;
}

QStringView MarkdownBodyBlocks::block(qsizetype k) const
{
    return QStringView(m_html).sliced(m_htmlStarts[k], m_htmlStarts[k + 1] - m_htmlStarts[k]);
}

bool MarkdownBodyBlocks::sameShape(qsizetype k, const MarkdownBodyBlocks& other, qsizetype j) const
{
    const qsizetype values = m_lineStarts[k + 1] - m_lineStarts[k];
    if (values != other.m_lineStarts[j + 1] - other.m_lineStarts[j])
        return false;
    const QStringView a(m_html);
    const QStringView b(other.m_html);
    // The stretches between the line values must match; the values themselves are compared apart.
    qsizetype at = m_htmlStarts[k];
    qsizetype otherAt = other.m_htmlStarts[j];
    for (qsizetype v = 0; v <= values; ++v) {
        const bool last = v == values;
        const qsizetype until = last ? m_htmlStarts[k + 1] : m_valueSpans[m_lineStarts[k] + v].first;
        const qsizetype otherUntil = last ? other.m_htmlStarts[j + 1] : other.m_valueSpans[other.m_lineStarts[j] + v].first;
        if (until - at != otherUntil - otherAt || a.sliced(at, until - at) != b.sliced(otherAt, until - at))
            return false;
        if (!last) {
            at = m_valueSpans[m_lineStarts[k] + v].second;
            otherAt = other.m_valueSpans[other.m_lineStarts[j] + v].second;
        }
    }
    return true;
}

bool MarkdownBodyBlocks::linesShifted(qsizetype k, const MarkdownBodyBlocks& other, qsizetype j, qint64 shift) const
{
    const qsizetype count = m_lineStarts[k + 1] - m_lineStarts[k];
    if (count != other.m_lineStarts[j + 1] - other.m_lineStarts[j])
        return false;
    for (qsizetype i = 0; i < count; ++i) {
        if (m_lines[m_lineStarts[k] + i] != other.m_lines[other.m_lineStarts[j] + i] + shift)
            return false;
    }
    return true;
}

std::optional<MarkdownBodyBlocks::Patch> MarkdownBodyBlocks::patch(const MarkdownBodyBlocks& from, const MarkdownBodyBlocks& to)
{
    const qsizetype oldCount = from.count();
    const qsizetype newCount = to.count();
    const qsizetype common = std::min(oldCount, newCount);
    qsizetype prefix = 0;
    while (prefix < common && to.sameShape(prefix, from, prefix) && to.linesShifted(prefix, from, prefix, 0))
        ++prefix;
    qsizetype suffix = 0;
    std::optional<qint64> shift;
    while (suffix < common - prefix) {
        const qsizetype a = oldCount - 1 - suffix;
        const qsizetype b = newCount - 1 - suffix;
        if (!to.sameShape(b, from, a))
            break;
        if (!shift && to.m_lineStarts[b + 1] > to.m_lineStarts[b])
            shift = to.m_lines[to.m_lineStarts[b]] - from.m_lines[from.m_lineStarts[a]];
        if (!to.linesShifted(b, from, a, shift.value_or(0)))
            break;
        ++suffix;
    }
    if (prefix == 0 && suffix == 0)
        return std::nullopt;
    Patch patch;
    patch.start = prefix;
    patch.removeCount = oldCount - prefix - suffix;
    patch.insertCount = newCount - prefix - suffix;
    const qsizetype begin = to.m_htmlStarts[prefix];
    patch.html = to.m_html.mid(begin, to.m_htmlStarts[newCount - suffix] - begin);
    patch.lineShift = suffix > 0 ? shift.value_or(0) : 0;
    return patch;
}

std::optional<qint64> MarkdownBodyBlocks::lineValue(QStringView value)
{
    if (value.isEmpty() || value.size() > 15 || (value.size() > 1 && value[0] == u'0'))
        return std::nullopt;
    qint64 n = 0;
    for (QChar c : value) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        n = n * 10 + (c.unicode() - u'0');
    }
    return n;
}
