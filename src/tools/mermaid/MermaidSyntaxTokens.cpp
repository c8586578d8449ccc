#include "tools/mermaid/MermaidSyntaxTokens.h"

#include <QStringList>

#include <unicode/uregex.h>

#include <algorithm>
#include <array>
#include <memory>

namespace MermaidSyntaxTokens {

std::optional<Token> tokenFromRaw(std::uint8_t raw)
{
    if (raw > 6)
        return std::nullopt;
    return Token(raw);
}

const QList<QString>& keywords()
{
    static const QList<QString> words = QStringLiteral(
        "subgraph end direction participant actor note over loop alt else opt par and rect critical break "
        "activate deactivate autonumber class click style classDef linkStyle state section title accTitle accDescr")
                                            .split(QLatin1Char(' '));
    return words;
}

const QList<QString>& diagramTypes()
{
    // A word that begins another comes after it ("stateDiagram-v2" before "stateDiagram").
    static const QList<QString> words = QStringLiteral(
        "flowchart graph sequenceDiagram classDiagram stateDiagram-v2 stateDiagram erDiagram journey gantt pie "
        "quadrantChart requirementDiagram gitGraph mindmap timeline zenuml sankey-beta xychart-beta block-beta "
        "packet-beta architecture-beta kanban radar-beta treemap-beta C4Context C4Container")
                                                .split(QLatin1Char(' '));
    return words;
}

// ---------------------------------------------------------------------------------------------
// The scanner

namespace {

constexpr std::uint8_t P = std::uint8_t(Token::punctuation);
constexpr std::uint8_t L = std::uint8_t(Token::label);
constexpr std::uint8_t A = std::uint8_t(Token::arrow);
constexpr std::uint8_t K = std::uint8_t(Token::keyword);
constexpr std::uint8_t D = std::uint8_t(Token::diagramType);
constexpr std::uint8_t C = std::uint8_t(Token::comment);

bool isASCIIWordUnit(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

bool isASCIILetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// The pattern engine's white space.
bool isSpace(char16_t c)
{
    if ((c >= 9 && c <= 13) || c == 32)
        return true;
    switch (c) {
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

bool isLineTerminator(char16_t c)
{
    return (c >= 10 && c <= 13) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

enum class Boundary { yes, no, undecided };

// Whether the unit at `i` (or the end) ends a word that ends just before it.
Boundary endsWord(const char16_t* u, qsizetype n, qsizetype i)
{
    if (i >= n)
        return Boundary::yes;
    const char16_t c = u[i];
    if (c < 128)
        return isASCIIWordUnit(c) ? Boundary::no : Boundary::yes;
    return isSpace(c) ? Boundary::yes : Boundary::undecided;
}

// Words packed once: for each its length, then its units; a 0 after the last.
std::vector<char16_t> pack(const QList<QString>& words)
{
    std::vector<char16_t> packed;
    for (const QString& word : words) {
        packed.push_back(char16_t(word.size()));
        for (QChar c : word)
            packed.push_back(c.unicode());
    }
    packed.push_back(0);
    return packed;
}

const std::vector<char16_t>& packedKeywords()
{
    static const std::vector<char16_t> packed = pack(keywords());
    return packed;
}

const std::vector<char16_t>& packedDiagramTypes()
{
    static const std::vector<char16_t> packed = pack(diagramTypes());
    return packed;
}

// The first packed word found at `i` that ends a word there: its length, 0 for none, -1 when a
// boundary cannot be decided.
qsizetype matchWord(const std::vector<char16_t>& packed, const char16_t* u, qsizetype n, qsizetype i)
{
    for (size_t k = 0; packed[k] != 0; k += packed[k] + 1) {
        const qsizetype length = packed[k];
        if (i + length > n || !std::equal(packed.begin() + k + 1, packed.begin() + k + 1 + length, u + i))
            continue;
        switch (endsWord(u, n, i + length)) {
        case Boundary::yes: return length;
        case Boundary::undecided: return -1;
        case Boundary::no: break;
        }
    }
    return 0;
}

void labelsBetween(const char16_t* u, qsizetype n, std::uint8_t* out, char16_t open, char16_t close)
{
    qsizetype p = 1;
    while (p < n) {
        if (u[p - 1] != open) {
            ++p;
            continue;
        }
        qsizetype q = p;
        while (q < n && u[q] != u'\n' && u[q] != open && u[q] != close)
            ++q;
        if (q < n && u[q] == close && q > p) {
            std::fill(out + p, out + q, L);
            p = q;
        } else {
            ++p;
        }
    }
}

bool isArrowRunUnit(char16_t c) { return c == u'-' || c == u'=' || c == u'.'; }
bool isArrowHeadUnit(char16_t c) { return c == u'-' || c == u'>' || c == u'x' || c == u'o'; }

// The length of the arrow at `p`, in the order the pattern tries its alternatives, or 0.
qsizetype arrowAt(const char16_t* u, qsizetype n, qsizetype p)
{
    qsizetype start = p;
    if (start < n && u[start] == u'<')
        ++start;
    qsizetype run = 0;
    while (run < 3 && start + run < n && isArrowRunUnit(u[start + run]))
        ++run;
    for (qsizetype k = run; k >= 1; --k) {
        const qsizetype h = start + k;
        qsizetype heads = 0;
        while (heads < 2 && h + heads < n && isArrowHeadUnit(u[h + heads]))
            ++heads;
        if (heads == 0)
            continue;
        qsizetype end = h + heads;
        for (int g = 0; g < 2 && end < n && u[end] == u'>'; ++g)
            ++end;
        return end - p;
    }
    if (p + 3 <= n) {
        const char16_t a = u[p], b = u[p + 1], c = u[p + 2];
        if ((a == u'-' && b == u'-' && (c == u'x' || c == u'o')) || (a == u'=' && b == u'=' && c == u'=')
            || (a == u'-' && b == u'.' && c == u'-'))
            return 3;
    }
    return 0;
}

} // namespace

std::optional<Classification> scanTokens(QStringView text)
{
    const qsizetype n = text.size();
    const char16_t* u = reinterpret_cast<const char16_t*>(text.data());
    Classification classes(size_t(n), 0);
    std::uint8_t* out = classes.data();

    // 1. punctuation
    for (qsizetype i = 0; i < n; ++i) {
        switch (u[i]) {
        case u'(': case u')': case u'<': case u'>': case u'[': case u']': case u'{': case u'}': case u'|':
            out[i] = P;
            break;
        default:
            break;
        }
    }
    // 2. labels
    labelsBetween(u, n, out, u'[', u']');
    labelsBetween(u, n, out, u'{', u'}');
    labelsBetween(u, n, out, u'(', u')');
    labelsBetween(u, n, out, u'|', u'|');
    // 3. strings
    for (qsizetype p = 0; p < n;) {
        if (u[p] != u'"') {
            ++p;
            continue;
        }
        qsizetype q = p + 1;
        bool closed = false;
        while (q < n) {
            if (u[q] == u'"') {
                closed = true;
                break;
            }
            if (u[q] == u'\\') {
                if (q + 1 >= n || isLineTerminator(u[q + 1]))
                    break;
                q += 2;
                continue;
            }
            ++q;
        }
        if (closed) {
            std::fill(out + p, out + q + 1, L);
            p = q + 1;
        } else {
            p = q + 1;
        }
    }
    // 4. arrows
    for (qsizetype p = 0; p < n;) {
        const qsizetype length = arrowAt(u, n, p);
        if (length > 0) {
            std::fill(out + p, out + p + length, A);
            p += length;
        } else {
            ++p;
        }
    }
    // 5. keywords
    const std::vector<char16_t>& words = packedKeywords();
    for (qsizetype p = 0; p < n;) {
        if (!isASCIILetter(u[p]) || (p > 0 && u[p - 1] < 128 && isASCIIWordUnit(u[p - 1]))) {
            ++p;
            continue;
        }
        const qsizetype length = matchWord(words, u, n, p);
        if (length < 0)
            return std::nullopt;
        if (length == 0) {
            ++p;
            continue;
        }
        if (p > 0 && u[p - 1] >= 128 && !isSpace(u[p - 1]))
            return std::nullopt;
        std::fill(out + p, out + p + length, K);
        p += length;
    }
    // 6. diagram types at line starts
    const std::vector<char16_t>& types = packedDiagramTypes();
    for (qsizetype s = 0; s < n; ++s) {
        const bool lineStart = s == 0
            || (u[s - 1] >= 10 && u[s - 1] <= 13 && !(u[s - 1] == u'\r' && u[s] == u'\n'))
            || u[s - 1] == 0x85 || u[s - 1] == 0x2028 || u[s - 1] == 0x2029;
        if (!lineStart)
            continue;
        qsizetype i = s;
        while (i < n && isSpace(u[i]))
            ++i;
        const qsizetype length = matchWord(types, u, n, i);
        if (length < 0)
            return std::nullopt;
        if (length > 0)
            std::fill(out + s, out + i + length, D);
    }
    // 7. comments
    for (qsizetype p = 0; p + 1 < n;) {
        if (u[p] != u'%' || u[p + 1] != u'%') {
            ++p;
            continue;
        }
        qsizetype q = p + 2;
        while (q < n && !isLineTerminator(u[q]))
            ++q;
        std::fill(out + p, out + q, C);
        p = q + 1;
    }
    return classes;
}

// ---------------------------------------------------------------------------------------------
// The pattern path

namespace {

struct Rule {
    QString pattern;
    uint32_t flags = 0;
    std::uint8_t token = 0;
    int group = 0;
};

const std::array<Rule, 11>& rules()
{
    static const std::array<Rule, 11> table = [] {
        const QString g = QStringLiteral("((?>[\\s]*)(?:") + diagramTypes().join(QLatin1Char('|'))
            + QStringLiteral(")\\b)");
        return std::array<Rule, 11>{{
            {QStringLiteral("[\\[\\]{}()<>|]"), 0, P, 0},
            {QStringLiteral("(?<=\\[)[^\\[\\]\\n]+(?=\\])"), 0, L, 0},
            {QStringLiteral("(?<=\\{)[^\\{\\}\\n]+(?=\\})"), 0, L, 0},
            {QStringLiteral("(?<=\\()[^\\(\\)\\n]+(?=\\))"), 0, L, 0},
            {QStringLiteral("(?<=\\|)[^|\\n]+(?=\\|)"), 0, L, 0},
            {QStringLiteral("\"[^\"\\\\]*(?:\\\\.(?>[^\"\\\\]*))*\""), 0, L, 0},
            {QStringLiteral("(?:<?[-=.]{1,3}[->xo]{1,2}>?>?|--[xo]|===|-\\.-)"), 0, A, 0},
            {QStringLiteral("\\b(?:") + keywords().join(QLatin1Char('|')) + QStringLiteral(")\\b"), 0, K, 0},
            {QStringLiteral("\\A") + g, 0, D, 1},
            {QStringLiteral("(?<![\\s])[\\h]*\\R") + g, 0, D, 1},
            {QStringLiteral("%%.*$"), UREGEX_MULTILINE, C, 0},
        }};
    }();
    return table;
}

struct RegexCloser {
    void operator()(URegularExpression* r) const { uregex_close(r); }
};
using Regex = std::unique_ptr<URegularExpression, RegexCloser>;

// Compiled once per thread: an ICU expression is not to be used by two threads at once.
const std::array<Regex, 11>& compiledRules()
{
    thread_local const std::array<Regex, 11> compiled = [] {
        std::array<Regex, 11> out;
        for (size_t i = 0; i < rules().size(); ++i) {
            const Rule& rule = rules()[i];
            UErrorCode status = U_ZERO_ERROR;
            UParseError parseError;
            URegularExpression* re = uregex_open(reinterpret_cast<const UChar*>(rule.pattern.utf16()),
                                                 int32_t(rule.pattern.size()), rule.flags, &parseError, &status);
            if (U_FAILURE(status))
                qFatal("Mermaid token pattern %zu does not compile", i);
            out[i].reset(re);
        }
        return out;
    }();
    return compiled;
}

} // namespace

Classification matchTokens(QStringView text)
{
    const qsizetype n = text.size();
    Classification classes(size_t(n), 0);
    if (n == 0)
        return classes;
    const auto& compiled = compiledRules();
    for (size_t r = 0; r < rules().size(); ++r) {
        URegularExpression* re = compiled[r].get();
        UErrorCode status = U_ZERO_ERROR;
        uregex_setText(re, reinterpret_cast<const UChar*>(text.data()), int32_t(n), &status);
        if (U_FAILURE(status))
            continue;
        const int group = rules()[r].group;
        while (uregex_findNext(re, &status) && U_SUCCESS(status)) {
            const int32_t start = uregex_start(re, group, &status);
            const int32_t end = uregex_end(re, group, &status);
            if (U_FAILURE(status))
                break;
            if (start >= 0 && end > start)
                std::fill(classes.begin() + start, classes.begin() + end, rules()[r].token);
        }
        // The expression must not keep pointing at the caller's text.
        status = U_ZERO_ERROR;
        uregex_setText(re, u"", 0, &status);
    }
    return classes;
}

Classification tokens(QStringView text)
{
    if (std::optional<Classification> scanned = scanTokens(text))
        return std::move(*scanned);
    return matchTokens(text);
}

} // namespace MermaidSyntaxTokens
