#pragma once

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
};
