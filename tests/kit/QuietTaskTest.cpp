#include "kit/FileOpener.h"
#include "kit/QuietTask.h"
#include "formats/RunParts.h"
#include "support/QuorrixTestMain.h"
#include "support/WrittenFile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSemaphore>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>

#include <memory>
#include <stdexcept>

// Background work driven by event-loop turns: a quiet time of 0 and explicit waits for the
// worker, never the wall clock.
class QuietTaskTest : public QObject {
    Q_OBJECT

    // Turns the event loop until `done` holds; the bound only stops a broken test, and is long
    // because a loaded machine may start a pool thread late.
    template <class Predicate>
    static bool turnUntil(Predicate done)
    {
        const QDeadlineTimer bound(60000);
        while (!done() && !bound.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QThread::yieldCurrentThread();
        }
        return done();
    }

    QTemporaryDir m_dir;

    QUrl write(const QString& name, const QByteArray& bytes)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write(bytes);
        return QUrl::fromLocalFile(file.fileName());
    }

private slots:
    void scheduledWorkWaitsForTheEventLoop()
    {
        QuietTask task(0);
        QList<int> applied;
        task.schedule<int>([](const std::atomic_bool&) { return 7; }, [&](int value) { applied.append(value); });
        QVERIFY(task.isPending());
        QVERIFY(applied.isEmpty());
        QVERIFY(turnUntil([&] { return !applied.isEmpty(); }));
        QCOMPARE(applied, QList<int>{7});
        QVERIFY(!task.isPending());
        QVERIFY(!task.isRunning());
    }

    void onlyTheNewestRunApplies()
    {
        QuietTask task(0);
        QList<int> applied;
        QSemaphore release;
        // The first run is held on its worker until the second has been scheduled.
        task.runNow<int>(
            [&](const std::atomic_bool&) {
                release.acquire();
                return 1;
            },
            [&](int value) { applied.append(value); });
        task.runNow<int>([](const std::atomic_bool&) { return 2; }, [&](int value) { applied.append(value); });
        release.release();
        QVERIFY(turnUntil([&] { return !task.isRunning(); }));
        QCoreApplication::processEvents();
        QCOMPARE(applied, QList<int>{2});
    }

    void cancelRaisesTheFlagOfRunningWork()
    {
        QuietTask task(0);
        std::atomic_bool sawCancel = false;
        QSemaphore started;
        bool applied = false;
        task.runNow<int>(
            [&](const std::atomic_bool& cancelled) {
                started.release();
                while (!cancelled)
                    QThread::yieldCurrentThread();
                sawCancel = true;
                return 0;
            },
            [&](int) { applied = true; });
        started.acquire();
        task.cancel();
        QVERIFY(turnUntil([&] { return !task.isRunning(); }));
        QVERIFY(sawCancel);
        QVERIFY(!applied);
    }

    void pendingWorkDroppedByCancelNeverStarts()
    {
        QuietTask task(0);
        std::atomic_int started = 0;
        task.schedule<int>(
            [&](const std::atomic_bool&) {
                ++started;
                return 0;
            },
            [](int) {});
        task.cancel();
        for (int i = 0; i < 50; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(started.load(), 0);
        QVERIFY(!task.isPending());
    }

    void partialResultsArriveInOrderBeforeTheResult()
    {
        QuietTask task(0);
        QStringList events;
        task.runNow<int, int>(
            [](const std::atomic_bool&, const std::function<void(int)>& publish) {
                publish(1);
                publish(2);
                return 3;
            },
            [&](int partial) { events.append(QStringLiteral("partial %1").arg(partial)); },
            [&](int result) { events.append(QStringLiteral("result %1").arg(result)); });
        QVERIFY(turnUntil([&] { return events.size() == 3; }));
        QCOMPARE(events, QStringList({"partial 1", "partial 2", "result 3"}));
    }

    void partialResultsOfASupersededRunAreDropped()
    {
        QuietTask task(0);
        QStringList events;
        QSemaphore published, release;
        task.runNow<int, int>(
            [&](const std::atomic_bool&, const std::function<void(int)>& publish) {
                publish(1);
                published.release();
                release.acquire();
                return 1;
            },
            [&](int partial) { events.append(QStringLiteral("old partial %1").arg(partial)); },
            [&](int) { events.append(QStringLiteral("old result")); });
        published.acquire();
        // The old run's partial is queued but not yet applied when the new run supersedes it.
        task.runNow<int>([](const std::atomic_bool&) { return 2; },
                         [&](int result) { events.append(QStringLiteral("new result %1").arg(result)); });
        release.release();
        QVERIFY(turnUntil([&] { return !task.isRunning(); }));
        QCoreApplication::processEvents();
        QCOMPARE(events, QStringList({"new result 2"}));
    }

    void detachedWorkAppliesWhileItsContextLives()
    {
        QList<int> applied;
        auto* context = new QObject;
        QuietTask::detached<int>(context, [] { return 5; }, [&](int value) { applied.append(value); });
        QVERIFY(turnUntil([&] { return !applied.isEmpty(); }));
        QCOMPARE(applied, QList<int>{5});

        // Shared, so a worker the pool starts late never waits on a semaphore this test has left.
        auto release = std::make_shared<QSemaphore>();
        auto ran = std::make_shared<QSemaphore>();
        bool late = false;
        QuietTask::detached<int>(
            context,
            [release, ran] {
                release->acquire();
                ran->release();
                return 6;
            },
            [&](int) { late = true; });
        delete context;
        release->release();
        ran->acquire();
        for (int i = 0; i < 200; ++i) {
            QCoreApplication::processEvents();
            QThread::yieldCurrentThread();
        }
        QVERIFY(!late);
    }

    // Qt's painter waits on its global pool: ours must neither fill it nor depend on its room.
    void workRunsWhileQtsPoolIsFull()
    {
        QThreadPool* global = QThreadPool::globalInstance();
        auto hold = std::make_shared<QSemaphore>();
        const int threads = global->maxThreadCount();
        for (int i = 0; i < threads; ++i)
            global->start([hold] { hold->acquire(); });
        QuietTask task(0);
        QList<int> applied;
        task.runNow<int>([](const std::atomic_bool&) {
            std::atomic<int> parts{0};
            runParts(64, [&](qsizetype) { ++parts; });
            return parts.load();
        }, [&](int value) { applied.append(value); });
        QuietTask::detached<int>(&task, [] { return 1; }, [&](int value) { applied.append(value); });
        const bool ran = turnUntil([&] { return applied.size() == 2; });
        hold->release(threads);
        global->waitForDone();
        QVERIFY(ran);
        QCOMPARE(QSet<int>(applied.cbegin(), applied.cend()), QSet<int>({64, 1}));
    }

    void openerPublishesTheFileText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("utf-8") << QByteArray("caf\xc3\xa9") << QStringLiteral("caf\u00e9");
        QTest::newRow("byte-order mark dropped") << QByteArray("\xef\xbb\xbf{}") << QStringLiteral("{}");
        QTest::newRow("ill-formed bytes replaced") << QByteArray("a\xff" "b") << QStringLiteral("a\ufffdb");
        QTest::newRow("empty file") << QByteArray() << QString();
    }
    void openerPublishesTheFileText()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        FileOpener opener;
        std::optional<QString> opened;
        QString failure;
        opener.open(write(QStringLiteral("file.txt"), bytes), [&](QString t) { opened = t; },
                    [&](QString s) { failure = s; });
        QVERIFY(opener.isOpening());
        QVERIFY(turnUntil([&] { return opened.has_value() || !failure.isEmpty(); }));
        QCOMPARE(failure, QString());
        QCOMPARE(*opened, text);
        QVERIFY(!opener.isOpening());
    }

    void openerNewestOpenWins()
    {
        FileOpener opener;
        QStringList opened;
        const QUrl first = write(QStringLiteral("first.txt"), "first");
        const QUrl second = write(QStringLiteral("second.txt"), "second");
        opener.open(first, [&](QString t) { opened.append(t); }, [](QString) {});
        opener.open(second, [&](QString t) { opened.append(t); }, [](QString) {});
        QVERIFY(turnUntil([&] { return !opened.isEmpty(); }));
        for (int i = 0; i < 50; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(opened, QStringList{"second"});
    }

    void openerFailureLeavesTheDocument_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("missing file") << QStringLiteral("missing");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("not a file URL") << QStringLiteral("web");
    }
    void openerFailureLeavesTheDocument()
    {
        QFETCH(QString, what);
        QUrl url;
        if (what == "missing")
            url = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("nothing-here.md")));
        else if (what == "folder")
            url = QUrl::fromLocalFile(m_dir.path());
        else
            url = QUrl(QStringLiteral("https://quorrix.example/a.md"));
        FileOpener opener;
        bool applied = false;
        QString failure;
        opener.open(url, [&](QString) { applied = true; }, [&](QString s) { failure = s; });
        QVERIFY(turnUntil([&] { return !failure.isEmpty(); }));
        QVERIFY(!applied);
        QVERIFY(failure.startsWith(QStringLiteral("Could not read \u201C")));
        QVERIFY(failure.endsWith(QStringLiteral("\u201D. The document was left as it was.")));
    }

    void anEditDuringTheReadWinsAndSaysSo()
    {
        FileOpener opener;
        bool applied = false;
        QString failure;
        const QUrl url = write(QStringLiteral("notes.md"), "# From the file");
        // Typing in the same turn as the open.
        opener.open(url, [&](QString) { applied = true; }, [&](QString s) { failure = s; });
        opener.markEdited();
        QCOMPARE(failure, QStringLiteral("\u201Cnotes.md\u201D was not opened: the document was edited while the file "
                                         "was being read."));
        for (int i = 0; i < 200; ++i) {
            QCoreApplication::processEvents();
            QThread::yieldCurrentThread();
        }
        QVERIFY(!applied);
        QVERIFY(!opener.isOpening());
    }

    void aThrowingRunEndsAndSaysSo_data()
    {
        QTest::addColumn<bool>("outOfMemory");
        QTest::addColumn<bool>("superseded");
        QTest::newRow("allocation fails") << true << false;
        QTest::newRow("another exception") << false << false;
        QTest::newRow("superseded run fails unheard") << true << true;
    }
    void aThrowingRunEndsAndSaysSo()
    {
        QFETCH(bool, outOfMemory);
        QFETCH(bool, superseded);
        QuietTask task(0);
        QList<QuietTask::Failure> failures;
        QList<int> applied;
        task.setFailureHandler([&](QuietTask::Failure failure) { failures << failure; });
        QSemaphore release;
        task.runNow<int>(
            [&release, outOfMemory](const std::atomic_bool&) -> int {
                release.acquire();
                if (outOfMemory)
                    throw std::bad_alloc();
                throw std::runtime_error("broken");
            },
            [&](int value) { applied << value; });
        if (superseded)
            task.runNow<int>([](const std::atomic_bool&) { return 2; }, [&](int value) { applied << value; });
        release.release();
        QVERIFY(turnUntil([&] { return !task.isRunning(); }));
        QCoreApplication::processEvents();
        if (superseded) {
            QCOMPARE(applied, QList<int>{2});
            QVERIFY(failures.isEmpty());
            return;
        }
        QVERIFY(applied.isEmpty());
        const auto expected = outOfMemory ? QuietTask::Failure::outOfMemory : QuietTask::Failure::unexpected;
        QCOMPARE(failures, QList<QuietTask::Failure>{expected});
        // The task is usable again.
        task.runNow<int>([](const std::atomic_bool&) { return 3; }, [&](int value) { applied << value; });
        QVERIFY(turnUntil([&] { return !applied.isEmpty(); }));
        QCOMPARE(applied, QList<int>{3});
    }

    void openerRefusesWhatWouldNotFit_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<double>("perByte");
        QTest::addColumn<qint64>("available");
        QTest::addColumn<QString>("sentence"); // empty: opened
        QTest::newRow("fits exactly") << qint64(1000) << 4.0 << qint64(4000) << QString();
        QTest::newRow("one byte short") << qint64(1000) << 4.0 << qint64(3999)
                                        << QStringLiteral("\u201Cfile.md\u201D was not opened: at 1000 B it would need "
                                                          "about 3 KB of memory, and only 3 KB is available.");
        // A hole on disk: a read would take seconds and gigabytes, a refusal neither.
        QTest::newRow("three gigabytes") << (qint64(3) << 30) << 8.0 << (qint64(2) << 30)
                                         << QStringLiteral("\u201Cfile.md\u201D was not opened: at 3072.0 MB it would "
                                                           "need about 24576.0 MB of memory, and only 2048.0 MB is "
                                                           "available.");
        QTest::newRow("empty file, no memory") << qint64(0) << 8.0 << qint64(0) << QString();
    }
    void openerRefusesWhatWouldNotFit()
    {
        QFETCH(qint64, size);
        QFETCH(double, perByte);
        QFETCH(qint64, available);
        QFETCH(QString, sentence);
        MemoryBudget::setAvailableBytesForTesting(available);
        const auto restore = qScopeGuard([] { MemoryBudget::setAvailableBytesForTesting(std::nullopt); });
        const QUrl url = writeSparseFile(m_dir, QStringLiteral("file.md"), size);
        FileOpener opener;
        opener.setMemoryPerFileByte(perByte);
        std::optional<qsizetype> opened;
        QString failure;
        opener.open(url, [&](QString text) { opened = text.size(); }, [&](QString s) { failure = s; });
        QVERIFY(turnUntil([&] { return !opener.isOpening(); }));
        QCoreApplication::processEvents();
        QCOMPARE(failure, sentence);
        QCOMPARE(opened.has_value(), sentence.isEmpty());
        if (opened)
            QCOMPARE(*opened, size);
    }

    void openerSaysWhenPreparingRunsOutOfMemory()
    {
        FileOpener opener;
        QString failure;
        bool applied = false;
        opener.open<int>(
            write(QStringLiteral("big.json"), "[1]"),
            [](QString, const std::atomic_bool&) -> int { throw std::bad_alloc(); }, [&](int) { applied = true; },
            [&](QString s) { failure = s; });
        QVERIFY(turnUntil([&] { return !failure.isEmpty(); }));
        QVERIFY(!applied);
        QVERIFY(!opener.isOpening());
        QCOMPARE(failure, QStringLiteral("\u201Cbig.json\u201D was not opened: there was not enough memory to read it. "
                                         "The document was left as it was."));
    }

    void aReadDroppedForAnEditStaysSaidUntilTheNextOpen()
    {
        FileOpener opener;
        QStringList failures;
        const QUrl url = write(QStringLiteral("notes.md"), "x");
        opener.open(url, [](QString) {}, [&](QString s) { failures << s; });
        opener.markEdited();
        opener.markEdited();
        QVERIFY(opener.droppedForAnEdit());
        QCOMPARE(failures.size(), 1);
        bool applied = false;
        opener.open(url, [&](QString) { applied = true; }, [&](QString s) { failures << s; });
        QVERIFY(!opener.droppedForAnEdit());
        QVERIFY(turnUntil([&] { return applied; }));
        QCOMPARE(failures.size(), 1);
    }

    void anEditAfterTheOpenChangesNothing()
    {
        FileOpener opener;
        QString failure;
        bool applied = false;
        opener.open(write(QStringLiteral("done.md"), "x"), [&](QString) { applied = true; },
                    [&](QString s) { failure = s; });
        QVERIFY(turnUntil([&] { return applied; }));
        opener.markEdited();
        QCOMPARE(failure, QString());
    }

    void openerPreparesOffTheGuiThread()
    {
        FileOpener opener;
        std::optional<int> length;
        QThread* preparedOn = nullptr;
        opener.open<int>(
            write(QStringLiteral("sized.txt"), "12345"),
            [&](QString text, const std::atomic_bool&) {
                preparedOn = QThread::currentThread();
                return int(text.size());
            },
            [&](int n) { length = n; }, [](QString) {});
        QVERIFY(turnUntil([&] { return length.has_value(); }));
        QCOMPARE(*length, 5);
        QVERIFY(preparedOn != QCoreApplication::instance()->thread());
    }
};

QUORRIX_TEST_MAIN(QuietTaskTest)
#include "QuietTaskTest.moc"
