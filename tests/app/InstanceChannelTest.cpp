#include "app/InstanceChannel.h"
#include "support/QuorrixTestMain.h"

#include <QDataStream>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

    // Connects to `name` and writes `message` framed as a launch frames its own.
    static bool sendFramed(QLocalSocket& socket, const QString& name, const QByteArray& message, int connectTimeout)
    {
        socket.connectToServer(name);
        if (!socket.waitForConnected(connectTimeout))
            return false;
        QByteArray framed;
        QDataStream frame(&framed, QIODevice::WriteOnly);
        frame << message;
        socket.write(framed);
        socket.flush();
        return true;
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

    // The socket lies where no other user can take its name first: a folder of this user's that
    // only this user may enter.
    void theSocketLiesInAPrivateFolder_data()
    {
        QTest::addColumn<QString>("runtimeMode");  // of $XDG_RUNTIME_DIR: "private", "open" or "unset"
        QTest::addColumn<bool>("underRuntime");
        QTest::newRow("the runtime folder") << "private" << true;
        QTest::newRow("a runtime folder others may enter is not used") << "open" << false;
        QTest::newRow("no runtime folder") << "unset" << false;
    }
    void theSocketLiesInAPrivateFolder()
    {
        QFETCH(QString, runtimeMode);
        QFETCH(bool, underRuntime);
        QTemporaryDir runtime;
        QVERIFY(runtime.isValid());
        if (runtimeMode == u"open")
            QVERIFY(QFile::setPermissions(runtime.path(), QFileDevice::Permissions(0x7777)));
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        if (runtimeMode == u"unset")
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        const QString name = InstanceChannel::defaultName();
        if (saved.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", saved);
        QVERIFY2(name.startsWith(u'/'), qPrintable(name));
        QCOMPARE(name.startsWith(runtime.path() + u'/'), underRuntime);
        const QFileInfo folder(QFileInfo(name).path());
        QVERIFY(folder.isDir() && !folder.isSymLink());
        QCOMPARE(folder.ownerId(), uint(::getuid()));
        QCOMPARE(folder.permissions() & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                            | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
                 QFileDevice::Permissions());
    }

    // Paths go to, and come from, a program of this user only.
    void anotherUsersPeerIsNotTalkedTo()
    {
        const QString name = uniqueName("stranger");
        InstanceChannel running(name);
        running.setPeerUserId(uint(::getuid()) + 1);
        QVERIFY(running.listen());
        QSignalSpy received(&running, &InstanceChannel::pathsReceived);
        QByteArray message;
        QDataStream out(&message, QIODevice::WriteOnly);
        out << quint32(0x51524958) << QStringList{"/tmp/a.md"};
        QLocalSocket socket;
        QVERIFY(sendFramed(socket, name, message, 3000));
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QLocalSocket::UnconnectedState, 10000);
        QCOMPARE(received.size(), 0);

        const QString ourName = uniqueName("ours");
        InstanceChannel ours(ourName);
        QVERIFY(ours.listen());
        QSignalSpy ourReceived(&ours, &InstanceChannel::pathsReceived);
        QFuture<bool> fromStranger = QtConcurrent::run([ourName] {
            InstanceChannel launch(ourName);
            launch.setPeerUserId(uint(::getuid()) + 1);
            return launch.sendToRunning({"/tmp/b.md"}, 3000);
        });
        QTRY_VERIFY_WITH_TIMEOUT(fromStranger.isFinished(), 10000);
        QVERIFY(!fromStranger.result());
        QCOMPARE(ourReceived.size(), 0);
    }

    void aStaleSocketIsReplaced_data()
    {
        QTest::addColumn<bool>("crashed"); // the program ended without removing its socket
        QTest::newRow("ended cleanly") << false;
        QTest::newRow("crashed, its socket left behind") << true;
    }
    void aStaleSocketIsReplaced()
    {
        QFETCH(bool, crashed);
        const QString name = uniqueName("stale");
        if (crashed) {
            const QByteArray path = QFile::encodeName(QDir::tempPath() + u'/' + name);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            QVERIFY(size_t(path.size()) < sizeof address.sun_path);
            std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
            const int left = ::socket(AF_UNIX, SOCK_STREAM, 0);
            QVERIFY(left >= 0);
            QCOMPARE(::bind(left, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
            ::close(left);
            QVERIFY(QFileInfo::exists(QFile::decodeName(path)));
        } else {
            InstanceChannel ended(name);
            QVERIFY(ended.listen());
        }
        InstanceChannel next(name);
        QVERIFY(next.listen());
        QSignalSpy received(&next, &InstanceChannel::pathsReceived);
        QFuture<bool> second = launch(name, {QStringLiteral("/tmp/c.md")});
        QTRY_COMPARE(received.size(), 1);
        QTRY_VERIFY(second.isFinished());
        QVERIFY(second.result());
    }

    void strangeMessagesAreIgnored_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("not ours") << QByteArray("not-ours");
        // Our marker, then a count of four thousand million paths: nothing is reserved for them.
        QTest::newRow("huge count") << QByteArray("\x51\x52\x49\x58\xff\xff\xff\xf0", 8);
        QTest::newRow("cut short") << QByteArray("\x51\x52\x49\x58\x00\x00\x00\x02\x00\x00\x00\x08" "ab", 14);
        // Our marker and a sound list, but longer than any launch sends: refused unread.
        QByteArray tooLong;
        QDataStream out(&tooLong, QIODevice::WriteOnly);
        out << quint32(0x51524958) << QStringList{QString(600 * 1024, u'a')};
        QTest::newRow("over a megabyte") << tooLong;
    }
    void strangeMessagesAreIgnored()
    {
        QFETCH(QByteArray, message);
        const QString name = uniqueName("strange");
        InstanceChannel running(name);
        QVERIFY(running.listen());
        QSignalSpy received(&running, &InstanceChannel::pathsReceived);
        QLocalSocket socket;
        QVERIFY(sendFramed(socket, name, message, 1000));
        QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(received.size(), 0);
    }
};

QUORRIX_TEST_MAIN(InstanceChannelTest)
#include "InstanceChannelTest.moc"
