// Time from process start to the first painted main window of quorrix, the program a user runs,
// beside a separate Widgets-only program (startup-widgets-window, no web engine linked) measured
// the same way: offscreen and on an X server (Xvfb of its own, else $DISPLAY), each pinned to
// one CPU and on all of them. Each run is a fresh process; a probe preloaded into both reports
// the paint (FirstPaintProbe.cpp).

#include "support/Machine.h"
#include "support/Series.h"
#include "support/Targets.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace bench;

struct Run {
    Sample sample; // to the first paint; CPU time and peak memory the process's own by then
    double toolMs = -1;
    int webViews = -1;
    int libraries = -1;
};

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// The process id of this bench's X server, which outlives the runs.
qint64& serverPid()
{
    static qint64 pid = 0;
    return pid;
}

// This process's children but the X server: a run's program has ended by then, and what it
// started (the web engine's processes) became this process's (PR_SET_CHILD_SUBREAPER).
QList<pid_t> leftChildren()
{
    QList<pid_t> left;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/children")));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& id : file.readAll().split(' ')) {
            const pid_t pid = pid_t(id.trimmed().toInt());
            if (pid > 0 && pid != serverPid())
                left.append(pid);
        }
    }
    return left;
}

// Until what a run started has ended too (a web engine's processes outlive the program for a
// while, on the CPU the program was given), so that it takes no time from the next run; after
// a few seconds it is killed.
void endLeftChildren()
{
    QElapsedTimer waited;
    waited.start();
    for (QList<pid_t> left = leftChildren(); !left.isEmpty(); left = leftChildren()) {
        const bool late = waited.elapsed() > 5000;
        for (pid_t pid : left) {
            if (late)
                ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, late ? 0 : WNOHANG);
        }
        if (!late)
            ::usleep(1000);
    }
}

struct Place {
    QString platform; // "offscreen" or "xcb"
    QString display;  // the X display for xcb
};

// `untilTool`: waits for the first paint of the tool's own view as well.
Run measure(Cores cores, const QString& program, const Place& place, const QString& home, bool untilTool)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_PRELOAD", QStringLiteral(FIRST_PAINT_PROBE));
    env.insert("QT_QPA_PLATFORM", place.platform);
    if (place.display.isEmpty())
        env.remove("DISPLAY");
    else
        env.insert("DISPLAY", place.display);
    // Settings, and the single-instance channel's socket, of this bench's own: a Quorrix the
    // user runs meanwhile neither takes the launches nor is seen.
    env.insert("XDG_CONFIG_HOME", home + QStringLiteral("/config"));
    env.insert("XDG_RUNTIME_DIR", home + QStringLiteral("/runtime"));
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    env.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
    if (untilTool)
        env.insert("QUORRIX_STARTUP_PROBE_UNTIL", "tool");
    else
        env.remove("QUORRIX_STARTUP_PROBE_UNTIL");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardErrorFile(QProcess::nullDevice());
    // The child inherits this process's CPUs at its start. Times are from here to the moments the
    // child prints, on the same clock.
    setCores(cores);
    const long long startNs = monotonicNs();
    const auto sinceStart = [startNs](const QByteArray& nanoseconds) { return (nanoseconds.toLongLong() - startNs) / 1e6; };
    process.start(program, {});
    process.waitForStarted(20000);
    setCores(Cores::all);
    Run run;
    while (process.state() != QProcess::NotRunning || process.bytesAvailable()) {
        if (!process.waitForReadyRead(20000) && process.state() == QProcess::NotRunning && !process.canReadLine())
            break;
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            if (line.startsWith("painted")) {
                const QList<QByteArray> parts = line.split(' ');
                run.sample.wallMs = sinceStart(parts.value(5));
                run.webViews = parts.value(1).toInt();
                run.sample.cpuMs = parts.value(2).toDouble();
                run.sample.peakMB = parts.value(3).toDouble();
                run.libraries = parts.value(4).toInt();
                run.sample.ok = true;
            } else if (line.startsWith("tool ")) {
                run.toolMs = sinceStart(line.mid(5));
            }
        }
        if (run.sample.ok && (!untilTool || run.toolMs >= 0))
            break;
    }
    // The probe ends the program; it is waited for, so that its end meets no other run.
    process.waitForFinished(20000);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
    endLeftChildren();
    return run;
}

// An X server of this bench's own, on a display number it picks: the figures on X then come
// from the same server wherever the bench runs. Empty when Xvfb is not installed or fails.
QString startXvfb(QProcess& server)
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        return {};
    server.setStandardErrorFile(QProcess::nullDevice());
    // Ends with this bench however it ends.
    server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                        QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1920x1080x24")});
    if (!server.waitForStarted(10000))
        return {};
    QElapsedTimer waited;
    waited.start();
    // It writes the display's number once it accepts connections.
    while (!server.canReadLine() && server.state() == QProcess::Running && waited.elapsed() < 10000)
        server.waitForReadyRead(1000);
    const QByteArray number = server.readLine().trimmed();
    if (number.isEmpty()) {
        server.kill();
        server.waitForFinished(5000);
        return {};
    }
    return QStringLiteral(":") + QString::fromLatin1(number);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication core(argc, argv);
    printMachine("bench-startup");
    // `--program <path>`: another build of quorrix in its place, to compare builds run by run.
    const QStringList arguments = QCoreApplication::arguments();
    const qsizetype programAt = arguments.indexOf(QStringLiteral("--program"));
    const QString quorrix = programAt > 0 && programAt + 1 < arguments.size() ? arguments[programAt + 1]
                                                                               : QStringLiteral(QUORRIX_PROGRAM);
    const QString widgetsOnly = QStringLiteral(WIDGETS_WINDOW);
    const int rounds = roundsWanted(7);
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("config"));
    QDir(home.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(home.filePath(QStringLiteral("runtime")), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // What the runs' programs start becomes this process's when they end, to be waited for.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    QProcess server;
    QString display = startXvfb(server);
    serverPid() = server.processId();
    QString xName = QStringLiteral("Xvfb");
    if (display.isEmpty() && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        display = qEnvironmentVariable("DISPLAY");
        xName = QStringLiteral("X display");
    }
    std::vector<Place> places{{QStringLiteral("offscreen"), {}}};
    // What a user runs loads the display's libraries (and, asked for too early, the GL driver)
    // that offscreen never does.
    if (!display.isEmpty())
        places.push_back({QStringLiteral("xcb"), display});

    std::vector<double> toolMs;
    int webViews = 0;
    // Highest count of shared libraries by the first paint, [place][ours, widgets].
    int libraries[2][2] = {{0, 0}, {0, 0}};
    std::vector<Side> sides;
    for (size_t p = 0; p < places.size(); ++p) {
        const QString where = p == 0 ? QStringLiteral("offscreen") : xName;
        for (int ours : {1, 0}) {
            for (Cores cores : {Cores::one, Cores::all}) {
                const QString name = QStringLiteral("%1, %2, %3")
                                         .arg(ours ? QStringLiteral("Quorrix") : QStringLiteral("Widgets-only"),
                                              cores == Cores::one ? QStringLiteral("1 core") : QStringLiteral("all cores"), where);
                sides.push_back({name, [&, p, ours, cores] {
                                     // On a display the tool's own paint is not waited for: the
                                     // engine's start there is another matter than the window's.
                                     const bool untilTool = ours && p == 0;
                                     const Run run = measure(cores, ours ? quorrix : widgetsOnly, places[p], home.path(), untilTool);
                                     if (untilTool)
                                         toolMs.push_back(run.toolMs);
                                     if (ours)
                                         webViews = std::max(webViews, run.webViews);
                                     int& count = libraries[p][ours ? 0 : 1];
                                     count = std::max(count, run.libraries);
                                     return run.sample;
                                 }});
            }
        }
    }
    // Each place's runs interleaved among themselves: the X server's work after a run has ended
    // took milliseconds from an offscreen run that came next on the same CPU.
    std::vector<Series> s;
    for (size_t p = 0; p < places.size(); ++p) {
        const std::vector<Side> placeSides(sides.begin() + long(p * 4), sides.begin() + long(p * 4 + 4));
        for (Series& series : interleave(placeSides, rounds))
            s.push_back(std::move(series));
    }
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(5000))
            server.kill();
    }

    std::printf("From process start to the first painted main window. Quorrix = %s, the program a user runs\n"
                "(the web engine's libraries load after the paint, with the web views' library); Widgets-only =\n"
                "startup-widgets-window, a QMainWindow of the same size in a program linked against Qt Widgets alone.\n"
                "Both with a preloaded probe that reports the paint. CPU time and peak = the process's own up to its\n"
                "first paint. Shared libraries loaded by the paint, offscreen: %d against %d.\n",
                qPrintable(QFileInfo(quorrix).fileName()), libraries[0][0], libraries[0][1]);
    if (places.size() > 1)
        std::printf("On %s (%s): %d shared libraries by the first paint against %d.\n\n", qPrintable(xName),
                    qPrintable(display), libraries[1][0], libraries[1][1]);
    else
        std::printf("No X server (Xvfb not found, $DISPLAY unset): the figures on one are left out.\n\n");
    printCase(QStringLiteral("first paint"), 0, s);
    std::sort(toolMs.begin(), toolMs.end());
    std::printf("  Markdown tool painted offscreen (its editor and preview, after the window), median: %.1f ms\n",
                toolMs.empty() ? -1.0 : toolMs[toolMs.size() / 2]);
    std::printf("  web views at first paint: %d (the preview's engine waits)\n\n", webViews);

    Targets targets;
    for (size_t p = 0; p < places.size(); ++p) {
        for (size_t c : {0, 1}) {
            const Series& ours = s[p * 4 + c];
            const Series& widgets = s[p * 4 + 2 + c];
            const double ratio = ours.medianMs() / widgets.medianMs();
            targets.check(QStringLiteral("first paint within 2x the Widgets-only window, %1, %2")
                              .arg(c == 0 ? QStringLiteral("1 core") : QStringLiteral("all cores"),
                                   p == 0 ? QStringLiteral("offscreen") : xName),
                          ours.ok() && widgets.ok() && ratio <= 2,
                          QStringLiteral("%1 ms against %2 ms, %3x")
                              .arg(ours.medianMs(), 0, 'f', 1)
                              .arg(widgets.medianMs(), 0, 'f', 1)
                              .arg(ratio, 0, 'f', 2));
        }
    }
    targets.check(QStringLiteral("no web view at first paint"), webViews == 0, QString::number(webViews));
    printLoadAtEnd();
    return targets.finish();
}
