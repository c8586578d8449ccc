#include "formats/JSONTextMetrics.h"

#include "formats/RunParts.h"
#include "formats/Utf8Encoder.h"

#include <vector>

namespace {

struct Counts {
    qint64 breaks = 0;
    qint64 bytes = 0;
};

// Line breaks and UTF-8 length of text[from, to); a CR is looked at together with the unit
// after it, which may lie beyond `to`.
Counts countRange(QStringView text, qsizetype from, qsizetype to)
{
    Counts c;
    const QStringView part = text.sliced(from, to - from);
    c.bytes = Utf8Encoder::encodedLength(part);
    if (!part.contains(u'\r')) {
        c.breaks = part.count(u'\n');
        return c;
    }
    const char16_t* p = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype n = text.size();
    for (qsizetype i = from; i < to; ++i) {
        const char16_t u = p[i];
        if (u == u'\n')
            ++c.breaks;
        else if (u == u'\r' && !(i + 1 < n && p[i + 1] == u'\n'))
            ++c.breaks; // a CR alone ends a line too; in CR LF only the LF counts
    }
    return c;
}

} // namespace

JSONTextMetrics::JSONTextMetrics(const QString& text)
{
    const QStringView all(text);
    const qsizetype n = all.size();
    // A large text is counted in parts side by side, cut between surrogate pairs.
    constexpr qsizetype part = qsizetype(1) << 23;
    Counts total;
    if (n <= part) {
        total = countRange(all, 0, n);
    } else {
        std::vector<qsizetype> cuts{0};
        while (cuts.back() < n) {
            qsizetype to = std::min(n, cuts.back() + part);
            if (to < n && QChar::isLowSurrogate(all[to].unicode()) && QChar::isHighSurrogate(all[to - 1].unicode()))
                ++to;
            cuts.push_back(to);
        }
        std::vector<Counts> counts(cuts.size() - 1);
        runParts(qsizetype(counts.size()), [&](qsizetype k) {
            counts[size_t(k)] = countRange(all, cuts[size_t(k)], cuts[size_t(k) + 1]);
        });
        for (const Counts& c : counts) {
            total.breaks += c.breaks;
            total.bytes += c.bytes;
        }
    }
    bytes = total.bytes;
    lines = bytes == 0 ? 0 : total.breaks + 1;
}
