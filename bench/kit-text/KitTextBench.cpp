// Two figures of the editors' text, each beside peers doing the same work in the same run:
//  1. Scrolling one long wrapped paragraph in the small editors (CodeTextView): the cost of one
//     scroll step and repaint, beside QPlainTextEdit doing the same, and beside laying the whole
//     paragraph out anew per frame (what a redraw would cost if it re-laid the paragraph).
//  2. Line counting (LF, CR and CR LF once each) beside a plain count of line feeds and wc -l.
// Both for growing input, generated and real, so growth is visible. Every run is a child process
// of its own; those with widgets make their application after the fork.

#include "kit/TextHelpers.h"
#include "kit/ui/CodeTextView.h"
#include "support/Corpus.h"
#include "support/Machine.h"
#include "support/Series.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextLayout>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using namespace bench;

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

// A real document's prose as one paragraph: its line breaks become spaces.
QString joinedParagraph(const QByteArray& bytes, qsizetype characters)
{
    QString text = QString::fromUtf8(bytes).left(characters);
    text.replace(u'\r', u' ').replace(u'\n', u' ');
    return text;
}

std::unique_ptr<QApplication> makeApplication()
{
    static int argc = 1;
    static char name[] = "bench-kit-text";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QApplication>(argc, argv);
}

QFont benchFont()
{
    QFont font = QApplication::font();
    font.setPixelSize(13);
    return font;
}

template <class View>
double scrollFrames(View& view, int frames)
{
    QScrollBar* bar = view.verticalScrollBar();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < frames; ++i) {
        bar->setValue(int(qint64(bar->maximum()) * i / frames));
        view.viewport()->repaint();
    }
    return double(timer.nsecsElapsed()) / 1000.0 / frames;
}

enum class Scroller { ours, plain, relayout };

// What a scrolling child reports beside its Sample: microseconds per frame.
struct Frames {
    double micros = -1;
};

qint64 scrollChild(Scroller who, const QString& text, int frames, Frames& report)
{
    auto app = makeApplication();
    const QFont font = benchFont();
    if (who == Scroller::relayout) {
        // The width QPlainTextEdit's viewport leaves at 400 px with its scroll bar, less its
        // document margins.
        QPlainTextEdit sizing;
        sizing.setFont(font);
        sizing.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        sizing.resize(400, 300);
        sizing.show();
        QCoreApplication::processEvents();
        const qreal width = sizing.viewport()->width() - 8;
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
        report.micros = double(timer.nsecsElapsed()) / 1000.0 / frames;
        return text.size();
    }
    auto run = [&](auto& view) {
        view.setFont(font);
        view.resize(400, 300);
        view.show();
        QCoreApplication::processEvents();
        scrollFrames(view, 3); // warm-up
        report.micros = scrollFrames(view, frames);
        return view.verticalScrollBar()->maximum() > 0 ? qint64(text.size()) : qint64(-1);
    };
    if (who == Scroller::plain) {
        QPlainTextEdit editor;
        editor.setPlainText(text);
        return run(editor);
    }
    CodeTextView view;
    view.setWrapEnabled(true);
    view.setText(text);
    return run(view);
}

double medianOf(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

QString spread(const std::vector<double>& v)
{
    if (v.empty())
        return QStringLiteral("n/a");
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return QStringLiteral("%1 (%2-%3)").arg(medianOf(v), 0, 'f', 1).arg(*lo, 0, 'f', 1).arg(*hi, 0, 'f', 1);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QString times(double v) { return v < 0 ? QStringLiteral("n/a") : QStringLiteral("%1x").arg(v, 0, 'f', 2); }

} // namespace

int main(int argc, char* argv[])
{
    (void)argc;
    (void)argv;
    // No application object here: the children with widgets make theirs after the fork.
    prepareHeadless();
    // The book's few characters in scripts no installed font shapes fully would warn once per
    // font and child.
    qputenv("QT_LOGGING_RULES", "qt.qpa.fonts.warning=false");
    printMachine("bench-kit-text");
    const int rounds = roundsWanted();

    std::printf("== Scrolling one wrapped paragraph (per frame: scroll step + repaint, 400x300 view, 13 px font)\n"
                "ours = CodeTextView, wrap on; QPlainTextEdit = the same text, size and font; relayout = a QTextLayout of\n"
                "  the whole paragraph made anew per frame at the same width, nothing painted. Run = the whole child\n"
                "  (application, view, text, 3 frames to warm, then the frames timed); per frame = the timed frames.\n"
                "  QPlainTextEdit and relayout stop at 10,000 lines: past that one of their frames takes about half\n"
                "  a second, too long to repeat.\n\n");
    struct Paragraph {
        QString name;
        QString text;
        bool peers;
    };
    std::vector<Paragraph> paragraphs;
    for (int lines : {200, 1000, 10000, 40000})
        paragraphs.push_back({QStringLiteral("generated, %1 wrapped lines").arg(lines), paragraphOfLines(lines), lines <= 10000});
    const Input book = corpusFile(QStringLiteral("markdown/rust-book.md"));
    if (book.isEmpty())
        std::printf("(no corpus found: set QUORRIX_BENCH_CORPUS; the real paragraph skipped)\n\n");
    else
        paragraphs.push_back({QStringLiteral("rust-book.md, its first 62,000 characters joined into one paragraph"),
                              joinedParagraph(book.bytes, 62000), true});

    Frames& frames = sharedWithChildren<Frames>();
    double firstOurs = -1, lastOurs = -1, firstPlain = -1, lastPlain = -1;
    for (const Paragraph& p : paragraphs) {
        const bool large = p.text.size() > 1000000;
        std::vector<double> perFrame[4];
        auto side = [&](const char* name, Scroller who, Cores cores, int slot, int count) {
            return Side{name, [&, who, cores, slot, count] {
                            frames = Frames{};
                            const Sample s = runForked(cores, [&] { return scrollChild(who, p.text, count, frames); });
                            if (s.ok)
                                perFrame[slot].push_back(frames.micros);
                            return s;
                        }};
        };
        const bool long_ = p.text.size() > 300000;
        std::vector<Side> sides{side("ours, 1 core", Scroller::ours, Cores::one, 0, large ? 20 : 30),
                                side("ours, all cores", Scroller::ours, Cores::all, 1, large ? 20 : 30)};
        if (p.peers) {
            sides.push_back(side("QPlainTextEdit", Scroller::plain, Cores::one, 2, long_ ? 10 : 30));
            sides.push_back(side("relayout", Scroller::relayout, Cores::one, 3, long_ ? 1 : 5));
        }
        const std::vector<Series> s = interleave(sides, rounds);
        printCase(QStringLiteral("%1 (%2 characters)").arg(p.name).arg(p.text.size()), 0, s);
        std::printf("  us per frame: ours 1 core %s, all cores %s", qPrintable(spread(perFrame[0])), qPrintable(spread(perFrame[1])));
        if (p.peers)
            std::printf("; QPlainTextEdit %s; relayout %s", qPrintable(spread(perFrame[2])), qPrintable(spread(perFrame[3])));
        std::printf("\n");
        if (p.peers)
            std::printf("  QPlainTextEdit / ours per frame, 1 core: %s (above 1: ours faster)\n",
                        qPrintable(times(medianOf(perFrame[0]) > 0 ? medianOf(perFrame[2]) / medianOf(perFrame[0]) : -1)));
        std::printf("\n");
        if (p.name.startsWith(u"generated")) {
            if (firstOurs < 0)
                firstOurs = medianOf(perFrame[0]), firstPlain = medianOf(perFrame[2]);
            lastOurs = medianOf(perFrame[0]);
            if (p.peers)
                lastPlain = medianOf(perFrame[2]);
        }
    }
    std::printf("Growth of a frame, 1 core: ours x%.1f from 200 to 40,000 lines; QPlainTextEdit x%.1f from 200 to 10,000\n\n",
                firstOurs > 0 ? lastOurs / firstOurs : -1.0, firstPlain > 0 ? lastPlain / firstPlain : -1.0);

    std::printf("== Line counting (LF, CR, CR LF once each)\n"
                "ours = TextHelpers::lineCount over the text in memory (UTF-16); count = QString::count(u'\\n') over the\n"
                "  same text (line feeds only); wc -l = a process over the text's UTF-8 file (line feeds only, start-up\n"
                "  and reading included; its peak includes this process's share at the fork, named as an empty\n"
                "  program's peak with each case). Run = one count in a child.\n\n");
    QTemporaryDir tmp;
    const QString file = tmp.filePath(QStringLiteral("text"));
    std::vector<Input> texts;
    for (int mb : {1, 10, 50}) {
        QByteArray text;
        const QByteArray line = "{\"key\": \"value\", \"n\": 12345},\r\n";
        text.reserve(mb * 1048576 + line.size());
        while (text.size() < mb * 1048576)
            text += line;
        texts.push_back(generated(QStringLiteral("%1 MiB of CR LF lines").arg(mb), text));
    }
    if (!book.isEmpty())
        texts.push_back(repeatedTo(QStringLiteral("markdown/rust-book.md"), 10000000));
    const Input tweets = repeatedTo(QStringLiteral("csv/tweets.csv"), 10000000);
    if (!tweets.isEmpty())
        texts.push_back(tweets);
    std::vector<std::pair<qint64, Series>> oursGenerated;
    for (const Input& input : texts) {
        const QString text = QString::fromUtf8(input.bytes);
        writeFile(file, input.bytes);
        const std::vector<Series> s = interleave(
            {{"ours, 1 core", [&] { return runForked(Cores::one, [&] { return qint64(TextHelpers::lineCount(text)); }); }},
             {"ours, all cores", [&] { return runForked(Cores::all, [&] { return qint64(TextHelpers::lineCount(text)); }); }},
             {"count('\\n')", [&] { return runForked(Cores::one, [&] { return qint64(text.count(u'\n')); }); }},
             {"wc -l", [&] { return runProcess(Cores::one, {"wc", "-l", file}); }}},
            rounds);
        printCase(QStringLiteral("%1, %2 lines").arg(input.name).arg(s[0].outBytes()), input.bytes.size(), s);
        std::printf("  count / ours: 1 core %s, all cores %s; wc -l / ours: 1 core %s (above 1: ours faster);\n"
                    "  an empty program's peak here: %.0f MB\n\n",
                    qPrintable(times(speedup(s[0], s[2]))), qPrintable(times(speedup(s[1], s[2]))),
                    qPrintable(times(speedup(s[0], s[3]))), runProcess(Cores::one, {"true"}).peakMB);
        if (input.name.startsWith(u"generated"))
            oursGenerated.push_back({input.bytes.size(), s[0]});
    }
    if (oursGenerated.size() == 3)
        std::printf("Growth per byte, ours on 1 core (1 = linear): 10 MiB over 1 MiB %.2f, 50 MiB over 10 MiB %.2f\n",
                    growth(oursGenerated[0].second, oursGenerated[0].first, oursGenerated[1].second, oursGenerated[1].first),
                    growth(oursGenerated[1].second, oursGenerated[1].first, oursGenerated[2].second, oursGenerated[2].first));
    printLoadAtEnd();
    // It has never checked a target: the figures are comparisons only.
    std::printf("\nTargets: none checked by this program.\n");
    return 0;
}
