// Markdown to HTML, from the document's UTF-8 bytes to the HTML's UTF-8 bytes, on the real
// corpus (a programming book's Markdown, cut and repeated) and on generated documents, beside
// md4c and cmark-gfm (tables, strikethrough, autolinks, task lists) on the same bytes. Ours runs
// pinned to one CPU and on all of them; each run is a child process of its own.

#include "kit/TextFileLoader.h"
#include "formats/Utf8Encoder.h"
#include "tools/markdown/MarkdownHTML.h"
#include "support/Corpus.h"
#include "support/Machine.h"
#include "support/Series.h"
#include "support/Targets.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <QCoreApplication>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// Ours as the tool runs it: the bytes decoded as it opens a file, its converter, the HTML encoded.
qint64 oursConvert(const QByteArray& bytes)
{
    return Utf8Encoder::toUtf8(renderMarkdownHTML(TextFileLoader::decodeUTF8Repairing(bytes))).size();
}

qint64 cmarkConvert(const QByteArray& bytes)
{
    cmark_gfm_core_extensions_ensure_registered();
    cmark_parser* parser = cmark_parser_new(CMARK_OPT_DEFAULT);
    for (const char* name : kCmarkExtensions)
        if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name))
            cmark_parser_attach_syntax_extension(parser, extension);
    cmark_parser_feed(parser, bytes.constData(), size_t(bytes.size()));
    cmark_node* document = cmark_parser_finish(parser);
    char* html = cmark_render_html(document, CMARK_OPT_DEFAULT, cmark_parser_get_syntax_extensions(parser));
    const qint64 size = qint64(std::strlen(html));
    std::free(html);
    cmark_node_free(document);
    cmark_parser_free(parser);
    return size;
}

void appendOutput(const char* text, unsigned size, void* userdata)
{
    static_cast<QByteArray*>(userdata)->append(text, qsizetype(size));
}

qint64 md4cConvert(const QByteArray& bytes)
{
    QByteArray html;
    html.reserve(bytes.size() + bytes.size() / 4);
    md_html(bytes.constData(), unsigned(bytes.size()), appendOutput, &html, kMd4cGithubDialect, 0);
    return html.size();
}

std::vector<Side> sidesFor(const QByteArray& bytes, bool withAllCores = true)
{
    std::vector<Side> sides{{"ours, 1 core", [&bytes] { return runForked(Cores::one, [&] { return oursConvert(bytes); }); }}};
    if (withAllCores)
        sides.push_back({"ours, all cores", [&bytes] { return runForked(Cores::all, [&] { return oursConvert(bytes); }); }});
    sides.push_back({"md4c", [&bytes] { return runForked(Cores::one, [&] { return md4cConvert(bytes); }); }});
    sides.push_back({"cmark-gfm", [&bytes] { return runForked(Cores::one, [&] { return cmarkConvert(bytes); }); }});
    return sides;
}

QString times(double v) { return v < 0 ? QStringLiteral("n/a") : QStringLiteral("%1x").arg(v, 0, 'f', 2); }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    printMachine("bench-markdown");
    std::printf("ours = the file's bytes decoded as the tool opens them, renderMarkdownHTML, the HTML encoded; md4c 0.4.8 md_html with the GitHub dialect's\n"
                "flags; cmark-gfm %s with its table, strikethrough, autolink and tasklist extensions. Peers run on one\n"
                "core (they are single-threaded). What differs: the three dialects disagree on a few constructs, so\n"
                "the HTML sizes differ slightly; the work (parse the whole document, write all of its HTML) is the same.\n\n",
                CMARK_GFM_VERSION_STRING);
    const int rounds = roundsWanted();
    Targets targets;

    const QString book = QStringLiteral("markdown/rust-book.md");
    std::vector<Input> inputs;
    inputs.push_back(prefix(book, 1000000));
    inputs.push_back(corpusFile(book));
    inputs.push_back(repeatedTo(book, 10000000));
    inputs.push_back(generated(QStringLiteral("1 MB, 20-word vocabulary"), generate(1 << 20, 7).toUtf8()));
    inputs.push_back(generated(QStringLiteral("10 MB, 20-word vocabulary"), generate(10 << 20, 7).toUtf8()));
    if (inputs[0].isEmpty())
        std::printf("(no corpus found: set QUORRIX_BENCH_CORPUS; real documents skipped)\n\n");

    struct Result {
        qint64 bytes = 0;
        std::vector<Series> series;
    };
    std::vector<Result> results;
    for (const Input& input : inputs) {
        if (input.isEmpty()) {
            results.push_back({});
            continue;
        }
        std::vector<Series> series = interleave(sidesFor(input.bytes), rounds);
        printCase(input.name, input.bytes.size(), series);
        std::printf("  ours / md4c: 1 core %s, all cores %s; ours / cmark-gfm: 1 core %s, all cores %s (above 1: ours faster)\n\n",
                    qPrintable(times(speedup(series[0], series[2]))), qPrintable(times(speedup(series[1], series[2]))),
                    qPrintable(times(speedup(series[0], series[3]))), qPrintable(times(speedup(series[1], series[3]))));
        results.push_back({input.bytes.size(), std::move(series)});
    }

    // Growth: the time per byte of the book repeated to 10 MB over that of the book once, the same
    // text (its first megabyte alone is not: it costs more per byte than the rest); at most 1.1 is
    // "10 MB costs at most 11 times 1 MB".
    auto perByteGrowth = [&](size_t side) {
        return growth(results[1].series[side], results[1].bytes, results[2].series[side], results[2].bytes);
    };
    if (results[0].bytes > 0 && results[1].bytes > 0 && results[2].bytes > 0) {
        for (int where : {0, 1}) {
            const QString cores = where == 0 ? QStringLiteral("1 core") : QStringLiteral("all cores");
            const double small = speedup(results[0].series[where], results[0].series[2]);
            const double large = speedup(results[2].series[where], results[2].series[2]);
            const double need = where == 0 ? 1 : 2;
            targets.check(QStringLiteral("at least %1 md4c's throughput on %2, real documents").arg(where == 0 ? "1x" : "2x", cores),
                          small >= need && large >= need,
                          QStringLiteral("%1 at %2, %3 at %4").arg(times(small), megabytes(results[0].bytes), times(large),
                                                                    megabytes(results[2].bytes)));
        }
        for (int where : {0, 1}) {
            const double oursGrowth = perByteGrowth(size_t(where));
            const double md4cGrowth = perByteGrowth(2);
            const QString detail = QStringLiteral("time per MB at %1 over that at %2: %3 (md4c %4)")
                                       .arg(megabytes(results[2].bytes), megabytes(results[1].bytes))
                                       .arg(oursGrowth, 0, 'f', 2).arg(md4cGrowth, 0, 'f', 2);
            if (where == 0)
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
        const std::vector<Series> s = interleave(sidesFor(bytes, false), rounds);
        pathologicalFast = pathologicalFast && s[0].ok() && s[0].medianMs() < 100;
        std::printf("%-20s %10lld %10.2f %10.2f %10.2f\n", c.name, (long long)bytes.size(), s[0].medianMs(), s[1].medianMs(),
                    s[2].medianMs());
    }
    targets.check(QStringLiteral("every pathological document under 100 ms"), pathologicalFast, QStringLiteral("ours on 1 core"));
    printLoadAtEnd();
    return targets.finish();
}
