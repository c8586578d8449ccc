#pragma once
// What the benchmarks of the running tools watch the GUI thread with.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <functional>

// Longest gap between ticks of a 1 ms timer while it runs.
class StallProbe : public QObject {
public:
    StallProbe()
    {
        m_timer.setInterval(1);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last >= 0)
                m_max = std::max(m_max, now - m_last);
            m_last = now;
        });
    }
    void start()
    {
        m_max = 0;
        m_last = 0;
        m_clock.start();
        m_timer.start();
    }
    double stopMs()
    {
        m_timer.stop();
        return m_max / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    qint64 m_max = 0;
};

// Runs the event loop until `done` answers true or `timeoutMs` pass, and answers done(). The
// thread sleeps between events as the program's own loop does, and a 1 ms timer wakes it to ask:
// polling processEvents would keep a core busy and, on one core, take it from the work timed.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 600000)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(1);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return done();
}

// Runs the event loop for `ms` milliseconds.
inline void settle(int ms)
{
    waitUntil([] { return false; }, ms);
}
