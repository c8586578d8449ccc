// Time from process start to the first painted main window, offscreen, median of several runs,
// beside a bare Qt window measured the same way. Each run is a fresh child process.

#include "app/ui/AppShellView.h"
#include "app/ui/QuorrixApp.h"
#include "kit/ui/ToolView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>

namespace {

// Reports the window's first paint (with the number of web views by then) and, for Quorrix, the
// first paint of the tool's own view that follows it.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(bool waitForTool) : m_waitForTool(waitForTool) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        if (!m_seen && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow()) {
            m_seen = true;
            // Report once this paint has been delivered.
            QTimer::singleShot(0, qApp, [this] {
                int webViews = 0;
                for (QWidget* top : QApplication::topLevelWidgets())
                    webViews += int(top->findChildren<QWebEngineView*>().size());
                std::printf("painted %d\n", webViews);
                std::fflush(stdout);
                if (!m_waitForTool)
                    QApplication::exit(0);
            });
        } else if (m_seen && m_waitForTool && !m_toolSeen && qobject_cast<ToolView*>(watched)) {
            m_toolSeen = true;
            QTimer::singleShot(0, qApp, [] {
                std::printf("tool\n");
                std::fflush(stdout);
                QApplication::exit(0);
            });
        }
        return false;
    }

private:
    bool m_waitForTool;
    bool m_seen = false;
    bool m_toolSeen = false;
};

int child(int argc, char* argv[], bool bare)
{
    if (!bare)
        QuorrixApp::prepareProcess();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("QuorrixBench"));
    QApplication::setApplicationName(QStringLiteral("QuorrixBench"));
    FirstPaint watcher(!bare);
    if (bare) {
        QMainWindow window;
        window.resize(1180, 740);
        window.installEventFilter(&watcher);
        window.show();
        return application.exec();
    }
    QuorrixApp app;
    application.installEventFilter(&watcher);
    app.showMainWindow();
    return application.exec();
}

struct Run {
    double ms = -1;
    double toolMs = -1;
    int webViews = -1;
};

Run measure(const QString& program, const QString& mode, const QString& home)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", home);
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    env.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(program, {mode});
    Run run;
    while (process.state() != QProcess::NotRunning || process.bytesAvailable()) {
        if (!process.waitForReadyRead(20000) && process.state() == QProcess::NotRunning && !process.canReadLine())
            break;
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith("painted")) {
                run.ms = timer.nsecsElapsed() / 1e6;
                run.webViews = line.mid(8).toInt();
            } else if (line == "tool") {
                run.toolMs = timer.nsecsElapsed() / 1e6;
            }
        }
        if (run.ms >= 0 && (mode == "--bare" || run.toolMs >= 0))
            break;
    }
    process.waitForFinished(20000);
    return run;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && QByteArray(argv[1]) == "--child")
        return child(argc, argv, false);
    if (argc > 1 && QByteArray(argv[1]) == "--bare")
        return child(argc, argv, true);

    QCoreApplication core(argc, argv);
    const QString program = QCoreApplication::applicationFilePath();
    const int runs = 7;
    QTemporaryDir home;
    std::vector<double> ours, tools, bare;
    int webViews = 0;
    for (int i = 0; i < runs; ++i) {
        const Run run = measure(program, "--child", home.path());
        ours.push_back(run.ms);
        tools.push_back(run.toolMs);
        webViews = std::max(webViews, run.webViews);
        bare.push_back(measure(program, "--bare", home.path()).ms);
    }
    const double limit = 1.5 * median(bare);
    std::printf("startup to first painted window (offscreen, median of %d runs)\n", runs);
    std::printf("  Quorrix main window:   %8.1f ms   (target < 1.5 x bare = %.1f ms)\n", median(ours), limit);
    std::printf("  bare Qt main window:   %8.1f ms   (baseline)\n", median(bare));
    std::printf("  Markdown tool painted: %8.1f ms   (its editor and preview, after the window)\n", median(tools));
    std::printf("  web views at first paint: %5d      (the preview's engine waits: target 0)\n", webViews);
    const bool ok = median(ours) > 0 && median(ours) < limit && webViews == 0;
    std::printf("%s\n", ok ? "startup: target met" : "startup: TARGET MISSED");
    return 0;
}
