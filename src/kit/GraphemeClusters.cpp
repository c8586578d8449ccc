#include "kit/GraphemeClusters.h"

#include "kit/CodeTextBuffer.h"

#include <QString>

#include <unicode/ubrk.h>

#include <algorithm>
#include <memory>

namespace {

constexpr qsizetype kBackLimit = 1024; // how far back a sure cluster start is looked for
constexpr qsizetype kAhead = 64;       // the first stretch read after the position

bool plainAscii(QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7F; }

qsizetype sureStart(const CodeTextBuffer& buffer, qsizetype position)
{
    const qsizetype limit = std::max<qsizetype>(0, position - kBackLimit);
    for (qsizetype i = position; i > limit; --i) {
        const QChar before = buffer.at(i - 1);
        if (before == QLatin1Char('\n') || (plainAscii(before) && i < buffer.length() && plainAscii(buffer.at(i))))
            return i;
    }
    return limit;
}

// One iterator per thread, opened once: opening one costs far more than a step.
UBreakIterator* iterator()
{
    struct Closer {
        void operator()(UBreakIterator* it) const { ubrk_close(it); }
    };
    thread_local std::unique_ptr<UBreakIterator, Closer> it = [] {
        UErrorCode status = U_ZERO_ERROR;
        UBreakIterator* opened = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
        return std::unique_ptr<UBreakIterator, Closer>(U_SUCCESS(status) ? opened : nullptr);
    }();
    return it.get();
}

// The iterator over `text`, or nullptr when ICU could not make one.
UBreakIterator* over(const QString& text)
{
    UBreakIterator* it = iterator();
    if (!it)
        return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    ubrk_setText(it, reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()), &status);
    return U_SUCCESS(status) ? it : nullptr;
}

qsizetype afterPair(const CodeTextBuffer& buffer, qsizetype position, qsizetype lineEnd)
{
    const bool pair = position + 1 < lineEnd && buffer.at(position).isHighSurrogate()
        && buffer.at(position + 1).isLowSurrogate();
    return position + (pair ? 2 : 1);
}

} // namespace

qsizetype GraphemeClusters::next(const CodeTextBuffer& buffer, qsizetype position, qsizetype lineEnd)
{
    if (position >= lineEnd)
        return lineEnd;
    // Between two printable ASCII characters there is always a boundary: most steps end here.
    if (position + 1 < lineEnd && plainAscii(buffer.at(position)) && plainAscii(buffer.at(position + 1)))
        return position + 1;
    const qsizetype from = sureStart(buffer, position);
    // A cluster that reaches the end of the stretch read may go on: read further and ask again.
    for (qsizetype ahead = kAhead;; ahead *= 4) {
        const qsizetype to = std::min(lineEnd, position + ahead);
        const QString text = buffer.mid(from, to - from);
        UBreakIterator* it = over(text);
        if (!it)
            return afterPair(buffer, position, lineEnd);
        const int32_t bound = ubrk_following(it, int32_t(position - from));
        const qsizetype answer = bound == UBRK_DONE ? to : from + bound;
        if (answer < to || to == lineEnd)
            return std::max(answer, position + 1);
    }
}

qsizetype GraphemeClusters::previous(const CodeTextBuffer& buffer, qsizetype position)
{
    if (position <= 0)
        return 0;
    if (buffer.at(position - 1) == QLatin1Char('\n'))
        return position - 1;
    if (position >= 2 && plainAscii(buffer.at(position - 1)) && plainAscii(buffer.at(position - 2)))
        return position - 1;
    const qsizetype from = sureStart(buffer, position - 1);
    // With some text after the position, for when it lies inside a cluster.
    QString text = buffer.mid(from, std::min(buffer.length(), position + kAhead) - from);
    const qsizetype lineBreak = text.indexOf(QLatin1Char('\n'), position - from);
    if (lineBreak >= 0)
        text.truncate(lineBreak);
    UBreakIterator* it = over(text);
    if (!it) {
        const bool pair = position - 2 >= from && buffer.at(position - 1).isLowSurrogate()
            && buffer.at(position - 2).isHighSurrogate();
        return position - (pair ? 2 : 1);
    }
    const int32_t bound = ubrk_preceding(it, int32_t(position - from));
    return bound == UBRK_DONE ? from : from + bound;
}
