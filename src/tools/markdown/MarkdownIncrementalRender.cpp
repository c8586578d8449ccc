#include "tools/markdown/MarkdownIncrementalRender.h"


#include "tools/markdown/MarkdownBodyBlocks.h"
#include "tools/markdown/MarkdownHTML.h"

#include <QStringView>

#include <algorithm>
#include <mutex>
#include <optional>
#include <vector>

namespace {

// One top-level element of a rendering's HTML.
struct Block {
    qsizetype htmlStart = 0; // its opening tag; for the first, the start of the HTML
    qint64 line = -1;        // data-line, -1 without one
    qint64 end = -1;         // data-end, -1 without one
    // A paragraph, heading, rule, code block or quote: the converter ends it on its data-end
    // line without reading past it, and it leaves nothing that decides how the next block reads.
    bool ends = false;
};

using Blocks = std::vector<Block>;
using Starts = std::vector<qsizetype>;

bool endsOnItsLastLine(QStringView tag)
{
    static const QStringView kinds[] = {u"p", u"h1", u"h2", u"h3", u"h4", u"h5", u"h6", u"hr", u"pre", u"blockquote"};
    return std::find(std::begin(kinds), std::end(kinds), tag) != std::end(kinds);
}

// The block that `html` starts with (after any text), read from its opening tag.
Block blockAt(QStringView html, qsizetype at)
{
    Block block;
    block.htmlStart = at;
    qsizetype i = html.indexOf(u'<');
    if (i < 0)
        return block;
    qsizetype j = i + 1;
    while (j < html.size() && (html[j].isLetterOrNumber() || html[j] == u'-'))
        ++j;
    const QStringView tag = html.sliced(i + 1, j - i - 1);
    char16_t quote = 0;
    for (i = j; i < html.size(); ++i) {
        const char16_t c = html[i].unicode();
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'>') {
            break;
        } else if (html[i - 1] == u' ' && (html.sliced(i).startsWith(u"data-line=\"") || html.sliced(i).startsWith(u"data-end=\""))) {
            const bool isLine = html[i + 5] == u'l';
            const qsizetype from = i + (isLine ? 11 : 10);
            const qsizetype to = html.indexOf(u'"', from);
            if (to < 0)
                return block;
            (isLine ? block.line : block.end) = MarkdownBodyBlocks::lineValue(html.sliced(from, to - from)).value_or(-1);
            i = to;
        }
    }
    // A list or a table carries its lines on its items or rows, the first of which starts it.
    if (block.line < 0) {
        const qsizetype at = html.indexOf(u" data-line=\"");
        if (at >= 0) {
            const qsizetype from = at + 12;
            const qsizetype to = html.indexOf(u'"', from);
            if (to > from)
                block.line = MarkdownBodyBlocks::lineValue(html.sliced(from, to - from)).value_or(-1);
        }
    }
    block.ends = endsOnItsLastLine(tag) && block.line >= 0 && block.end > block.line;
    return block;
}

std::optional<Blocks> blocksOf(const QString& html)
{
    Blocks blocks;
    if (html.isEmpty())
        return blocks;
    const std::optional<MarkdownBodyBlocks> split = MarkdownBodyBlocks::split(html);
    if (!split)
        return std::nullopt;
    blocks.reserve(size_t(split->count()));
    for (qsizetype k = 0; k < split->count(); ++k) {
        const QStringView view = split->block(k);
        blocks.push_back(blockAt(view, view.data() - html.constData()));
        // The cuts are found by line, in order.
        if (blocks.back().line < 0 || (k > 0 && blocks.back().line < blocks[size_t(k - 1)].line))
            return std::nullopt;
    }
    return blocks;
}

Starts lineStarts(const QString& text)
{
    Starts starts{0};
    for (qsizetype at = text.indexOf(u'\n'); at >= 0; at = text.indexOf(u'\n', at + 1))
        starts.push_back(at + 1);
    return starts;
}

// Appends `html` with every data-line and data-end value in its tags moved by `shift`.
void appendShifted(QString& out, QStringView html, qint64 shift)
{
    if (shift == 0) {
        out.append(html);
        return;
    }
    qsizetype copied = 0;
    qsizetype i = 0;
    const qsizetype n = html.size();
    while (i < n) {
        // Text never holds "<" (the converter escapes it), so the next one opens a tag.
        i = html.indexOf(u'<', i);
        if (i < 0)
            break;
        char16_t quote = 0;
        for (++i; i < n; ++i) {
            const char16_t c = html[i].unicode();
            if (quote) {
                if (c == quote)
                    quote = 0;
                continue;
            }
            if (c == u'"' || c == u'\'') {
                quote = c;
                continue;
            }
            if (c == u'>')
                break;
            if (html[i - 1] != u' ' || c != u'd')
                continue;
            const QStringView rest = html.sliced(i);
            const qsizetype nameLength = rest.startsWith(u"data-line=\"") ? 11 : rest.startsWith(u"data-end=\"") ? 10 : 0;
            if (nameLength == 0)
                continue;
            const qsizetype from = i + nameLength;
            qsizetype to = from;
            while (to < n && html[to] >= u'0' && html[to] <= u'9')
                ++to;
            const std::optional<qint64> value = MarkdownBodyBlocks::lineValue(html.sliced(from, to - from));
            if (!value)
                continue;
            out.append(html.sliced(copied, from - copied));
            out.append(QString::number(*value + shift));
            copied = to;
            // On the closing quote, which the loop steps over.
            i = to;
        }
    }
    out.append(html.sliced(copied));
}

} // namespace

struct MarkdownIncrementalRender::State {
    QString text;
    QString html;
    qsizetype utf8Length = -1;
    bool reused = false;
    std::optional<Change> change;

    // Made when the next rendering first needs them.
    mutable std::once_flag made;
    mutable std::optional<Blocks> blocks;
    mutable Starts starts;

    void make() const
    {
        std::call_once(made, [this] {
            if (!blocks)
                blocks = blocksOf(html);
            if (starts.empty())
                starts = lineStarts(text);
        });
    }
};

MarkdownIncrementalRender::MarkdownIncrementalRender() : MarkdownIncrementalRender(QString())
{
}

MarkdownIncrementalRender::MarkdownIncrementalRender(const QString& text)
{
    auto state = std::make_shared<State>();
    state->text = text;
    state->html = renderMarkdownHTML(text, &state->utf8Length);
    m_state = std::move(state);
}

MarkdownIncrementalRender::MarkdownIncrementalRender(std::shared_ptr<const State> state) : m_state(std::move(state))
{
}

const QString& MarkdownIncrementalRender::text() const
{
    return m_state->text;
}

const QString& MarkdownIncrementalRender::html() const
{
    return m_state->html;
}

qsizetype MarkdownIncrementalRender::htmlUtf8Length() const
{
    return m_state->utf8Length;
}

bool MarkdownIncrementalRender::reusedBlocks() const
{
    return m_state->reused;
}

const std::optional<MarkdownIncrementalRender::Change>& MarkdownIncrementalRender::change() const
{
    return m_state->change;
}

MarkdownIncrementalRender MarkdownIncrementalRender::next(const QString& text) const
{
    const State& old = *m_state;
    if (text.size() == old.text.size() && text == old.text)
        return *this;
    // Nothing rendered before (an open): nothing to keep, and nothing to look for either.
    if (old.text.isEmpty())
        return MarkdownIncrementalRender(text);
    // The converter counts CR and CR LF as breaks too; the cuts here count LF only.
    if (text.contains(u'\r') || old.text.contains(u'\r'))
        return MarkdownIncrementalRender(text);
    old.make();
    if (!old.blocks || old.blocks->empty())
        return MarkdownIncrementalRender(text);
    const Blocks& blocks = *old.blocks;
    const Starts& oldStarts = old.starts;

    // Lines [0, changedFrom) and, from unchangedFrom on, the old lines are the new text's too.
    const qsizetype limit = std::min(text.size(), old.text.size());
    const QChar* a = old.text.constData();
    const QChar* b = text.constData();
    qsizetype prefix = std::mismatch(a, a + limit, b).first - a;
    qsizetype suffix = 0;
    while (suffix < limit - prefix && a[old.text.size() - 1 - suffix] == b[text.size() - 1 - suffix])
        ++suffix;
    const qsizetype changedFrom = qsizetype(std::upper_bound(oldStarts.begin(), oldStarts.end(), prefix) - oldStarts.begin()) - 1;
    const qsizetype oldEnd = old.text.size() - suffix;
    const qsizetype unchangedFrom = qsizetype(std::lower_bound(oldStarts.begin(), oldStarts.end(), oldEnd + 1) - oldStarts.begin());
    Starts starts = lineStarts(text);
    const qint64 shift = qint64(starts.size()) - qint64(oldStarts.size());

    // A cut before block k, where the converter starts afresh: the block before ends on its own
    // line and a blank line follows it.
    const qsizetype count = qsizetype(blocks.size());
    const auto cutBefore = [&](qsizetype k) {
        return k == 0 || k == count || (blocks[size_t(k - 1)].ends && blocks[size_t(k - 1)].end < blocks[size_t(k)].line);
    };
    // The first cut: the last one at or before the first changed line, a few blocks back at most.
    qsizetype first = qsizetype(std::upper_bound(blocks.begin(), blocks.end(), qint64(changedFrom),
                                                 [](qint64 line, const Block& block) { return line < block.line; })
                                - blocks.begin());
    first = std::min(first, count - 1);
    while (first > 0 && (blocks[size_t(first)].line > changedFrom || blocks[size_t(first)].line < 0 || !cutBefore(first)))
        --first;
    const qint64 from = first == 0 ? 0 : blocks[size_t(first)].line;

    // The last cut: the first one at or after the first unchanged line; a block the edit reached
    // may end later in the new text than it did, so the window grows until it ends between blocks.
    qsizetype last = first + 1;
    while (last < count && (blocks[size_t(last)].line < unchangedFrom || !cutBefore(last)))
        ++last;
    constexpr int attempts = 4;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const qint64 until = last == count ? qint64(starts.size()) : blocks[size_t(last)].line + shift;
        if (until <= from || until > qint64(starts.size()))
            break;
        const qsizetype windowStart = starts[size_t(from)];
        const qsizetype windowEnd = until == qint64(starts.size()) ? text.size() : starts[size_t(until)] - 1;
        const QString window = renderMarkdownHTML(text.sliced(windowStart, windowEnd - windowStart));
        std::optional<Blocks> windowBlocks = blocksOf(window);
        bool fits = windowBlocks.has_value();
        if (fits && last < count && !windowBlocks->empty()) {
            const Block& end = windowBlocks->back();
            fits = end.ends && from + end.end < until;
        }
        if (!fits) {
            if (last == count)
                break;
            do
                ++last;
            while (last < count && !cutBefore(last));
            continue;
        }

        auto state = std::make_shared<State>();
        state->text = text;
        state->reused = true;
        QString& html = state->html;
        const qsizetype keptBefore = first == 0 ? 0 : blocks[size_t(first)].htmlStart;
        const qsizetype keptAfter = last == count ? old.html.size() : blocks[size_t(last)].htmlStart;
        // Room for the moved line numbers too: a value is at least 13 units long with its name,
        // and grows by at most as many digits as the shift has.
        const qsizetype moved = window.size() + old.html.size() - keptAfter;
        const qsizetype growth = shift == 0 && from == 0 ? 0 : moved / 13 * QString::number(std::max<qint64>({shift, -shift, from})).size();
        html = QString(keptBefore + moved + growth + 64, Qt::Uninitialized);
        html.resize(0);
        html.append(QStringView(old.html).first(keptBefore));
        Blocks made;
        made.reserve(blocks.size() + windowBlocks->size());
        made.assign(blocks.begin(), blocks.begin() + first);
        // Each block is shifted on its own, so its new start is known.
        const auto append = [&](QStringView from, const Blocks& source, size_t begin, size_t end, qint64 by) {
            if (begin == end)
                return;
            if (by == 0) {
                const qsizetype base = source[begin].htmlStart;
                const qsizetype at = html.size();
                html.append(from.sliced(base));
                for (size_t k = begin; k < end; ++k) {
                    made.push_back(source[k]);
                    made.back().htmlStart = at + source[k].htmlStart - base;
                }
                return;
            }
            for (size_t k = begin; k < end; ++k) {
                const qsizetype at = source[k].htmlStart;
                const qsizetype next = k + 1 < source.size() ? source[k + 1].htmlStart : from.size();
                Block block = source[k];
                block.htmlStart = html.size();
                if (block.line >= 0)
                    block.line += by;
                if (block.end >= 0)
                    block.end += by;
                appendShifted(html, from.sliced(at, next - at), by);
                made.push_back(block);
            }
        };
        append(window, *windowBlocks, 0, windowBlocks->size(), from);
        append(old.html, blocks, size_t(last), blocks.size(), shift);
        Change change;
        change.before = old.html;
        change.beforeCount = count;
        change.patch.start = first;
        change.patch.removeCount = last - first;
        change.patch.insertCount = qsizetype(windowBlocks->size());
        change.patch.lineShift = shift;
        if (!windowBlocks->empty()) {
            const size_t after = size_t(first) + windowBlocks->size();
            const qsizetype sliceStart = made[size_t(first)].htmlStart;
            change.patch.html = html.sliced(sliceStart, (after < made.size() ? made[after].htmlStart : html.size()) - sliceStart);
        }
        state->change = std::move(change);
        state->blocks = std::move(made);
        state->starts = std::move(starts);
        return MarkdownIncrementalRender(std::shared_ptr<const State>(std::move(state)));
    }
    return MarkdownIncrementalRender(text);
}
