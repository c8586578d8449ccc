// Throughput of the Markdown converter on generated documents of 100 KB, 1 MB and 10 MB (prose,
// lists, tables, code, links) and on pathological inputs, side by side with cmark run as a
// subprocess on the same files. cmark's start-up, measured on an empty file, is reported and
// subtracted. Growth is the time for 10 MB over the time for 1 MB.

#include "tools/markdown/MarkdownHTML.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

const char* const cmarkPath = "/usr/bin/cmark";

QString generate(qsizetype target, quint32 seed)
{
    QRandomGenerator rng(seed);
    const QStringList words{"the", "preview", "follows", "editor", "line", "map", "scroll", "quorrix", "café", "naïve",
                            "markdown", "block", "table", "value", "x<y", "a&b", "snake_case", "übung", "日本語", "text"};
    auto word = [&] { return words[rng.bounded(int(words.size()))]; };
    auto sentence = [&] {
        QString s;
        const int n = 6 + rng.bounded(14);
        for (int k = 0; k < n; ++k) {
            if (k)
                s += u' ';
            switch (rng.bounded(24)) {
            case 0: s += "**" + word() + "**"; break;
            case 1: s += '*' + word() + '*'; break;
            case 2: s += '`' + word() + '`'; break;
            case 3: s += '[' + word() + "](https://example.com/" + word() + ')'; break;
            case 4: s += "https://quorrix.dev/docs/" + word(); break;
            case 5: s += "~~" + word() + "~~"; break;
            case 6: s += "![" + word() + "](img/" + word() + ".png)"; break;
            default: s += word();
            }
        }
        return s + '.';
    };
    QString out;
    out.reserve(target + 4096);
    int section = 0;
    while (out.size() < target) {
        out += "## Section " + QString::number(++section) + "\n\n";
        switch (rng.bounded(6)) {
        case 0:
        case 1:
            for (int k = 0, n = 2 + rng.bounded(4); k < n; ++k)
                out += sentence() + '\n';
            out += '\n';
            break;
        case 2:
            for (int k = 0, n = 3 + rng.bounded(8); k < n; ++k)
                out += QString(2 * rng.bounded(3), u' ') + (rng.bounded(3) ? "- " : "1. ") + (rng.bounded(5) ? "" : "[x] ")
                       + sentence() + '\n';
            out += '\n';
            break;
        case 3:
            out += "| Name | Size | Note |\n|:--|--:|:-:|\n";
            for (int k = 0, n = 3 + rng.bounded(10); k < n; ++k)
                out += "| " + word() + " | " + QString::number(rng.bounded(100000)) + " | " + sentence() + " |\n";
            out += '\n';
            break;
        case 4:
            out += "```cpp\n";
            for (int k = 0, n = 3 + rng.bounded(12); k < n; ++k)
                out += "    if (a < b && c > d) { return \"" + word() + "\"; }\n";
            out += "```\n\n";
            break;
        default:
            for (int k = 0, n = 1 + rng.bounded(4); k < n; ++k)
                out += "> " + sentence() + '\n';
            out += '\n';
        }
    }
    return out;
}

double bestOurs(const QString& text, int runs)
{
    double best = 1e300;
    qsizetype sink = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        const QString html = renderMarkdownHTML(text);
        best = std::min(best, timer.nsecsElapsed() / 1e6);
        sink += html.size();
    }
    if (sink == 42)
        std::puts("");
    return best;
}

// Wall time of one cmark run on the file, output discarded; negative when cmark cannot run.
double cmarkOnce(const QString& path)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(QString::fromLatin1(cmarkPath), {path});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e6;
}

double bestCmark(const QString& path, int runs)
{
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const double t = cmarkOnce(path);
        if (t < 0)
            return -1;
        best = std::min(best, t);
    }
    return best;
}

bool writeFile(const QString& path, const QString& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0;
}

double mbPerSecond(qint64 bytes, double ms) { return ms > 0 ? bytes / 1e6 / (ms / 1e3) : 0; }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    bool allMet = true;
    auto verdict = [&allMet](bool met) {
        allMet = allMet && met;
        return met ? "met" : "NOT MET";
    };

    const QString emptyPath = dir.filePath("empty.md");
    writeFile(emptyPath, QString());
    const double startup = bestCmark(emptyPath, 15);
    const bool haveCmark = startup >= 0;
    std::printf("cmark: %s, start-up on an empty file %.2f ms (subtracted below)\n\n", haveCmark ? cmarkPath : "not found",
                haveCmark ? startup : 0.0);

    std::printf("%-10s %10s %10s %11s %12s %11s %12s %7s\n", "document", "bytes", "ours ms", "ours MB/s", "cmark ms",
                "cmark MB/s", "cmark-net", "ratio");
    struct Size {
        const char* name;
        qsizetype units;
        int runs;
    };
    const Size sizes[] = {{"100 KB", 100 * 1024, 20}, {"1 MB", 1024 * 1024, 20}, {"10 MB", 10 * 1024 * 1024, 6}};
    double ours1 = 0, ours10 = 0, cmark1 = 0, cmark10 = 0, worstRatio = 1e300;
    for (const Size& size : sizes) {
        const QString text = generate(size.units, 7);
        const qint64 bytes = text.toUtf8().size();
        const QString path = dir.filePath(QString::fromLatin1(size.name).remove(' ') + ".md");
        writeFile(path, text);
        const double ours = bestOurs(text, size.runs);
        const double theirs = haveCmark ? bestCmark(path, size.runs) : -1;
        const double net = theirs >= 0 ? std::max(theirs - startup, 0.01) : -1;
        const double ratio = net > 0 ? mbPerSecond(bytes, ours) / mbPerSecond(bytes, net) : 0;
        if (net > 0)
            worstRatio = std::min(worstRatio, ratio);
        std::printf("%-10s %10lld %10.2f %11.1f %12.2f %11.1f %12.1f %7.2f\n", size.name, (long long)bytes, ours,
                    mbPerSecond(bytes, ours), theirs, mbPerSecond(bytes, theirs), mbPerSecond(bytes, net), ratio);
        if (size.units == 1024 * 1024) {
            ours1 = ours;
            cmark1 = net;
        } else if (size.units == 10 * 1024 * 1024) {
            ours10 = ours;
            cmark10 = net;
        }
    }
    std::printf("(ratio: our throughput over cmark's net of start-up)\n\n");

    struct Case {
        const char* name;
        QString text;
    };
    QString nestedQuoteLines;
    for (int k = 1; k <= 10000; ++k)
        nestedQuoteLines += QString(std::min(k, 40), u'>') + " x\n";
    QString deepList;
    for (int k = 0; k < 10000; ++k)
        deepList += QString(k % 200, u' ') + "- item\n";
    const Case cases[] = {
        {"1 MB line of [", QString(1024 * 1024, u'[')},
        {"100,000 *", QString(100000, u'*')},
        {"text + 100,000 *", "a" + QString(100000, u'*')},
        {"10,000 nested >", QString(10000, u'>') + " x"},
        {"10,000 > lines", nestedQuoteLines},
        {"100,000 backticks", "a" + QString(100000, u'`')},
        {"50,000 [a](", QString("[a](").repeated(50000)},
        {"10,000 list levels", deepList},
    };
    std::printf("%-20s %10s %10s %12s %10s\n", "pathological", "bytes", "ours ms", "cmark-net ms", "< 100 ms");
    for (const Case& c : cases) {
        const qint64 bytes = c.text.toUtf8().size();
        const QString path = dir.filePath("case.md");
        writeFile(path, c.text);
        const double ours = bestOurs(c.text, 3);
        const double theirs = haveCmark ? bestCmark(path, 3) : -1;
        std::printf("%-20s %10lld %10.2f %12.2f %10s\n", c.name, (long long)bytes, ours,
                    theirs >= 0 ? std::max(theirs - startup, 0.0) : -1.0, verdict(ours < 100));
    }

    const double growth = ours1 > 0 ? ours10 / ours1 : 0;
    std::printf("\ngrowth 10 MB / 1 MB: ours %.2f, cmark %.2f\n", growth, cmark1 > 0 ? cmark10 / cmark1 : 0.0);
    std::printf("\ntargets:\n");
    std::printf("  1 MB in under 20 ms: %.2f ms, %s\n", ours1, verdict(ours1 < 20));
    std::printf("  growth under 12: %.2f, %s\n", growth, verdict(growth < 12));
    if (haveCmark)
        std::printf("  at least half of cmark's throughput: worst ratio %.2f, %s\n", worstRatio, verdict(worstRatio >= 0.5));
    else
        std::printf("  cmark comparison: cmark not found, %s\n", verdict(false));
    return allMet ? 0 : 1;
}
