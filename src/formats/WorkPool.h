#pragma once

#include <QtGlobal>

class QThreadPool;

// The threads every piece of the program's background work runs on: quiet-time tasks, the parts
// of large conversions and the text view's own jobs. Qt's global pool is left to Qt, whose raster
// painter hands it parts of large fills and waits for them; work of ours holding every thread of
// it once kept the window from painting for seconds.
class WorkPool {
public:
    static QThreadPool* instance();

    // The cores the process may run on (its CPU affinity, which the machine's core count
    // ignores), at least one; asked afresh on each call, so a process pinned after it started is
    // followed too.
    static int cores();

    // How a job is spread, decided here for every caller. Past this many workers the memory bus,
    // not the cores, bounds the program's loops over large texts.
    static constexpr int kMostWorkers = 8;
    // Below this many bytes of text a reader or printer of one document runs on its caller:
    // starting helpers in a fresh process, or on a busy machine, costs more than they save
    // (measured on JSON, whose 2.3 MB documents read and print no faster on eight cores).
    static constexpr qsizetype kSplitText = qsizetype(4) << 20;
    // The workers one job may use: the cores, at most kMostWorkers.
    static int workers();
    // Workers for a job of `size` units when each should have at least `minimumPart` of them:
    // one below two such parts.
    static int workersFor(qsizetype size, qsizetype minimumPart);
    // Parts of at least `minimumPart` units each for a job of `size`, taken in turn by the workers
    // (runParts): up to four a worker, so that a helper that starts late or a slower part holds up
    // no more than one part. One part where there is one worker for it, since cutting costs a
    // pass of its own (counting, cutting at line feeds) that only pays with helpers.
    static qsizetype parts(qsizetype size, qsizetype minimumPart);
};
