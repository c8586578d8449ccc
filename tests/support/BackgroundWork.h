#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThreadPool>

// Waits until the shared thread pool has no work left and every result it posted has been
// delivered, so a test can tell that nothing more is on its way (a superseded read, a dropped
// run) without sleeping for a guessed time.
inline bool settleBackgroundWork(int timeoutMs = 30000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!QThreadPool::globalInstance()->waitForDone(int(deadline.remainingTime())))
            return false;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        if (QThreadPool::globalInstance()->activeThreadCount() == 0)
            return true;
    }
    return false;
}
