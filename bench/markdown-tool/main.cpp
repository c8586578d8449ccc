// The Markdown tool running offscreen with its real web preview, each run a fresh copy of this
// program on one CPU or on all of them. Typing: the GUI thread's work per keystroke, and how soon
// after the quiet time the page shows the new text (the changed blocks sent, and as a baseline
// the whole body sent every time), on rust-book.md from the corpus, its first 100 KB and 1 MB.
// Opening: the editor shown, the preview's first layout, the longest GUI-thread stall, keystrokes
// and edits reaching the page, on 100,000 short paragraphs (generated), and with --open on four
// more documents. Peer, in a child of its own: the old editor (a QPlainTextEdit restyled by a
// QSyntaxHighlighter) beside a bare QWebEngineView given the same HTML (rendered on the GUI
// thread, loaded from a file, then put whole into the page's body after every edit); also a bare
// QPlainTextEdit's keystroke.
//
// Usage: bench-markdown-tool          typing in the book's start, opening 100,000 paragraphs, the targets
//        bench-markdown-tool --open   the opens only: 1 MB of short lines, a 1 MB line, a 200 KB
//                                     line of code spans, 100,000 paragraphs, rust-book.md

#include "tools/markdown/MarkdownHTML.h"
#include "tools/markdown/MarkdownLineMap.h"
#include "tools/markdown/MarkdownToolViewModel.h"
#include "tools/markdown/ui/MarkdownPreviewView.h"
#include "tools/markdown/ui/MarkdownSchemeHandler.h"
#include "tools/markdown/ui/MarkdownTextEditor.h"
#include "tools/markdown/ui/MarkdownToolView.h"

#include "PlainTextBaseline.h"
#include "support/Corpus.h"
#include "support/Machine.h"
#include "support/SelfRun.h"
#include "support/Series.h"
#include "support/StallProbe.h"
#include "support/Targets.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <QtTest/QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

namespace {

using bench::report;

QString document(qsizetype bytes)
{
    const QString section = QStringLiteral(
        "## Section %1\n\n"
        "A paragraph with **strong words**, _emphasis_, `inline code` and a [link](https://example.com).\n"
        "It continues on a second line so that paragraphs span lines.\n\n"
        "- first item with *stars*\n- second item\n  - nested item\n\n"
        "> A quotation that runs for a while.\n\n"
        "```cpp\nint main() { return %1; }\n```\n\n"
        "| Name | Value |\n| --- | --- |\n| a | %1 |\n\n");
    QString text;
    for (int i = 0; text.size() < bytes; ++i)
        text += section.arg(i);
    return text;
}

struct Stats {
    double median = 0;
    double p95 = 0;
    double max = 0;
};

Stats stats(QList<double> samples)
{
    std::sort(samples.begin(), samples.end());
    Stats s;
    if (samples.isEmpty())
        return s;
    s.median = samples[samples.size() / 2];
    s.p95 = samples[std::min<qsizetype>(samples.size() - 1, qsizetype(samples.size() * 0.95))];
    s.max = samples.last();
    return s;
}

// Puts the caret at the end of a line in the middle of the document: a paragraph's line of the
// generated documents, the middle line of others.
void caretToMiddle(QPlainTextEdit* edit)
{
    QTextBlock block = edit->document()->findBlockByNumber(edit->document()->blockCount() / 2);
    QTextBlock found = block;
    while (found.isValid() && !found.text().startsWith(QLatin1String("A paragraph")))
        found = found.next();
    QTextCursor cursor(found.isValid() ? found : block);
    cursor.movePosition(QTextCursor::EndOfBlock);
    edit->setTextCursor(cursor);
    edit->ensureCursorVisible();
}

void caretToMiddle(MarkdownTextEditor* editor)
{
    const CodeTextBuffer& buffer = editor->buffer();
    qsizetype line = buffer.lineCount() / 2;
    while (line < buffer.lineCount() && !buffer.lineText(line).startsWith(QLatin1String("A paragraph")))
        ++line;
    if (line >= buffer.lineCount())
        line = buffer.lineCount() / 2;
    const qsizetype at = buffer.lineEnd(line);
    editor->setSelection(at, at);
    editor->revealRange({at, 0}, false);
}

// Time of one key press handled to the end, events the press posts included.
template <class Edit>
QList<double> typeKeys(Edit* edit, int keys, const std::function<void()>& afterKey = {})
{
    QList<double> samples;
    QElapsedTimer clock;
    for (int i = 0; i < keys; ++i) {
        const char c = "markdown "[i % 9];
        clock.start();
        QTest::keyClick(edit, c);
        if (afterKey)
            afterKey();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        samples << clock.nsecsElapsed() / 1e6;
    }
    return samples;
}

// A script for the page: once run, window.benchDrawn holds the wall time (ms since the epoch) of
// the start of the frame after the one that showed the last change to the content.
QString drawnProbe()
{
    return QStringLiteral(
        "(function () { if (window.benchProbe) return; window.benchProbe = true; window.benchDrawn = 0;"
        " new MutationObserver(function () { requestAnimationFrame(function () {"
        " requestAnimationFrame(function (next) { window.benchDrawn = performance.timeOrigin + next; }); }); })"
        ".observe(document.getElementById('content'), { childList: true, subtree: true, characterData: true });"
        " })()");
}

double wallMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Asks the page for window.benchDrawn until it is set (0 when it never is). An answer may come
// after its wait gave up, from a busy page: it writes to shared state, never to a dead frame.
double waitForDrawn(const std::function<void(const std::function<void(const QVariant&)>&)>& ask, int timeoutMs = 30000)
{
    auto drawnAt = std::make_shared<double>(0);
    (void)waitUntil(
        [&] {
            auto answered = std::make_shared<bool>(false);
            ask([drawnAt, answered](const QVariant& v) {
                *drawnAt = std::max(*drawnAt, v.toDouble());
                *answered = true;
            });
            (void)waitUntil([&] { return *answered; }, 5000);
            return *drawnAt > 0;
        },
        timeoutMs);
    return *drawnAt;
}

void reportStats(const QString& name, const Stats& s)
{
    report(name + QStringLiteral(" median ms"), s.median);
    report(name + QStringLiteral(" p95 ms"), s.p95);
    report(name + QStringLiteral(" max ms"), s.max);
}

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The tool in a window as the program shows it, its page loaded.
struct Tool {
    MarkdownToolViewModel model;
    QWidget window;
    MarkdownToolView* view = nullptr;
    Tool()
    {
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        view = new MarkdownToolView(&model, &window);
        layout->addWidget(view);
        window.resize(1200, 800);
        window.show();
        (void)waitUntil([&] { return view->preview()->isLoaded(); }, 30000);
    }
};

constexpr int kKeys = 60;
constexpr int kEditRounds = 3;

// Ours, typing: keystrokes in the middle, then edits after the quiet time until the page has
// drawn them and the program holds the new line map, changed blocks sent, then the whole body.
int childTypingOurs(const QString& text)
{
    Tool tool;
    MarkdownToolViewModel& model = tool.model;
    MarkdownToolView* view = tool.view;
    model.setMarkdownText(text);
    QSignalSpy layouts(view->preview(), &MarkdownPreviewView::layoutReceived);
    (void)waitUntil([&] { return !model.isBusy(); }, 60000);
    layouts.wait(30000);
    settle(500);
    MarkdownTextEditor* editor = view->editor();
    editor->setFocus();
    caretToMiddle(editor);
    settle(200);
    reportStats(QStringLiteral("keystroke"), stats(typeKeys(editor, kKeys)));

    // The frame that shows a change starts at the first animation frame after it; it has been
    // drawn by the start of the frame after that (that frame's own time stamp, which work the
    // page does in between does not move). So this errs late by up to one frame.
    QList<double> stalls;
    auto previewLatency = [&](QList<double>& drawn, QList<double>& mapped, QList<double>& published) {
        view->preview()->evaluate(drawnProbe());
        for (int round = 0; round < kEditRounds; ++round) {
            (void)waitUntil([&] { return !model.isBusy(); }, 60000);
            settle(400);
            view->preview()->evaluate(QStringLiteral("window.benchDrawn = 0"));
            settle(50);
            layouts.clear();
            QElapsedTimer clock;
            double publishedAt = -1;
            QMetaObject::Connection c = QObject::connect(&model, &MarkdownToolViewModel::renderedHTMLChanged,
                                                         [&] { publishedAt = clock.nsecsElapsed() / 1e6; });
            const double keyAt = wallMs();
            clock.start();
            StallProbe probe;
            QTest::keyClick(editor, 'x');
            probe.start();
            (void)waitUntil([&] { return !layouts.isEmpty() && !model.isBusy(); }, 30000);
            stalls << probe.stopMs();
            mapped << clock.nsecsElapsed() / 1e6 - MarkdownToolViewModel::quietTimeMs;
            published << publishedAt - MarkdownToolViewModel::quietTimeMs;
            QObject::disconnect(c);
            const double drawnAt = waitForDrawn(
                [&](const std::function<void(const QVariant&)>& done) { view->preview()->evaluate(QStringLiteral("window.benchDrawn"), done); });
            // A page that never said it drew leaves the figure out (the run then reports fewer).
            if (drawnAt > 0)
                drawn << drawnAt - keyAt - MarkdownToolViewModel::quietTimeMs;
        }
    };
    QList<double> drawn, mapped, published;
    previewLatency(drawn, mapped, published);
    report(QStringLiteral("published after quiet ms"), stats(published).median);
    if (!drawn.isEmpty())
        report(QStringLiteral("drawn after quiet ms"), stats(drawn).median);
    report(QStringLiteral("line map after quiet ms"), stats(mapped).median);
    report(QStringLiteral("update stall ms"), stats(stalls).max);
    view->preview()->setIncrementalUpdates(false);
    QList<double> wholeDrawn, wholeMapped, wholePublished;
    previewLatency(wholeDrawn, wholeMapped, wholePublished);
    if (!wholeDrawn.isEmpty())
        report(QStringLiteral("whole body drawn after quiet ms"), stats(wholeDrawn).median);
    report(QStringLiteral("whole body line map after quiet ms"), stats(wholeMapped).median);
    bench::reportDescendants(QStringLiteral("page processes"));
    return 0;
}

// The peer's preview: a bare web view showing the document's HTML from a file (setHtml takes at
// most 2 MB), reloaded whole for every change.
struct BarePreview {
    QWebEngineView view;
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("page.html"));
    double renderMs = 0;
    BarePreview()
    {
        view.resize(600, 800);
        view.show();
    }
    // Renders `text` on this thread, loads it and waits until the page has drawn it: the epoch
    // time of the frame after the one that showed it (0 when it did not).
    double show(const QString& text)
    {
        QElapsedTimer clock;
        clock.start();
        const QString html = QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>")
            + renderMarkdownHTML(text) + QStringLiteral("</body></html>");
        renderMs = clock.nsecsElapsed() / 1e6;
        {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly))
                return 0;
            f.write(html.toUtf8());
        }
        bool loaded = false;
        QMetaObject::Connection c = QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
        view.load(QUrl::fromLocalFile(path));
        (void)waitUntil([&] { return loaded; }, 60000);
        QObject::disconnect(c);
        // The loaded page is drawn by the start of the second frame after its load.
        view.page()->runJavaScript(QStringLiteral(
            "window.benchDrawn = 0; requestAnimationFrame(function () { requestAnimationFrame(function (next) {"
            " window.benchDrawn = performance.timeOrigin + next; }); });"));
        return waitDrawn();
    }
    // The epoch time the page noted in window.benchDrawn, once it has (0 when it did not).
    double waitDrawn()
    {
        return waitForDrawn(
            [&](const std::function<void(const QVariant&)>& done) { view.page()->runJavaScript(QStringLiteral("window.benchDrawn"), done); },
            60000);
    }
};

// Edits typed into the old editor, each rendered whole on the GUI thread and put into the bare
// preview's body (a reload would add a navigation): from the key to the page drawn, and the
// longest stall.
void peerEdits(PlainTextBaselineEditor& edit, BarePreview& preview, int rounds = kEditRounds)
{
    QList<double> drawn, stalls, renders;
    for (int round = 0; round < rounds; ++round) {
        settle(200);
        StallProbe probe;
        probe.start();
        const double keyAt = wallMs();
        QTest::keyClick(&edit, 'x');
        QElapsedTimer clock;
        clock.start();
        const QString html = renderMarkdownHTML(edit.toPlainText());
        renders << clock.nsecsElapsed() / 1e6;
        const QString literal = QString::fromUtf8(QJsonDocument(QJsonArray{html}).toJson(QJsonDocument::Compact));
        preview.view.page()->runJavaScript(QStringLiteral(
            "document.body.innerHTML = %1[0]; window.benchDrawn = 0; requestAnimationFrame(function () {"
            " requestAnimationFrame(function (next) { window.benchDrawn = performance.timeOrigin + next; }); });").arg(literal));
        const double at = preview.waitDrawn();
        stalls << probe.stopMs();
        drawn << (at > 0 ? at - keyAt : -1);
    }
    report(QStringLiteral("edit drawn ms"), stats(drawn).median);
    report(QStringLiteral("render on GUI ms"), stats(renders).median);
    report(QStringLiteral("update stall ms"), stats(stalls).max);
}

int childTypingPeer(const QString& text)
{
    {
        // A bare QPlainTextEdit, no highlighter, no model.
        QPlainTextEdit edit;
        edit.resize(600, 800);
        edit.show();
        edit.setPlainText(text);
        settle(200);
        edit.setFocus();
        caretToMiddle(&edit);
        reportStats(QStringLiteral("bare QPlainTextEdit keystroke"), stats(typeKeys(&edit, kKeys)));
    }
    PlainTextBaselineEditor edit;
    edit.resize(600, 800);
    edit.show();
    edit.setPlainText(text);
    BarePreview preview;
    preview.show(text);
    settle(200);
    edit.setFocus();
    caretToMiddle(&edit);
    reportStats(QStringLiteral("keystroke"), stats(typeKeys(&edit, kKeys)));
    // The old editor's highlighter rehighlighting the whole text on every key.
    reportStats(QStringLiteral("full rehighlight keystroke"),
                stats(typeKeys(&edit, std::max(3, kKeys / 10), [&] { edit.highlighter->rehighlight(); })));
    peerEdits(edit, preview);
    bench::reportDescendants(QStringLiteral("page processes"));
    return 0;
}

QString oneLongLine(qsizetype bytes)
{
    const QString piece = QStringLiteral("words and **strong words**, `code`, _emphasis_ and a [link](https://example.com); ");
    QString text;
    text.reserve(bytes + piece.size());
    while (text.size() < bytes)
        text += piece;
    text.truncate(bytes);
    return text;
}

QString codeSpanLine(qsizetype bytes)
{
    QString text;
    text.reserve(bytes);
    while (text.size() < bytes)
        text += QStringLiteral("`a");
    return text;
}

QString shortParagraphs(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("Paragraph %1 has *some* words, `code`\n\n").arg(i, 6, 10, QLatin1Char('0'));
    return text;
}

// The longest the GUI thread goes without serving a 1 ms timer, while it runs.
struct StallWatch {
    QElapsedTimer tick;
    double longest = 0;
    QTimer ticker;
    StallWatch()
    {
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, [this] {
            longest = std::max(longest, tick.nsecsElapsed() / 1e6);
            tick.start();
        });
        tick.start();
        ticker.start(1);
    }
};

// From the end of the quiet time after one keystroke until the page has drawn the change (a probe
// in the page notes the frame after the one that shows it), over `rounds` edits, with the longest
// GUI-thread stall meanwhile.
Stats editReachesPage(MarkdownToolView* view, MarkdownToolViewModel& model, MarkdownTextEditor* editor, int rounds,
                      double* longestStall)
{
    view->preview()->evaluate(drawnProbe());
    QList<double> drawn;
    for (int round = 0; round < rounds; ++round) {
        (void)waitUntil([&] { return !model.isBusy(); }, 60000);
        settle(400);
        view->preview()->evaluate(QStringLiteral("window.benchDrawn = 0"));
        settle(50);
        const double keyAt = wallMs();
        double drawnAt = 0;
        {
            StallWatch watch;
            QTest::keyClick(editor, 'x');
            drawnAt = waitForDrawn(
                [&](const std::function<void(const QVariant&)>& done) { view->preview()->evaluate(QStringLiteral("window.benchDrawn"), done); });
            *longestStall = std::max(*longestStall, watch.longest);
        }
        drawn << (drawnAt > 0 ? drawnAt - keyAt - MarkdownToolViewModel::quietTimeMs : -1);
    }
    return stats(drawn);
}

// Ours, opening: from the open to the editor shown and to the preview's first layout of the
// document, the longest stall meanwhile, keystrokes in the middle and edits reaching the page.
int childOpenOurs(const QString& path)
{
    const QString text = readText(path);
    Tool tool;
    MarkdownToolViewModel& model = tool.model;
    MarkdownToolView* view = tool.view;
    settle(500);
    MarkdownTextEditor* editor = view->editor();
    QElapsedTimer clock;
    double shown = -1, drawn = -1;
    // The editor may take a large text a turn after the model publishes it.
    QMetaObject::Connection c1 = QObject::connect(editor, &CodeTextView::textChanged, [&] {
        if (shown < 0 && editor->text().size() == text.size()) {
            editor->viewport()->repaint();
            shown = clock.nsecsElapsed() / 1e6;
        }
    });
    // Only a layout of this document counts: the freshly loaded empty page sends one too.
    const double lines = double(text.count(u'\n'));
    QMetaObject::Connection c2 = QObject::connect(view->preview(), &MarkdownPreviewView::layoutReceived, [&] {
        const MarkdownLineMap* map = view->preview()->lineMap();
        const bool ofDocument = map && !map->anchors().isEmpty() && map->anchors().last().line >= lines / 2;
        if (shown >= 0 && drawn < 0 && !model.isBusy() && ofDocument)
            drawn = clock.nsecsElapsed() / 1e6;
    });
    {
        StallWatch watch;
        clock.start();
        model.open(QUrl::fromLocalFile(path));
        (void)waitUntil([&] { return shown >= 0 && drawn >= 0; }, 120000);
        report(QStringLiteral("open stall ms"), watch.longest);
    }
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    report(QStringLiteral("shown ms"), shown);
    report(QStringLiteral("first layout ms"), drawn);
    editor->setFocus();
    const qsizetype middle = text.size() / 2;
    editor->setSelection(middle, middle);
    editor->revealRange({middle, 0}, false);
    settle(300);
    reportStats(QStringLiteral("keystroke"), stats(typeKeys(editor, 40)));
    double editStall = 0;
    const Stats edits = editReachesPage(view, model, editor, kEditRounds, &editStall);
    report(QStringLiteral("edit drawn after quiet median ms"), edits.median);
    report(QStringLiteral("edit drawn after quiet max ms"), edits.max);
    report(QStringLiteral("update stall ms"), editStall);
    bench::reportDescendants(QStringLiteral("page processes"));
    return 0;
}

// The peer, opening: the file read and set into the old editor (capped where a line is too
// long for it), rendered and loaded into the bare preview.
int childOpenPeer(const QString& path, qsizetype cap)
{
    PlainTextBaselineEditor edit;
    edit.resize(600, 800);
    edit.show();
    BarePreview preview;
    settle(500);
    StallProbe probe;
    probe.start();
    const double startAt = wallMs();
    QElapsedTimer clock;
    clock.start();
    const QString text = readText(path).left(cap);
    edit.setPlainText(text);
    edit.viewport()->repaint();
    report(QStringLiteral("shown ms"), clock.nsecsElapsed() / 1e6);
    const double at = preview.show(text);
    report(QStringLiteral("first layout ms"), at > 0 ? at - startAt : -1);
    report(QStringLiteral("open stall ms"), probe.stopMs());
    report(QStringLiteral("units"), double(text.size()));
    edit.setFocus();
    QTextCursor cursor(edit.document());
    cursor.setPosition(int(text.size() / 2));
    edit.setTextCursor(cursor);
    edit.ensureCursorVisible();
    settle(100);
    reportStats(QStringLiteral("keystroke"), stats(typeKeys(&edit, 5)));
    // One edit: on a large document each takes the peer seconds.
    peerEdits(edit, preview, 1);
    bench::reportDescendants(QStringLiteral("page processes"));
    return 0;
}

int childMain(int argc, char* argv[])
{
    MarkdownSchemeHandler::registerScheme();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("--child-typing-ours"))
        return childTypingOurs(readText(args.value(2)));
    if (mode == QLatin1String("--child-typing-peer"))
        return childTypingPeer(readText(args.value(2)));
    if (mode == QLatin1String("--child-open-ours"))
        return childOpenOurs(args.value(2));
    if (mode == QLatin1String("--child-open-peer"))
        return childOpenPeer(args.value(2), args.value(3).toLongLong());
    return 2;
}

using namespace bench;

struct Case {
    Input input;
    qsizetype peerCap = 0; // units the peer's editor is given (0: all)
    QString path;
    std::vector<std::vector<Figures>> figures = std::vector<std::vector<Figures>>(3);
};

// Runs ours on one core and on all, and the peer on all (its page is several processes).
void runCase(Case& c, const QString& what, int rounds)
{
    const QString ours = QStringLiteral("--child-%1-ours").arg(what), peer = QStringLiteral("--child-%1-peer").arg(what);
    const QStringList peerArgs{peer, c.path, QString::number(c.peerCap)};
    const std::vector<Series> series = interleave(
        {{QStringLiteral("ours, 1 core"), [&] { return runSelf(Cores::one, {ours, c.path}, c.figures[0]); }},
         {QStringLiteral("ours, all cores"), [&] { return runSelf(Cores::all, {ours, c.path}, c.figures[1]); }},
         {QStringLiteral("old editor + bare view"), [&] { return runSelf(Cores::all, peerArgs, c.figures[2]); }}},
        rounds);
    printCase(QStringLiteral("%1 %2: whole child (start-up, page load, the work; peak = the GUI process)").arg(what, c.input.name), 0,
              series);
}

void printFigure(const Case& c, const QString& label, const QString& ours, const QString& peer = QString())
{
    std::printf("  %-40s 1 core %-22s all cores %-22s", qPrintable(label), qPrintable(spreadOf(c.figures[0], ours).text()),
                qPrintable(spreadOf(c.figures[1], ours).text()));
    if (!peer.isEmpty())
        std::printf(" peer %s", qPrintable(spreadOf(c.figures[2], peer).text()));
    std::printf("\n");
}

void printPages(const Case& c)
{
    std::printf("  %-40s 1 core %.0f MB, cpu %.0f ms; all cores %.0f MB, cpu %.0f ms; peer %.0f MB, cpu %.0f ms\n",
                "page processes (peaks summed), median", spreadOf(c.figures[0], QStringLiteral("page processes peak MB")).median,
                spreadOf(c.figures[0], QStringLiteral("page processes cpu ms")).median,
                spreadOf(c.figures[1], QStringLiteral("page processes peak MB")).median,
                spreadOf(c.figures[1], QStringLiteral("page processes cpu ms")).median,
                spreadOf(c.figures[2], QStringLiteral("page processes peak MB")).median,
                spreadOf(c.figures[2], QStringLiteral("page processes cpu ms")).median);
    std::printf("\n");
    std::fflush(stdout);
}

void printTyping(const Case& c)
{
    printFigure(c, QStringLiteral("keystroke median, ms"), QStringLiteral("keystroke median ms"), QStringLiteral("keystroke median ms"));
    printFigure(c, QStringLiteral("keystroke p95, ms"), QStringLiteral("keystroke p95 ms"), QStringLiteral("keystroke p95 ms"));
    std::printf("  %-40s peer %s; full rehighlight per key %s\n", "keystroke median, bare QPlainTextEdit, ms",
                qPrintable(spreadOf(c.figures[2], QStringLiteral("bare QPlainTextEdit keystroke median ms")).text(2)),
                qPrintable(spreadOf(c.figures[2], QStringLiteral("full rehighlight keystroke median ms")).text()));
    printFigure(c, QStringLiteral("after quiet: HTML published, ms"), QStringLiteral("published after quiet ms"));
    printFigure(c, QStringLiteral("after quiet: page drawn (peer: key), ms"), QStringLiteral("drawn after quiet ms"),
                QStringLiteral("edit drawn ms"));
    printFigure(c, QStringLiteral("after quiet: line map, ms"), QStringLiteral("line map after quiet ms"));
    printFigure(c, QStringLiteral("whole body sent: page drawn, ms"), QStringLiteral("whole body drawn after quiet ms"));
    printFigure(c, QStringLiteral("longest stall during updates, ms"), QStringLiteral("update stall ms"), QStringLiteral("update stall ms"));
    std::printf("  %-40s peer %s\n", "render on the GUI thread per edit, ms",
                qPrintable(spreadOf(c.figures[2], QStringLiteral("render on GUI ms")).text()));
    printPages(c);
}

void printOpen(const Case& c)
{
    // The cap counts UTF-16 units, as the editor does.
    if (c.peerCap < QString::fromUtf8(c.input.bytes).size())
        std::printf("  (the peer's editor and page are given the first %lld units: a longer line takes it minutes)\n",
                    (long long)c.peerCap);
    printFigure(c, QStringLiteral("open -> editor shown, ms"), QStringLiteral("shown ms"), QStringLiteral("shown ms"));
    printFigure(c, QStringLiteral("open -> preview's first layout, ms"), QStringLiteral("first layout ms"), QStringLiteral("first layout ms"));
    printFigure(c, QStringLiteral("longest stall during the open, ms"), QStringLiteral("open stall ms"), QStringLiteral("open stall ms"));
    printFigure(c, QStringLiteral("keystroke median, ms"), QStringLiteral("keystroke median ms"), QStringLiteral("keystroke median ms"));
    printFigure(c, QStringLiteral("edit drawn after quiet (peer: key), ms"), QStringLiteral("edit drawn after quiet median ms"),
                QStringLiteral("edit drawn ms"));
    printFigure(c, QStringLiteral("longest stall while edits reach the page"), QStringLiteral("update stall ms"), QStringLiteral("update stall ms"));
    printPages(c);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
    if (argc > 1 && QByteArray(argv[1]).startsWith("--child-"))
        return childMain(argc, argv);

    // The parent writes the inputs and starts children; it starts no threads of its own.
    QCoreApplication app(argc, argv);
    printMachine("bench-markdown-tool");
    std::printf("Offscreen, real web view. Ours: the tool (editor, highlighter, model, preview page). Peer: the old\n"
                "editor (QPlainTextEdit + QSyntaxHighlighter) beside a bare QWebEngineView given the same HTML; what\n"
                "differs: it has no quiet time (an edit is rendered on the GUI thread and the whole body replaced at\n"
                "once: its \"drawn\" is from the key), no line map, no scroll sync. Page processes: the web engine's\n"
                "processes each side started, their peaks summed.\n\n");
    const int rounds = roundsWanted();
    Targets targets;
    QTemporaryDir dir;
    auto write = [&](Case& c) {
        c.path = dir.filePath(QStringLiteral("doc%1.md").arg(qHash(c.input.name)));
        QFile f(c.path);
        if (!f.open(QIODevice::WriteOnly) || f.write(c.input.bytes) != c.input.bytes.size())
            qFatal("cannot write %s", qPrintable(c.path));
        if (c.peerCap == 0)
            c.peerCap = QString::fromUtf8(c.input.bytes).size();
    };
    const QString book = QStringLiteral("markdown/rust-book.md");
    const bool opensOnly = app.arguments().contains(QStringLiteral("--open"));
    if (corpusDir().isEmpty())
        std::printf("(no corpus found: set QUORRIX_BENCH_CORPUS; rust-book.md skipped)\n\n");

    if (!opensOnly && !corpusDir().isEmpty()) {
        Case small, large;
        small.input = prefix(book, 100 * 1024);
        large.input = prefix(book, 1024 * 1024);
        write(small);
        write(large);
        std::printf("Typing: %d keystrokes in the middle, then %d edits after the quiet time, each run.\n\n", kKeys, kEditRounds);
        runCase(small, QStringLiteral("typing"), rounds);
        printTyping(small);
        runCase(large, QStringLiteral("typing"), rounds);
        printTyping(large);
        auto growthOf = [&](const QString& key, int side) {
            const double a = spreadOf(small.figures[size_t(side)], key).median, b = spreadOf(large.figures[size_t(side)], key).median;
            return a > 0 ? b / a : 0.0;
        };
        std::printf("growth %s -> %s (x%.0f input), all cores: keystroke median x%.2f, page drawn after quiet x%.2f "
                    "(whole body sent x%.2f); peer: keystroke x%.2f, edit drawn x%.2f\n\n",
                    qPrintable(megabytes(small.input.bytes.size())), qPrintable(megabytes(large.input.bytes.size())),
                    double(large.input.bytes.size()) / small.input.bytes.size(),
                    growthOf(QStringLiteral("keystroke median ms"), 1), growthOf(QStringLiteral("drawn after quiet ms"), 1),
                    growthOf(QStringLiteral("whole body drawn after quiet ms"), 1), growthOf(QStringLiteral("keystroke median ms"), 2),
                    growthOf(QStringLiteral("edit drawn ms"), 2));
    }

    std::vector<Case> opens;
    auto addOpen = [&](const QString& what, const QString& text, qsizetype cap) {
        Case c;
        c.input = generated(what, text.toUtf8());
        c.peerCap = cap;
        opens.push_back(std::move(c));
    };
    if (opensOnly) {
        const QString reference = document(1024 * 1024);
        addOpen(QStringLiteral("1 MB of short lines"), reference, 0);
        addOpen(QStringLiteral("1 MB document of one line"), oneLongLine(1024 * 1024), 256 * 1024);
        addOpen(QStringLiteral("200 KB line of code spans"), codeSpanLine(200 * 1024), 20 * 1024);
    }
    addOpen(QStringLiteral("100,000 short paragraphs"), shortParagraphs(100000), 0);
    const size_t paragraphs = opens.size() - 1;
    if (opensOnly && !corpusDir().isEmpty()) {
        Case c;
        c.input = corpusFile(book);
        opens.push_back(std::move(c));
        Case large;
        large.input = repeatedTo(book, 10000000);
        opens.push_back(std::move(large));
    }
    const size_t tenMegabytes = opensOnly && !corpusDir().isEmpty() ? opens.size() - 1 : 0;
    for (Case& c : opens) {
        write(c);
        runCase(c, QStringLiteral("open"), rounds);
        printOpen(c);
    }

    const Case& many = opens[paragraphs];
    auto detail = [&](const QString& key) {
        const Spread all = spreadOf(many.figures[1], key), one = spreadOf(many.figures[0], key);
        return QStringLiteral("median all cores %1 ms (1 core %2 ms), worst run %3 ms")
            .arg(all.median, 0, 'f', 0).arg(one.median, 0, 'f', 0).arg(all.max, 0, 'f', 0);
    };
    auto within = [&](const QString& key, double limit) {
        const Spread all = spreadOf(many.figures[1], key);
        return all.runs > 0 && all.median >= 0 && all.median <= limit;
    };
    targets.check(QStringLiteral("100,000 short paragraphs reach the preview's first layout within 2 s"),
                  within(QStringLiteral("first layout ms"), 2000), detail(QStringLiteral("first layout ms")));
    targets.check(QStringLiteral("no GUI-thread stall over 100 ms while they open"), within(QStringLiteral("open stall ms"), 100),
                  detail(QStringLiteral("open stall ms")));
    targets.check(QStringLiteral("an edit of them reaches the page within 200 ms of the quiet time's end"),
                  within(QStringLiteral("edit drawn after quiet median ms"), 200) && spreadOf(many.figures[1], QStringLiteral("edit drawn after quiet median ms")).median > 0,
                  detail(QStringLiteral("edit drawn after quiet median ms")));
    targets.check(QStringLiteral("no GUI-thread stall over 100 ms while an edit of them reaches the page"),
                  within(QStringLiteral("update stall ms"), 100), detail(QStringLiteral("update stall ms")));
    if (tenMegabytes) {
        const Case& large = opens[tenMegabytes];
        const Spread one = spreadOf(large.figures[0], QStringLiteral("open stall ms"));
        const Spread all = spreadOf(large.figures[1], QStringLiteral("open stall ms"));
        targets.check(QStringLiteral("%1: no GUI-thread stall over 100 ms on one core, 50 ms on all, while it opens").arg(large.input.name),
                      one.runs > 0 && all.runs > 0 && one.median <= 100 && all.median <= 50,
                      QStringLiteral("median 1 core %1 ms, all cores %2 ms").arg(one.median, 0, 'f', 0).arg(all.median, 0, 'f', 0));
    }
    printLoadAtEnd();
    return targets.finish();
}
