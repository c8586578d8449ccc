#include "formats/JSONPrinter.h"

#include "formats/JSONNumberText.h"
#include "formats/RunParts.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using Node = JSONDocument::Node;
using JSONFormatter::SortMode;

int hexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }
char16_t hex4(const char* p)
{
    return char16_t((hexValue(p[0]) << 12) | (hexValue(p[1]) << 8) | (hexValue(p[2]) << 4) | hexValue(p[3]));
}

// The UTF-8 of a code point at w; a lone surrogate gets the three bytes of its own value, so that
// texts holding one still compare in code point order. Answers the end.
char* putUtf8(char32_t c, char* w)
{
    if (c < 0x80) {
        *w++ = char(c);
    } else if (c < 0x800) {
        *w++ = char(0xC0 | (c >> 6));
        *w++ = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *w++ = char(0xE0 | (c >> 12));
        *w++ = char(0x80 | ((c >> 6) & 0x3F));
        *w++ = char(0x80 | (c & 0x3F));
    } else {
        *w++ = char(0xF0 | (c >> 18));
        *w++ = char(0x80 | ((c >> 12) & 0x3F));
        *w++ = char(0x80 | ((c >> 6) & 0x3F));
        *w++ = char(0x80 | (c & 0x3F));
    }
    return w;
}

template <size_t bytes>
void copyFixed(char* to, const char* from)
{
    char buffer[bytes];
    std::memcpy(buffer, from, bytes);
    std::memcpy(to, buffer, bytes);
}

// Most pieces are short (keys, numbers, words): two overlapping fixed-size copies each instead
// of a library call.
[[gnu::always_inline]] inline void copyBytes(char* w, const char* s, qsizetype n)
{
    if (n > 32) {
        std::memcpy(w, s, size_t(n));
    } else if (n >= 16) {
        copyFixed<16>(w, s);
        copyFixed<16>(w + n - 16, s + n - 16);
    } else if (n >= 8) {
        copyFixed<8>(w, s);
        copyFixed<8>(w + n - 8, s + n - 8);
    } else if (n >= 4) {
        copyFixed<4>(w, s);
        copyFixed<4>(w + n - 4, s + n - 4);
    } else if (n >= 2) {
        copyFixed<2>(w, s);
        copyFixed<2>(w + n - 2, s + n - 2);
    } else if (n == 1) {
        *w = *s;
    }
}

// ---- Where the printed text goes. The writer below is the only place that knows the layout;
// it runs into one of these.

// Only counts: measures a stretch of text before it is written elsewhere.
class Counter {
public:
    void put(char) { ++m_length; }
    void put(const char*, qsizetype n) { m_length += n; }
    void fill(char, qsizetype n) { m_length += n; }
    void skip(qsizetype n) { m_length += n; }
    qsizetype position() const { return m_length; }

private:
    qsizetype m_length = 0;
};

// The writes of the sinks that hold bytes: each makes room for them first (Room: a sink with
// room(n)) and keeps m_begin, m_w and m_end over its bytes.
template <class Room>
class UnitSink {
public:
    [[gnu::always_inline]] void put(char c)
    {
        self().room(1);
        *m_w++ = c;
    }
    [[gnu::always_inline]] void put(const char* s, qsizetype n)
    {
        self().room(n);
        copyBytes(m_w, s, n);
        m_w += n;
    }
    [[gnu::always_inline]] void fill(char c, qsizetype n)
    {
        self().room(n);
        std::fill(m_w, m_w + n, c);
        m_w += n;
    }
    void skip(qsizetype n)
    {
        self().room(n);
        m_w += n;
    }
    qsizetype position() const { return m_w - m_begin; }

protected:
    char* m_begin = nullptr;
    char* m_w = nullptr;
    char* m_end = nullptr;

private:
    Room& self() { return static_cast<Room&>(*this); }
};

// Writes into room of a measured length, which the text must fill exactly. Anything else is a
// fault of the printer's own: it stops the program rather than write past the room or hand out
// text with bytes never written.
class Slot : public UnitSink<Slot> {
public:
    Slot(char* begin, char* end)
    {
        m_begin = m_w = begin;
        m_end = end;
    }
    void finish() const
    {
        if (m_w != m_end)
            qFatal("JSON printer: %lld bytes of measured room left unwritten", static_cast<long long>(m_end - m_w));
    }
    [[gnu::always_inline]] void room(qsizetype n) const
    {
        if (Q_UNLIKELY(m_end - m_w < n))
            qFatal("JSON printer: text runs %lld bytes past its measured room", static_cast<long long>(n - (m_end - m_w)));
    }
};

// Grows as the text is written: one pass over the document, no measuring.
class Growing : public UnitSink<Growing> {
public:
    explicit Growing(qsizetype estimate) : m_text(std::max<qsizetype>(estimate, 64), Qt::Uninitialized) { rebase(0); }
    char* at(qsizetype offset) { return m_begin + offset; }
    QByteArray take()
    {
        m_text.resize(position());
        return std::move(m_text);
    }
    [[gnu::always_inline]] void room(qsizetype n)
    {
        if (Q_UNLIKELY(m_end - m_w < n))
            grow(n);
    }

private:
    QByteArray m_text;
    [[gnu::noinline]] void grow(qsizetype n)
    {
        const qsizetype used = position();
        m_text.resize(std::max(2 * m_text.size(), used + n + 4096));
        rebase(used);
    }
    void rebase(qsizetype used)
    {
        m_begin = m_text.data();
        m_w = m_begin + used;
        m_end = m_begin + m_text.size();
    }
};

// ---- The writer

// What every writer of one print shares.
struct Setting {
    const JSONDocument& doc;
    SortMode sort;
    const std::atomic_bool* cancelled;
    bool pretty = false;
    qsizetype unitLength = 0;
    // Pretty: a comma, a line feed and the indent of the deepest level, so that what goes between
    // two members, or before the first or the close, is one stretch of it.
    std::string breaks{};
    // The container whose members are written by writers of their own: its members' text is
    // left as a gap of `gapLength` bytes.
    qsizetype gapIndex = -1;
    qsizetype gapLength = 0;
};

template <class Sink>
class Writer {
public:
    Writer(const Setting& setting, Sink& sink)
        : m_set(setting), m_doc(setting.doc), m_src(setting.doc.sourceBytes()), m_out(sink)
    {
    }

    bool stopped() const { return m_stopped; }
    qsizetype gapAt() const { return m_gapAt; }

    void value(qsizetype i, int depth)
    {
        const Node& n = node(i);
        if (n.kind != Node::array && n.kind != Node::object) {
            scalar(n);
            return;
        }
        if (checkCancel())
            return;
        const bool isObject = n.kind == Node::object;
        m_out.put(isObject ? '{' : '[');
        if (n.length > 0) {
            if (i == m_set.gapIndex) {
                m_gapAt = m_out.position();
                m_out.skip(m_set.gapLength);
            } else {
                members(i, depth);
            }
            if (m_set.pretty)
                m_out.put(m_set.breaks.data() + 1, 1 + depth * m_set.unitLength);
        }
        m_out.put(isObject ? '}' : ']');
    }

    // One member of a container at `depth`: what goes before it (a line break and the indent,
    // after a comma but for the first), the key (none for an array's element) and the value.
    void item(bool first, qsizetype key, qsizetype value, int depth)
    {
        if (m_set.pretty)
            m_out.put(m_set.breaks.data() + first, 2 - first + (depth + 1) * m_set.unitLength);
        else if (!first)
            m_out.put(',');
        if (key >= 0) {
            string(node(key));
            if (m_set.pretty)
                m_out.put(" : ", 3);
            else
                m_out.put(':');
        }
        const Node& n = node(value);
        if (n.kind == Node::array || n.kind == Node::object)
            this->value(value, depth + 1);
        else
            scalar(n);
    }

private:
    const Setting& m_set;
    const JSONDocument& m_doc;
    const char* m_src;
    Sink& m_out;
    bool m_stopped = false;
    quint32 m_steps = 0;
    qsizetype m_gapAt = -1;

    const Node& node(qsizetype i) const { return m_doc.node(i); }

    struct Member {
        quint32 key;
        quint32 value;
        QByteArray storage; // never inline: the members move while sorted
        std::string_view sortKey;
    };

    void members(qsizetype i, int depth)
    {
        const Node& n = node(i);
        const qsizetype end = n.extra;
        bool first = true;
        if (n.kind == Node::array) {
            for (qsizetype c = m_doc.next(i); c < end && !m_stopped; c = m_doc.subtreeEnd(c)) {
                item(first, -1, c, depth);
                first = false;
            }
        } else if (m_set.sort == SortMode::none) {
            for (qsizetype c = m_doc.next(i); c < end && !m_stopped; c = m_doc.subtreeEnd(m_doc.next(c))) {
                item(first, c, m_doc.next(c), depth);
                first = false;
            }
        } else {
            std::vector<Member> sorted;
            sorted.reserve(n.length);
            for (qsizetype c = m_doc.next(i); c < end; c = m_doc.subtreeEnd(m_doc.next(c)))
                sorted.push_back(Member{quint32(c), quint32(m_doc.next(c)), {}, {}});
            for (Member& m : sorted)
                m.sortKey = sortKeyOf(node(m.key), &m.storage);
            const bool ascending = m_set.sort == SortMode::ascending;
            std::stable_sort(sorted.begin(), sorted.end(), [ascending](const Member& a, const Member& b) {
                // UTF-8 in byte order is in code point order.
                const int c = a.sortKey.compare(b.sortKey);
                return ascending ? c < 0 : c > 0;
            });
            for (const Member& m : sorted) {
                if (m_stopped)
                    break;
                item(first, m.key, m.value, depth);
                first = false;
            }
        }
    }

    // A scalar's text. Integers and plain strings, most of them, are one stretch of the source
    // written inline.
    [[gnu::always_inline]] void scalar(const Node& n)
    {
        if ((n.kind == Node::number || n.kind == Node::string) && !n.flags) [[likely]] {
            m_out.put(m_src + n.offset, n.length);
            return;
        }
        otherScalar(n);
    }

    // A number with a fraction or an exponent: the double's shortest text where that has the
    // literal's own digits ("1.50" prints as "1.5"), else as written.
    void fractionalNumber(const Node& n)
    {
        const std::string_view literal(m_src + n.offset, n.length);
        char text[40];
        const int length = JSONNumberText::respelling(literal, n.extra & 0xFFFF, n.extra >> 16, text);
        if (length >= 0)
            m_out.put(text, length);
        else
            m_out.put(literal.data(), qsizetype(literal.size()));
    }

    [[gnu::noinline]] void otherScalar(const Node& n)
    {
        switch (n.kind) {
        case Node::null: m_out.put("null", 4); return;
        case Node::trueValue: m_out.put("true", 4); return;
        case Node::falseValue: m_out.put("false", 5); return;
        case Node::string: escapedString(n); return;
        case Node::number: fractionalNumber(n); return;
        default: return;
        }
    }

    // A unit of an escape, printed: escaped again when it must be (a control character, a quote,
    // a backslash, a lone surrogate), else as the character.
    void escapedUnit(char16_t c)
    {
        static const char digits[] = "0123456789abcdef";
        char e;
        switch (c) {
        case u'\b': e = 'b'; break;
        case u'\t': e = 't'; break;
        case u'\n': e = 'n'; break;
        case u'\f': e = 'f'; break;
        case u'\r': e = 'r'; break;
        case u'"': e = '"'; break;
        case u'\\': e = '\\'; break;
        default:
            if (c < 0x20 || QChar::isSurrogate(c)) {
                const char text[] = {'\\', 'u', digits[(c >> 12) & 15], digits[(c >> 8) & 15], digits[(c >> 4) & 15],
                                     digits[c & 15]};
                m_out.put(text, 6);
            } else {
                char text[4];
                m_out.put(text, putUtf8(c, text) - text);
            }
            return;
        }
        const char text[] = {'\\', e};
        m_out.put(text, 2);
    }

    [[gnu::always_inline]] void string(const Node& n)
    {
        // Without escapes the source spelling is the printed one: the reader let through no
        // control character or quotation mark.
        if (!(n.flags & Node::escaped)) [[likely]]
            m_out.put(m_src + n.offset, n.length);
        else
            escapedString(n);
    }

    [[gnu::noinline]] void escapedString(const Node& n)
    {
        const char* p = m_src + n.offset;
        const char* const end = p + n.length;
        for (;;) {
            // Quotes, plain bytes and the escapes that print as they are written go in runs: only
            // \/ and \u change.
            const char* q = p;
            for (;;) {
                q = backslashOrEnd(q, end);
                if (q == end || q[1] == '/' || q[1] == 'u')
                    break;
                q += 2;
            }
            m_out.put(p, q - p);
            if (q == end)
                return;
            if (q[1] == '/') {
                m_out.put('/');
                p = q + 2;
                continue;
            }
            const char16_t c = hex4(q + 2);
            p = q + 6;
            // An escaped pair becomes the character; a lone surrogate stays escaped. (A backslash
            // is never the closing quote, so the next escape is whole.)
            if (QChar::isHighSurrogate(c) && p[0] == '\\' && p[1] == 'u') {
                const char16_t low = hex4(p + 2);
                if (QChar::isLowSurrogate(low)) {
                    char text[4];
                    m_out.put(text, putUtf8(QChar::surrogateToUcs4(c, low), text) - text);
                    p += 6;
                    continue;
                }
            }
            escapedUnit(c);
        }
    }

    static const char* backslashOrEnd(const char* p, const char* end)
    {
        const void* at = std::memchr(p, '\\', size_t(end - p));
        return at ? static_cast<const char*>(at) : end;
    }

    bool checkCancel()
    {
        if (m_stopped)
            return true;
        if ((++m_steps & 0x3FFF) == 0 && m_set.cancelled && m_set.cancelled->load(std::memory_order_relaxed))
            m_stopped = true;
        return m_stopped;
    }

    // Keys sort by their canonically composed form. Characters below U+0300 (lead bytes below
    // 0xCC) are their own composed form and compose with nothing before them: such keys compare
    // as they stand.
    std::string_view sortKeyOf(const Node& key, QByteArray* storage) const
    {
        const char* body = m_src + key.offset + 1;
        const qsizetype len = qsizetype(key.length) - 2;
        if (!(key.flags & Node::escaped)
            && std::all_of(body, body + len, [](char c) { return static_cast<unsigned char>(c) < 0xCC; }))
            return std::string_view(body, size_t(len));
        const QString composed = m_doc.stringValue(key).normalized(QString::NormalizationForm_C);
        storage->resize(composed.size() * 3);
        char* w = storage->data();
        for (qsizetype k = 0; k < composed.size(); ++k) {
            char32_t c = composed[k].unicode();
            if (QChar::isHighSurrogate(c) && k + 1 < composed.size() && composed[k + 1].isLowSurrogate())
                c = QChar::surrogateToUcs4(char16_t(c), composed[++k].unicode());
            w = putUtf8(c, w);
        }
        storage->resize(w - storage->data());
        return std::string_view(storage->constData(), size_t(storage->size()));
    }
};

// ---- A large document's biggest run of siblings (the top-level array, or the array of records
// inside a small envelope) is written by several writers at once: each member's text is measured
// first, side by side, so that each writer starts at its own offset. The rest is written around a
// gap left for them. Sorted keys keep the one writer.

struct Plan {
    qsizetype split = -1;
    int depth = 0; // of the container
    bool isObject = false;
    std::vector<qsizetype> members;  // key nodes of an object, element nodes of an array
    std::vector<qsizetype> offsets;  // of each member's text in the gap, and its end
    bool cancelled = false;          // while measuring: the lengths are short, nothing may be written
};

int workerCount() { return WorkPool::workers(); }

// The member at index k of the plan's container, as the writer takes it: key (or -1) and value.
std::pair<qsizetype, qsizetype> planMember(const JSONDocument& doc, const Plan& plan, qsizetype k)
{
    const qsizetype c = plan.members[size_t(k)];
    return plan.isObject ? std::pair{c, doc.next(c)} : std::pair{qsizetype(-1), c};
}

bool planParts(const Setting& set, Plan& plan)
{
    const JSONDocument& doc = set.doc;
    constexpr qsizetype partsMinimum = qsizetype(1) << 16; // nodes
    constexpr qsizetype sourceMinimum = WorkPool::kSplitText;
    const int workers = workerCount();
    if (set.sort != SortMode::none || doc.tapeEnd < partsMinimum || doc.source.size() < sourceMinimum || workers < 2)
        return false;
    qsizetype split = doc.settled(0);
    int depth = 0;
    for (;;) {
        const Node& n = doc.node(split);
        if (n.kind != Node::array && n.kind != Node::object)
            return false;
        if (n.length >= 64)
            break;
        // Few members: go into the one that holds most of the document, if any.
        const bool isObject = n.kind == Node::object;
        qsizetype biggest = -1, biggestSize = 0;
        for (qsizetype c = doc.next(split); c < qsizetype(n.extra); c = doc.subtreeEnd(isObject ? doc.next(c) : c)) {
            const qsizetype value = isObject ? doc.next(c) : c;
            const qsizetype nodes = doc.subtreeEnd(value) - value;
            if (nodes > biggestSize) {
                biggest = value;
                biggestSize = nodes;
            }
        }
        if (biggest < 0 || biggestSize * 2 < qsizetype(n.extra) - split)
            return false;
        split = biggest;
        ++depth;
    }
    const Node& container = doc.node(split);
    plan.split = split;
    plan.depth = depth;
    plan.isObject = container.kind == Node::object;
    plan.members.reserve(container.length);
    // Going from member to member waits on the memory of each in turn, written by other threads
    // when the text was read in parts. Such members tend to be alike in size: those a few steps
    // ahead are asked for early.
    for (qsizetype c = doc.next(split); c < qsizetype(container.extra);) {
        plan.members.push_back(c);
        const qsizetype next = doc.subtreeEnd(plan.isObject ? doc.next(c) : c);
        for (qsizetype ahead = next + 2 * (next - c), k = 0; k < 3 && ahead < qsizetype(container.extra);
             ++k, ahead += 2 * (next - c))
            __builtin_prefetch(&doc.node(ahead));
        c = next;
    }
    const qsizetype count = qsizetype(plan.members.size());
    std::vector<qsizetype> lengths(size_t(count), 0);
    const qsizetype parts = std::min<qsizetype>(count, 4 * workers);
    std::atomic_bool stopped = false;
    runParts(parts, [&](qsizetype p) {
        for (qsizetype k = count * p / parts, to = count * (p + 1) / parts; k < to; ++k) {
            Counter counter;
            Writer<Counter> writer(set, counter);
            const auto [key, value] = planMember(doc, plan, k);
            writer.item(k == 0, key, value, depth);
            if (writer.stopped()) {
                stopped = true;
                return;
            }
            lengths[size_t(k)] = counter.position();
        }
    }, workers);
    plan.cancelled = stopped;
    plan.offsets.resize(size_t(count) + 1);
    plan.offsets[0] = 0;
    for (qsizetype k = 0; k < count; ++k)
        plan.offsets[size_t(k) + 1] = plan.offsets[size_t(k)] + lengths[size_t(k)];
    return true;
}

// Writes the plan's members into the gap; false when cancelled on the way.
bool writeParts(const Setting& set, const Plan& plan, char* gap)
{
    const std::vector<qsizetype>& offsets = plan.offsets;
    const qsizetype count = qsizetype(plan.members.size());
    const qsizetype parts = std::min<qsizetype>(count, 4 * workerCount());
    std::atomic_bool stopped = false;
    // Parts of about equal text, cut at member boundaries.
    const auto at = [&](qsizetype q) {
        return qsizetype(std::lower_bound(offsets.begin(), offsets.end() - 1, offsets.back() * q / parts) - offsets.begin());
    };
    runParts(parts, [&](qsizetype p) {
        const qsizetype from = at(p), to = p + 1 == parts ? count : at(p + 1);
        if (from >= to)
            return;
        Slot slot(gap + offsets[size_t(from)], gap + offsets[size_t(to)]);
        Writer<Slot> writer(set, slot);
        for (qsizetype k = from; k < to && !writer.stopped(); ++k) {
            const auto [key, value] = planMember(set.doc, plan, k);
            writer.item(k == 0, key, value, plan.depth);
        }
        if (writer.stopped())
            stopped = true;
        else
            slot.finish();
    }, workerCount());
    return !stopped;
}

} // namespace

std::optional<QByteArray> JSONPrinter::print(const JSONDocument& document, const std::optional<QString>& indentUnit,
                                             JSONFormatter::SortMode sortMode, const std::atomic_bool* cancelled)
{
    if (document.tapeEnd == 0)
        return QByteArray();
    Setting set{document, sortMode, cancelled};
    if (indentUnit) {
        set.pretty = true;
        const QByteArray unit = indentUnit->toUtf8();
        set.unitLength = unit.size();
        set.breaks = ",\n";
        for (int level = 0; level < JSONFormatter::maxDepth + 1; ++level)
            set.breaks.append(unit.constData(), size_t(unit.size()));
    }
    Plan plan;
    const bool inParts = planParts(set, plan);
    if (plan.cancelled)
        return std::nullopt;
    if (inParts) {
        set.gapIndex = plan.split;
        set.gapLength = plan.offsets.back();
    }
    // Room for the text of a document nested a few levels deep; deeper ones grow it, and room
    // never written costs no memory.
    const qsizetype estimate = document.source.size() + (set.pretty ? document.valueCount * (2 + 4 * set.unitLength) : 0) + 64;
    Growing out(std::max(estimate, set.gapLength + (qsizetype(1) << 16)));
    Writer<Growing> writer(set, out);
    writer.value(document.settled(0), 0);
    if (writer.stopped())
        return std::nullopt;
    if (inParts && !writeParts(set, plan, out.at(writer.gapAt())))
        return std::nullopt;
    return out.take();
}
