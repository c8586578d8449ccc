#include "support/Series.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdio>

namespace bench {
namespace {

double medianOf(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

bool Series::ok() const
{
    return !samples.empty() && std::all_of(samples.begin(), samples.end(), [](const Sample& s) { return s.ok; });
}

double Series::medianMs() const
{
    std::vector<double> v;
    for (const Sample& s : samples)
        if (s.ok)
            v.push_back(s.wallMs);
    return medianOf(v);
}

double Series::minMs() const
{
    double m = -1;
    for (const Sample& s : samples)
        if (s.ok && (m < 0 || s.wallMs < m))
            m = s.wallMs;
    return m;
}

double Series::maxMs() const
{
    double m = -1;
    for (const Sample& s : samples)
        if (s.ok)
            m = std::max(m, s.wallMs);
    return m;
}

double Series::medianCpuMs() const
{
    std::vector<double> v;
    for (const Sample& s : samples)
        if (s.ok)
            v.push_back(s.cpuMs);
    return medianOf(v);
}

double Series::peakMB() const
{
    double m = -1;
    for (const Sample& s : samples)
        if (s.ok)
            m = std::max(m, s.peakMB);
    return m;
}

qint64 Series::outBytes() const
{
    for (const Sample& s : samples)
        if (s.ok)
            return s.outBytes;
    return -1;
}

double Series::rate(qint64 inputBytes) const
{
    const double ms = medianMs();
    return ms > 0 ? inputBytes / 1e6 / (ms / 1e3) : 0;
}

QString Series::summary() const
{
    if (!ok())
        return QStringLiteral("failed");
    auto f = [](double v) { return QString::number(v, 'f', v < 10 ? 2 : v < 100 ? 1 : 0); };
    return QStringLiteral("%1 ms (%2-%3) cpu %4, peak %5 MB")
        .arg(f(medianMs()), f(minMs()), f(maxMs()), f(medianCpuMs()), QString::number(peakMB(), 'f', 0));
}

std::vector<Series> interleave(const std::vector<Side>& sides, int rounds)
{
    std::vector<Series> series(sides.size());
    for (size_t i = 0; i < sides.size(); ++i)
        series[i].name = sides[i].name;
    for (int r = 0; r < rounds; ++r)
        for (size_t i = 0; i < sides.size(); ++i)
            series[i].samples.push_back(sides[i].run());
    return series;
}

void printCase(const QString& label, qint64 inputBytes, const std::vector<Series>& series)
{
    std::printf("%s\n", qPrintable(label));
    for (const Series& s : series)
        std::printf("  %-22s %-52s %8.1f MB/s\n", qPrintable(s.name), qPrintable(s.summary()), s.ok() ? s.rate(inputBytes) : 0.0);
    std::fflush(stdout);
}

double speedup(const Series& ours, const Series& peer)
{
    return ours.ok() && peer.ok() && ours.medianMs() > 0 ? peer.medianMs() / ours.medianMs() : -1;
}

int roundsWanted(int fallback)
{
    const int asked = qEnvironmentVariableIntValue("QUORRIX_BENCH_ROUNDS");
    return std::max(5, asked > 0 ? asked : fallback);
}

} // namespace bench
