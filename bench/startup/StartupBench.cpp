// Time from process start to the first painted main window, offscreen, beside a separate
// Widgets-only program (startup-widgets-window, no web engine linked) measured the same way;
// each pinned to one CPU and on all of them. Each run is a fresh process.

#include "app/ui/AppShellView.h"
#include "app/ui/QuorrixApp.h"
#include "kit/ui/ToolView.h"
#include "support/Machine.h"
#include "support/Series.h"
#include "support/Targets.h"
#include "FirstPaintReport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

using namespace bench;

// Reports the window's first paint (with the number of web views by then) and the first paint
// of the tool's own view that follows it.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        if (!m_seen && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow()) {
            m_seen = true;
            // Reported once this paint has been delivered.
            QTimer::singleShot(0, qApp, [] {
                int webViews = 0;
                // Counted by class name: this program loads the web engine only with the views.
                for (QWidget* top : QApplication::topLevelWidgets()) {
                    for (QWidget* child : top->findChildren<QWidget*>())
                        webViews += child->inherits("QWebEngineView") ? 1 : 0;
                }
                reportFirstPaint(webViews);
            });
        } else if (m_seen && !m_toolSeen && qobject_cast<ToolView*>(watched)) {
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
    bool m_seen = false;
    bool m_toolSeen = false;
};

int child(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("QuorrixBench"));
    QApplication::setApplicationName(QStringLiteral("QuorrixBench"));
    FirstPaint watcher;
    QuorrixApp app;
    application.installEventFilter(&watcher);
    app.showMainWindow();
    return application.exec();
}

struct Run {
    Sample sample; // to the first paint; CPU time and peak memory the process's own by then
    double toolMs = -1;
    int webViews = -1;
    int libraries = -1;
};

// `platform`: "offscreen", or "xcb" for the X display this bench was started on.
Run measure(Cores cores, const QString& program, const QStringList& args, const QString& home,
            const QString& platform = QStringLiteral("offscreen"))
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", platform);
    env.insert("XDG_CONFIG_HOME", home);
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    env.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    // The child inherits this process's CPUs at its start.
    setCores(cores);
    QElapsedTimer timer;
    timer.start();
    process.start(program, args);
    process.waitForStarted(20000);
    setCores(Cores::all);
    // On a display the tool's own paint is not waited for: the engine's start there is another
    // matter than the window's.
    const bool offscreen = platform == QLatin1String("offscreen");
    const bool waitForTool = !args.isEmpty() && offscreen;
    Run run;
    while (process.state() != QProcess::NotRunning || process.bytesAvailable()) {
        if (!process.waitForReadyRead(20000) && process.state() == QProcess::NotRunning && !process.canReadLine())
            break;
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith("painted")) {
                const QList<QByteArray> parts = line.split(' ');
                run.sample.wallMs = timer.nsecsElapsed() / 1e6;
                run.webViews = parts.value(1).toInt();
                run.sample.cpuMs = parts.value(2).toDouble();
                run.sample.peakMB = parts.value(3).toDouble();
                run.libraries = parts.value(4).toInt();
                run.sample.ok = true;
            } else if (line == "tool") {
                run.toolMs = timer.nsecsElapsed() / 1e6;
            }
        }
        if (run.sample.ok && (!waitForTool || run.toolMs >= 0))
            break;
    }
    if (!offscreen)
        process.kill();
    process.waitForFinished(20000);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
    return run;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 1 && QByteArray(argv[1]) == "--child")
        return child(argc, argv);

    QCoreApplication core(argc, argv);
    printMachine("bench-startup");
    const QString program = QCoreApplication::applicationFilePath();
    const QString widgetsOnly = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("startup-widgets-window"));
    const int rounds = roundsWanted(7);
    QTemporaryDir home;
    std::vector<double> toolMs;
    int webViews = 0, oursLibraries = 0, widgetsLibraries = 0;
    int oursOnDisplay = 0, widgetsOnDisplay = 0;
    auto ours = [&](Cores cores) {
        const Run run = measure(cores, program, {QStringLiteral("--child")}, home.path());
        toolMs.push_back(run.toolMs);
        webViews = std::max(webViews, run.webViews);
        oursLibraries = std::max(oursLibraries, run.libraries);
        return run.sample;
    };
    auto widgets = [&](Cores cores) {
        const Run run = measure(cores, widgetsOnly, {}, home.path());
        widgetsLibraries = std::max(widgetsLibraries, run.libraries);
        return run.sample;
    };
    // On an X display as well when there is one: what a user runs loads the display's libraries
    // (and, asked for too early, the GL driver) that offscreen never does.
    const bool display = !qEnvironmentVariableIsEmpty("DISPLAY");
    const QString xcb = QStringLiteral("xcb");
    std::vector<Side> sides{{"Quorrix, 1 core", [&] { return ours(Cores::one); }},
                            {"Quorrix, all cores", [&] { return ours(Cores::all); }},
                            {"Widgets-only, 1 core", [&] { return widgets(Cores::one); }},
                            {"Widgets-only, all cores", [&] { return widgets(Cores::all); }}};
    if (display) {
        sides.push_back({"Quorrix, 1 core, X display", [&] {
                             const Run run = measure(Cores::one, program, {QStringLiteral("--child")}, home.path(), xcb);
                             oursOnDisplay = std::max(oursOnDisplay, run.libraries);
                             return run.sample;
                         }});
        sides.push_back({"Widgets-only, 1 core, X display", [&] {
                             const Run run = measure(Cores::one, widgetsOnly, {}, home.path(), xcb);
                             widgetsOnDisplay = std::max(widgetsOnDisplay, run.libraries);
                             return run.sample;
                         }});
    }
    const std::vector<Series> s = interleave(sides, rounds);
    std::printf("From process start to the first painted main window, offscreen. Quorrix = this program's main window\n"
                "(%d shared libraries loaded by then; the web engine's load after it, with the web views' library);\n"
                "Widgets-only = startup-widgets-window, a QMainWindow of the same size in a program linked against Qt\n"
                "Widgets alone (%d shared libraries). CPU time and peak = the process's own up to its first paint.\n\n",
                oursLibraries, widgetsLibraries);
    if (display)
        std::printf("On the X display ($DISPLAY, one core): %d shared libraries by the first paint against %d.\n\n",
                    oursOnDisplay, widgetsOnDisplay);
    else
        std::printf("No X display ($DISPLAY unset): the figures on one are left out.\n\n");
    printCase(QStringLiteral("first paint"), 0, s);
    std::sort(toolMs.begin(), toolMs.end());
    std::printf("  Markdown tool painted (its editor and preview, after the window), median: %.1f ms\n",
                toolMs.empty() ? -1.0 : toolMs[toolMs.size() / 2]);
    std::printf("  web views at first paint: %d (the preview's engine waits)\n\n", webViews);

    Targets targets;
    for (int where : {0, 1}) {
        const double ratio = s[size_t(where)].medianMs() / s[size_t(where) + 2].medianMs();
        targets.check(QStringLiteral("first paint within 2x the Widgets-only window, %1").arg(where ? "all cores" : "1 core"),
                      s[size_t(where)].ok() && s[size_t(where) + 2].ok() && ratio <= 2,
                      QStringLiteral("%1 ms against %2 ms, %3x").arg(s[size_t(where)].medianMs(), 0, 'f', 0)
                          .arg(s[size_t(where) + 2].medianMs(), 0, 'f', 0).arg(ratio, 0, 'f', 2));
    }
    if (display) {
        const double ratio = s[4].medianMs() / s[5].medianMs();
        targets.check(QStringLiteral("first paint within 2x the Widgets-only window, 1 core, X display"),
                      s[4].ok() && s[5].ok() && ratio <= 2,
                      QStringLiteral("%1 ms against %2 ms, %3x").arg(s[4].medianMs(), 0, 'f', 0)
                          .arg(s[5].medianMs(), 0, 'f', 0).arg(ratio, 0, 'f', 2));
    }
    targets.check(QStringLiteral("no web view at first paint"), webViews == 0, QString::number(webViews));
    printLoadAtEnd();
    return targets.finish();
}
