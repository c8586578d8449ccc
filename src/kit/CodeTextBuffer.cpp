#include "kit/CodeTextBuffer.h"

#include "formats/Utf8Decoder.h"
#include "formats/FreedMemory.h"
#include "formats/RunParts.h"
#include "formats/WorkPool.h"
#include "kit/TextHelpers.h"

#include <QChar>
#include <QCoreApplication>
#include <QPointer>
#include <QList>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <functional>
#include <mutex>

namespace {

// Blocks aim at this many units; a line at least `kLongLine` units long gets a block of its own
// with column checkpoints every `kSegment` units.
constexpr qsizetype kBlockTarget = 8192;
constexpr qsizetype kLongLine = CodeTextBuffer::longLine;
constexpr qsizetype kSegment = 1024;
// A block of short lines is at most kBlockTarget units and its lines have at most four columns a
// unit (a tab), so 16-bit starts and columns suffice.
static_assert(kBlockTarget < 0x10000 && 4 * kLongLine < 0x10000);
// A block keeps the start of every this many lines: finding one between costs a look for at most
// 15 line feeds, in the few lines a view shows.
constexpr size_t kLineMark = 16;

// Copies `n` units into fresh storage; a large copy is cut in parts run side by side.
void copyUnits(const QChar* from, qsizetype n, QChar* to)
{
    runStretches(n, qsizetype(1) << 21, [&](qsizetype begin, qsizetype end) { std::copy(from + begin, from + end, to + begin); });
}

void copyBytes(const char* from, qsizetype n, char* to)
{
    runStretches(n, qsizetype(1) << 22, [&](qsizetype begin, qsizetype end) { std::copy(from + begin, from + end, to + begin); });
}

bool isPrintableAscii(char16_t c) { return char16_t(c - 0x20) < 0x5F; }

// Whether `n` units are all Latin-1, and all printable ASCII or line feeds: one pass for both,
// in runs, so the loop vectorises.
struct UnitKinds {
    bool latin1 = true;
    bool plain = true;
};
UnitKinds unitKinds(const char16_t* p, qsizetype n)
{
    constexpr qsizetype kRun = 64;
    UnitKinds kinds;
    qsizetype i = 0;
#if defined(__SSE2__)
    // Eight units a step: the plain loop ran at a third of the memory's speed, and a large paste
    // waits for it.
    const __m128i space = _mm_set1_epi16(0x20), printableSpan = _mm_set1_epi16(0x5E), lf = _mm_set1_epi16(u'\n');
    const __m128i zero = _mm_setzero_si128();
    __m128i unprintable = zero;
    for (; i + kRun <= n; i += kRun) {
        __m128i high = zero;
        for (qsizetype k = i; k < i + kRun; k += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
            high = _mm_or_si128(high, v);
            const __m128i printable = _mm_cmpeq_epi16(_mm_subs_epu16(_mm_sub_epi16(v, space), printableSpan), zero);
            unprintable = _mm_or_si128(unprintable, _mm_andnot_si128(_mm_or_si128(printable, _mm_cmpeq_epi16(v, lf)),
                                                                     _mm_cmpeq_epi16(v, v)));
        }
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_srli_epi16(high, 8), zero)) != 0xFFFF)
            return {false, false};
    }
    kinds.plain = _mm_movemask_epi8(unprintable) == 0;
#endif
    for (; i < n; i += kRun) {
        const qsizetype end = std::min(n, i + kRun);
        char16_t high = 0;
        unsigned other = 0;
        for (qsizetype k = i; k < end; ++k) {
            high |= p[k];
            other |= unsigned(char16_t(p[k] - 0x20) >= 0x5F) & unsigned(p[k] != u'\n');
        }
        if (high > 0xFF)
            return {false, false};
        kinds.plain = kinds.plain && !other;
    }
    return kinds;
}

// The kinds of a long run of units, and whether it holds a CR, read side by side: one thread
// reading a pasted line of tens of megabytes holds the window up.
UnitKinds unitKindsSideBySide(const char16_t* p, qsizetype n, bool* sawCarriageReturn)
{
    std::atomic_bool latin1{true}, plain{true}, cr{false};
    runStretches(n, qsizetype(1) << 21, [&](qsizetype begin, qsizetype end) {
        const UnitKinds kinds = unitKinds(p + begin, end - begin);
        if (!kinds.latin1)
            latin1 = false;
        // A CR is not plain: only a stretch that is not plain may hold one.
        if (!kinds.plain) {
            plain = false;
            if (QStringView(p + begin, end - begin).contains(u'\r'))
                cr = true;
        }
    });
    *sawCarriageReturn = cr;
    return {latin1, plain};
}

// The line feeds of a text in order, found 64 units a step: each step marks them in a mask, so
// a text of short lines costs a few instructions a line. Carriage returns are noted on the way.
class LineFeeds {
public:
    LineFeeds(const char16_t* p, qsizetype n) : m_p(p), m_n(n) {}

    // Whether a CR lay in the units read so far.
    bool sawCarriageReturn() const { return m_sawCR; }

    // The first line feed at or after `from`, or the text's length.
    qsizetype next(qsizetype from)
    {
        for (;;) {
            if (from >= m_n)
                return m_n;
            if (from < m_base || from >= m_base + 64)
                load(from);
            const quint64 hits = m_mask & (~quint64(0) << (from - m_base));
            if (hits)
                return m_base + __builtin_ctzll(hits);
            from = m_base + 64;
        }
    }

private:
    void load(qsizetype from)
    {
        const char16_t* p = m_p + from;
        const qsizetype n = std::min<qsizetype>(64, m_n - from);
        quint64 mask = 0;
        bool cr = false;
        qsizetype i = 0;
#if defined(__SSE2__)
        const __m128i lf = _mm_set1_epi16(u'\n');
        const __m128i crs = _mm_set1_epi16(u'\r');
        __m128i sawCR = _mm_setzero_si128();
        for (; i + 16 <= n; i += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 8));
            const __m128i a = _mm_cmpeq_epi16(x, lf);
            const __m128i b = _mm_cmpeq_epi16(y, lf);
            mask |= quint64(quint32(_mm_movemask_epi8(_mm_packs_epi16(a, b)))) << i;
            sawCR = _mm_or_si128(sawCR, _mm_or_si128(_mm_cmpeq_epi16(x, crs), _mm_cmpeq_epi16(y, crs)));
        }
        cr = _mm_movemask_epi8(sawCR) != 0;
#endif
        for (; i < n; ++i) {
            mask |= quint64(p[i] == u'\n') << i;
            cr = cr || p[i] == u'\r';
        }
        m_base = from;
        m_mask = mask;
        m_sawCR = m_sawCR || cr;
    }

    const char16_t* m_p;
    qsizetype m_n;
    qsizetype m_base = -64;
    quint64 m_mask = 0;
    bool m_sawCR = false;
};

// Latin-1 bytes of units known to be Latin-1; restrict-qualified so the loop vectorises.
void narrowUnits(const char16_t* __restrict from, qsizetype n, unsigned char* __restrict to)
{
    for (qsizetype k = 0; k < n; ++k)
        to[k] = static_cast<unsigned char>(from[k]);
}

// Whether `n` units are all Latin-1; tested in runs, so the loop vectorises.
bool allLatin1(const char16_t* p, qsizetype n)
{
    constexpr qsizetype kRun = 64;
    qsizetype i = 0;
    for (; i + kRun <= n; i += kRun) {
        char16_t high = 0;
        for (qsizetype k = 0; k < kRun; ++k)
            high |= p[i + k];
        if (high > 0xFF)
            return false;
    }
    char16_t high = 0;
    for (; i < n; ++i)
        high |= p[i];
    return high <= 0xFF;
}

// The same for a large text, cut in parts run side by side.
bool allLatin1InParts(const char16_t* p, qsizetype n)
{
    std::atomic_bool latin1{true};
    runStretches(n, qsizetype(1) << 21, [&](qsizetype begin, qsizetype end) {
        if (latin1.load(std::memory_order_relaxed) && !allLatin1(p + begin, end - begin))
            latin1.store(false, std::memory_order_relaxed);
    });
    return latin1.load();
}

// Latin-1 bytes of `n` units known to be Latin-1, with room for `spare` more; a large text is
// cut in parts run side by side.
QByteArray narrowed(const char16_t* p, qsizetype n, qsizetype spare, int workers = 0)
{
    QByteArray out;
    out.reserve(n + spare);
    out.resize(n);
    auto* w = reinterpret_cast<unsigned char*>(out.data());
    const qsizetype parts = WorkPool::parts(n, qsizetype(1) << 21);
    runParts(parts, [&](qsizetype i) {
        const qsizetype begin = n / parts * i;
        const qsizetype end = i + 1 == parts ? n : n / parts * (i + 1);
        narrowUnits(p + begin, end - begin, w + begin);
    }, workers);
    return out;
}

void widenUnits(const unsigned char* from, qsizetype n, char16_t* to)
{
    runStretches(n, qsizetype(1) << 21, [&](qsizetype begin, qsizetype end) { std::copy(from + begin, from + end, to + begin); });
}

template<class Unit> qint64 measureUnits(const Unit* p, qsizetype n, qint64 column, bool* sawTab);
template<class Unit> qsizetype positionInUnits(const Unit* p, qsizetype length, qsizetype i, qint64 col, qint64 column,
                                               bool nearest);

// A cut at `offset` of `s` must not fall between the halves of a surrogate pair.
qsizetype safeCut(QStringView s, qsizetype offset)
{
    if (offset > 0 && offset < s.size() && QChar::isLowSurrogate(s[offset].unicode())
        && QChar::isHighSurrogate(s[offset - 1].unicode()))
        return offset + 1;
    return offset;
}

// Code points of East Asian width Wide or Fullwidth (Unicode 14), emoji shown as pictures
// included; gaps of a few unassigned code points inside a range are bridged.
struct WideRange {
    char32_t first;
    char32_t last;
};
constexpr WideRange kWide[] = {
    {0x1100, 0x115F}, {0x231A, 0x231B}, {0x2329, 0x232A}, {0x23E9, 0x23EC}, {0x23F0, 0x23F0}, {0x23F3, 0x23F3},
    {0x25FD, 0x25FE}, {0x2614, 0x2615}, {0x2648, 0x2653}, {0x267F, 0x267F}, {0x2693, 0x2693}, {0x26A1, 0x26A1},
    {0x26AA, 0x26AB}, {0x26BD, 0x26BE}, {0x26C4, 0x26C5}, {0x26CE, 0x26CE}, {0x26D4, 0x26D4}, {0x26EA, 0x26EA},
    {0x26F2, 0x26F3}, {0x26F5, 0x26F5}, {0x26FA, 0x26FA}, {0x26FD, 0x26FD}, {0x2705, 0x2705}, {0x270A, 0x270B},
    {0x2728, 0x2728}, {0x274C, 0x274C}, {0x274E, 0x274E}, {0x2753, 0x2755}, {0x2757, 0x2757}, {0x2795, 0x2797},
    {0x27B0, 0x27B0}, {0x27BF, 0x27BF}, {0x2B1B, 0x2B1C}, {0x2B50, 0x2B50}, {0x2B55, 0x2B55}, {0x2E80, 0x2FD5},
    {0x2FF0, 0x303E}, {0x3041, 0x3247}, {0x3250, 0x4DBF}, {0x4E00, 0xA4C6}, {0xA960, 0xA97C}, {0xAC00, 0xD7A3},
    {0xF900, 0xFAD9}, {0xFE10, 0xFE19}, {0xFE30, 0xFE6B}, {0xFF01, 0xFF60}, {0xFFE0, 0xFFE6},
    {0x16FE0, 0x18CD5}, {0x18D00, 0x18D08}, {0x1AFF0, 0x1B122}, {0x1B150, 0x1B152}, {0x1B164, 0x1B2FB},
    {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F265},
    {0x1F300, 0x1F320}, {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA},
    {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E}, {0x1F440, 0x1F440},
    {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A},
    {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC},
    {0x1F6D0, 0x1F6D2}, {0x1F6D5, 0x1F6DF}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC}, {0x1F7E0, 0x1F7F0},
    {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAF6}, {0x20000, 0x3FFFD},
};

} // namespace

CodeTextBuffer::CodeTextBuffer() : CodeTextBuffer(QStringView()) {}

CodeTextBuffer::CodeTextBuffer(QStringView text) : CodeTextBuffer(text, nullptr) {}

CodeTextBuffer::CodeTextBuffer(const QString& text) : CodeTextBuffer(QStringView(text), &text) {}

CodeTextBuffer CodeTextBuffer::narrowedLater(const QString& text)
{
    return CodeTextBuffer(QStringView(text), &text, true);
}

namespace {

struct ByteKinds {
    bool ascii = true;
    bool plain = true; // printable ASCII and line feeds only
};
ByteKinds byteKinds(const char* p, qsizetype n)
{
    unsigned char high = 0;
    unsigned other = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        high |= c;
        other |= unsigned(static_cast<unsigned char>(c - 0x20) >= 0x5F) & unsigned(c != '\n');
    }
    return ByteKinds{high < 0x80, high < 0x80 && !other};
}

} // namespace

CodeTextBuffer CodeTextBuffer::fromUtf8(const QByteArray& utf8)
{
    if (utf8.contains('\r'))
        return CodeTextBuffer(Utf8Decoder::decodeReplacing(utf8, Utf8Decoder::ByteOrderMark::keep));
    CodeTextBuffer buffer;
    buffer.m_blocks.clear();
    buffer.m_borrowedBytes = utf8;
    appendUtf8Blocks(buffer.m_blocks, buffer.m_borrowedBytes.constData(), buffer.m_borrowedBytes.size());
    buffer.refreshFrom(0);
    return buffer;
}

void CodeTextBuffer::appendUtf8Blocks(std::vector<Block>& out, const char* all, qsizetype n)
{
    // Cut as appendBlocks cuts a text, at line feeds. Where a block is ASCII its bytes are its
    // units; a block beyond ASCII is decoded and cut again as a text.
    std::vector<uint16_t> starts;
    starts.reserve(size_t(kBlockTarget) + 2);
    qsizetype blockFrom = 0;
    // The text's last line is empty when it ends with a line feed (or is empty).
    const bool emptyLast = n == 0 || all[n - 1] == '\n';
    // A block of lines [from, to) read in place; `lineStarts` from `from`.
    auto inPlace = [&](qsizetype from, qsizetype to, const std::vector<uint16_t>& lineStarts, bool plain) {
        Block block;
        block.narrow = QByteArray::fromRawData(all + from, to - from);
        block.isNarrow = true;
        setLines(block, lineStarts.data(), lineStarts.size(), plain);
        out.push_back(std::move(block));
    };
    auto flush = [&](qsizetype to, bool last) {
        const qsizetype size = to - blockFrom;
        const char* p = all + blockFrom;
        const ByteKinds kinds = byteKinds(p, size);
        const bool addEmpty = last && emptyLast;
        if (kinds.ascii) {
            if (addEmpty)
                starts.push_back(uint16_t(size));
            if (!starts.empty())
                inPlace(blockFrom, to, starts, kinds.plain);
        } else {
            // Runs of ASCII lines long enough for a block of their own are read in place too:
            // only the lines beyond ASCII around them are decoded. A block costs about 250 bytes,
            // what decoding 125 units adds: from 256 units on a run of its own is the smaller.
            constexpr qsizetype kAsciiRun = 256;
            const size_t count = starts.size();
            const auto lineEnd = [&](size_t k) { return k + 1 < count ? qsizetype(starts[k + 1]) : size; };
            const auto decoded = [&](size_t first, size_t end) {
                const qsizetype from = starts[first], upTo = lineEnd(end - 1);
                // Decoded as every reader of ours does: a U+FEFF that begins a piece stays.
                const QString piece = Utf8Decoder::decodeReplacing(QByteArrayView(p + from, upTo - from),
                                                                   Utf8Decoder::ByteOrderMark::keep);
                appendBlocks(out, piece, (last && end == count) || p[upTo - 1] != '\n', nullptr, false, true);
            };
            size_t pieceFirst = 0;
            for (size_t i = 0; i < count;) {
                size_t j = i;
                while (j < count && byteKinds(p + starts[j], lineEnd(j) - starts[j]).ascii)
                    ++j;
                if (j > i && lineEnd(j - 1) - starts[i] >= kAsciiRun) {
                    if (i > pieceFirst)
                        decoded(pieceFirst, i);
                    std::vector<uint16_t> run;
                    run.reserve(j - i + 1);
                    for (size_t k = i; k < j; ++k)
                        run.push_back(uint16_t(starts[k] - starts[i]));
                    if (addEmpty && j == count)
                        run.push_back(uint16_t(size - starts[i]));
                    const qsizetype from = blockFrom + starts[i], upTo = blockFrom + lineEnd(j - 1);
                    inPlace(from, upTo, run, byteKinds(all + from, upTo - from).plain);
                    pieceFirst = j;
                }
                i = j + 1; // past the line beyond ASCII
            }
            if (pieceFirst < count)
                decoded(pieceFirst, count);
        }
        starts.clear();
        blockFrom = to;
    };
    qsizetype pos = 0;
    while (pos < n) {
        const void* feed = std::memchr(all + pos, '\n', size_t(n - pos));
        const qsizetype end = feed ? static_cast<const char*>(feed) - all + 1 : n;
        const qsizetype length = end - pos;
        if (length >= kLongLine) {
            flush(pos, false);
            starts.push_back(0);
            flush(end, false);
        } else {
            if (pos - blockFrom + length > kBlockTarget && !starts.empty())
                flush(pos, false);
            starts.push_back(uint16_t(pos - blockFrom));
        }
        pos = end;
    }
    flush(n, true);
}

bool CodeTextBuffer::build(QStringView all, const QString* source, bool narrowLater)
{
    // Only storage a QString owns can be kept alive here: a view, or a string over raw data
    // (no capacity of its own), is copied.
    const bool borrow = source && source->capacity() > 0;
    if (borrow) {
        m_borrowed = *source;
        m_borrowedIsText = true;
    }
    // A large text is cut at line feeds into parts whose blocks are built side by side.
    constexpr qsizetype kPartMinimum = qsizetype(1) << 21;
    const int parts = int(WorkPool::parts(all.size(), kPartMinimum));
    if (parts == 1) {
        bool sawCR = false;
        appendBlocks(m_blocks, all, true, nullptr, borrow, !narrowLater, &sawCR);
        return !sawCR;
    }
    // Each part's first line feed is looked for side by side, within the part: one long line
    // would otherwise be read from end to end here before any block is built.
    std::vector<qsizetype> firstFeeds(size_t(parts), -1);
    runParts(parts - 1, [&](qsizetype k) {
        const qsizetype from = all.size() * (k + 1) / parts, to = all.size() * (k + 2) / parts;
        const qsizetype lf = all.first(to).indexOf(QLatin1Char('\n'), from);
        firstFeeds[size_t(k) + 1] = lf;
    });
    std::vector<qsizetype> cuts{0};
    for (int i = 1; i < parts; ++i)
        if (firstFeeds[size_t(i)] >= 0)
            cuts.push_back(firstFeeds[size_t(i)] + 1);
    cuts.push_back(all.size());
    if (cuts.size() == 2) {
        // No line feed past the first part (a pasted line of Base64, say): the lines before the
        // first part's last line feed are built as usual, and the rest is one line.
        const qsizetype lastFeed = all.first(all.size() / parts).lastIndexOf(QLatin1Char('\n'));
        bool sawCR = false;
        appendBlocks(m_blocks, all.first(lastFeed + 1), false, nullptr, borrow, !narrowLater, &sawCR);
        if (!sawCR)
            appendBlocks(m_blocks, all.sliced(lastFeed + 1), true, nullptr, borrow, !narrowLater, &sawCR, true);
        return !sawCR;
    }
    std::vector<std::vector<Block>> built(cuts.size() - 1);
    std::atomic_bool sawCR = false;
    runParts(qsizetype(built.size()), [&](qsizetype i) {
        const size_t k = size_t(i);
        bool saw = false;
        appendBlocks(built[k], all.mid(cuts[k], cuts[k + 1] - cuts[k]), k + 2 == cuts.size(), nullptr, borrow,
                     !narrowLater, &saw);
        if (saw)
            sawCR = true;
    });
    if (sawCR)
        return false;
    size_t total = 0;
    for (const std::vector<Block>& part : built)
        total += part.size();
    m_blocks.reserve(total);
    for (std::vector<Block>& part : built)
        m_blocks.insert(m_blocks.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
    return true;
}

CodeTextBuffer::CodeTextBuffer(QStringView text, const QString* source, bool narrowLater)
{
    // Built from the text as it is: a CR, rare, is seen on the way, and the text is then built
    // again with its line breaks made LF (looking for one first would read all of it once more).
    if (!build(text, source, narrowLater)) {
        m_blocks.clear();
        m_borrowed = QString();
        m_borrowedIsText = false;
        const QString normal = TextHelpers::normalizedLineBreaks(text);
        build(normal, &normal, narrowLater);
    }
    // A text that is one block (one long line, say) is shared outright: once its other holders
    // let it go, the buffer edits it in place.
    if (m_blocks.size() == 1 && m_blocks[0].borrowed && m_blocks[0].text.size() == m_borrowed.size()) {
        m_blocks[0].text = m_borrowed;
        m_blocks[0].borrowed = false;
    }
    // Blocks kept as Latin-1 are copies: the source is let go, so the few blocks that are not
    // Latin-1 take copies too rather than keep all of it alive.
    if (hasLatin1Blocks()) {
        for (Block& block : m_blocks) {
            if (block.borrowed) {
                block.text = QString(block.text.constData(), block.text.size());
                block.borrowed = false;
            }
        }
        m_borrowed = QString();
        m_borrowedIsText = false;
    }
    for (const Block& block : m_blocks)
        m_borrowedBlocks += block.borrowed ? 1 : 0;
    m_narrowingPending = narrowLater;
    refreshFrom(0);
}

CodeTextBuffer::Narrowing CodeTextBuffer::narrowing() const
{
    Narrowing job;
    job.m_version = m_version;
    job.m_source = m_borrowed;
    job.m_texts.reserve(m_blocks.size());
    job.m_longLine.reserve(m_blocks.size());
    // Only blocks that read the source: holding a block the buffer owns would make its next
    // edit copy it (a whole long line); edits narrow those themselves.
    for (const Block& block : m_blocks) {
        const bool source = block.borrowed || (!m_borrowed.isNull() && block.text.isSharedWith(m_borrowed));
        job.m_texts.push_back(!block.isNarrow && source ? block.text : QString());
        job.m_longLine.push_back(!block.checkpoints.empty());
    }
    return job;
}

void CodeTextBuffer::Narrowing::run()
{
    m_narrow.assign(m_texts.size(), QByteArray());
    m_owned.assign(m_texts.size(), QString());
    // The texts the copies replace stay held until the job is let go (on a worker, see
    // narrowLater): the buffer's own references then are not the last, so applying frees nothing
    // on the GUI thread. A text a block goes on reading is let go now: held here, its next edit
    // would copy it (a whole long line).
    bool sourceKept = false;
    // On one thread: nobody waits for it, and the GUI thread keeps the other cores.
    for (size_t i = 0; i < m_texts.size(); ++i) {
        QString& t = m_texts[i];
        const auto* units = reinterpret_cast<const char16_t*>(t.constData());
        if (t.isEmpty())
            continue;
        if (allLatin1(units, t.size())) {
            m_narrow[i] = narrowed(units, t.size(), m_longLine[i] ? kLongLine : 0, 1);
        } else if (t.capacity() == 0) {
            m_owned[i] = QString(t.constData(), t.size());
        } else {
            sourceKept = sourceKept || t.isSharedWith(m_source);
            t = QString();
        }
    }
    if (sourceKept)
        m_source = QString();
}

struct CodeTextBuffer::NarrowRun {
    Narrowing job;
    const CodeTextBuffer* buffer = nullptr; // a copy of the buffer shares the run but not its end
};

namespace {

// Narrowings run one at a time, in the order asked: each adds its copies before its buffer lets
// go of the text they replace, so two at once (an opened file and its formatted output) would add
// both to the peak.
struct NarrowingQueue {
    std::mutex lock;
    std::deque<std::function<void()>> jobs;
    bool draining = false;
};

void narrowInTurn(std::function<void()> job)
{
    static NarrowingQueue* const queue = new NarrowingQueue; // never destroyed, as the pool
    const std::lock_guard<std::mutex> held(queue->lock);
    queue->jobs.push_back(std::move(job));
    if (queue->draining)
        return;
    queue->draining = true;
    WorkPool::instance()->start([] {
        for (;;) {
            std::function<void()> next;
            {
                const std::lock_guard<std::mutex> held(queue->lock);
                if (queue->jobs.empty()) {
                    queue->draining = false;
                    return;
                }
                next = std::move(queue->jobs.front());
                queue->jobs.pop_front();
            }
            next();
        }
    });
}

} // namespace

void CodeTextBuffer::narrowLater(QObject* owner)
{
    if (!m_narrowingPending || (m_narrowRun && m_narrowRun->buffer == this && m_narrowRun->job.m_version == m_version))
        return;
    auto run = std::make_shared<NarrowRun>(NarrowRun{narrowing(), this});
    m_narrowRun = run;
    QPointer<QObject> guard(owner);
    narrowInTurn([run, guard, this] {
        run->job.run();
        QMetaObject::invokeMethod(
            qApp,
            [run, guard, this]() mutable {
                // A buffer put in this one's place since holds another run, or none.
                if (guard && m_narrowRun == run) {
                    m_narrowRun.reset();
                    apply(std::move(run->job));
                }
                // The job holds the text its copies replace: it goes on a worker.
                FreedMemory::release(std::move(run));
            },
            Qt::QueuedConnection);
    });
}

bool CodeTextBuffer::apply(Narrowing&& done)
{
    if (done.m_version != m_version || done.m_narrow.size() != m_blocks.size())
        return false;
    for (size_t i = 0; i < m_blocks.size(); ++i) {
        Block& block = m_blocks[i];
        if (!done.m_narrow[i].isNull()) {
            forgetBorrowed(block);
            block.narrow = std::move(done.m_narrow[i]);
            block.isNarrow = true;
            block.borrowed = false;
            block.text = QString();
        } else if (!done.m_owned[i].isNull()) {
            forgetBorrowed(block);
            block.text = std::move(done.m_owned[i]);
            block.borrowed = false;
        }
    }
    m_borrowed = QString();
    m_borrowedBlocks = 0;
    m_borrowedIsText = false;
    m_textCache = QString();
    m_textCached = false;
    m_narrowingPending = false;
    return true;
}

int CodeTextBuffer::codePointColumns(char32_t c)
{
    if (c < 0x300)
        return 1;
    if ((c >= 0x1160 && c <= 0x11FF) || c == 0x200B || c == 0x200C || c == 0x200D || c == 0x2060 || c == 0xFEFF)
        return 0;
    const auto category = QChar::category(c);
    if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing)
        return 0;
    if (c < kWide[0].first)
        return 1;
    // The last range starting at or before c.
    const auto* it = std::upper_bound(std::begin(kWide), std::end(kWide), c,
                                      [](char32_t v, const WideRange& r) { return v < r.first; });
    return c <= std::prev(it)->last ? 2 : 1;
}

qint64 CodeTextBuffer::measure(QStringView text, qint64 column, bool* sawTab)
{
    return measureUnits(reinterpret_cast<const char16_t*>(text.utf16()), text.size(), column, sawTab);
}

qint64 CodeTextBuffer::measure(const Block& block, qsizetype from, qsizetype length, qint64 column, bool* sawTab)
{
    if (block.isNarrow)
        return measureUnits(reinterpret_cast<const unsigned char*>(block.narrow.constData()) + from, length, column,
                            sawTab);
    return measureUnits(reinterpret_cast<const char16_t*>(block.text.constData()) + from, length, column, sawTab);
}

qsizetype CodeTextBuffer::safeCutIn(const Block& block, qsizetype size, qsizetype offset)
{
    if (block.isNarrow)
        return offset;
    return ::safeCut(QStringView(block.text).first(size), offset);
}

void CodeTextBuffer::readUnits(const Block& block, qsizetype from, qsizetype length, QChar* to)
{
    if (block.isNarrow)
        std::copy_n(reinterpret_cast<const unsigned char*>(block.narrow.constData()) + from, length,
                    reinterpret_cast<char16_t*>(to));
    else
        std::copy_n(block.text.constData() + from, length, to);
}

void CodeTextBuffer::appendUnits(QString& out, const Block& block, qsizetype from, qsizetype length)
{
    if (block.isNarrow)
        out.append(QLatin1StringView(block.narrow.constData() + from, length));
    else
        out.append(QStringView(block.text).mid(from, length));
}

void CodeTextBuffer::widen(Block& block, qsizetype spare)
{
    if (!block.isNarrow)
        return;
    const qsizetype n = block.narrow.size();
    QString wide(n + spare, Qt::Uninitialized);
    wide.truncate(n);
    widenUnits(reinterpret_cast<const unsigned char*>(block.narrow.constData()), n,
               reinterpret_cast<char16_t*>(wide.data()));
    block.text = std::move(wide);
    block.narrow = QByteArray();
    block.isNarrow = false;
}

namespace {

template<class Unit> qint64 measureUnits(const Unit* p, qsizetype n, qint64 column, bool* sawTab)
{
    qsizetype i = 0;
    bool tab = false;
    while (i < n) {
        // Runs of printable ASCII are the common case: test 16 units at a time.
        while (i + 16 <= n) {
            unsigned bad = 0;
            for (int k = 0; k < 16; ++k)
                bad |= !isPrintableAscii(p[i + k]);
            if (bad)
                break;
            i += 16;
            column += 16;
        }
        if (i >= n)
            break;
        const char16_t c = p[i];
        if (isPrintableAscii(c)) {
            ++column;
            ++i;
        } else if (c == u'\t') {
            column = (column / CodeTextBuffer::tabWidth + 1) * CodeTextBuffer::tabWidth;
            tab = true;
            ++i;
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(p[i + 1])) {
            column += CodeTextBuffer::codePointColumns(QChar::surrogateToUcs4(c, char16_t(p[i + 1])));
            i += 2;
        } else {
            column += QChar::isSurrogate(c) ? 1 : CodeTextBuffer::codePointColumns(c);
            ++i;
        }
    }
    if (sawTab)
        *sawTab = tab;
    return column;
}

} // namespace

void CodeTextBuffer::buildCheckpoints(Block& block)
{
    qsizetype lineSize = block.size();
    if (lineSize > 0 && block.unit(lineSize - 1) == u'\n')
        --lineSize;
    block.checkpoints.clear();
    block.checkpoints.reserve(lineSize / kSegment + 1);
    qsizetype offset = 0;
    qint64 column = 0;
    do {
        const qsizetype next = std::min(lineSize, safeCutIn(block, lineSize, offset + kSegment));
        bool tab = false;
        const qint64 after = measure(block, offset, next - offset, column, &tab);
        block.checkpoints.push_back({int32_t(offset), int32_t(column), tab});
        offset = next;
        column = after;
    } while (offset < lineSize);
    block.columns.clear();
    block.widest = int32_t(column);
}

qsizetype CodeTextBuffer::lineFeedIn(const Block& block, qsizetype from, qsizetype to)
{
    if (from >= to)
        return to;
    if (block.isNarrow) {
        const char* p = block.narrow.constData();
        const void* lf = std::memchr(p + from, '\n', size_t(to - from));
        return lf ? static_cast<const char*>(lf) - p : to;
    }
    const char16_t* p = reinterpret_cast<const char16_t*>(block.text.utf16());
    return std::find(p + from, p + to, u'\n') - p;
}

qsizetype CodeTextBuffer::localLineStart(const Block& block, size_t i)
{
    qsizetype start = block.marks[i / kLineMark];
    for (size_t left = i % kLineMark; left > 0; --left)
        start = lineFeedIn(block, start, block.size()) + 1;
    return start;
}

qsizetype CodeTextBuffer::localLineEnd(const Block& block, size_t i, qsizetype start)
{
    // Looking for the last line's end would read all of a pasted line of tens of megabytes on
    // every question about it.
    if (i + 1 < size_t(block.lines))
        return lineFeedIn(block, start, block.size());
    qsizetype end = block.size();
    if (end > start && block.unit(end - 1) == u'\n')
        --end;
    return end;
}

qsizetype CodeTextBuffer::localLineLength(const Block& block, size_t i)
{
    const qsizetype start = localLineStart(block, i);
    return localLineEnd(block, i, start) - start;
}

void CodeTextBuffer::setLines(Block& block, const uint16_t* starts, size_t count, bool plain)
{
    block.lines = int32_t(count);
    block.marks.clear();
    block.marks.reserve((count + kLineMark - 1) / kLineMark);
    for (size_t i = 0; i < count; i += kLineMark)
        block.marks.push_back(starts[i]);
    block.columns.clear();
    block.widest = 0;
    const qsizetype size = block.size();
    // Every line but the last ends before the next one's start.
    const auto lengthOf = [&](size_t i) {
        const qsizetype start = starts[i];
        return (i + 1 < count ? qsizetype(starts[i + 1]) - 1 : localLineEnd(block, i, start)) - start;
    };
    const bool longLine = !block.checkpoints.empty() || (count == 1 && size >= kLongLine);
    // The largest step between line starts, found in a loop that vectorises: the longest line but
    // the last, its line feed included.
    uint16_t step = 0;
    if (!longLine)
        for (size_t i = 1; i < count; ++i)
            step = std::max(step, uint16_t(starts[i] - starts[i - 1]));
    block.longest = longLine ? int32_t(size) : std::max<int32_t>(step, int32_t(size - starts[count - 1]));
    // Most of a large text is plain ASCII, whose columns are its lengths: nothing to measure.
    if (plain && longLine) {
        const qsizetype lineSize = lengthOf(0);
        block.checkpoints.clear();
        block.checkpoints.reserve(lineSize / kSegment + 1);
        qsizetype offset = 0;
        do {
            block.checkpoints.push_back({int32_t(offset), int32_t(offset), false});
            offset += kSegment;
        } while (offset < lineSize);
        block.widest = int32_t(lineSize);
        return;
    }
    if (plain) {
        block.widest = std::max<int32_t>(step > 0 ? step - 1 : 0, int32_t(lengthOf(count - 1)));
        return;
    }
    if (longLine) {
        buildCheckpoints(block);
        return;
    }
    bool listed = false;
    for (size_t i = 0; i < count; ++i) {
        const qsizetype length = lengthOf(i);
        const auto columns = int32_t(measure(block, starts[i], length, 0));
        if (columns != length && !listed) {
            listed = true;
            block.columns.reserve(count);
            for (size_t j = 0; j < i; ++j)
                block.columns.push_back(uint16_t(lengthOf(j)));
        }
        if (listed)
            block.columns.push_back(uint16_t(columns));
        block.widest = std::max(block.widest, columns);
    }
}

void CodeTextBuffer::appendBlocks(std::vector<Block>& out, QStringView text, bool tail, QString* owner, bool borrow,
                                  bool narrow, bool* sawCarriageReturn, bool oneLine)
{
    // `text` is whole lines ending with a line feed, or, with `tail`, the end of the document,
    // whose last line (maybe empty) is kept too.
    const auto* all = reinterpret_cast<const char16_t*>(text.utf16());
    // Stores units [from, to), whose `count` line starts from `from` are at `starts`, in a block
    // and appends it.
    auto make = [&](const uint16_t* starts, size_t count, qsizetype from, qsizetype to, UnitKinds kinds) {
        Block block;
        // A long line gets room to type in, so its first keystroke does not move it.
        const qsizetype size = to - from;
        const bool longLine = count == 1 && size >= kLongLine;
        if (narrow && kinds.latin1) {
            block.narrow = narrowed(all + from, size, longLine ? kLongLine : 0);
            block.isNarrow = true;
        } else if (borrow) {
            // Any change to such a string copies it first, so the borrowed text is never written.
            block.text = QString::fromRawData(text.data() + from, size);
            block.borrowed = true;
        } else if (longLine && owner && from == 0 && size == text.size() && owner->isDetached()
                   && owner->capacity() >= size + kLongLine) {
            block.text = std::move(*owner); // same storage: `text` stays valid
        } else if (longLine) {
            block.text = QString(size + kLongLine, Qt::Uninitialized);
            std::copy_n(text.data() + from, size, block.text.data());
            block.text.truncate(size);
        } else {
            block.text = text.mid(from, size).toString();
        }
        setLines(block, starts, count, kinds.plain);
        out.push_back(std::move(block));
    };
    // The line starts of the block being gathered, from its start; the block keeps its marks.
    std::vector<uint16_t> starts;
    starts.reserve(size_t(kBlockTarget) + 2);
    // A block of short lines with characters beyond Latin-1 is kept as UTF-16 whole: its runs of
    // Latin-1 lines long enough to pay for a block of their own get one, so that a document of
    // mostly Latin-1 text with some lines in other scripts is held mostly as Latin-1.
    auto makeMixed = [&](qsizetype from, qsizetype to) {
        constexpr qsizetype kLatin1Run = 512; // a block's 250 bytes or so against a byte a unit
        const size_t count = starts.size();
        const auto lineEnd = [&](size_t i) { return i + 1 < count ? qsizetype(starts[i + 1]) : to - from; };
        std::vector<uint16_t> partStarts;
        const auto piece = [&](size_t first, size_t last, bool latin1) {
            partStarts.clear();
            for (size_t i = first; i < last; ++i)
                partStarts.push_back(uint16_t(starts[i] - starts[first]));
            const qsizetype begin = from + starts[first], end = from + lineEnd(last - 1);
            make(partStarts.data(), partStarts.size(), begin, end,
                 latin1 ? unitKinds(all + begin, end - begin) : UnitKinds{false, false});
        };
        size_t pieceFirst = 0;
        for (size_t i = 0; i < count;) {
            size_t j = i;
            while (j < count && allLatin1(all + from + starts[j], lineEnd(j) - starts[j]))
                ++j;
            if (j > i && lineEnd(j - 1) - starts[i] >= kLatin1Run) {
                if (i > pieceFirst)
                    piece(pieceFirst, i, false);
                piece(i, j, true);
                pieceFirst = j;
            }
            i = j + 1; // past the line beyond Latin-1
        }
        if (pieceFirst < count)
            piece(pieceFirst, count, false);
    };
    qsizetype blockFrom = 0;
    bool oneLineCR = false;
    auto flush = [&](qsizetype to) {
        if (to > blockFrom || !starts.empty()) {
            const UnitKinds kinds = oneLine ? unitKindsSideBySide(all + blockFrom, to - blockFrom, &oneLineCR)
                                            : unitKinds(all + blockFrom, to - blockFrom);
            if (kinds.latin1 || starts.size() == 1) {
                make(starts.data(), starts.size(), blockFrom, to, kinds);
            } else {
                makeMixed(blockFrom, to);
            }
            starts.clear();
        }
        blockFrom = to;
    };
    qsizetype pos = 0;
    const qsizetype n = text.size();
    LineFeeds feeds(all, n);
    while (pos < n || (tail && pos == n)) {
        qsizetype lf = oneLine ? n : feeds.next(pos);
        if (lf == n)
            lf = -1;
        const qsizetype end = lf < 0 ? n : lf + 1;
        const qsizetype length = end - pos;
        if (length >= kLongLine) {
            flush(pos);
            starts.push_back(0);
            flush(end);
        } else {
            if (pos - blockFrom + length > kBlockTarget && !starts.empty())
                flush(pos);
            starts.push_back(uint16_t(pos - blockFrom));
        }
        pos = end;
        if (lf < 0)
            break;
    }
    flush(n);
    if (sawCarriageReturn)
        *sawCarriageReturn = oneLine ? oneLineCR : feeds.sawCarriageReturn();
}

void CodeTextBuffer::refreshFrom(size_t b)
{
    const size_t count = m_blocks.size();
    m_blockStart.resize(count + 1);
    m_blockLine.resize(count + 1);
    if (b == 0) {
        m_blockStart[0] = 0;
        m_blockLine[0] = 0;
    }
    for (size_t i = b; i < count; ++i) {
        const Block& block = m_blocks[i];
        m_blockStart[i + 1] = m_blockStart[i] + block.size();
        m_blockLine[i + 1] = m_blockLine[i] + block.lines;
    }
    m_length = m_blockStart[count];
    m_lineCount = m_blockLine[count];
}

size_t CodeTextBuffer::blockAtPosition(qsizetype position) const
{
    // The block whose range holds `position`; a block's end belongs to the next block.
    auto it = std::upper_bound(m_blockStart.begin() + 1, m_blockStart.end() - 1, position);
    return size_t(it - (m_blockStart.begin() + 1));
}

size_t CodeTextBuffer::blockAtLine(qsizetype line) const
{
    auto it = std::upper_bound(m_blockLine.begin() + 1, m_blockLine.end() - 1, line);
    return size_t(it - (m_blockLine.begin() + 1));
}

QString CodeTextBuffer::text() const
{
    if (m_borrowedIsText)
        return m_borrowed;
    if (m_textCached)
        return m_textCache;
    // A block's own string is never handed out: an in-place edit of it while someone holds it
    // would copy the whole block, on every keystroke of a long line.
    QString out(m_length, Qt::Uninitialized);
    out.resize(m_length);
    QChar* w = out.data();
    const auto count = qsizetype(m_blocks.size());
    const qsizetype parts = std::min(count, WorkPool::parts(m_length, qsizetype(1) << 21));
    runParts(parts,
             [&](qsizetype r) {
                 const qsizetype end = r + 1 == parts ? count : count / parts * (r + 1);
                 for (qsizetype b = count / parts * r; b < end; ++b) {
                     const Block& block = m_blocks[size_t(b)];
                     if (block.isNarrow)
                         widenUnits(reinterpret_cast<const unsigned char*>(block.narrow.constData()), block.size(),
                                    reinterpret_cast<char16_t*>(w + m_blockStart[size_t(b)]));
                     else
                         std::copy_n(block.text.constData(), block.size(), w + m_blockStart[size_t(b)]);
                 }
             });
    // A text kept as Latin-1 is not kept twice: each caller gets its own copy.
    if (hasLatin1Blocks())
        return out;
    m_textCache = std::move(out);
    m_textCached = true;
    return m_textCache;
}

bool CodeTextBuffer::hasLatin1Blocks() const
{
    return std::any_of(m_blocks.begin(), m_blocks.end(), [](const Block& block) { return block.isNarrow; });
}

CodeTextSnapshot CodeTextBuffer::snapshot() const
{
    CodeTextSnapshot out;
    if (m_borrowedIsText) {
        out.appendPart(m_borrowed);
    } else if (m_textCached) {
        out.appendPart(m_textCache);
    } else {
        out.m_parts.reserve(qsizetype(m_blocks.size()));
        out.m_starts.reserve(qsizetype(m_blocks.size()));
        for (const Block& block : m_blocks) {
            if (block.isNarrow)
                out.appendPart(block.narrow);
            else
                out.appendPart(block.text);
        }
        out.m_storage = m_borrowed;
        out.m_byteStorage = m_borrowedBytes;
    }
    out.m_lineCount = m_lineCount;
    return out;
}

QString CodeTextBuffer::mid(qsizetype position, qsizetype length) const
{
    position = std::clamp<qsizetype>(position, 0, m_length);
    length = std::clamp<qsizetype>(length, 0, m_length - position);
    QString out;
    if (length == 0)
        return out;
    size_t b = blockAtPosition(position);
    // A copy, never a block's string itself, which may read borrowed storage.
    out.resize(length);
    QChar* w = out.data();
    while (length > 0 && b < m_blocks.size()) {
        const qsizetype local = position - m_blockStart[b];
        const qsizetype take = std::min(length, m_blocks[b].size() - local);
        readUnits(m_blocks[b], local, take, w);
        w += take;
        position += take;
        length -= take;
        ++b;
    }
    return out;
}

QChar CodeTextBuffer::at(qsizetype position) const
{
    if (position < 0 || position >= m_length)
        return QChar();
    const size_t b = blockAtPosition(position);
    return QChar(m_blocks[b].unit(position - m_blockStart[b]));
}

qsizetype CodeTextBuffer::lineAt(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, m_length);
    size_t b = blockAtPosition(position);
    const Block& block = m_blocks[b];
    const qsizetype local = position - m_blockStart[b];
    const auto mark = size_t(std::upper_bound(block.marks.begin(), block.marks.end(), local) - block.marks.begin()) - 1;
    qsizetype line = qsizetype(mark * kLineMark), start = block.marks[mark];
    for (const qsizetype last = block.lines - 1; line < last; ++line) {
        const qsizetype feed = lineFeedIn(block, start, local);
        if (feed >= local)
            break;
        start = feed + 1;
    }
    return m_blockLine[b] + line;
}

qsizetype CodeTextBuffer::lineStart(qsizetype line) const
{
    line = std::clamp<qsizetype>(line, 0, m_lineCount - 1);
    const size_t b = blockAtLine(line);
    return m_blockStart[b] + localLineStart(m_blocks[b], size_t(line - m_blockLine[b]));
}

qsizetype CodeTextBuffer::lineLength(qsizetype line) const
{
    line = std::clamp<qsizetype>(line, 0, m_lineCount - 1);
    const size_t b = blockAtLine(line);
    return localLineLength(m_blocks[b], size_t(line - m_blockLine[b]));
}

std::vector<std::pair<qsizetype, qsizetype>> CodeTextBuffer::linesLongerThan(qsizetype units, qsizetype from,
                                                                             qsizetype to) const
{
    std::vector<std::pair<qsizetype, qsizetype>> out;
    from = std::clamp<qsizetype>(from, 0, m_length);
    to = std::clamp<qsizetype>(to, from, m_length);
    if (from >= to)
        return out;
    // Lines never cross blocks, and most blocks hold none, as their longest line tells.
    for (size_t b = blockAtPosition(from); b < m_blocks.size() && m_blockStart[b] < to; ++b) {
        const Block& block = m_blocks[b];
        const qsizetype base = m_blockStart[b];
        if ((block.lines == 1 ? block.size() : block.longest) <= units)
            continue;
        qsizetype start = base;
        for (size_t i = 0, count = size_t(block.lines); i < count && start < to; ++i) {
            const qsizetype next =
                i + 1 < count ? base + lineFeedIn(block, start - base, block.size()) + 1 : base + block.size();
            const qsizetype end = std::min(to, next);
            if (start >= from && end - start > units)
                out.emplace_back(start, end - start);
            start = next;
        }
    }
    return out;
}

qint64 CodeTextBuffer::lineColumns(qsizetype line) const
{
    line = std::clamp<qsizetype>(line, 0, m_lineCount - 1);
    const size_t b = blockAtLine(line);
    const Block& block = m_blocks[b];
    const size_t i = size_t(line - m_blockLine[b]);
    if (!block.checkpoints.empty())
        return block.widest;
    return block.columns.empty() ? localLineLength(block, i) : block.columns[i];
}

void CodeTextBuffer::lineColumns(qsizetype first, qsizetype count, qint64* out) const
{
    first = std::clamp<qsizetype>(first, 0, m_lineCount);
    count = std::clamp<qsizetype>(count, 0, m_lineCount - first);
    while (count > 0) {
        const size_t b = blockAtLine(first);
        const Block& block = m_blocks[b];
        const auto i = size_t(first - m_blockLine[b]);
        const auto n = std::min<size_t>(size_t(block.lines) - i, size_t(count));
        if (!block.checkpoints.empty()) {
            std::fill_n(out, n, qint64(block.widest));
        } else if (!block.columns.empty()) {
            std::copy_n(block.columns.begin() + qsizetype(i), n, out);
        } else {
            // Each line's line feed is found once, from the one before.
            qsizetype start = localLineStart(block, i);
            for (size_t k = 0; k < n; ++k) {
                const qsizetype end = localLineEnd(block, i + k, start);
                out[k] = end - start;
                start = end + 1;
            }
        }
        out += n;
        first += qsizetype(n);
        count -= qsizetype(n);
    }
}

qint64 CodeTextBuffer::maxLineColumns() const
{
    // Kept as a high-water mark between full scans: the horizontal range may stay wider than
    // needed after a long line shrinks, never narrower.
    if (m_maxColumns < 0) {
        qint64 best = 0;
        for (const Block& block : m_blocks)
            best = std::max<qint64>(best, block.widest);
        m_maxColumns = best;
    }
    return m_maxColumns;
}

qint64 CodeTextBuffer::columnInLongLine(const Block& block, qsizetype local) const
{
    auto it = std::upper_bound(block.checkpoints.begin(), block.checkpoints.end(), local,
        [](qsizetype v, const Checkpoint& c) { return v < c.offset; });
    const Checkpoint& cp = *(it - 1);
    return measure(block, cp.offset, local - cp.offset, cp.column);
}

qint64 CodeTextBuffer::columnOf(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, m_length);
    const qsizetype line = lineAt(position);
    const size_t b = blockAtLine(line);
    const Block& block = m_blocks[b];
    const qsizetype start = lineStart(line);
    if (!block.checkpoints.empty())
        return columnInLongLine(block, position - start);
    return measure(block, start - m_blockStart[b], position - start, 0);
}

qsizetype CodeTextBuffer::positionAtColumn(qsizetype line, qint64 column, bool nearest) const
{
    line = std::clamp<qsizetype>(line, 0, m_lineCount - 1);
    const size_t b = blockAtLine(line);
    const Block& block = m_blocks[b];
    const qsizetype start = lineStart(line);
    const qsizetype length = lineLength(line);
    qsizetype i = 0;
    qint64 col = 0;
    if (!block.checkpoints.empty()) {
        auto it = std::upper_bound(block.checkpoints.begin(), block.checkpoints.end(), column,
            [](qint64 v, const Checkpoint& c) { return v < c.column; });
        if (it != block.checkpoints.begin()) {
            --it;
            i = it->offset;
            col = it->column;
        }
    }
    const qsizetype local = start - m_blockStart[b];
    if (block.isNarrow)
        return start + positionInUnits(reinterpret_cast<const unsigned char*>(block.narrow.constData()) + local, length,
                                       i, col, column, nearest);
    return start + positionInUnits(reinterpret_cast<const char16_t*>(block.text.constData()) + local, length, i, col,
                                   column, nearest);
}

namespace {

// The offset in a line of `length` units whose character covers `column`, scanning from offset
// `i` at column `col`.
template<class Unit> qsizetype positionInUnits(const Unit* p, qsizetype length, qsizetype i, qint64 col, qint64 column,
                                               bool nearest)
{
    while (i < length) {
        qsizetype width = 1;
        qint64 next;
        const char16_t c = p[i];
        if (isPrintableAscii(c)) {
            next = col + 1;
        } else if (c == u'\t') {
            next = (col / CodeTextBuffer::tabWidth + 1) * CodeTextBuffer::tabWidth;
        } else if (QChar::isHighSurrogate(c) && i + 1 < length && QChar::isLowSurrogate(p[i + 1])) {
            next = col + CodeTextBuffer::codePointColumns(QChar::surrogateToUcs4(c, char16_t(p[i + 1])));
            width = 2;
        } else {
            next = col + (QChar::isSurrogate(c) ? 1 : CodeTextBuffer::codePointColumns(c));
        }
        // Zero-width marks stay with the character before them.
        while (i + width < length) {
            const char16_t m = p[i + width];
            if (isPrintableAscii(m) || m == u'\t' || QChar::isSurrogate(m) || CodeTextBuffer::codePointColumns(m) != 0)
                break;
            ++width;
        }
        if (next > column) {
            if (nearest && column - col >= next - column)
                return i + width;
            return i;
        }
        col = next;
        i += width;
    }
    return length;
}

} // namespace

void CodeTextBuffer::editLongLine(size_t b, qsizetype local, qsizetype removed, QStringView inserted)
{
    Block& block = m_blocks[b];
    const qsizetype size = block.size() - removed + inserted.size();
    const auto* in = reinterpret_cast<const char16_t*>(inserted.utf16());
    const bool latin1In = allLatin1(in, inserted.size());
    if (block.isNarrow && !latin1In)
        widen(block, kLongLine);
    if (!block.isNarrow && latin1In && !block.text.isDetached()
        && allLatin1InParts(reinterpret_cast<const char16_t*>(block.text.constData()), block.text.size())) {
        // A line read in place is copied at its first edit anyway: as Latin-1 when it can be.
        block.narrow = narrowed(reinterpret_cast<const char16_t*>(block.text.constData()), block.text.size(), kLongLine);
        block.isNarrow = true;
        forgetBorrowed(block);
        block.borrowed = false;
        block.text = QString();
    }
    if (block.isNarrow) {
        const QByteArray bytes = narrowed(in, inserted.size(), 0);
        const qsizetype tail = block.narrow.size() - local - removed;
        if (!block.narrow.isDetached()) {
            // Copy on write, with room to type in, as below.
            QByteArray own;
            own.reserve(size + kLongLine);
            own.resize(size);
            const char* old = block.narrow.constData();
            char* w = own.data();
            copyBytes(old, local, w);
            std::copy_n(bytes.constData(), bytes.size(), w + local);
            copyBytes(old + local + removed, tail, w + local + bytes.size());
            block.narrow = std::move(own);
        } else {
            // In place: only the tail moves.
            if (size > block.narrow.size())
                block.narrow.resize(size);
            char* w = block.narrow.data();
            std::memmove(w + local + bytes.size(), w + local + removed, size_t(tail));
            std::copy_n(bytes.constData(), bytes.size(), w + local);
            block.narrow.resize(size);
        }
    } else if (!block.text.isDetached()) {
        // Copy on write, with room to type in: a borrowed or shared line is copied at its first
        // edit rather than when it was given.
        QString own(size + kLongLine, Qt::Uninitialized);
        own.truncate(size);
        const QChar* old = block.text.constData();
        QChar* w = own.data();
        copyUnits(old, local, w);
        std::copy_n(inserted.data(), inserted.size(), w + local);
        copyUnits(old + local + removed, block.text.size() - local - removed, w + local + inserted.size());
        forgetBorrowed(block);
        block.borrowed = false;
        block.text = std::move(own);
    } else {
        block.text.replace(local, removed, inserted.data(), inserted.size());
    }
    const qsizetype delta = inserted.size() - removed;
    qsizetype lineSize = block.size();
    if (lineSize > 0 && block.unit(lineSize - 1) == u'\n')
        --lineSize;
    auto& cps = block.checkpoints;
    std::vector<Checkpoint> old = std::move(cps);
    // Keep the checkpoints up to the edit, drop those inside it, shift those after it.
    size_t k = 0;
    std::vector<Checkpoint> fresh;
    fresh.reserve(old.size() + size_t(inserted.size() / kSegment) + 2);
    while (k < old.size() && old[k].offset <= local) // checkpoint 0 (offset 0) is always kept
        fresh.push_back(old[k++]);
    while (k < old.size() && old[k].offset <= local + removed)
        ++k;
    const size_t firstShifted = k;
    const qsizetype regionEnd = k < old.size() ? old[k].offset + delta : lineSize;
    // Re-cut the region from the last kept checkpoint to the first shifted one.
    qsizetype offset = fresh.back().offset;
    qint64 column = fresh.back().column;
    fresh.pop_back();
    do {
        qsizetype next = regionEnd;
        if (regionEnd - offset > 2 * kSegment)
            next = safeCutIn(block, lineSize, offset + kSegment);
        bool tab = false;
        const qint64 after = measure(block, offset, next - offset, column, &tab);
        fresh.push_back({int32_t(offset), int32_t(column), tab});
        offset = next;
        column = after;
    } while (offset < regionEnd);
    // The shifted checkpoints: their columns move by the same amount until a tab re-aligns them.
    qint64 shift = 0;
    bool known = false;
    for (size_t j = firstShifted; j < old.size(); ++j) {
        Checkpoint cp = old[j];
        cp.offset = int32_t(cp.offset + delta);
        if (j == firstShifted) {
            if (safeCutIn(block, lineSize, cp.offset) != cp.offset) { // a pair joined across the edit
                buildCheckpoints(block);
                m_maxColumns = -1;
                return;
            }
            shift = column - cp.column;
        } else if (!known) {
            const Checkpoint& prev = fresh.back();
            if (prev.tabAfter) {
                const qint64 measured = measure(block, prev.offset, cp.offset - prev.offset, prev.column);
                shift = measured - cp.column;
            }
        }
        if (shift % tabWidth == 0)
            known = true;
        cp.column = int32_t(cp.column + shift);
        fresh.push_back(cp);
    }
    cps = std::move(fresh);
    const Checkpoint& last = cps.back();
    block.widest = int32_t(measure(block, last.offset, lineSize - last.offset, last.column));
    if (m_maxColumns >= 0)
        m_maxColumns = std::max<qint64>(m_maxColumns, block.widest);
}

void CodeTextBuffer::forgetBorrowed(const Block& block)
{
    if (block.borrowed && --m_borrowedBlocks == 0)
        m_borrowed = QString();
}

qsizetype CodeTextBuffer::replace(qsizetype position, qsizetype length, QStringView text)
{
    position = std::clamp<qsizetype>(position, 0, m_length);
    length = std::clamp<qsizetype>(length, 0, m_length - position);
    QString normal;
    if (text.contains(QLatin1Char('\r'))) {
        normal = TextHelpers::normalizedLineBreaks(text);
        text = normal;
    }
    if (length == 0 && text.isEmpty())
        return 0;
    m_textCache = QString();
    m_textCached = false;
    ++m_version;
    if (std::exchange(m_borrowedIsText, false) && m_borrowedBlocks == 0)
        m_borrowed = QString(); // its one block shares it: let that block be the only holder
    size_t b0 = blockAtPosition(position);
    size_t b1 = blockAtPosition(position + length);
    if (length > 0 && b1 > b0 && position + length == m_blockStart[b1])
        --b1;
    const QChar lf(QLatin1Char('\n'));
    if (b0 == b1 && !m_blocks[b0].checkpoints.empty() && !text.contains(lf)) {
        const qsizetype local = position - m_blockStart[b0];
        const Block& block = m_blocks[b0];
        const bool gone = block.isNarrow ? QByteArrayView(block.narrow.constData() + local, length).contains('\n')
                                         : QStringView(block.text).mid(local, length).contains(lf);
        if (!gone) {
            editLongLine(b0, local, length, text);
            refreshFrom(b0);
            return text.size();
        }
    }
    // Re-cut the blocks the edit touches; the piece must end with a line feed or the document.
    // Built once with room to spare, so that when it is one long line its block can keep it.
    qsizetype pieceSize = text.size() - length;
    for (size_t b = b0; b <= b1; ++b)
        pieceSize += m_blocks[b].size();
    QString piece(pieceSize + kLongLine, Qt::Uninitialized);
    piece.truncate(0);
    const qsizetype local = position - m_blockStart[b0];
    for (size_t b = b0; b <= b1; ++b) {
        const Block& block = m_blocks[b];
        const qsizetype at = m_blockStart[b] - m_blockStart[b0];
        const qsizetype keepTo = std::clamp<qsizetype>(local - at, 0, block.size());
        const qsizetype keepFrom = std::max(keepTo, std::clamp<qsizetype>(local + length - at, 0, block.size()));
        appendUnits(piece, block, 0, keepTo);
        if (b == b0)
            piece.append(text);
        appendUnits(piece, block, keepFrom, block.size() - keepFrom);
    }
    while (b1 + 1 < m_blocks.size() && !piece.endsWith(lf)) {
        ++b1;
        appendUnits(piece, m_blocks[b1], 0, m_blocks[b1].size());
    }
    std::vector<Block> rebuilt;
    // A large paste is split as it comes: narrowing it here would lengthen the paste's stall.
    constexpr qsizetype kNarrowedPiece = qsizetype(1) << 20;
    appendBlocks(rebuilt, piece, b1 + 1 == m_blocks.size(), &piece, false, piece.size() < kNarrowedPiece);
    if (m_maxColumns >= 0)
        for (const Block& block : rebuilt)
            m_maxColumns = std::max<qint64>(m_maxColumns, block.widest);
    for (size_t b = b0; b <= b1; ++b)
        forgetBorrowed(m_blocks[b]);
    m_blocks.erase(m_blocks.begin() + qsizetype(b0), m_blocks.begin() + qsizetype(b1) + 1);
    m_blocks.insert(m_blocks.begin() + qsizetype(b0), std::make_move_iterator(rebuilt.begin()),
        std::make_move_iterator(rebuilt.end()));
    if (m_blocks.empty()) {
        Block empty;
        empty.marks.push_back(0);
        empty.lines = 1;
        m_blocks.push_back(std::move(empty));
    }
    refreshFrom(b0);
    return text.size();
}

qsizetype CodeTextBuffer::replace(qsizetype position, qsizetype length, const QString& text)
{
    const bool everything = position <= 0 && length >= m_length;
    // A large paste over everything reads the pasted string in place, as a new text does: a copy
    // would write every page of it fresh while the GUI thread waits. It may be narrowed later.
    // Building from it normalises its line breaks, so it is not scanned for CR here as well.
    constexpr qsizetype kReadInPlace = qsizetype(1) << 20;
    if (everything && text.size() >= kReadInPlace) {
        const quint64 version = m_version + 1;
        *this = narrowedLater(text);
        m_version = version;
        return text.size();
    }
    const bool whole = everything && !text.contains(QLatin1Char('\r'));
    const qsizetype added = replace(position, length, QStringView(text));
    if (whole) {
        m_textCache = text;
        m_textCached = true;
    }
    return added;
}

qsizetype CodeTextBuffer::memoryUsage() const
{
    qsizetype bytes = qsizetype(sizeof(*this));
    for (const Block& block : m_blocks) {
        bytes += qsizetype(sizeof(Block)) + 2 * block.text.capacity() + block.narrow.capacity() + 16;
        bytes += qsizetype(block.marks.capacity() * sizeof(uint16_t) + block.columns.capacity() * sizeof(uint16_t)
            + block.checkpoints.capacity() * sizeof(Checkpoint));
    }
    bytes += qsizetype(m_blockStart.capacity() * sizeof(qsizetype) * 2);
    return bytes + m_borrowedBytes.size();
}
