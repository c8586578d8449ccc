// bench-mermaid-tool: the Mermaid tool end to end, offscreen, with the real web view and page.
// Figures: the first diagram after the tool is first shown (engine boot included); for every
// starter template and for generated flowcharts of 50, 200 and 1,000 nodes, the time from the
// end of the quiet time to the redrawn diagram; the longest GUI-thread stall while typing during
// renders; PNG and SVG export times and the longest GUI-thread event while they run. Baselines
// in the same run: the same page re-created for every render, and the same sources rendered by
// the pinned library in a bare page with no bridge. "--exports": the first diagram and exports only;
// "--first": the first diagram only.
#include "kit/web/FileDropWebView.h"
#include "tools/mermaid/MermaidExportController.h"
#include "tools/mermaid/MermaidTemplates.h"
#include "tools/mermaid/MermaidToolViewModel.h"
#include "tools/mermaid/MermaidViewportController.h"
#include "tools/mermaid/ui/MermaidPreviewPage.h"
#include "tools/mermaid/ui/MermaidPreviewView.h"
#include "tools/mermaid/ui/MermaidToolView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QWebEnginePage>
#include <QtTest/QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <unistd.h>

namespace {

constexpr int runs = 15;

// Fewer runs where one render takes seconds.
int runsFor(int nodes)
{
    return nodes >= 1000 ? 2 : nodes >= 200 ? 7 : runs;
}

// The q-quantile (0 to 1) of the values, interpolated between neighbours.
double quantile(QList<double> values, double q)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const double at = q * double(values.size() - 1);
    const auto below = qsizetype(at);
    if (below + 1 >= values.size())
        return values.last();
    return values[below] + (at - double(below)) * (values[below + 1] - values[below]);
}

double median(const QList<double>& values)
{
    return quantile(values, 0.5);
}

// Waits in the event loop, asleep between events as the program's own loop is: a loop that
// spins would take a core from the page's processes on a busy machine. A coarse timer wakes it
// for the deadline.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 120000)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.start(20);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return done();
}

// Rows of eight nodes, each linked to the node below it and some to their right-hand neighbour.
QString flowchart(int nodes, const QString& tag = QString())
{
    QString text = QStringLiteral("flowchart TD\n");
    for (int i = 0; i < nodes; ++i) {
        if (i + 8 < nodes)
            text += QStringLiteral("  N%1[Node %1%3] --> N%2[Node %2%3]\n").arg(i).arg(i + 8).arg(tag);
        if (i % 8 != 7 && i % 3 == 0 && i + 1 < nodes)
            text += QStringLiteral("  N%1 --> N%2\n").arg(i).arg(i + 1);
    }
    return text;
}

struct Case {
    QString name;
    QString source;
    int nodes = 0;
};

// Renders `source` in a fresh preview (page loaded and booted for it): ms until drawn.
double freshPageRender(const QString& source)
{
    MermaidViewportController viewport;
    MermaidExportController exporter;
    bool rendered = false;
    QElapsedTimer clock;
    clock.start();
    MermaidPreviewView view(source, QStringLiteral("default"), &viewport, &exporter, FileDrop{});
    view.resize(900, 700);
    view.show();
    QObject::connect(&view, &MermaidPreviewView::outcome, [&](const MermaidPageProtocol::Outcome& o) {
        if (!std::holds_alternative<MermaidPageProtocol::EngineReady>(o))
            rendered = true;
    });
    waitFor([&] { return rendered; });
    return double(clock.nsecsElapsed()) / 1e6;
}

// Times the library's own render in a page: wraps mermaid.render so that the page keeps how long
// the last call took. Installed in the tool's page and in the bare page alike, so that the time
// outside the library (the bridge, the page's own work, the way back to the program) can be told
// apart from the library's, whose swings from run to run would drown it.
const QString libraryClockScript = QStringLiteral(
    "(function () { if (window.__libraryTimed) return; window.__libraryTimed = true; window.__libraryMs = -1;"
    " var render = mermaid.render; mermaid.render = function () { var t0 = performance.now();"
    " return Promise.resolve(render.apply(this, arguments)).finally(function () {"
    " window.__libraryMs = performance.now() - t0; }); }; })(); true");

QVariant evaluate(QWebEnginePage* page, const QString& script)
{
    std::optional<QVariant> result;
    page->runJavaScript(script, [&result](const QVariant& v) { result = v; });
    waitFor([&] { return result.has_value(); }, 30000);
    return result.value_or(QVariant());
}

double libraryMs(QWebEnginePage* page)
{
    return evaluate(page, QStringLiteral("window.__libraryMs")).toDouble();
}

// The pinned library alone in a page with no bridge: from the program's request to the program
// learning that the diagram is drawn, told through the page's title (no channel, no page logic).
class BarePage {
public:
    BarePage()
    {
        m_view.resize(900, 700);
        m_view.show();
        const QString html = QStringLiteral(
            "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>-</title></head><body><div id=\"out\"></div>"
            "<script src=\"qrc:/mermaid/polyfills.js\"></script><script type=\"module\">"
            "import mermaid from 'qrc:/mermaid/mermaid.esm.min.mjs';"
            "mermaid.initialize({startOnLoad: false, securityLevel: 'strict', htmlLabels: false,"
            " flowchart: {htmlLabels: false}, maxTextSize: 200000, maxEdges: 4000}); window.__n = 0; window.mermaid = mermaid;"
            "window.bareRender = function (code) { var n = ++window.__n;"
            " mermaid.render('bare' + n, code).then(function (r) {"
            " document.getElementById('out').innerHTML = r.svg; document.title = 'done ' + n; },"
            " function () { document.title = 'failed ' + n; }); };</script></body></html>");
        bool loaded = false;
        QObject::connect(&m_view, &QWebEngineView::loadFinished, [&loaded](bool) { loaded = true; });
        QObject::connect(&m_view, &QWebEngineView::titleChanged, [this](const QString& title) { m_title = title; });
        m_view.setHtml(html, QUrl(QStringLiteral("qrc:/mermaid/")));
        waitFor([&] { return loaded; });
        evaluate(m_view.page(), libraryClockScript);
    }

    QWebEnginePage* page() const { return m_view.page(); }

    double render(const QString& source)
    {
        const QString arg = QString::fromUtf8(QJsonDocument(QJsonArray{source}).toJson(QJsonDocument::Compact));
        ++m_count;
        const QString done = QStringLiteral("done %1").arg(m_count);
        const QString failed = QStringLiteral("failed %1").arg(m_count);
        QElapsedTimer clock;
        clock.start();
        m_view.page()->runJavaScript(QStringLiteral("bareRender(%1[0])").arg(arg));
        waitFor([&] { return m_title == done || m_title == failed; });
        return double(clock.nsecsElapsed()) / 1e6;
    }

private:
    QWebEngineView m_view;
    QString m_title;
    int m_count = 0;
};

// Times every event the GUI thread delivers, so a stall can be traced to its receiver.
class TimingApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (!recording)
            return QApplication::notify(receiver, event);
        QElapsedTimer clock;
        clock.start();
        const int type = event->type();
        const QByteArray name = receiver->metaObject()->className();
        const bool result = QApplication::notify(receiver, event);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        if (ms > longest) {
            longest = ms;
            longestType = type;
            longestReceiver = name;
        }
        return result;
    }

    bool recording = false;
    double longest = 0;
    int longestType = 0;
    QByteArray longestReceiver;
};

// Where the first diagram's time went, from the page's own marks on its timeline (wall-clock
// based, so it lines up with `startEpochMs`, the moment the tool was made): the page's navigation
// start (its process is up), its script running, the library loaded, the engine set up, and the
// first render's start and end.
void printFirstDiagramPhases(QWebEnginePage* page, double startEpochMs)
{
    QString json;
    bool done = false;
    page->runJavaScript(QStringLiteral(
                            "JSON.stringify({origin: performance.timeOrigin, marks: performance.getEntriesByType('mark')"
                            ".map(function (m) { return [m.name, m.startTime]; })})"),
                        [&](const QVariant& v) {
                            json = v.toString();
                            done = true;
                        });
    waitFor([&] { return done; }, 10000);
    const QJsonObject o = QJsonDocument::fromJson(json.toUtf8()).object();
    const double origin = o.value(QStringLiteral("origin")).toDouble() - startEpochMs;
    std::printf("  phases from the tool's first show: page started %.0f ms", origin);
    for (const QJsonValue& m : o.value(QStringLiteral("marks")).toArray()) {
        const QJsonArray pair = m.toArray();
        std::printf(", %s %.0f", qPrintable(pair.at(0).toString()), origin + pair.at(1).toDouble());
    }
    std::printf("\n");
}

// CPU time (ms) spent so far by this process and by its descendants (the web engine's processes),
// read from /proc: on a loaded machine a steadier figure than the wall time, for comparing runs.
std::pair<double, double> cpuTimes()
{
    const double tick = 1000.0 / double(sysconf(_SC_CLK_TCK));
    QHash<qint64, qint64> parentOf;
    QHash<qint64, double> cpuOf;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = file.readAll();
        // The fields after the command name, which is in parentheses and may hold spaces.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            continue;
        parentOf.insert(pid, fields[1].toLongLong());
        cpuOf.insert(pid, (fields[11].toDouble() + fields[12].toDouble()) * tick);
    }
    const qint64 self = QCoreApplication::applicationPid();
    double children = 0;
    for (auto it = cpuOf.cbegin(); it != cpuOf.cend(); ++it) {
        for (qint64 p = parentOf.value(it.key()); p > 1; p = parentOf.value(p)) {
            if (p == self) {
                children += it.value();
                break;
            }
        }
    }
    return {cpuOf.value(self), children};
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TimingApplication app(argc, argv);

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("bench-mermaid-tool: offscreen, real web view, medians of %d runs a figure (fewer for large "
                "flowcharts)\n",
                runs);

    // First diagram after the tool is first shown.
    MermaidToolViewModel model;
    const double startEpochMs
        = double(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
                     .count())
        / 1000.0;
    const auto [ownCpuBefore, pageCpuBefore] = cpuTimes();
    QElapsedTimer clock;
    clock.start();
    MermaidToolView view(&model);
    view.resize(1200, 800);
    view.show();
    waitFor([&] { return model.engineReady() && model.renderedBytes() > 0; });
    const double firstDiagram = double(clock.nsecsElapsed()) / 1e6;
    std::printf("\nfirst diagram after the tool is shown (engine boot included)  %8.1f ms   (budget 1500 ms)\n",
                firstDiagram);
    const auto [ownCpu, pageCpu] = cpuTimes();
    printFirstDiagramPhases(view.preview()->page(), startEpochMs);
    std::printf("  CPU time meanwhile: this process %.0f ms (web engine start included), page processes %.0f ms\n",
                ownCpu - ownCpuBefore, pageCpu - pageCpuBefore);
    // "--first": the first diagram only (a cold start each run, for repeating it).
    if (app.arguments().contains(QStringLiteral("--first")))
        return 0;

    QList<Case> cases;
    for (const auto& t : MermaidTemplates::all())
        cases << Case{QStringLiteral("template ") + t.id, t.source + QLatin1Char('\n')};
    // "--templates" leaves the generated flowcharts out (a quick run); "--exports" measures only
    // the first diagram and the exports.
    const bool exportsOnly = app.arguments().contains(QStringLiteral("--exports"));
    const bool templatesOnly = exportsOnly || app.arguments().contains(QStringLiteral("--templates"));
    for (int n : templatesOnly ? QList<int>{} : QList<int>{50, 200, 1000})
        cases << Case{QStringLiteral("flowchart, %1 nodes").arg(n), flowchart(n), n};

    // From the end of the quiet time (the render source published) to the outcome.
    MermaidPreviewView* preview = view.preview();
    double quietEnd = 0;
    bool outcomeSeen = false;
    QElapsedTimer wall;
    wall.start();
    QObject::connect(&model, &MermaidToolViewModel::renderSourceChanged,
                     [&] { quietEnd = double(wall.nsecsElapsed()) / 1e6; });
    double outcomeAt = 0;
    QObject::connect(preview, &MermaidPreviewView::outcome, [&](const MermaidPageProtocol::Outcome& o) {
        if (std::holds_alternative<MermaidPageProtocol::EngineReady>(o))
            return;
        outcomeAt = double(wall.nsecsElapsed()) / 1e6;
        outcomeSeen = true;
    });

    if (exportsOnly)
        cases.clear();
    BarePage bare;
    if (!cases.isEmpty()) {
        evaluate(preview->page(), libraryClockScript);
        std::printf("\nthe tool and the bare page take turns on the same sources (%d runs a template). Overhead: the\n"
                    "runs' median of (tool - bare) / bare end to end, and of the same with each page's time in the\n"
                    "library's render taken out (the bridge and page work alone), with its middle half\n",
                    runs);
        std::printf("%-26s %9s %9s %10s %10s %10s %15s\n", "source", "tool (ms)", "bare page", "fresh page",
                    "end to end", "bridge", "middle half");
    }
    bool templatesUnder300 = true;
    QList<double> allShares;
    QStringList overBudget;
    for (const Case& c : cases) {
        QList<double> tool, barePage, rawShares, shares, fresh;
        for (int r = 0; r < runsFor(c.nodes); ++r) {
            // A distinct text each run, so every run is a real redraw.
            const QString source = c.source + QStringLiteral("%% run %1\n").arg(r);
            const auto renderInTool = [&] {
                outcomeSeen = false;
                model.setSource(source);
                waitFor([&] { return outcomeSeen && model.renderSource() == source; });
                return outcomeAt - quietEnd;
            };
            // Each goes first in every other run, so that neither gains from following the other.
            double t = 0, b = 0, tl = 0, bl = 0;
            if (r % 2 == 0) {
                t = renderInTool();
                tl = libraryMs(preview->page());
                b = bare.render(source);
                bl = libraryMs(bare.page());
            } else {
                b = bare.render(source);
                bl = libraryMs(bare.page());
                t = renderInTool();
                tl = libraryMs(preview->page());
            }
            tool << t;
            barePage << b;
            if (b > 0) {
                rawShares << (t - b) / b;
                shares << ((t - tl) - (b - bl)) / b;
            }
        }
        for (int r = 0; r < std::min(2, runsFor(c.nodes)); ++r)
            fresh << freshPageRender(c.source);
        const double t = median(tool), b = median(barePage), f = median(fresh);
        const double low = quantile(shares, 0.25), high = quantile(shares, 0.75);
        if (c.name.startsWith(QStringLiteral("template")) && t > 300)
            templatesUnder300 = false;
        allShares << shares;
        // Over the budget only when most runs say so, not when noise tips the median.
        if (shares.size() >= 3 && low > 0.10)
            overBudget << c.name;
        std::printf("%-26s %9.1f %9.1f %10.1f %+9.1f%% %+9.1f%% %+6.1f..%+5.1f%%\n", qPrintable(c.name), t, b, f,
                    100 * median(rawShares), 100 * median(shares), 100 * low, 100 * high);
    }
    if (!cases.isEmpty()) {
        std::printf("  templates redrawn under 300 ms after the quiet time: %s\n", templatesUnder300 ? "yes" : "NO");
        std::printf("  bridge overhead over the bare page, all %lld runs: median %+.1f %% (middle half %+.1f..%+.1f %%) "
                    "(budget 10 %%)\n",
                    static_cast<long long>(allShares.size()), 100 * median(allShares), 100 * quantile(allShares, 0.25),
                    100 * quantile(allShares, 0.75));
        std::printf("  sources whose middle half lies over 10 %%: %s\n",
                    overBudget.isEmpty() ? "none" : qPrintable(overBudget.join(QStringLiteral(", "))));
    }

    // The longest GUI-thread stall while typing during renders of the 200-node flowchart.
    if (!exportsOnly) {
        model.setQuietTime(MermaidToolViewModel::quietMs);
        model.setSource(flowchart(200));
        QElapsedTimer tick;
        tick.start();
        double longest = 0;
        qint64 last = tick.nsecsElapsed();
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = tick.nsecsElapsed();
            longest = std::max(longest, double(now - last) / 1e6);
            last = now;
        });
        ticker.start();
        app.recording = true;
        app.longest = 0;
        QString text = model.source();
        for (int k = 0; k < 60; ++k) {
            text += QStringLiteral("  T%1 --> N%2\n").arg(k).arg(k % 200);
            const qint64 before = tick.nsecsElapsed();
            model.setSource(text);
            longest = std::max(longest, double(tick.nsecsElapsed() - before) / 1e6);
            // Keystrokes 40 to 250 ms apart, so some land inside the quiet time and some after.
            QTest::qWait(k % 3 == 0 ? 250 : 40);
        }
        QTest::qWait(1500);
        ticker.stop();
        app.recording = false;
        std::printf("\nlongest GUI-thread stall while typing during renders (200 nodes): %6.1f ms (budget 50 ms)\n",
                    longest);
        std::printf("  longest single event: %.1f ms (event type %d to a %s)\n", app.longest, app.longestType,
                    app.longestReceiver.constData());
    }

    // Exports of the 200-node flowchart.
    {
        model.setQuietTime(0);
        outcomeSeen = false;
        model.setSource(flowchart(200, QStringLiteral(" x")));
        waitFor([&] { return outcomeSeen; });
        QList<double> svgTimes, pngTimes;
        // The answers arrive on the GUI thread: the PNG one is a megabyte of text.
        app.recording = true;
        app.longest = 0;
        qint64 svgBytes = 0, pngBytes = 0;
        QString failure;
        for (int r = 0; r < 3; ++r) {
            bool done = false;
            QElapsedTimer c;
            c.start();
            model.exporter()->fetchSVG([&](MermaidExportController::Fetched<QString> f) {
                done = true;
                svgBytes = f.data ? f.data->toUtf8().size() : -1;
            });
            waitFor([&] { return done; });
            svgTimes << double(c.nsecsElapsed()) / 1e6;
            done = false;
            c.restart();
            model.exporter()->fetchPNG([&](MermaidExportController::Fetched<QByteArray> f) {
                done = true;
                pngBytes = f.data ? f.data->size() : -1;
                failure = f.failure;
            });
            waitFor([&] { return done; });
            pngTimes << double(c.nsecsElapsed()) / 1e6;
        }
        std::printf("\nexport, 200-node flowchart: SVG %7.1f ms (%lld bytes), PNG at scale 2 %7.1f ms (%lld bytes) "
                    "(budget 2000 ms)\n",
                    median(svgTimes), static_cast<long long>(svgBytes), median(pngTimes),
                    static_cast<long long>(pngBytes));
        app.recording = false;
        std::printf("  longest GUI-thread event during the exports: %.1f ms (event type %d to a %s) (budget 50 ms)\n",
                    app.longest, app.longestType, app.longestReceiver.constData());
        if (!failure.isEmpty())
            std::printf("  PNG failed: %s\n", qPrintable(failure));
    }
    return 0;
}
