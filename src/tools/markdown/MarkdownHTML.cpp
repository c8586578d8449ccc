#include "tools/markdown/MarkdownHTML.h"

#include "formats/CpuFeatures.h"
#include "formats/RunParts.h"
#include "formats/Utf8Encoder.h"

#include "tools/markdown/MarkdownInline.h"
#include "tools/markdown/MarkdownLists.h"
#include "tools/markdown/MarkdownTables.h"
#include "tools/markdown/MarkdownText.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using namespace MarkdownText;

namespace {

// Line breaks become LF; U+0000 and U+0001 (the inline markers) and lone surrogates become U+FFFD.
// Paired surrogates (emoji) stay as they are.
QString normalized(QStringView text)
{
    const qsizetype n = text.size();
    const char16_t* const units = text.utf16();
    QString out;
    out.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
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
    // The next line's test first: it rejects most lines at their first character, here inline.
    if (i + 1 >= qsizetype(lines.size()) || lines[i + 1].isEmpty())
        return false;
    const char16_t first = lines[i + 1].front().unicode();
    if (first < 0x80 && first != u'|' && first != u'-' && first != u':' && first != u' ' && first != u'\t')
        return false;
    return MarkdownTables::isTableDelimiterRow(lines[i + 1]) && MarkdownText::indexOfUnit(trimmed[i], u'|') >= 0;
}

// Whether a trimmed line that starts with c may start a block that ends a paragraph (a fence, a
// heading, a rule, a quote or a list item); a table is told by the line after.
inline bool mayEndParagraph(char16_t c)
{
    switch (c) {
    case u'`':
    case u'~':
    case u'#':
    case u'-':
    case u'*':
    case u'_':
    case u'>':
    case u'+':
        return true;
    default:
        return (c >= u'0' && c <= u'9') || c >= 0x80;
    }
}

// Whether lines[from, to) lie one after another in one text with a line feed between each two:
// then they are that text's own stretch.
bool isOneStretch(Lines lines, qsizetype from, qsizetype to)
{
    for (qsizetype k = from; k + 1 < to; ++k) {
        const QStringView line = lines[k];
        if (lines[k + 1].utf16() != line.utf16() + line.size() + 1 || line.utf16()[line.size()] != u'\n')
            return false;
    }
    return true;
}

// The same, each line whole (trimming takes nothing from it).
bool isOwnStretch(Lines lines, const MarkdownText::TrimmedLines& trimmed, qsizetype from, qsizetype to)
{
    for (qsizetype k = from; k < to; ++k) {
        if (trimmed[k].size() != lines[k].size())
            return false;
    }
    return isOneStretch(lines, from, to);
}

} // namespace

namespace MarkdownHTML {

void appendDataLineAttributes(MarkdownOutput& out, qint64 start, qint64 end)
{
    // Written in place, each number from its last digit back: ' data-line="S" data-end="E"'.
    constexpr qsizetype most = 64;
    char16_t* const begin = out.appendUninitialized(most);
    char16_t* p = begin;
    auto put = [&p](QStringView text) {
        std::copy(text.utf16(), text.utf16() + text.size(), p);
        p += text.size();
    };
    auto number = [&p](qint64 n) {
        quint64 v = n < 0 ? 0 - quint64(n) : quint64(n);
        if (n < 0)
            *p++ = u'-';
        int digits = 1;
        for (quint64 rest = v / 10; rest > 0; rest /= 10)
            ++digits;
        p += digits;
        char16_t* d = p;
        do {
            *--d = char16_t(u'0' + v % 10);
            v /= 10;
        } while (v > 0);
    };
    put(u" data-line=\"");
    number(start);
    put(u"\" data-end=\"");
    number(end);
    put(u"\"");
    out.truncate(out.size() - most + (p - begin));
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
        // Most blocks are paragraphs that start with a letter: no other block starts so, but a table.
        const bool mayBeOther = mayEndParagraph(t.front().unicode());

        if (const QStringView marker = mayBeOther ? fenceMarker(t) : QStringView(); !marker.isEmpty()) {
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
            const qsizetype last = std::min(j, count);
            if (last > i + 1 && isOneStretch(lines, i + 1, last)) {
                // The code's lines lie one after another in the text, line feeds between them.
                MarkdownInline::appendEscapedHTML(QStringView(lines[i + 1].utf16(), lines[last - 1].utf16() + lines[last - 1].size()), out);
            } else {
                for (qsizetype k = i + 1; k < last; ++k) {
                    if (k > i + 1)
                        appendUnit(out, u'\n');
                    MarkdownInline::appendEscapedHTML(lines[k], out);
                }
            }
            appendLiteral(out, u"</code></pre>\n");
            hasListContext = false;
            i = end;
            continue;
        }

        if (const Heading heading = mayBeOther ? parseHeading(t) : Heading(); heading.level > 0) {
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

        if (mayBeOther && isHorizontalRule(t)) {
            appendLiteral(out, u"<hr");
            appendDataLineAttributes(out, start, start + 1);
            appendLiteral(out, u">\n");
            hasListContext = false;
            ++i;
            continue;
        }

        if (mayBeOther && quotesOpen && startsWithCharacter(t, u'>')) {
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

        if (mayBeOther && MarkdownLists::isListItem(t)) {
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
            if (u.isEmpty())
                break;
            if (mayEndParagraph(u.front().unicode())) {
                if (!fenceMarker(u).isEmpty() || parseHeading(u).level > 0 || isHorizontalRule(u)
                    || (quotesOpen && startsWithCharacter(u, u'>')))
                    break;
                if (listMode ? MarkdownLists::isListItem(u) : MarkdownLists::canInterruptParagraph(lines[j]))
                    break;
            }
            if (isTableStart(lines, trimmedLines, j))
                break;
        }
        appendLiteral(out, u"<p");
        appendDataLineAttributes(out, start, baseLine + j);
        appendUnit(out, u'>');
        if (j == i + 1) {
            MarkdownInline::appendInline(t, out);
        } else if (isOwnStretch(lines, trimmedLines, i, j)) {
            // The lines joined are the text's own.
            MarkdownInline::appendInline(QStringView(lines[i].utf16(), lines[j - 1].utf16() + lines[j - 1].size()), out);
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
constexpr qsizetype workerUnits = qsizetype(256) << 10;
// One worker renders its document in parts of about this many units, cut as the parts side by
// side are: a part's lines and text stay in the cache while it renders, and the list of lines
// stays small.
constexpr qsizetype alonePartUnits = qsizetype(1) << 16;

// A worker per 256 Ki units of document, up to the cores the process may use. A pool thread that
// a fresh process starts may take milliseconds to begin; the caller never waits for one, and
// writes the parts it takes from the front as one worker would, so a helper that starts late
// only takes fewer parts from the back.
int workerCount(qsizetype size)
{
    return WorkPool::workersFor(size, workerUnits);
}

// A unit the entry would change or has to look at: U+0000, U+0001, CR or a surrogate.
inline bool isOdd(char16_t u)
{
    return u <= 1 || u == u'\r' || (u & 0xF800) == 0xD800;
}

// Line feeds a scan step gathers before they are handed on, so that the scanning loop holds no
// call: a step stops while a step's worth of room is left.
constexpr int feedRoom = 256;

#if defined(QUORRIX_AVX2_LOOPS)
// One bit a unit for 32 units: where a comparison of each half held.
QUORRIX_AVX2 inline unsigned bitsOf(__m256i low, __m256i high)
{
    return unsigned(_mm256_movemask_epi8(_mm256_permute4x64_epi64(_mm256_packs_epi16(low, high), 0xD8)));
}

QUORRIX_AVX2 inline __m256i oddUnits(__m256i v)
{
    const __m256i one = _mm256_set1_epi16(1);
    return _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi16(_mm256_max_epu16(v, one), one), _mm256_cmpeq_epi16(v, _mm256_set1_epi16(u'\r'))),
                           _mm256_cmpeq_epi16(_mm256_and_si256(v, _mm256_set1_epi16(short(0xF800))), _mm256_set1_epi16(short(0xD800))));
}

// Gathers the line feeds of [p, end) into feeds, 64 units a step, while 64 remain and there is
// room; stops before a step that holds an odd unit, sets `odd` when the unit is at the stop, and
// answers where it stopped. A step's line feeds are written four at a time without a test (most
// steps hold fewer), so that where they fall decides no branch.
QUORRIX_AVX2 const char16_t* lineFeedsAvx2(const char16_t* p, const char16_t* end, const char16_t** feeds, int* count, bool* odd)
{
    const __m256i lf = _mm256_set1_epi16(u'\n');
    int n = *count;
    for (; end - p >= 64 && n <= feedRoom - 64; p += 64) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 48));
        const __m256i odds = _mm256_or_si256(_mm256_or_si256(oddUnits(a), oddUnits(b)), _mm256_or_si256(oddUnits(c), oddUnits(d)));
        if (!_mm256_testz_si256(odds, odds))
            break;
        quint64 found = quint64(bitsOf(_mm256_cmpeq_epi16(a, lf), _mm256_cmpeq_epi16(b, lf)))
                      | quint64(bitsOf(_mm256_cmpeq_epi16(c, lf), _mm256_cmpeq_epi16(d, lf))) << 32;
        const int many = __builtin_popcountll(found);
        for (int k = 0; k < 4; ++k) {
            feeds[n + k] = p + __builtin_ctzll(found | (quint64(1) << 63));
            found &= found - 1;
        }
        for (int k = 4; k < many; ++k) {
            feeds[n + k] = p + __builtin_ctzll(found);
            found &= found - 1;
        }
        n += many;
    }
    // Out of room: the caller hands the line feeds on and comes back.
    if (end - p >= 64 && n > feedRoom - 64) {
        *count = n;
        return p;
    }
    // Sixteen units a step for the rest, and for a step that holds an odd unit.
    for (; end - p >= 16 && n <= feedRoom - 16; p += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        unsigned found = unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi16(v, lf))) & 0x55555555u;
        const unsigned oddMask = unsigned(_mm256_movemask_epi8(oddUnits(v)));
        if (oddMask)
            found &= (1u << __builtin_ctz(oddMask)) - 1;
        for (; found; found &= found - 1)
            feeds[n++] = p + __builtin_ctz(found) / 2;
        if (oddMask) {
            *odd = true;
            p += __builtin_ctz(oddMask) / 2;
            break;
        }
    }
    *count = n;
    return p;
}
#endif

#if defined(__SSE2__)
const char16_t* lineFeedsSse2(const char16_t* p, const char16_t* end, const char16_t** feeds, int* count, bool* odd)
{
    const __m128i lf = _mm_set1_epi16(u'\n');
    const __m128i cr = _mm_set1_epi16(u'\r');
    const __m128i one = _mm_set1_epi16(1);
    const __m128i high = _mm_set1_epi16(short(0xF800));
    const __m128i surrogate = _mm_set1_epi16(short(0xD800));
    int n = *count;
    for (; end - p >= 8 && n <= feedRoom - 16; p += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // U+0000 and U+0001: the signed minimum with 1, kept at 0 or above, equals the unit.
        const __m128i small = _mm_cmpeq_epi16(_mm_max_epi16(_mm_min_epi16(v, one), _mm_setzero_si128()), v);
        const __m128i odds = _mm_or_si128(_mm_or_si128(small, _mm_cmpeq_epi16(v, cr)),
                                          _mm_cmpeq_epi16(_mm_and_si128(v, high), surrogate));
        unsigned found = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(v, lf))) & 0x5555u;
        const unsigned oddMask = unsigned(_mm_movemask_epi8(odds));
        if (oddMask)
            found &= (1u << __builtin_ctz(oddMask)) - 1;
        for (; found; found &= found - 1)
            feeds[n++] = p + __builtin_ctz(found) / 2;
        if (oddMask) {
            *odd = true;
            p += __builtin_ctz(oddMask) / 2;
            break;
        }
    }
    *count = n;
    return p;
}
#endif

// Calls lineFeed(at) for every line feed of [p, end) in order, and answers false at the first
// unit that normalizing would change (U+0000, U+0001, CR, a lone surrogate); paired surrogates
// are passed over.
template<typename LineFeed>
bool forEachLineFeed(const char16_t* p, const char16_t* end, LineFeed&& lineFeed)
{
    const char16_t* feeds[feedRoom];
    for (;;) {
        int count = 0;
        bool odd = false;
#if defined(QUORRIX_AVX2_LOOPS)
        if (CpuFeatures::hasAvx2())
            p = lineFeedsAvx2(p, end, feeds, &count, &odd);
#endif
#if defined(__SSE2__)
        if (!odd && count <= feedRoom - 64)
            p = lineFeedsSse2(p, end, feeds, &count, &odd);
        // The steps stop with fewer than eight units left, or with less room than a step needs.
        const bool tail = end - p < 8;
#else
        const bool tail = true;
#endif
        if (!odd && tail) {
            for (; p < end && count < feedRoom && !isOdd(*p); ++p) {
                if (*p == u'\n')
                    feeds[count++] = p;
            }
            odd = p < end && isOdd(*p);
        }
        for (int k = 0; k < count; ++k)
            lineFeed(feeds[k]);
        if (odd) {
            // Only a pair passes.
            if (*p < 0xD800 || *p >= 0xDC00 || end - p < 2 || p[1] < 0xDC00 || p[1] >= 0xE000)
                return false;
            p += 2;
        } else if (p == end) {
            return true;
        }
    }
}

// Appends the lines of [from, to) of a normalized text (no line breaks inside); the empty line
// after a final line feed only when the stretch ends the document.
void appendLines(const char16_t* from, const char16_t* to, bool last, std::vector<QStringView>& lines)
{
    const char16_t* start = from;
    forEachLineFeed(from, to, [&](const char16_t* lf) {
        lines.emplace_back(start, lf - start);
        start = lf + 1;
    });
    if (last || start < to)
        lines.emplace_back(start, to - start);
}

// A list of lines a thread keeps from part to part and call to call, dropped when it grew large.
std::vector<QStringView>& threadLines()
{
    thread_local std::vector<QStringView> lines;
    lines.clear();
    return lines;
}

void releaseIfLarge(std::vector<QStringView>& lines)
{
    if (lines.capacity() > (size_t(1) << 16))
        std::vector<QStringView>().swap(lines);
}

// A large document is rendered in parts, cut before headings that start a line after a blank one.
// Such a heading begins a block of its own, and what comes after it does not depend on what came
// before, provided that the part before ends between blocks: its last line, the blank one, is
// reached as no block's content (not inside a fence or a list item, say). Fence lines and headings
// at a line's start decide where the cuts may go.

// A heading at a line's start after a blank line: a cut there is tried. Fence lines open and close
// fences, inside which no cut is tried. Answers the fence character of a fence line, 0 otherwise;
// `heading` is set for a heading.
inline char16_t lineEvent(QStringView line, bool* heading)
{
    *heading = false;
    if (line.isEmpty())
        return 0;
    const char16_t first = line.front().unicode();
    if (first == u'#') {
        *heading = MarkdownHTML::parseHeading(MarkdownText::trimmed(line)).level > 0;
        return 0;
    }
    if (first == u'`' || first == u'~' || MarkdownText::isTrimSpace(first)) {
        if (const QStringView marker = MarkdownHTML::fenceMarker(MarkdownText::trimmed(line)); !marker.isEmpty())
            return marker.front().unicode();
    }
    return 0;
}

// The UTF-8 size of what out holds from `mark` on, read while it is still in the cache. A part
// ends a block, so no surrogate pair is split between two counts.
qsizetype utf8LengthSince(const MarkdownOutput& out, qsizetype mark)
{
    return Utf8Encoder::encodedLength(out.view().sliced(mark));
}

// Renders a normalized text on the calling thread into out, part by part: the lines of a part are
// found as it is reached, and a cut that the part before does not end between blocks at is undone,
// the part then going on to a later cut at twice its length at least (so the work undone is at
// most the work kept). Answers false, having written nothing, when the text is not normalized.
bool renderAlone(QStringView text, MarkdownOutput& out, qsizetype* utf8Length)
{
    std::vector<QStringView>& lines = threadLines();
    const char16_t* const base = text.utf16();
    const char16_t* const end = base + text.size();
    const qsizetype outStart = out.size();
    qint64 partLine = 0;
    const char16_t* partStart = base;
    const char16_t* lineStart = base;
    char16_t fence = 0;
    qsizetype partUnits = alonePartUnits;
    auto line = [&](const char16_t* stop) {
        const QStringView current(lineStart, stop - lineStart);
        bool heading = false;
        const char16_t fenceChar = lineEvent(current, &heading);
        if (fenceChar) {
            if (!fence)
                fence = fenceChar;
            else if (fenceChar == fence)
                fence = 0;
        } else if (heading && !fence && lineStart - partStart >= partUnits && !lines.empty()
                   && MarkdownText::trimmed(lines.back()).isEmpty()) {
            const qsizetype mark = out.size();
            bool between = false;
            MarkdownHTML::renderBlocks(lines, partLine, 0, out, &between);
            if (between) {
                if (utf8Length)
                    *utf8Length += utf8LengthSince(out, mark);
                partLine += qint64(lines.size());
                partStart = lineStart;
                partUnits = alonePartUnits;
                lines.clear();
            } else {
                out.truncate(mark);
                partUnits = 2 * (lineStart - partStart);
            }
        }
        lines.push_back(current);
        lineStart = stop + 1;
    };
    if (!forEachLineFeed(base, end, line)) {
        out.truncate(outStart);
        releaseIfLarge(lines);
        return false;
    }
    lines.emplace_back(lineStart, end - lineStart);
    const qsizetype mark = out.size();
    MarkdownHTML::renderBlocks(lines, partLine, 0, out, nullptr);
    if (utf8Length)
        *utf8Length += utf8LengthSince(out, mark);
    releaseIfLarge(lines);
    return true;
}

// What the line scan side by side finds in a stretch of the document.
struct LineEvent {
    qsizetype unit;         // the line's start in the document
    qsizetype line;         // in its stretch
    char16_t fence;         // the fence character of a fence line; 0 for a heading
    bool blankBefore;       // a heading's line before it is blank
};

struct Stretch {
    qsizetype from = 0;
    qsizetype to = 0;
    qsizetype lineFeeds = 0;
    bool odd = false; // holds a unit that normalizing changes
    std::vector<LineEvent> events;
};

bool isBlankLine(const char16_t* from, const char16_t* to)
{
    return MarkdownText::trimmed(QStringView(from, to - from)).isEmpty();
}

void scanStretch(const char16_t* base, Stretch& stretch)
{
    const char16_t* lineStart = base + stretch.from;
    const char16_t* lineBefore = nullptr; // start of the line before lineStart, when known
    qsizetype line = 0;
    auto event = [&](const char16_t* stop) {
        bool heading = false;
        const char16_t fence = lineEvent(QStringView(lineStart, stop - lineStart), &heading);
        if (fence) {
            stretch.events.push_back({lineStart - base, line, fence, false});
        } else if (heading && lineStart > base) {
            if (!lineBefore) {
                // The line before starts in the stretch before.
                lineBefore = lineStart - 1;
                while (lineBefore > base && lineBefore[-1] != u'\n')
                    --lineBefore;
            }
            stretch.events.push_back({lineStart - base, line, 0, isBlankLine(lineBefore, lineStart - 1)});
        }
        lineBefore = lineStart;
        lineStart = stop + 1;
        ++line;
    };
    stretch.odd = !forEachLineFeed(base + stretch.from, base + stretch.to, event);
    if (!stretch.odd) {
        stretch.lineFeeds = line;
        // The last line of the stretch has no line feed in it: the document's last.
        if (lineStart < base + stretch.to)
            event(base + stretch.to);
    }
}

struct Cut {
    qsizetype unit;
    qint64 line;
};

// Where parts begin, and last the document's end; empty when the document is one part, nothing
// when the text is not normalized.
std::optional<std::vector<Cut>> partCuts(QStringView text, int workers)
{
    const char16_t* const base = text.utf16();
    const qsizetype n = text.size();
    std::vector<Stretch> stretches(size_t(2 * workers));
    const qsizetype step = n / qsizetype(stretches.size()) + 1;
    qsizetype from = 0;
    for (Stretch& stretch : stretches) {
        stretch.from = from;
        qsizetype to = std::min(n, from + step);
        // Each stretch ends after a line feed.
        while (to < n && base[to - 1] != u'\n')
            ++to;
        stretch.to = from = to;
    }
    runParts(qsizetype(stretches.size()), [&](qsizetype k) {
        if (stretches[size_t(k)].from < stretches[size_t(k)].to)
            scanStretch(base, stretches[size_t(k)]);
    }, workers);
    const qsizetype partUnits = std::max<qsizetype>(parallelMinimum / 4, n / (4 * workers));
    std::vector<Cut> cuts{{0, 0}};
    qint64 line = 0;
    char16_t fence = 0;
    for (const Stretch& stretch : stretches) {
        if (stretch.odd)
            return std::nullopt;
        for (const LineEvent& event : stretch.events) {
            if (fence) {
                if (event.fence == fence)
                    fence = 0;
                continue;
            }
            if (event.fence) {
                fence = event.fence;
                continue;
            }
            if (event.blankBefore && event.unit - cuts.back().unit >= partUnits)
                cuts.push_back({event.unit, line + event.line});
        }
        line += stretch.lineFeeds;
    }
    if (cuts.size() < 2)
        return std::vector<Cut>();
    cuts.push_back({n, line});
    return cuts;
}

// HTML takes about twice the room of its Markdown, up to three times: room for the first is taken
// up front, and only what is written gets pages.
qsizetype likelyFor(qsizetype units)
{
    return 2 * units + 64;
}

// Renders the parts side by side into out. The calling thread takes them from the front and
// writes each straight after the one before; helpers take them from the back, each into a string
// of its own, and copy them in once every part is done (where each goes is known only then). A
// document that no helper reaches in time is written as one worker writes it, at no cost of
// copies. False, out as it was, when a part but the last does not end between blocks.
bool renderParts(QStringView text, const std::vector<Cut>& cuts, int workers, MarkdownOutput& out, qsizetype* utf8Length)
{
    const qsizetype parts = qsizetype(cuts.size()) - 1;
    const qsizetype outStart = out.size();
    // A helper writes its parts one after another into an output of its own for this call: one
    // allocation that grows, rather than one for each part.
    struct Written {
        qsizetype helper = 0;
        qsizetype at = 0;
        qsizetype size = 0;
    };
    std::vector<Written> outs(static_cast<size_t>(parts));
    std::vector<MarkdownOutput> helpers(static_cast<size_t>(std::max(1, workers)));
    std::atomic<qsizetype> helpersSeen{0};
    static std::atomic<quint64> calls{0};
    const quint64 callNumber = calls.fetch_add(1, std::memory_order_relaxed) + 1;
    std::mutex taking;
    qsizetype front = 0;
    qsizetype back = parts - 1;
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic_bool apart{true};
    std::atomic<qsizetype> rendered{0};
    std::atomic<qsizetype> utf8{0};
    // Where the helpers' parts go, made by the first copy to find every part done.
    std::once_flag placing;
    std::vector<qsizetype> starts;
    char16_t* to = nullptr;
    auto render = [&](qsizetype p, MarkdownOutput& into) {
        const Cut& from = cuts[size_t(p)];
        const Cut& until = cuts[size_t(p) + 1];
        std::vector<QStringView>& lines = threadLines();
        appendLines(text.utf16() + from.unit, text.utf16() + until.unit, p + 1 == parts, lines);
        bool between = false;
        MarkdownHTML::renderBlocks(lines, from.line, 0, into, &between);
        releaseIfLarge(lines);
        if (!between && p + 1 < parts)
            apart = false;
    };
    // Calls below `parts` each take one part, so the two ends meet and every part is taken once;
    // the calls after them each copy one part, those of the caller's front being no copies.
    runParts(2 * parts, [&](qsizetype k) {
        if (k < parts) {
            if (apart.load(std::memory_order_relaxed)) {
                const bool fromFront = std::this_thread::get_id() == caller;
                qsizetype p;
                {
                    const std::lock_guard lock(taking);
                    p = fromFront ? front++ : back--;
                }
                if (fromFront) {
                    const qsizetype mark = out.size();
                    render(p, out);
                    if (utf8Length)
                        utf8.fetch_add(utf8LengthSince(out, mark), std::memory_order_relaxed);
                } else {
                    thread_local quint64 call = 0;
                    thread_local qsizetype slot = 0;
                    if (call != callNumber) {
                        call = callNumber;
                        slot = helpersSeen.fetch_add(1, std::memory_order_relaxed);
                    }
                    if (slot >= qsizetype(helpers.size())) {
                        // More helpers than workers: none is started so, but never write out of bounds.
                        apart = false;
                    } else {
                        MarkdownOutput& own = helpers[size_t(slot)];
                        const qsizetype at = own.size();
                        own.reserve(at + likelyFor(cuts[size_t(p) + 1].unit - cuts[size_t(p)].unit));
                        render(p, own);
                        outs[size_t(p)] = Written{slot, at, own.size() - at};
                        if (utf8Length)
                            utf8.fetch_add(utf8LengthSince(own, at), std::memory_order_relaxed);
                    }
                }
            }
            rendered.fetch_add(1, std::memory_order_release);
            return;
        }
        // Every part is taken by now, but some may be under way: a short wait, on a thread that
        // is awake, rather than a pass of its own for the copies after.
        for (int spins = 0; rendered.load(std::memory_order_acquire) < parts; ++spins) {
            if (spins > 64)
                std::this_thread::yield();
        }
        if (!apart.load(std::memory_order_relaxed))
            return;
        std::call_once(placing, [&] {
            starts.assign(static_cast<size_t>(parts - front) + 1, 0);
            for (qsizetype p = front; p < parts; ++p)
                starts[size_t(p - front) + 1] = starts[size_t(p - front)] + outs[size_t(p)].size;
            out.reserve(out.size() + starts.back());
            to = out.appendUninitialized(starts.back());
        });
        const qsizetype p = k - parts;
        if (p < front)
            return;
        const Written& part = outs[size_t(p)];
        std::memcpy(to + starts[size_t(p - front)], helpers[size_t(part.helper)].view().utf16() + part.at,
                    size_t(part.size) * sizeof(char16_t));
    }, workers);
    if (!apart) {
        out.truncate(outStart);
        return false;
    }
    if (utf8Length)
        *utf8Length += utf8.load(std::memory_order_relaxed);
    return true;
}

QString renderNormalized(QStringView text, qsizetype* utf8Length)
{
    const int workers = workerCount(text.size());
    MarkdownOutput out(likelyFor(text.size()));
    if (utf8Length)
        *utf8Length = 0;
    if (text.size() >= parallelMinimum && workers >= 2) {
        const std::optional<std::vector<Cut>> cuts = partCuts(text, workers);
        if (!cuts)
            return renderNormalized(normalized(text), utf8Length);
        if (!cuts->empty() && renderParts(text, *cuts, workers, out, utf8Length))
            return out.take();
    }
    if (!renderAlone(text, out, utf8Length))
        return renderNormalized(normalized(text), utf8Length);
    return out.take();
}

} // namespace

QString renderMarkdownHTML(const QString& source)
{
    return renderNormalized(source, nullptr);
}

QString renderMarkdownHTML(const QString& source, qsizetype* utf8Length)
{
    return renderNormalized(source, utf8Length);
}
