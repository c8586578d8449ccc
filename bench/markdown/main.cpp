// Markdown to HTML on the real corpus (a programming book's Markdown, cut and repeated) and on
// generated documents of 1 to 100 MB, beside md4c and cmark-gfm (tables, strikethrough,
// autolinks, task lists) on the same bytes. Ours is what opening the file runs in the tool: the
// bytes decoded as the file loader does, then the view model's step that makes the document (line
// breaks, the HTML the preview is given, its byte count, the lines and words of the footer); the
// preview takes the HTML as the string made, so nothing is encoded after. Ours runs pinned to one
// CPU and on all of them, the peers on one. Each run is a fresh copy of this program that reads
// the input and times one call: the first of the process, or, warm, the second after an untimed
// first. A fresh program rather than a fork: a forked child would start from this parent's heap,
// whose leftovers serve some sizes of allocation from memory already paged in and not others.
//
// Usage: bench-markdown
//        bench-markdown --child ours|md4c|cmark first|warm <file>   (one run, for the parent)

#include "kit/TextFileLoader.h"
#include "tools/markdown/MarkdownToolViewModel.h"
#include "support/Corpus.h"
#include "support/Machine.h"
#include "support/SelfRun.h"
#include "support/Series.h"
#include "support/Targets.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <time.h>

extern "C" int md_html(const char* input, unsigned inputSize, void (*processOutput)(const char*, unsigned, void*),
                       void* userdata, unsigned parserFlags, unsigned rendererFlags);

namespace {

using namespace bench;

// md4c's HTML renderer (its header is not installed here): tables, strikethrough, task lists
// and permissive autolinks, as the GitHub dialect sets them.
constexpr unsigned kMd4cGithubDialect = 0x0004 | 0x0008 | 0x0400 | 0x0100 | 0x0200 | 0x0800;

// The same extensions on cmark-gfm's side.
const char* const kCmarkExtensions[] = {"table", "strikethrough", "autolink", "tasklist"};

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

// What a call made, kept until its time is taken: the tool keeps the document it opens, and a
// result's release is no part of the conversion, for any side.
struct Made {
    MarkdownToolViewModel::Document document;
    QByteArray bytes;
    char* html = nullptr;
    cmark_node* tree = nullptr;
    cmark_parser* parser = nullptr;
    Made() = default;
    Made(const Made&) = delete;
    Made& operator=(const Made&) = delete;
    ~Made()
    {
        std::free(html);
        if (tree)
            cmark_node_free(tree);
        if (parser)
            cmark_parser_free(parser);
    }
};

// Ours as the tool runs it on an open: the bytes decoded as the file loader decodes them (a
// leading byte-order mark dropped), then the view model's document made of the text.
qint64 oursOpen(const QByteArray& bytes, Made& made)
{
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF"))
        view = view.sliced(3);
    made.document = MarkdownToolViewModel::openedDocument(TextFileLoader::decodeUTF8Repairing(view));
    return made.document.rendering.htmlByteCount;
}

qint64 cmarkConvert(const QByteArray& bytes, Made& made)
{
    cmark_gfm_core_extensions_ensure_registered();
    made.parser = cmark_parser_new(CMARK_OPT_DEFAULT);
    for (const char* name : kCmarkExtensions)
        if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name))
            cmark_parser_attach_syntax_extension(made.parser, extension);
    cmark_parser_feed(made.parser, bytes.constData(), size_t(bytes.size()));
    made.tree = cmark_parser_finish(made.parser);
    made.html = cmark_render_html(made.tree, CMARK_OPT_DEFAULT, cmark_parser_get_syntax_extensions(made.parser));
    return qint64(std::strlen(made.html));
}

void appendOutput(const char* text, unsigned size, void* userdata)
{
    static_cast<QByteArray*>(userdata)->append(text, qsizetype(size));
}

qint64 md4cConvert(const QByteArray& bytes, Made& made)
{
    made.bytes.reserve(bytes.size() + bytes.size() / 4);
    md_html(bytes.constData(), unsigned(bytes.size()), appendOutput, &made.bytes, kMd4cGithubDialect, 0);
    return made.bytes.size();
}

// One run in a child: the input read, then one call timed, the first of the process or the
// second (warm: code, caches, the allocator and the pool's threads warm; the first call's result
// released before). What the call made is released after its time is taken.
int childMain(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return 2;
    const QString side = args[2];
    const bool warm = args[3] == QLatin1String("warm");
    QFile file(args[4]);
    if (!file.open(QIODevice::ReadOnly))
        return 3;
    const QByteArray bytes = file.readAll();
    qint64 (*work)(const QByteArray&, Made&) = nullptr;
    if (side == QLatin1String("ours"))
        work = oursOpen;
    else if (side == QLatin1String("md4c"))
        work = md4cConvert;
    else if (side == QLatin1String("cmark"))
        work = cmarkConvert;
    else
        return 2;
    if (warm) {
        Made first;
        if (work(bytes, first) < 0)
            return 4;
    }
    Made made;
    const double startMB = resetPeakMemory();
    const double wall0 = nowMs(CLOCK_MONOTONIC), cpu0 = nowMs(CLOCK_PROCESS_CPUTIME_ID);
    const qint64 out = work(bytes, made);
    const double cpu = nowMs(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    const double wall = nowMs(CLOCK_MONOTONIC) - wall0;
    if (out < 0)
        return 4;
    report(QStringLiteral("wall ms"), wall);
    report(QStringLiteral("cpu ms"), cpu);
    report(QStringLiteral("peak MB"), peakResidentMB() - startMB);
    report(QStringLiteral("out bytes"), double(out));
    return 0;
}

// A run of one side in a fresh copy of this program, as the child timed it.
Sample runChild(Cores cores, const char* side, bool warm, const QString& path)
{
    std::vector<Figures> figures;
    const Sample whole = runSelf(cores, {QStringLiteral("--child"), QLatin1String(side), warm ? QStringLiteral("warm") : QStringLiteral("first"), path}, figures);
    const Figures& f = figures.back();
    Sample s;
    if (!whole.ok || !f.contains(QStringLiteral("wall ms")))
        return s;
    s.wallMs = f.value(QStringLiteral("wall ms"));
    s.cpuMs = f.value(QStringLiteral("cpu ms"));
    s.peakMB = f.value(QStringLiteral("peak MB"));
    s.outBytes = qint64(f.value(QStringLiteral("out bytes")));
    s.ok = true;
    return s;
}

// The sides of a case, in this order.
enum SideIndex { oursOneFirst, oursAllFirst, md4cFirst, oursOneWarm, oursAllWarm, md4cWarm, cmarkFirst };

// cmark-gfm takes seconds a run from some tens of megabytes on; it is no target, so it is left out there.
constexpr qsizetype cmarkLargest = 20 << 20;

std::vector<Side> sidesFor(const QString& path, qsizetype size)
{
    std::vector<Side> sides{
        {"ours, 1 core", [=] { return runChild(Cores::one, "ours", false, path); }},
        {"ours, all cores", [=] { return runChild(Cores::all, "ours", false, path); }},
        {"md4c", [=] { return runChild(Cores::one, "md4c", false, path); }},
        {"ours, 1 core, warm", [=] { return runChild(Cores::one, "ours", true, path); }},
        {"ours, all cores, warm", [=] { return runChild(Cores::all, "ours", true, path); }},
        {"md4c, warm", [=] { return runChild(Cores::one, "md4c", true, path); }},
    };
    if (size <= cmarkLargest)
        sides.push_back({"cmark-gfm", [=] { return runChild(Cores::one, "cmark", false, path); }});
    return sides;
}

// The pathological documents: ours on one core beside both peers, first calls.
std::vector<Side> pathologicalSides(const QString& path)
{
    return {{"ours, 1 core", [=] { return runChild(Cores::one, "ours", false, path); }},
            {"md4c", [=] { return runChild(Cores::one, "md4c", false, path); }},
            {"cmark-gfm", [=] { return runChild(Cores::one, "cmark", false, path); }}};
}

QString times(double v) { return v < 0 ? QStringLiteral("n/a") : QStringLiteral("%1x").arg(v, 0, 'f', 2); }

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--child")
        return childMain(argc, argv);
    // The parent only writes the inputs and starts children.
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    int written = 0;
    auto writeInput = [&](const QByteArray& bytes) {
        const QString path = tmp.filePath(QStringLiteral("input-%1.md").arg(++written));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    };
    printMachine("bench-markdown");
    std::printf("ours = the file's bytes decoded as the tool's file loader does, then MarkdownToolViewModel::openedDocument\n"
                "(the open's step: line breaks, renderMarkdownHTML, the HTML's UTF-8 size, lines and words); md4c 0.4.8\n"
                "md_html with the GitHub dialect's flags; cmark-gfm %s with its table, strikethrough, autolink and\n"
                "tasklist extensions (up to %s). Peers run on one core (they are single-threaded). First call: the\n"
                "first in a fresh process; warm: the second, after an untimed first. What differs: the three dialects\n"
                "disagree on a few constructs, so the HTML sizes differ slightly; the work (parse the whole document,\n"
                "write all of its HTML) is the same.\n\n",
                CMARK_GFM_VERSION_STRING, qPrintable(megabytes(cmarkLargest)));
    const int rounds = roundsWanted();
    Targets targets;

    const QString book = QStringLiteral("markdown/rust-book.md");
    std::vector<Input> inputs;
    inputs.push_back(prefix(book, 1000000));
    inputs.push_back(corpusFile(book));
    inputs.push_back(repeatedTo(book, 10000000));
    const bool haveBook = !inputs[0].isEmpty();
    if (!haveBook)
        std::printf("(no corpus found: set QUORRIX_BENCH_CORPUS; real documents skipped)\n\n");
    for (const int megabytesWanted : {1, 10, 100})
        inputs.push_back(generated(QStringLiteral("%1 MB, 20-word vocabulary").arg(megabytesWanted),
                                   generate(qsizetype(megabytesWanted) << 20, 7).toUtf8()));

    struct Result {
        QString name;
        qint64 bytes = 0;
        std::vector<Series> series;
    };
    std::vector<Result> results;
    for (const Input& input : inputs) {
        if (input.isEmpty()) {
            results.push_back({});
            continue;
        }
        std::vector<Series> series = interleave(sidesFor(writeInput(input.bytes), input.bytes.size()), rounds);
        printCase(input.name, input.bytes.size(), series);
        std::printf("  ours / md4c, first call: 1 core %s, all cores %s; warm: 1 core %s, all cores %s (above 1: ours faster)\n",
                    qPrintable(times(speedup(series[oursOneFirst], series[md4cFirst]))),
                    qPrintable(times(speedup(series[oursAllFirst], series[md4cFirst]))),
                    qPrintable(times(speedup(series[oursOneWarm], series[md4cWarm]))),
                    qPrintable(times(speedup(series[oursAllWarm], series[md4cWarm]))));
        if (series.size() > cmarkFirst)
            std::printf("  ours / cmark-gfm, first call: 1 core %s, all cores %s\n",
                        qPrintable(times(speedup(series[oursOneFirst], series[cmarkFirst]))),
                        qPrintable(times(speedup(series[oursAllFirst], series[cmarkFirst]))));
        std::printf("\n");
        results.push_back({input.name, input.bytes.size(), std::move(series)});
    }

    // Every document, first call and warm: one core at least md4c's throughput; all cores never
    // slower than one, and from the whole book (2.8 MB) on at least twice md4c's; every run of
    // ours within 1.5 times its median.
    QStringList oneCore, allCores, allOverOne, steady;
    bool oneCoreMet = true, allCoresMet = true, allOverOneMet = true, steadyMet = true;
    constexpr qint64 twiceFrom = 2700000;
    for (const Result& result : results) {
        if (result.series.empty())
            continue;
        const std::vector<Series>& s = result.series;
        const QString size = megabytes(result.bytes);
        for (const bool warm : {false, true}) {
            const Series& one = s[warm ? oursOneWarm : oursOneFirst];
            const Series& all = s[warm ? oursAllWarm : oursAllFirst];
            const Series& peer = s[warm ? md4cWarm : md4cFirst];
            const QString when = warm ? QStringLiteral("warm") : QStringLiteral("first");
            const double oneRatio = speedup(one, peer);
            const double allRatio = speedup(all, peer);
            oneCoreMet = oneCoreMet && oneRatio >= 1;
            oneCore << QStringLiteral("%1 %2 %3").arg(size, when, times(oneRatio));
            if (result.bytes >= twiceFrom) {
                allCoresMet = allCoresMet && allRatio >= 2;
                allCores << QStringLiteral("%1 %2 %3").arg(size, when, times(allRatio));
            }
            const bool notSlower = all.ok() && one.ok() && all.medianMs() <= one.medianMs();
            allOverOneMet = allOverOneMet && notSlower;
            allOverOne << QStringLiteral("%1 %2 %3").arg(size, when, times(speedup(all, one)));
            for (const Series* ours : {&one, &all}) {
                const double spread = ours->ok() && ours->medianMs() > 0 ? ours->maxMs() / ours->medianMs() : -1;
                if (spread < 0 || spread > 1.5) {
                    steadyMet = false;
                    steady << QStringLiteral("%1: %2 at %3").arg(ours->name, times(spread), size);
                }
            }
        }
    }
    if (!results.empty()) {
        targets.check(QStringLiteral("1 core at least md4c's throughput, every document, first call and warm"), oneCoreMet,
                      oneCore.join(QStringLiteral(", ")));
        targets.check(QStringLiteral("all cores at least 2x md4c's throughput from %1 on").arg(megabytes(twiceFrom)), allCoresMet,
                      allCores.join(QStringLiteral(", ")));
        targets.check(QStringLiteral("all cores never slower than 1 core (1 core time / all cores time)"), allOverOneMet,
                      allOverOne.join(QStringLiteral(", ")));
        targets.check(QStringLiteral("ours steady: slowest run at most 1.5x the median"), steadyMet,
                      steady.isEmpty() ? QStringLiteral("every run of ours") : steady.join(QStringLiteral(", ")));
    }

    // Growth: the time per byte of the book repeated to 10 MB over that of the book once, the same
    // text (its first megabyte alone is not: it costs more per byte than the rest); at most 1.1 is
    // "10 MB costs at most 11 times 1 MB".
    auto perByteGrowth = [&](size_t side) {
        return growth(results[1].series[side], results[1].bytes, results[2].series[side], results[2].bytes);
    };
    if (haveBook) {
        for (const size_t where : {size_t(oursOneFirst), size_t(oursAllFirst)}) {
            const double oursGrowth = perByteGrowth(where);
            const double md4cGrowth = perByteGrowth(md4cFirst);
            const QString detail = QStringLiteral("time per MB at %1 over that at %2: %3 (md4c %4)")
                                       .arg(megabytes(results[2].bytes), megabytes(results[1].bytes))
                                       .arg(oursGrowth, 0, 'f', 2).arg(md4cGrowth, 0, 'f', 2);
            if (where == oursOneFirst)
                targets.check(QStringLiteral("linear growth on 1 core, 10 MB at most 11x 1 MB"), oursGrowth >= 0 && oursGrowth <= 1.1, detail);
            else
                std::printf("  all cores, %s\n", qPrintable(detail));
        }
    }
    std::printf("\n");

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
    std::printf("\nPathological documents, median of %d runs, ms (ours on 1 core):\n", rounds);
    std::printf("%-20s %10s %10s %10s %10s\n", "document", "bytes", "ours", "md4c", "cmark-gfm");
    bool pathologicalFast = true;
    for (const Case& c : cases) {
        const QByteArray bytes = c.text.toUtf8();
        const std::vector<Series> s = interleave(pathologicalSides(writeInput(bytes)), rounds);
        pathologicalFast = pathologicalFast && s[0].ok() && s[0].medianMs() < 100;
        std::printf("%-20s %10lld %10.2f %10.2f %10.2f\n", c.name, (long long)bytes.size(), s[0].medianMs(), s[1].medianMs(),
                    s[2].medianMs());
    }
    targets.check(QStringLiteral("every pathological document under 100 ms"), pathologicalFast, QStringLiteral("ours on 1 core"));
    printLoadAtEnd();
    return targets.finish();
}
