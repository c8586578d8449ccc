#include "formats/JSONTextMetrics.h"

#include "formats/LineCounter.h"
#include "formats/RunParts.h"
#include "formats/Utf8Encoder.h"

#include <vector>

namespace {

struct Counts {
    qint64 breaks = 0;
    qint64 bytes = 0;
};

// Line breaks and UTF-8 length of text[from, to).
Counts countRange(QStringView text, qsizetype from, qsizetype to)
{
    const QStringView part = text.sliced(from, to - from);
    return Counts{LineCounter::breaks(part), Utf8Encoder::encodedLength(part)};
}

} // namespace

JSONTextMetrics::JSONTextMetrics(const QString& text)
{
    const QStringView all(text);
    const qsizetype n = all.size();
    // A large text is counted in parts side by side, cut neither inside a surrogate pair nor
    // inside a CR LF.
    const qsizetype parts = WorkPool::parts(n, qsizetype(1) << 23);
    Counts total;
    if (parts <= 1) {
        total = countRange(all, 0, n);
    } else {
        std::vector<qsizetype> cuts{0};
        for (qsizetype k = 1; k <= parts; ++k) {
            qsizetype to = k == parts ? n : std::max(cuts.back(), n / parts * k);
            if (to < n && ((QChar::isLowSurrogate(all[to].unicode()) && QChar::isHighSurrogate(all[to - 1].unicode()))
                           || (all[to] == u'\n' && all[to - 1] == u'\r')))
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

JSONTextMetrics::JSONTextMetrics(const QByteArray& utf8)
{
    bytes = utf8.size();
    lines = bytes == 0 ? 0 : LineCounter::breaks(utf8) + 1;
}
