// Validate, pretty-print (2 spaces) and minify, from the file's bytes to UTF-8 bytes, on the
// three standard documents of the corpus and on generated ones from 1 to 100 MB, beside RapidJSON
// and simdjson on the same bytes. Ours runs pinned to one CPU and on all of them; each run is a
// child process of its own, timed on its first call and, in other children, on a second call
// after an untimed first.

#include "kit/TextFileLoader.h"
#include "formats/Utf8Encoder.h"
#include "formats/JSONDocument.h"
#include "formats/JSONFormatter.h"
#include "formats/JSONParser.h"
#include "support/Corpus.h"
#include "support/Machine.h"
#include "support/Series.h"
#include "support/Targets.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <time.h>

#define QUORRIX_TEXT(x) #x
#define QUORRIX_STRING(x) QUORRIX_TEXT(x)

namespace {

using namespace bench;

// A realistic document: records as a web service sends them, with text in several scripts and
// emoji (raw and as \u escapes), escaped quotes, line breaks and solidi, coordinates and prices
// as floats of every length, timestamps, nulls and nesting.
QByteArray generateRealistic(qint64 target, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray out;
    out.reserve(target + 8192);
    const char* texts[] = {"Grüße aus Köln, schönes Wetter heute", "Привет, как дела? Всё хорошо",
                           "東京タワーからの眺め、最高でした", "今天的天气非常好，我们去公园散步吧",
                           "서울의 밤은 아름답습니다", "Καλημέρα από την Αθήνα", "مرحبا بكم في الموقع",
                           "Loved it \\ud83d\\ude00 would \\\\ come again", "He said \\\"hi\\\" and left\\nNew line",
                           "Price dropped to 12,50 € 🎉🔥", "naïve café résumé façade", "plain ascii words only here"};
    const char* names[] = {"Jürgen", "Анна", "佐藤", "王芳", "김민준", "Σοφία", "أحمد", "O\\u2019Brien", "Zoë 🌸", "sam_smith"};
    const char* tags[] = {"travel", "café", "東京", "новости", "🎉", "deal\\tnow", "\\u00e9t\\u00e9", "music"};
    auto text = [&] { return QByteArray(texts[rng.bounded(int(std::size(texts)))]); };
    auto name = [&] { return QByteArray(names[rng.bounded(int(std::size(names)))]); };
    auto tag = [&] { return QByteArray(tags[rng.bounded(int(std::size(tags)))]); };
    out += "{\"meta\": {\"source\": \"https:\\/\\/api.example.org\\/v2\\/items\", \"generated\": \"2026-12-09T05:20:00Z\"},\n \"items\": [\n";
    qint64 id = 0;
    while (out.size() < target) {
        if (id)
            out += ",\n";
        out += "  {\"id\": " + QByteArray::number(100000000 + id) + ", \"user\": {\"name\": \"" + name() + "\", ";
        out += "\"verified\": " + QByteArray(rng.bounded(2) ? "true" : "false") + ", \"followers\": "
               + QByteArray::number(rng.bounded(5000000)) + "}, ";
        out += "\"text\": \"" + text() + " " + text() + "\", ";
        out += "\"url\": \"https:\\/\\/example.org\\/p\\/" + QByteArray::number(rng.generate(), 36) + "\", ";
        out += "\"location\": {\"type\": \"Point\", \"coordinates\": ["
               + QByteArray::number(rng.generateDouble() * 360 - 180, 'g', 17) + ", "
               + QByteArray::number(rng.generateDouble() * 180 - 90, 'g', 9) + "]}, ";
        out += "\"price\": " + QByteArray::number(rng.bounded(100000) / 100.0, 'f', 2) + ", \"rating\": "
               + QByteArray::number(rng.generateDouble() * 5, 'g', 3) + ", \"ratio\": "
               + QByteArray::number(rng.generateDouble() / 1e6, 'e', 4) + ", ";
        out += "\"tags\": [";
        const int tags = rng.bounded(5);
        for (int t = 0; t < tags; ++t)
            out += (t ? ", \"" : "\"") + tag() + "\"";
        out += "], \"reply_to\": " + (rng.bounded(3) ? QByteArray("null") : QByteArray::number(rng.bounded(1000000)));
        out += ", \"created\": \"2026-" + QByteArray::number(1 + rng.bounded(12)) + "-" + QByteArray::number(1 + rng.bounded(28))
               + "T12:00:00+01:00\"}";
        ++id;
    }
    out += "\n]}\n";
    return out;
}

// The peer's pretty and compact writers take the reader's events; numbers pass through as
// their text, as ours keeps them.
constexpr unsigned kPeerFlags = rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseValidateEncodingFlag;

enum class Op { validate, pretty, minify };

qint64 rapidRun(Op op, const QByteArray& bytes)
{
    rapidjson::Reader reader;
    rapidjson::StringStream in(bytes.constData());
    if (op == Op::validate) {
        rapidjson::BaseReaderHandler<> handler;
        return reader.Parse<kPeerFlags>(in, handler).IsError() ? -1 : 0;
    }
    rapidjson::StringBuffer buffer;
    bool ok;
    if (op == Op::pretty) {
        rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
        writer.SetIndent(' ', 2);
        ok = !reader.Parse<kPeerFlags>(in, writer).IsError();
    } else {
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        ok = !reader.Parse<kPeerFlags>(in, writer).IsError();
    }
    return ok ? qint64(buffer.GetSize()) : -1;
}

// simdjson has no pretty printer (3.0); its minify here parses (validating) and writes the DOM
// back, so numbers are written again from their binary values.
qint64 simdRun(Op op, const QByteArray& bytes)
{
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (parser.parse(bytes.constData(), size_t(bytes.size()), true).get(root) != simdjson::SUCCESS)
        return -1;
    if (op == Op::validate)
        return 0;
    return qint64(simdjson::minify(root).size());
}

// Thrown by the hand-over of the first output, as the tool's view model does, so that the other
// output is not printed.
struct FirstOutputTaken {};

// Ours, as the tool runs it: the bytes checked as it opens a file (kept as they are when they
// are well-formed UTF-8), then the verdict alone, or the tool's formatting run
// (JSONFormatter::outputs, the output on show handed over first and the other one left unprinted,
// as JSONToolViewModel::startFormat asks for it), which prints UTF-8.
qint64 oursRun(Op op, const QByteArray& bytes)
{
    const QByteArray utf8 = TextFileLoader::repairedUTF8(bytes);
    if (op == Op::validate)
    {
        // The JSON tool's verdict with keys in source order, its default: no tape is built.
        JSONDocument document;
        return JSONParser::parse(utf8, &document, false).error ? -1 : 0;
    }
    const bool pretty = op == Op::pretty;
    std::atomic_bool cancelled{false};
    qint64 made = -1;
    try {
        JSONFormatter::outputs(utf8, JSONFormatter::Indent::spaces(2), JSONFormatter::SortMode::none, &cancelled, pretty,
                               [&](const JSONFormatter::Validation& validation, const QByteArray& first) {
                                   made = validation.isValid ? first.size() : -1;
                                   throw FirstOutputTaken();
                               });
    } catch (const FirstOutputTaken&) {
    }
    return made;
}

QString times(double v) { return v < 0 ? QStringLiteral("n/a") : QStringLiteral("%1x").arg(v, 0, 'f', 2); }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    printMachine("bench-json");
    std::printf("From the file's bytes (in memory) to UTF-8 bytes. ours = UTF-8 check as the tool opens a file,\n"
                "then JSONParser::parse without the tape (the JSON tool's verdict with keys in source order), or\n"
                "the tool's formatting run (JSONFormatter::outputs with the output on show, pretty with 2 spaces or\n"
                "minified, handed over first and the other left unprinted, as the view model asks for it), printing\n"
                "UTF-8 from the checked bytes. RapidJSON %s = Reader (numbers kept as text,\n"
                "UTF-8 validated) into PrettyWriter / Writer, or into a handler that drops the events.\n"
                "simdjson %s = DOM parse (validates; the input copied into its padded buffer) and, for minify, the\n"
                "DOM written back (what differs: numbers are written again from doubles); it has no pretty printer.\n"
                "Peers run on one core (single-threaded). \"first\": the first call in a fresh child, as the tool\n"
                "meets a document (every side's buffers are fresh pages there; simdjson's parser too, sized to the\n"
                "document; it is built for reuse across documents). \"warm\": a second call in a child, after an\n"
                "untimed first; its peak is above what the child held when it began.\n"
                "Options: --only <text> (inputs whose name holds it), --ops validate,pretty,minify.\n\n",
                RAPIDJSON_VERSION_STRING, QUORRIX_STRING(SIMDJSON_VERSION));
    const QStringList args = QCoreApplication::arguments();
    auto option = [&](const char* name) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at >= 0 && at + 1 < args.size() ? args[at + 1] : QString();
    };
    const QString only = option("--only");
    const QStringList opsAsked = option("--ops").split(u',', Qt::SkipEmptyParts);
    const int rounds = roundsWanted();
    Targets targets;

    std::vector<Input> inputs;
    for (const char* name : {"json/canada.json", "json/citm_catalog.json", "json/twitter.json"})
        inputs.push_back(corpusFile(QString::fromLatin1(name)));
    if (inputs[0].isEmpty())
        std::printf("(no corpus found: set QUORRIX_BENCH_CORPUS; real documents skipped)\n\n");
    const struct {
        int megabytes;
        quint32 seed;
    } sizes[] = {{1, 7}, {10, 17}, {50, 57}, {100, 97}};
    for (const auto& [mb, seed] : sizes) {
        const QString name = QStringLiteral("records of a web service, %1 MB").arg(mb);
        inputs.push_back(generated(name, only.isEmpty() || name.contains(only) ? generateRealistic(qint64(mb) << 20, seed)
                                                                               : QByteArray()));
    }
    for (Input& input : inputs)
        if (!only.isEmpty() && !input.name.contains(only))
            input.bytes.clear();

    const struct {
        Op op;
        const char* name;
    } ops[] = {{Op::validate, "validate"}, {Op::pretty, "pretty"}, {Op::minify, "minify"}};
    for (const auto& [op, opName] : ops) {
        if (!opsAsked.isEmpty() && !opsAsked.contains(QLatin1String(opName)))
            continue;
        QStringList firstMisses, warmMisses, coreMisses, spreadMisses, memoryMisses;
        std::vector<std::vector<Series>> measured(inputs.size());
        for (size_t i = 0; i < inputs.size(); ++i) {
            const Input& input = inputs[i];
            if (input.isEmpty())
                continue;
            const QByteArray& bytes = input.bytes;
            const Op o = op;
            const std::function<qint64()> ours = [&bytes, o] { return oursRun(o, bytes); };
            const std::function<qint64()> rapid = [&bytes, o] { return rapidRun(o, bytes); };
            const std::function<qint64()> simd = [&bytes, o] { return simdRun(o, bytes); };
            std::vector<Side> sides = firstAndWarmSides(ours, QStringLiteral("RapidJSON"), rapid);
            if (op != Op::pretty) {
                sides.push_back({"simdjson", [&] { return runForked(Cores::one, simd); }});
                sides.push_back({"simdjson warm", [&] { return runWarm(Cores::one, simd); }});
            }
            measured[i] = interleave(sides, rounds);
            const std::vector<Series>& s = measured[i];
            printCase(QStringLiteral("%1, %2").arg(input.name, QLatin1String(opName)), bytes.size(), s);
            const Series& one = *find(s, "ours, 1 core");
            const Series& all = *find(s, "ours, all cores");
            const Series& peer = *find(s, "RapidJSON");
            const Series& warmOne = *find(s, "ours warm, 1 core");
            const Series& warmAll = *find(s, "ours warm, all cores");
            const Series& warmPeer = *find(s, "RapidJSON warm");
            const double first = speedup(one, peer), warm = speedup(warmOne, warmPeer);
            std::printf("  ours / RapidJSON, first call: 1 core %s, all cores %s; warm: 1 core %s, all cores %s",
                        qPrintable(times(first)), qPrintable(times(speedup(all, peer))), qPrintable(times(warm)),
                        qPrintable(times(speedup(warmAll, warmPeer))));
            if (const Series* simdFirst = find(s, "simdjson"))
                std::printf("; ours / simdjson, 1 core: first %s, warm %s", qPrintable(times(speedup(one, *simdFirst))),
                            qPrintable(times(speedup(warmOne, *find(s, "simdjson warm")))));
            std::printf("\n");
            if (op == Op::pretty) {
                std::printf("  peak memory: ours %.1f MB (1 core), RapidJSON %.1f MB: %.2fx\n", one.peakMB(), peer.peakMB(),
                            peer.peakMB() > 0 ? one.peakMB() / peer.peakMB() : -1.0);
                std::printf("  less the code and file pages mapped meanwhile: ours %.1f MB, RapidJSON %.1f MB: %.2fx\n",
                            one.privatePeakMB(), peer.privatePeakMB(),
                            peer.privatePeakMB() > 0 ? one.privatePeakMB() / peer.privatePeakMB() : -1.0);
            }
            std::printf("\n");
            const QString name = input.name;
            if (first < 1)
                firstMisses << QStringLiteral("%1 %2").arg(name, times(first));
            if (warm < 1)
                warmMisses << QStringLiteral("%1 %2").arg(name, times(warm));
            if (all.medianMs() > one.medianMs() || warmAll.medianMs() > warmOne.medianMs())
                coreMisses << QStringLiteral("%1 (first %2 vs %3 ms, warm %4 vs %5 ms)")
                                  .arg(name, QString::number(all.medianMs(), 'f', 2), QString::number(one.medianMs(), 'f', 2),
                                       QString::number(warmAll.medianMs(), 'f', 2), QString::number(warmOne.medianMs(), 'f', 2));
            for (const Series* ourSeries : {&one, &all, &warmOne, &warmAll})
                if (ourSeries->maxMs() > 1.5 * ourSeries->medianMs())
                    spreadMisses << QStringLiteral("%1, %2 (%3 ms over %4)")
                                        .arg(name, ourSeries->name, QString::number(ourSeries->maxMs(), 'f', 2),
                                             QString::number(ourSeries->medianMs(), 'f', 2));
            // The document's memory: a first call also maps the code it runs (1.5 MB of Qt, the C++
            // library and its unwinder for the tool's throw), the same whatever the document.
            if (op == Op::pretty && one.privatePeakMB() > 2 * peer.privatePeakMB())
                memoryMisses << QStringLiteral("%1 (%2 MB vs %3 MB)")
                                    .arg(name, QString::number(one.privatePeakMB(), 'f', 1),
                                         QString::number(peer.privatePeakMB(), 'f', 1));
        }
        // Time per MB at the largest generated input over that at the smallest.
        const size_t small = inputs.size() - 4, large = inputs.size() - 1;
        if (!measured[small].empty() && !measured[large].empty()) {
            auto g = [&](const char* side) {
                return growth(*find(measured[small], side), inputs[small].bytes.size(), *find(measured[large], side),
                              inputs[large].bytes.size());
            };
            std::printf("%s growth, time per MB at 100 MB over that at 1 MB (1 = linear): ours 1 core %.2f, all cores %.2f, "
                        "RapidJSON %.2f\n",
                        opName, g("ours, 1 core"), g("ours, all cores"), g("RapidJSON"));
        }
        const QString what = QLatin1String(opName);
        auto detail = [](const QStringList& misses, const char* none, const char* some) {
            return misses.isEmpty() ? QString::fromLatin1(none) : QString::fromLatin1(some) + misses.join(u", ");
        };
        targets.check(QStringLiteral("%1, first call, at least RapidJSON's throughput on 1 core, every document").arg(what),
                      firstMisses.isEmpty(), detail(firstMisses, "no document slower", "slower on "));
        targets.check(QStringLiteral("%1, warm, at least RapidJSON's throughput on 1 core, every document").arg(what),
                      warmMisses.isEmpty(), detail(warmMisses, "no document slower", "slower on "));
        targets.check(QStringLiteral("%1 on all cores never slower than on one").arg(what), coreMisses.isEmpty(),
                      detail(coreMisses, "no document slower", "slower on "));
        targets.check(QStringLiteral("%1: our slowest run at most 1.5x our median").arg(what), spreadMisses.isEmpty(),
                      detail(spreadMisses, "every series within", "beyond on "));
        if (op == Op::pretty)
            targets.check(QStringLiteral("pretty memory at most twice RapidJSON's"), memoryMisses.isEmpty(),
                          detail(memoryMisses, "every document within", "beyond on "));
        std::printf("\n");
    }
    printLoadAtEnd();
    return targets.finish();
}
