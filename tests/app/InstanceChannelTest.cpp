#include "app/InstanceChannel.h"
#include "support/QuorrixTestMain.h"

#include <QDataStream>
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

    void strangeMessagesAreIgnored_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("not ours") << QByteArray("not-ours");
        // Our marker, then a count of four thousand million paths: nothing is reserved for them.
        QTest::newRow("huge count") << QByteArray("\x51\x52\x49\x58\xff\xff\xff\xf0", 8);
        QTest::newRow("cut short") << QByteArray("\x51\x52\x49\x58\x00\x00\x00\x02\x00\x00\x00\x08" "ab", 14);
    }
    void strangeMessagesAreIgnored()
    {
        QFETCH(QByteArray, message);
        const QString name = uniqueName("strange");
        InstanceChannel running(name);
        QVERIFY(running.listen());
        QSignalSpy received(&running, &InstanceChannel::pathsReceived);
        QLocalSocket socket;
        socket.connectToServer(name);
        QVERIFY(socket.waitForConnected(1000));
        QByteArray framed;
        QDataStream frame(&framed, QIODevice::WriteOnly);
        frame << message;
        socket.write(framed);
        socket.flush();
        QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(received.size(), 0);
    }
};

QUORRIX_TEST_MAIN(InstanceChannelTest)
#include "InstanceChannelTest.moc"
