// The running Encode / Decode tool, offscreen: pasting 10 MB of Base64 of gzip'd JSON until the
// formatted output is shown (after the 0.15 s quiet time), the longest stall of the GUI thread
// meanwhile, and the longest stall while typing in the input and moving through the output.
// The baseline is the bare kit text view given the same formatted text. With
// QUORRIX_SCREENSHOT_DIR set, it also saves pictures of the sample, a hex dump and a failure.

#include "kit/ui/CodeTextView.h"
#include "tools/codec/CodecToolViewModel.h"
#include "tools/codec/ui/CodecToolView.h"
#include "kit/ui/CodeEditor.h"
#include "support/StallProbe.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTimer>
#include <QtTest/QTest>

#include "support/Deflated.h"

#include <cstdio>

namespace {

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

void waitForPublication(CodecToolViewModel& model)
{
    QCoreApplication::processEvents();
    while (model.isTransformPending())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    spin(30);
}

void screenshots(const QString& folder)
{
    QDir().mkpath(folder);
    CodecToolViewModel model;
    CodecToolView view(&model);
    view.resize(1100, 640);
    view.show();
    spin(300);
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

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);

    const QByteArray json = jsonDocument(qint64(24) << 20);
    const QByteArray packed = deflated(json, 31);
    const QString pasted = QString::fromLatin1(packed.toBase64());
    std::printf("bench-codec-tool: paste %.1f MB of Base64 (gzip of %.1f MB of JSON) into the Input pane, offscreen\n",
                pasted.size() / 1048576.0, json.size() / 1048576.0);

    CodecToolViewModel model;
    CodecToolView view(&model);
    view.resize(1200, 800);
    view.show();
    spin(300);
    waitForPublication(model);

    StallProbe probe;
    CodeTextView* input = view.inputEditor()->textView();
    input->setFocus();
    input->selectAll();
    probe.start();
    QElapsedTimer clock;
    clock.start();
    input->insertPlainText(pasted);
    const qint64 pastedAt = clock.elapsed();
    waitForPublication(model);
    while (view.outputEditor()->text() != model.shownOutput())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double shown = clock.elapsed() - 30 - 150;
    const double pasteStall = probe.stopMs();
    const QString formattedText = model.output() ? model.output()->text : QString();
    const bool formatted = model.output() && model.output()->content == Codec::Content::json;
    const qint64 outputBytes = model.output() ? model.output()->byteCount : 0;

    // Typing in the middle of the input, faster than the quiet time, then with pauses that let
    // each transform land.
    input->setSelection(pasted.size() / 2, pasted.size() / 2);
    probe.start();
    QElapsedTimer keys;
    double slowestKey = 0;
    for (int i = 0; i < 12; ++i) {
        keys.start();
        QTest::keyClick(input, Qt::Key_A);
        slowestKey = std::max(slowestKey, keys.nsecsElapsed() / 1e6);
        spin(i < 6 ? 60 : 1200);
    }
    const double typingStall = probe.stopMs();
    waitForPublication(model);

    CodeTextView* output = view.outputEditor()->textView();
    output->setFocus();
    probe.start();
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(output, Qt::Key_PageDown);
        QTest::keyClick(output, Qt::Key_Right, Qt::ShiftModifier);
        spin(30);
    }
    const double outputStall = probe.stopMs();

    // Baseline: the bare kit text view given the same formatted text at once.
    CodeTextView bare;
    bare.resize(600, 800);
    bare.show();
    spin(100);

    QElapsedTimer baseClock;
    baseClock.start();
    bare.setText(formattedText);
    bare.repaint();
    const double bareShown = baseClock.nsecsElapsed() / 1e6;

    std::printf("%-34s %10s %10s\n", "", "ours", "target");
    std::printf("%-34s %10.0f %10s\n", "paste to formatted output, ms", shown - pastedAt, "< 1000");
    std::printf("%-34s %10.1f %10s\n", "  bare text view shows it, ms", bareShown, "");
    std::printf("%-34s %10.1f %10s\n", "GUI stall during paste, ms", pasteStall, "");
    std::printf("%-34s %10.1f %10s\n", "slowest keystroke, ms", slowestKey, "< 50");
    std::printf("%-34s %10.1f %10s\n", "GUI stall while typing, ms", typingStall, "< 50");
    std::printf("%-34s %10.1f %10s\n", "GUI stall moving in output, ms", outputStall, "< 50");
    std::printf("output after the paste: %s, %lld bytes unpacked, %lld characters shown\n",
                formatted ? "formatted JSON" : "NOT formatted", (long long)outputBytes, (long long)formattedText.size());

    const QString folder = qEnvironmentVariable("QUORRIX_SCREENSHOT_DIR");
    if (!folder.isEmpty())
        screenshots(folder);
    return 0;
}
