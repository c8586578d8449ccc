// Loaded into a started program with LD_PRELOAD, so that bench-startup times the program a user
// runs, unchanged: at the first paint of a window it prints a line with the web views by then,
// the process's CPU time and peak memory so far, the shared libraries loaded (this one left out)
// and the moment (CLOCK_MONOTONIC); with QUORRIX_STARTUP_PROBE_UNTIL=tool it also waits for the
// first paint of a tool's view and prints its moment. Then it ends the program. The moments are
// the program's own: a bench woken by the line may wait behind the program on its one CPU.
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QSet>
#include <QTimer>
#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <ctime>
#include <dlfcn.h>
#include <sys/resource.h>

namespace {

QByteArray ownPath()
{
    Dl_info info{};
    return dladdr(reinterpret_cast<void*>(&ownPath), &info) && info.dli_fname ? QByteArray(info.dli_fname) : QByteArray();
}

int sharedLibraries()
{
    const QByteArray own = ownPath();
    const QByteArray name = own.mid(own.lastIndexOf('/'));
    QSet<QByteArray> libraries;
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (maps.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : maps.readAll().split('\n')) {
            const qsizetype slash = line.indexOf('/');
            if (slash >= 0 && line.contains(".so") && !line.endsWith(name))
                libraries.insert(line.mid(slash));
        }
    }
    return int(libraries.size());
}

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

void report(int webViews)
{
    const long long at = monotonicNs();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
                         + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    std::printf("painted %d %.1f %.1f %d %lld\n", webViews, cpuMs, usage.ru_maxrss * 1024.0 / 1e6, sharedLibraries(), at);
    std::fflush(stdout);
}

// Counted by class name: the program may load the web engine only after its first paint.
int webViews()
{
    int views = 0;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        for (QWidget* child : top->findChildren<QWidget*>())
            views += child->inherits("QWebEngineView") ? 1 : 0;
    }
    return views;
}

class FirstPaintProbe : public QObject {
public:
    explicit FirstPaintProbe(bool untilTool) : m_untilTool(untilTool) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        if (!m_seen && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow()) {
            m_seen = true;
            // Once this paint has been delivered.
            QTimer::singleShot(0, qApp, [this] {
                report(webViews());
                if (!m_untilTool)
                    QCoreApplication::exit(0);
            });
        } else if (m_seen && m_untilTool && !m_toolSeen && watched->inherits("ToolView")) {
            m_toolSeen = true;
            QTimer::singleShot(0, qApp, [] {
                std::printf("tool %lld\n", monotonicNs());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    const bool m_untilTool;
    bool m_seen = false;
    bool m_toolSeen = false;
};

void installProbe()
{
    QCoreApplication* application = QCoreApplication::instance();
    auto* probe = new FirstPaintProbe(qgetenv("QUORRIX_STARTUP_PROBE_UNTIL") == "tool");
    probe->setParent(application);
    application->installEventFilter(probe);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
