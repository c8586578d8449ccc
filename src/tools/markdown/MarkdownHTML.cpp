#include "tools/markdown/MarkdownHTML.h"

#include "formats/RunParts.h"
#include "formats/Utf8Encoder.h"

#include "tools/markdown/MarkdownInline.h"
#include "tools/markdown/MarkdownLists.h"
#include "tools/markdown/MarkdownTables.h"
#include "tools/markdown/MarkdownText.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <memory>
#include <vector>

using namespace MarkdownText;

namespace {

// The first U+0000, U+0001, CR or surrogate from p on, or end; eight units at a time.
const char16_t* findNormalizable(const char16_t* p, const char16_t* end)
{
#if defined(__SSE2__)
    const __m128i one = _mm_set1_epi16(1);
    const __m128i cr = _mm_set1_epi16(u'\r');
    const __m128i tenBits = _mm_set1_epi16(short(0xF800));
    const __m128i surrogate = _mm_set1_epi16(short(0xD800));
    for (; end - p >= 8; p += 8) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i marker = _mm_cmpeq_epi16(_mm_max_epi16(_mm_min_epi16(u, one), _mm_setzero_si128()), u);
        const __m128i hit = _mm_or_si128(_mm_or_si128(marker, _mm_cmpeq_epi16(u, cr)),
                                         _mm_cmpeq_epi16(_mm_and_si128(u, tenBits), surrogate));
        if (const unsigned mask = unsigned(_mm_movemask_epi8(hit)))
            return p + __builtin_ctz(mask) / 2;
    }
#endif
    for (; p < end; ++p) {
        const char16_t u = *p;
        if (u <= 1 || u == u'\r' || (u >= 0xD800 && u < 0xE000))
            return p;
    }
    return end;
}

// Line breaks become LF; U+0000 and U+0001 (the inline markers) and lone surrogates become U+FFFD.
// Only copies when something changes: paired surrogates (emoji) keep the text as it is.
QString normalized(const QString& text)
{
    const qsizetype n = text.size();
    const char16_t* units = reinterpret_cast<const char16_t*>(text.constData()); // utf16() may copy
    qsizetype i = 0;
    for (; i < n; ++i) {
        i = findNormalizable(units + i, units + n) - units;
        if (i == n)
            break;
        const char16_t u = units[i];
        if (u <= 1 || u == u'\r')
            break;
        if (u >= 0xD800) {
            if (u >= 0xDC00 || i + 1 == n || units[i + 1] < 0xDC00 || units[i + 1] >= 0xE000)
                break;
            ++i;
        }
    }
    if (i == n)
        return text;
    QString out;
    out.reserve(n);
    out.append(QStringView(units, i));
    for (; i < n; ++i) {
        const char16_t u = units[i];
        if (u <= 1) {
            out += QChar(0xFFFD);
        } else if (u == u'\r') {
            out += u'\n';
            if (i + 1 < n && units[i + 1] == u'\n')
                ++i;
        } else if (u >= 0xD800 && u < 0xDC00) {
            if (i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
                out += QChar(u);
                out += QChar(units[++i]);
            } else {
                out += QChar(0xFFFD);
            }
        } else if (u >= 0xDC00 && u < 0xE000) {
            out += QChar(0xFFFD);
        } else {
            out += QChar(u);
        }
    }
    return out;
}

// s.startsWith(prefix), inline: asked of many lines.
bool startsWithUnits(QStringView s, QStringView prefix)
{
    return s.size() >= prefix.size() && std::equal(prefix.utf16(), prefix.utf16() + prefix.size(), s.utf16());
}

bool isTableStart(Lines lines, const MarkdownText::TrimmedLines& trimmed, qsizetype i)
{
    // The next line's test first: it rejects most lines at their first character.
    return i + 1 < qsizetype(lines.size()) && MarkdownTables::isTableDelimiterRow(lines[i + 1]) && MarkdownText::indexOfUnit(trimmed[i], u'|') >= 0;
}

} // namespace

namespace MarkdownHTML {

void appendDataLineAttributes(MarkdownOutput& out, qint64 start, qint64 end)
{
    // Written from the back: ' data-line="S" data-end="E"'.
    char16_t units[64];
    char16_t* p = units + 64;
    auto put = [&p](QStringView text) {
        p -= text.size();
        std::copy(text.utf16(), text.utf16() + text.size(), p);
    };
    auto number = [&p](qint64 n) {
        quint64 v = n < 0 ? 0 - quint64(n) : quint64(n);
        do {
            *--p = char16_t(u'0' + v % 10);
            v /= 10;
        } while (v > 0);
        if (n < 0)
            *--p = u'-';
    };
    put(u"\"");
    number(end);
    put(u"\" data-end=\"");
    number(start);
    put(u" data-line=\"");
    appendUnits(out, p, units + 64 - p);
}

QStringView fenceMarker(QStringView t)
{
    if (t.size() < 3 || t[0] != t[1] || t[0] != t[2])
        return {};
    if (t[0] == u'`')
        return u"```";
    if (t[0] == u'~')
        return u"~~~";
    return {};
}

Heading parseHeading(QStringView t)
{
    qsizetype k = 0;
    while (k < t.size() && isCharacterAt(t, k, u'#'))
        ++k;
    if (k == 0 || k > 6)
        return {};
    const QStringView rest = t.sliced(k);
    if (!rest.isEmpty() && !startsWithCharacter(rest, u' '))
        return {};
    QStringView title = trimmed(rest);
    qsizetype r = title.size();
    while (r > 0 && title[r - 1].unicode() == u'#')
        --r;
    if (r == 0) {
        title = {};
    } else if (r < title.size()) {
        const char16_t before = title[r - 1].unicode();
        if (before == u' ' || before == u'\t')
            title = trimmed(title.first(r));
    }
    return Heading{int(k), title};
}

bool isHorizontalRule(QStringView t)
{
    if (t.isEmpty())
        return false;
    char16_t kind = 0;
    qsizetype count = 0;
    for (const QChar ch : t) {
        const char16_t u = ch.unicode();
        if (u == u' ')
            continue;
        if (kind == 0) {
            if (u != u'-' && u != u'*' && u != u'_')
                return false;
            kind = u;
        } else if (u != kind) {
            return false;
        }
        ++count;
    }
    return count >= 3;
}

int indentWidth(QStringView line)
{
    int width = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (isCharacterAt(line, i, u' '))
            width += 1;
        else if (isCharacterAt(line, i, u'\t'))
            width += 4;
        else
            break;
    }
    return width;
}

void renderBlocks(Lines lines, qint64 baseLine, int depth, MarkdownOutput& out)
{
    renderBlocks(lines, baseLine, depth, out, nullptr);
}

void renderBlocks(Lines lines, qint64 baseLine, int depth, MarkdownOutput& out, bool* endsBetweenBlocks)
{
    const qsizetype count = qsizetype(lines.size());
    const TrimmedLines trimmedLines{lines};

    // Kept after a list through blank lines; decides where a following paragraph ends.
    MarkdownLists::ListBlock listContext;
    bool hasListContext = false;
    const bool quotesOpen = depth < maxQuoteDepth;
    qsizetype i = 0;
    while (i < count) {
        const QStringView t = trimmedLines[i];
        if (t.isEmpty()) {
            if (endsBetweenBlocks && i == count - 1)
                *endsBetweenBlocks = true;
            ++i;
            continue;
        }
        const qint64 start = baseLine + i;

        if (const QStringView marker = fenceMarker(t); !marker.isEmpty()) {
            const QStringView info = trimmed(t.sliced(3));
            qsizetype j = i + 1;
            while (j < count && !startsWithUnits(trimmedLines[j], marker))
                ++j;
            const qsizetype end = j < count ? j + 1 : count;
            appendLiteral(out, u"<pre");
            appendDataLineAttributes(out, start, baseLine + end);
            appendLiteral(out, u"><code");
            if (!info.isEmpty()) {
                appendLiteral(out, u" class=\"language-");
                appendView(out, MarkdownInline::escapeHTML(info).replace(u'"', QLatin1StringView("&quot;")));
                appendUnit(out, u'"');
            }
            appendUnit(out, u'>');
            for (qsizetype k = i + 1; k < j && k < count; ++k) {
                if (k > i + 1)
                    appendUnit(out, u'\n');
                MarkdownInline::appendEscapedHTML(lines[k], out);
            }
            appendLiteral(out, u"</code></pre>\n");
            hasListContext = false;
            i = end;
            continue;
        }

        if (const Heading heading = parseHeading(t); heading.level > 0) {
            const char16_t digit = char16_t(u'0' + heading.level);
            appendLiteral(out, u"<h");
            appendUnit(out, digit);
            appendDataLineAttributes(out, start, start + 1);
            appendUnit(out, u'>');
            MarkdownInline::appendInline(heading.title, out);
            appendLiteral(out, u"</h");
            appendUnit(out, digit);
            appendLiteral(out, u">\n");
            hasListContext = false;
            ++i;
            continue;
        }

        if (isHorizontalRule(t)) {
            appendLiteral(out, u"<hr");
            appendDataLineAttributes(out, start, start + 1);
            appendLiteral(out, u">\n");
            hasListContext = false;
            ++i;
            continue;
        }

        if (quotesOpen && startsWithCharacter(t, u'>')) {
            // One list of quoted lines for each depth, kept from quote to quote: quotes nested deep
            // would otherwise take fresh memory at every level, over and over. Inside a quote of
            // no more lines than are kept, room for all of them is taken at once.
            constexpr qsizetype keptLines = qsizetype(1) << 14;
            thread_local std::array<QList<QStringView>, maxQuoteDepth> quoteLines;
            QList<QStringView>& content = quoteLines[size_t(depth)];
            content.clear();
            if (depth > 0 && count - i <= keptLines && content.capacity() < count - i)
                content.reserve(count - i);
            QStringView openFence;
            qsizetype j = i;
            for (; j < count; ++j) {
                const QStringView u = trimmedLines[j];
                QStringView piece;
                if (startsWithCharacter(u, u'>')) {
                    piece = u.sliced(1);
                    if (startsWithCharacter(piece, u' '))
                        piece = piece.sliced(1);
                } else {
                    if (u.isEmpty())
                        break;
                    if (openFence.isEmpty() && indentWidth(lines[j]) < 4 && MarkdownLists::isListItem(u))
                        break;
                    piece = u;
                }
                const QStringView c = trimmed(piece);
                if (openFence.isEmpty())
                    openFence = fenceMarker(c);
                else if (startsWithUnits(c, openFence))
                    openFence = {};
                content.append(piece);
            }
            appendLiteral(out, u"<blockquote");
            appendDataLineAttributes(out, start, baseLine + j);
            appendLiteral(out, u">\n");
            renderBlocks(content, start, depth + 1, out);
            if (content.capacity() > keptLines)
                content = QList<QStringView>();
            appendLiteral(out, u"</blockquote>\n");
            hasListContext = false;
            i = j;
            continue;
        }

        if (isTableStart(lines, trimmedLines, i)) {
            i += MarkdownTables::renderTable(lines, trimmedLines, i, baseLine, out);
            hasListContext = false;
            continue;
        }

        if (MarkdownLists::isListItem(t)) {
            const MarkdownLists::ListBlock list = MarkdownLists::renderList(lines, trimmedLines, i, baseLine, out);
            listContext = list;
            hasListContext = true;
            i += list.consumedLines;
            continue;
        }

        // Paragraph. After a list, an item line ends it only in list mode.
        bool listMode = false;
        if (hasListContext) {
            const int w = indentWidth(lines[i]);
            if (i == listContext.endIndex)
                listMode = w >= listContext.topContentColumn || listContext.lastLineHasContent;
            else
                listMode = listContext.topHasContent && w >= listContext.topContentColumn;
        }
        qsizetype j = i + 1;
        for (; j < count; ++j) {
            const QStringView u = trimmedLines[j];
            if (u.isEmpty() || !fenceMarker(u).isEmpty() || parseHeading(u).level > 0 || isHorizontalRule(u)
                || (quotesOpen && startsWithCharacter(u, u'>')))
                break;
            if (listMode ? MarkdownLists::isListItem(u) : MarkdownLists::canInterruptParagraph(lines[j]))
                break;
            if (isTableStart(lines, trimmedLines, j))
                break;
        }
        appendLiteral(out, u"<p");
        appendDataLineAttributes(out, start, baseLine + j);
        appendUnit(out, u'>');
        if (j == i + 1) {
            MarkdownInline::appendInline(t, out);
        } else {
            // One buffer per thread for the joined lines: the inline step keeps no view of it.
            thread_local MarkdownOutput text;
            clearUnits(text);
            for (qsizetype k = i; k < j; ++k) {
                if (k > i)
                    appendUnit(text, u'\n');
                appendView(text, trimmedLines[k]);
            }
            MarkdownInline::appendInline(text, out);
            if (text.capacity() > (qsizetype(1) << 20))
                text = MarkdownOutput();
        }
        appendLiteral(out, u"</p>\n");
        hasListContext = false;
        i = j;
    }
}

} // namespace MarkdownHTML

namespace {

constexpr qsizetype parallelMinimum = qsizetype(1) << 16;
constexpr qsizetype workerUnits = qsizetype(768) << 10;

using LineList = std::vector<QStringView>;

// A worker per 768 KiB of document, up to the cores the process may use. Here a pool thread that
// a fresh process starts costs some 4 ms of processor time before it takes a part (and the first
// a few of them to its starter), so more helpers than that slow a smaller document down. The
// caller never waits for a helper to start: one that starts late only takes fewer parts.
int workerCount(qsizetype size)
{
    return WorkPool::workersFor(size, workerUnits);
}

// Appends the lines of text (no line breaks inside) to lines; a text that ends with a break adds
// the empty line after it only when it is the document's last piece.
template<typename List>
void splitLines(QStringView all, List& lines, bool last)
{
    qsizetype from = 0;
    for (;;) {
        const qsizetype lf = MarkdownText::indexOfUnit(all, u'\n', from);
        if (lf < 0) {
            if (last || from < all.size())
                lines.push_back(all.sliced(from));
            break;
        }
        lines.push_back(all.sliced(from, lf - from));
        from = lf + 1;
    }
}

// A large document is rendered in parts side by side, cut before headings that start a line
// after a blank one. Such a heading begins a block of its own, and what comes after it does not
// depend on what came before, provided that the part before ends between blocks: its last
// line, the blank one, is reached as no block's content (not inside a fence or a list item,
// say). A part that does not end so makes the document render in one piece.
//
// Only fence lines and headings at a line's start decide the cuts; they are found side by side,
// group by group of lines, and then read in order.
struct LineEvent {
    qsizetype line;         // in its group
    qsizetype unitsThrough; // units from the group's start through the line and its break
    char16_t fence;         // the fence character of a fence line; 0 for a heading
};

struct LineGroup {
    qsizetype firstLine = 0; // in the document
    qsizetype firstUnit = 0;
    std::vector<LineEvent> events;
};

// Events of lines[from, to); base is where unit 0 of the group is.
void scanLines(Lines lines, qsizetype from, qsizetype to, const char16_t* base,
               std::vector<LineEvent>& events)
{
    for (qsizetype k = from; k < to; ++k) {
        const QStringView line = lines[k];
        if (line.isEmpty())
            continue;
        const char16_t first = line.front().unicode();
        if (first == u'#') {
            if (MarkdownHTML::parseHeading(MarkdownText::trimmed(line)).level > 0)
                events.push_back({k - from, line.utf16() - base + line.size() + 1, 0});
        } else if (first == u'`' || first == u'~' || MarkdownText::isTrimSpace(first)) {
            if (const QStringView marker = MarkdownHTML::fenceMarker(MarkdownText::trimmed(line)); !marker.isEmpty())
                events.push_back({k - from, line.utf16() - base + line.size() + 1, marker.front().unicode()});
        }
    }
}

// Answers the first line of every part and, last, the line count; empty when the document is
// one part.
std::vector<qsizetype> partCuts(Lines lines, qsizetype units, const std::vector<LineGroup>& groups, int workers)
{
    const qsizetype partUnits = std::max<qsizetype>(parallelMinimum / 4, units / (4 * workers));
    std::vector<qsizetype> cuts{0};
    qsizetype cutUnits = 0;
    char16_t fence = 0;
    for (const LineGroup& group : groups) {
        for (const LineEvent& event : group.events) {
            if (fence) {
                if (event.fence == fence)
                    fence = 0;
                continue;
            }
            if (event.fence) {
                fence = event.fence;
                continue;
            }
            const qsizetype k = group.firstLine + event.line;
            const qsizetype through = group.firstUnit + event.unitsThrough;
            if (through - cutUnits >= partUnits && k > 0 && MarkdownText::trimmed(lines[k - 1]).isEmpty()) {
                cuts.push_back(k);
                cutUnits = through;
            }
        }
    }
    if (cuts.size() < 2)
        return {};
    cuts.push_back(qsizetype(lines.size()));
    return cuts;
}

// Renders every part side by side: render(p, lines, firstLine) renders part p and answers whether
// it ends between blocks. Answers false when a part but the last does not.
template<typename Render>
bool renderParts(Lines lines, const std::vector<qsizetype>& cuts, int workers, Render render)
{
    const qsizetype parts = qsizetype(cuts.size()) - 1;
    std::unique_ptr<bool[]> between(new bool[size_t(parts)]());
    runParts(parts, [&](qsizetype p) {
        const qsizetype first = cuts[size_t(p)];
        between[size_t(p)] = render(p, lines.subspan(size_t(first), size_t(cuts[size_t(p) + 1] - first)), first);
    }, workers);
    for (qsizetype p = 0; p + 1 < parts; ++p) {
        if (!between[size_t(p)])
            return false;
    }
    return true;
}

qsizetype unitsOf(Lines lines)
{
    qsizetype units = 0;
    for (const QStringView line : lines)
        units += line.size() + 1;
    return units;
}

// HTML takes about twice the room of its Markdown, up to three times: room for the first is taken
// up front, and only what is written gets pages.
qsizetype likelyFor(qsizetype units)
{
    return 2 * units + 64;
}

// How much a passing-on output holds before handing it on: small enough to stay in the cache.
constexpr qsizetype passedUnits = qsizetype(32) << 10;

// Appends text to the QString at context.
void appendUtf16(void* context, QStringView text)
{
    QString& html = *static_cast<QString*>(context);
    const qsizetype at = html.size();
    if (html.capacity() - at < text.size())
        html.reserve(std::max(at + text.size(), 2 * html.capacity()));
    html.append(text);
}

// Renders lines into a string with room for the HTML of so many units of Markdown.
QString renderedString(Lines lines, qint64 baseLine, qsizetype units, bool* endsBetweenBlocks)
{
    QString html(likelyFor(units), Qt::Uninitialized);
    html.truncate(0); // keeps the room
    MarkdownOutput out = MarkdownOutput::passingOn(passedUnits, appendUtf16, &html);
    MarkdownHTML::renderBlocks(lines, baseLine, 0, out, endsBetweenBlocks);
    out.passOn();
    return html;
}

// Copies the parts one after another into out, side by side.
template<typename Result, typename Parts>
void assemble(Result& out, const Parts& parts, int workers)
{
    qsizetype total = 0;
    for (const auto& part : parts)
        total += part.size();
    out = Result(total, Qt::Uninitialized);
    std::vector<qsizetype> starts;
    starts.reserve(parts.size());
    qsizetype at = 0;
    for (const auto& part : parts) {
        starts.push_back(at);
        at += part.size();
    }
    auto* const to = out.data();
    runParts(qsizetype(parts.size()), [&](qsizetype p) {
        const auto& part = parts[size_t(p)];
        std::copy(part.constBegin(), part.constEnd(), to + starts[size_t(p)]);
    }, workers);
}


} // namespace

QString renderMarkdownHTML(const QString& source)
{
    const QString text = normalized(source);
    LineList lines;
    lines.reserve(size_t(text.size() / 32 + 16));
    splitLines(text, lines, true);
    std::vector<qsizetype> cuts;
    const int workers = workerCount(text.size());
    if (text.size() >= parallelMinimum && workers >= 2) {
        std::vector<LineGroup> groups(size_t(2 * workers));
        const qsizetype lineCount = qsizetype(lines.size());
        const qsizetype step = lineCount / qsizetype(groups.size()) + 1;
        runParts(qsizetype(groups.size()), [&](qsizetype g) {
            const qsizetype from = std::min(lineCount, g * step);
            groups[size_t(g)].firstLine = from;
            scanLines(lines, from, std::min(lineCount, from + step), QStringView(text).utf16(), groups[size_t(g)].events);
        }, workers);
        cuts = partCuts(lines, text.size(), groups, workers);
    }
    if (!cuts.empty()) {
        std::vector<QString> outs(cuts.size() - 1);
        const bool apart = renderParts(lines, cuts, workers, [&outs](qsizetype p, Lines part, qsizetype first) {
            bool between = false;
            outs[size_t(p)] = renderedString(part, first, unitsOf(part), &between);
            return between;
        });
        if (apart) {
            QString out;
            assemble(out, outs, workers);
            return out;
        }
    }
    return renderedString(lines, 0, text.size(), nullptr);
}
