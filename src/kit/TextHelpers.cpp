#include "kit/TextHelpers.h"

#include "formats/LineCounter.h"
#include "formats/RunParts.h"
#include "formats/Utf8Encoder.h"

#include <atomic>
#include <cstring>

#include <algorithm>

namespace TextHelpers {

qsizetype lineCount(QStringView text)
{
    return LineCounter::lines(text);
}

namespace {

// The first unit that is half of no surrogate pair, or `n`.
qsizetype firstLoneSurrogate(const char16_t* units, qsizetype n)
{
    constexpr qsizetype kRun = 64;
    qsizetype i = 0;
    while (i < n) {
        // Runs without surrogates, nearly all of a large text, are skipped in a loop the compiler
        // vectorises.
        if (i + kRun <= n) {
            unsigned surrogates = 0;
            for (qsizetype k = 0; k < kRun; ++k)
                surrogates |= unsigned((units[i + k] & 0xF800) == 0xD800);
            if (!surrogates) {
                i += kRun;
                continue;
            }
        }
        for (const qsizetype end = std::min(n, i + kRun); i < end; ++i) {
            if ((units[i] & 0xF800) != 0xD800)
                continue;
            if (units[i] < 0xDC00 && i + 1 < n && (units[i + 1] & 0xFC00) == 0xDC00) {
                ++i;
                continue;
            }
            return i;
        }
    }
    return n;
}

} // namespace

QString repairedUTF16(const QString& text)
{
    const qsizetype n = text.size();
    qsizetype i = firstLoneSurrogate(reinterpret_cast<const char16_t*>(text.constData()), n);
    if (i == n)
        return text;
    QString out = text;
    char16_t* w = reinterpret_cast<char16_t*>(out.data());
    for (; i < n; ++i) {
        const char16_t c = w[i];
        if ((c & 0xF800) != 0xD800)
            continue;
        if (c < 0xDC00 && i + 1 < n && (w[i + 1] & 0xFC00) == 0xDC00) {
            ++i;
            continue;
        }
        w[i] = 0xFFFD;
    }
    return out;
}

bool containsCarriageReturn(QStringView text)
{
    std::atomic_bool found{false};
    runStretches(text.size(), qsizetype(4) << 20, [&](qsizetype begin, qsizetype end) {
        if (!found.load(std::memory_order_relaxed) && text.sliced(begin, end - begin).contains(QLatin1Char('\r')))
            found.store(true, std::memory_order_relaxed);
    });
    return found.load();
}

QString normalizedLineBreaks(const QString& text)
{
    if (!containsCarriageReturn(text))
        return text;
    return normalizedLineBreaks(QStringView(text));
}

QString normalizedLineBreaks(QStringView text)
{
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r')) {
            out.append(QLatin1Char('\n'));
            if (i + 1 < n && text[i + 1] == QLatin1Char('\n'))
                ++i;
        } else {
            out.append(c);
        }
    }
    return out;
}

bool isInsertAfterLineBreak(Range edited, qsizetype changeInLength, QStringView text)
{
    if (edited.length < 1 || edited.length != changeInLength)
        return false;
    if (edited.location < 0 || edited.location + edited.length > text.size())
        return false;
    if (edited.location == 0)
        return true;
    const QChar before = text.at(edited.location - 1);
    return before == QLatin1Char('\n') || before == QChar::ParagraphSeparator;
}

Range lineBreakEditRange(Range edited, qsizetype changeInLength, QStringView text)
{
    const qsizetype size = text.size();
    qsizetype start = std::clamp<qsizetype>(edited.location, 0, size);
    qsizetype length = std::max<qsizetype>(edited.length, 0);
    if (!isInsertAfterLineBreak(edited, changeInLength, text))
        length += 1;
    length = std::min(length, size - start);
    if (start > 0 && text.at(start - 1) == QLatin1Char('\r')) {
        start -= 1;
        length += 1;
    }
    return {start, length};
}

qint64 utf8Length(QStringView text)
{
    return Utf8Encoder::encodedLength(text);
}

std::pair<TextRange, TextRange> changedRanges(const QString& oldText, const QString& newText)
{
    const char16_t* a = reinterpret_cast<const char16_t*>(oldText.constData());
    const char16_t* b = reinterpret_cast<const char16_t*>(newText.constData());
    const qsizetype na = oldText.size(), nb = newText.size();
    const qsizetype m = std::min(na, nb);
    constexpr qsizetype chunk = 4096;
    qsizetype p = 0;
    while (p < m) {
        const qsizetype len = std::min(chunk, m - p);
        if (std::memcmp(a + p, b + p, size_t(len) * 2) != 0) {
            while (a[p] == b[p])
                ++p;
            break;
        }
        p += len;
    }
    const qsizetype limit = m - p;
    qsizetype s = 0;
    while (s < limit) {
        const qsizetype len = std::min(chunk, limit - s);
        if (std::memcmp(a + na - s - len, b + nb - s - len, size_t(len) * 2) != 0) {
            while (a[na - s - 1] == b[nb - s - 1])
                ++s;
            break;
        }
        s += len;
    }
    return {{p, na - p - s}, {p, nb - p - s}};
}

bool holdsRightToLeft(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x590)
            continue;
        switch (c.direction()) {
        case QChar::DirR: case QChar::DirAL: case QChar::DirRLE: case QChar::DirRLO: case QChar::DirRLI:
            return true;
        default:
            break;
        }
    }
    return false;
}

} // namespace TextHelpers
