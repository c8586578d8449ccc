// bench-mermaid-tool: the Mermaid tool end to end, offscreen, with the real web view and page, each
// run a fresh copy of this program on one CPU or on all of them. Figures: the first diagram after
// the tool is first shown (engine boot included); for every starter template and for generated
// flowcharts of 50 and 200 nodes (and 1,000 with --large), the time from the end of the quiet time
// to the redrawn diagram; the longest GUI-thread stall while typing during renders; PNG and SVG
// export times and the longest GUI-thread event while they run. Baselines inside each run: the
// same sources rendered by the pinned library in a bare page with no bridge (the tool and it take
// turns), and the same page re-created for a render of the first source. Peer, in a child of its own: that bare page
// alone (a QWebEngineView, the library, no bridge), its first diagram and the same renders. On one
// core the run renders the templates only and stops (the rest there takes minutes).
// "--exports": the first diagram and exports only; "--first": the first diagram only;
// "--templates": no generated flowcharts.
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

#include "support/Machine.h"
#include "support/SelfRun.h"
#include "support/Series.h"
#include "support/StallProbe.h"
#include "support/Targets.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <unistd.h>

namespace {

// Renders of a source in one run: the runs (children) give the spread.
constexpr int runs = 1;

int runsFor(int)
{
    return runs;
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
    waitUntil([&] { return rendered; });
    return double(clock.nsecsElapsed()) / 1e6;
}

QVariant evaluate(QWebEnginePage* page, const QString& script)
{
    std::optional<QVariant> result;
    page->runJavaScript(script, [&result](const QVariant& v) { result = v; });
    waitUntil([&] { return result.has_value(); }, 30000);
    return result.value_or(QVariant());
}

// The library's own render of `source` in a page, called there directly and timed by the page.
// Run in the tool's page and in the bare page alike right after their own render of the same
// text, so that the time outside the library (the bridge, the page's own work, the way back to
// the program) can be told apart from the library's, whose swings from run to run would drown it.
// (The tool's page fixes the library object: a wrapper around its render would not take.)
double libraryRenderMs(QWebEnginePage* page, const QString& source)
{
    const QString arg = QString::fromUtf8(QJsonDocument(QJsonArray{source}).toJson(QJsonDocument::Compact));
    evaluate(page, QStringLiteral("window.__libraryMs = -1; (function (code) { var t0 = performance.now();"
                                  " var id = 'benchLibrary' + (window.__libraryRuns = (window.__libraryRuns || 0) + 1);"
                                  " var done = function () { window.__libraryMs = performance.now() - t0; };"
                                  " mermaid.render(id, code).then(done, done); })(%1[0]); true")
                       .arg(arg));
    double ms = -1;
    waitUntil([&] {
        ms = evaluate(page, QStringLiteral("window.__libraryMs")).toDouble();
        return ms >= 0;
    });
    return ms;
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
        waitUntil([&] { return loaded; });
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
        waitUntil([&] { return m_title == done || m_title == failed; });
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
void reportFirstDiagramPhases(QWebEnginePage* page, double startEpochMs)
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
    waitUntil([&] { return done; }, 10000);
    const QJsonObject o = QJsonDocument::fromJson(json.toUtf8()).object();
    const double origin = o.value(QStringLiteral("origin")).toDouble() - startEpochMs;
    bench::report(QStringLiteral("phase 0 page started"), origin);
    int n = 0;
    for (const QJsonValue& m : o.value(QStringLiteral("marks")).toArray()) {
        const QJsonArray pair = m.toArray();
        bench::report(QStringLiteral("phase %1 %2").arg(++n).arg(pair.at(0).toString()), origin + pair.at(1).toDouble());
    }
}

using bench::report;

QList<Case> casesFor(const QStringList& args)
{
    QList<Case> cases;
    if (args.contains(QStringLiteral("--exports")) || args.contains(QStringLiteral("--first")))
        return cases;
    for (const auto& t : MermaidTemplates::all())
        cases << Case{QStringLiteral("template ") + t.id, t.source + QLatin1Char('\n')};
    const bool templatesOnly = args.contains(QStringLiteral("--templates"));
    QList<int> sizes{50, 200};
    if (args.contains(QStringLiteral("--large")))
        sizes << 1000;
    for (int n : templatesOnly ? QList<int>{} : sizes)
        cases << Case{QStringLiteral("flowchart, %1 nodes").arg(n), flowchart(n), n};
    return cases;
}

int childOurs(TimingApplication& app)
{
    const QStringList args = app.arguments();
    // First diagram after the tool is first shown.
    MermaidToolViewModel model;
    const double startEpochMs
        = double(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
                     .count())
        / 1000.0;
    QElapsedTimer clock;
    clock.start();
    MermaidToolView view(&model);
    view.resize(1200, 800);
    view.show();
    waitUntil([&] { return model.engineReady() && model.renderedBytes() > 0; });
    report(QStringLiteral("first diagram ms"), double(clock.nsecsElapsed()) / 1e6);
    reportFirstDiagramPhases(view.preview()->page(), startEpochMs);
    if (args.contains(QStringLiteral("--first"))) {
        bench::reportDescendants(QStringLiteral("page processes"));
        return 0;
    }
    const QList<Case> cases = casesFor(args);
    const bool exportsOnly = args.contains(QStringLiteral("--exports"));
    // On one core the typing's twenty renders of 200 nodes and the exports take minutes, with the
    // page's processes on the same CPU: that run stops after the renders.
    const bool rendersOnly = args.contains(QStringLiteral("--renders-only"));

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

    if (!cases.isEmpty()) {
        BarePage bare;
        // Its first render loads and warms the library: not a figure, as the tool's was its first diagram.
        bare.render(cases.first().source);
        for (const Case& c : cases) {
            QList<double> tool, barePage, shares;
            for (int r = 0; r < runsFor(c.nodes); ++r) {
                // A distinct text each run, so every run is a real redraw.
                const QString source = c.source + QStringLiteral("%% run %1\n").arg(r);
                const auto renderInTool = [&] {
                    outcomeSeen = false;
                    model.setSource(source);
                    waitUntil([&] { return outcomeSeen && model.renderSource() == source; });
                    return outcomeAt - quietEnd;
                };
                // Each goes first in about half the renders (the process id picks), so that neither
                // gains from following the other.
                double t = 0, b = 0, tl = 0, bl = 0;
                if ((r + QCoreApplication::applicationPid() + (&c - &cases.first())) % 2 == 0) {
                    t = renderInTool();
                    tl = libraryRenderMs(preview->page(), source);
                    b = bare.render(source);
                    bl = libraryRenderMs(bare.page(), source);
                } else {
                    b = bare.render(source);
                    bl = libraryRenderMs(bare.page(), source);
                    t = renderInTool();
                    tl = libraryRenderMs(preview->page(), source);
                }
                tool << t;
                barePage << b;
                // The bridge and the page's own work, the library's render taken out of both.
                if (b > 0)
                    shares << ((t - tl) - (b - bl)) / b;
            }
            report(c.name + QStringLiteral(" tool ms"), median(tool));
            report(c.name + QStringLiteral(" bare ms"), median(barePage));
            report(c.name + QStringLiteral(" overhead"), median(shares));
            // A fresh page costs seconds: the first source only.
            if (&c == &cases.first())
                report(c.name + QStringLiteral(" fresh ms"), freshPageRender(c.source));
        }
    }

    if (rendersOnly) {
        bench::reportDescendants(QStringLiteral("page processes"));
        return 0;
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
            settle(k % 3 == 0 ? 250 : 40);
        }
        settle(1500);
        ticker.stop();
        app.recording = false;
        report(QStringLiteral("typing stall ms"), longest);
        report(QStringLiteral("typing longest event ms"), app.longest);
    }

    // Exports of the 200-node flowchart.
    {
        model.setQuietTime(0);
        outcomeSeen = false;
        model.setSource(flowchart(200, QStringLiteral(" x")));
        waitUntil([&] { return outcomeSeen; });
        QList<double> svgTimes, pngTimes;
        // The answers arrive on the GUI thread: the PNG one is a megabyte of text.
        app.recording = true;
        app.longest = 0;
        qint64 svgBytes = 0, pngBytes = 0;
        for (int r = 0; r < 3; ++r) {
            bool done = false;
            QElapsedTimer c;
            c.start();
            model.exporter()->fetchSVG([&](MermaidExportController::Fetched<QString> f) {
                done = true;
                svgBytes = f.data ? f.data->toUtf8().size() : -1;
            });
            waitUntil([&] { return done; });
            svgTimes << double(c.nsecsElapsed()) / 1e6;
            done = false;
            c.restart();
            model.exporter()->fetchPNG([&](MermaidExportController::Fetched<QByteArray> f) {
                done = true;
                pngBytes = f.data ? f.data->size() : -1;
                if (!f.failure.isEmpty())
                    std::fprintf(stderr, "PNG failed: %s\n", qPrintable(f.failure));
            });
            waitUntil([&] { return done; });
            pngTimes << double(c.nsecsElapsed()) / 1e6;
        }
        app.recording = false;
        report(QStringLiteral("svg ms"), median(svgTimes));
        report(QStringLiteral("png ms"), median(pngTimes));
        report(QStringLiteral("svg bytes"), double(svgBytes));
        report(QStringLiteral("png bytes"), double(pngBytes));
        report(QStringLiteral("export longest event ms"), app.longest);
    }
    bench::reportDescendants(QStringLiteral("page processes"));
    return 0;
}

// The peer: the bare page alone, its first diagram (the page made, the library loaded, the
// default template drawn), then the same renders.
int childBare(TimingApplication& app)
{
    QElapsedTimer clock;
    clock.start();
    BarePage bare;
    bare.render(MermaidTemplates::all().value(0).source + QLatin1Char('\n'));
    report(QStringLiteral("first diagram ms"), double(clock.nsecsElapsed()) / 1e6);
    for (const Case& c : casesFor(app.arguments())) {
        QList<double> times;
        for (int r = 0; r < runsFor(c.nodes); ++r)
            times << bare.render(c.source + QStringLiteral("%% run %1\n").arg(r));
        report(c.name + QStringLiteral(" bare ms"), median(times));
    }
    bench::reportDescendants(QStringLiteral("page processes"));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
    if (argc > 1 && (QByteArray(argv[1]) == "--child-ours" || QByteArray(argv[1]) == "--child-bare")) {
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        TimingApplication app(argc, argv);
        return QByteArray(argv[1]) == "--child-ours" ? childOurs(app) : childBare(app);
    }

    using namespace bench;
    // The parent starts children only; it starts no threads of its own.
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    printMachine("bench-mermaid-tool");
    QStringList flags = app.arguments().mid(1);
    const int rounds = roundsWanted();
    std::printf("Offscreen, real web view. Ours: the tool; inside each run the tool and a bare page (the pinned\n"
                "library, no bridge) take turns on the same sources (%d render of each), and a fresh page renders the\n"
                "first source once. Peer: that bare page alone in a child of its own, on all cores (its page is\n"
                "several processes). Overhead: (tool - bare) / bare with each page's time in the library's render\n"
                "taken out (the bridge and page work alone). On one core the run renders the templates only and\n"
                "stops: the flowcharts, typing during renders and the exports take minutes there.\n\n",
                runs);
    std::vector<Figures> figures[3];
    const std::vector<Series> series = interleave(
        {{QStringLiteral("ours, 1 core"), [&] { return runSelf(Cores::one, QStringList{QStringLiteral("--child-ours"), QStringLiteral("--renders-only"), QStringLiteral("--templates")} + flags, figures[0]); }},
         {QStringLiteral("ours, all cores"), [&] { return runSelf(Cores::all, QStringList{QStringLiteral("--child-ours")} + flags, figures[1]); }},
         {QStringLiteral("bare page"), [&] { return runSelf(Cores::all, QStringList{QStringLiteral("--child-bare")} + flags, figures[2]); }}},
        rounds);
    printCase(QStringLiteral("whole child (start-up, the work below; peak = the GUI process)"), 0, series);
    auto row = [&](const QString& label, const QString& key, const QString& peerKey = QString(), int decimals = 1) {
        std::printf("  %-34s 1 core %-22s all cores %-22s", qPrintable(label), qPrintable(spreadOf(figures[0], key).text(decimals)),
                    qPrintable(spreadOf(figures[1], key).text(decimals)));
        if (!peerKey.isEmpty())
            std::printf(" bare page %s", qPrintable(spreadOf(figures[2], peerKey).text(decimals)));
        std::printf("\n");
    };
    row(QStringLiteral("first diagram, ms"), QStringLiteral("first diagram ms"), QStringLiteral("first diagram ms"));
    if (!figures[1].empty()) {
        std::printf("  phases from the tool's first show, all cores, medians:");
        for (auto it = figures[1].front().cbegin(); it != figures[1].front().cend(); ++it)
            if (it.key().startsWith(QStringLiteral("phase ")))
                std::printf(" %s %.0f;", qPrintable(it.key().section(u' ', 2)), spreadOf(figures[1], it.key()).median);
        std::printf("\n");
    }
    std::printf("  %-34s 1 core %.0f MB, cpu %.0f ms; all cores %.0f MB, cpu %.0f ms; bare page %.0f MB, cpu %.0f ms\n",
                "page processes (peaks summed)", spreadOf(figures[0], QStringLiteral("page processes peak MB")).median,
                spreadOf(figures[0], QStringLiteral("page processes cpu ms")).median,
                spreadOf(figures[1], QStringLiteral("page processes peak MB")).median,
                spreadOf(figures[1], QStringLiteral("page processes cpu ms")).median,
                spreadOf(figures[2], QStringLiteral("page processes peak MB")).median,
                spreadOf(figures[2], QStringLiteral("page processes cpu ms")).median);
    Targets targets;
    targets.check(QStringLiteral("first diagram within 1.5 s of the tool's first show"),
                  spreadOf(figures[1], QStringLiteral("first diagram ms")).median <= 1500,
                  QStringLiteral("median all cores %1 ms (1 core %2 ms)")
                      .arg(spreadOf(figures[1], QStringLiteral("first diagram ms")).median, 0, 'f', 0)
                      .arg(spreadOf(figures[0], QStringLiteral("first diagram ms")).median, 0, 'f', 0));

    const QList<Case> cases = casesFor(flags);
    if (!cases.isEmpty()) {
        std::printf("\nafter the quiet time to the redrawn diagram, ms; in-run bare page and fresh page on all cores\n");
        bool templatesUnder300 = true;
        QStringList slowTemplates;
        std::vector<double> overheads;
        QStringList overBudget;
        for (const Case& c : cases) {
            row(c.name, c.name + QStringLiteral(" tool ms"), c.name + QStringLiteral(" bare ms"));
            const Spread share = spreadOf(figures[1], c.name + QStringLiteral(" overhead"));
            std::printf("  %-34s in-run bare page %s, fresh page %s, overhead %+.1f %% (%+.1f..%+.1f)\n", "",
                        qPrintable(spreadOf(figures[1], c.name + QStringLiteral(" bare ms")).text()),
                        qPrintable(spreadOf(figures[1], c.name + QStringLiteral(" fresh ms")).text()), 100 * share.median,
                        100 * share.min, 100 * share.max);
            if (c.name.startsWith(QStringLiteral("template")) && spreadOf(figures[1], c.name + QStringLiteral(" tool ms")).median > 300) {
                templatesUnder300 = false;
                slowTemplates << c.name.mid(9);
            }
            for (const Figures& f : figures[1])
                if (f.contains(c.name + QStringLiteral(" overhead")))
                    overheads.push_back(f.value(c.name + QStringLiteral(" overhead")));
            if (share.runs >= 3 && share.median > 0.10)
                overBudget << c.name;
        }
        const QString small = QStringLiteral("flowchart, 50 nodes"), large = QStringLiteral("flowchart, 200 nodes");
        auto ratio = [&](int side, const QString& suffix) {
            const double a = spreadOf(figures[side], small + suffix).median, b = spreadOf(figures[side], large + suffix).median;
            return a > 0 ? b / a : 0.0;
        };
        if (spreadOf(figures[1], small + QStringLiteral(" tool ms")).runs > 0)
            std::printf("  growth, flowchart of 50 to 200 nodes (x4): tool x%.1f, in-run bare page x%.1f, bare page alone x%.1f\n",
                        ratio(1, QStringLiteral(" tool ms")), ratio(1, QStringLiteral(" bare ms")), ratio(2, QStringLiteral(" bare ms")));
        std::sort(overheads.begin(), overheads.end());
        const double overhead = overheads.empty() ? 1 : overheads[overheads.size() / 2];
        targets.check(QStringLiteral("templates redrawn within 300 ms of the quiet time's end"), templatesUnder300,
                      QStringLiteral("median of each template, all cores; over: %1")
                          .arg(slowTemplates.isEmpty() ? QStringLiteral("none") : slowTemplates.join(QStringLiteral(", "))));
        targets.check(QStringLiteral("bridge overhead over the bare page within 10 %"), overhead <= 0.10,
                      QStringLiteral("median %1 % over every source and run, all cores; over 10 %: %2")
                          .arg(100 * overhead, 0, 'f', 1)
                          .arg(overBudget.isEmpty() ? QStringLiteral("none") : overBudget.join(QStringLiteral(", "))));
    }
    if (!flags.contains(QStringLiteral("--first"))) {
        std::printf("\n");
        if (!flags.contains(QStringLiteral("--exports"))) {
            row(QStringLiteral("typing stall (200 nodes), ms"), QStringLiteral("typing stall ms"));
            row(QStringLiteral("  longest single event, ms"), QStringLiteral("typing longest event ms"));
            targets.check(QStringLiteral("no GUI-thread stall of 50 ms while typing during renders"),
                          spreadOf(figures[1], QStringLiteral("typing stall ms")).median < 50,
                          QStringLiteral("median all cores %1 ms, worst run %2 ms")
                              .arg(spreadOf(figures[1], QStringLiteral("typing stall ms")).median, 0, 'f', 1)
                              .arg(spreadOf(figures[1], QStringLiteral("typing stall ms")).max, 0, 'f', 1));
        }
        row(QStringLiteral("SVG export (200 nodes), ms"), QStringLiteral("svg ms"));
        row(QStringLiteral("PNG export at scale 2, ms"), QStringLiteral("png ms"));
        row(QStringLiteral("  longest event during exports, ms"), QStringLiteral("export longest event ms"));
        std::printf("  SVG %.0f bytes, PNG %.0f bytes\n", spreadOf(figures[1], QStringLiteral("svg bytes")).median,
                    spreadOf(figures[1], QStringLiteral("png bytes")).median);
        const double slowest = std::max(spreadOf(figures[1], QStringLiteral("svg ms")).median, spreadOf(figures[1], QStringLiteral("png ms")).median);
        targets.check(QStringLiteral("SVG and PNG exports within 2 s"), slowest <= 2000,
                      QStringLiteral("slower median %1 ms, all cores").arg(slowest, 0, 'f', 0));
        targets.check(QStringLiteral("no GUI-thread event of 50 ms during the exports"),
                      spreadOf(figures[1], QStringLiteral("export longest event ms")).median < 50,
                      QStringLiteral("median all cores %1 ms").arg(spreadOf(figures[1], QStringLiteral("export longest event ms")).median, 0, 'f', 1));
    }
    printLoadAtEnd();
    return targets.finish();
}
