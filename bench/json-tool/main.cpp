// The JSON tool end to end, offscreen: paste a minified document into the input pane, wait for
// the formatted output, and type in both panes while a 1 ms timer measures the GUI thread's
// longest stall. The baseline is a QPlainTextEdit output pane given the same formatted text.
#include "kit/TextHelpers.h"
#include "kit/ui/CodeTextView.h"
#include "formats/JSONFormatter.h"
#include "formats/JSONSyntaxTokens.h"
#include "formats/JSONTextMetrics.h"
#include "tools/json/JSONToolViewModel.h"
#include "kit/ui/CodeEditor.h"
#include "tools/json/ui/JSONToolView.h"
#include "kit/ui/ToolbarSegmentedPicker.h"
#include "support/Machine.h"
#include "support/Measure.h"
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

Figures runOurs(qsizetype units)
{
    JSONToolViewModel model;
    JSONToolView view(&model);
    view.resize(1200, 800);
    view.show();
    spin(400);
    const QString doc = minifiedDocument(units);
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
    QSignalSpy finished(&model, &JSONToolViewModel::formatFinished);
    while (view.outputEditor()->length() < doc.size())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    spin(50);
    f.showAfterQuiet = clock.elapsed() - pasted - JSONToolViewModel::formatQuietMs;
    f.pasteStall = probe.stopMs();

    // Typing in the middle of the input, faster than the quiet time, then with pauses long
    // enough for the format to land between keystrokes.
    input->setSelection(units / 2, units / 2);
    probe.start();
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(input, Qt::Key_Space);
        spin(i < 10 ? 60 : 400);
    }
    f.typingStall = probe.stopMs();

    CodeTextView* output = view.outputEditor()->textView();
    output->setFocus();
    probe.start();
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(output, Qt::Key_PageDown);
        QTest::keyClick(output, Qt::Key_Right, Qt::ShiftModifier);
        spin(30);
    }
    f.outputKeysStall = probe.stopMs();
    return f;
}

Figures runBaseline(qsizetype units)
{
    const QString doc = minifiedDocument(units);
    const QString formatted = JSONFormatter::format(doc, JSONFormatter::Indent::spaces(2), JSONFormatter::SortMode::none).text;
    QPlainTextEdit edit;
    edit.resize(600, 800);
    edit.show();
    spin(100);
    StallProbe probe;
    Figures f;
    probe.start();
    QElapsedTimer clock;
    clock.start();
    edit.setPlainText(formatted);
    spin(50);
    f.showAfterQuiet = clock.elapsed();
    f.pasteStall = probe.stopMs();
    probe.start();
    for (int i = 0; i < 10; ++i) {
        QTest::keyClick(&edit, Qt::Key_PageDown);
        spin(30);
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

void waitFor(const std::function<bool()>& done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
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
    spin(400);
    StallProbe probe;
    probe.start();
    QElapsedTimer clock;
    clock.start();
    model.open(QUrl::fromLocalFile(path));
    waitFor([&] { return view.inputEditor()->length() == doc.size(); });
    view.inputEditor()->textView()->viewport()->repaint();
    f.inputShown = clock.elapsed();
    waitFor([&] { return view.outputEditor()->length() == expected.formatted.size(); });
    view.outputEditor()->textView()->viewport()->repaint();
    f.outputShown = clock.elapsed();
    spin(300);
    f.openStall = probe.stopMs();

    auto switchTo = [&](int segment, const QString& shown, double& time, double& stall) {
        spin(300);
        probe.start();
        clock.restart();
        view.outputModePicker()->segments().at(segment)->click();
        waitFor([&] { return view.outputEditor()->length() == shown.size(); });
        view.outputEditor()->textView()->viewport()->repaint();
        time = clock.elapsed();
        spin(300);
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
std::pair<double, double> openMemory(qsizetype units, const QString& path, FirstKey* key = nullptr)
{
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(minifiedDocument(units).toUtf8());
    }
    JSONToolViewModel model;
    JSONToolView view(&model);
    view.resize(1200, 800);
    view.show();
    spin(400);
    const double startMB = bench::resetPeakMemory();
    model.open(QUrl::fromLocalFile(path));
    // The model's own state only: asking an editor for its text would copy it.
    waitFor([&] { return model.inputMetrics().bytes >= units && !model.isFormatPending() && !model.isShownOutputEmpty(); });
    // The editors take their buffers and the spare copies are made on later turns.
    spin(2000);
    const std::pair<double, double> figures{bench::residentMB() - startMB, bench::peakResidentMB() - startMB};
    if (key) {
        CodeTextView* input = view.inputEditor()->textView();
        input->setFocus();
        input->setSelection(units / 2, units / 2);
        spin(100);
        QElapsedTimer clock;
        clock.start();
        QTest::keyClick(input, Qt::Key_Space);
        key->ms = double(clock.nsecsElapsed()) / 1e6;
        spin(100);
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
        spin(50);
        bare.selectAll();
        QElapsedTimer t;
        t.start();
        bare.insertPlainText(doc);
        std::printf("profile: bare paste %lld ms\n", t.restart());
        (void)bare.text();
        std::printf("profile: bare text() after paste %lld ms\n", t.restart());
        CodeEditor::Options i;
        i.largeDocument = true;
        i.highlightSyntax = true;
        CodeEditor in(i);
        in.resize(600, 800);
        in.show();
        in.setText(JSONToolViewModel::sampleDocument());
        spin(50);
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
        spin(300);
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
        while (view.outputEditor()->length() < doc.size())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
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
            spin(k < 6 ? 60 : 400);
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
    o.highlightSyntax = true;
    o.isEditable = false;
    CodeEditor out(o);
    out.resize(600, 800);
    out.show();
    spin(50);
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
    spin(50);
    for (int k = 0; k < 3; ++k) {
        t.restart();
        QTest::keyClick(in.textView(), Qt::Key_Space);
        std::printf("profile: input keystroke %lld ms\n", t.restart());
        spin(50);
    }
    out.textView()->setFocus();
    spin(50);
    for (int k = 0; k < 3; ++k) {
        f2[formatted.size() / 3 + k] = u'8';
        t.restart();
        out.setText(f2);
        std::printf("profile: output one change %lld ms\n", t.restart());
        spin(50);
    }
    CodeTextView bare;
    bare.resize(600, 800);
    bare.show();
    bare.setText(doc);
    spin(20);
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
    spin(20);
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

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "profile") {
        profile();
        return 0;
    }
    if (argc > 1 && QByteArray(argv[1]) == "typing") {
        for (int k = 0; k < 2; ++k) {
            const Figures f = runOurs(10'000'000);
            std::printf("10M: show %.0f paste stall %.1f typing stall %.1f output stall %.1f\n", f.showAfterQuiet, f.pasteStall, f.typingStall, f.outputKeysStall);
        }
        return 0;
    }
    if (argc > 1 && QByteArray(argv[1]) == "memory") {
        QTemporaryDir dir;
        FirstKey key;
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
    std::printf("JSON tool, offscreen; times in ms. \"show\" = paste to formatted output shown, less the %d ms quiet time.\n",
                JSONToolViewModel::formatQuietMs);
    std::printf("%-26s %10s %12s %12s %14s %14s\n", "view", "input", "show", "paste stall", "typing stall", "output stall");
    for (const qsizetype units : {qsizetype(100'000), qsizetype(1'000'000), qsizetype(10'000'000)}) {
        const Figures f = runOurs(units);
        std::printf("%-26s %9.1fM %12.0f %12.1f %14.1f %14.1f\n", "Quorrix JSON tool", units / 1e6, f.showAfterQuiet,
                    f.pasteStall, f.typingStall, f.outputKeysStall);
        std::fflush(stdout);
    }
    for (const qsizetype units : {qsizetype(100'000), qsizetype(1'000'000)}) {
        const Figures f = runBaseline(units);
        std::printf("%-26s %9.1fM %12.0f %12.1f %14s %14.1f\n", "QPlainTextEdit output", units / 1e6, f.showAfterQuiet,
                    f.pasteStall, "-", f.outputKeysStall);
        std::fflush(stdout);
    }

    // Memory of a large open: the process's resident size above its size before the open.
    bench::Targets targets;
    QTemporaryDir dir;
    const qsizetype units = 100'000'000;
    const auto [holdsMB, peakMB] = openMemory(units, dir.filePath(QStringLiteral("open.json")));
    const double fileMB = units / 1e6;
    std::printf("\nopen a minified file of %.0f MB (generated records): holds %.0f MB once idle (%.1fx the file), "
                "peak %.0f MB (%.1fx); %s\n",
                fileMB, holdsMB, holdsMB / fileMB, peakMB, peakMB / fileMB, qPrintable(bench::loadNow()));
    targets.check(QStringLiteral("opening a 100 MB file holds at most 4x the file"), holdsMB <= 4 * fileMB,
                  QStringLiteral("%1x").arg(holdsMB / fileMB, 0, 'f', 1));
    return targets.finish();
}
