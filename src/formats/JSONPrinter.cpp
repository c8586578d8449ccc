#include "formats/JSONPrinter.h"

#include "formats/RunParts.h"

#include <algorithm>
#include <cstring>

#include <sys/mman.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using Node = JSONDocument::Node;
using JSONFormatter::SortMode;

int hexValue(char16_t c) { return c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10; }
char16_t hex4(const char16_t* p)
{
    return char16_t((hexValue(p[0]) << 12) | (hexValue(p[1]) << 8) | (hexValue(p[2]) << 4) | hexValue(p[3]));
}

// Decodes the escape at `p` (a backslash) into its unit; returns where the next one begins.
// Forced inline: it sits in the printer's string loop.
template <class Sink>
[[gnu::always_inline]] inline const char16_t* decodeEscape(const char16_t* p, Sink&& sink)
{
    const char16_t e = p[1];
    p += 2;
    switch (e) {
    case u'b': sink(u'\b'); break;
    case u'f': sink(u'\f'); break;
    case u'n': sink(u'\n'); break;
    case u'r': sink(u'\r'); break;
    case u't': sink(u'\t'); break;
    case u'u': sink(hex4(p)); p += 4; break;
    default: sink(e); break; // " \ /
    }
    return p;
}

// Decodes the body of a string literal (between its quotes) unit by unit.
template <class Sink>
void decodeBody(const char16_t* p, const char16_t* end, Sink&& sink)
{
    while (p < end) {
        if (*p != u'\\')
            sink(*p++);
        else
            p = decodeEscape(p, sink);
    }
}

class Writer {
public:
    Writer(const JSONDocument& doc, const std::optional<QString>& unit, SortMode sort, const std::atomic_bool* cancelled)
        : m_doc(doc), m_src(doc.sourceUnits()), m_sort(sort), m_cancelled(cancelled)
    {
        if (unit) {
            m_pretty = true;
            m_unitLength = unit->size();
            m_unitChar = unit->isEmpty() ? u' ' : unit->at(0).unicode();
        }
    }

    std::optional<QString> run()
    {
        if (m_doc.tapeEnd == 0)
            return QString();
        const qsizetype root = m_doc.settled(0);
        Plan plan;
        const bool inParts = planParts(plan);
        if (inParts) {
            m_gapIndex = plan.split;
            m_gapLength = plan.offsets.back();
        }
        const qsizetype total = size(root, 0);
        QString out(total, Qt::Uninitialized);
        m_w = reinterpret_cast<char16_t*>(out.data());
        char16_t* const begin = m_w;
        write(root, 0);
        if (inParts && !m_stopped && m_gap)
            writeParts(plan, m_gap);
        if (m_stopped)
            return std::nullopt;
        Q_ASSERT(m_w - begin == total);
        (void)begin;
        return out;
    }

private:
    // A large document's biggest run of siblings (the top-level array, or the array of records
    // inside a small envelope) is written by several writers at once: every member's text has a
    // known length, so each writer starts at its own offset. The rest is written around a gap
    // left for them. Sorted keys keep the one writer.
    struct Plan {
        qsizetype split = -1;
        int depth = 0;
        bool isObject = false;
        std::vector<qsizetype> members;
        std::vector<qsizetype> offsets; // of each member's text in the gap, and its end
    };

    static int workerCount() { return WorkPool::workers(); }

    bool planParts(Plan& plan) const
    {
        // Below a couple of megabytes of text threads cost more than they save, most of all in a
        // fresh process or on a busy machine.
        constexpr qsizetype partsMinimum = qsizetype(1) << 16; // nodes
        constexpr qsizetype sourceMinimum = qsizetype(1) << 21; // units
        const int workers = workerCount();
        if (m_sort != SortMode::none || m_doc.tapeEnd < partsMinimum || m_doc.source.size() < sourceMinimum || workers < 2)
            return false;
        qsizetype split = m_doc.settled(0);
        int depth = 0;
        for (;;) {
            const Node& n = node(split);
            if (n.kind != Node::array && n.kind != Node::object)
                return false;
            if (n.length >= 64)
                break;
            // Few members: go into the one that holds most of the document, if any.
            const bool isObject = n.kind == Node::object;
            qsizetype biggest = -1, biggestSize = 0;
            for (qsizetype c = m_doc.next(split); c < qsizetype(n.extra); c = m_doc.subtreeEnd(isObject ? m_doc.next(c) : c)) {
                const qsizetype value = isObject ? m_doc.next(c) : c;
                const qsizetype nodes = m_doc.subtreeEnd(value) - value;
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
        const Node& container = node(split);
        const bool isObject = container.kind == Node::object;
        std::vector<qsizetype> members;
        members.reserve(container.length);
        for (qsizetype c = m_doc.next(split); c < qsizetype(container.extra); c = m_doc.subtreeEnd(isObject ? m_doc.next(c) : c))
            members.push_back(c);
        // Each member's text: separator, pad, key and key separator, value; measured side by side.
        const qsizetype count = qsizetype(members.size());
        std::vector<qsizetype> lengths(size_t(count), 0);
        const qsizetype parts = std::min<qsizetype>(count, 4 * workers);
        runParts(parts, [&](qsizetype p) {
            const qsizetype from = count * p / parts, to = count * (p + 1) / parts;
            for (qsizetype k = from; k < to; ++k) {
                const qsizetype c = members[size_t(k)];
                qsizetype length = k == 0 ? 0 : (m_pretty ? 2 : 1);
                if (m_pretty)
                    length += (depth + 1) * m_unitLength;
                if (isObject)
                    length += scalarSize(node(c)) + (m_pretty ? 3 : 1);
                length += size(isObject ? m_doc.next(c) : c, depth + 1);
                lengths[size_t(k)] = length;
            }
        }, workers);
        plan.offsets.resize(size_t(count) + 1);
        plan.offsets[0] = 0;
        for (qsizetype k = 0; k < count; ++k)
            plan.offsets[size_t(k) + 1] = plan.offsets[size_t(k)] + lengths[size_t(k)];
        plan.split = split;
        plan.depth = depth;
        plan.isObject = isObject;
        plan.members = std::move(members);
        return true;
    }

    void writeParts(const Plan& plan, char16_t* gap)
    {
        const std::vector<qsizetype>& offsets = plan.offsets;
        const std::vector<qsizetype>& members = plan.members;
        const int depth = plan.depth;
        const bool isObject = plan.isObject;
        const qsizetype count = qsizetype(members.size());
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
            Writer part(m_doc, m_pretty ? std::optional<QString>(QString(m_unitLength, QChar(m_unitChar))) : std::nullopt,
                        m_sort, m_cancelled);
            part.m_w = gap + offsets[size_t(from)];
            for (qsizetype k = from; k < to && !part.m_stopped; ++k) {
                if (k > 0) {
                    part.put(u',');
                    if (m_pretty)
                        part.put(u'\n');
                }
                if (m_pretty)
                    part.pad(depth + 1);
                const qsizetype c = members[size_t(k)];
                if (isObject) {
                    part.writeString(node(c));
                    if (m_pretty)
                        part.put(u" : ", 3);
                    else
                        part.put(u':');
                    part.write(m_doc.next(c), depth + 1);
                } else {
                    part.write(c, depth + 1);
                }
            }
            if (part.m_stopped)
                stopped = true;
        }, workerCount());
        if (stopped)
            m_stopped = true;
    }

    const JSONDocument& m_doc;
    const char16_t* m_src;
    SortMode m_sort;
    const std::atomic_bool* m_cancelled;
    bool m_pretty = false;
    qsizetype m_unitLength = 0;
    char16_t m_unitChar = u' ';
    char16_t* m_w = nullptr;
    bool m_stopped = false;
    quint32 m_steps = 0;
    // The container whose members are written elsewhere: its members' room is left as a gap.
    qsizetype m_gapIndex = -1;
    qsizetype m_gapLength = 0;
    char16_t* m_gap = nullptr;

    const Node& node(qsizetype i) const { return m_doc.node(i); }

    qsizetype scalarSize(const Node& n) const
    {
        switch (n.kind) {
        case Node::null: return 4;
        case Node::trueValue: return 4;
        case Node::falseValue: return 5;
        case Node::number: return n.length;
        case Node::string: return n.extra;
        default: return 0;
        }
    }

    // Printed length of the subtree at `i`; order-independent, so no sorting is needed here.
    qsizetype size(qsizetype i, int depth) const
    {
        if (i == m_gapIndex)
            return 2 + (m_pretty ? 2 + depth * m_unitLength : 0) + m_gapLength;
        const Node& n = node(i);
        if (n.kind != Node::array && n.kind != Node::object)
            return scalarSize(n);
        if (n.length == 0)
            return 2;
        const qsizetype count = n.length;
        qsizetype total = 2;
        if (m_pretty)
            total += 2 + count * (depth + 1) * m_unitLength + (count - 1) * 2 + depth * m_unitLength;
        else
            total += count - 1;
        qsizetype c = m_doc.next(i);
        const qsizetype end = n.extra;
        while (c < end) {
            if (n.kind == Node::object) {
                total += scalarSize(node(c)) + (m_pretty ? 3 : 1);
                c = m_doc.next(c);
            }
            total += size(c, depth + 1);
            c = m_doc.subtreeEnd(c);
        }
        return total;
    }

    void put(char16_t c) { *m_w++ = c; }
    void put(const char16_t* s, qsizetype n)
    {
        // Most pieces are short (keys, numbers, words): two overlapping fixed-size copies each
        // instead of a library call.
        if (n <= 32) {
            char16_t* w = m_w;
            if (n >= 16) {
                copyFixed<32>(w, s);
                copyFixed<32>(w + n - 16, s + n - 16);
            } else if (n >= 8) {
                copyFixed<16>(w, s);
                copyFixed<16>(w + n - 8, s + n - 8);
            } else if (n >= 4) {
                copyFixed<8>(w, s);
                copyFixed<8>(w + n - 4, s + n - 4);
            } else if (n >= 2) {
                copyFixed<4>(w, s);
                copyFixed<4>(w + n - 2, s + n - 2);
            } else if (n == 1) {
                *w = *s;
            }
        } else {
            std::memcpy(m_w, s, size_t(n) * sizeof(char16_t));
        }
        m_w += n;
    }
    template <size_t bytes>
    static void copyFixed(char16_t* to, const char16_t* from)
    {
        char buffer[bytes];
        std::memcpy(buffer, from, bytes);
        std::memcpy(to, buffer, bytes);
    }
    void pad(int depth)
    {
        const qsizetype n = depth * m_unitLength;
        std::fill(m_w, m_w + n, m_unitChar);
        m_w += n;
    }

    void putEscapedUnit(char16_t c)
    {
        static const char16_t digits[] = u"0123456789abcdef";
        switch (c) {
        case u'\b': put(u'\\'); put(u'b'); return;
        case u'\t': put(u'\\'); put(u't'); return;
        case u'\n': put(u'\\'); put(u'n'); return;
        case u'\f': put(u'\\'); put(u'f'); return;
        case u'\r': put(u'\\'); put(u'r'); return;
        case u'"': put(u'\\'); put(u'"'); return;
        case u'\\': put(u'\\'); put(u'\\'); return;
        default:
            if (c < 0x20 || QChar::isSurrogate(c)) {
                put(u'\\');
                put(u'u');
                put(digits[(c >> 12) & 15]);
                put(digits[(c >> 8) & 15]);
                put(digits[(c >> 4) & 15]);
                put(digits[c & 15]);
            } else {
                put(c);
            }
        }
    }

    void writeString(const Node& n)
    {
        const char16_t* s = m_src + n.offset;
        if (!(n.flags & Node::escaped)) {
            put(s, n.length);
            return;
        }
        put(u'"');
        // Decoded units: pairs pass through, a lone surrogate (only from an escape) stays escaped.
        char16_t pendingHigh = 0;
        auto unit = [&](char16_t c) {
            if (pendingHigh) {
                if (QChar::isLowSurrogate(c)) {
                    put(pendingHigh);
                    put(c);
                    pendingHigh = 0;
                    return;
                }
                putEscapedUnit(pendingHigh);
                pendingHigh = 0;
            }
            if (QChar::isHighSurrogate(c))
                pendingHigh = c;
            else
                putEscapedUnit(c);
        };
        const char16_t* p = s + 1;
        const char16_t* const end = s + n.length - 1;
        while (p < end) {
            if (*p != u'\\') {
                // Units between escapes print as they are: the reader let through no control
                // character, quotation mark or lone surrogate there.
                while (pendingHigh && p < end && *p != u'\\')
                    unit(*p++);
                const char16_t* q = backslashOrEnd(p, end);
                put(p, q - p);
                p = q;
                continue;
            }
            p = decodeEscape(p, unit);
        }
        if (pendingHigh)
            putEscapedUnit(pendingHigh);
        put(u'"');
    }

    static const char16_t* backslashOrEnd(const char16_t* p, const char16_t* end)
    {
#if defined(__SSE2__)
        const __m128i backslash = _mm_set1_epi16(u'\\');
        while (end - p >= 8) {
            const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), backslash));
            if (mask)
                return p + __builtin_ctz(unsigned(mask)) / 2;
            p += 8;
        }
#endif
        while (p < end && *p != u'\\')
            ++p;
        return p;
    }

    void writeScalar(const Node& n)
    {
        switch (n.kind) {
        case Node::null: put(u"null", 4); return;
        case Node::trueValue: put(u"true", 4); return;
        case Node::falseValue: put(u"false", 5); return;
        case Node::number:
            put((n.flags & Node::inArena) ? m_doc.arena.data() + n.offset : m_src + n.offset, n.length);
            return;
        case Node::string: writeString(n); return;
        default: return;
        }
    }

    bool checkCancel()
    {
        if (m_stopped)
            return true;
        if ((++m_steps & 0x3FFF) == 0 && m_cancelled && m_cancelled->load(std::memory_order_relaxed))
            m_stopped = true;
        return m_stopped;
    }

    struct Member {
        quint32 key;
        quint32 value;
        QString storage;
        QStringView sortKey;
    };

    QStringView sortKeyOf(const Node& key, QString* storage) const
    {
        const char16_t* body = m_src + key.offset + 1;
        const qsizetype len = qsizetype(key.length) - 2;
        bool plain = !(key.flags & Node::escaped);
        if (plain) {
            for (qsizetype k = 0; k < len; ++k)
                if (body[k] >= 0x300) {
                    plain = false;
                    break;
                }
            if (plain)
                return QStringView(body, len);
        }
        QString decoded;
        decoded.reserve(len);
        decodeBody(body, body + len, [&](char16_t c) { decoded.append(QChar(c)); });
        *storage = decoded.normalized(QString::NormalizationForm_C);
        return *storage;
    }

    void write(qsizetype i, int depth)
    {
        const Node& n = node(i);
        if (n.kind != Node::array && n.kind != Node::object) {
            writeScalar(n);
            return;
        }
        if (checkCancel())
            return;
        const bool isObject = n.kind == Node::object;
        if (n.length == 0) {
            put(isObject ? u'{' : u'[');
            put(isObject ? u'}' : u']');
            return;
        }
        put(isObject ? u'{' : u'[');
        if (m_pretty)
            put(u'\n');
        if (i == m_gapIndex) {
            m_gap = m_w;
            m_w += m_gapLength;
            if (m_pretty) {
                put(u'\n');
                pad(depth);
            }
            put(isObject ? u'}' : u']');
            return;
        }
        bool first = true;
        auto separator = [&] {
            if (!first) {
                put(u',');
                if (m_pretty)
                    put(u'\n');
            }
            first = false;
            if (m_pretty)
                pad(depth + 1);
        };
        auto member = [&](qsizetype key, qsizetype value) {
            separator();
            writeString(node(key));
            if (m_pretty)
                put(u" : ", 3);
            else
                put(u':');
            write(value, depth + 1);
        };
        const qsizetype end = n.extra;
        if (!isObject) {
            for (qsizetype c = m_doc.next(i); c < end && !m_stopped; c = m_doc.subtreeEnd(c)) {
                separator();
                write(c, depth + 1);
            }
        } else if (m_sort == SortMode::none) {
            for (qsizetype c = m_doc.next(i); c < end && !m_stopped; c = m_doc.subtreeEnd(m_doc.next(c)))
                member(c, m_doc.next(c));
        } else {
            std::vector<Member> members;
            members.reserve(n.length);
            for (qsizetype c = m_doc.next(i); c < end; c = m_doc.subtreeEnd(m_doc.next(c)))
                members.push_back(Member{quint32(c), quint32(m_doc.next(c)), {}, {}});
            for (Member& m : members)
                m.sortKey = sortKeyOf(node(m.key), &m.storage);
            const bool ascending = m_sort == SortMode::ascending;
            std::stable_sort(members.begin(), members.end(), [ascending](const Member& a, const Member& b) {
                const int c = JSONPrinter::compareCodePoints(a.sortKey, b.sortKey);
                return ascending ? c < 0 : c > 0;
            });
            for (const Member& m : members) {
                if (m_stopped)
                    break;
                member(m.key, m.value);
            }
        }
        if (m_pretty) {
            put(u'\n');
            pad(depth);
        }
        put(isObject ? u'}' : u']');
    }
};

} // namespace

int JSONPrinter::compareCodePoints(QStringView a, QStringView b)
{
    const qsizetype n = std::min(a.size(), b.size());
    const char16_t* pa = a.utf16();
    const char16_t* pb = b.utf16();
    for (qsizetype i = 0; i < n; ++i) {
        char16_t x = pa[i], y = pb[i];
        if (x == y)
            continue;
        // Surrogates encode scalars above U+FFFF: move them above U+E000..U+FFFF.
        if (x >= 0xD800 && y >= 0xD800) {
            x = x >= 0xE000 ? char16_t(x - 0x800) : char16_t(x + 0x2000);
            y = y >= 0xE000 ? char16_t(y - 0x800) : char16_t(y + 0x2000);
        }
        return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::optional<QString> JSONPrinter::print(const JSONDocument& document, const std::optional<QString>& indentUnit,
                                          JSONFormatter::SortMode sortMode, const std::atomic_bool* cancelled)
{
    Writer writer(document, indentUnit, sortMode, cancelled);
    return writer.run();
}
