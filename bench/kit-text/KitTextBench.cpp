// Two figures of the editors' text helpers, each beside a baseline measured in the same run:
//  1. Scrolling one long wrapped paragraph in the small editors: the cost of one scroll step and
//     repaint, beside laying the whole paragraph out anew per frame (what a redraw would cost if
//     it re-laid the paragraph).
//  2. Line counting (LF, CR and CR LF once each) beside a plain count of line feeds.
// Both are given for growing input, so growth is visible.

#include "kit/TextHelpers.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextLayout>

#include <cstdio>

namespace {

QString paragraphOfLines(int lines)
{
    // About 60 characters per wrapped line at the bench's width.
    const QString words = QStringLiteral("lorem ipsum dolor sit amet consectetur adipiscing elit sed do ");
    QString text;
    text.reserve(lines * words.size());
    for (int i = 0; i < lines; ++i)
        text += words;
    return text;
}

double scrollFrameMicros(QPlainTextEdit& editor, int frames)
{
    QScrollBar* bar = editor.verticalScrollBar();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < frames; ++i) {
        bar->setValue(int(qint64(bar->maximum()) * i / frames));
        editor.viewport()->repaint();
    }
    return double(timer.nsecsElapsed()) / 1000.0 / frames;
}

double relayoutFrameMicros(const QString& text, const QFont& font, qreal width, int frames)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < frames; ++i) {
        QTextLayout layout(text, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        qreal y = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, y));
            y += line.height();
        }
        layout.endLayout();
    }
    return double(timer.nsecsElapsed()) / 1000.0 / frames;
}

template <class F>
double bestMicros(F&& f, int runs)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        f();
        best = std::min(best, double(timer.nsecsElapsed()) / 1000.0);
    }
    return best;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    std::printf("Scrolling one wrapped paragraph (per frame: scroll step + repaint, 400x300 view)\n");
    std::printf("%10s %16s %26s\n", "lines", "ours us/frame", "relayout baseline us/frame");
    double firstOurs = 0, firstBase = 0, lastOurs = 0, lastBase = 0;
    const int sizes[] = {200, 1000, 10000, 40000};
    for (int lines : sizes) {
        QPlainTextEdit editor;
        QFont font = editor.font();
        font.setPixelSize(13);
        editor.setFont(font);
        editor.resize(400, 300);
        const QString text = paragraphOfLines(lines);
        editor.setPlainText(text);
        editor.show();
        QCoreApplication::processEvents();
        scrollFrameMicros(editor, 10); // warm-up
        const double ours = scrollFrameMicros(editor, lines >= 40000 ? 20 : 200);
        const double base = relayoutFrameMicros(text, font, editor.viewport()->width() - 8, lines >= 10000 ? 2 : 20);
        std::printf("%10d %16.1f %26.1f\n", lines, ours, base);
        if (lines == sizes[0]) {
            firstOurs = ours;
            firstBase = base;
        }
        lastOurs = ours;
        lastBase = base;
    }
    std::printf("growth 200 -> 40000 lines: ours x%.1f, baseline x%.1f\n\n", lastOurs / firstOurs, lastBase / firstBase);

    std::printf("Line counting (LF, CR, CR LF once each)\n");
    std::printf("%10s %16s %26s\n", "MB", "lineCount us", "count('\\n') baseline us");
    double firstCount = 0, lastCount = 0, firstPlain = 0, lastPlain = 0;
    const int megabytes[] = {1, 10, 50};
    for (int mb : megabytes) {
        QString text;
        const QString line = QStringLiteral("{\"key\": \"value\", \"n\": 12345},\r\n");
        text.reserve(mb * 1048576);
        while (text.size() < mb * 1048576)
            text += line;
        qsizetype sink = 0;
        const double ours = bestMicros([&] { sink += TextHelpers::lineCount(text); }, 5);
        const double base = bestMicros([&] { sink += text.count(QLatin1Char('\n')); }, 5);
        std::printf("%10d %16.0f %26.0f\n", mb, ours, base);
        if (sink == 42)
            std::printf(" ");
        if (mb == megabytes[0]) {
            firstCount = ours;
            firstPlain = base;
        }
        lastCount = ours;
        lastPlain = base;
    }
    std::printf("growth 1 -> 50 MB: ours x%.1f, baseline x%.1f\n", lastCount / firstCount, lastPlain / firstPlain);
    return 0;
}
