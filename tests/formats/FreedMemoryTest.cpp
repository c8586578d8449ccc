#include "formats/FreedMemory.h"
#include "formats/WorkPool.h"

#include "support/QuorrixTestMain.h"

#include <QFile>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

namespace {
qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Notes the thread it is destroyed on.
struct DestroyedOn {
    std::shared_ptr<std::atomic<QThread*>> thread = std::make_shared<std::atomic<QThread*>>(nullptr);
    DestroyedOn() = default;
    DestroyedOn(DestroyedOn&& other) noexcept : thread(std::move(other.thread)) {}
    ~DestroyedOn()
    {
        if (thread)
            thread->store(QThread::currentThread());
    }
};
}

class FreedMemoryTest : public QObject {
    Q_OBJECT
private slots:
    // Blocks written on a worker and freed stay in its arena while small ones still in use lie
    // between them, until they are returned.
    void workersFreedMemoryGoesBack()
    {
#if defined(__SANITIZE_ADDRESS__) || !defined(__GLIBC__)
        QSKIP("the allocator is not glibc's here");
#endif
        constexpr qsizetype kBlocks = 2048;
        constexpr size_t kBlock = size_t(48) << 10;
        std::vector<std::unique_ptr<char[]>> pins;
        WorkPool::instance()->start([&] {
            std::vector<std::unique_ptr<char[]>> blocks;
            for (qsizetype i = 0; i < kBlocks; ++i) {
                blocks.emplace_back(new char[kBlock]);
                std::memset(blocks.back().get(), 1, kBlock);
                if (i % 16 == 15)
                    pins.emplace_back(new char[64]);
            }
        });
        QVERIFY(WorkPool::instance()->waitForDone(60000));
        const qint64 before = residentKiB();
        QVERIFY(FreedMemory::returnNow());
        const qint64 after = residentKiB();
        // Most of what was written (64 MB at least: one heap of the worker's arena) goes back.
        QVERIFY2(before - after > 32 * 1024, qPrintable(QStringLiteral("%1 KiB before, %2 after").arg(before).arg(after)));
    }

    // What the GUI thread hands over is destroyed on a worker, and what it shares with others
    // stays theirs.
    void releasedValuesGoOnAWorker()
    {
        DestroyedOn value;
        const auto thread = value.thread;
        const QString kept = QStringLiteral("kept text ").repeated(100000);
        FreedMemory::release(std::move(value));
        FreedMemory::release(QString(kept));
        QTRY_VERIFY_WITH_TIMEOUT(thread->load() != nullptr, 60000);
        QVERIFY(thread->load() != QThread::currentThread());
        QVERIFY(WorkPool::instance()->waitForDone(60000));
        QCOMPARE(kept, QStringLiteral("kept text ").repeated(100000));
    }
};

QUORRIX_TEST_MAIN(FreedMemoryTest)
#include "FreedMemoryTest.moc"
