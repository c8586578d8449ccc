#include "app/InstanceChannel.h"
#include "support/QuorrixTestMain.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QtConcurrent/QtConcurrentRun>

class InstanceChannelTest : public QObject {
    Q_OBJECT
    static QString uniqueName(const char* what)
    {
        return QStringLiteral("quorrix-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(QLatin1String(what));
    }

    // A second launch runs in its own process; here on a worker, so this loop can answer it.
    static QFuture<bool> launch(const QString& name, const QStringList& paths)
    {
        return QtConcurrent::run([name, paths] { return InstanceChannel(name).sendToRunning(paths, 3000); });
    }

private slots:
    void nothingRunningMeansThisLaunchRuns()
    {
        InstanceChannel channel(uniqueName("alone"));
        QVERIFY(!channel.sendToRunning({QStringLiteral("/tmp/a.md")}, 200));
    }

    void aSecondLaunchHandsItsFilesOver_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::newRow("one file") << QStringList{"/home/u/notes.md"};
        QTest::newRow("several, with spaces and non-ASCII") << QStringList{"/tmp/a b.json", "/tmp/caf\u00e9.csv"};
        QTest::newRow("no file: just the window") << QStringList{};
    }
    void aSecondLaunchHandsItsFilesOver()
    {
        QFETCH(QStringList, paths);
        InstanceChannel running(uniqueName("handover"));
        QVERIFY(running.listen());
        QSignalSpy received(&running, &InstanceChannel::pathsReceived);
        QFuture<bool> second = launch(uniqueName("handover"), paths);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received.first().first().toStringList(), paths);
        QTRY_VERIFY(second.isFinished());
        QVERIFY(second.result());
    }

    void aStaleSocketIsReplaced()
    {
        const QString name = uniqueName("stale");
        {
            InstanceChannel crashed(name);
            QVERIFY(crashed.listen());
        }
        InstanceChannel next(name);
        QVERIFY(next.listen());
    }

    void garbageIsIgnored()
    {
        const QString name = uniqueName("garbage");
        InstanceChannel running(name);
        QVERIFY(running.listen());
        QSignalSpy received(&running, &InstanceChannel::pathsReceived);
        QLocalSocket socket;
        socket.connectToServer(name);
        QVERIFY(socket.waitForConnected(1000));
        socket.write(QByteArray("\x00\x00\x00\x08not-ours", 12));
        socket.flush();
        QTest::qWait(100);
        QCOMPARE(received.size(), 0);
    }
};

QUORRIX_TEST_MAIN(InstanceChannelTest)
#include "InstanceChannelTest.moc"
