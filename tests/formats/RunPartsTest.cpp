#include "formats/RunParts.h"
#include "formats/Utf8Encoder.h"

#include "support/OneCore.h"
#include "support/QuorrixTestMain.h"

#include <QMutex>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>

// The worker count follows the process's CPU affinity: pinned to one core, parts run on the
// calling thread alone and no helper thread is started.
class RunPartsTest : public QObject {
    Q_OBJECT

    cpu_set_t m_before{};
    qsizetype m_threads = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(OneCore::coreCount() >= 1);
        QCOMPARE(WorkPool::workers(), std::min(OneCore::coreCount(), WorkPool::kMostWorkers));
        m_before = OneCore::pin();
        m_threads = OneCore::threadCount();
    }

    void workersFollowTheAffinity() { QCOMPARE(WorkPool::workers(), 1); }

    void pinnedJobsStartNoThread_data()
    {
        QTest::addColumn<std::function<bool()>>("job");
        QTest::newRow("sixty-four parts run on the calling thread") << std::function<bool()>([] {
            QMutex lock;
            QSet<QThread*> threads;
            std::atomic<int> done{0};
            runParts(64, [&](qsizetype) {
                QMutexLocker locked(&lock);
                threads.insert(QThread::currentThread());
                ++done;
            });
            return done == 64 && threads == QSet<QThread*>{QThread::currentThread()};
        });
        QTest::newRow("UTF-8 of twelve million units") << std::function<bool()>([] {
            const QString text(12 << 20, u'\u00E9');
            return Utf8Encoder::toUtf8(text).size() == 24 << 20;
        });
    }
    void pinnedJobsStartNoThread()
    {
        QFETCH(std::function<bool()>, job);
        QVERIFY(job());
        QCOMPARE(OneCore::threadCount(), m_threads);
    }

    // The count above would see helpers: unpinned, a job of many parts starts some.
    void unpinnedJobsUseMoreCores()
    {
        OneCore::restore(m_before);
        if (OneCore::coreCount() < 2)
            QSKIP("this machine lets the process run on one core only");
        QCOMPARE(WorkPool::workers(), std::min(OneCore::coreCount(), WorkPool::kMostWorkers));
        // A pool of its own, sized now: the global one took its size while the process was pinned.
        // It starts a thread for each helper it is given while it has room.
        QThreadPool pool;
        pool.setMaxThreadCount(OneCore::coreCount());
        std::atomic<int> done{0};
        runParts(256, [&](qsizetype) { ++done; }, 0, &pool);
        QCOMPARE(done.load(), 256);
        QVERIFY(OneCore::threadCount() > m_threads);
    }
};

QUORRIX_TEST_MAIN(RunPartsTest)
#include "RunPartsTest.moc"
