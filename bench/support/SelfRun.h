#pragma once
// Benchmarks of whole tools run each side in a fresh copy of themselves: the child, started with
// a side and a case on its command line, does the work in its own QApplication and prints named
// figures (times it measured inside, stalls, memory) for the parent, which times the whole child
// with runProcess and keeps the figures of every run.
#include "support/Measure.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <vector>

namespace bench {

// The figures one run of a child printed, by name.
using Figures = QMap<QString, double>;

// Runs this program again with `args` on `cores` and appends what the child reported to `into`
// (an empty map when it failed). The sample is the whole child's, start-up included.
Sample runSelf(Cores cores, const QStringList& args, std::vector<Figures>& into);

// In the child: prints one figure for the parent.
void report(const QString& name, double value);

// In the child: reports the peak resident size and CPU time of the processes this one started
// (a web view's page and helper processes), summed, as "<prefix> peak MB" and "<prefix> cpu ms".
// The peaks are each process's own highest, so their sum is an upper bound.
void reportDescendants(const QString& prefix);

// A figure over the runs that reported it.
struct Spread {
    double median = -1;
    double min = -1;
    double max = -1;
    int runs = 0;
    // "12.3 (11.0-14.1)", or "n/a" when no run reported it.
    QString text(int decimals = 1) const;
};
Spread spreadOf(const std::vector<Figures>& runs, const QString& name);

} // namespace bench
