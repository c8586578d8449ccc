// CodeTextView beside QPlainTextEdit on the same documents, font and window (offscreen,
// 1000x700, wrap on): the time to show a document, keystrokes and arrows (p95), and the stall of
// a change of wrap width (median and worst step over all runs). Each other figure is the median
// and spread (max - min) of several runs, ours and the baseline's interleaved, and the threads
// our view's process used.
//
// Usage: bench-code-view [--runs N] [--no-baseline]
#include "formats/WorkPool.h"
#include "kit/CodeTextHighlighter.h"
#include "kit/ui/CodeTextView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QThreadPool>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Colours digits and quotes of the slice being drawn, as a highlighter must.
class ClassHighlighter : public CodeTextHighlighter {
public:
    void runs(const CodeTextBuffer& buffer, qsizetype from, qsizetype to, QList<CodeTextRun>& out) const override
    {
        const QString text = buffer.mid(from, to - from);
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (c.isDigit())
                out.append({from + i, from + i + 1, QColor(0xB85000), {}, false});
            else if (c == QLatin1Char('"'))
                out.append({from + i, from + i + 1, QColor(0x1F7F36), {}, false});
        }
    }
};

const QStringList kEmoji = {QStringLiteral("👨‍👩‍👧"), QStringLiteral("🇫🇷"), QStringLiteral("👍🏽"), QStringLiteral("❤️"),
    QStringLiteral("🏳️‍🌈"), QStringLiteral("😀"), QStringLiteral("🇯🇵"), QStringLiteral("🧑🏿‍💻")};

QString emojiScreen()
{
    // About 1,500 emoji on one screen: 45 short lines of 34 sequences.
    QString s;
    for (int line = 0; line < 300; ++line) {
        for (int i = 0; i < 34; ++i)
            s += kEmoji[(line + i) % kEmoji.size()];
        s += QLatin1Char('\n');
    }
    return s;
}

QString emojiLine()
{
    const QStringList pieces = kEmoji + QStringList{QStringLiteral("漢字かな"), QStringLiteral("e\u0301a\u0308 "),
        QStringLiteral("한국어 "), QStringLiteral("word ")};
    QString s;
    for (int i = 0; s.size() < 50'000; ++i)
        s += pieces[(i * 7) % pieces.size()];
    return s.left(50'000);
}

QString prose(qsizetype units, int wordsPerParagraph = 90)
{
    static const char* words[] = {"the ", "licence ", "Markdown ", "full ", "a ", "documentation, ", "of ", "\"quoted\" ",
        "42 ", "https://example.com/path ", "and "};
    QString s;
    s.reserve(units + 64);
    for (int i = 0; s.size() < units; ++i) {
        s += QLatin1String(words[(i * 7 + i / 11) % 11]);
        if (i % wordsPerParagraph == wordsPerParagraph - 1)
            s += QStringLiteral("\n\n");
    }
    return s;
}

QString paragraphs(int count)
{
    QString s;
    for (int i = 0; i < count; ++i)
        s += QStringLiteral("Item %1.\n").arg(i);
    return s;
}

QString oneLine(qsizetype units)
{
    QString s;
    s.reserve(units + 64);
    s += QLatin1Char('[');
    for (int i = 0; s.size() < units; ++i)
        s += QStringLiteral("{\"id\":%1,\"name\":\"item\",\"on\":true},").arg(i);
    return s;
}

double ms(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

void key(QWidget* target, Qt::Key k, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

int processThreads()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    return 0;
}

struct Run {
    double shown = 0, keyP95 = 0, arrowP95 = 0;
    std::vector<double> resizeSteps;
};

int g_peakThreads = 0;

// The widget-specific parts of one run.
struct Subject {
    std::function<void(const QString&)> set;
    std::function<void(qsizetype)> place; // caret there, scrolled into view
    QWidget* focus = nullptr;
    QWidget* paint = nullptr;
    QWidget* window = nullptr;
};

Run measure(Subject& s, const QString& text, int keystrokes, bool resize)
{
    Run r;
    QElapsedTimer t;
    t.start();
    s.set(text);
    s.paint->repaint();
    r.shown = ms(t);
    std::vector<double> keys, arrows;
    for (int i = 0; i < keystrokes; ++i) {
        const qsizetype at = text.size() / 7 * (1 + i % 6) + i;
        s.place(at);
        s.paint->repaint();
        t.restart();
        key(s.focus, Qt::Key_X, QStringLiteral("x"));
        s.paint->repaint();
        keys.push_back(ms(t));
        t.restart();
        key(s.focus, Qt::Key_Right, QString());
        s.paint->repaint();
        arrows.push_back(ms(t));
        g_peakThreads = std::max(g_peakThreads, processThreads());
    }
    r.keyP95 = percentile(keys, 0.95);
    r.arrowP95 = percentile(arrows, 0.95);
    if (resize) {
        // A window being narrowed and widened again, step by step.
        for (int w : {960, 900, 1000}) {
            t.restart();
            s.window->resize(w, 700);
            QApplication::processEvents();
            s.paint->repaint();
            r.resizeSteps.push_back(ms(t));
        }
    }
    return r;
}

Run ours(const QString& text, int keystrokes, bool resize)
{
    CodeTextView view;
    ClassHighlighter highlighter;
    view.addHighlighter(&highlighter);
    view.resize(1000, 700);
    view.show();
    QApplication::processEvents();
    Subject s;
    s.set = [&](const QString& t) { view.setText(t); };
    s.place = [&](qsizetype at) {
        view.setSelection(at, at);
        view.scrollToPosition(at);
    };
    s.focus = &view;
    s.paint = view.viewport();
    s.window = &view;
    return measure(s, text, keystrokes, resize);
}

Run plain(const QString& text, int keystrokes, bool resize)
{
    QPlainTextEdit edit;
    edit.setFont(CodeTextView::defaultFont());
    edit.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit.setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    edit.resize(1000, 700);
    edit.show();
    QApplication::processEvents();
    Subject s;
    s.set = [&](const QString& t) { edit.setPlainText(t); };
    s.place = [&](qsizetype at) {
        QTextCursor c(edit.document());
        c.setPosition(int(std::min<qsizetype>(at, edit.document()->characterCount() - 1)));
        edit.setTextCursor(c);
        edit.ensureCursorVisible();
    };
    s.focus = &edit;
    s.paint = edit.viewport();
    s.window = &edit;
    return measure(s, text, keystrokes, resize);
}

struct Stat {
    double median = 0, spread = 0;
};

Stat stat(const std::vector<Run>& runs, double Run::*field)
{
    std::vector<double> v;
    for (const Run& r : runs)
        v.push_back(r.*field);
    std::sort(v.begin(), v.end());
    return {v.empty() ? 0 : v[v.size() / 2], v.empty() ? 0 : v.back() - v.front()};
}

void print(const char* who, const std::vector<Run>& runs, bool resize)
{
    const Stat shown = stat(runs, &Run::shown), key = stat(runs, &Run::keyP95), arrow = stat(runs, &Run::arrowP95);
    std::printf("  %-15s shown %8.1f ±%6.1f ms   key p95 %7.2f ±%6.2f ms   arrow p95 %7.2f ±%6.2f ms", who,
        shown.median, shown.spread, key.median, key.spread, arrow.median, arrow.spread);
    if (resize) {
        std::vector<double> steps;
        for (const Run& r : runs)
            steps.insert(steps.end(), r.resizeSteps.begin(), r.resizeSteps.end());
        std::sort(steps.begin(), steps.end());
        std::printf("   width change %7.1f ms, worst %7.1f ms", percentile(steps, 0.5), steps.empty() ? 0 : steps.back());
    }
    std::printf("\n");
    std::fflush(stdout);
}

struct Document {
    const char* name;
    const char* target;
    QString text;
    int keystrokes;
    int baselineKeystrokes;
    bool resize;
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool baseline = !args.contains(QStringLiteral("--no-baseline"));
    int runs = 5;
    if (const qsizetype i = args.indexOf(QStringLiteral("--runs")); i >= 0 && i + 1 < args.size())
        runs = std::max(1, args[i + 1].toInt());

    const std::vector<Document> documents = {
        {"1,500 emoji on a screen, short lines", "key p95 <= 16 ms", emojiScreen(), 40, 20, false},
        {"one line of 50,000 emoji, CJK, marks", "key p95 <= 16 ms", emojiLine(), 40, 10, false},
        {"1 MB of prose paragraphs", "shown <= 50 ms, key p95 <= 8 ms", prose(1'000'000), 40, 20, false},
        {"100,000 short paragraphs", "shown <= 50 ms, key p95 <= 8 ms", paragraphs(100'000), 40, 20, false},
        {"one 1 MB line", "shown <= 50 ms, key p95 <= 16 ms", oneLine(1'000'000), 40, 3, false},
        {"10 MB document, wrap width changes", "width change <= 50 ms", prose(10'000'000), 10, 2, true},
        {"10 MB of short paragraphs, wrap width changes", "width change <= 50 ms", prose(10'000'000, 3), 10, 2, true},
    };
    const int startThreads = processThreads();
    std::printf("CodeTextView beside QPlainTextEdit: 1000x700 offscreen, %s, wrap at words; median ± spread of %d "
                "interleaved runs\n\n",
        qPrintable(CodeTextView::defaultFont().family()), runs);
    for (const Document& d : documents) {
        std::printf("%s (%.2f M UTF-16 units, %lld lines, target %s)\n", d.name, double(d.text.size()) / 1e6,
            (long long)(d.text.count(QLatin1Char('\n')) + 1), d.target);
        std::vector<Run> mine, theirs;
        for (int i = 0; i < runs; ++i) {
            mine.push_back(ours(d.text, d.keystrokes, d.resize));
            if (baseline)
                theirs.push_back(plain(d.text, d.baselineKeystrokes, d.resize));
        }
        print("CodeTextView", mine, d.resize);
        if (baseline)
            print("QPlainTextEdit", theirs, d.resize);
    }
    // Our view lays out and paints on the GUI thread; the process's other threads are Qt's own
    // (and, for texts of a megabyte or more, the pool task that prepares spare text storage).
    std::printf("\nThreads: %d in the process at start, at most %d while the views worked (pool limit %d).\n",
        startThreads, g_peakThreads, WorkPool::instance()->maxThreadCount());
    return 0;
}
