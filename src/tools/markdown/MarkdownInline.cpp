#include "tools/markdown/MarkdownInline.h"

#include "tools/markdown/MarkdownText.h"

#include <QList>

#include <array>
#include <vector>

using namespace MarkdownText;

namespace {

constexpr char16_t codeMark = 0x0000;
constexpr char16_t pieceMark = 0x0001;

// Finished HTML and raw code taken out of the working string, each behind a numbered marker.
// One per thread, reused from block to block so that short blocks allocate nothing.
struct Stash {
    std::vector<QStringView> codeSpans;     // raw content, inside the block's text
    MarkdownOutput pieceText;               // image tags and link tags, one after another
    std::vector<qsizetype> pieceEnds;       // piece k ends at pieceEnds[k] in pieceText
    std::vector<int> deltas;                // +1 opens a link, -1 closes one, 0 for an image
    MarkdownOutput imageSourceText;         // images as written, one after another
    std::vector<std::pair<qsizetype, qsizetype>> imageSources; // per piece: its source there, empty for links
    std::vector<char> stack;                // for the balance test of emphasis
    MarkdownOutput buffers[2];              // the working string, before and after a pass
    MarkdownOutput target;
    MarkdownOutput alt;

    qsizetype pieceCount() const { return qsizetype(deltas.size()); }
    QStringView piece(qsizetype k) const
    {
        const qsizetype begin = k > 0 ? pieceEnds[size_t(k - 1)] : 0;
        return QStringView(pieceText).sliced(begin, pieceEnds[size_t(k)] - begin);
    }
    qsizetype codeSpanCount() const { return qsizetype(codeSpans.size()); }

    void reset()
    {
        codeSpans.clear();
        clearUnits(pieceText);
        pieceEnds.clear();
        deltas.clear();
        clearUnits(imageSourceText);
        imageSources.clear();
    }

    // A huge block's buffers are not kept for the life of the thread.
    void release()
    {
        constexpr qsizetype keep = 256 * 1024;
        for (MarkdownOutput* s : {&buffers[0], &buffers[1], &pieceText, &target, &alt, &imageSourceText}) {
            if (s->capacity() > keep)
                *s = MarkdownOutput();
        }
        if (codeSpans.capacity() > size_t(keep))
            std::vector<QStringView>().swap(codeSpans);
        if (deltas.capacity() > size_t(keep)) {
            std::vector<int>().swap(deltas);
            std::vector<qsizetype>().swap(pieceEnds);
            std::vector<std::pair<qsizetype, qsizetype>>().swap(imageSources);
        }
    }
};

void appendMarker(MarkdownOutput& out, char16_t kind, qsizetype index)
{
    char16_t units[24];
    int k = 24;
    units[--k] = kind;
    do {
        units[--k] = char16_t(u'0' + index % 10);
        index /= 10;
    } while (index > 0);
    units[--k] = kind;
    appendUnits(out, units + k, 24 - k);
}

// s[p] is a marker character of kind; answers the position past the marker, or -1.
qsizetype readMarker(QStringView s, qsizetype p, char16_t kind, qsizetype* number)
{
    qsizetype q = p + 1;
    qsizetype n = 0;
    while (q < s.size() && s[q].unicode() >= u'0' && s[q].unicode() <= u'9') {
        if (n < (qsizetype(1) << 40))
            n = n * 10 + (s[q].unicode() - u'0');
        ++q;
    }
    if (q == p + 1 || q >= s.size() || s[q].unicode() != kind)
        return -1;
    *number = n;
    return q + 1;
}

void appendEscapedAll(QStringView text, MarkdownOutput& out)
{
    // '"' (34), '&' (38), '<' (60) and '>' (62) as bits of one word.
    constexpr quint64 escaped = (quint64(1) << u'"') | (quint64(1) << u'&') | (quint64(1) << u'<') | (quint64(1) << u'>');
    const char16_t* const units = text.utf16();
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 64 || !((escaped >> u) & 1))
            continue;
        appendUnits(out, units + from, i - from);
        switch (u) {
        case u'&': appendLiteral(out, u"&amp;"); break;
        case u'<': appendLiteral(out, u"&lt;"); break;
        case u'>': appendLiteral(out, u"&gt;"); break;
        default: appendLiteral(out, u"&quot;"); break;
        }
        from = i + 1;
    }
    appendUnits(out, units + from, text.size() - from);
}

// Code-span markers become their content escaped for an attribute; double quotes become &quot;.
void appendAttributeText(QStringView s, const Stash& stash, MarkdownOutput& out)
{
    qsizetype from = 0;
    const char16_t* const base = s.utf16();
    const char16_t* const end = base + s.size();
    for (qsizetype i = 0; i < s.size(); ++i) {
        i = findEither(base + i, end, u'"', codeMark) - base;
        if (i == s.size())
            break;
        const char16_t u = s[i].unicode();
        if (u == u'"') {
            appendView(out, s.sliced(from, i - from));
            appendLiteral(out, u"&quot;");
            from = i + 1;
        } else if (u == codeMark) {
            qsizetype number = 0;
            const qsizetype end = readMarker(s, i, codeMark, &number);
            if (end < 0)
                continue;
            appendView(out, s.sliced(from, i - from));
            if (number < stash.codeSpanCount())
                appendEscapedAll(stash.codeSpans[size_t(number)], out);
            from = end;
            i = end - 1;
        }
    }
    appendView(out, s.sliced(from));
}

// Step 1 and 2: code spans out, everything else escaped.
// Text escaped up to its code spans, each of which is handed to codeSpan(content); one search
// finds the next backtick or character to escape. A backtick that no other closes is text.
template<typename CodeSpan>
void escapeAroundCodeSpans(QStringView raw, MarkdownOutput& out, CodeSpan&& codeSpan)
{
    const char16_t* p = raw.utf16();
    const char16_t* const end = p + raw.size();
    while (p < end) {
        const char16_t* const hit = findEscapable(p, end, u'`');
        appendUnits(out, p, hit - p);
        if (hit == end)
            break;
        if (*hit != u'`') {
            if (*hit == u'&')
                appendLiteral(out, u"&amp;");
            else if (*hit == u'<')
                appendLiteral(out, u"&lt;");
            else
                appendLiteral(out, u"&gt;");
            p = hit + 1;
            continue;
        }
        const char16_t* const close = findEither(hit + 1, end, u'`', u'`');
        if (close == end) {
            MarkdownInline::appendEscapedHTML(QStringView(hit, end), out);
            break;
        }
        if (close == hit + 1) {
            // "``" is a backtick, and the second may open a span.
            appendUnit(out, u'`');
            p = hit + 1;
            continue;
        }
        codeSpan(QStringView(hit + 1, close));
        p = close + 1;
    }
}

void stashCodeSpans(QStringView raw, Stash& stash, MarkdownOutput& w)
{
    w.reserve(raw.size() + raw.size() / 8 + 8);
    escapeAroundCodeSpans(raw, w, [&](QStringView content) {
        appendMarker(w, codeMark, stash.codeSpanCount());
        stash.codeSpans.push_back(content);
    });
}

// Steps 1, 2, 7 and 8 of a text whose only constructs are code spans: what stashCodeSpans() and
// restore() make of it, written at once.
void appendCodeSpans(QStringView raw, MarkdownOutput& out)
{
    escapeAroundCodeSpans(raw, out, [&](QStringView content) {
        appendLiteral(out, u"<code>");
        appendEscapedAll(content, out);
        appendLiteral(out, u"</code>");
    });
}

// The destination, optional title and closing parenthesis of an image or link, from d (just
// after "](").
bool matchDestination(QStringView w, qsizetype d, qsizetype* destEnd, qsizetype* matchEnd)
{
    const qsizetype n = w.size();
    if (d >= n)
        return false;
    {
        const char16_t c = w[d].unicode();
        if (c == u')' || c == pieceMark || isPatternSpace(c))
            return false;
    }
    qsizetype e = d;
    for (;;) {
        while (e < n) {
            const char16_t c = w[e].unicode();
            if (c == u')' || c == u']' || c == pieceMark || isPatternSpace(c))
                break;
            ++e;
        }
        if (e < n && w[e].unicode() == u']' && !(e + 1 < n && w[e + 1].unicode() == u'(')) {
            ++e;
            continue;
        }
        break;
    }
    *destEnd = e;
    if (e >= n)
        return false;
    if (w[e].unicode() == u')') {
        *matchEnd = e + 1;
        return true;
    }
    if (!isPatternSpace(w[e].unicode()))
        return false;
    qsizetype x = e;
    while (x < n && isPatternSpace(w[x].unicode()))
        ++x;
    if (x >= n)
        return false;
    const char16_t c = w[x].unicode();
    qsizetype titleEnd = -1;
    if (c == u'"' || c == u'\'') {
        const qsizetype y = indexOfUnit(w, c, x + 1);
        if (y >= 0)
            titleEnd = y + 1;
    } else if (c == u'(') {
        qsizetype y = x + 1;
        while (y < n && w[y].unicode() != u'(' && w[y].unicode() != u')')
            ++y;
        if (y < n && w[y].unicode() == u')')
            titleEnd = y + 1;
    }
    if (titleEnd >= 0) {
        qsizetype z = titleEnd;
        while (z < n && isPatternSpace(w[z].unicode()))
            ++z;
        if (z < n && w[z].unicode() == u')') {
            *matchEnd = z + 1;
            return true;
        }
    }
    if (c == u')') {
        *matchEnd = x + 1;
        return true;
    }
    return false;
}

// Scalars of a string, for the title check.
std::vector<char32_t> scalarsOf(QStringView s)
{
    std::vector<char32_t> out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size();) {
        int width = 1;
        out.push_back(scalarAt(s, i, &width));
        i += width;
    }
    return out;
}

// A title may look closed in the working string and not in the source, where code spans and
// images still stand as written; this checks it against the source.
bool titleIsClosed(QStringView match, qsizetype titleOffset, const Stash& stash)
{
    bool hasMarker = false;
    for (qsizetype i = titleOffset; i < match.size(); ++i) {
        const char16_t u = match[i].unicode();
        if (u == codeMark || u == pieceMark) {
            hasMarker = true;
            break;
        }
    }
    if (!hasMarker)
        return true;
    QStringView title = match.sliced(titleOffset, match.size() - 1 - titleOffset);
    {
        qsizetype b = 0;
        qsizetype e = title.size();
        auto trimmable = [](char16_t u) { return !(u >= 0xD800 && u < 0xE000) && isWhiteSpaceProperty(u); };
        while (b < e && trimmable(title[b].unicode()))
            ++b;
        while (e > b && trimmable(title[e - 1].unicode()))
            --e;
        title = title.sliced(b, e - b);
    }
    const std::vector<char32_t> titleScalars = scalarsOf(title);
    if (titleScalars.size() < 2)
        return true;
    int firstWidth = titleScalars.front() > 0xFFFF ? 2 : 1;
    int lastWidth = titleScalars.back() > 0xFFFF ? 2 : 1;
    const QStringView innerMarked = title.sliced(firstWidth, title.size() - firstWidth - lastWidth);

    QString withImages;
    for (qsizetype i = 0; i < innerMarked.size(); ++i) {
        if (innerMarked[i].unicode() == pieceMark) {
            qsizetype number = 0;
            const qsizetype end = readMarker(innerMarked, i, pieceMark, &number);
            if (end >= 0) {
                if (number < stash.pieceCount()) {
                    const auto [begin, end] = stash.imageSources[size_t(number)];
                    withImages += QStringView(stash.imageSourceText).sliced(begin, end - begin);
                }
                i = end - 1;
                continue;
            }
        }
        withImages += innerMarked[i];
    }
    QString inner;
    for (qsizetype i = 0; i < withImages.size(); ++i) {
        if (withImages[i].unicode() == codeMark) {
            qsizetype number = 0;
            const qsizetype end = readMarker(withImages, i, codeMark, &number);
            if (end >= 0) {
                inner += u'`';
                if (number < stash.codeSpanCount())
                    inner += stash.codeSpans[size_t(number)];
                inner += u'`';
                i = end - 1;
                continue;
            }
        }
        inner += withImages[i];
    }

    const char32_t opener = titleScalars.front();
    const char32_t closer = opener == U'(' ? U')' : opener;
    const std::vector<char32_t> s = scalarsOf(inner);
    size_t k = 0;
    for (; k < s.size(); ++k) {
        if (opener == U'(' && s[k] == U'(')
            return false;
        if (s[k] == closer)
            break;
    }
    if (k >= s.size())
        return true;
    if (k + 1 == s.size())
        return false;
    size_t next = k + 1;
    while (next < s.size() && isWhiteSpaceProperty(s[next]))
        ++next;
    if (next >= s.size())
        return false;
    return s[next] == U')';
}

void stashPiece(MarkdownOutput& out, Stash& stash, int delta)
{
    const qsizetype index = stash.pieceCount();
    stash.pieceEnds.push_back(stash.pieceText.size());
    stash.deltas.push_back(delta);
    stash.imageSources.emplace_back(0, 0);
    appendMarker(out, pieceMark, index);
}

void stashLinkOpening(MarkdownOutput& out, Stash& stash, QStringView href)
{
    appendLiteral(stash.pieceText, u"<a href=\"");
    appendView(stash.pieceText, href);
    appendLiteral(stash.pieceText, u"\">");
    stashPiece(out, stash, +1);
}

void stashLinkClosing(MarkdownOutput& out, Stash& stash)
{
    appendLiteral(stash.pieceText, u"</a>");
    stashPiece(out, stash, -1);
}

// Step 3 (image) and step 4 (link) share one scan.
bool renderImagesOrLinks(QStringView w, MarkdownOutput& out, Stash& stash, bool images)
{
    const QStringView opener = images ? QStringView(u"![") : QStringView(u"[");
    const qsizetype n = w.size();
    const qsizetype textStart = images ? 2 : 1;
    bool changed = false;
    qsizetype copy = 0;
    qsizetype search = 0;
    for (;;) {
        const qsizetype p = indexOfUnit(w, opener.front().unicode(), search);
        if (p < 0)
            break;
        search = p + 1;
        if (images && (p + 1 >= n || w[p + 1].unicode() != u'['))
            continue;
        qsizetype k = p + textStart;
        while (k < n && w[k].unicode() != u']' && w[k].unicode() != u'[')
            ++k;
        if (k + 1 >= n || w[k].unicode() != u']' || w[k + 1].unicode() != u'(')
            continue;
        if (!images && k == p + textStart)
            continue; // a link needs text
        qsizetype destEnd = 0;
        qsizetype matchEnd = 0;
        if (!matchDestination(w, k + 2, &destEnd, &matchEnd))
            continue;
        const QStringView match = w.sliced(p, matchEnd - p);
        if (!titleIsClosed(match, destEnd - p, stash))
            continue;
        if (!changed) {
            out.reserve(n + 32);
            changed = true;
        }
        appendView(out, w.sliced(copy, p - copy));
        const QStringView text = w.sliced(p + textStart, k - p - textStart);
        MarkdownOutput& target = stash.target;
        clearUnits(target);
        appendAttributeText(w.sliced(k + 2, destEnd - k - 2), stash, target);
        if (images) {
            MarkdownOutput& alt = stash.alt;
            clearUnits(alt);
            appendAttributeText(text, stash, alt);
            if (MarkdownInline::isAllowedURL(target, true)) {
                appendLiteral(stash.pieceText, u"<img src=\"");
                appendView(stash.pieceText, target);
                appendLiteral(stash.pieceText, u"\" alt=\"");
            } else {
                appendLiteral(stash.pieceText, u"<img alt=\"");
            }
            appendView(stash.pieceText, alt);
            appendLiteral(stash.pieceText, u"\">");
            const qsizetype sourceAt = stash.imageSourceText.size();
            appendView(stash.imageSourceText, match);
            stashPiece(out, stash, 0);
            stash.imageSources.back() = {sourceAt, stash.imageSourceText.size()};
        } else if (MarkdownInline::isAllowedURL(target, false)) {
            stashLinkOpening(out, stash, target);
            appendView(out, text);
            stashLinkClosing(out, stash);
        } else {
            appendView(out, text);
        }
        copy = search = matchEnd;
    }
    if (changed)
        appendView(out, w.sliced(copy));
    return changed;
}

bool startsWithAt(QStringView s, qsizetype i, QStringView what)
{
    return i >= 0 && s.size() - i >= what.size() && std::equal(what.utf16(), what.utf16() + what.size(), s.utf16() + i);
}

// Before a word character at i: the previous character, combining marks passed over, is no word character.
bool isWordBoundaryBefore(QStringView s, qsizetype i)
{
    while (i > 0) {
        const char32_t c = scalarBefore(s, i);
        const QChar::Category category = QChar::category(c);
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
            || category == QChar::Mark_Enclosing) {
            i -= c > 0xFFFF ? 2 : 1;
            continue;
        }
        return !isWordChar(c);
    }
    return true;
}

// Step 5: bare web addresses outside links become links.
bool autolinkURLs(QStringView s, MarkdownOutput& out, Stash& stash)
{
    const qsizetype n = s.size();
    bool changed = false;
    qsizetype copy = 0;
    int depth = 0;
    qsizetype i = 0;
    const char16_t* const base = s.utf16();
    while (i < n) {
        // An address is found by its "://", rarer than its "h": the scheme before it is read back.
        i = findEither(base + i, base + n, u':', pieceMark) - base;
        if (i == n)
            break;
        const char16_t u = s[i].unicode();
        if (u == pieceMark) {
            qsizetype number = 0;
            const qsizetype end = readMarker(s, i, pieceMark, &number);
            if (end > 0) {
                if (number < stash.pieceCount())
                    depth += stash.deltas[size_t(number)];
                i = end;
                continue;
            }
            ++i;
            continue;
        }
        const qsizetype colon = i;
        if (!startsWithAt(s, colon + 1, u"//")) {
            ++i;
            continue;
        }
        i = startsWithAt(s, colon - 5, u"https") ? colon - 5 : colon - 4;
        if (!startsWithAt(s, i, u"http") || !isWordBoundaryBefore(s, i)) {
            i = colon + 1;
            continue;
        }
        qsizetype j = colon + 3;
        qsizetype b = j;
        while (b < n) {
            const char16_t c = s[b].unicode();
            if (c == u'<' || c == u'>' || c == u'"' || c == pieceMark || isPatternSpace(c))
                break;
            if (c == u'&' && (startsWithAt(s, b, u"&lt;") || startsWithAt(s, b, u"&gt;")))
                break;
            ++b;
        }
        if (b == j) {
            i = colon + 1;
            continue;
        }
        if (depth > 0) {
            i = b; // inside a link's text
            continue;
        }
        QStringView link = s.sliced(i, b - i);
        for (;;) {
            if (link.endsWith(u"&amp;")) {
                link.chop(5);
                continue;
            }
            if (link.isEmpty())
                break;
            const char16_t last = link.back().unicode();
            if (last == u'.' || last == u',' || last == u';' || last == u':' || last == u'!' || last == u'?'
                || last == u')' || last == u']') {
                link.chop(1);
                continue;
            }
            break;
        }
        if (!changed) {
            out.reserve(n + 32);
            changed = true;
        }
        appendView(out, s.sliced(copy, i - copy));
        clearUnits(stash.target);
        appendAttributeText(link, stash, stash.target);
        stashLinkOpening(out, stash, stash.target);
        appendView(out, link);
        stashLinkClosing(out, stash);
        appendView(out, s.sliced(i + link.size(), b - i - link.size()));
        copy = i = b;
    }
    if (changed)
        appendView(out, s.sliced(copy));
    return changed;
}

// Whether enclosing text is closed in itself: every element that starts in it (earlier emphasis,
// a link) ends in it. Wrapping text that is not would cross elements.
bool isBalanced(QStringView s, const Stash& stash, std::vector<char>& stack)
{
    stack.clear();
    const char16_t* const base = s.utf16();
    const char16_t* const end = base + s.size();
    for (qsizetype i = 0; i < s.size(); ++i) {
        i = findEither(base + i, end, pieceMark, u'<') - base;
        if (i == s.size())
            break;
        const char16_t u = s[i].unicode();
        if (u == pieceMark) {
            qsizetype number = 0;
            const qsizetype end = readMarker(s, i, pieceMark, &number);
            if (end < 0)
                continue;
            const int delta = number < stash.pieceCount() ? stash.deltas[size_t(number)] : 0;
            if (delta > 0) {
                stack.push_back('a');
            } else if (delta < 0) {
                if (stack.empty() || stack.back() != 'a')
                    return false;
                stack.pop_back();
            }
            i = end - 1;
        } else if (u == u'<') {
            const bool closing = i + 1 < s.size() && s[i + 1].unicode() == u'/';
            const qsizetype nameAt = i + (closing ? 2 : 1);
            if (nameAt >= s.size())
                continue;
            const char kind = char(s[nameAt].unicode()); // s(trong), e(m), d(el)
            if (closing) {
                if (stack.empty() || stack.back() != kind)
                    return false;
                stack.pop_back();
            } else {
                stack.push_back(kind);
            }
        }
    }
    return stack.empty();
}

// Step 6: one delimiter form. pair: the delimiter is doubled; flanked: it needs a non-word
// character or the edge on both sides.
bool emphasisPass(QStringView s, MarkdownOutput& out, char16_t d, bool pair, bool flanked, QStringView open,
                  QStringView close, Stash& stash)
{
    const qsizetype n = s.size();
    const qsizetype dl = pair ? 2 : 1;
    bool changed = false;
    qsizetype copy = 0;
    qsizetype p = 0;
    for (;;) {
        p = indexOfUnit(s, d, p);
        if (p < 0)
            break;
        if (pair && !(p + 1 < n && s[p + 1].unicode() == d)) {
            ++p;
            continue;
        }
        if (flanked && p > 0 && isWordChar(scalarBefore(s, p))) {
            ++p;
            continue;
        }
        const qsizetype q = indexOfUnit(s, d, p + dl);
        if (q < 0)
            break;
        if (q == p + dl || (pair && !(q + 1 < n && s[q + 1].unicode() == d))
            || (flanked && q + dl < n && isWordChar(scalarAt(s, q + dl)))) {
            ++p;
            continue;
        }
        const QStringView content = s.sliced(p + dl, q - p - dl);
        if (!isBalanced(content, stash, stash.stack)) {
            ++p;
            continue;
        }
        if (!changed) {
            out.reserve(n + 64);
            changed = true;
        }
        appendView(out, s.sliced(copy, p - copy));
        appendView(out, open);
        appendView(out, content);
        appendView(out, close);
        copy = p = q + dl;
    }
    if (changed)
        appendView(out, s.sliced(copy));
    return changed;
}

// Steps 7 and 8: pieces back verbatim, code spans back as code elements.
void restore(QStringView w, const Stash& stash, MarkdownOutput& out)
{
    qsizetype from = 0;
    const char16_t* const base = w.utf16();
    const char16_t* const end = base + w.size();
    for (qsizetype i = 0; i < w.size(); ++i) {
        i = findEither(base + i, end, codeMark, pieceMark) - base;
        if (i == w.size())
            break;
        const char16_t u = w[i].unicode();
        qsizetype number = 0;
        const qsizetype end = readMarker(w, i, u, &number);
        if (end < 0)
            continue;
        appendView(out, w.sliced(from, i - from));
        if (u == pieceMark) {
            if (number < stash.pieceCount())
                appendView(out, stash.piece(number));
        } else {
            appendLiteral(out, u"<code>");
            if (number < stash.codeSpanCount())
                appendEscapedAll(stash.codeSpans[size_t(number)], out);
            appendLiteral(out, u"</code>");
        }
        from = end;
        i = end - 1;
    }
    appendView(out, w.sliced(from));
}

enum Syntax : unsigned {
    HasBacktick = 1,
    HasBracket = 2,
    HasBang = 4,
    HasColon = 8,
    HasStar = 16,
    HasUnderscore = 32,
    HasTilde = 64,
};

// Which construct characters the text holds; passes whose characters are absent are skipped.
// Later steps add only markers, entities and tags, never one of these characters.
unsigned syntaxOf(QStringView text, unsigned candidates = ~0u)
{
    // In the order of the flags.
    static constexpr AsciiSet set(u"`[!:*_~");
    unsigned flags = presentAmong(text, set) & candidates;
    // An address needs its "://" in the text as written: escaping and markers add none.
    if ((flags & HasColon) && !containsSchemeSeparator(text))
        flags &= ~unsigned(HasColon);
    return flags;
}

} // namespace

namespace MarkdownInline {

void appendEscapedHTML(QStringView text, MarkdownOutput& out)
{
    const char16_t* from = text.utf16();
    const char16_t* const end = from + text.size();
    for (;;) {
        const char16_t* const hit = findEscapable(from, end);
        appendUnits(out, from, hit - from);
        if (hit == end)
            break;
        if (*hit == u'&')
            appendLiteral(out, u"&amp;");
        else if (*hit == u'<')
            appendLiteral(out, u"&lt;");
        else
            appendLiteral(out, u"&gt;");
        from = hit + 1;
    }
}

QString escapeHTML(QStringView text)
{
    MarkdownOutput out(text.size() + 16);
    appendEscapedHTML(text, out);
    return out.take();
}

bool isAllowedURL(QStringView value, bool forImage)
{
    // Read as browsers do: controls, blanks and DEL inside the value are skipped.
    qsizetype i = 0;
    auto next = [&]() -> int {
        while (i < value.size()) {
            const char16_t u = value[i++].unicode();
            if (u >= 0x21 && u != 0x7F)
                return u;
        }
        return -1;
    };
    auto isLetter = [](int u) { return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z'); };
    int u = next();
    if (u < 0 || !isLetter(u))
        return true;
    char scheme[8];
    int length = 0;
    while (u >= 0 && (isLetter(u) || (u >= u'0' && u <= u'9') || u == u'+' || u == u'-' || u == u'.')) {
        if (length < int(sizeof scheme))
            scheme[length] = char(u | 0x20);
        ++length;
        u = next();
    }
    if (u != u':')
        return true;
    const QLatin1StringView name(scheme, std::min<int>(length, int(sizeof scheme)));
    if (length <= 5 && (name == QLatin1StringView("http") || name == QLatin1StringView("https")))
        return true;
    if (length == 6 && name == QLatin1StringView("mailto"))
        return !forImage;
    if (length == 4 && name == QLatin1StringView("data")) {
        if (!forImage)
            return false;
        const char* expected = "image/";
        for (int k = 0; k < 6; ++k) {
            const int c = next();
            if (c < 0 || (c | 0x20) != expected[k])
                return false;
        }
        return true;
    }
    return false;
}

void appendInline(QStringView text, MarkdownOutput& out)
{
    unsigned flags = syntaxOf(text);
    if ((flags & ~unsigned(HasBang)) == 0) {
        appendEscapedHTML(text, out);
        return;
    }
    if ((flags & ~unsigned(HasBang)) == HasBacktick) {
        // Code spans alone: taken out and put back in one go.
        appendCodeSpans(text, out);
        return;
    }
    thread_local Stash stash;
    stash.reset();
    MarkdownOutput* current = &stash.buffers[0];
    MarkdownOutput* next = &stash.buffers[1];
    clearUnits(*current);
    if (flags & HasBacktick) {
        stashCodeSpans(text, stash, *current);
        // The construct characters inside code spans are gone from the working string.
        flags = HasBacktick | syntaxOf(*current, flags);
    } else {
        appendEscapedHTML(text, *current);
    }
    auto run = [&](auto&& pass) {
        clearUnits(*next);
        if (pass(QStringView(*current), *next))
            std::swap(current, next);
    };
    if ((flags & HasBracket) && (flags & HasBang))
        run([&](QStringView w, MarkdownOutput& o) { return renderImagesOrLinks(w, o, stash, true); });
    if (flags & HasBracket)
        run([&](QStringView w, MarkdownOutput& o) { return renderImagesOrLinks(w, o, stash, false); });
    if (flags & HasColon)
        run([&](QStringView w, MarkdownOutput& o) { return autolinkURLs(w, o, stash); });
    const QStringView strong(u"<strong>"), strongEnd(u"</strong>"), em(u"<em>"), emEnd(u"</em>");
    if (flags & HasStar)
        run([&](QStringView w, MarkdownOutput& o) { return emphasisPass(w, o, u'*', true, false, strong, strongEnd, stash); });
    if (flags & HasUnderscore)
        run([&](QStringView w, MarkdownOutput& o) { return emphasisPass(w, o, u'_', true, true, strong, strongEnd, stash); });
    if (flags & HasStar)
        run([&](QStringView w, MarkdownOutput& o) { return emphasisPass(w, o, u'*', false, false, em, emEnd, stash); });
    if (flags & HasUnderscore)
        run([&](QStringView w, MarkdownOutput& o) { return emphasisPass(w, o, u'_', false, true, em, emEnd, stash); });
    if (flags & HasTilde)
        run([&](QStringView w, MarkdownOutput& o) {
            return emphasisPass(w, o, u'~', true, false, u"<del>", u"</del>", stash);
        });
    if (stash.pieceCount() == 0 && stash.codeSpanCount() == 0)
        appendView(out, *current);
    else
        restore(*current, stash, out);
    stash.release();
}

} // namespace MarkdownInline
