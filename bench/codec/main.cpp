// Encode / Decode throughput and peak memory on inputs of 1, 10 and 50 MB, side by side with
// the usual command-line tools on the same files: coreutils base64 / basenc, xxd, Python's
// html.unescape and urllib.parse.unquote_to_bytes, gzip and pigz. Every measurement runs in a
// child process of its own so that its peak memory is its own.

#include "kit/TextFileLoader.h"
#include "tools/codec/Codec.h"
#include "tools/codec/Inflate.h"
#include "support/ChildProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include "support/Deflated.h"

#include <algorithm>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Text as people paste it: words, punctuation, markup, a few accented letters and emoji.
QByteArray generateText(qint64 target, quint32 seed)
{
    QRandomGenerator rng(seed);
    const char* words[] = {"alpha", "beta", "<b>", "Tom & Jerry", "caf\xC3\xA9", "\xE2\x82\xAC" "12", "a+b=c",
                           "\"quoted\"", "it's", "path/to/file", "100%", "\xF0\x9F\x98\x80", "line\n", "tab\t"};
    QByteArray out;
    out.reserve(target + 64);
    while (out.size() < target) {
        out += words[rng.bounded(int(std::size(words)))];
        out += ' ';
    }
    out.truncate(target);
    // Never end inside a UTF-8 sequence.
    while (!out.isEmpty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80)
        out.chop(1);
    if (!out.isEmpty() && static_cast<unsigned char>(out.back()) >= 0xC0)
        out.chop(1);
    return out;
}

constexpr int kRepeats = 4;

struct OursTimes {
    double first = -1; // first run in a fresh process
    double again = -1; // median of the same run repeated, as the tool repeats it while the user edits
    double load = 0;   // the file's bytes to the text the tool holds, as opening the file does it
    qsizetype outSize = 0;
};

// Ours, from the text the tool holds to the result the Output pane shows; the clock stops
// before the result is let go.
bool oursRun(const QString& op, const QByteArray& bytes, OursTimes* times)
{
    using S = Codec::Scheme;
    using D = Codec::Direction;
    QElapsedTimer t;
    std::vector<double> repeats;
    if (op == u"unpack" || op == u"bomb") {
        for (int run = 0; run <= kRepeats; ++run) {
            t.start();
            const auto r = Inflate::unpackGzip(bytes, Codec::unpackLimit);
            (run == 0 ? times->first : repeats.emplace_back()) = t.nsecsElapsed() / 1e6;
            times->outSize = r.bytes.size();
            if (op == u"unpack" ? !r.ok() : r.failure != Inflate::Failure::tooLarge)
                return false;
        }
        times->again = median(repeats);
        return true;
    }
    struct Case {
        const char* name;
        S scheme;
        D direction;
        Codec::Options options;
    };
    const Case cases[] = {
        {"b64enc", S::base64, D::encode, {}},
        {"b64urlenc", S::base64, D::encode, {true, false, false, false}},
        {"b64dec", S::base64, D::decode, {}},
        {"b64urldec", S::base64, D::decode, {}},
        {"hexenc", S::hex, D::encode, {}},
        {"hexdec", S::hex, D::decode, {}},
        {"htmldec", S::html, D::decode, {}},
        {"urldec", S::url, D::decode, {}},
        // What the tool does with its start options: unpack on, JSON formatting on.
        {"b64whole", S::base64, D::decode, {false, false, true, true}},
        {"b64gzjson", S::base64, D::decode, {false, false, true, true}},
    };
    for (const Case& c : cases) {
        if (op != QLatin1String(c.name))
            continue;
        t.start();
        const QString input = TextFileLoader::decodeUTF8Repairing(bytes);
        times->load = t.nsecsElapsed() / 1e6;
        for (int run = 0; run <= kRepeats; ++run) {
            t.start();
            const auto r = Codec::transform(input, c.scheme, c.direction, c.options);
            (run == 0 ? times->first : repeats.emplace_back()) = t.nsecsElapsed() / 1e6;
            if (!r.ok())
                return false;
            // The result is what the Output pane shows; nothing more is done with it.
            times->outSize = r.output->byteCount;
        }
        times->again = median(repeats);
        return true;
    }
    return false;
}

int runChild(const QString& op, const QString& path, const QString& reportPath)
{
    const double startMB = residentMB();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 2;
    const QByteArray bytes = file.readAll();
    file.close();
    OursTimes times;
    if (!oursRun(op, bytes, &times))
        return 3;
    QFile report(reportPath);
    if (!report.open(QIODevice::WriteOnly))
        return 4;
    report.write(QByteArray::number(times.first) + " " + QByteArray::number(times.again) + " "
                 + QByteArray::number(times.load) + " " + QByteArray::number(startMB) + " "
                 + QByteArray::number(times.outSize));
    return 0;
}

// Inputs are written by a child process, so that this one stays small: a spawned child's
// peak-memory figure starts from its parent's size.
void generateInputs(const QDir& dir, int mb)
{
    const qint64 target = qint64(mb) << 20;
    const QByteArray text = generateText(target, 7 + mb);
    auto write = [&](const QString& stem, const QByteArray& bytes) {
        QFile f(dir.filePath(QStringLiteral("%1-%2").arg(stem).arg(mb)));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    };
    write(QStringLiteral("text"), text);
    // Decode inputs of about the size named: their decoded text is shorter.
    write(QStringLiteral("b64"), text.left(target * 3 / 4).toBase64());
    write(QStringLiteral("b64url"), text.left(target * 3 / 4).toBase64(QByteArray::Base64UrlEncoding));
    write(QStringLiteral("hex"), text.left(target / 2).toHex());
    write(QStringLiteral("html"), QString::fromUtf8(text.left(target * 2 / 3)).toHtmlEscaped().toUtf8()
                                      .replace("\xE2\x82\xAC", "&euro;").replace("\xC3\xA9", "&#233;"));
    write(QStringLiteral("url"), text.left(target / 2).toPercentEncoding(" "));
}

void generateUnpackInputs(const QDir& dir)
{
    const QByteArray payload = generateText(32000000, 99);
    const QString gz = dir.filePath(QStringLiteral("payload.gz"));
    QFile f(gz);
    f.open(QIODevice::WriteOnly);
    f.write(deflated(payload, 31));
    f.close();
    const QString b64 = dir.filePath(QStringLiteral("payload.gz.b64"));
    QFile g(b64);
    g.open(QIODevice::WriteOnly);
    g.write(deflated(payload, 31).toBase64());
    g.close();
    QFile b(dir.filePath(QStringLiteral("bomb.gz")));
    b.open(QIODevice::WriteOnly);
    b.write(deflatedZeros(qint64(1) << 30, 31));
    QFile e(dir.filePath(QStringLiteral("empty.gz")));
    e.open(QIODevice::WriteOnly);
    e.write(deflated(QByteArray(), 31));
}

// From the text, as ours, to the text shown: html.unescape gives it at once; the bytes of
// unquote_to_bytes are read as strict UTF-8, as ours are.
const char* const kPythonTimer = R"(import sys, time, html, urllib.parse
data = open(sys.argv[2], 'rb').read()
text = data.decode('utf-8')
t = time.perf_counter()
out = html.unescape(text) if sys.argv[1] == 'html' else urllib.parse.unquote_to_bytes(text).decode('utf-8')
ms = (time.perf_counter() - t) * 1000
open(sys.argv[3], 'w').write(str(ms))
)";

struct Row {
    QString op;        // ours
    QString file;      // input file stem
    QStringList peer;  // command, with {in} for the input path; empty for none
    QString peerName;
    bool python = false;
    QString pythonMode = {};
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == u"--child")
        return runChild(args[2], args[3], args[4]);
    if (args.size() == 4 && args[1] == u"--generate")
        return generateInputs(QDir(args[2]), args[3].toInt()), 0;
    if (args.size() == 3 && args[1] == u"--generate-unpack")
        return generateUnpackInputs(QDir(args[2])), 0;

    QTemporaryDir tmp;
    const QString keep = qEnvironmentVariable("QUORRIX_BENCH_DIR");
    const QDir dir(keep.isEmpty() ? tmp.path() : keep);
    const QString self = QCoreApplication::applicationFilePath();
    const QString report = dir.filePath(QStringLiteral("report"));
    const QString pyScript = dir.filePath(QStringLiteral("peer.py"));
    {
        QFile f(pyScript);
        f.open(QIODevice::WriteOnly);
        f.write(kPythonTimer);
    }
    QTextStream out(stdout);
    const int rounds = qEnvironmentVariableIsSet("QUORRIX_BENCH_ROUNDS") ? std::max(1, qEnvironmentVariableIntValue("QUORRIX_BENCH_ROUNDS")) : 5;
    out << "bench-codec: from the bytes a user has to the result the Output pane shows.\n"
           "ours = Codec::transform from the text the tool holds (the file's bytes read as UTF-8 the way\n"
           "  opening the file does it, shown apart as 'load') to the Output, the clock stopped before the\n"
           "  result is let go; 'ours' is the median of four repeats in the same process, as the tool repeats\n"
           "  the transform while the user edits, 'first' the first run in a fresh process;\n"
           "command-line peers = wall time of the run minus the same command on an empty file (start-up);\n"
           "Python peers = time inside the interpreter from the text to the text shown.\n"
           "Median of " << rounds << " rounds (QUORRIX_BENCH_ROUNDS; three times as many at 1 MB), ours and the peer in turn; peak = child's max RSS\n"
           "(ours: above what it held before reading the file).\n\n";
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9\n")
               .arg("case", -18).arg("ours ms", 8).arg("peer ms", 8).arg("peer", -23).arg("peer/ours", 9)
               .arg("first", 8).arg("load", 8).arg("peak MB", 11).arg("out MB", 7);
    out.flush();

    const Row rows[] = {
        {"b64enc", "text", {"base64", "-w0", "{in}"}, "base64 -w0"},
        {"b64urlenc", "text", {"basenc", "--base64url", "-w0", "{in}"}, "basenc --base64url"},
        {"b64dec", "b64", {"base64", "-d", "{in}"}, "base64 -d"},
        {"b64urldec", "b64url", {"basenc", "--base64url", "-d", "{in}"}, "basenc --base64url -d"},
        {"hexenc", "text", {"xxd", "-p", "{in}"}, "xxd -p"},
        {"hexdec", "hex", {"xxd", "-r", "-p", "{in}"}, "xxd -r -p"},
        {"htmldec", "html", {}, "python html.unescape", true, "html"},
        {"urldec", "url", {}, "python unquote_to_bytes", true, "url"},
        {"b64whole", "b64", {}, "(start options)"},
    };
    QMap<QString, QMap<int, double>> oursBySize;
    QMap<QString, QMap<int, double>> firstBySize;
    
    struct Measured {
        double ours = -1;  // steady: the run repeated in the same process
        double first = -1; // the first run in a fresh process
        double load = -1;
        double peer = -1;
        double oursPeak = 0;
        double peerPeak = 0;
        qsizetype outSize = 0;
    };
    // Ours and the peer in turn, round after round, so that both meet the same load on the machine.
    // Small inputs get three times the rounds: there a peer's time is a small difference of two
    // process start-ups.
    auto measure = [&](const QString& op, const QString& path, const QStringList& peerCommand, const QString& startupPath,
                       const QString& pythonMode, int roundsHere) {
        Measured m;
        std::vector<double> first, again, load, peer, startup;
        for (int round = 0; round < roundsHere; ++round) {
            QFile::remove(report);
            const ChildResult child = spawnMeasured({self, "--child", op, path, report});
            QFile r(report);
            if (child.ok && r.open(QIODevice::ReadOnly)) {
                const QList<QByteArray> parts = r.readAll().split(' ');
                first.push_back(parts.value(0).toDouble());
                again.push_back(parts.value(1).toDouble());
                load.push_back(parts.value(2).toDouble());
                m.oursPeak = std::max(m.oursPeak, child.maxRssMB - parts.value(3).toDouble());
                m.outSize = parts.value(4).toLongLong();
            }
            if (!pythonMode.isEmpty()) {
                QFile::remove(report);
                const ChildResult py = spawnMeasured({"python3", pyScript, pythonMode, path, report});
                QFile pr(report);
                if (py.ok && pr.open(QIODevice::ReadOnly)) {
                    peer.push_back(pr.readAll().toDouble());
                    m.peerPeak = std::max(m.peerPeak, py.maxRssMB);
                }
            } else if (!peerCommand.isEmpty()) {
                QStringList command = peerCommand;
                command.replaceInStrings(QStringLiteral("{in}"), startupPath);
                startup.push_back(spawnMeasured(command).ms);
                command = peerCommand;
                command.replaceInStrings(QStringLiteral("{in}"), path);
                const ChildResult run = spawnMeasured(command);
                if (run.ok) {
                    peer.push_back(run.ms);
                    m.peerPeak = std::max(m.peerPeak, run.maxRssMB);
                }
            }
        }
        m.ours = median(again);
        m.first = median(first);
        m.load = median(load);
        if (!peer.empty())
            m.peer = pythonMode.isEmpty() ? median(peer) - std::max(0.0, median(startup)) : median(peer);
        return m;
    };
    auto print = [&](const QString& label, const QString& peerName, const Measured& m) {
        const bool hasPeer = m.peer >= 0;
        out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9\n")
                   .arg(label, -18)
                   .arg(m.ours, 8, 'f', 1)
                   .arg(hasPeer ? QString::number(m.peer, 'f', 1) : QStringLiteral("-"), 8)
                   .arg(peerName, -23)
                   .arg(hasPeer ? QStringLiteral("%1x").arg(m.peer / m.ours, 0, 'f', 2) : QStringLiteral("-"), 9)
                   .arg(m.first, 8, 'f', 1)
                   .arg(m.load > 0 ? QString::number(m.load, 'f', 1) : QStringLiteral("-"), 8)
                   .arg(QStringLiteral("%1 / %2").arg(m.oursPeak, 0, 'f', 0).arg(hasPeer ? QString::number(m.peerPeak, 'f', 0) : QStringLiteral("-")), 11)
                   .arg(m.outSize / 1048576.0, 7, 'f', 1);
        out.flush();
    };

    const QString emptyPath = dir.filePath(QStringLiteral("empty"));
    QFile(emptyPath).open(QIODevice::WriteOnly);

    // QUORRIX_BENCH_CASES=b64enc,b64dec runs only the cases whose names begin so.
    const QStringList only = qEnvironmentVariable("QUORRIX_BENCH_CASES").split(u',', Qt::SkipEmptyParts);
    auto wanted = [&](const QString& op) {
        return only.isEmpty() || std::any_of(only.begin(), only.end(), [&](const QString& o) { return op.startsWith(o); });
    };
    for (int mb : {1, 10, 50}) {
        spawnMeasured({self, "--generate", dir.path(), QString::number(mb)});
        for (const Row& row : rows) {
            if (!wanted(row.op))
                continue;
            const QString path = dir.filePath(QStringLiteral("%1-%2").arg(row.file).arg(mb));
            const Measured m = measure(row.op, path, row.peer, emptyPath, row.python ? row.pythonMode : QString(),
                                       mb == 1 ? 3 * rounds : rounds);
            oursBySize[row.op][mb] = m.ours;
            firstBySize[row.op][mb] = m.first;
            print(QStringLiteral("%1 %2MB").arg(row.op).arg(mb), row.peerName, m);
        }
    }

    // Unpacking: a gzip payload of 32,000,000 bytes of text, and a bomb of 1 GB of zeros.
    if (wanted(QStringLiteral("unpack")) || wanted(QStringLiteral("b64gzjson"))) {
        spawnMeasured({self, "--generate-unpack", dir.path()});
        const QString gz = dir.filePath(QStringLiteral("payload.gz"));
        const QString b64 = dir.filePath(QStringLiteral("payload.gz.b64"));
        out << "\n";
        // The empty file is no gzip stream: start-up is timed on an empty member instead.
        const QString emptyGz = dir.filePath(QStringLiteral("empty.gz"));
        for (const auto& [op, path, peerCommand, peerName] :
             {std::tuple{QStringLiteral("unpack"), gz, QStringList{"gzip", "-dc", "{in}"}, QStringLiteral("gzip -dc")},
              std::tuple{QStringLiteral("unpack"), gz, QStringList{"pigz", "-dc", "{in}"}, QStringLiteral("pigz -dc")},
              std::tuple{QStringLiteral("b64gzjson"), b64, QStringList{}, QStringLiteral("(Base64 of it, start options)")}}) {
            const Measured m = measure(op, path, peerCommand, emptyGz, QString(), rounds);
            print(QStringLiteral("%1 32MB").arg(op), peerName, m);
        }
        const QString bomb = dir.filePath(QStringLiteral("bomb.gz"));
        const qint64 bombSize = QFileInfo(bomb).size();
        const Measured m = measure(QStringLiteral("bomb"), bomb, {}, {}, QString(), rounds);
        out << QStringLiteral("%1 %2 %3 %4\n")
                   .arg(QStringLiteral("bomb 1GB in %1 KB").arg(bombSize / 1024), -18)
                   .arg(m.ours, 8, 'f', 1)
                   .arg("stopped at the cap:", -32)
                   .arg(QStringLiteral("peak %1 MB").arg(m.oursPeak, 0, 'f', 0));
    }

    // First runs meet the same conditions at every size; repeats of results under 32 MB reuse
    // memory the last result gave back, while larger ones always get fresh pages.
    out << "\n(peer/ours above 1 = ours is faster.)\nGrowth of our time, 10 MB / 1 MB and 50 MB / 10 MB (linear = about 10 and 5),\n"
           "of first runs, then of repeats:\n";
    for (auto it = firstBySize.constBegin(); it != firstBySize.constEnd(); ++it) {
        const QMap<int, double>& again = oursBySize[it.key()];
        out << QStringLiteral("  %1 %2  %3    %4  %5\n")
                   .arg(it.key(), -12)
                   .arg(it.value()[10] / it.value()[1], 6, 'f', 2)
                   .arg(it.value()[50] / it.value()[10], 6, 'f', 2)
                   .arg(again[10] / again[1], 6, 'f', 2)
                   .arg(again[50] / again[10], 6, 'f', 2);
    }
    return 0;
}
