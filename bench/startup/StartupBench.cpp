// Time from process start to the first painted main window, offscreen, median of several runs,
// beside a bare Qt window measured the same way. Each run is a fresh child process.

#include "app/ui/AppShellView.h"
#include "app/ui/QuorrixApp.h"

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

class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            // Report once this paint has been delivered.
            QTimer::singleShot(0, qApp, [] {
                int webViews = 0;
                for (QWidget* top : QApplication::topLevelWidgets())
                    webViews += int(top->findChildren<QWebEngineView*>().size());
                std::printf("painted %d\n", webViews);
                std::fflush(stdout);
                QApplication::exit(0);
            });
        }
        return false;
    }

private:
    bool m_seen = false;
};

int child(int argc, char* argv[], bool bare)
{
    if (!bare)
        QuorrixApp::prepareProcess();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("QuorrixBench"));
    QApplication::setApplicationName(QStringLiteral("QuorrixBench"));
    FirstPaint watcher;
    if (bare) {
        QMainWindow window;
        window.resize(1180, 740);
        window.installEventFilter(&watcher);
        window.show();
        return application.exec();
    }
    QuorrixApp app;
    app.showMainWindow();
    app.mainWindow()->installEventFilter(&watcher);
    return application.exec();
}

struct Run {
    double ms = -1;
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
            }
        }
        if (run.ms >= 0)
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
    std::vector<double> ours, bare;
    int webViews = 0;
    for (int i = 0; i < runs; ++i) {
        const Run run = measure(program, "--child", home.path());
        ours.push_back(run.ms);
        webViews = std::max(webViews, run.webViews);
        bare.push_back(measure(program, "--bare", home.path()).ms);
    }
    std::printf("startup to first painted window (offscreen, median of %d runs)\n", runs);
    std::printf("  Quorrix main window:   %8.1f ms   (target < 400 ms)\n", median(ours));
    std::printf("  bare Qt main window:   %8.1f ms   (baseline)\n", median(bare));
    std::printf("  web views at launch:   %8d      (only the Markdown preview may start one)\n", webViews);
    const bool ok = median(ours) > 0 && median(ours) < 400 && webViews <= 1;
    std::printf("%s\n", ok ? "startup: target met" : "startup: TARGET MISSED");
    return 0;
}
