#include "tools/json/JSONParser.h"

#include "tools/json/JSONNumberText.h"

#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using Node = JSONDocument::Node;
using JSONFormatter::FormatError;

struct Fault {
    QString message; // with "%1" where the position goes
    qsizetype offset;
};

bool isHex(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }
int hexValue(char16_t c) { return c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10; }

// How a unit is named in a message: the character itself when it can be seen, else its code.
QString describe(const char16_t* p, const char16_t* end)
{
    if (p >= end)
        return QStringLiteral("end of text");
    char32_t c = *p;
    if (QChar::isHighSurrogate(c) && p + 1 < end && QChar::isLowSurrogate(p[1]))
        c = QChar::surrogateToUcs4(char16_t(c), p[1]);
    if (QChar::isPrint(c) && c != u' ' && !QChar::isSpace(c))
        return QStringLiteral("“") + QString::fromUcs4(&c, 1) + QStringLiteral("”");
    return QStringLiteral("character U+") + QString::number(uint(c), 16).rightJustified(4, u'0').toUpper();
}

// Where the plain run of a string body ends: at a quotation mark, a backslash, a control
// character or the end. Strings are most of a large document, so this goes eight units a step.
const char16_t* plainRunEnd(const char16_t* p, const char16_t* end)
{
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi16(u'"');
    const __m128i backslash = _mm_set1_epi16(u'\\');
    const __m128i space = _mm_set1_epi16(0x20);
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // 0x20 - v saturates to zero exactly for units of 0x20 and above.
        const __m128i control = _mm_xor_si128(_mm_cmpeq_epi16(_mm_subs_epu16(space, v), zero), _mm_set1_epi16(-1));
        const __m128i stop = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, quote), _mm_cmpeq_epi16(v, backslash)), control);
        const int mask = _mm_movemask_epi8(stop);
        if (mask)
            return p + __builtin_ctz(unsigned(mask)) / 2;
        p += 8;
    }
#endif
    while (p < end && *p != u'"' && *p != u'\\' && *p >= 0x20)
        ++p;
    return p;
}

// The offset of the first lone surrogate in b[0, n), or -1.
qsizetype loneSurrogate(const char16_t* b, qsizetype n)
{
    qsizetype i = 0;
    while (i < n) {
#if defined(__SSE2__)
        if (n - i >= 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
            const __m128i surrogate =
                _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(short(0xF800))), _mm_set1_epi16(short(0xD800)));
            if (!_mm_movemask_epi8(surrogate)) {
                i += 8;
                continue;
            }
        }
#endif
        const char16_t c = b[i];
        if ((c & 0xF800) != 0xD800) {
            ++i;
            continue;
        }
        if (c < 0xDC00 && i + 1 < n && (b[i + 1] & 0xFC00) == 0xDC00) {
            i += 2;
            continue;
        }
        return i;
    }
    return -1;
}

class Parser {
public:
    Parser(const QString& text, JSONDocument* doc, bool build, const std::atomic_bool* cancelled)
        : m_begin(reinterpret_cast<const char16_t*>(text.constData())), m_p(m_begin), m_end(m_begin + text.size()),
          m_doc(doc), m_build(build && doc), m_cancelled(cancelled)
    {
    }

    JSONParser::Result run()
    {
        JSONParser::Result result;
        if (m_end - m_begin >= qsizetype(std::numeric_limits<quint32>::max() - 1)) {
            result.error = FormatError{QStringLiteral("The text is too large to read as JSON."), 0, 0, -1};
            return result;
        }
        if (m_build) {
            // Room for one value per six units: growing the tape would copy it into fresh
            // memory, while reserved pages that are never written cost nothing. No huge pages:
            // where memory is fragmented the kernel compacts it first, which costs a fresh
            // process more than the faults it saves.
            m_doc->nodes.reserve(size_t((m_end - m_begin) / 6 + 16));
        }
        skipSpace();
        const qsizetype top = m_build ? qsizetype(m_doc->nodes.size()) : 0;
        qsizetype count = -1;
        if (!parseValue(0, &count))
            return failed();
        skipSpace();
        if (m_p < m_end) {
            fail(QStringLiteral("Unexpected %1 at %2 after the end of the JSON value.").arg(describe(m_p, m_end), u"%1"),
                 m_p);
            return failed();
        }
        (void)top;
        result.topLevelCount = count;
        return result;
    }

private:
    const char16_t* m_begin;
    const char16_t* m_p;
    const char16_t* m_end;
    JSONDocument* m_doc;
    bool m_build;
    const std::atomic_bool* m_cancelled;
    std::optional<Fault> m_fault;
    quint32 m_steps = 0;

    JSONParser::Result failed()
    {
        JSONParser::Result r;
        const Fault& f = *m_fault;
        if (f.offset < 0) {
            r.error = FormatError{f.message, 0, 0, -1};
        } else {
            const auto [line, column] = JSONParser::lineAndColumn(
                QStringView(m_begin, m_end - m_begin), f.offset);
            r.error = FormatError{QString(f.message).replace(QStringLiteral("%1"), QStringLiteral("line %1, column %2").arg(line).arg(column)),
                                  line, column, f.offset};
        }
        if (m_build)
            m_doc->nodes.clear();
        return r;
    }

    bool fail(const QString& message, const char16_t* at)
    {
        if (!m_fault)
            m_fault = Fault{message, at - m_begin};
        return false;
    }
    bool unexpected(const char* expectation)
    {
        return fail(QStringLiteral("Unexpected %1 at %2; expected %3.")
                        .arg(describe(m_p, m_end), u"%1", QString::fromUtf8(expectation)),
                    m_p);
    }

    void skipSpace()
    {
        while (m_p < m_end && (*m_p == u' ' || *m_p == u'\n' || *m_p == u'\r' || *m_p == u'\t'))
            ++m_p;
    }

    bool cancelled()
    {
        if ((++m_steps & 0xFFFF) == 0 && m_cancelled && m_cancelled->load(std::memory_order_relaxed))
        {
            m_fault = Fault{QStringLiteral("Cancelled."), -1};
            return true;
        }
        return false;
    }

    qsizetype push(quint8 kind)
    {
        if (!m_build)
            return -1;
        pushNode(Node{kind, 0, 0, 0, 0, 0});
        return qsizetype(m_doc->nodes.size()) - 1;
    }
    void pushNode(const Node& n) { m_doc->nodes.push_back(n); }
    Node& node(qsizetype i) { return m_doc->nodes[size_t(i)]; }
    quint32 offsetOf(const char16_t* p) const { return quint32(p - m_begin); }

    // On entry m_p is at the value's first unit, whitespace skipped.
    bool parseValue(int depth, qsizetype* count = nullptr)
    {
        if (m_p >= m_end)
            return unexpected("a value");
        switch (*m_p) {
        case u'{': return parseObject(depth, count);
        case u'[': return parseArray(depth, count);
        case u'"': return parseString();
        case u't': return parseWord(u"true", Node::trueValue);
        case u'f': return parseWord(u"false", Node::falseValue);
        case u'n': return parseWord(u"null", Node::null);
        default:
            if (*m_p == u'-' || (*m_p >= u'0' && *m_p <= u'9'))
                return parseNumber();
            if ((*m_p >= u'a' && *m_p <= u'z') || (*m_p >= u'A' && *m_p <= u'Z'))
                return fail(QStringLiteral("Invalid word at %1; expected a value such as true, false, null, a number, "
                                           "a quoted string, an object or an array."),
                            m_p);
            return unexpected("a value");
        }
    }

    bool parseWord(QStringView word, quint8 kind)
    {
        if (m_end - m_p < word.size() || QStringView(m_p, word.size()) != word
            || (m_p + word.size() < m_end && QChar::isLetterOrNumber(m_p[word.size()])))
            return fail(QStringLiteral("Invalid word at %1; expected true, false or null."), m_p);
        m_p += word.size();
        push(kind);
        return true;
    }

    bool enter(int depth)
    {
        if (depth >= JSONFormatter::maxDepth)
            return fail(QStringLiteral("The JSON nests deeper than %1 levels at %2.")
                            .arg(JSONFormatter::maxDepth).arg(u"%1"),
                        m_p);
        return !cancelled();
    }

    bool parseArray(int depth, qsizetype* countOut)
    {
        if (!enter(depth))
            return false;
        const qsizetype self = push(Node::array);
        ++m_p;
        skipSpace();
        quint32 count = 0;
        if (m_p < m_end && *m_p == u']') {
            ++m_p;
        } else {
            for (;;) {
                if (!parseValue(depth + 1))
                    return false;
                ++count;
                const Next next = afterMember(u']', "a value", "“,” or “]”");
                if (next == Next::failed)
                    return false;
                if (next == Next::closed)
                    break;
            }
        }
        finishContainer(self, count, countOut);
        return true;
    }

    enum class Next { member, closed, failed };

    // After a member: a comma leads to the next one (never straight to the close), the close
    // ends the container, anything else is an error.
    Next afterMember(char16_t close, const char* expected, const char* expectedNext)
    {
        skipSpace();
        if (m_p < m_end && *m_p == u',') {
            ++m_p;
            skipSpace();
            if (m_p < m_end && *m_p == close) {
                fail(QStringLiteral("Unexpected “%1” at %2 after a comma; expected %3 (a trailing comma is not allowed).")
                         .arg(QChar(close), QStringLiteral("%1"), QString::fromUtf8(expected)),
                     m_p);
                return Next::failed;
            }
            return Next::member;
        }
        if (m_p < m_end && *m_p == close) {
            ++m_p;
            return Next::closed;
        }
        unexpected(expectedNext);
        return Next::failed;
    }

    void finishContainer(qsizetype self, quint32 count, qsizetype* countOut)
    {
        if (m_build) {
            node(self).length = count;
            node(self).extra = quint32(m_doc->nodes.size());
        }
        if (countOut)
            *countOut = count;
    }

    bool parseObject(int depth, qsizetype* countOut)
    {
        if (!enter(depth))
            return false;
        const qsizetype self = push(Node::object);
        ++m_p;
        skipSpace();
        quint32 count = 0;
        if (m_p < m_end && *m_p == u'}') {
            ++m_p;
        } else {
            for (;;) {
                if (m_p >= m_end || *m_p != u'"')
                    return unexpected("a quoted key");
                if (!parseString())
                    return false;
                skipSpace();
                if (m_p >= m_end || *m_p != u':')
                    return unexpected("“:” after the key");
                ++m_p;
                skipSpace();
                if (!parseValue(depth + 1))
                    return false;
                ++count;
                const Next next = afterMember(u'}', "a quoted key", "“,” or “}”");
                if (next == Next::failed)
                    return false;
                if (next == Next::closed)
                    break;
            }
        }
        finishContainer(self, count, countOut);
        return true;
    }

    static int escapedLength(char16_t c)
    {
        switch (c) {
        case u'\b': case u'\t': case u'\n': case u'\f': case u'\r': case u'"': case u'\\': return 2;
        default: return c < 0x20 ? 6 : 1;
        }
    }

    bool parseString()
    {
        const char16_t* open = m_p;
        ++m_p;
        // Fast run over plain characters; lone surrogates were refused before parsing.
        const char16_t* p = plainRunEnd(m_p, m_end);
        quint8 flags = 0;
        qsizetype printed = 0;
        if (p < m_end && *p == u'"') {
            printed = p - open + 1;
        } else {
            flags = Node::escaped;
            printed = p - open;
            while (true) {
                if (p >= m_end)
                    return fail(QStringLiteral("Unterminated string starting at %1; the closing quotation mark is "
                                               "missing."),
                                open);
                const char16_t c = *p;
                if (c == u'"')
                    break;
                if (c < 0x20)
                    return fail(QStringLiteral("Unescaped control character U+%1 in a string at %2; write it as an "
                                               "escape such as \\n or \\u%1.")
                                    .arg(QString::number(c, 16).rightJustified(4, u'0').toUpper(), u"%1"),
                                p);
                if (c != u'\\') {
                    const char16_t* run = plainRunEnd(p + 1, m_end);
                    printed += run - p;
                    p = run;
                    continue;
                }
                if (p + 1 >= m_end)
                    return fail(QStringLiteral("Unterminated string starting at %1; the closing quotation mark is "
                                               "missing."),
                                open);
                const char16_t e = p[1];
                switch (e) {
                case u'"': case u'\\': printed += 2; p += 2; continue;
                case u'/': printed += 1; p += 2; continue;
                case u'b': case u'f': case u'n': case u'r': case u't': printed += 2; p += 2; continue;
                case u'u': {
                    if (m_end - p < 6 || !isHex(p[2]) || !isHex(p[3]) || !isHex(p[4]) || !isHex(p[5]))
                        return fail(QStringLiteral("Invalid escape at %1; \\u must be followed by four hexadecimal "
                                                   "digits."),
                                    p);
                    const char16_t v = char16_t((hexValue(p[2]) << 12) | (hexValue(p[3]) << 8) | (hexValue(p[4]) << 4)
                                                | hexValue(p[5]));
                    p += 6;
                    if (QChar::isHighSurrogate(v) && m_end - p >= 6 && p[0] == u'\\' && p[1] == u'u' && isHex(p[2])
                        && isHex(p[3]) && isHex(p[4]) && isHex(p[5])) {
                        const char16_t low = char16_t((hexValue(p[2]) << 12) | (hexValue(p[3]) << 8)
                                                      | (hexValue(p[4]) << 4) | hexValue(p[5]));
                        if (QChar::isLowSurrogate(low)) {
                            p += 6;
                            printed += 2;
                            continue;
                        }
                    }
                    // A lone surrogate stays an escape so that the output is still valid text.
                    printed += QChar::isSurrogate(v) ? 6 : escapedLength(v);
                    continue;
                }
                default:
                {
                    const QString what = e >= 0x21 && e < 0x7F && e != u'%'
                                             ? QStringLiteral("“\\") + QChar(e) + QStringLiteral("”")
                                             : QStringLiteral("“\\” followed by ") + describe(p + 1, m_end);
                    return fail(QStringLiteral("Invalid escape ") + what
                                    + QStringLiteral(" in a string at %1; allowed are \\\", \\\\, \\/, \\b, \\f, "
                                                     "\\n, \\r, \\t and \\u with four hexadecimal digits."),
                                p);
                }
                }
            }
            ++printed;
        }
        m_p = p + 1;
        if (m_build) {
            Node n;
            n.kind = Node::string;
            n.flags = flags;
            n.offset = offsetOf(open);
            n.length = quint32(m_p - open);
            n.extra = quint32(printed);
            pushNode(n);
        }
        return true;
    }

    bool parseNumber()
    {
        const char16_t* start = m_p;
        const char16_t* p = m_p;
        if (*p == u'-')
            ++p;
        auto digit = [&](const char16_t* q) { return q < m_end && *q >= u'0' && *q <= u'9'; };
        if (!digit(p))
            return fail(QStringLiteral("Invalid number at %1; a minus sign must be followed by a digit."), start);
        if (*p == u'0') {
            ++p;
            if (digit(p))
                return fail(QStringLiteral("Invalid number at %1; a number cannot start with a leading zero."), start);
        } else {
            while (digit(p))
                ++p;
        }
        bool integer = true;
        if (p < m_end && *p == u'.') {
            integer = false;
            ++p;
            if (!digit(p))
                return fail(QStringLiteral("Invalid number at %1; the decimal point must be followed by a digit."),
                            start);
            while (digit(p))
                ++p;
        }
        bool hasExponent = false;
        if (p < m_end && (*p == u'e' || *p == u'E')) {
            integer = false;
            hasExponent = true;
            ++p;
            if (p < m_end && (*p == u'+' || *p == u'-'))
                ++p;
            if (!digit(p))
                return fail(QStringLiteral("Invalid number at %1; the exponent must have at least one digit."), start);
            while (digit(p))
                ++p;
        }
        m_p = p;
        if (!m_build)
            return true;
        Node n;
        n.kind = Node::number;
        n.offset = offsetOf(start);
        n.length = quint32(p - start);
        const QStringView literal(start, p - start);
        // Integers print their digits as typed, whatever their size, "-0" with its sign.
        if (!integer && (hasExponent || !JSONNumberText::isCanonicalDecimal(literal))) {
            char16_t text[40];
            const int length = JSONNumberText::printedDecimal(literal, text);
            if (length >= 0 && QStringView(text, length) != literal) {
                n.flags = Node::inArena;
                n.offset = quint32(m_doc->arena.size());
                n.length = quint32(length);
                m_doc->arena.insert(m_doc->arena.end(), text, text + length);
            }
            // Otherwise the double cannot carry the literal: it is written as typed.
        }
        pushNode(n);
        return true;
    }
};

} // namespace

std::pair<int, int> JSONParser::lineAndColumn(QStringView text, qsizetype offset)
{
    int line = 1;
    qsizetype lineStart = 0;
    offset = qBound(qsizetype(0), offset, text.size());
    for (qsizetype i = 0; i < offset; ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\n' || (c == u'\r' && !(i + 1 < text.size() && text[i + 1] == u'\n'))) {
            ++line;
            lineStart = i + 1;
        } else if (c == u'\r') {
            // CR of a CR LF pair: the LF ends the line
        }
    }
    return {line, int(offset - lineStart + 1)};
}

JSONParser::Result JSONParser::parse(const QString& text, JSONDocument* document, bool buildTape,
                                     const std::atomic_bool* cancelled)
{
    // UTF-8 cannot carry a lone surrogate; find one before reading anything else.
    const char16_t* b = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype i = loneSurrogate(b, text.size());
    if (i >= 0) {
        const auto [line, column] = lineAndColumn(text, i);
        Result r;
        r.error = JSONFormatter::FormatError{
            QStringLiteral("Could not encode as UTF-8."), line, column, i};
        return r;
    }
    if (document) {
        document->source = text;
        document->nodes.clear();
        document->arena.clear();
    }
    Parser parser(text, document, buildTape, cancelled);
    return parser.run();
}
