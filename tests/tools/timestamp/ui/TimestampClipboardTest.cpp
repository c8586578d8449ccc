#include "support/QuorrixTestMain.h"
#include "kit/ui/PaneButton.h"
#include "tools/timestamp/TimestampToolViewModel.h"
#include "tools/timestamp/ui/TimestampClipboardWatch.h"
#include "tools/timestamp/ui/TimestampToolView.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// The paste button against a real X server: Qt's own clipboard waits seconds on an owner that
// does not answer, which an in-process clipboard never shows. The program starts a private
// Xvfb when there is one and skips otherwise.

namespace {

pid_t xServer = 0;

void stopPrivateXServer()
{
    if (xServer > 0) {
        kill(xServer, SIGTERM);
        waitpid(xServer, nullptr, 0);
    }
}

// Xvfb on a display of its own, far above those people start by hand; it writes the number
// once it takes connections, and exits (closing the pipe) when the display is taken.
bool tryPrivateXServer(const QByteArray& path, int display)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return false;
    const QByteArray name = ":" + QByteArray::number(display);
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(ready[1], 3);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl(path.constData(), "Xvfb", name.constData(), "-displayfd", "3", "-screen", "0", "1280x1024x24",
              "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    if (pid < 0) {
        close(ready[0]);
        return false;
    }
    QByteArray number;
    char c;
    while (read(ready[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(ready[0]);
    if (number.isEmpty()) {
        waitpid(pid, nullptr, 0);
        return false;
    }
    xServer = pid;
    std::atexit(stopPrivateXServer);
    qputenv("DISPLAY", ":" + number);
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

void startPrivateXServer()
{
    const QByteArray path = QStandardPaths::findExecutable(QStringLiteral("Xvfb")).toLocal8Bit();
    if (path.isEmpty())
        return;
    for (int attempt = 0; attempt < 20; ++attempt)
        if (tryPrivateXServer(path, 600 + (getpid() + attempt * 37) % 300))
            return;
}

// Another X client that takes the clipboard and never reads a request.
class SilentOwner {
public:
    SilentOwner()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, 9, "CLIPBOARD"), nullptr);
        m_clipboard = atom->atom;
        std::free(atom);
        xcb_set_selection_owner(m_connection, window, m_clipboard, XCB_CURRENT_TIME);
        m_window = window;
        m_owns = owns();
    }
    bool owns() const
    {
        xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
            m_connection, xcb_get_selection_owner(m_connection, m_clipboard), nullptr);
        const bool mine = owner && owner->owner == m_window;
        std::free(owner);
        return mine;
    }
    ~SilentOwner() { xcb_disconnect(m_connection); }

private:
    xcb_connection_t* m_connection;
    xcb_atom_t m_clipboard = 0;
    xcb_window_t m_window = 0;
    bool m_owns = false;
};

// The longest time the GUI thread went without running its event loop.
class StallMeter {
public:
    StallMeter()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_sinceTick.restart());
        });
        m_sinceTick.start();
        m_timer.start();
    }
    qint64 longestMs() const { return std::max(m_longest, m_sinceTick.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
};

}  // namespace

class TimestampClipboardTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<TimestampToolViewModel> m_model;
    std::unique_ptr<QWidget> m_window;
    TimestampToolView* m_view = nullptr;

    // The shell hides a tool's view inside its window when another tool is chosen.
    void showAgain()
    {
        m_view->hide();
        QVERIFY(!m_view->clipboardWatch()->isWatching());
        m_view->show();
    }

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != u"xcb")
            QSKIP("No X server to test against (Xvfb is not installed).");
    }

    void init()
    {
        m_settings = std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
        m_model = std::make_unique<TimestampToolViewModel>(*m_settings);
        m_model->setQuietTime(0);
        m_window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(m_window.get());
        m_view = new TimestampToolView(m_model.get());
        layout->addWidget(m_view);
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }

    void cleanup()
    {
        m_window.reset();
        m_model.reset();
    }

    // The text comes over X from the clipboard's owner (here Qt's own connection, which sends
    // a large text in pieces), and is trimmed.
    void pasteReadsTheOwnersText_data()
    {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("input");
        QTest::newRow("blanks around a number") << "  1790380800000\n" << "1790380800000";
        QTest::newRow("non-ASCII") << "2026-09-26T12:00:00Z → UTC" << "2026-09-26T12:00:00Z → UTC";
        QTest::newRow("4 MB, in pieces") << QString(4 << 20, u' ') + QStringLiteral("1790380800") << "1790380800";
    }
    void pasteReadsTheOwnersText()
    {
        QFETCH(QString, clipboard);
        QFETCH(QString, input);
        QGuiApplication::clipboard()->setText(clipboard);
        QTRY_VERIFY_WITH_TIMEOUT(m_view->pasteButton()->isEnabled(), 10000);
        m_view->pasteButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_model->input(), input, 10000);
        QCOMPARE(m_view->inputField()->text(), input);
    }

    // An owner that never answers turns the button off once its time is up, and the window
    // keeps running all along: nothing on the GUI thread waits for it.
    void silentOwnerNeverStallsTheWindow()
    {
        QGuiApplication::clipboard()->setText(QStringLiteral("1790380800"));
        QTRY_VERIFY_WITH_TIMEOUT(m_view->pasteButton()->isEnabled(), 10000);
        StallMeter meter;
        SilentOwner owner;
        QVERIFY(owner.owns());
        QTRY_VERIFY_WITH_TIMEOUT(!m_view->pasteButton()->isEnabled(), 10000);
        // Showing the view again and pasting while the owner is silent ask it again.
        showAgain();
        QSignalSpy read(m_view->clipboardWatch(), &TimestampClipboardWatch::textRead);
        m_view->clipboardWatch()->readText();
        QTRY_VERIFY_WITH_TIMEOUT(!m_view->clipboardWatch()->isReading(), 10000);
        QCOMPARE(read.count(), 0);
        // A generous bound: a wait on the owner lasts seconds.
        QVERIFY2(meter.longestMs() < 1000, qPrintable(QStringLiteral("stalled %1 ms").arg(meter.longestMs())));
        // A new owner that answers brings the button back.
        QGuiApplication::clipboard()->setText(QStringLiteral("1790380800"));
        QTRY_VERIFY_WITH_TIMEOUT(m_view->pasteButton()->isEnabled(), 10000);
    }

    // Hidden, or in a window that is not active, the view does not look at the clipboard; it
    // looks again when it can be used.
    void watchesOnlyWhileUsable()
    {
        TimestampClipboardWatch* watch = m_view->clipboardWatch();
        QGuiApplication::clipboard()->setText(QStringLiteral("1790380800"));
        QTRY_VERIFY_WITH_TIMEOUT(m_view->pasteButton()->isEnabled(), 10000);
        QVERIFY(watch->isWatching());
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(!watch->isWatching());
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QVERIFY(watch->isWatching());
        m_view->hide();
        QVERIFY(!watch->isWatching());
        QGuiApplication::clipboard()->clear();
        m_view->show();
        QVERIFY(watch->isWatching());
        QTRY_VERIFY_WITH_TIMEOUT(!m_view->pasteButton()->isEnabled(), 10000);
    }
};

QUORRIX_TEST_MAIN_WITH_SETUP(TimestampClipboardTest, startPrivateXServer())
#include "TimestampClipboardTest.moc"
