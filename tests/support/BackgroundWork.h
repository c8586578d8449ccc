#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThreadPool>

#include "formats/WorkPool.h"

// Waits until the program's pool has no work left and every result it posted has been
// delivered, so a test can tell that nothing more is on its way (a superseded read, a dropped
// run) without sleeping for a guessed time.
inline bool settleBackgroundWork(int timeoutMs = 30000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!WorkPool::instance()->waitForDone(int(deadline.remainingTime())))
            return false;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        if (WorkPool::instance()->activeThreadCount() == 0)
            return true;
    }
    return false;
}
