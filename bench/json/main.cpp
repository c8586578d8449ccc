// Throughput and peak memory of validate, pretty-print (2 spaces) and minify on generated and
// realistic documents of 1, 10 and 50 MB, side by side with the RapidJSON library on the same
// bytes. Every case runs in a child process of its own so that its peak memory is its own.

#include "kit/TextFileLoader.h"
#include "formats/Utf8Encoder.h"
#include "formats/JSONFormatter.h"
#include "support/ChildProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray generate(qint64 target, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray out;
    out.reserve(target + 4096);
    out += "[\n";
    const char* words[] = {"alpha", "beta", "gamma", "delta", "tab\\tbed", "quote\\\"d", "caf\xC3\xA9", "\\u00e9t\xC3\xA9",
                           "long", "line", "key", "value"};
    auto word = [&] { return QByteArray(words[rng.bounded(int(std::size(words)))]); };
    qint64 id = 0;
    while (out.size() < target) {
        if (id)
            out += ",\n";
        out += "  {\"id\": " + QByteArray::number(id++) + ", \"name\": \"" + word() + " " + word() + "\", ";
        out += "\"score\": " + QByteArray::number(rng.generateDouble() * 1000, 'g', 1 + rng.bounded(16)) + ", ";
        out += "\"big\": " + QByteArray::number(rng.generate64()) + QByteArray::number(rng.generate64()) + ", ";
        out += "\"flags\": [true, false, null, " + QByteArray::number(int(rng.bounded(100000)) - 50000) + "], ";
        out += "\"nested\": {\"level1\": {\"level2\": {\"level3\": {\"ratio\": -"
               + QByteArray::number(rng.generateDouble(), 'e', 6) + ", \"tags\": [";
        const int tags = 1 + rng.bounded(6);
        for (int t = 0; t < tags; ++t)
            out += (t ? ", \"" : "\"") + word() + "\"";
        out += "]}}}}, \"text\": \"";
        const int len = 100 + rng.bounded(1900);
        for (int c = 0; c < len; ++c) {
            const quint32 r = rng.bounded(64);
            out += r == 0 ? ' ' : char('a' + r % 26);
        }
        out += "\"}";
    }
    out += "\n]\n";
    return out;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

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

bool peerRun(const QString& op, const QByteArray& bytes, qsizetype* outSize)
{
    rapidjson::Reader reader;
    rapidjson::StringStream in(bytes.constData());
    if (op == u"validate") {
        rapidjson::BaseReaderHandler<> handler;
        return !reader.Parse<kPeerFlags>(in, handler).IsError();
    }
    rapidjson::StringBuffer buffer;
    bool ok;
    if (op == u"pretty") {
        rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
        writer.SetIndent(' ', 2);
        ok = !reader.Parse<kPeerFlags>(in, writer).IsError();
    } else {
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        ok = !reader.Parse<kPeerFlags>(in, writer).IsError();
    }
    *outSize = qsizetype(buffer.GetSize());
    return ok;
}

// Ours from the file's bytes to UTF-8 bytes: decode as the tool does when it opens a file,
// format, encode.
bool oursRun(const QString& op, const QByteArray& bytes, qsizetype* outSize, double* encodeMs)
{
    const QString text = TextFileLoader::decodeUTF8Repairing(bytes);
    if (op == u"validate")
        return JSONFormatter::validate(text).isValid;
    const auto r = op == u"pretty"
        ? JSONFormatter::format(text, JSONFormatter::Indent::spaces(2), JSONFormatter::SortMode::none)
        : JSONFormatter::minify(text);
    if (!r.ok())
        return false;
    QElapsedTimer encoding;
    encoding.start();
    *outSize = Utf8Encoder::toUtf8(r.text).size();
    *encodeMs = encoding.nsecsElapsed() / 1e6;
    return true;
}

int runChild(const QString& who, const QString& op, const QString& path, const QString& reportPath)
{
    // What the program itself holds before it reads the document (libraries, heap).
    const double startMB = residentMB();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 2;
    const QByteArray bytes = file.readAll();
    file.close();
    QElapsedTimer t;
    double best = 1e99, first = 0, encodeMs = 0, firstEncodeMs = 0;
    qsizetype outSize = 0;
    for (int run = 0; run < 3; ++run) {
        t.restart();
        if (!(who == u"ours" ? oursRun(op, bytes, &outSize, &encodeMs) : peerRun(op, bytes, &outSize)))
            return 3;
        const double ms = t.nsecsElapsed() / 1e6;
        if (run == 0) {
            first = ms;
            firstEncodeMs = encodeMs;
        }
        best = std::min(best, ms);
    }
    QFile report(reportPath);
    if (!report.open(QIODevice::WriteOnly))
        return 4;
    report.write(QByteArray::number(first) + " " + QByteArray::number(best) + " " + QByteArray::number(outSize) + " "
                 + QByteArray::number(startMB) + " " + QByteArray::number(firstEncodeMs));
    return 0;
}

struct Side {
    std::vector<double> first, warm, encode;
    double peakMB = 0, startMB = 0;
    bool ok = false;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 6 && args[1] == u"--child")
        return runChild(args[2], args[3], args[4], args[5]);

    QTemporaryDir tmp;
    // QUORRIX_BENCH_DIR keeps the generated documents for a closer look.
    const QString keep = qEnvironmentVariable("QUORRIX_BENCH_DIR");
    const QDir dir(keep.isEmpty() ? tmp.path() : keep);
    QTextStream out(stdout);
    const QString self = QCoreApplication::applicationFilePath();
    out << "bench-json: end to end from the file's bytes to UTF-8 bytes, in process, on the same bytes.\n"
           "ours = UTF-8 decode as the tool opens a file, JSONFormatter (validate / pretty with 2 spaces /\n"
           "       minify), UTF-8 encode;\n"
           "peer = RapidJSON Reader (numbers kept as text, UTF-8 validated) into PrettyWriter / Writer,\n"
           "       or into a handler that drops the events for validate.\n"
           "Each side runs in child processes of its own (first call in a fresh process, as the program\n"
           "meets it; \"warm\" = best of two more calls); median of three rounds, interleaved.\n"
           "MB/s per MB of input; peak = child's max RSS above what it held before reading the file.\n"
           "\"encode\" = our first call's UTF-8 encode of the output (the kit's Utf8Encoder, exact size), within\n"
           "\"ours ms\".\n\n";
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10\n")
               .arg("document", -15).arg("op", -9).arg("ours ms", 8).arg("ours MB/s", 9).arg("peer ms", 8)
               .arg("peer MB/s", 9).arg("ours/peer", 9).arg("warm ours/peer", 15).arg("peak MB ours/peer", 18)
               .arg("encode ms", 10);
    out.flush();
    QMap<QString, QMap<int, double>> oursMs;
    struct Doc {
        QString name;
        int mb;
        bool realistic;
    };
    const Doc docs[] = {{"generated", 1, false}, {"generated", 10, false}, {"generated", 50, false},
                        {"realistic", 1, true},  {"realistic", 10, true},  {"realistic", 50, true}};
    for (const Doc& doc : docs) {
        const QString path = dir.filePath(QStringLiteral("%1-%2MB.json").arg(doc.name).arg(doc.mb));
        if (!QFile::exists(path)) {
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            const qint64 target = qint64(doc.mb) * 1024 * 1024;
            f.write(doc.realistic ? generateRealistic(target, 7 + doc.mb) : generate(target, 42 + doc.mb));
        }
        const double inputMB = QFileInfo(path).size() / 1048576.0;
        for (const QString& op : {QStringLiteral("validate"), QStringLiteral("pretty"), QStringLiteral("minify")}) {
            const QString report = dir.filePath(QStringLiteral("report"));
            Side sides[2];
            for (int round = 0; round < 3; ++round) {
                for (int who = 0; who < 2; ++who) {
                    QFile::remove(report);
                    const ChildResult child =
                        spawnMeasured({self, "--child", who == 0 ? "ours" : "peer", op, path, report}, dir.filePath("child.out"));
                    QFile r(report);
                    if (!child.ok || !r.open(QIODevice::ReadOnly))
                        continue;
                    const QList<QByteArray> parts = r.readAll().split(' ');
                    Side& side = sides[who];
                    side.first.push_back(parts.value(0).toDouble());
                    side.warm.push_back(parts.value(1).toDouble());
                    side.startMB = parts.value(3).toDouble();
                    side.encode.push_back(parts.value(4).toDouble());
                    side.peakMB = std::max(side.peakMB, child.maxRssMB);
                    side.ok = true;
                }
            }
            const double ours = median(sides[0].first), peer = median(sides[1].first);
            const double oursWarm = median(sides[0].warm), peerWarm = median(sides[1].warm);
            oursMs[doc.name + u' ' + op][doc.mb] = ours;
            auto rate = [&](double ms) { return ms > 0 ? inputMB / (ms / 1000) : 0.0; };
            out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10\n")
                       .arg(QStringLiteral("%1 %2MB").arg(doc.name).arg(doc.mb), -15)
                       .arg(op, -9)
                       .arg(ours, 8, 'f', 1)
                       .arg(rate(ours), 9, 'f', 0)
                       .arg(peer, 8, 'f', 1)
                       .arg(rate(peer), 9, 'f', 0)
                       .arg(sides[0].ok && sides[1].ok ? QStringLiteral("%1x").arg(peer / ours, 0, 'f', 2) : QStringLiteral("n/a"), 9)
                       .arg(sides[0].ok && sides[1].ok ? QStringLiteral("%1x").arg(peerWarm / oursWarm, 0, 'f', 2) : QStringLiteral("n/a"), 15)
                       .arg(QStringLiteral("%1 / %2").arg(sides[0].peakMB - sides[0].startMB, 0, 'f', 0)
                                .arg(sides[1].peakMB - sides[1].startMB, 0, 'f', 0), 18)
                       .arg(op == u"validate" ? QStringLiteral("-") : QString::number(median(sides[0].encode), 'f', 1), 10);
            out.flush();
        }
    }
    out << "\n(ours/peer above 1 = ours is faster.)\n";
    out << "Growth of our time, 10 MB / 1 MB and 50 MB / 10 MB (linear = about 10 and 5):\n";
    for (auto it = oursMs.constBegin(); it != oursMs.constEnd(); ++it)
        out << QStringLiteral("  %1 %2  %3\n")
                   .arg(it.key(), -18)
                   .arg(it.value()[10] / it.value()[1], 6, 'f', 2)
                   .arg(it.value()[50] / it.value()[10], 6, 'f', 2);
    return 0;
}
