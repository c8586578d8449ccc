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

std::vector<double> Series::values(double Sample::*field) const
{
    std::vector<double> v;
    for (const Sample& s : samples)
        if (s.ok)
            v.push_back(s.*field);
    return v;
}

bool Series::ok() const
{
    return !samples.empty() && std::all_of(samples.begin(), samples.end(), [](const Sample& s) { return s.ok; });
}

double Series::medianMs() const { return medianOf(values(&Sample::wallMs)); }

double Series::minMs() const
{
    const std::vector<double> v = values(&Sample::wallMs);
    return v.empty() ? -1 : *std::min_element(v.begin(), v.end());
}

double Series::maxMs() const
{
    const std::vector<double> v = values(&Sample::wallMs);
    return v.empty() ? -1 : *std::max_element(v.begin(), v.end());
}

double Series::medianCpuMs() const { return medianOf(values(&Sample::cpuMs)); }

double Series::peakMB() const
{
    const std::vector<double> v = values(&Sample::peakMB);
    return v.empty() ? -1 : *std::max_element(v.begin(), v.end());
}

double Series::privatePeakMB() const
{
    const std::vector<double> v = values(&Sample::privatePeakMB);
    return v.empty() ? -1 : *std::max_element(v.begin(), v.end());
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
    for (const Series& s : series) {
        if (inputBytes > 0)
            std::printf("  %-22s %-52s %8.1f MB/s\n", qPrintable(s.name), qPrintable(s.summary()), s.ok() ? s.rate(inputBytes) : 0.0);
        else
            std::printf("  %-24s %s\n", qPrintable(s.name), qPrintable(s.summary()));
    }
    std::fflush(stdout);
}

double speedup(const Series& ours, const Series& peer)
{
    return ours.ok() && peer.ok() && ours.medianMs() > 0 ? peer.medianMs() / ours.medianMs() : -1;
}

double growth(const Series& small, qint64 smallBytes, const Series& large, qint64 largeBytes)
{
    if (!small.ok() || !large.ok() || smallBytes <= 0 || largeBytes <= 0 || small.medianMs() <= 0)
        return -1;
    return (large.medianMs() / double(largeBytes)) / (small.medianMs() / double(smallBytes));
}

int roundsWanted(int fallback)
{
    const int asked = qEnvironmentVariableIntValue("QUORRIX_BENCH_ROUNDS");
    return std::max(5, asked > 0 ? asked : fallback);
}

const Series* find(const std::vector<Series>& all, const char* name)
{
    for (const Series& s : all)
        if (s.name == QLatin1String(name))
            return &s;
    return nullptr;
}

std::vector<Side> firstAndWarmSides(const std::function<qint64()>& ours, const QString& peerName,
                                    const std::function<qint64()>& peer)
{
    return {{QStringLiteral("ours, 1 core"), [ours] { return runForked(Cores::one, ours); }},
            {QStringLiteral("ours, all cores"), [ours] { return runForked(Cores::all, ours); }},
            {peerName, [peer] { return runForked(Cores::one, peer); }},
            {QStringLiteral("ours warm, 1 core"), [ours] { return runWarm(Cores::one, ours); }},
            {QStringLiteral("ours warm, all cores"), [ours] { return runWarm(Cores::all, ours); }},
            {peerName + QStringLiteral(" warm"), [peer] { return runWarm(Cores::one, peer); }}};
}

} // namespace bench
