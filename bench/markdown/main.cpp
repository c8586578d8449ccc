// Throughput of the Markdown converter on generated documents of 100 KB, 1 MB and 10 MB (prose,
// lists, tables, code, links) and on pathological inputs, side by side with the cmark and md4c
// libraries in this process on the same bytes: every side goes from the document's UTF-8 bytes
// to the HTML's UTF-8 bytes. Growth is the time for 10 MB over the time for 1 MB.

#include "tools/markdown/MarkdownHTML.h"

#include <cmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int md_html(const char* input, unsigned inputSize, void (*processOutput)(const char*, unsigned, void*),
                       void* userdata, unsigned parserFlags, unsigned rendererFlags);

namespace {

// md4c's HTML renderer (its header is not installed here): tables, strikethrough, task lists
// and permissive autolinks, as the GitHub dialect sets them.
constexpr unsigned kMd4cGithubDialect = 0x0004 | 0x0008 | 0x0400 | 0x0100 | 0x0200 | 0x0800;

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

using Converter = qsizetype (*)(const QByteArray& bytes);

// Ours: decode, convert and encode, a large document's parts side by side.
qsizetype oursConvert(const QByteArray& bytes)
{
    return renderMarkdownHTMLUtf8(bytes).size();
}

// The same in three steps through the text the tool holds.
QByteArray oursInSteps(const QByteArray& bytes)
{
    return renderMarkdownHTML(QString::fromUtf8(bytes)).toUtf8();
}

qsizetype cmarkConvert(const QByteArray& bytes)
{
    char* html = cmark_markdown_to_html(bytes.constData(), size_t(bytes.size()), CMARK_OPT_DEFAULT);
    const qsizetype size = qsizetype(std::strlen(html));
    std::free(html);
    return size;
}

void appendOutput(const char* text, unsigned size, void* userdata)
{
    static_cast<QByteArray*>(userdata)->append(text, qsizetype(size));
}

qsizetype md4cConvert(const QByteArray& bytes)
{
    QByteArray html;
    html.reserve(bytes.size() + bytes.size() / 4);
    md_html(bytes.constData(), unsigned(bytes.size()), appendOutput, &html, kMd4cGithubDialect, 0);
    return html.size();
}

double best(Converter convert, const QByteArray& bytes, int runs)
{
    double best = 1e300;
    qsizetype sink = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        sink += convert(bytes);
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    if (sink == 42)
        std::puts("");
    return best;
}

double mbPerSecond(qint64 bytes, double ms) { return ms > 0 ? bytes / 1e6 / (ms / 1e3) : 0; }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bool allMet = true;
    auto verdict = [&allMet](bool met) {
        allMet = allMet && met;
        return met ? "met" : "NOT MET";
    };

    std::printf("In process, from the document's UTF-8 bytes to the HTML's UTF-8 bytes; best of several runs.\n"
                "ours = renderMarkdownHTMLUtf8 (decode, convert, encode); cmark %s (CommonMark);\n"
                "md4c 0.4.8 md_html with the GitHub dialect's flags.\n\n",
                CMARK_VERSION_STRING);
    std::printf("%-10s %10s %9s %9s %9s %9s %9s %9s %10s %10s %9s\n", "document", "bytes", "ours ms", "MB/s", "cmark ms",
                "MB/s", "md4c ms", "MB/s", "vs cmark", "vs md4c", "steps ms");
    struct Size {
        const char* name;
        qsizetype units;
        int runs;
    };
    const Size sizes[] = {{"100 KB", 100 * 1024, 20}, {"1 MB", 1024 * 1024, 20}, {"10 MB", 10 * 1024 * 1024, 6}};
    bool sameRoutes = true;
    double ours1 = 0, ours10 = 0, cmark1 = 0, cmark10 = 0, md4c1 = 0, md4c10 = 0, worstVsMd4c = 1e300;
    for (const Size& size : sizes) {
        const QByteArray bytes = generate(size.units, 7).toUtf8();
        // Interleaved, so that the machine's moods hit every side alike.
        double ours = 1e300, cmark = 1e300, md4c = 1e300, steps = 1e300;
        for (int round = 0; round < 3; ++round) {
            ours = std::min(ours, best(oursConvert, bytes, size.runs / 3 + 1));
            steps = std::min(steps, best([](const QByteArray& b) { return oursInSteps(b).size(); }, bytes, size.runs / 3 + 1));
            cmark = std::min(cmark, best(cmarkConvert, bytes, size.runs / 3 + 1));
            md4c = std::min(md4c, best(md4cConvert, bytes, size.runs / 3 + 1));
        }
        const double vsCmark = cmark / ours, vsMd4c = md4c / ours;
        std::printf("%-10s %10lld %9.2f %9.1f %9.2f %9.1f %9.2f %9.1f %9.2fx %9.2fx %9.2f\n", size.name,
                    (long long)bytes.size(), ours, mbPerSecond(bytes.size(), ours), cmark, mbPerSecond(bytes.size(), cmark),
                    md4c, mbPerSecond(bytes.size(), md4c), vsCmark, vsMd4c, steps);
        sameRoutes = sameRoutes && renderMarkdownHTMLUtf8(bytes) == oursInSteps(bytes);
        if (size.units >= 1024 * 1024)
            worstVsMd4c = std::min(worstVsMd4c, vsMd4c);
        if (size.units == 1024 * 1024) {
            ours1 = ours;
            cmark1 = cmark;
            md4c1 = md4c;
        } else if (size.units == 10 * 1024 * 1024) {
            ours10 = ours;
            cmark10 = cmark;
            md4c10 = md4c;
        }
    }
    std::printf("(vs: our throughput over the peer's; above 1 = ours is faster; steps: QString::fromUtf8,\n"
                " renderMarkdownHTML and QString::toUtf8 one after another, the route of the text the tool holds)\n\n");

    // A large document is rendered in parts side by side: the result must be what rendering
    // it in one piece gives, also when fences, lists and quotes run across blank lines before
    // headings.
    bool same = true;
    for (quint32 seed = 1; seed <= 6; ++seed) {
        QString text = generate(2 * 1024 * 1024, seed);
        if (seed % 2 == 0)
            text.replace(QStringLiteral("\n\n## Section 1"), QStringLiteral("\n```\n\n## Section 1"));
        if (seed % 3 == 0)
            text.replace(QStringLiteral("\n\n## Section 2"), QStringLiteral("\n- item\n\n  ## Section 2"));
        const QStringView all(text);
        QList<QStringView> lines;
        for (const QStringView line : all.split(u'\n'))
            lines.append(line);
        MarkdownOutput whole;
        MarkdownHTML::renderBlocks(lines, 0, 0, whole);
        same = same && renderMarkdownHTML(text) == whole.view();
    }
    std::printf("parts rendered side by side equal the one-piece rendering: %s\n\n", verdict(same));

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
    std::printf("%-20s %10s %10s %10s %10s %10s\n", "pathological", "bytes", "ours ms", "cmark ms", "md4c ms", "< 100 ms");
    for (const Case& c : cases) {
        const QByteArray bytes = c.text.toUtf8();
        const double ours = best(oursConvert, bytes, 3);
        sameRoutes = sameRoutes && renderMarkdownHTMLUtf8(bytes) == oursInSteps(bytes);
        std::printf("%-20s %10lld %10.2f %10.2f %10.2f %10s\n", c.name, (long long)bytes.size(), ours,
                    best(cmarkConvert, bytes, 3), best(md4cConvert, bytes, 3), verdict(ours < 100));
    }

    std::printf("\nUTF-8 in one call equals the three steps on every document: %s\n", verdict(sameRoutes));

    const double growth = ours1 > 0 ? ours10 / ours1 : 0;
    std::printf("\ngrowth 10 MB / 1 MB: ours %.2f, cmark %.2f, md4c %.2f\n", growth, cmark1 > 0 ? cmark10 / cmark1 : 0.0,
                md4c1 > 0 ? md4c10 / md4c1 : 0.0);
    std::printf("\ntargets:\n");
    std::printf("  1 MB in under 20 ms: %.2f ms, %s\n", ours1, verdict(ours1 < 20));
    std::printf("  growth under 12: %.2f, %s\n", growth, verdict(growth < 12));
    std::printf("  at least md4c's throughput at 1 MB and 10 MB: worst %.2fx, %s\n", worstVsMd4c, verdict(worstVsMd4c >= 1));
    return allMet ? 0 : 1;
}
