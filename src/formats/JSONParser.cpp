#include "formats/JSONParser.h"

#include "formats/JSONTokenScan.h"
#include "formats/RunParts.h"
#include "formats/Utf8Encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>


#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using namespace JSONTokenScan;
using Node = JSONDocument::Node;
using JSONFormatter::FormatError;

struct Fault {
    QString message; // with "%1" where the position goes
    qsizetype offset;
};

// The code point of the well-formed UTF-8 sequence at p, and where the next one starts.
char32_t codePointAt(const char* p, const char* end, const char** next)
{
    const unsigned char b = byteAt(p);
    const int length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (end - p < length) {
        *next = p + 1;
        return QChar::ReplacementCharacter;
    }
    char32_t c = length == 1 ? b : b & (0x7F >> length);
    for (int k = 1; k < length; ++k)
        c = (c << 6) | (byteAt(p + k) & 0x3F);
    *next = p + length;
    return c;
}

// How a character is named in a message: the character itself when it can be seen, else its code.
QString describe(const char* p, const char* end)
{
    if (p >= end)
        return QStringLiteral("end of text");
    const char* next;
    const char32_t c = codePointAt(p, end, &next);
    if (QChar::isPrint(c) && c != u' ' && !QChar::isSpace(c))
        return QStringLiteral("“") + QString::fromUcs4(&c, 1) + QStringLiteral("”");
    return QStringLiteral("character U+") + QString::number(uint(c), 16).rightJustified(4, u'0').toUpper();
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

// Where a byte offset of well-formed UTF-8 stands in UTF-16 units: 1-based line and column, and
// the offset. LF, CR and CR LF each end a line.
struct Position {
    int line;
    int column;
    qsizetype offset;
};
Position positionOf(const char* text, qsizetype size, qsizetype offset)
{
    offset = qBound(qsizetype(0), offset, size);
    int line = 1;
    qsizetype units = 0, lineStart = 0;
    for (qsizetype i = 0; i < offset; ++i) {
        const unsigned char c = byteAt(text + i);
        if ((c & 0xC0) == 0x80)
            continue; // a continuation byte: its sequence is counted at its lead
        units += c >= 0xF0 ? 2 : 1;
        if (c == '\n' || (c == '\r' && !(i + 1 < size && text[i + 1] == '\n'))) {
            ++line;
            lineStart = units;
        }
    }
    return Position{line, int(units - lineStart + 1), units};
}

// The node of a well-formed number literal. One with a fraction or an exponent is flagged, with
// where its point and its exponent stand: the printer may spell it otherwise.
[[gnu::always_inline]] inline Node numberNode(const NumberScan& scan, const char* start, quint32 sourceOffset)
{
    const auto length = quint32(scan.stop - start);
    if (scan.integer || length > 0xFFFF)
        return Node{Node::number, 0, 0, sourceOffset, length, 0};
    return Node{Node::number, Node::fractional, 0, sourceOffset, length,
                quint32(scan.point - start) | quint32(scan.mark - start) << 16};
}

// true, false or null at p (which holds its first letter); the word's kind, or -1.
int scanWord(const char* p, const char* end)
{
    std::string_view word;
    int kind = -1;
    switch (*p) {
    case 't': word = "true"; kind = Node::trueValue; break;
    case 'f': word = "false"; kind = Node::falseValue; break;
    case 'n': word = "null"; kind = Node::null; break;
    default: return -1;
    }
    const qsizetype n = qsizetype(word.size());
    if (end - p < n || std::string_view(p, word.size()) != word)
        return -1;
    if (p + n < end) {
        const char* next;
        if (QChar::isLetterOrNumber(codePointAt(p + n, end, &next)))
            return -1;
    }
    return kind;
}

// ---- The whole-text reader: the reference, and the one that words every fault

class Parser {
public:
    Parser(const QByteArray& text, JSONDocument* doc, bool build, const std::atomic_bool* cancelled)
        : m_begin(text.constData()), m_p(m_begin), m_end(m_begin + text.size()),
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
            // memory, while reserved pages that are never written cost nothing.
            m_doc->nodes.reserve(size_t((m_end - m_begin) / 6 + 16));
        }
        skipSpace();
        qsizetype count = -1;
        if (!parseValue(0, &count))
            return failed();
        skipSpace();
        if (m_p < m_end) {
            fail(QStringLiteral("Unexpected %1 at %2 after the end of the JSON value.").arg(describe(m_p, m_end), u"%1"),
                 m_p);
            return failed();
        }
        if (m_build) {
            const quint32 end = quint32(m_doc->nodes.size());
            pushNode(Node{Node::jump, 0, 0, 0, 0, end});
            m_doc->tape = m_doc->nodes.data();
            m_doc->tapeEnd = end;
        }
        result.topLevelCount = count;
        return result;
    }

private:
    const char* m_begin;
    const char* m_p;
    const char* m_end;
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
            const Position at = positionOf(m_begin, m_end - m_begin, f.offset);
            r.error = FormatError{QString(f.message).replace(QStringLiteral("%1"), QStringLiteral("line %1, column %2").arg(at.line).arg(at.column)),
                                  at.line, at.column, at.offset};
        }
        if (m_build)
            m_doc->nodes.clear();
        return r;
    }

    bool fail(const QString& message, const char* at)
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
        m_p = skipBlanks(m_p, m_end);
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
    void pushNode(const Node& n)
    {
        m_doc->nodes.push_back(n);
    }
    Node& node(qsizetype i) { return m_doc->nodes[size_t(i)]; }
    quint32 offsetOf(const char* p) const { return quint32(p - m_begin); }

    // On entry m_p is at the value's first unit, whitespace skipped.
    bool parseValue(int depth, qsizetype* count = nullptr)
    {
        if (m_p >= m_end)
            return unexpected("a value");
        switch (*m_p) {
        case '{': return parseObject(depth, count);
        case '[': return parseArray(depth, count);
        case '"': return parseString();
        case 't': case 'f': case 'n': return parseWord();
        default:
            if (*m_p == '-' || (*m_p >= '0' && *m_p <= '9'))
                return parseNumber();
            if ((*m_p >= 'a' && *m_p <= 'z') || (*m_p >= 'A' && *m_p <= 'Z'))
                return fail(QStringLiteral("Invalid word at %1; expected a value such as true, false, null, a number, "
                                           "a quoted string, an object or an array."),
                            m_p);
            return unexpected("a value");
        }
    }

    bool parseWord()
    {
        const int kind = scanWord(m_p, m_end);
        if (kind < 0)
            return fail(QStringLiteral("Invalid word at %1; expected true, false or null."), m_p);
        m_p += kind == Node::falseValue ? 5 : 4;
        push(quint8(kind));
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
        if (m_p < m_end && *m_p == ']') {
            ++m_p;
        } else {
            for (;;) {
                if (!parseValue(depth + 1))
                    return false;
                ++count;
                const Next next = afterMember(']', "a value", "“,” or “]”");
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
    Next afterMember(char close, const char* expected, const char* expectedNext)
    {
        skipSpace();
        if (m_p < m_end && *m_p == ',') {
            ++m_p;
            skipSpace();
            if (m_p < m_end && *m_p == close) {
                fail(QStringLiteral("Unexpected “%1” at %2 after a comma; expected %3 (a trailing comma is not allowed).")
                         .arg(QString(QLatin1Char(close)), QStringLiteral("%1"), QString::fromUtf8(expected)),
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
        if (m_p < m_end && *m_p == '}') {
            ++m_p;
        } else {
            for (;;) {
                if (m_p >= m_end || *m_p != '"')
                    return unexpected("a quoted key");
                if (!parseString())
                    return false;
                skipSpace();
                if (m_p >= m_end || *m_p != ':')
                    return unexpected("“:” after the key");
                ++m_p;
                skipSpace();
                if (!parseValue(depth + 1))
                    return false;
                ++count;
                const Next next = afterMember('}', "a quoted key", "“,” or “}”");
                if (next == Next::failed)
                    return false;
                if (next == Next::closed)
                    break;
            }
        }
        finishContainer(self, count, countOut);
        return true;
    }

    bool parseString()
    {
        const char* open = m_p;
        const StringScan s = scanString(open, m_end);
        if (s.fault != StringFault::none) [[unlikely]]
            return stringFault(open, s);
        m_p = s.at + 1;
        if (m_build)
            pushNode(Node{Node::string, s.flags, 0, offsetOf(open), quint32(m_p - open), 0});
        return true;
    }

    [[gnu::noinline]] bool stringFault(const char* open, const StringScan& s)
    {
        switch (s.fault) {
        case StringFault::none:
            break;
        case StringFault::unterminated:
            return fail(QStringLiteral("Unterminated string starting at %1; the closing quotation mark is missing."),
                        open);
        case StringFault::control:
            return fail(QStringLiteral("Unescaped control character U+%1 in a string at %2; write it as an "
                                       "escape such as \\n or \\u%1.")
                            .arg(QString::number(*s.at, 16).rightJustified(4, '0').toUpper(), u"%1"),
                        s.at);
        case StringFault::unicodeEscape:
            return fail(QStringLiteral("Invalid escape at %1; \\u must be followed by four hexadecimal digits."),
                        s.at);
        case StringFault::escape: {
            const char e = s.at[1];
            const QString what = e >= 0x21 && e < 0x7F && e != '%'
                                     ? QStringLiteral("“\\") + QLatin1Char(e) + QStringLiteral("”")
                                     : QStringLiteral("“\\” followed by ") + describe(s.at + 1, m_end);
            return fail(QStringLiteral("Invalid escape ") + what
                            + QStringLiteral(" in a string at %1; allowed are \\\", \\\\, \\/, \\b, \\f, "
                                             "\\n, \\r, \\t and \\u with four hexadecimal digits."),
                        s.at);
        }
        }
        return false;
    }

    bool parseNumber()
    {
        const char* start = m_p;
        const NumberScan scan = scanNumber(start, m_end);
        if (scan.fault != NumberFault::none) [[unlikely]]
            return numberFault(start, scan);
        m_p = scan.stop;
        if (m_build)
            pushNode(numberNode(scan, start, offsetOf(start)));
        return true;
    }

    [[gnu::noinline]] bool numberFault(const char* start, const NumberScan& scan)
    {
        switch (scan.fault) {
        case NumberFault::none:
            break;
        case NumberFault::minus:
            return fail(QStringLiteral("Invalid number at %1; a minus sign must be followed by a digit."), start);
        case NumberFault::leadingZero:
            return fail(QStringLiteral("Invalid number at %1; a number cannot start with a leading zero."), start);
        case NumberFault::point:
            return fail(QStringLiteral("Invalid number at %1; the decimal point must be followed by a digit."), start);
        case NumberFault::exponent:
            return fail(QStringLiteral("Invalid number at %1; the exponent must have at least one digit."), start);
        }
        return false;
    }
};

// ---- Readers of parts
//
// A large text with line breaks is read in parts side by side. A line feed never stands inside a
// string of valid JSON (a string cannot hold a raw control character) nor inside any other token,
// so each part begins just after one, between tokens. A part's reader does not know the
// containers it begins in: inside the containers it opens it checks everything itself, and what
// happens at its own outermost level (values, commas, colons, closing brackets of containers
// opened before it) it lists as events, which are then replayed in order against the real
// nesting. Any fault, wherever it is found, sends the whole text to the whole-text reader, which
// finds the first one and words it; so parts only ever decide about valid text.

enum class Expect : quint8 {
    topValue, topDone, arrayFirst, arrayValue, arrayNext, objectFirst, objectKey, objectColon, objectValue, objectNext
};

struct Level {
    quint32 count;
    Expect expect;
};

struct Event {
    enum Kind : quint8 { value, key, comma, colon, closeArray, closeObject };
    Kind kind;
    qint32 count = -1; // value: a container's member count
};

struct PartResult {
    std::vector<Event> events;
    std::vector<Level> open; // containers opened in the part and still open at its end, outermost first
    int maxOpenDepth = std::numeric_limits<int>::min(); // relative to the part's start
    bool ok = false;
};

// A value starts in a container in state `e`: the state after it, or false when none may.
inline bool valueStarts(Expect& e, quint32& count)
{
    switch (e) {
    case Expect::topValue: e = Expect::topDone; return true;
    case Expect::arrayFirst: case Expect::arrayValue: e = Expect::arrayNext; ++count; return true;
    case Expect::objectValue: e = Expect::objectNext; ++count; return true;
    default: return false;
    }
}

// The same for a key.
inline bool keyStarts(Expect& e)
{
    if (e != Expect::objectFirst && e != Expect::objectKey)
        return false;
    e = Expect::objectColon;
    return true;
}

// Whether a closing bracket, of an object or of an array, may end a container in state `e`.
inline bool closes(Expect e, bool object)
{
    return object ? (e == Expect::objectFirst || e == Expect::objectNext)
                  : (e == Expect::arrayFirst || e == Expect::arrayNext);
}

// Checks text[begin, end), a part of a larger text.
class PartReader {
public:
    PartReader(const char* begin, const char* end, const std::atomic_bool* cancelled)
        : m_begin(begin), m_end(end), m_cancelled(cancelled)
    {
    }

    void run(PartResult& r)
    {
        std::vector<Level>& stack = r.open;
        int outer = 0; // depth of the part's outermost level relative to where it began
        const char* p = m_begin;
        quint32 steps = 0;
        for (;;) {
            p = skipBlanks(p, m_end);
            if (p >= m_end)
                break;
            if ((++steps & 0xFFFF) == 0 && m_cancelled && m_cancelled->load(std::memory_order_relaxed))
                return;
            Level* top = stack.empty() ? nullptr : &stack.back();
            const char c = *p;
            switch (c) {
            case '{':
            case '[': {
                if (top && !valueStarts(top->expect, top->count))
                    return;
                r.maxOpenDepth = std::max(r.maxOpenDepth, outer + int(stack.size()));
                const bool object = c == '{';
                stack.push_back(Level{0, object ? Expect::objectFirst : Expect::arrayFirst});
                ++p;
                continue;
            }
            case '}':
            case ']': {
                const bool object = c == '}';
                if (!top) {
                    r.events.push_back(Event{object ? Event::closeObject : Event::closeArray});
                    --outer;
                    ++p;
                    continue;
                }
                if (!closes(top->expect, object))
                    return;
                const Level closed = *top;
                stack.pop_back();
                if (stack.empty())
                    r.events.push_back(Event{Event::value, qint32(closed.count)});
                ++p;
                continue;
            }
            case ',':
                if (!top)
                    r.events.push_back(Event{Event::comma});
                else if (top->expect == Expect::arrayNext)
                    top->expect = Expect::arrayValue;
                else if (top->expect == Expect::objectNext)
                    top->expect = Expect::objectKey;
                else
                    return;
                ++p;
                continue;
            case ':':
                if (!top)
                    r.events.push_back(Event{Event::colon});
                else if (top->expect == Expect::objectColon)
                    top->expect = Expect::objectValue;
                else
                    return;
                ++p;
                continue;
            case '"': {
                const StringScan s = scanString(p, m_end);
                if (s.fault != StringFault::none)
                    return;
                p = s.at + 1;
                if (!top)
                    r.events.push_back(Event{Event::key});
                else if (!keyStarts(top->expect) && !valueStarts(top->expect, top->count))
                    return;
                continue;
            }
            default: {
                if (c == '-' || (c >= '0' && c <= '9')) {
                    const NumberScan scan = scanNumber(p, m_end);
                    if (scan.fault != NumberFault::none)
                        return;
                    p = scan.stop;
                } else {
                    const int kind = scanWord(p, m_end);
                    if (kind < 0)
                        return;
                    p += kind == Node::falseValue ? 5 : 4;
                }
                if (!top)
                    r.events.push_back(Event{Event::value});
                else if (!valueStarts(top->expect, top->count))
                    return;
                continue;
            }
            }
        }
        r.ok = true;
    }

private:
    const char* m_begin;
    const char* m_end;
    const std::atomic_bool* m_cancelled;
};

// Checks a large text in parts (a tape is made by the whole-text reader alone); nothing when it is
// small, has no line breaks to cut at, or holds a fault (the caller then reads it whole).
std::optional<JSONParser::Result> checkInParts(const QByteArray& text, const std::atomic_bool* cancelled)
{
    constexpr qsizetype partMinimum = qsizetype(1) << 16; // bytes
    constexpr qsizetype textMinimum = WorkPool::kSplitText;
    const qsizetype n = text.size();
    const int wanted = int(WorkPool::parts(n, partMinimum));
    if (wanted < 2 || n < textMinimum || n >= qsizetype(std::numeric_limits<quint32>::max() - 1))
        return std::nullopt;
    const char* const begin = text.constData();
    const char* const end = begin + n;
    std::vector<const char*> cuts{begin};
    for (int k = 1; k < wanted; ++k) {
        const char* at = std::max(begin + n / wanted * k, cuts.back());
        const void* feed = std::memchr(at, '\n', size_t(end - at));
        at = feed ? static_cast<const char*>(feed) : end;
        // A part past half the text leaves the whole-text reader as quick, and it starts no threads.
        if (at - cuts.back() > n / 2)
            return std::nullopt;
        if (at + 1 >= end)
            break;
        if (at + 1 > cuts.back())
            cuts.push_back(at + 1);
    }
    cuts.push_back(end);
    const int parts = int(cuts.size()) - 1;
    if (parts < 2)
        return std::nullopt;

    qsizetype longest = 0;
    for (int k = 0; k < parts; ++k)
        longest = std::max(longest, qsizetype(cuts[size_t(k) + 1] - cuts[size_t(k)]));
    // With most of the text on one line (a part), the whole-text reader is as quick and starts
    // no threads.
    if (longest * 2 > n)
        return std::nullopt;
    std::vector<PartResult> results(static_cast<size_t>(parts));
    std::atomic_bool failed{false};
    runParts(parts, [&](int k) {
        if (failed.load(std::memory_order_relaxed))
            return;
        PartResult& r = results[size_t(k)];
        PartReader(cuts[size_t(k)], cuts[size_t(k) + 1], cancelled).run(r);
        if (!r.ok)
            failed = true;
    });
    if (failed || (cancelled && cancelled->load()))
        return std::nullopt;

    // The events replayed against the real nesting.
    std::vector<Level> stack{Level{0, Expect::topValue}};
    qsizetype topLevelCount = -1;
    for (int k = 0; k < parts; ++k) {
        const PartResult& r = results[size_t(k)];
        if (r.maxOpenDepth != std::numeric_limits<int>::min()
            && int(stack.size()) - 1 + r.maxOpenDepth >= JSONFormatter::maxDepth)
            return std::nullopt;
        for (const Event& e : r.events) {
            Level& top = stack.back();
            switch (e.kind) {
            case Event::value:
            case Event::key:
                if (e.kind == Event::key && keyStarts(top.expect))
                    break;
                if (top.expect == Expect::topValue && e.count >= 0)
                    topLevelCount = e.count;
                if (!valueStarts(top.expect, top.count))
                    return std::nullopt;
                break;
            case Event::comma:
                if (top.expect == Expect::arrayNext)
                    top.expect = Expect::arrayValue;
                else if (top.expect == Expect::objectNext)
                    top.expect = Expect::objectKey;
                else
                    return std::nullopt;
                break;
            case Event::colon:
                if (top.expect != Expect::objectColon)
                    return std::nullopt;
                top.expect = Expect::objectValue;
                break;
            case Event::closeArray:
            case Event::closeObject: {
                if (!closes(top.expect, e.kind == Event::closeObject) || stack.size() < 2)
                    return std::nullopt;
                if (stack.size() == 2)
                    topLevelCount = top.count;
                stack.pop_back();
                break;
            }
            }
        }
        // The outermost was opened in the real nesting; each further one in the one before it.
        if (!r.open.empty() && !valueStarts(stack.back().expect, stack.back().count))
            return std::nullopt;
        stack.insert(stack.end(), r.open.begin(), r.open.end());
    }
    if (stack.size() != 1 || stack[0].expect != Expect::topDone)
        return std::nullopt;

    JSONParser::Result result;
    result.topLevelCount = topLevelCount;
    return result;
}

void clear(JSONDocument* document)
{
    if (!document)
        return;
    document->nodes.clear();
    document->tape = nullptr;
    document->tapeEnd = 0;
}

} // namespace

JSONParser::Result JSONParser::parse(const QByteArray& utf8, JSONDocument* document, bool buildTape,
                                     const std::atomic_bool* cancelled)
{
    clear(document);
    if (document)
        document->source = utf8;
    if (!buildTape) {
        if (std::optional<Result> inParts = checkInParts(utf8, cancelled))
            return *inParts;
    }
    return Parser(utf8, document, buildTape, cancelled).run();
}

std::optional<JSONFormatter::FormatError> JSONParser::encodingFault(const QString& text)
{
    const qsizetype i = loneSurrogate(reinterpret_cast<const char16_t*>(text.constData()), text.size());
    if (i < 0)
        return std::nullopt;
    const QByteArray before = Utf8Encoder::toUtf8(QStringView(text).left(i));
    const Position at = positionOf(before.constData(), before.size(), before.size());
    return JSONFormatter::FormatError{QStringLiteral("Could not encode as UTF-8."), at.line, at.column, i};
}

JSONParser::Result JSONParser::parse(const QString& text, JSONDocument* document, bool buildTape,
                                     const std::atomic_bool* cancelled)
{
    // UTF-8 cannot carry a lone surrogate; that is the fault shown wherever one stands.
    std::optional<JSONFormatter::FormatError> fault = encodingFault(text);
    if (!fault)
        return parse(Utf8Encoder::toUtf8(text), document, buildTape, cancelled);
    clear(document);
    if (document)
        document->source.clear();
    Result r;
    r.error = std::move(fault);
    return r;
}
