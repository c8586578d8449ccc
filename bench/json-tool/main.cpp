// The JSON tool end to end, offscreen, each run a fresh copy of this program on one CPU or on all
// of them: paste a document (generated minified records of 1 and 10 MB, citm_catalog.json from
// the corpus) into the input pane, wait for the formatted output, and type in both panes while a
// 1 ms timer measures the GUI thread's longest stall, beside a QPlainTextEdit given the same
// formatted text; then open minified files of 10 and 100 MB, what the process holds and its peak,
// beside jq . on the 10 MB one.
//
// Usage: bench-json-tool            the runs above, with their targets
//        bench-json-tool memory     one 100 MB open in this process: memory and the first keystroke
//        bench-json-tool open       50 MB opens, then Minify and Format, in this process
//        bench-json-tool typing     two 10 MB pastes with typing, in this process
//        bench-json-tool profile    where a 10 MB paste's time goes, step by step
#include "kit/TextHelpers.h"
#include "kit/ui/CodeTextView.h"
#include "formats/JSONFormatter.h"
#include "formats/JSONSyntaxTokens.h"
#include "formats/JSONTextMetrics.h"
#include "tools/json/JSONToolViewModel.h"
#include "kit/ui/CodeEditor.h"
#include "kit/ui/JSONColouring.h"
#include "tools/json/ui/JSONToolView.h"
#include "kit/ui/ToolbarSegmentedPicker.h"
#include "support/Machine.h"
#include "support/Corpus.h"
#include "support/Measure.h"
#include "support/SelfRun.h"
#include "support/Series.h"
#include "support/StallProbe.h"
#include "support/Targets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest/QTest>

#include <cstdio>
#include <functional>

namespace {

QString minifiedDocument(qsizetype units)
{
    QString s = QStringLiteral("[");
    int i = 0;
    while (s.size() < units) {
        if (i)
            s += u',';
        s += QStringLiteral("{\"id\":%1,\"name\":\"item %1\",\"tags\":[\"a\",\"b\"],\"price\":%1.25,\"ok\":true}").arg(i);
        ++i;
    }
    s += u']';
    return s;
}

struct Figures {
    double pasteStall = 0, showAfterQuiet = 0, typingStall = 0, outputKeysStall = 0;
};

Figures runOurs(const QString& doc, int keys = 20)
{
    const qsizetype units = doc.size();
    const qsizetype formattedSize =
        JSONFormatter::format(doc, JSONFormatter::Indent::spaces(2), JSONFormatter::SortMode::none).text.size();
    JSONToolViewModel model;
    JSONToolView view(&model);
    view.resize(1200, 800);
    view.show();
    settle(400);
    StallProbe probe;
    Figures f;

    CodeTextView* input = view.inputEditor()->textView();
    input->setFocus();
    input->selectAll();
    probe.start();
    QElapsedTimer clock;
    clock.start();
    input->insertPlainText(doc); // as a paste
    const qint64 pasted = clock.elapsed();
    waitUntil([&] { return view.outputEditor()->length() == formattedSize; });
    settle(50);
    f.showAfterQuiet = clock.elapsed() - pasted - JSONToolViewModel::formatQuietMs;
    f.pasteStall = probe.stopMs();

    // Typing in the middle of the input, faster than the quiet time, then with pauses long
    // enough for the format to land between keystrokes.
    input->setSelection(units / 2, units / 2);
    probe.start();
    for (int i = 0; i < keys; ++i) {
        QTest::keyClick(input, Qt::Key_Space);
        settle(i < keys / 2 ? 60 : 400);
    }
    f.typingStall = probe.stopMs();

    CodeTextView* output = view.outputEditor()->textView();
    output->setFocus();
    probe.start();
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(output, Qt::Key_PageDown);
        QTest::keyClick(output, Qt::Key_Right, Qt::ShiftModifier);
        settle(30);
    }
    f.outputKeysStall = probe.stopMs();
    return f;
}

Figures runBaseline(const QString& doc)
{
    const QString formatted = JSONFormatter::format(doc, JSONFormatter::Indent::spaces(2), JSONFormatter::SortMode::none).text;
    QPlainTextEdit edit;
    edit.resize(600, 800);
    edit.show();
    settle(100);
    StallProbe probe;
    Figures f;
    probe.start();
    QElapsedTimer clock;
    clock.start();
    edit.setPlainText(formatted);
    settle(50);
    f.showAfterQuiet = clock.elapsed();
    f.pasteStall = probe.stopMs();
    probe.start();
    for (int i = 0; i < 10; ++i) {
        QTest::keyClick(&edit, Qt::Key_PageDown);
        settle(30);
    }
    f.outputKeysStall = probe.stopMs();
    return f;
}

// A pretty-printed document of about `units` units: the same records, one member a line.
QString prettyDocument(qsizetype units)
{
    return JSONFormatter::format(minifiedDocument(units * 100 / 176), JSONFormatter::Indent::spaces(2),
                                 JSONFormatter::SortMode::none)
        .text;
}

struct OpenFigures {
    double bytes = 0, inputShown = 0, outputShown = 0, openStall = 0;
    double minifyShown = 0, minifyStall = 0, formatShown = 0, formatStall = 0;
};

// Opens a file of the document through the view model, as File > Open does, then switches the
// output to Minify and back to Format with the picker, each time until the editors show it.
OpenFigures runOpen(const QString& doc)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("document.json"));
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(doc.toUtf8());
    }
    const JSONFormatter::Outputs expected =
        JSONFormatter::outputs(doc, JSONFormatter::Indent::spaces(2), JSONFormatter::SortMode::none);
    OpenFigures f;
    f.bytes = double(QFileInfo(path).size());
    JSONToolViewModel model;
    JSONToolView view(&model);
    view.resize(1200, 800);
    view.show();
    settle(400);
    StallProbe probe;
    probe.start();
    QElapsedTimer clock;
    clock.start();
    model.open(QUrl::fromLocalFile(path));
    waitUntil([&] { return view.inputEditor()->length() == doc.size(); });
    view.inputEditor()->textView()->viewport()->repaint();
    f.inputShown = clock.elapsed();
    waitUntil([&] { return view.outputEditor()->length() == expected.formatted.size(); });
    view.outputEditor()->textView()->viewport()->repaint();
    f.outputShown = clock.elapsed();
    settle(300);
    f.openStall = probe.stopMs();

    auto switchTo = [&](int segment, const QString& shown, double& time, double& stall) {
        settle(300);
        probe.start();
        clock.restart();
        view.outputModePicker()->segments().at(segment)->click();
        waitUntil([&] { return view.outputEditor()->length() == shown.size(); });
        view.outputEditor()->textView()->viewport()->repaint();
        time = clock.elapsed();
        settle(300);
        stall = probe.stopMs();
    };
    switchTo(1, expected.minified, f.minifyShown, f.minifyStall);
    switchTo(0, expected.formatted, f.formatShown, f.formatStall);
    return f;
}

void printOpen(const char* what, const OpenFigures& f)
{
    std::printf("%-26s %8.1f MB %10.0f %10.0f %10.1f %12.0f %10.1f %12.0f %10.1f\n", what, f.bytes / 1e6, f.inputShown,
                f.outputShown, f.openStall, f.minifyShown, f.minifyStall, f.formatShown, f.formatStall);
    std::fflush(stdout);
}

struct FirstKey {
    double ms = 0, holdsMB = 0;
};

// Opens a minified file of `units` bytes and waits for the formatted output; answers what the
// process holds above its size before the open once the tool is idle, and its peak, in MB. With
// `key`, then types one character in the middle of the input: how long the keystroke took, and
// what the process holds after it.
void writeMinified(qsizetype units, const QString& path)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(minifiedDocument(units).toUtf8());
}

std::pair<double, double> openMemory(qsizetype units, const QString& path, FirstKey* key = nullptr, double* formattedMs = nullptr)
{
    JSONToolViewModel model;
    JSONToolView view(&model);
    view.resize(1200, 800);
    view.show();
    settle(400);
    const double startMB = bench::resetPeakMemory();
    QElapsedTimer clock;
    clock.start();
    model.open(QUrl::fromLocalFile(path));
    // The model's own state only: asking an editor for its text would copy it.
    waitUntil([&] { return model.inputMetrics().bytes >= units && !model.isFormatPending() && !model.isShownOutputEmpty(); });
    if (formattedMs)
        *formattedMs = double(clock.nsecsElapsed()) / 1e6;
    // The editors take their buffers and the spare copies are made on later turns.
    settle(2000);
    const std::pair<double, double> figures{bench::residentMB() - startMB, bench::peakResidentMB() - startMB};
    if (key) {
        CodeTextView* input = view.inputEditor()->textView();
        input->setFocus();
        input->setSelection(units / 2, units / 2);
        settle(100);
        QElapsedTimer clock;
        clock.start();
        QTest::keyClick(input, Qt::Key_Space);
        key->ms = double(clock.nsecsElapsed()) / 1e6;
        settle(100);
        key->holdsMB = bench::residentMB() - startMB;
    }
    return figures;
}

} // namespace

static void profile()
{
    const QString doc = minifiedDocument(10'000'000);
    {
        CodeTextView bare;
        bare.resize(600, 800);
        bare.show();
        bare.setText(JSONToolViewModel::sampleDocument());
        settle(50);
        bare.selectAll();
        QElapsedTimer t;
        t.start();
        bare.insertPlainText(doc);
        std::printf("profile: bare paste %lld ms\n", t.restart());
        (void)bare.text();
        std::printf("profile: bare text() after paste %lld ms\n", t.restart());
        CodeEditor::Options i;
        i.largeDocument = true;
        i.colouring = std::make_shared<JSONColouring>(i.largeDocument, !i.findBar);
        CodeEditor in(i);
        in.resize(600, 800);
        in.show();
        in.setText(JSONToolViewModel::sampleDocument());
        settle(50);
        in.textView()->selectAll();
        t.restart();
        in.textView()->insertPlainText(doc);
        std::printf("profile: editor paste %lld ms\n", t.restart());
        JSONToolViewModel model;
        model.setText(in.text());
        std::printf("profile: model setText %lld ms\n", t.restart());
    }
    {
        JSONToolViewModel model;
        JSONToolView view(&model);
        view.resize(1200, 800);
        view.show();
        settle(300);
        QElapsedTimer t;
        qint64 applied = 0;
        QObject::connect(&model, &JSONToolViewModel::validationChanged, [&] { t.restart(); });
        QObject::connect(&model, &JSONToolViewModel::formatFinished, [&] { applied = t.elapsed(); });
        CodeTextView* input = view.inputEditor()->textView();
        input->setFocus();
        input->selectAll();
        t.start();
        input->insertPlainText(doc);
        std::printf("profile: tool paste %lld ms\n", t.elapsed());
        waitUntil([&] { return view.outputEditor()->length() >= doc.size(); });
        std::printf("profile: tool apply format result %lld ms\n", applied);
        t.restart();
        view.outputEditor()->textView()->viewport()->repaint();
        std::printf("profile: tool output paint %lld ms\n", t.elapsed());
        input->setSelection(doc.size() / 2, doc.size() / 2);
        for (int k = 0; k < 12; ++k) {
            QElapsedTimer kt;
            kt.start();
            QTest::keyClick(input, Qt::Key_Space);
            const qint64 key = kt.elapsed();
            applied = -1;
            settle(k < 6 ? 60 : 400);
            std::printf("profile: tool keystroke %lld ms, format applied %lld ms\n", key, applied);
        }
    }
    const QString formatted = JSONFormatter::format(doc, JSONFormatter::Indent::spaces(2), JSONFormatter::SortMode::none).text;
    QElapsedTimer t;
    t.start();
    const JSONFormatter::Outputs outs = JSONFormatter::outputs(doc, JSONFormatter::Indent::spaces(2), JSONFormatter::SortMode::none);
    std::printf("profile: worker outputs %lld ms\n", t.restart());
    const JSONTextMetrics fm(outs.formatted);
    std::printf("profile: worker formatted metrics %lld ms\n", t.restart());
    const JSONTextMetrics mm(outs.minified);
    std::printf("profile: worker minified metrics %lld ms\n", t.restart());
    const CodeTextBuffer fb(outs.formatted);
    std::printf("profile: worker formatted buffer %lld ms (%lld lines)\n", t.restart(), (long long)fb.lineCount());
    const CodeTextBuffer mb(outs.minified);
    std::printf("profile: worker minified buffer %lld ms\n", t.restart());
    CodeEditor::Options o;
    o.largeDocument = true;
    o.colouring = std::make_shared<JSONColouring>(o.largeDocument, !o.findBar);
    o.isEditable = false;
    CodeEditor out(o);
    out.resize(600, 800);
    out.show();
    settle(50);
    t.start();
    out.setText(formatted);
    std::printf("profile: output setText 20M-ish %lld ms\n", t.restart());
    QString f2 = formatted;
    f2[formatted.size() / 2] = u'9';
    out.setText(f2);
    std::printf("profile: output setText one change %lld ms\n", t.restart());
    CodeEditor::Options i;
    i.largeDocument = true;
    CodeEditor in(i);
    in.resize(600, 800);
    in.show();
    in.setText(doc);
    std::printf("profile: input setText %lld ms\n", t.restart());
    QString copy = in.textView()->text();
    std::printf("profile: view text() %lld ms\n", t.restart());
    JSONToolViewModel model;
    model.setText(copy);
    std::printf("profile: model setText %lld ms\n", t.restart());
    in.textView()->setFocus();
    settle(50);
    for (int k = 0; k < 3; ++k) {
        t.restart();
        QTest::keyClick(in.textView(), Qt::Key_Space);
        std::printf("profile: input keystroke %lld ms\n", t.restart());
        settle(50);
    }
    out.textView()->setFocus();
    settle(50);
    for (int k = 0; k < 3; ++k) {
        f2[formatted.size() / 3 + k] = u'8';
        t.restart();
        out.setText(f2);
        std::printf("profile: output one change %lld ms\n", t.restart());
        settle(50);
    }
    CodeTextView bare;
    bare.resize(600, 800);
    bare.show();
    bare.setText(doc);
    settle(20);
    bare.setFocus();
    bare.setSelection(0, 0);
    t.restart();
    QTest::keyClick(&bare, Qt::Key_Space);
    std::printf("profile: bare CodeTextView keystroke in 10M line %lld ms\n", t.restart());
    QString bt = bare.text();
    std::printf("profile: bare text() after edit %lld ms\n", t.restart());
    QTest::keyClick(&bare, Qt::Key_Space);
    std::printf("profile: bare keystroke with text held %lld ms\n", t.restart());
    bool c = bt.contains(u'\r');
    std::printf("profile: contains %lld ms %d\n", t.restart(), int(c));
    JSONToolViewModel m2;
    m2.setText(bt);
    std::printf("profile: model setText %lld ms\n", t.restart());
    CodeTextView bare2;
    bare2.resize(600, 800);
    bare2.show();
    bare2.setText(formatted);
    settle(20);
    t.restart();
    bare2.replaceRange({formatted.size() / 2, 1}, QStringLiteral("9"));
    std::printf("profile: bare replaceRange in formatted %lld ms\n", t.restart());
    auto r = TextHelpers::changedRanges(formatted, f2);
    std::printf("profile: changedRanges %lld ms (%lld)\n", t.restart(), (long long)r.first.location);
    JSONSyntaxTokens::Coverage cov;
    cov.invalidate({0, formatted.size()}, 0, formatted);
    t.restart();
    cov.invalidate({formatted.size() / 2, 1}, 0, f2);
    std::printf("profile: coverage invalidate %lld ms\n", t.restart());
}

namespace {

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The modes that run in this process: a child of the default run, or one of the quick looks.
int inProcessMain(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("--child-paste")) {
        // Ten keystrokes a run: the runs give the rest.
        const Figures f = runOurs(readText(args.value(2)), 10);
        bench::report(QStringLiteral("show ms"), f.showAfterQuiet);
        bench::report(QStringLiteral("paste stall ms"), f.pasteStall);
        bench::report(QStringLiteral("typing stall ms"), f.typingStall);
        bench::report(QStringLiteral("output keys stall ms"), f.outputKeysStall);
        return 0;
    }
    if (mode == QLatin1String("--child-plain")) {
        const Figures f = runBaseline(readText(args.value(2)));
        bench::report(QStringLiteral("show ms"), f.showAfterQuiet);
        bench::report(QStringLiteral("paste stall ms"), f.pasteStall);
        bench::report(QStringLiteral("output keys stall ms"), f.outputKeysStall);
        return 0;
    }
    if (mode == QLatin1String("--child-open")) {
        const QString path = args.value(2);
        double formattedMs = -1;
        const auto [holdsMB, peakMB] = openMemory(QFileInfo(path).size(), path, nullptr, &formattedMs);
        bench::report(QStringLiteral("formatted ms"), formattedMs);
        bench::report(QStringLiteral("holds MB"), holdsMB);
        bench::report(QStringLiteral("peak MB"), peakMB);
        return 0;
    }
    if (argc > 1 && QByteArray(argv[1]) == "profile") {
        profile();
        return 0;
    }
    if (argc > 1 && QByteArray(argv[1]) == "typing") {
        for (int k = 0; k < 2; ++k) {
            const Figures f = runOurs(minifiedDocument(10'000'000));
            std::printf("10M: show %.0f paste stall %.1f typing stall %.1f output stall %.1f\n", f.showAfterQuiet, f.pasteStall, f.typingStall, f.outputKeysStall);
        }
        return 0;
    }
    if (argc > 1 && QByteArray(argv[1]) == "memory") {
        QTemporaryDir dir;
        FirstKey key;
        writeMinified(100'000'000, dir.filePath(QStringLiteral("open.json")));
        const auto [holdsMB, peakMB] = openMemory(100'000'000, dir.filePath(QStringLiteral("open.json")), &key);
        std::printf("open a minified file of 100 MB: holds %.0f MB once idle (%.1fx), peak %.0f MB (%.1fx); "
                    "first keystroke %.1f ms, then holds %.0f MB; %s\n",
                    holdsMB, holdsMB / 100, peakMB, peakMB / 100, key.ms, key.holdsMB, qPrintable(bench::loadNow()));
        return 0;
    }
    if (argc > 1 && QByteArray(argv[1]) == "open") {
        std::printf("%-26s %11s %10s %10s %10s %12s %10s %12s %10s\n", "open, then switch", "file", "input",
                    "output", "stall", "minify shown", "stall", "format shown", "stall");
        printOpen("minified file", runOpen(minifiedDocument(50'000'000)));
        printOpen("pretty-printed file", runOpen(prettyDocument(50'000'000)));
        return 0;
    }
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1)
        return inProcessMain(argc, argv);

    using namespace bench;
    // The parent writes the inputs and starts children; it starts no threads of its own.
    QCoreApplication app(argc, argv);
    printMachine("bench-json-tool");
    std::printf("Paste: a document pasted into the input pane until the formatted output is shown (\"show\", less the\n"
                "%d ms quiet time), the longest GUI stall meanwhile, while typing in the input (keys 60 ms, then 400 ms\n"
                "apart) and while paging through the output. Peer: a QPlainTextEdit given the same formatted text (it\n"
                "neither parses nor formats: its \"show\" is setPlainText and a paint). Open: minified files of 10 and 100 MB\n"
                "opened through the tool until formatted; what the process holds above its size before the open, once\n"
                "idle, and its peak. Peer: jq . on the same file (a process that formats to /dev/null, no GUI), at\n"
                "10 MB only: on 100 MB it takes minutes on one core.\n\n",
                JSONToolViewModel::formatQuietMs);
    const int rounds = roundsWanted();
    Targets targets;
    QTemporaryDir dir;
    auto write = [&](const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    };

    struct Paste {
        Input input;
        bool withPeer;
        QString path;
        std::vector<std::vector<bench::Figures>> figures = std::vector<std::vector<bench::Figures>>(3);
    };
    std::vector<Paste> pastes;
    pastes.push_back({generated(QStringLiteral("minified records, 1 MB"), minifiedDocument(1'000'000).toUtf8()), true, {}});
    pastes.push_back({generated(QStringLiteral("minified records, 10 MB"), minifiedDocument(10'000'000).toUtf8()), false, {}});
    const Input citm = corpusFile(QStringLiteral("json/citm_catalog.json"));
    if (citm.isEmpty())
        std::printf("(no corpus found: set QUORRIX_BENCH_CORPUS; citm_catalog.json skipped)\n\n");
    else
        pastes.push_back({citm, true, {}});
    for (size_t i = 0; i < pastes.size(); ++i)
        pastes[i].path = write(QStringLiteral("paste%1.json").arg(i), pastes[i].input.bytes);

    const QStringList pasteFigures{QStringLiteral("show ms"), QStringLiteral("paste stall ms"), QStringLiteral("typing stall ms"),
                                   QStringLiteral("output keys stall ms")};
    std::vector<double> showMedians[2];
    for (Paste& p : pastes) {
        std::vector<Side> sides{
            {QStringLiteral("ours, 1 core"), [&p] { return runSelf(Cores::one, {QStringLiteral("--child-paste"), p.path}, p.figures[0]); }},
            {QStringLiteral("ours, all cores"), [&p] { return runSelf(Cores::all, {QStringLiteral("--child-paste"), p.path}, p.figures[1]); }},
        };
        if (p.withPeer)
            sides.push_back({QStringLiteral("QPlainTextEdit"),
                             [&p] { return runSelf(Cores::one, {QStringLiteral("--child-plain"), p.path}, p.figures[2]); }});
        const std::vector<Series> series = interleave(sides, rounds);
        printCase(QStringLiteral("paste %1: whole child").arg(p.input.name), 0, series);
        for (const QString& key : pasteFigures) {
            std::printf("  %-22s 1 core %-24s all cores %-24s", qPrintable(key), qPrintable(spreadOf(p.figures[0], key).text()),
                        qPrintable(spreadOf(p.figures[1], key).text()));
            if (p.withPeer)
                std::printf(" QPlainTextEdit %s", qPrintable(spreadOf(p.figures[2], key).text()));
            std::printf("\n");
        }
        std::printf("\n");
        showMedians[0].push_back(spreadOf(p.figures[0], QStringLiteral("show ms")).median);
        showMedians[1].push_back(spreadOf(p.figures[1], QStringLiteral("show ms")).median);
        std::fflush(stdout);
    }
    std::printf("growth, show after paste, 1 MB to 10 MB (10x the bytes): 1 core x%.1f, all cores x%.1f\n\n",
                showMedians[0][1] / showMedians[0][0], showMedians[1][1] / showMedians[1][0]);

    // Opens of 10 and 100 MB: the time until formatted, and the process's resident size above
    // its size before the open. jq takes minutes on 100 MB: it runs beside the 10 MB open.
    struct Open {
        Input input;
        bool withPeer;
        QString path;
        std::vector<bench::Figures> figures[2];
        std::vector<Series> series;
    };
    Open opens[2] = {{generated(QStringLiteral("minified records, 10 MB"), minifiedDocument(10'000'000).toUtf8()), true, {}, {}, {}},
                     {generated(QStringLiteral("minified records, 100 MB"), minifiedDocument(100'000'000).toUtf8()), false, {}, {}, {}}};
    for (Open& o : opens) {
        o.path = write(QStringLiteral("open%1.json").arg(o.input.bytes.size()), o.input.bytes);
        std::vector<Side> sides{
            {QStringLiteral("ours, 1 core"), [&o] { return runSelf(Cores::one, {QStringLiteral("--child-open"), o.path}, o.figures[0]); }},
            {QStringLiteral("ours, all cores"), [&o] { return runSelf(Cores::all, {QStringLiteral("--child-open"), o.path}, o.figures[1]); }},
        };
        if (o.withPeer)
            sides.push_back({QStringLiteral("jq ."), [&o] { return runProcess(Cores::one, {QStringLiteral("jq"), QStringLiteral("."), o.path}); }});
        o.series = interleave(sides, rounds);
        const double fileMB = double(o.input.bytes.size()) / 1e6;
        printCase(QStringLiteral("open %1: whole child (ours: start-up, open, format, 2 s idle; jq: parse and print)").arg(o.input.name),
                  o.input.bytes.size(), o.series);
        for (const QString& key : {QStringLiteral("formatted ms"), QStringLiteral("holds MB"), QStringLiteral("peak MB")})
            std::printf("  %-22s 1 core %-24s all cores %s\n", qPrintable(key), qPrintable(spreadOf(o.figures[0], key).text(0)),
                        qPrintable(spreadOf(o.figures[1], key).text(0)));
        std::printf("  ours, held once idle / peak, all cores: %.1fx / %.1fx the file", spreadOf(o.figures[1], QStringLiteral("holds MB")).median / fileMB,
                    spreadOf(o.figures[1], QStringLiteral("peak MB")).median / fileMB);
        if (o.withPeer)
            std::printf("; jq's peak, whole process: %.0f MB (%.1fx)", o.series[2].peakMB(), o.series[2].peakMB() / fileMB);
        std::printf("\n\n");
        std::fflush(stdout);
    }
    for (int side : {0, 1})
        std::printf("growth, open 10 MB to 100 MB, %s: formatted x%.1f, held x%.1f (10x the bytes)\n", side ? "all cores" : "1 core",
                    spreadOf(opens[1].figures[side], QStringLiteral("formatted ms")).median / spreadOf(opens[0].figures[side], QStringLiteral("formatted ms")).median,
                    spreadOf(opens[1].figures[side], QStringLiteral("holds MB")).median / spreadOf(opens[0].figures[side], QStringLiteral("holds MB")).median);
    std::printf("\n");
    const double fileMB = double(opens[1].input.bytes.size()) / 1e6;
    const std::vector<bench::Figures>* open = opens[1].figures;
    const Spread holds = spreadOf(open[1], QStringLiteral("holds MB")), peak = spreadOf(open[1], QStringLiteral("peak MB"));
    targets.check(QStringLiteral("opening a 100 MB file holds at most 4x the file once idle"), holds.runs > 0 && holds.median <= 4 * fileMB,
                  QStringLiteral("%1x all cores (1 core %2x)").arg(holds.median / fileMB, 0, 'f', 1)
                      .arg(spreadOf(open[0], QStringLiteral("holds MB")).median / fileMB, 0, 'f', 1));
    targets.check(QStringLiteral("opening a 100 MB file holds at most 4x the file at its peak"), peak.runs > 0 && peak.median <= 4 * fileMB,
                  QStringLiteral("%1x all cores (1 core %2x)").arg(peak.median / fileMB, 0, 'f', 1)
                      .arg(spreadOf(open[0], QStringLiteral("peak MB")).median / fileMB, 0, 'f', 1));
    printLoadAtEnd();
    return targets.finish();
}

