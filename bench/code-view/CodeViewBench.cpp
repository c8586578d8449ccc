// Side-by-side figures of CodeTextView and QPlainTextEdit (offscreen, 1000x700):
// set + first paint, a keystroke, a scroll step, memory, and growth from small to large input.
#include "kit/CodeTextHighlighter.h"
#include "kit/ui/CodeTextView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Colours by character class over the painted slice only, as a highlighter must.
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

QString shortLines(qsizetype units)
{
    static const char* pieces[] = {"  \"id\": 1,\n", "  \"a\": [\n", "    7,\n", "  ],\n", "  \"ok\": true,\n", "{\n", "}\n"};
    QString s;
    s.reserve(units + 32);
    for (int i = 0; s.size() < units; ++i)
        s += QLatin1String(pieces[i % 7]);
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

struct Figures {
    double set = 0, keyMedian = 0, keyMax = 0, scroll = 0;
    qsizetype memory = 0;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

Figures ours(const QString& text, bool wrap, int keystrokes)
{
    Figures f;
    CodeTextView view;
    ClassHighlighter highlighter;
    view.addHighlighter(&highlighter);
    view.setWrapEnabled(wrap);
    view.resize(1000, 700);
    view.show();
    QApplication::processEvents();
    QElapsedTimer t;
    t.start();
    view.setText(text);
    view.viewport()->repaint();
    f.set = ms(t);
    f.memory = view.buffer().memoryUsage();
    std::vector<double> keys;
    for (int i = 0; i < keystrokes; ++i) {
        const qsizetype at = text.size() / 7 * (1 + i % 6) + i;
        view.setSelection(at, at);
        view.scrollToPosition(at);
        view.viewport()->repaint();
        t.restart();
        key(&view, Qt::Key_X, QStringLiteral("x"));
        view.viewport()->repaint();
        keys.push_back(ms(t));
    }
    f.keyMedian = median(keys);
    f.keyMax = keys.empty() ? 0 : *std::max_element(keys.begin(), keys.end());
    std::vector<double> scrolls;
    view.scrollToPosition(text.size() / 3);
    for (int i = 0; i < 30; ++i) {
        t.restart();
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->value() + 3);
        view.viewport()->repaint();
        scrolls.push_back(ms(t));
    }
    f.scroll = median(scrolls);
    return f;
}

Figures plain(const QString& text, bool wrap, int keystrokes)
{
    Figures f;
    QPlainTextEdit edit;
    edit.setFont(CodeTextView::defaultFont());
    edit.setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    edit.resize(1000, 700);
    edit.show();
    QApplication::processEvents();
    QElapsedTimer t;
    t.start();
    edit.setPlainText(text);
    edit.viewport()->repaint();
    f.set = ms(t);
    std::vector<double> keys;
    for (int i = 0; i < keystrokes; ++i) {
        QTextCursor c(edit.document());
        c.setPosition(int(text.size() / 7 * (1 + i % 6) + i));
        edit.setTextCursor(c);
        edit.ensureCursorVisible();
        edit.viewport()->repaint();
        t.restart();
        key(&edit, Qt::Key_X, QStringLiteral("x"));
        edit.viewport()->repaint();
        keys.push_back(ms(t));
    }
    f.keyMedian = median(keys);
    f.keyMax = keys.empty() ? 0 : *std::max_element(keys.begin(), keys.end());
    std::vector<double> scrolls;
    for (int i = 0; i < 30; ++i) {
        t.restart();
        edit.verticalScrollBar()->setValue(edit.verticalScrollBar()->value() + 3);
        edit.viewport()->repaint();
        scrolls.push_back(ms(t));
    }
    f.scroll = median(scrolls);
    return f;
}

void print(const char* who, const char* what, const QString& text, const Figures& f, bool memory)
{
    const qsizetype lines = text.count(QLatin1Char('\n')) + 1;
    std::printf("%-15s %-28s %9.1f MB %9lld lines  set+paint %9.1f ms  key median %8.2f ms max %8.2f ms  scroll %6.2f ms",
        who, what, text.size() / 1e6, (long long)lines, f.set, f.keyMedian, f.keyMax, f.scroll);
    if (memory)
        std::printf("  memory %.2f B/char + 8/line", double(f.memory - 8 * lines) / double(std::max<qsizetype>(1, text.size())));
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool skipBaseline = app.arguments().contains(QStringLiteral("--no-baseline"));
    std::printf("Targets (CodeTextView): 20 MB short lines < 300 ms; 10 MB one line < 100 ms; key < 5 ms; scroll < 8 ms; memory < 3 B/char + 8/line\n\n");

    std::printf("Growth, CodeTextView (wrap on):\n");
    for (qsizetype mb : {1, 5, 20}) {
        const QString s = shortLines(mb * 1'000'000);
        print("CodeTextView", "short lines", s, ours(s, true, 40), true);
    }
    for (qsizetype mb : {1, 5, 10}) {
        const QString s = oneLine(mb * 1'000'000);
        print("CodeTextView", "one line", s, ours(s, true, 40), true);
    }
    std::printf("\nNo wrap, CodeTextView:\n");
    print("CodeTextView", "short lines", shortLines(20'000'000), ours(shortLines(20'000'000), false, 40), true);
    print("CodeTextView", "one line", oneLine(10'000'000), ours(oneLine(10'000'000), false, 40), true);

    if (!skipBaseline) {
        // The baseline needs seconds per keystroke on long lines, so it gets smaller inputs and
        // fewer keystrokes here; its growth shows from the two sizes.
        std::printf("\nBaseline QPlainTextEdit (wrap on), smaller inputs:\n");
        for (qsizetype kb : {500, 2000}) {
            const QString s = shortLines(kb * 1000);
            print("QPlainTextEdit", "short lines", s, plain(s, true, 5), false);
        }
        for (qsizetype kb : {100, 1000}) {
            const QString s = oneLine(kb * 1000);
            print("QPlainTextEdit", "one line", s, plain(s, true, 3), false);
        }
        std::printf("\nSame inputs, CodeTextView:\n");
        for (qsizetype kb : {500, 2000}) {
            const QString s = shortLines(kb * 1000);
            print("CodeTextView", "short lines", s, ours(s, true, 5), true);
        }
        for (qsizetype kb : {100, 1000}) {
            const QString s = oneLine(kb * 1000);
            print("CodeTextView", "one line", s, ours(s, true, 3), true);
        }
    }
    return 0;
}
