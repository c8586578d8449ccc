#include "formats/JSONPrinter.h"

#include "formats/JSONNumberText.h"
#include "formats/JSONTokenScan.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using namespace JSONTokenScan;
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

// ---- Where the printed text goes: grows as the text is written, one pass over the document, no
// measuring.

class Growing {
public:
    explicit Growing(qsizetype estimate) : m_text(std::max<qsizetype>(estimate, 64), Qt::Uninitialized) { rebase(0); }
    QByteArray take()
    {
        m_text.resize(position());
        return std::move(m_text);
    }
    [[gnu::always_inline]] void put(char c)
    {
        room(1);
        *m_w++ = c;
    }
    [[gnu::always_inline]] void put(const char* s, qsizetype n)
    {
        room(n);
        copyBytes(m_w, s, n);
        m_w += n;
    }
    // A short text of a local buffer, on the rare paths: one plain copy.
    void putLocal(const char* s, qsizetype n)
    {
        room(n);
        std::memcpy(m_w, s, size_t(n));
        m_w += n;
    }
    qsizetype position() const { return m_w - m_begin; }

private:
    QByteArray m_text;
    char* m_begin = nullptr;
    char* m_w = nullptr;
    char* m_end = nullptr;

    [[gnu::always_inline]] void room(qsizetype n)
    {
        if (Q_UNLIKELY(m_end - m_w < n))
            grow(n);
    }
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

// ---- Where each container of a checked text ends, for sorted keys: a sorted object takes its
// members out of order, and a member's value that is a container is stepped over by this, not
// read. Containers in document order, each with the offset just past its close and the index of
// the container after its subtree; 8 bytes a container.

struct Span {
    quint32 end;
    quint32 next;
};

// The next quotation mark or bracket from p (the text is checked: any other byte outside a string
// is a scalar's or a blank).
inline const char* nextStructural(const char* p, const char* end)
{
#if defined(__SSE2__)
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // '[' and ']' with bit 5 set are '{' and '}'.
        const __m128i folded = _mm_or_si128(v, _mm_set1_epi8(0x20));
        const unsigned hit = unsigned(_mm_movemask_epi8(_mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(folded, _mm_set1_epi8('{')), _mm_cmpeq_epi8(folded, _mm_set1_epi8('}'))),
            _mm_cmpeq_epi8(v, _mm_set1_epi8('"')))));
        if (hit)
            return p + __builtin_ctz(hit);
        p += 16;
    }
#endif
    while (p < end && *p != '"' && (*p | 0x20) != '{' && (*p | 0x20) != '}')
        ++p;
    return p;
}

std::vector<Span> containerSpans(const char* begin, const char* end, const std::atomic_bool* cancelled)
{
    std::vector<Span> spans;
    // Room for a container every 16 bytes, more than a text holds but for arrays of arrays: grown
    // step by step, a large list's old copies are left behind in the allocator's arenas. Room
    // never written costs no memory.
    spans.reserve(size_t(end - begin) / 16 + 16);
    std::vector<quint32> open;
    for (const char* p = nextStructural(begin, end); p < end; p = nextStructural(p, end)) {
        if (*p == '"') {
            p = scanString(p, end).at + 1;
            continue;
        }
        if ((*p | 0x20) == '{') {
            open.push_back(quint32(spans.size()));
            spans.push_back(Span{0, 0});
            if ((spans.size() & 0xFFFF) == 0 && cancelled && cancelled->load(std::memory_order_relaxed))
                return {};
        } else if (!open.empty()) {
            spans[open.back()] = Span{quint32(p + 1 - begin), quint32(spans.size())};
            open.pop_back();
        }
        ++p;
    }
    return spans;
}

// ---- The writer: the one place that knows the layout. It walks a text the reader has checked,
// from its bytes.

struct Setting {
    const JSONDocument& doc;
    SortMode sort;
    const std::atomic_bool* cancelled;
    bool pretty = false;
    qsizetype unitLength = 0;
    // Pretty: a comma, a line feed and the indent of the deepest level, so that what goes between
    // two members, or before the first or the close, is one stretch of it.
    std::string breaks{};
    // Sorted keys only.
    std::vector<Span> spans{};
};

class Writer {
public:
    Writer(const Setting& setting, Growing& sink)
        : m_set(setting), m_doc(setting.doc), m_src(setting.doc.sourceBytes()),
          m_end(m_src + setting.doc.source.size()), m_out(sink)
    {
        if (setting.sort != SortMode::none)
            m_levels.resize(JSONFormatter::maxDepth + 1);
    }

    bool stopped() const { return m_stopped; }

    // The value whose first byte is at p; p goes on past it.
    void value(const char*& p, int depth)
    {
        if (p >= m_end) [[unlikely]] {
            m_stopped = true;
            return;
        }
        const char c = *p;
        if (c == '{' || c == '[') {
            if (checkCancel())
                return;
            const bool isObject = c == '{';
            if (isObject && m_set.sort != SortMode::none) {
                sortedObject(p, depth);
                return;
            }
            ++m_span;
            open(isObject);
            p = skipBlanks(p + 1, m_end);
            const bool filled = p < m_end && *p != (isObject ? '}' : ']');
            for (bool first = true; filled && !m_stopped; first = false) {
                beforeMember(first, depth);
                if (isObject) {
                    sourceString(p);
                    p = skipBlanks(skipBlanks(p, m_end) + 1, m_end); // past the colon
                    afterKey();
                }
                value(p, depth + 1);
                p = skipBlanks(p, m_end);
                if (p >= m_end || *p != ',')
                    break;
                p = skipBlanks(p + 1, m_end);
            }
            ++p;
            close(isObject, filled, depth);
            return;
        }
        if (c == '"') {
            sourceString(p);
            return;
        }
        if (c == 't' || c == 'n' || c == 'f') {
            const qsizetype length = c == 'f' ? 5 : 4;
            if (m_end - p < length) [[unlikely]] {
                m_stopped = true;
                return;
            }
            m_out.put(p, length);
            p += length;
            return;
        }
        const NumberScan n = scanNumber(p, m_end);
        if (n.stop == p) [[unlikely]] {
            m_stopped = true;
            return;
        }
        number(p, n.stop - p, n.integer ? nullptr : &n);
        p = n.stop;
    }

private:
    const Setting& m_set;
    const JSONDocument& m_doc;
    const char* m_src;
    const char* m_end;
    Growing& m_out;
    bool m_stopped = false;
    quint32 m_steps = 0;
    // Sorted keys: the span of the next container met in document order.
    size_t m_span = 0;

    // ---- The layout
    void open(bool isObject) { m_out.put(isObject ? '{' : '['); }
    // What goes before a member of a container at `depth`: a line break and the indent, after a
    // comma but for the first.
    [[gnu::always_inline]] void beforeMember(bool first, int depth)
    {
        if (m_set.pretty)
            m_out.put(m_set.breaks.data() + first, 2 - first + (depth + 1) * m_set.unitLength);
        else if (!first)
            m_out.put(',');
    }
    [[gnu::always_inline]] void afterKey()
    {
        if (m_set.pretty)
            m_out.put(" : ", 3);
        else
            m_out.put(':');
    }
    // An empty container closes on the line it opened.
    void close(bool isObject, bool filled, int depth)
    {
        if (filled && m_set.pretty)
            m_out.put(m_set.breaks.data() + 1, 1 + depth * m_set.unitLength);
        m_out.put(isObject ? '}' : ']');
    }

    // ---- Strings and numbers: the source's spelling where it is the printed one
    // Without escapes the source spelling is the printed one: the reader let through no control
    // character or quotation mark.
    [[gnu::always_inline]] void string(const char* p, qsizetype length, bool escaped)
    {
        if (!escaped) [[likely]]
            m_out.put(p, length);
        else
            escapedString(p, length);
    }
    [[gnu::always_inline]] void sourceString(const char*& p)
    {
        const StringScan s = scanString(p, m_end);
        string(p, s.at + 1 - p, s.flags != 0);
        p = s.at + 1;
    }
    // An integer (no scan) as it stands; a number with a fraction or an exponent as the double's
    // shortest text where that has the literal's own digits ("1.50" prints as "1.5"), else as
    // written.
    [[gnu::always_inline]] void number(const char* p, qsizetype length, const NumberScan* fractional)
    {
        if (!fractional || length > 0xFFFF) [[likely]]
            m_out.put(p, length);
        else
            fractionalNumber(p, length, fractional->point - p, fractional->mark - p);
    }
    [[gnu::noinline]] void fractionalNumber(const char* p, qsizetype length, qsizetype point, qsizetype mark)
    {
        char text[40];
        const int printed = JSONNumberText::respelling(std::string_view(p, size_t(length)), int(point), int(mark), text);
        if (printed >= 0)
            m_out.putLocal(text, printed);
        else
            m_out.put(p, length);
    }

    // ---- Sorted keys
    // Plain data, so that sorting moves it cheaply; a composed key lives in its level's list.
    struct Member {
        const char* key;
        const char* value;
        size_t span; // of the value, when it is a container
        std::string_view sortKey;
        quint32 keyLength;
        bool escaped;
    };
    struct Level {
        std::vector<Member> members;
        std::vector<QByteArray> composedKeys; // never inline: the views of them must stay put
    };
    // One list a level, kept for the next object there: most objects are small and many.
    std::vector<Level> m_levels;

    // An object whose members are printed by their keys: each member's value is stepped over
    // (a container by its span), then printed in turn from where it stands.
    void sortedObject(const char*& p, int depth)
    {
        if (m_span >= m_set.spans.size()) [[unlikely]] {
            m_stopped = true;
            return;
        }
        const size_t own = m_span;
        size_t child = own + 1;
        if (size_t(depth) >= m_levels.size()) [[unlikely]] {
            m_stopped = true;
            return;
        }
        std::vector<Member>& members = m_levels[size_t(depth)].members;
        std::vector<QByteArray>& composedKeys = m_levels[size_t(depth)].composedKeys;
        members.clear();
        composedKeys.clear();
        p = skipBlanks(p + 1, m_end);
        while (p < m_end && *p == '"') {
            const StringScan key = scanString(p, m_end);
            Member m{p, nullptr, 0, {}, quint32(key.at + 1 - p), key.flags != 0};
            p = skipBlanks(skipBlanks(key.at + 1, m_end) + 1, m_end); // past the colon
            m.value = p;
            if (p < m_end && (*p == '{' || *p == '[')) {
                if (child >= m_set.spans.size()) [[unlikely]] {
                    m_stopped = true;
                    return;
                }
                m.span = child;
                p = m_src + m_set.spans[child].end;
                child = m_set.spans[child].next;
            } else {
                p = scalarEnd(p);
            }
            members.push_back(std::move(m));
            p = skipBlanks(p, m_end);
            if (p >= m_end || *p != ',')
                break;
            p = skipBlanks(p + 1, m_end);
        }
        ++p;
        for (Member& m : members)
            m.sortKey = sortKeyOf(m.key, m.keyLength, m.escaped, composedKeys);
        const bool ascending = m_set.sort == SortMode::ascending;
        // UTF-8 in byte order is in code point order.
        const auto before = [ascending](const Member& a, const Member& b) {
            const int c = a.sortKey.compare(b.sortKey);
            return ascending ? c < 0 : c > 0;
        };
        if (members.size() <= 16) {
            // Stable too, without the merge sort's buffer.
            for (size_t i = 1; i < members.size(); ++i)
                for (size_t j = i; j > 0 && before(members[j], members[j - 1]); --j)
                    std::swap(members[j], members[j - 1]);
        } else {
            std::stable_sort(members.begin(), members.end(), before);
        }
        open(true);
        bool first = true;
        for (size_t k = 0; k < members.size(); ++k) {
            if (m_stopped)
                return;
            // Deeper levels have lists of their own: `m` stays.
            const Member& m = members[k];
            beforeMember(first, depth);
            first = false;
            string(m.key, m.keyLength, m.escaped);
            afterKey();
            m_span = m.span;
            const char* at = m.value;
            value(at, depth + 1);
        }
        m_span = m_set.spans[own].next;
        close(true, !members.empty(), depth);
    }

    // Just past the scalar at p.
    const char* scalarEnd(const char* p) const
    {
        if (p >= m_end)
            return p;
        switch (*p) {
        case '"': return scanString(p, m_end).at + 1;
        case 't': case 'n': return p + 4;
        case 'f': return p + 5;
        default: return std::max(p + 1, scanNumber(p, m_end).stop);
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
                m_out.putLocal(text, 6);
            } else {
                char text[4];
                m_out.putLocal(text, putUtf8(c, text) - text);
            }
            return;
        }
        const char text[] = {'\\', e};
        m_out.putLocal(text, 2);
    }

    [[gnu::noinline]] void escapedString(const char* p, qsizetype length)
    {
        const char* const end = p + length;
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
                    m_out.putLocal(text, putUtf8(QChar::surrogateToUcs4(c, low), text) - text);
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
    std::string_view sortKeyOf(const char* key, quint32 length, bool escaped, std::vector<QByteArray>& composedKeys) const
    {
        const char* body = key + 1;
        const qsizetype len = qsizetype(length) - 2;
        if (!escaped && std::all_of(body, body + len, [](char c) { return static_cast<unsigned char>(c) < 0xCC; }))
            return std::string_view(body, size_t(len));
        const Node node{Node::string, quint8(escaped ? Node::escaped : 0), 0, quint32(key - m_src), length, 0};
        const QString composed = m_doc.stringValue(node).normalized(QString::NormalizationForm_C);
        QByteArray* storage = &composedKeys.emplace_back();
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

} // namespace

std::optional<QByteArray> JSONPrinter::print(const JSONDocument& document, const std::optional<QString>& indentUnit,
                                             JSONFormatter::SortMode sortMode, const std::atomic_bool* cancelled)
{
    const char* const begin = document.sourceBytes();
    const char* const end = begin + document.source.size();
    const char* p = skipBlanks(begin, end);
    if (p == end)
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
    if (sortMode != SortMode::none) {
        set.spans = containerSpans(begin, end, cancelled);
        if (cancelled && cancelled->load())
            return std::nullopt;
    }
    // Room for the text of a document nested a few levels deep, printed from a minified one;
    // deeper ones grow it, and room never written costs no memory.
    Growing out(document.source.size() * (set.pretty ? 2 : 1) + 64);
    Writer writer(set, out);
    writer.value(p, 0);
    if (writer.stopped())
        return std::nullopt;
    return out.take();
}
