#include "tools/markdown/MarkdownBodyBlocks.h"

#include <QStringView>

#include <algorithm>

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

bool isVoidElement(QStringView name)
{
    static const char* const names[] = {"area", "base", "br", "col", "embed", "hr", "img", "input",
                                        "link", "meta", "source", "track", "wbr"};
    for (const char* n : names) {
        if (name.compare(QLatin1StringView(n), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isLineAttribute(QStringView name)
{
    return name.compare(QLatin1StringView("data-line"), Qt::CaseInsensitive) == 0
        || name.compare(QLatin1StringView("data-end"), Qt::CaseInsensitive) == 0;
}

// A decimal value the page can shift and write back unchanged: digits only, no leading zero.
std::optional<qint64> lineValue(QStringView value)
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

} // namespace

std::optional<MarkdownBodyBlocks> MarkdownBodyBlocks::split(const QString& html)
{
    MarkdownBodyBlocks result;
    result.m_html = html;
    QString& shape = result.m_shape;
    shape.reserve(html.size());
    const char16_t* s = reinterpret_cast<const char16_t*>(html.constData());
    const qsizetype n = html.size();
    qsizetype copied = 0; // html before this is already in shape
    int depth = 0;
    qsizetype i = 0;
    while (i < n) {
        if (s[i] != u'<') {
            ++i;
            continue;
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
            result.m_shapeStarts.push_back(shape.size() + (i - copied));
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
                shape.append(QStringView(s + copied, valueStart - copied));
                copied = valueEnd;
                result.m_lines.push_back(*value);
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
    shape.append(QStringView(s + copied, n - copied));
    // Text before the first element belongs to the first block.
    result.m_htmlStarts.front() = 0;
    result.m_shapeStarts.front() = 0;
    result.m_htmlStarts.push_back(n);
    result.m_shapeStarts.push_back(shape.size());
    result.m_lineStarts.push_back(qsizetype(result.m_lines.size()));
    return result;
}

QStringView MarkdownBodyBlocks::block(qsizetype k) const
{
    return QStringView(m_html).sliced(m_htmlStarts[k], m_htmlStarts[k + 1] - m_htmlStarts[k]);
}

bool MarkdownBodyBlocks::sameShape(qsizetype k, const MarkdownBodyBlocks& other, qsizetype j) const
{
    const qsizetype length = m_shapeStarts[k + 1] - m_shapeStarts[k];
    if (length != other.m_shapeStarts[j + 1] - other.m_shapeStarts[j])
        return false;
    return QStringView(m_shape).sliced(m_shapeStarts[k], length) == QStringView(other.m_shape).sliced(other.m_shapeStarts[j], length);
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
