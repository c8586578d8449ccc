// The JSON tool end to end, offscreen, each run a fresh copy of this program on one CPU or on all
// of them: paste a document (generated minified records of 1 and 10 MB, citm_catalog.json from
// the corpus) into the input pane, wait for the formatted output, and type in both panes while a
// 1 ms timer measures the GUI thread's longest stall, beside a QPlainTextEdit given the same
// formatted text; then open a minified file of 10 MB beside jq . on it, and 100 MB files (the
// corpus's documents in one array, generated records): the time until the formatted output is
// painted, the longest GUI-thread stall, what the process holds once idle and its peak, and what
// it holds after five changes of the options.
//
// Usage: bench-json-tool            the runs above, with their targets
//        bench-json-tool --open-only  the 100 MB opens alone
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

#include <algorithm>
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
    // The formatter writes UTF-8; the editor counts UTF-16 units.
    const qsizetype formattedSize =
        QString::fromUtf8(JSONFormatter::format(doc, JSONFormatter::Indent::spaces(2), JSONFormatter::SortMode::none).text).size();
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
        JSONFormatter::outputs(doc, JSONFormatter::Indent::spaces(2), JSONFormatter::SortMode::none, nullptr, true, nullptr);
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
    const qsizetype formattedUnits = QString::fromUtf8(expected.formatted).size();
    waitUntil([&] { return view.outputEditor()->length() == formattedUnits; });
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

// What a user sees of a file opened through the tool (File > Open, the model's open()): the time
// until the formatted output is shown and painted, the longest GUI-thread stall from the open
// until the tool is idle, what the process holds above its size before the open once idle and at
// its peak; then five changes of the options as the toolbar makes them (sort ascending, indent 4,
// Minify, Format, indent 2), each waited for until shown, and what the process holds once idle
// after them: the output then has the length it had before them. Figures reported for the parent.
void openAndChange(const QString& path)
{
    JSONToolViewModel model;
    JSONToolView view(&model);
    view.resize(1200, 800);
    view.show();
    settle(400);
    int finished = 0, shown = 0;
    QObject::connect(&model, &JSONToolViewModel::formatFinished, [&] { ++finished; });
    QObject::connect(&model, &JSONToolViewModel::shownOutputChanged, [&] { ++shown; });
    CodeTextView* output = view.outputEditor()->textView();
    CodeTextView* input = view.inputEditor()->textView();
    const qint64 fileBytes = QFileInfo(path).size();

    const double startMB = bench::resetPeakMemory();
    StallProbe probe;
    probe.start();
    QElapsedTimer clock;
    clock.start();
    model.open(QUrl::fromLocalFile(path));
    // The model's own state and the editors' lengths only: asking an editor for its text would
    // copy it.
    waitUntil([&] { return finished > 0 && !model.isFormatPending() && model.inputMetrics().bytes >= fileBytes && output->length() > 0; });
    input->viewport()->repaint();
    output->viewport()->repaint();
    const double shownMs = double(clock.nsecsElapsed()) / 1e6;
    // The editors take their buffers and the spare copies are made on later turns; the allocator
    // gives freed memory back after its quiet time.
    settle(2500);
    const double openStall = probe.stopMs();
    bench::report(QStringLiteral("formatted shown ms"), shownMs);
    bench::report(QStringLiteral("open stall ms"), openStall);
    const double idleMB = bench::residentMB() - startMB;
    bench::report(QStringLiteral("holds MB"), idleMB);
    bench::report(QStringLiteral("peak MB"), bench::peakResidentMB() - startMB);

    auto picker = [](ToolbarSegmentedPicker* p, int segment) { return [p, segment] { p->segments().at(segment)->click(); }; };
    struct Change {
        const char* name;
        std::function<void()> act;
        bool byFormat; // shown by a format run, else by the output made for the mode
    };
    const Change changes[] = {
        {"sort ascending", [&] { model.cycleSortMode(); }, true},
        {"indent 4", picker(view.indentPicker(), 1), true},
        {"minify", picker(view.outputModePicker(), 1), false},
        {"format", picker(view.outputModePicker(), 0), false},
        {"indent 2", picker(view.indentPicker(), 0), true},
    };
    bench::resetPeakMemory();
    double changeStall = 0, changeMs = 0;
    for (const Change& c : changes) {
        const int finishedBefore = finished, shownBefore = shown;
        probe.start();
        clock.restart();
        c.act();
        waitUntil([&] {
            return (c.byFormat ? finished > finishedBefore : shown > shownBefore) && !model.isFormatPending();
        });
        output->viewport()->repaint();
        changeMs = std::max(changeMs, double(clock.nsecsElapsed()) / 1e6 - (c.byFormat ? JSONToolViewModel::formatQuietMs : 0));
        settle(300);
        changeStall = std::max(changeStall, probe.stopMs());
    }
    settle(2500);
    bench::report(QStringLiteral("change shown ms"), changeMs);
    bench::report(QStringLiteral("change stall ms"), changeStall);
    bench::report(QStringLiteral("changes peak MB"), bench::peakResidentMB() - startMB);
    bench::report(QStringLiteral("after changes MB"), bench::residentMB() - startMB);
}

// One JSON array of the corpus's three documents, in turn, up to `targetBytes`.
bench::Input corpusArray(qint64 targetBytes)
{
    const QStringList names{QStringLiteral("citm_catalog.json"), QStringLiteral("canada.json"), QStringLiteral("twitter.json")};
    QList<QByteArray> files;
    for (const QString& n : names) {
        const bench::Input in = bench::corpusFile(QStringLiteral("json/") + n);
        if (in.isEmpty())
            return {};
        files << in.bytes.trimmed();
    }
    QByteArray doc("[");
    int copies = 0;
    while (doc.size() < targetBytes) {
        for (const QByteArray& f : files) {
            if (doc.size() > 1)
                doc += ",\n";
            doc += f;
        }
        ++copies;
    }
    doc += "]\n";
    return {QStringLiteral("%1 in one array, x%2 (%3)").arg(names.join(QStringLiteral(", "))).arg(copies).arg(bench::megabytes(doc.size())),
            doc};
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
    const JSONFormatter::Outputs outs = JSONFormatter::outputs(doc, JSONFormatter::Indent::spaces(2), JSONFormatter::SortMode::none, nullptr, true, nullptr);
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
    if (mode == QLatin1String("--child-open-changes")) {
        openAndChange(args.value(2));
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
    const bool openOnly = argc == 2 && QByteArray(argv[1]) == "--open-only";
    if (argc > 1 && !openOnly)
        return inProcessMain(argc, argv);

    using namespace bench;
    // The parent writes the inputs and starts children; it starts no threads of its own.
    prepareHeadless();
    QCoreApplication app(argc, argv);
    printMachine("bench-json-tool");
    std::printf("Paste: a document pasted into the input pane until the formatted output is shown (\"show\", less the\n"
                "%d ms quiet time), the longest GUI stall meanwhile, while typing in the input (keys 60 ms, then 400 ms\n"
                "apart) and while paging through the output. Peer: a QPlainTextEdit given the same formatted text (it\n"
                "neither parses nor formats: its \"show\" is setPlainText and a paint). Open: minified files of 10 and 100 MB\n"
                "opened through the tool until formatted; what the process holds above its size before the open, once\n"
                "idle, and its peak. Peer: jq . on the same file (a process that formats to /dev/null, no GUI), at\n"
                "10 MB only: on 100 MB it takes minutes on one core. Then 100 MB files (the corpus's three documents in\n"
                "one array, and minified records) opened until the formatted output is painted, the longest GUI stall\n"
                "until idle, held once idle and the peak; then five changes (sort, indent 4, Minify, Format, indent 2),\n"
                "each until shown, and what is held once idle after them (--open-only: these alone).\n\n",
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

    if (!openOnly) {
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
    }

    // The 10 MB open beside jq, which takes minutes on 100 MB.
    struct Open {
        Input input;
        QString path;
        std::vector<bench::Figures> figures[2];
        std::vector<Series> series;
    };
    if (!openOnly) {
        Open o{generated(QStringLiteral("minified records, 10 MB"), minifiedDocument(10'000'000).toUtf8()), {}, {}, {}};
        o.path = write(QStringLiteral("open%1.json").arg(o.input.bytes.size()), o.input.bytes);
        o.series = interleave(
            {{QStringLiteral("ours, 1 core"), [&o] { return runSelf(Cores::one, {QStringLiteral("--child-open"), o.path}, o.figures[0]); }},
             {QStringLiteral("ours, all cores"), [&o] { return runSelf(Cores::all, {QStringLiteral("--child-open"), o.path}, o.figures[1]); }},
             {QStringLiteral("jq ."), [&o] { return runProcess(Cores::one, {QStringLiteral("jq"), QStringLiteral("."), o.path}); }}},
            rounds);
        const double fileMB = double(o.input.bytes.size()) / 1e6;
        printCase(QStringLiteral("open %1: whole child (ours: start-up, open, format, 2 s idle; jq: parse and print)").arg(o.input.name),
                  o.input.bytes.size(), o.series);
        for (const QString& key : {QStringLiteral("formatted ms"), QStringLiteral("holds MB"), QStringLiteral("peak MB")})
            std::printf("  %-22s 1 core %-24s all cores %s\n", qPrintable(key), qPrintable(spreadOf(o.figures[0], key).text(0)),
                        qPrintable(spreadOf(o.figures[1], key).text(0)));
        std::printf("  ours, held once idle / peak, all cores: %.1fx / %.1fx the file; jq's peak, whole process: %.0f MB (%.1fx)\n\n",
                    spreadOf(o.figures[1], QStringLiteral("holds MB")).median / fileMB,
                    spreadOf(o.figures[1], QStringLiteral("peak MB")).median / fileMB, o.series[2].peakMB(), o.series[2].peakMB() / fileMB);
        std::fflush(stdout);
    }

    // Opens of 100 MB, then five changes of the options: the corpus's documents in one array,
    // and generated minified records.
    std::vector<Open> large;
    const Input corpus = corpusArray(100'000'000);
    if (corpus.isEmpty())
        std::printf("(no corpus found: set QUORRIX_BENCH_CORPUS; the corpus array is skipped)\n\n");
    else
        large.push_back({corpus, {}, {}, {}});
    large.push_back({generated(QStringLiteral("minified records, 100 MB"), minifiedDocument(100'000'000).toUtf8()), {}, {}, {}});
    const QStringList largeFigures{QStringLiteral("formatted shown ms"), QStringLiteral("open stall ms"), QStringLiteral("holds MB"),
                                   QStringLiteral("peak MB"), QStringLiteral("change shown ms"), QStringLiteral("change stall ms"),
                                   QStringLiteral("changes peak MB"), QStringLiteral("after changes MB")};
    for (size_t i = 0; i < large.size(); ++i) {
        Open& o = large[i];
        o.path = write(QStringLiteral("large%1.json").arg(i), o.input.bytes);
        o.series = interleave(
            {{QStringLiteral("ours, 1 core"), [&o] { return runSelf(Cores::one, {QStringLiteral("--child-open-changes"), o.path}, o.figures[0]); }},
             {QStringLiteral("ours, all cores"), [&o] { return runSelf(Cores::all, {QStringLiteral("--child-open-changes"), o.path}, o.figures[1]); }}},
            rounds);
        printCase(QStringLiteral("open %1, then sort ascending, indent 4, Minify, Format, indent 2: whole child").arg(o.input.name),
                  0, o.series);
        for (const QString& key : largeFigures)
            std::printf("  %-22s 1 core %-26s all cores %s\n", qPrintable(key), qPrintable(spreadOf(o.figures[0], key).text(0)),
                        qPrintable(spreadOf(o.figures[1], key).text(0)));
        const double fileMB = double(o.input.bytes.size()) / 1e6;
        auto times = [&](int side, const QString& key) { return spreadOf(o.figures[side], key).median / fileMB; };
        auto both = [&](const QString& key, const QString& unit, double scale) {
            return QStringLiteral("1 core %1%3, all cores %2%3")
                .arg(spreadOf(o.figures[0], key).median / scale, 0, 'f', scale == 1 ? 0 : 1)
                .arg(spreadOf(o.figures[1], key).median / scale, 0, 'f', scale == 1 ? 0 : 1)
                .arg(unit);
        };
        auto within = [&](const QString& key, double limit) {
            return spreadOf(o.figures[0], key).runs > 0 && spreadOf(o.figures[1], key).runs > 0
                && spreadOf(o.figures[0], key).median <= limit && spreadOf(o.figures[1], key).median <= limit;
        };
        const QString label = o.input.name.startsWith(QLatin1String("generated")) ? QStringLiteral("100 MB of records")
                                                                                   : QStringLiteral("100 MB corpus array");
        targets.check(QStringLiteral("%1: formatted shown within 1.2 s on one core").arg(label),
                      spreadOf(o.figures[0], QStringLiteral("formatted shown ms")).median <= 1200,
                      both(QStringLiteral("formatted shown ms"), QStringLiteral(" ms"), 1));
        targets.check(QStringLiteral("%1: at most 3x the file held once idle").arg(label), within(QStringLiteral("holds MB"), 3 * fileMB),
                      both(QStringLiteral("holds MB"), QStringLiteral("x"), fileMB));
        targets.check(QStringLiteral("%1: at most 4x the file held at the open's peak").arg(label),
                      within(QStringLiteral("peak MB"), 4 * fileMB), both(QStringLiteral("peak MB"), QStringLiteral("x"), fileMB));
        // The changes' peak is reported, not aimed at: the output shown stays while the next is
        // made, so the input and two outputs alone come to above 4x the file.
        bool back = true;
        for (int side : {0, 1})
            back = back && spreadOf(o.figures[side], QStringLiteral("after changes MB")).runs > 0
                && times(side, QStringLiteral("after changes MB")) <= 1.2 * times(side, QStringLiteral("holds MB"));
        targets.check(QStringLiteral("%1: back within 20 % of the idle figure after five changes").arg(label), back,
                      QStringLiteral("%1 (idle %2)").arg(both(QStringLiteral("after changes MB"), QStringLiteral("x"), fileMB),
                                                         both(QStringLiteral("holds MB"), QStringLiteral("x"), fileMB)));
        targets.check(QStringLiteral("%1: no GUI stall of 100 ms on one core, 50 ms on all, while it opens").arg(label),
                      spreadOf(o.figures[0], QStringLiteral("open stall ms")).median <= 100
                          && spreadOf(o.figures[1], QStringLiteral("open stall ms")).median <= 50,
                      both(QStringLiteral("open stall ms"), QStringLiteral(" ms"), 1));
        std::printf("\n");
        std::fflush(stdout);
    }
    printLoadAtEnd();
    return targets.finish();
}
