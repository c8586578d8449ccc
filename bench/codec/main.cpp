// Encode / Decode throughput and peak memory on inputs of 1, 10 and 50 MB, side by side with
// the usual command-line tools on the same files: coreutils base64 / basenc, xxd, Python's
// html.unescape and urllib.parse.unquote_to_bytes, gzip and pigz. Every measurement runs in a
// child process of its own so that its peak memory is its own.

#include "tools/codec/Codec.h"
#include "tools/codec/Inflate.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <zlib.h>

#include <algorithm>
#include <vector>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct ChildResult {
    double ms = -1;
    double maxRssMB = 0;
    bool ok = false;
};

// Runs argv with stdout sent to /dev/null; wall time and the kernel's peak-memory figure.
ChildResult spawnMeasured(const QStringList& args)
{
    std::vector<QByteArray> storage;
    for (const QString& a : args)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    ChildResult result;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return result;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.ms = timer.nsecsElapsed() / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.maxRssMB = usage.ru_maxrss / 1024.0;
    return result;
}

double residentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

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

QByteArray gzipOf(const QByteArray& data)
{
    z_stream s{};
    deflateInit2(&s, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&s, uLong(data.size()))) + 64, Qt::Uninitialized);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    s.avail_in = uInt(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = uInt(out.size());
    deflate(&s, Z_FINISH);
    out.truncate(qsizetype(s.total_out));
    deflateEnd(&s);
    return out;
}

// 1 GB of zeros, packed a megabyte at a time.
QByteArray gzipBomb()
{
    z_stream s{};
    deflateInit2(&s, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    const QByteArray chunk(1 << 20, '\0');
    QByteArray out;
    char buffer[1 << 16];
    for (int i = 0; i < 1024; ++i) {
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.constData()));
        s.avail_in = uInt(chunk.size());
        const int flush = i == 1023 ? Z_FINISH : Z_NO_FLUSH;
        do {
            s.next_out = reinterpret_cast<Bytef*>(buffer);
            s.avail_out = sizeof buffer;
            deflate(&s, flush);
            out.append(buffer, qsizetype(sizeof buffer - s.avail_out));
        } while (s.avail_out == 0);
    }
    deflateEnd(&s);
    return out;
}

// Ours, from the file's bytes to the text the Output pane shows.
bool oursRun(const QString& op, const QByteArray& bytes, qsizetype* outSize)
{
    using S = Codec::Scheme;
    using D = Codec::Direction;
    if (op == u"unpack") {
        const auto r = Inflate::unpackGzip(bytes, Codec::unpackLimit);
        *outSize = r.bytes.size();
        return r.ok();
    }
    if (op == u"bomb") {
        const auto r = Inflate::unpackGzip(bytes, Codec::unpackLimit);
        return r.failure == Inflate::Failure::tooLarge;
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
        const QString input = Codec::textFromUTF8(bytes).value_or(QString());
        const auto r = Codec::transform(input, c.scheme, c.direction, c.options);
        if (!r.ok())
            return false;
        // The result is what the Output pane shows; nothing more is done with it.
        *outSize = r.output->byteCount;
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
    QElapsedTimer t;
    t.start();
    qsizetype outSize = 0;
    if (!oursRun(op, bytes, &outSize))
        return 3;
    const double ms = t.nsecsElapsed() / 1e6;
    QFile report(reportPath);
    if (!report.open(QIODevice::WriteOnly))
        return 4;
    report.write(QByteArray::number(ms) + " " + QByteArray::number(startMB) + " " + QByteArray::number(outSize));
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
    f.write(gzipOf(payload));
    f.close();
    const QString b64 = dir.filePath(QStringLiteral("payload.gz.b64"));
    QFile g(b64);
    g.open(QIODevice::WriteOnly);
    g.write(gzipOf(payload).toBase64());
    g.close();
    QFile b(dir.filePath(QStringLiteral("bomb.gz")));
    b.open(QIODevice::WriteOnly);
    b.write(gzipBomb());
    QFile e(dir.filePath(QStringLiteral("empty.gz")));
    e.open(QIODevice::WriteOnly);
    e.write(gzipOf(QByteArray()));
}

const char* const kPythonTimer = R"(import sys, time, html, urllib.parse
data = open(sys.argv[2], 'rb').read()
t = time.perf_counter()
text = data.decode('utf-8')
out = html.unescape(text).encode('utf-8') if sys.argv[1] == 'html' else urllib.parse.unquote_to_bytes(text)
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
    out << "bench-codec: end to end from a file's bytes to the result the Output pane shows.\n"
           "ours = strict UTF-8 decode of the bytes, then Codec::transform, first call in a fresh child process;\n"
           "command-line peers = wall time of the run minus the same command on an empty file (start-up);\n"
           "Python peers = time inside the interpreter from the file's bytes (decode, call, encode).\n"
           "Median of three rounds, interleaved; peak = child's max RSS (ours: above what it held before reading).\n\n";
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
               .arg("case", -24).arg("ours ms", 9).arg("peer ms", 9).arg("peer", -22).arg("peer/ours", 9)
               .arg("peak MB ours/peer", 18).arg("output MB", 9);
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
    QMap<QString, QMap<int, double>> ratioBySize;

    auto runOurs = [&](const QString& op, const QString& path, double* peakMB, qsizetype* outSize) {
        std::vector<double> times;
        for (int round = 0; round < 3; ++round) {
            QFile::remove(report);
            const ChildResult child = spawnMeasured({self, "--child", op, path, report});
            QFile r(report);
            if (!child.ok || !r.open(QIODevice::ReadOnly))
                continue;
            const QList<QByteArray> parts = r.readAll().split(' ');
            times.push_back(parts.value(0).toDouble());
            *peakMB = std::max(*peakMB, child.maxRssMB - parts.value(1).toDouble());
            *outSize = parts.value(2).toLongLong();
        }
        return median(times);
    };
    auto runPeer = [&](const Row& row, const QString& path, const QString& emptyPath, double* peakMB) {
        std::vector<double> times, startup;
        for (int round = 0; round < 3; ++round) {
            if (row.python) {
                QFile::remove(report);
                const ChildResult child = spawnMeasured({"python3", pyScript, row.pythonMode, path, report});
                QFile r(report);
                if (!child.ok || !r.open(QIODevice::ReadOnly))
                    continue;
                times.push_back(r.readAll().toDouble());
                *peakMB = std::max(*peakMB, child.maxRssMB);
                continue;
            }
            QStringList command = row.peer;
            command.replaceInStrings(QStringLiteral("{in}"), emptyPath);
            startup.push_back(spawnMeasured(command).ms);
            command = row.peer;
            command.replaceInStrings(QStringLiteral("{in}"), path);
            const ChildResult child = spawnMeasured(command);
            if (!child.ok)
                continue;
            times.push_back(child.ms);
            *peakMB = std::max(*peakMB, child.maxRssMB);
        }
        const double t = median(times);
        return row.python ? t : t - std::max(0.0, median(startup));
    };

    const QString emptyPath = dir.filePath(QStringLiteral("empty"));
    QFile(emptyPath).open(QIODevice::WriteOnly);

    for (int mb : {1, 10, 50}) {
        spawnMeasured({self, "--generate", dir.path(), QString::number(mb)});
        for (const Row& row : rows) {
            const QString path = dir.filePath(QStringLiteral("%1-%2").arg(row.file).arg(mb));
            double oursPeak = 0, peerPeak = 0;
            qsizetype outSize = 0;
            const double ours = runOurs(row.op, path, &oursPeak, &outSize);
            const bool hasPeer = row.python || !row.peer.isEmpty();
            const double peer = hasPeer ? runPeer(row, path, emptyPath, &peerPeak) : -1;
            oursBySize[row.op][mb] = ours;
            if (hasPeer)
                ratioBySize[row.op][mb] = peer / ours;
            out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
                       .arg(QStringLiteral("%1 %2MB").arg(row.op).arg(mb), -24)
                       .arg(ours, 9, 'f', 1)
                       .arg(hasPeer ? QString::number(peer, 'f', 1) : QStringLiteral("-"), 9)
                       .arg(row.peerName, -22)
                       .arg(hasPeer ? QStringLiteral("%1x").arg(peer / ours, 0, 'f', 2) : QStringLiteral("-"), 9)
                       .arg(QStringLiteral("%1 / %2").arg(oursPeak, 0, 'f', 0).arg(hasPeer ? QString::number(peerPeak, 'f', 0) : QStringLiteral("-")), 18)
                       .arg(outSize / 1048576.0, 9, 'f', 1);
            out.flush();
        }
    }

    // Unpacking: a gzip payload of 32,000,000 bytes of text, and a bomb of 1 GB of zeros.
    {
        spawnMeasured({self, "--generate-unpack", dir.path()});
        const QString gz = dir.filePath(QStringLiteral("payload.gz"));
        const QString b64 = dir.filePath(QStringLiteral("payload.gz.b64"));
        out << "\n";
        for (const auto& [op, path, peerCommand, peerName] :
             {std::tuple{QStringLiteral("unpack"), gz, QStringList{"gzip", "-dc", "{in}"}, QStringLiteral("gzip -dc")},
              std::tuple{QStringLiteral("unpack"), gz, QStringList{"pigz", "-dc", "{in}"}, QStringLiteral("pigz -dc")},
              std::tuple{QStringLiteral("b64gzjson"), b64, QStringList{}, QStringLiteral("(Base64 of it, start options)")}}) {
            double oursPeak = 0, peerPeak = 0;
            qsizetype outSize = 0;
            const double ours = runOurs(op, path, &oursPeak, &outSize);
            double peer = -1;
            if (!peerCommand.isEmpty()) {
                Row row{op, {}, peerCommand, peerName};
                // The empty file is no gzip stream: time start-up on an empty member instead.
                const QString emptyGz = dir.filePath(QStringLiteral("empty.gz"));
                peer = runPeer(row, path, emptyGz, &peerPeak);
            }
            out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
                       .arg(QStringLiteral("%1 32MB").arg(op), -24)
                       .arg(ours, 9, 'f', 1)
                       .arg(peer >= 0 ? QString::number(peer, 'f', 1) : QStringLiteral("-"), 9)
                       .arg(peerName, -22)
                       .arg(peer >= 0 ? QStringLiteral("%1x").arg(peer / ours, 0, 'f', 2) : QStringLiteral("-"), 9)
                       .arg(QStringLiteral("%1 / %2").arg(oursPeak, 0, 'f', 0).arg(peer >= 0 ? QString::number(peerPeak, 'f', 0) : QStringLiteral("-")), 18)
                       .arg(outSize / 1048576.0, 9, 'f', 1);
            out.flush();
        }
        const QString bomb = dir.filePath(QStringLiteral("bomb.gz"));
        const qint64 bombSize = QFileInfo(bomb).size();
        double oursPeak = 0;
        qsizetype outSize = 0;
        const double ours = runOurs(QStringLiteral("bomb"), bomb, &oursPeak, &outSize);
        out << QStringLiteral("%1 %2 %3 %4\n")
                   .arg(QStringLiteral("bomb 1GB in %1 KB").arg(bombSize / 1024), -24)
                   .arg(ours, 9, 'f', 1)
                   .arg("stopped at the cap:", -32)
                   .arg(QStringLiteral("peak %1 MB").arg(oursPeak, 0, 'f', 0));
    }

    out << "\n(peer/ours above 1 = ours is faster.)\nGrowth of our time, 10 MB / 1 MB and 50 MB / 10 MB (linear = about 10 and 5):\n";
    for (auto it = oursBySize.constBegin(); it != oursBySize.constEnd(); ++it)
        out << QStringLiteral("  %1 %2  %3\n")
                   .arg(it.key(), -12)
                   .arg(it.value()[10] / it.value()[1], 6, 'f', 2)
                   .arg(it.value()[50] / it.value()[10], 6, 'f', 2);
    return 0;
}
