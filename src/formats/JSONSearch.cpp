#include "formats/JSONSearch.h"


#include <QLocale>

#include <algorithm>
#include <memory>
#include <vector>

namespace JSONSearch {

namespace {

struct Token {
    TextRange range;
    enum class Kind { key, value } kind;
};

std::vector<Token> tokens(QStringView text)
{
    std::vector<Token> out;
    const char16_t* u = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = 0;
    auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    auto isLetter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    while (i < n) {
        const char16_t c = u[i];
        if (c == u'-' || isDigit(c)) {
            const qsizetype s = i++;
            while (i < n && (isDigit(u[i]) || u[i] == u'+' || u[i] == u'-' || u[i] == u'.' || u[i] == u'e' || u[i] == u'E'))
                ++i;
            out.push_back({{s, i - s}, Token::Kind::value});
        } else if (c == u'"') {
            const qsizetype s = i++;
            while (i < n) {
                const char16_t d = u[i];
                if (d == u'\\') {
                    i += (i + 1 < n && (u[i + 1] == u'\n' || u[i + 1] == u'\r')) ? 1 : 2;
                    continue;
                }
                if (d == u'\n' || d == u'\r')
                    break;
                ++i;
                if (d == u'"')
                    break;
            }
            i = std::min(i, n);
            const qsizetype e = i;
            qsizetype j = i;
            while (j < n && (u[j] == u' ' || u[j] == u'\t' || u[j] == u'\n' || u[j] == u'\r'))
                ++j;
            out.push_back({{s, e - s}, j < n && u[j] == u':' ? Token::Kind::key : Token::Kind::value});
        } else if (isLetter(c)) {
            const qsizetype s = i;
            while (i < n && isLetter(u[i]))
                ++i;
            const QStringView word(u + s, i - s);
            if (word == u"true" || word == u"false" || word == u"null")
                out.push_back({{s, i - s}, Token::Kind::value});
        } else {
            ++i;
        }
    }
    return out;
}

// Case and diacritic folding, one code point to at most one: marks vanish, a precomposed letter
// becomes its base letter, case is folded. Table of the Basic Multilingual Plane filled lazily.
class Folder {
public:
    static constexpr char32_t dropped = 0xFFFFFFFF;

    char32_t fold(char32_t c)
    {
        if (c < 0x80)
            return (c >= u'A' && c <= u'Z') ? c + 32 : c;
        if (c < 0x10000) {
            char32_t& slot = m_bmp[c];
            if (slot == 0)
                slot = compute(c) + 1; // store +1 so that 0 means "not yet"
            return slot - 1;
        }
        return compute(c);
    }

private:
    std::vector<char32_t> m_bmp = std::vector<char32_t>(0x10000, 0);

    static char32_t compute(char32_t c)
    {
        if (QChar::category(c) == QChar::Mark_NonSpacing || QChar::category(c) == QChar::Mark_Enclosing)
            return dropped;
        for (int guard = 0; guard < 8 && QChar::decompositionTag(c) == QChar::Canonical; ++guard) {
            const QString d = QChar::decomposition(c);
            if (d.isEmpty())
                break;
            c = d.at(0).isHighSurrogate() && d.size() > 1 ? QChar::surrogateToUcs4(d.at(0), d.at(1)) : d.at(0).unicode();
        }
        return QChar::toCaseFolded(c);
    }
};

// Folded units and, for each, where its character starts in the original text.
struct Folded {
    QString units;
    std::unique_ptr<qint32[]> start; // absent when the folding kept every position (ASCII text)
};

template <class Emit>
void foldUnits(QStringView text, Folder& folder, Emit&& sink)
{
    const char16_t* u = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        char32_t c = u[i];
        qsizetype len = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(u[i + 1])) {
            c = QChar::surrogateToUcs4(char16_t(c), u[i + 1]);
            len = 2;
        }
        const char32_t f = folder.fold(c);
        if (f != Folder::dropped) {
            if (QChar::requiresSurrogates(f)) {
                sink(QChar::highSurrogate(f), i);
                sink(QChar::lowSurrogate(f), i);
            } else {
                sink(char16_t(f), i);
            }
        }
        i += len;
    }
}

Folded foldText(QStringView text, Folder& folder)
{
    Folded out;
    const char16_t* u = text.utf16();
    const qsizetype n = text.size();
    bool ascii = true;
    for (qsizetype i = 0; i < n && ascii; ++i)
        ascii = u[i] < 0x80;
    if (ascii) {
        out.units = QString(n, Qt::Uninitialized);
        char16_t* w = reinterpret_cast<char16_t*>(out.units.data());
        for (qsizetype i = 0; i < n; ++i)
            w[i] = (u[i] >= u'A' && u[i] <= u'Z') ? char16_t(u[i] + 32) : u[i];
        return out;
    }
    // Folding never lengthens the text: a character folds to at most as many units as it has.
    out.units = QString(n, Qt::Uninitialized);
    out.start.reset(new qint32[size_t(n) + 1]); // written before read, so left uninitialised
    char16_t* w = reinterpret_cast<char16_t*>(out.units.data());
    qint32* at = out.start.get();
    qsizetype k = 0;
    for (qsizetype i = 0; i < n;) {
        const char16_t c = u[i];
        if (c < 0x80) {
            w[k] = (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
            at[k++] = qint32(i++);
            continue;
        }
        char32_t cp = c;
        qsizetype len = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(u[i + 1])) {
            cp = QChar::surrogateToUcs4(c, u[i + 1]);
            len = 2;
        }
        const char32_t f = folder.fold(cp);
        if (f != Folder::dropped) {
            if (QChar::requiresSurrogates(f) && len == 2) {
                w[k] = QChar::highSurrogate(f);
                at[k++] = qint32(i);
                w[k] = QChar::lowSurrogate(f);
                at[k++] = qint32(i);
            } else if (!QChar::requiresSurrogates(f)) {
                w[k] = char16_t(f);
                at[k++] = qint32(i);
            } else {
                w[k] = c; // keeps the length promise; such a fold does not occur in practice
                at[k++] = qint32(i);
            }
        }
        i += len;
    }
    at[k] = qint32(n);
    out.units.truncate(k);
    return out;
}

} // namespace

QString rawValue(Scope scope)
{
    switch (scope) {
    case Scope::keys: return QStringLiteral("keys");
    case Scope::values: return QStringLiteral("values");
    case Scope::all: break;
    }
    return QStringLiteral("all");
}

std::optional<Scope> scopeFromRawValue(const QString& raw)
{
    for (Scope s : allScopes)
        if (rawValue(s) == raw)
            return s;
    return std::nullopt;
}

MatchList matches(const QString& query, const QString& text, Scope scope, const std::atomic_bool* cancelled)
{
    MatchList found;
    if (query.isEmpty() || text.isEmpty())
        return found;
    if (text.size() >= std::numeric_limits<qint32>::max())
        return found;
    Folder folder;
    QString foldedQuery;
    foldUnits(query, folder, [&](char16_t c, qsizetype) { foldedQuery.append(QChar(c)); });
    if (foldedQuery.isEmpty())
        return found;
    const Folded folded = foldText(text, folder);
    const QStringView haystack(folded.units);
    const bool identity = !folded.start;
    qsizetype from = 0;
    quint32 steps = 0;
    while (from < haystack.size()) {
        const qsizetype at = haystack.indexOf(foldedQuery, from);
        if (at < 0)
            break;
        const qsizetype endFolded = at + foldedQuery.size();
        TextRange r;
        if (identity) {
            r = {at, foldedQuery.size()};
        } else {
            r.location = folded.start[at];
            r.length = folded.start[endFolded] - r.location;
        }
        if (r.length > 0 && (found.isEmpty() || r.location >= found.last().end()))
            found.append(r);
        from = endFolded;
        if ((++steps & 0x3FF) == 0 && cancelled && cancelled->load(std::memory_order_relaxed))
            return found;
    }
    if (scope == Scope::all)
        return found;
    const Token::Kind wanted = scope == Scope::keys ? Token::Kind::key : Token::Kind::value;
    std::vector<Token> all = tokens(text);
    MatchList kept;
    auto t = all.begin();
    for (const TextRange& m : std::as_const(found)) {
        while (t != all.end() && (t->kind != wanted || t->range.end() <= m.location))
            ++t;
        if (t == all.end())
            break;
        if (t->range.location <= m.location && t->range.end() >= m.end())
            kept.append(m);
    }
    return kept;
}

std::optional<TextRange> target(TextRange selection, const MatchList& list, bool forward)
{
    if (list.isEmpty())
        return std::nullopt;
    if (forward) {
        const auto it = std::lower_bound(list.begin(), list.end(), selection.end(),
                                         [](const TextRange& m, qsizetype v) { return m.location < v; });
        return it == list.end() ? list.first() : *it;
    }
    // Ends ascend with locations, since matches never overlap.
    const auto it = std::upper_bound(list.begin(), list.end(), selection.location,
                                     [](qsizetype v, const TextRange& m) { return v < m.end(); });
    return it == list.begin() ? list.last() : *(it - 1);
}

QString statusText(const MatchList& list, TextRange current)
{
    if (list.isEmpty())
        return QStringLiteral("No matches");
    const QLocale locale;
    const QString noun = list.size() == 1 ? QStringLiteral("match") : QStringLiteral("matches");
    const QString count = locale.toString(qlonglong(list.size()));
    if (const auto i = index(current, list))
        return locale.toString(qlonglong(*i + 1)) + QStringLiteral(" of ") + count + u' ' + noun;
    return count + u' ' + noun;
}

std::optional<qsizetype> index(TextRange range, const MatchList& list)
{
    const auto it = std::lower_bound(list.begin(), list.end(), range.location,
                                     [](const TextRange& m, qsizetype v) { return m.location < v; });
    if (it != list.end() && *it == range)
        return qsizetype(it - list.begin());
    return std::nullopt;
}

Segment segment(qsizetype position, const MatchList& list, qsizetype textLength)
{
    if (list.isEmpty())
        return Segment{false, -1, {0, std::max<qsizetype>(0, textLength)}};
    const auto it = std::upper_bound(list.begin(), list.end(), position,
                                     [](qsizetype v, const TextRange& m) { return v < m.end(); });
    if (it != list.end()) {
        if (position >= it->location)
            return Segment{true, qsizetype(it - list.begin()), *it};
        const qsizetype gapStart = it == list.begin() ? 0 : (it - 1)->end();
        return Segment{false, -1, {gapStart, it->location - gapStart}};
    }
    const qsizetype lastEnd = list.last().end();
    return Segment{false, -1, {lastEnd, std::max(textLength, lastEnd) - lastEnd}};
}

} // namespace JSONSearch
