// The running Encode / Decode tool, offscreen: Base64 of gzip'd JSON pasted into the Input pane
// until the formatted output is shown (after the 0.15 s quiet time), and the longest stall of the
// GUI thread meanwhile; on the largest of them also typing in the input and moving through the
// output. Beside it: the same work by command-line tools (base64 -d | gzip -dc | jq .), and the
// bare kit text view given the same formatted text. Last, 50 MB of Base64 of plain text pasted
// until its decoded text is shown, beside base64 -d: the longest GUI-thread stall meanwhile. Each run is a child process of its own that
// makes its application after the fork. With QUORRIX_SCREENSHOT_DIR set, it also saves pictures
// of the sample, a hex dump and a failure.

#include "kit/ui/CodeTextView.h"
#include "tools/codec/CodecToolViewModel.h"
#include "tools/codec/ui/CodecToolView.h"
#include "kit/ui/CodeEditor.h"
#include "support/Corpus.h"
#include "support/Machine.h"
#include "support/Series.h"
#include "support/StallProbe.h"
#include "support/Targets.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "support/Deflated.h"

#include <algorithm>
#include <array>
#include <memory>
#include <cstdio>
#include <vector>

namespace {

using namespace bench;

constexpr int quietMs = 150;

// Records as a service sends them, with random identifiers that keep gzip near 2:1.
QByteArray jsonDocument(qint64 target)
{
    QRandomGenerator rng(13);
    QByteArray out = "[";
    int id = 0;
    while (out.size() < target) {
        if (id)
            out += ',';
        out += "{\"id\":" + QByteArray::number(id++) + ",\"token\":\"" + QByteArray::number(rng.generate64(), 36)
               + QByteArray::number(rng.generate64(), 36) + "\",\"score\":" + QByteArray::number(rng.bounded(100000))
               + ",\"tags\":[\"a" + QByteArray::number(rng.bounded(1000)) + "\",\"b\"],\"ok\":true}";
    }
    out += ']';
    return out;
}

// Lines of words as people write them, a few accented letters among them: a paste of Base64
// whose decoded text is shown as it is.
QByteArray plainText(qint64 target)
{
    QRandomGenerator rng(29);
    const char* words[] = {"alpha", "beta", "gamma", "caf\xC3\xA9", "path/to/file", "100%", "a+b=c", "it's", "Tom & Jerry"};
    QByteArray out;
    out.reserve(target + 64);
    int inLine = 0;
    while (out.size() < target) {
        out += words[rng.bounded(int(std::size(words)))];
        out += ++inLine % 12 ? ' ' : '\n';
    }
    out.truncate(target);
    while (!out.isEmpty() && static_cast<unsigned char>(out.back()) >= 0x80)
        out.chop(1);
    return out;
}

// A corpus file `copies` times as the elements of one array: one document, as pasted.
Input jsonArrayOf(const QString& relativePath, int copies)
{
    const Input one = corpusFile(relativePath);
    if (one.isEmpty())
        return {};
    QByteArray bytes = "[";
    for (int i = 0; i < copies; ++i)
        bytes += (i ? "," : "") + one.bytes;
    bytes += ']';
    return {QStringLiteral("%1 x%2 as one array (%3)").arg(QFileInfo(relativePath).fileName()).arg(copies).arg(megabytes(bytes.size())),
            bytes};
}

void waitForPublication(CodecToolViewModel& model)
{
    QCoreApplication::processEvents();
    waitUntil([&] { return !model.isTransformPending(); });
    settle(30);
}

// What a child running the tool reports beside its Sample.
struct ToolRun {
    double insertMs = -1;    // the paste into the Input pane
    double shownMs = -1;     // from then to the formatted output shown, less the quiet time
    double pasteStallMs = -1;
    double slowestKeyMs = -1;
    double typingStallMs = -1;
    double outputStallMs = -1;
    double bareMs = -1;      // the bare view given the formatted text
    bool formatted = false;
    bool shown = false;      // the output pane shows what the model published
    qint64 outputBytes = 0;
    qint64 shownChars = 0;
};

QApplication* makeApplication()
{
    static int argc = 1;
    static char name[] = "bench-codec-tool";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
}

qint64 runTool(const QString& given, bool typeAndMove, bool json, ToolRun& report)
{
    // A string of the child's own, as the clipboard hands a paste over: the parent's, shared at
    // the fork, costs a fault a page on its first reading, which no real paste pays.
    const QString pasted(given.constData(), given.size());
    std::unique_ptr<QApplication> app(makeApplication());
    CodecToolViewModel model;
    CodecToolView view(&model);
    view.resize(1200, 800);
    view.show();
    waitForPublication(model);

    StallProbe probe;
    CodeTextView* input = view.inputEditor()->textView();
    input->setFocus();
    input->selectAll();
    probe.start();
    QElapsedTimer clock;
    clock.start();
    input->insertPlainText(pasted);
    report.insertMs = clock.nsecsElapsed() / 1e6;
    QCoreApplication::processEvents();
    waitUntil([&] { return !model.isTransformPending() && model.output(); });
    // Lengths while waiting: a whole copy of the pane's tens of megabytes at every wake would be
    // a stall of the benchmark's own; the texts are compared once, after the probe.
    waitUntil([&] { return view.outputEditor()->length() == model.shownOutput().size(); });
    report.shownMs = clock.nsecsElapsed() / 1e6 - report.insertMs - quietMs;
    // What the paste leaves to do once its result is shown (the panes' Latin-1 copies taken
    // back, rows estimated) counts too.
    settle(500);
    report.pasteStallMs = probe.stopMs();
    report.shown = view.outputEditor()->text() == model.shownOutput();
    report.formatted = model.output() && model.output()->content == (json ? Codec::Content::json : Codec::Content::text);
    report.outputBytes = model.output() ? model.output()->byteCount : 0;
    report.shownChars = model.shownOutput().size();
    if (!report.shown)
        return -1;
    if (!typeAndMove)
        return report.formatted ? report.outputBytes : -1;

    // Typing in the middle of the input, faster than the quiet time, then waiting for each
    // transform to land.
    input->setSelection(pasted.size() / 2, pasted.size() / 2);
    probe.start();
    QElapsedTimer keys;
    double slowestKey = 0;
    for (int i = 0; i < 4; ++i) {
        keys.start();
        QTest::keyClick(input, Qt::Key_A);
        slowestKey = std::max(slowestKey, keys.nsecsElapsed() / 1e6);
        if (i < 3)
            settle(60);
        else
            waitForPublication(model);
    }
    report.typingStallMs = probe.stopMs();
    report.slowestKeyMs = slowestKey;
    waitForPublication(model);

    CodeTextView* output = view.outputEditor()->textView();
    output->setFocus();
    probe.start();
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(output, Qt::Key_PageDown);
        QTest::keyClick(output, Qt::Key_Right, Qt::ShiftModifier);
        settle(30);
    }
    report.outputStallMs = probe.stopMs();

    // The bare kit text view given the same formatted text at once.
    const QString text = model.output() ? model.output()->text : QString();
    CodeTextView bare;
    bare.resize(600, 800);
    bare.show();
    settle(50);
    clock.start();
    bare.setText(text);
    bare.repaint();
    report.bareMs = clock.nsecsElapsed() / 1e6;
    return report.formatted ? report.outputBytes : -1;
}

void screenshots(const QString& folder)
{
    std::unique_ptr<QApplication> app(makeApplication());
    QDir().mkpath(folder);
    CodecToolViewModel model;
    CodecToolView view(&model);
    view.resize(1100, 640);
    view.show();
    settle(300);
    waitForPublication(model);
    view.grab().save(QDir(folder).filePath(QStringLiteral("codec-sample.png")));
    QByteArray binary(300, Qt::Uninitialized);
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 37) & 0xFF);
    model.setInput(QString::fromLatin1(binary.toBase64()));
    waitForPublication(model);
    view.grab().save(QDir(folder).filePath(QStringLiteral("codec-hexdump.png")));
    model.setInput(QStringLiteral("SGVsbG8*"));
    waitForPublication(model);
    view.grab().save(QDir(folder).filePath(QStringLiteral("codec-failure.png")));
    std::printf("screenshots in %s\n", qPrintable(folder));
}

double medianOf(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// "504 ms (480-530)" of one figure of every run.
QString spread(const std::vector<ToolRun>& runs, double ToolRun::*field)
{
    std::vector<double> v;
    for (const ToolRun& r : runs)
        if (r.*field >= 0)
            v.push_back(r.*field);
    if (v.empty())
        return QStringLiteral("n/a");
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return QStringLiteral("%1 ms (%2-%3)").arg(medianOf(v), 0, 'f', 1).arg(*lo, 0, 'f', 1).arg(*hi, 0, 'f', 1);
}

double median(const std::vector<ToolRun>& runs, double ToolRun::*field)
{
    std::vector<double> v;
    for (const ToolRun& r : runs)
        if (r.*field >= 0)
            v.push_back(r.*field);
    return medianOf(v);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QString times(double v) { return v < 0 ? QStringLiteral("n/a") : QStringLiteral("%1x").arg(v, 0, 'f', 2); }

} // namespace

int main(int argc, char** argv)
{
    (void)argc;
    (void)argv;
    // No application object here: every run makes its own after the fork.
    prepareHeadless();
    printMachine("bench-codec-tool");
    std::printf("ours = the tool in a child of its own: application, view, the paste into the Input pane, until the\n"
                "  Output pane shows the formatted JSON. Run = that whole child; \"shown\" = from the end of the paste to\n"
                "  the output shown, less the %d ms quiet time; stall = the longest gap of a 1 ms timer on the GUI thread\n"
                "  from the paste to half a second after the output is shown.\n"
                "peer = the same work by command-line tools: sh -c 'base64 -d IN | gzip -dc | jq .' to a file, the three\n"
                "  processes on one core, peak = the largest one's. What differs: jq indents by 2 and shows nothing;\n"
                "  ours formats as the tool does and lays out the start of the text in a view.\n"
                "On the largest paste the child then types (three keys faster than the quiet time, one more left to\n"
                "  land), moves through the output (20 pages), and gives a bare CodeTextView the same formatted text\n"
                "  at once (setText + repaint), the floor of showing it.\n\n",
                quietMs);
    const int rounds = roundsWanted();
    Targets targets;
    QTemporaryDir tmp;
    const QString out = tmp.filePath(QStringLiteral("out"));

    struct Paste {
        QString name;
        qint64 jsonBytes = 0;
        QString text;
        bool typeAndMove = false;
        bool json = true; // gzip'd JSON, else plain text shown as decoded
    };
    std::vector<Paste> pastes;
    auto add = [&](const QString& what, const QByteArray& json, bool typeAndMove) {
        const QString text = QString::fromLatin1(deflated(json, 31).toBase64());
        pastes.push_back({QStringLiteral("%1 of Base64 (the gzip of %2)").arg(megabytes(text.size()), what), json.size(), text, typeAndMove});
    };
    // The largest paste: Base64 of plain text, decoded and shown as it is.
    auto addPlain = [&](qint64 base64Bytes) {
        const QByteArray plain = plainText(base64Bytes / 4 * 3);
        const QString text = QString::fromLatin1(plain.toBase64());
        pastes.push_back({QStringLiteral("%1 of Base64 (of %2 of generated lines of text)").arg(megabytes(text.size()), megabytes(plain.size())),
                          plain.size(), text, false, false});
    };
    add(QStringLiteral("generated records, %1").arg(megabytes(qint64(24) << 16)), jsonDocument(qint64(24) << 16), false);
    add(QStringLiteral("generated records, %1").arg(megabytes(qint64(24) << 20)), jsonDocument(qint64(24) << 20), true);
    const Input citm = jsonArrayOf(QStringLiteral("json/citm_catalog.json"), 2);
    if (citm.isEmpty())
        std::printf("(no corpus found: set QUORRIX_BENCH_CORPUS; the real document skipped)\n\n");
    else
        add(citm.name, citm.bytes, false);
    addPlain(50000000);

    // QUORRIX_BENCH_CASES=text (or records, citm) runs only the pastes of that kind.
    const QStringList only = qEnvironmentVariable("QUORRIX_BENCH_CASES").split(u',', Qt::SkipEmptyParts);
    if (!only.isEmpty()) {
        std::erase_if(pastes, [&](const Paste& p) {
            const QString kind = !p.json ? QStringLiteral("text") : p.name.contains(u"citm") ? QStringLiteral("citm") : QStringLiteral("records");
            return !only.contains(kind);
        });
    }

    ToolRun& report = sharedWithChildren<ToolRun>();
    std::vector<std::vector<Series>> results;
    std::vector<std::array<double, 2>> shownMedians;
    for (const Paste& paste : pastes) {
        const QString in = tmp.filePath(QStringLiteral("pasted"));
        writeFile(in, paste.text.toLatin1());
        std::vector<ToolRun> runs[2];
        auto tool = [&](Cores cores, int i) {
            return Side{i ? "ours, all cores" : "ours, 1 core", [&, cores, i] {
                            report = ToolRun{};
                            const Sample s = runForked(cores, [&] { return runTool(paste.text, paste.typeAndMove, paste.json, report); });
                            runs[i].push_back(report);
                            return s;
                        }};
        };
        const QStringList peer = paste.json ? QStringList{"sh", "-c", "base64 -d \"$1\" | gzip -dc | jq .", "sh", in}
                                            : QStringList{"base64", "-d", in};
        std::vector<Side> sides{tool(Cores::one, 0), tool(Cores::all, 1),
                                {paste.json ? "base64|gzip|jq" : "base64 -d", [&, peer] { return runProcess(Cores::one, peer, out); }}};
        const std::vector<Series> s = interleave(sides, rounds);
        printCase(paste.name, paste.text.size(), s);
        const ToolRun& last = runs[0].empty() ? ToolRun{} : runs[0].back();
        std::printf("  output: %s%s, %lld bytes decoded, %lld characters shown (the peer wrote %lld bytes; its\n"
                    "  peak includes this process's share at the fork: an empty program's peak here is %.0f MB)\n",
                    last.formatted ? (paste.json ? "formatted JSON" : "text") : (paste.json ? "NOT formatted" : "NOT text"),
                    last.shown ? "" : ", NOT shown in the pane", (long long)last.outputBytes, (long long)last.shownChars,
                    (long long)s[2].outBytes(), runProcess(Cores::one, {"true"}).peakMB);
        if (!paste.json) {
            // The largest paste: how long the GUI thread is held while it goes in and its text comes out.
            for (int i : {0, 1}) {
                const double stall = median(runs[i], &ToolRun::pasteStallMs);
                const double limit = i ? 50 : 100;
                const bool shownAll = std::all_of(runs[i].begin(), runs[i].end(), [](const ToolRun& r) { return r.shown && r.formatted; });
                targets.check(QStringLiteral("%1 MB paste of Base64: no GUI stall over %2 ms from the paste until it settles, %3")
                                  .arg(paste.text.size() / 1e6, 0, 'f', 0).arg(limit).arg(i ? "all cores" : "1 core"),
                              s[size_t(i)].ok() && shownAll && stall >= 0 && stall <= limit,
                              QStringLiteral("%1 ms median%2").arg(stall, 0, 'f', 1).arg(shownAll ? "" : ", NOT shown"));
            }
        }
        for (int i : {0, 1})
            std::printf("  %s: paste %s, then shown %s; GUI stall during paste %s\n", i ? "all cores" : "1 core   ",
                        qPrintable(spread(runs[i], &ToolRun::insertMs)), qPrintable(spread(runs[i], &ToolRun::shownMs)),
                        qPrintable(spread(runs[i], &ToolRun::pasteStallMs)));
        std::printf("  whole run, peer / ours: 1 core %s, all cores %s (above 1: ours faster)\n", qPrintable(times(speedup(s[0], s[2]))),
                    qPrintable(times(speedup(s[1], s[2]))));
        if (paste.typeAndMove) {
            for (int i : {0, 1})
                std::printf("  %s: the bare view given the formatted text shows it in %s\n", i ? "all cores" : "1 core   ",
                            qPrintable(spread(runs[i], &ToolRun::bareMs)));
            for (int i : {0, 1})
                std::printf("  %s: slowest keystroke %s, GUI stall while typing %s, moving in output %s\n", i ? "all cores" : "1 core   ",
                            qPrintable(spread(runs[i], &ToolRun::slowestKeyMs)), qPrintable(spread(runs[i], &ToolRun::typingStallMs)),
                            qPrintable(spread(runs[i], &ToolRun::outputStallMs)));
            for (int i : {0, 1}) {
                const QString where = i ? QStringLiteral("all cores") : QStringLiteral("1 core");
                const bool formatted = std::all_of(runs[i].begin(), runs[i].end(), [](const ToolRun& r) { return r.formatted; });
                const double shown = median(runs[i], &ToolRun::shownMs);
                targets.check(QStringLiteral("%1 MB paste to formatted output within 1000 ms, %2").arg(paste.text.size() / 1e6, 0, 'f', 1).arg(where),
                              s[size_t(i)].ok() && formatted && shown < 1000,
                              QStringLiteral("%1 ms median%2").arg(shown, 0, 'f', 0).arg(formatted ? "" : ", NOT formatted"));
                const double key = median(runs[i], &ToolRun::slowestKeyMs);
                targets.check(QStringLiteral("slowest keystroke under 50 ms, %1").arg(where), key >= 0 && key < 50,
                              QStringLiteral("%1 ms median").arg(key, 0, 'f', 1));
                const double typing = median(runs[i], &ToolRun::typingStallMs);
                targets.check(QStringLiteral("GUI stall while typing under 50 ms, %1").arg(where), typing >= 0 && typing < 50,
                              QStringLiteral("%1 ms median").arg(typing, 0, 'f', 1));
                const double moving = median(runs[i], &ToolRun::outputStallMs);
                targets.check(QStringLiteral("GUI stall moving in the output under 50 ms, %1").arg(where), moving >= 0 && moving < 50,
                              QStringLiteral("%1 ms median").arg(moving, 0, 'f', 1));
            }
        }
        std::printf("\n");
        results.push_back(s);
        shownMedians.push_back({median(runs[0], &ToolRun::shownMs), median(runs[1], &ToolRun::shownMs)});
    }
    if (results.size() >= 2 && pastes[0].json && pastes[1].json) {
        const double small = pastes[0].text.size(), large = pastes[1].text.size();
        auto shownGrowth = [&](int i) {
            return shownMedians[0][i] > 0 && shownMedians[1][i] > 0 ? (shownMedians[1][i] / large) / (shownMedians[0][i] / small) : -1;
        };
        std::printf("Growth from %s to %s of pasted Base64, time per byte (1 = linear): shown 1 core %.2f, all cores %.2f;\n"
                    "  whole run (its start included) 1 core %.2f, all cores %.2f; peer %.2f\n",
                    qPrintable(megabytes(qint64(small))), qPrintable(megabytes(qint64(large))), shownGrowth(0), shownGrowth(1),
                    growth(results[0][0], qint64(small), results[1][0], qint64(large)),
                    growth(results[0][1], qint64(small), results[1][1], qint64(large)),
                    growth(results[0][2], qint64(small), results[1][2], qint64(large)));
    }

    const QString folder = qEnvironmentVariable("QUORRIX_SCREENSHOT_DIR");
    if (!folder.isEmpty())
        runForked(Cores::all, [&] { return screenshots(folder), qint64(0); });
    printLoadAtEnd();
    return targets.finish();
}
