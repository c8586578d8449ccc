#pragma once
// The runs of one side of a comparison and what is printed of them: median and spread of the
// wall time, median CPU time, highest peak memory.
#include "support/Measure.h"

#include <QString>

#include <functional>
#include <vector>

namespace bench {

class Series {
public:
    QString name;
    std::vector<Sample> samples;

    bool ok() const;      // every run succeeded
    double medianMs() const;
    double minMs() const;
    double maxMs() const;
    double medianCpuMs() const;
    double peakMB() const;
    double privatePeakMB() const;
    qint64 outBytes() const;
    // Throughput in MB/s (10^6 bytes) of `inputBytes` at the median time.
    double rate(qint64 inputBytes) const;
    // "12.3 ms (11.9-13.0) cpu 12.1 ms, peak 35 MB"
    QString summary() const;

private:
    // The field of every successful run.
    std::vector<double> values(double Sample::*field) const;
};

struct Side {
    QString name;
    std::function<Sample()> run;
};

// Every side once per round, in turn, for `rounds` rounds, so that the machine's moods meet
// every side alike.
std::vector<Series> interleave(const std::vector<Side>& sides, int rounds);

// Ours pinned to one core and on all, and the peer on one, each timed as a first call in a
// fresh child and warm: "ours, 1 core", "ours, all cores", `peerName`, then the three again
// as "ours warm, 1 core", "ours warm, all cores" and `peerName` + " warm".
std::vector<Side> firstAndWarmSides(const std::function<qint64()>& ours, const QString& peerName,
                                    const std::function<qint64()>& peer);

// The series of the side named `name`, or null.
const Series* find(const std::vector<Series>& all, const char* name);

// Prints the case's name, then one line per side: its summary and throughput on `inputBytes`
// (none when 0).
void printCase(const QString& label, qint64 inputBytes, const std::vector<Series>& series);

// How many times faster `ours` is than `peer` at the median (above 1: ours is faster); -1 when
// either failed.
double speedup(const Series& ours, const Series& peer);

// Time per byte on the large input over that on the small one (1 = linear), -1 when either failed.
double growth(const Series& small, qint64 smallBytes, const Series& large, qint64 largeBytes);

// Rounds asked for with QUORRIX_BENCH_ROUNDS, at least five.
int roundsWanted(int fallback = 5);

} // namespace bench
