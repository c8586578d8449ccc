#include "tools/markdown/ui/MarkdownSyntaxHighlighter.h"

#include "kit/CodeTextBuffer.h"
#include "kit/Palette.h"
#include "tools/markdown/MarkdownSyntaxPatterns.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstring>

namespace {

using Colour = MarkdownSyntaxHighlighter::Colour;
using Font = MarkdownSyntaxHighlighter::Font;

struct Rule {
    int group;
    Colour colour;
    std::optional<Font> font;
};

// The characters of "\h".
bool isHorizontalSpace(char16_t c)
{
    return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

constexpr uchar pack(Colour colour, Font font) { return uchar(int(colour) * 3 + int(font)); }

void applyPass(const QRegularExpression& expression, const QString& subject, uchar* styles, qsizetype limit,
               std::initializer_list<Rule> rules)
{
    QRegularExpressionMatchIterator it = expression.globalMatch(subject);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        for (const Rule& rule : rules) {
            const qsizetype start = match.capturedStart(rule.group);
            const qsizetype length = match.capturedLength(rule.group);
            if (start < 0 || length <= 0)
                continue;
            const qsizetype end = std::min(start + length, limit);
            for (qsizetype i = start; i < end; ++i) {
                const Font font = rule.font ? *rule.font : Font(styles[i] % 3);
                styles[i] = pack(rule.colour, font);
            }
        }
    }
}

// Lines edited beyond this many units at once (a large paste) are left to be styled when they
// come into view.
constexpr qsizetype editStyleLimit = 1 << 16;
// Styled lines kept before those far from view are dropped.
constexpr size_t keptEntries = 4000;

} // namespace

MarkdownSyntaxHighlighter::MarkdownSyntaxHighlighter() = default;

QColor MarkdownSyntaxHighlighter::colour(Colour colour) const
{
    switch (colour) {
    case Colour::label:
        return {};
    case Colour::secondary:
        return Palette::dim().resolved(m_dark);
    case Colour::tertiary:
        return Palette::muted().resolved(m_dark);
    case Colour::accent:
        return Palette::copper().resolved(m_dark);
    case Colour::link:
        return Palette::blue().resolved(m_dark);
    }
    return {};
}

QByteArray MarkdownSyntaxHighlighter::packedStyles(const QString& line, const std::atomic_bool* cancelled)
{
    QByteArray packed(line.size(), '\0');
    if (line.isEmpty())
        return packed;
    auto stop = [cancelled] { return cancelled && cancelled->load(std::memory_order_relaxed); };
    // The line break the line leaves out, so "\s" at the end of a line matches as it does in
    // the whole text.
    const QString subject = MarkdownSyntaxPatterns::matchable(line) + QLatin1Char('\n');
    const QString masked = MarkdownSyntaxPatterns::maskingCodeSpans(subject);
    uchar* styles = reinterpret_cast<uchar*>(packed.data());
    const qsizetype n = packed.size();
    using namespace MarkdownSyntaxPatterns;
    // Line-start constructs can only match at the start of the line: a search over a long line
    // that holds none would still walk all of it.
    const QChar first = [&] {
        qsizetype i = 0;
        while (i < line.size() && isHorizontalSpace(line.at(i).unicode()))
            ++i;
        return i < line.size() ? line.at(i) : QChar();
    }();
    if (line.startsWith(u'#'))
        applyPass(heading(), subject, styles, n, {{1, Colour::secondary, {}}, {3, Colour::accent, Font::heading}});
    if (line.startsWith(u'>'))
        applyPass(blockquote(), subject, styles, n, {{1, Colour::tertiary, {}}});
    if (first == u'-' || first == u'*' || first == u'+' || first.isDigit())
        applyPass(listMarker(), subject, styles, n, {{2, Colour::secondary, {}}});
    if (stop())
        return packed;
    if (line.contains(u'*')) {
        applyPass(strong(), masked, styles, n, {{1, Colour::tertiary, {}}, {3, Colour::tertiary, {}}});
        if (stop())
            return packed;
        applyPass(emphasisAsterisk(), masked, styles, n, {{1, Colour::tertiary, {}}, {3, Colour::tertiary, {}}});
    }
    if (stop())
        return packed;
    if (line.contains(u'_'))
        applyPass(emphasisUnderscore(), masked, styles, n, {{1, Colour::tertiary, {}}, {3, Colour::tertiary, {}}});
    if (stop())
        return packed;
    if (line.contains(u'`'))
        applyPass(inlineCode(), subject, styles, n,
                  {{1, Colour::tertiary, {}}, {2, Colour::link, Font::mono}, {3, Colour::tertiary, {}}});
    return packed;
}

QList<MarkdownSyntaxHighlighter::Style> MarkdownSyntaxHighlighter::styles(const QString& line)
{
    const QByteArray packed = packedStyles(line);
    QList<Style> out(packed.size());
    for (qsizetype i = 0; i < packed.size(); ++i) {
        const uchar b = uchar(packed[i]);
        out[i] = Style{Colour(b / 3), Font(b % 3)};
    }
    return out;
}

// ---- stored styles ----

std::vector<MarkdownSyntaxHighlighter::Entry>::iterator MarkdownSyntaxHighlighter::firstEndingAtOrAfter(qsizetype position)
{
    return std::lower_bound(m_entries.begin(), m_entries.end(), position,
                            [](const Entry& e, qsizetype p) { return e.end() < p; });
}

std::vector<MarkdownSyntaxHighlighter::Entry>::const_iterator
MarkdownSyntaxHighlighter::firstEndingAtOrAfter(qsizetype position) const
{
    return std::lower_bound(m_entries.cbegin(), m_entries.cend(), position,
                            [](const Entry& e, qsizetype p) { return e.end() < p; });
}

void MarkdownSyntaxHighlighter::eraseEntry(std::vector<Entry>::iterator it)
{
    if (it->serial) {
        const quint64 serial = it->serial;
        m_pending.removeIf([serial](const Pending& p) { return p.serial == serial; });
    }
    m_entries.erase(it);
}

void MarkdownSyntaxHighlighter::styleLine(const CodeTextBuffer& buffer, qsizetype line, QByteArray* shifted)
{
    const qsizetype start = buffer.lineStart(line);
    const qsizetype length = buffer.lineLength(line);
    auto it = firstEndingAtOrAfter(start);
    if (it != m_entries.end() && it->start == start) {
        if (it->styles.size() == length && !shifted)
            return;
        eraseEntry(it);
        it = firstEndingAtOrAfter(start);
    }
    Entry entry;
    entry.start = start;
    if (length < longLine) {
        entry.styles = packedStyles(buffer.lineText(line));
    } else {
        entry.styles = shifted && shifted->size() == length ? std::move(*shifted) : QByteArray(length, '\0');
        entry.serial = m_nextSerial++;
        m_pending.append(Pending{start, buffer.lineText(line), entry.serial});
    }
    m_entries.insert(it, std::move(entry));
}

bool MarkdownSyntaxHighlighter::styleLines(const CodeTextBuffer& buffer, qsizetype from, qsizetype to)
{
    const qsizetype length = buffer.length();
    from = std::clamp<qsizetype>(from, 0, length);
    to = std::clamp<qsizetype>(to, from, length);
    const qsizetype first = buffer.lineAt(from);
    const qsizetype last = buffer.lineAt(to);
    bool changed = false;
    for (qsizetype line = first; line <= last; ++line) {
        const qsizetype start = buffer.lineStart(line);
        const auto it = firstEndingAtOrAfter(start);
        if (it != m_entries.end() && it->start == start && it->styles.size() == buffer.lineLength(line))
            continue;
        styleLine(buffer, line);
        changed = true;
    }
    return changed;
}

void MarkdownSyntaxHighlighter::applyEdit(const CodeTextBuffer& buffer, qsizetype location, qsizetype length,
                                          qsizetype changeInLength)
{
    const qsizetype oldEnd = location + length - changeInLength;
    // The styles of a long line edited within itself, moved with the edit, shown until its new
    // styles come.
    std::optional<QByteArray> shifted;
    qsizetype shiftedStart = -1;
    const auto first = firstEndingAtOrAfter(location);
    auto last = first;
    while (last != m_entries.end() && last->start <= oldEnd)
        ++last;
    if (last - first == 1 && first->styles.size() >= longLine && first->start <= location && oldEnd <= first->end()) {
        QByteArray s = first->styles.left(location - first->start);
        s.append(QByteArray(length, '\0'));
        s.append(QByteArrayView(first->styles).sliced(oldEnd - first->start));
        shifted = std::move(s);
        shiftedStart = first->start;
    }
    for (auto e = first; e != last; ++e) {
        if (e->serial)
            m_pending.removeIf([serial = e->serial](const Pending& p) { return p.serial == serial; });
    }
    auto it = m_entries.erase(first, last);
    for (; it != m_entries.end(); ++it)
        it->start += changeInLength;
    for (Pending& p : m_pending) {
        if (p.start > oldEnd)
            p.start += changeInLength;
    }
    if (buffer.length() == 0 || length > editStyleLimit)
        return;
    const qsizetype firstLine = buffer.lineAt(std::min(location, buffer.length()));
    const qsizetype lastLine = buffer.lineAt(std::min(location + length, buffer.length()));
    for (qsizetype line = firstLine; line <= lastLine; ++line) {
        const bool own = shifted && buffer.lineStart(line) == shiftedStart;
        styleLine(buffer, line, own ? &*shifted : nullptr);
    }
}

void MarkdownSyntaxHighlighter::clear()
{
    m_entries.clear();
    m_pending.clear();
}

bool MarkdownSyntaxHighlighter::takeStyled(const Pending& line, const QByteArray& styles)
{
    for (Entry& e : m_entries) {
        if (e.serial != line.serial)
            continue;
        if (e.styles.size() != styles.size())
            return false;
        e.styles = styles;
        e.serial = 0;
        m_pending.removeIf([&](const Pending& p) { return p.serial == line.serial; });
        return true;
    }
    return false;
}

void MarkdownSyntaxHighlighter::forgetOutside(qsizetype from, qsizetype to)
{
    if (m_entries.size() <= keptEntries)
        return;
    std::vector<Entry> kept;
    for (Entry& e : m_entries) {
        if (e.end() >= from && e.start <= to)
            kept.push_back(std::move(e));
        else if (e.serial)
            m_pending.removeIf([serial = e.serial](const Pending& p) { return p.serial == serial; });
    }
    m_entries = std::move(kept);
}

std::optional<MarkdownSyntaxHighlighter::Style> MarkdownSyntaxHighlighter::styleAt(qsizetype position) const
{
    const auto it = firstEndingAtOrAfter(position);
    if (it == m_entries.end() || it->start > position || position >= it->end())
        return std::nullopt;
    const uchar b = uchar(it->styles[position - it->start]);
    return Style{Colour(b / 3), Font(b % 3)};
}

void MarkdownSyntaxHighlighter::runs(const CodeTextBuffer&, qsizetype from, qsizetype to, QList<CodeTextRun>& out) const
{
    for (auto it = firstEndingAtOrAfter(from); it != m_entries.cend() && it->start < to; ++it) {
        const uchar* styles = reinterpret_cast<const uchar*>(it->styles.constData());
        const qsizetype a = std::max(from, it->start);
        const qsizetype b = std::min(to, it->end());
        qsizetype i = a;
        while (i < b) {
            const uchar style = styles[i - it->start];
            qsizetype j = i + 1;
            while (j < b && styles[j - it->start] == style)
                ++j;
            if (style != 0) {
                CodeTextRun run;
                run.from = i;
                run.to = j;
                run.foreground = colour(Colour(style / 3));
                run.bold = Font(style % 3) == Font::heading;
                out.append(run);
            }
            i = j;
        }
    }
}
