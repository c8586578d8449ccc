#include "formats/FreedMemory.h"

#include "formats/WorkPool.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {
// Below this the allocator's usual trimming suffices and a return would cost more than it frees.
constexpr size_t kWorthReturning = size_t(32) << 20;
constexpr int kQuietMs = 500;
}

namespace FreedMemory {

bool returnNow()
{
#if defined(__GLIBC__)
    const struct mallinfo2 info = mallinfo2();
    if (info.fordblks < kWorthReturning)
        return false;
    malloc_trim(0);
    return true;
#else
    return false;
#endif
}

void returnSoon()
{
    if (!QCoreApplication::instance())
        return;
    // Made again for a later application object: the timer lives as the application's child.
    static QPointer<QTimer> timer;
    if (!timer) {
        timer = new QTimer(QCoreApplication::instance());
        timer->setSingleShot(true);
        timer->setInterval(kQuietMs);
        QObject::connect(timer, &QTimer::timeout, [] { WorkPool::instance()->start([] { (void)returnNow(); }); });
    }
    timer->start();
}

void releaseOnWorker(std::shared_ptr<void> held)
{
    if (!held)
        return;
    WorkPool::instance()->start([held = std::move(held)]() mutable { held.reset(); });
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
        returnSoon();
}

} // namespace FreedMemory
