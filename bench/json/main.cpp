// Validate, pretty-print (2 spaces) and minify, from the file's bytes to UTF-8 bytes, on the
// three standard documents of the corpus and on larger realistic ones, beside RapidJSON and
// simdjson on the same bytes. Ours runs pinned to one CPU and on all of them; each run is a
// child process of its own.

#include "kit/TextFileLoader.h"
#include "formats/Utf8Encoder.h"
#include "formats/JSONFormatter.h"
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

#include <cstdio>
#include <string>
#include <vector>

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

// Ours, as the tool runs it: the bytes decoded as it opens a file, then its validate, minify or
// format, and the printed text encoded.
qint64 oursRun(Op op, const QByteArray& bytes)
{
    const QString text = TextFileLoader::decodeUTF8Repairing(bytes);
    if (op == Op::validate)
        return JSONFormatter::validate(text).isValid ? 0 : -1;
    const auto r = op == Op::minify
        ? JSONFormatter::minify(text)
        : JSONFormatter::format(text, JSONFormatter::Indent::spaces(2), JSONFormatter::SortMode::none);
    return r.ok() ? Utf8Encoder::toUtf8(r.text).size() : -1;
}

QString times(double v) { return v < 0 ? QStringLiteral("n/a") : QStringLiteral("%1x").arg(v, 0, 'f', 2); }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    printMachine("bench-json");
    std::printf("From the file's bytes (in memory) to UTF-8 bytes. ours = UTF-8 decode as the tool opens a file,\n"
                "then JSONFormatter validate / minify / format (2 spaces) as the tool runs them, and the printed text\n"
                "encoded. RapidJSON %s = Reader (numbers\n"
                "kept as text, UTF-8 validated) into PrettyWriter / Writer, or into a handler that drops the events.\n"
                "simdjson %s = DOM parse (validates; the input copied into its padded buffer) and, for minify, the\n"
                "DOM written back (what differs: numbers are written again from doubles); it has no pretty printer.\n"
                "Peers run on one core (single-threaded). Each run is the first call in a fresh child, as the tool\n"
                "meets a document: every side's buffers are fresh pages there (simdjson's parser too, sized to the\n"
                "document; it is built for reuse across documents).\n\n",
                RAPIDJSON_VERSION_STRING, QUORRIX_STRING(SIMDJSON_VERSION));
    const int rounds = roundsWanted();
    Targets targets;

    std::vector<Input> inputs;
    for (const char* name : {"json/canada.json", "json/citm_catalog.json", "json/twitter.json"})
        inputs.push_back(corpusFile(QString::fromLatin1(name)));
    if (inputs[0].isEmpty())
        std::printf("(no corpus found: set QUORRIX_BENCH_CORPUS; real documents skipped)\n\n");
    inputs.push_back(generated(QStringLiteral("records of a web service, 10 MB"), generateRealistic(10 << 20, 17)));
    inputs.push_back(generated(QStringLiteral("records of a web service, 50 MB"), generateRealistic(50 << 20, 57)));

    const struct {
        Op op;
        const char* name;
    } ops[] = {{Op::validate, "validate"}, {Op::pretty, "pretty"}, {Op::minify, "minify"}};
    for (const auto& [op, opName] : ops) {
        bool met = true;
        QStringList misses;
        std::vector<std::vector<Series>> measured(inputs.size());
        for (size_t i = 0; i < inputs.size(); ++i) {
            const Input& input = inputs[i];
            if (input.isEmpty())
                continue;
            const QByteArray& bytes = input.bytes;
            const Op o = op;
            std::vector<Side> sides{
                {"ours, 1 core", [&bytes, o] { return runForked(Cores::one, [&] { return oursRun(o, bytes); }); }},
                {"ours, all cores", [&bytes, o] { return runForked(Cores::all, [&] { return oursRun(o, bytes); }); }},
                {"RapidJSON", [&bytes, o] { return runForked(Cores::one, [&] { return rapidRun(o, bytes); }); }}};
            if (op != Op::pretty)
                sides.push_back({"simdjson", [&bytes, o] { return runForked(Cores::one, [&] { return simdRun(o, bytes); }); }});
            measured[i] = interleave(sides, rounds);
            const std::vector<Series>& s = measured[i];
            printCase(QStringLiteral("%1, %2").arg(input.name, QLatin1String(opName)), bytes.size(), s);
            const double one = speedup(s[0], s[2]), all = speedup(s[1], s[2]);
            std::printf("  ours / RapidJSON: 1 core %s, all cores %s%s\n\n", qPrintable(times(one)), qPrintable(times(all)),
                        s.size() > 3 ? qPrintable(QStringLiteral("; ours / simdjson: 1 core %1").arg(times(speedup(s[0], s[3]))))
                                     : "");
            if (one < 1) {
                met = false;
                misses << QStringLiteral("%1 %2").arg(input.name, times(one));
            }
        }
        // The last two inputs are the 10 and 50 MB records.
        const size_t small = inputs.size() - 2, large = inputs.size() - 1;
        if (!measured[small].empty() && !measured[large].empty()) {
            auto g = [&](size_t side) {
                return growth(measured[small][side], inputs[small].bytes.size(), measured[large][side], inputs[large].bytes.size());
            };
            std::printf("%s growth, time per MB at 50 MB over that at 10 MB (1 = linear): ours 1 core %.2f, all cores %.2f, "
                        "RapidJSON %.2f\n",
                        opName, g(0), g(1), g(2));
        }
        targets.check(QStringLiteral("%1 at least RapidJSON's throughput on 1 core, every document").arg(QLatin1String(opName)), met,
                      misses.isEmpty() ? QStringLiteral("no document slower") : QStringLiteral("slower on ") + misses.join(u", "));
        std::printf("\n");
    }
    printLoadAtEnd();
    return targets.finish();
}
