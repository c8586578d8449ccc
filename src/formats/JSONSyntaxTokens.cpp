#include "formats/JSONSyntaxTokens.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstring>

namespace JSONSyntaxTokens {

namespace {

struct Rule {
    QRegularExpression pattern;
    Token kind;
};

// The dot of the escape pairs stops at every line terminator, not only at LF; the key's gap
// before its colon is White_Space without LF. Both quantifiers over string bodies are possessive:
// the alternatives are disjoint, so this changes no match and keeps long strings linear.
const std::vector<Rule>& rules()
{
    static const std::vector<Rule> list = [] {
        const auto options = QRegularExpression::UseUnicodePropertiesOption;
        const QString escape = QStringLiteral("\\\\[^\\n\\x{0B}\\f\\r\\x{85}\\x{2028}\\x{2029}]");
        const QString gap = QStringLiteral(
            "[\\t\\x{0B}\\f\\r \\x{85}\\x{A0}\\x{1680}\\x{2000}-\\x{200A}\\x{2028}\\x{2029}\\x{202F}\\x{205F}\\x{3000}]");
        std::vector<Rule> r;
        r.push_back({QRegularExpression(QStringLiteral("[\\{\\}\\[\\],:]"), options), Token::punctuation});
        r.push_back({QRegularExpression(
                         QStringLiteral("(?<![A-Za-z_\"])-?\\d+(?:\\.\\d+)?(?:[eE][+\\-]?\\d+)?(?![A-Za-z_])"), options),
                     Token::number});
        r.push_back({QRegularExpression(QStringLiteral("\\b(?:true|false|null)\\b"), options), Token::keyword});
        r.push_back({QRegularExpression(QStringLiteral("\"(?:[^\"\\\\]|%1)*+\"").arg(escape), options), Token::string});
        r.push_back({QRegularExpression(QStringLiteral("\"(?:[^\"\\\\\\n]|%1)*+\"(?=%2*+:)").arg(escape, gap), options),
                     Token::key});
        for (const Rule& rule : r)
            if (!rule.pattern.isValid())
                qFatal("%s:%d: invalid highlight pattern: %s", __FILE__, __LINE__,
                       qPrintable(rule.pattern.errorString()));
        return r;
    }();
    return list;
}

bool isAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool isAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool isWordUnit(char16_t c) { return isAsciiLetter(c) || isAsciiDigit(c) || c == u'_'; }

bool isWhiteSpaceButLineFeed(char16_t c)
{
    switch (c) {
    case 0x09: case 0x0B: case 0x0C: case 0x0D: case 0x20: case 0x85: case 0xA0: case 0x1680:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

void mark(TokenArray& out, qsizetype from, qsizetype to, Token kind)
{
    std::fill(out.begin() + from, out.begin() + to, kind);
}

// End of the number the pattern matches at p, or -1: greedy, then given back in the order a
// backtracking matcher gives it back, until the unit after it is no letter or underscore.
qsizetype numberAt(const char16_t* u, qsizetype n, qsizetype p)
{
    if (p > 0 && (isAsciiLetter(u[p - 1]) || u[p - 1] == u'_' || u[p - 1] == u'"'))
        return -1;
    qsizetype i = p;
    if (i < n && u[i] == u'-')
        ++i;
    const qsizetype intStart = i;
    while (i < n && isAsciiDigit(u[i]))
        ++i;
    const qsizetype intEnd = i;
    if (intEnd == intStart)
        return -1;
    qsizetype fracStart = -1, fracEnd = -1;
    if (i + 1 < n && u[i] == u'.' && isAsciiDigit(u[i + 1])) {
        fracStart = i + 1;
        i = fracStart;
        while (i < n && isAsciiDigit(u[i]))
            ++i;
        fracEnd = i;
    }
    qsizetype expStart = -1, expEnd = -1;
    if (i < n && (u[i] == u'e' || u[i] == u'E')) {
        qsizetype j = i + 1;
        if (j < n && (u[j] == u'+' || u[j] == u'-'))
            ++j;
        if (j < n && isAsciiDigit(u[j])) {
            expStart = j;
            while (j < n && isAsciiDigit(u[j]))
                ++j;
            expEnd = j;
        }
    }
    auto fits = [&](qsizetype end) { return end >= n || !(isAsciiLetter(u[end]) || u[end] == u'_'); };
    if (expStart >= 0)
        for (qsizetype e = expEnd; e > expStart; --e)
            if (fits(e))
                return e;
    if (fracStart >= 0) {
        for (qsizetype f = fracEnd; f > fracStart; --f)
            if (fits(f))
                return f;
    }
    for (qsizetype e = intEnd; e > intStart; --e)
        if (fits(e))
            return e;
    return -1;
}

void classifySegment(const char16_t* u, qsizetype n, qsizetype a, qsizetype b, TokenArray& out)
{
    for (qsizetype p = a; p < b; ++p) {
        switch (u[p]) {
        case u'{': case u'}': case u'[': case u']': case u',': case u':': out[size_t(p)] = Token::punctuation; break;
        default: break;
        }
    }
    for (qsizetype p = a; p < b;) {
        if (u[p] == u'-' || isAsciiDigit(u[p])) {
            const qsizetype end = numberAt(u, n, p);
            if (end > p) {
                mark(out, p, end, Token::number);
                p = end;
                continue;
            }
        }
        ++p;
    }
    static const QStringView words[] = {u"true", u"false", u"null"};
    for (qsizetype p = a; p < b;) {
        qsizetype matched = 0;
        if (u[p] == u't' || u[p] == u'f' || u[p] == u'n') {
            for (QStringView w : words) {
                if (n - p >= w.size() && std::memcmp(u + p, w.utf16(), size_t(w.size()) * 2) == 0
                    && !(p > 0 && isWordUnit(u[p - 1])) && !(p + w.size() < n && isWordUnit(u[p + w.size()]))) {
                    matched = w.size();
                    break;
                }
            }
        }
        if (matched) {
            mark(out, p, p + matched, Token::keyword);
            p += matched;
        } else {
            ++p;
        }
    }
}

void keyStep(const char16_t* u, qsizetype n, TokenArray& out)
{
    qsizetype p = 0;
    while (p < n) {
        if (u[p] != u'"' || p + 1 >= n) {
            ++p;
            continue;
        }
        qsizetype i = p + 1;
        qsizetype close = -1;
        while (i < n) {
            const char16_t c = u[i];
            if (c == u'\\') {
                if (i + 1 >= n)
                    break;
                const char16_t d = u[i + 1];
                if (d == 10 || d == 11 || d == 12 || d == 13 || d == 133 || d == 8232 || d == 8233)
                    break;
                i += 2;
                continue;
            }
            if (c == u'\n')
                break;
            if (c == u'"') {
                close = i;
                break;
            }
            ++i;
        }
        if (close < 0) {
            p = std::max(i, p + 1);
            continue;
        }
        qsizetype j = close + 1;
        while (j < n && isWhiteSpaceButLineFeed(u[j]))
            ++j;
        if (j < n && u[j] == u':') {
            mark(out, p, close + 1, Token::key);
            p = close + 1;
        } else {
            p = close; // a closing quotation mark may open the next attempt
        }
    }
}

} // namespace

std::optional<Token> tokenFromRawValue(quint8 raw)
{
    return raw <= quint8(Token::key) ? std::optional<Token>(Token(raw)) : std::nullopt;
}

std::optional<TokenArray> scannedTokens(QStringView units)
{
    const char16_t* u = units.utf16();
    const qsizetype n = units.size();
    TokenArray out(size_t(n), Token::plain);
    qsizetype segment = 0;
    for (qsizetype i = 0; i < n;) {
        const char16_t c = u[i];
        if (c == 9 || c == 10 || c == 13) {
            ++i;
            continue;
        }
        if (c == u'"') {
            classifySegment(u, n, segment, i, out);
            const qsizetype open = i++;
            for (;;) {
                if (i >= n)
                    return std::nullopt;
                const char16_t d = u[i];
                if (d == u'\\') {
                    if (i + 1 >= n || u[i + 1] < 32 || u[i + 1] > 126)
                        return std::nullopt;
                    i += 2;
                    continue;
                }
                if (d == u'"')
                    break;
                ++i;
            }
            mark(out, open, i + 1, Token::string);
            segment = ++i;
            continue;
        }
        if (c < 32 || c > 126 || c == u'\\')
            return std::nullopt;
        ++i;
    }
    classifySegment(u, n, segment, n, out);
    keyStep(u, n, out);
    return out;
}

TokenArray patternTokens(QStringView units)
{
    // The matcher refuses text with a lone surrogate; U+FFFD has the same length.
    QString subject = units.toString();
    char16_t* s = reinterpret_cast<char16_t*>(subject.data());
    for (qsizetype i = 0; i < subject.size(); ++i) {
        if (QChar::isHighSurrogate(s[i]) && i + 1 < subject.size() && QChar::isLowSurrogate(s[i + 1]))
            ++i;
        else if (QChar::isSurrogate(s[i]))
            s[i] = 0xFFFD;
    }
    TokenArray out(size_t(subject.size()), Token::plain);
    for (const Rule& rule : rules()) {
        auto it = rule.pattern.globalMatch(subject);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            if (m.capturedLength() > 0)
                mark(out, m.capturedStart(), m.capturedEnd(), rule.kind);
        }
    }
    return out;
}

TokenArray tokens(const QString& text, TextRange range)
{
    const qsizetype from = qBound(qsizetype(0), range.location, text.size());
    const qsizetype length = qBound(qsizetype(0), range.length, text.size() - from);
    const QStringView units = QStringView(text).mid(from, length);
    if (auto scanned = scannedTokens(units))
        return std::move(*scanned);
    return patternTokens(units);
}

QList<TextRange> longLineRanges(TextRange range, const QString& text, qsizetype limit)
{
    QList<TextRange> out;
    const char16_t* u = reinterpret_cast<const char16_t*>(text.constData());
    qsizetype cursor = qMax<qsizetype>(0, range.location);
    const qsizetype end = qMin(text.size(), range.end());
    while (cursor < end) {
        const qsizetype windowEnd = std::min(end, cursor + limit);
        qsizetype lf = -1;
        for (qsizetype i = windowEnd - 1; i >= cursor; --i)
            if (u[i] == u'\n') {
                lf = i;
                break;
            }
        if (lf >= 0) {
            cursor = lf + 1;
            continue;
        }
        if (end <= cursor + limit)
            break;
        qsizetype lineEnd = end;
        for (qsizetype i = cursor + limit; i < end; ++i)
            if (u[i] == u'\n') {
                lineEnd = i + 1;
                break;
            }
        out.append({cursor, lineEnd - cursor});
        cursor = lineEnd;
    }
    return out;
}

TextRange rangeOfFirstLines(qsizetype count, const QString& text)
{
    qsizetype position = 0;
    for (qsizetype k = 0; k < count && position < text.size(); ++k) {
        const qsizetype lf = text.indexOf(u'\n', position);
        position = lf < 0 ? text.size() : lf + 1;
    }
    return {0, position};
}

// --- IndexSet

void IndexSet::insert(TextRange range)
{
    if (range.length <= 0)
        return;
    qsizetype lo = range.location, hi = range.end();
    // First range that ends at or after lo (touching ranges merge).
    auto first = std::lower_bound(m_ranges.begin(), m_ranges.end(), lo,
                                  [](const TextRange& r, qsizetype v) { return r.end() < v; });
    auto last = first;
    while (last != m_ranges.end() && last->location <= hi) {
        lo = std::min(lo, last->location);
        hi = std::max(hi, last->end());
        ++last;
    }
    const qsizetype at = first - m_ranges.begin();
    m_ranges.erase(first, last);
    m_ranges.insert(at, TextRange{lo, hi - lo});
}

void IndexSet::remove(TextRange range)
{
    if (range.length <= 0)
        return;
    const qsizetype lo = range.location, hi = range.end();
    QList<TextRange> out;
    out.reserve(m_ranges.size() + 1);
    for (const TextRange& r : std::as_const(m_ranges)) {
        if (r.end() <= lo || r.location >= hi) {
            out.append(r);
            continue;
        }
        if (r.location < lo)
            out.append({r.location, lo - r.location});
        if (r.end() > hi)
            out.append({hi, r.end() - hi});
    }
    m_ranges = std::move(out);
}

void IndexSet::shift(qsizetype from, qsizetype delta)
{
    if (delta == 0)
        return;
    QList<TextRange> out;
    out.reserve(m_ranges.size() + 1);
    for (const TextRange& r : std::as_const(m_ranges)) {
        if (r.end() <= from) {
            out.append(r);
        } else if (r.location >= from) {
            out.append({r.location + delta, r.length});
        } else {
            out.append({r.location, from - r.location});
            out.append({from + delta, r.end() - from});
        }
    }
    m_ranges.clear();
    for (const TextRange& r : std::as_const(out))
        if (r.length > 0) {
            if (!m_ranges.isEmpty() && m_ranges.last().end() >= r.location) {
                TextRange& l = m_ranges.last();
                l.length = std::max(l.end(), r.end()) - l.location;
            } else {
                m_ranges.append(r);
            }
        }
}

bool IndexSet::contains(qsizetype position) const
{
    auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), position,
                               [](qsizetype v, const TextRange& r) { return v < r.end(); });
    return it != m_ranges.end() && it->location <= position;
}

bool IndexSet::containsRange(TextRange range) const
{
    if (range.length <= 0)
        return true;
    auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), range.location,
                               [](qsizetype v, const TextRange& r) { return v < r.end(); });
    return it != m_ranges.end() && it->location <= range.location && it->end() >= range.end();
}

QList<TextRange> IndexSet::missing(TextRange range) const
{
    QList<TextRange> out;
    if (range.length <= 0)
        return out;
    qsizetype cursor = range.location;
    const qsizetype end = range.end();
    auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), cursor,
                               [](qsizetype v, const TextRange& r) { return v < r.end(); });
    for (; it != m_ranges.end() && it->location < end && cursor < end; ++it) {
        if (it->location > cursor)
            out.append({cursor, it->location - cursor});
        cursor = std::max(cursor, it->end());
    }
    if (cursor < end)
        out.append({cursor, end - cursor});
    return out;
}

qsizetype IndexSet::count() const
{
    qsizetype total = 0;
    for (const TextRange& r : m_ranges)
        total += r.length;
    return total;
}

// --- LongLines

void LongLines::shift(TextRange editedRange, qsizetype changeInLength)
{
    const qsizetype oldEnd = editedRange.end() - changeInLength;
    std::vector<Entry> kept;
    kept.reserve(lines.size());
    for (Entry& e : lines) {
        if (e.range.end() <= editedRange.location) {
            kept.push_back(std::move(e));
        } else if (e.range.location >= oldEnd) {
            e.range.location += changeInLength;
            kept.push_back(std::move(e));
        }
    }
    lines = std::move(kept);
}

void LongLines::removeLines(TextRange intersecting)
{
    const qsizetype lo = intersecting.location, hi = intersecting.end();
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const Entry& e) {
                                   return std::min(hi, e.range.end()) - std::max(lo, e.range.location) > 0;
                               }),
                lines.end());
}

void LongLines::insert(TextRange range, TokenArray tokens)
{
    auto it = std::upper_bound(lines.begin(), lines.end(), range.location,
                               [](qsizetype v, const Entry& e) { return v < e.range.location; });
    lines.insert(it, Entry{range, std::move(tokens)});
}

std::optional<std::pair<Token, TextRange>> LongLines::token(qsizetype position) const
{
    auto it = std::upper_bound(lines.begin(), lines.end(), position,
                               [](qsizetype v, const Entry& e) { return v < e.range.end(); });
    if (it == lines.end() || position < it->range.location)
        return std::nullopt;
    const qsizetype i = position - it->range.location;
    if (i >= qsizetype(it->tokens.size()))
        return std::nullopt;
    const Token kind = it->tokens[size_t(i)];
    qsizetype lo = i, hi = i + 1;
    while (lo > 0 && it->tokens[size_t(lo - 1)] == kind)
        --lo;
    while (hi < qsizetype(it->tokens.size()) && it->tokens[size_t(hi)] == kind)
        ++hi;
    return std::make_pair(kind, TextRange{it->range.location + lo, hi - lo});
}

// --- Coverage

namespace {
// The lines of a QString, for Coverage.
struct StringLines {
    const QString& text;

    qsizetype size() const { return text.size(); }
    QChar at(qsizetype position) const { return text.at(position); }
    qsizetype lineStart(qsizetype position) const
    {
        if (position <= 0)
            return 0;
        const qsizetype lf = text.lastIndexOf(u'\n', position - 1);
        return lf < 0 ? 0 : lf + 1;
    }
    qsizetype lineEnd(qsizetype from, qsizetype position) const
    {
        if (position > from && position <= text.size() && text.at(position - 1) == u'\n')
            return position;
        const qsizetype lf = text.indexOf(u'\n', position);
        return lf < 0 ? text.size() : lf + 1;
    }
    QList<TextRange> longLines(TextRange span) const { return longLineRanges(span, text, longLineLimit); }
};
} // namespace

QList<TextRange> Coverage::invalidate(TextRange editedRange, qsizetype changeInLength, const QString& text)
{
    return invalidate(editedRange, changeInLength, StringLines{text});
}

QList<TextRange> Coverage::claim(TextRange range, const QString& text)
{
    return claim(range, StringLines{text});
}

} // namespace JSONSyntaxTokens
