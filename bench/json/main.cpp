// Throughput and peak memory of validate, pretty-print (2 spaces) and minify on generated
// documents of 1, 10 and 50 MB, side by side with jq (`jq .` and `jq -c`) on the same files.
// Every case runs in a child process of its own so that its peak memory is its own.

#include "tools/json/JSONFormatter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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

struct ChildResult {
    double ms = -1;
    double maxRssMB = 0;
    bool ok = false;
};

// Runs argv with stdout sent to `outPath`; peak memory from the kernel's accounting of the child.
ChildResult spawnMeasured(const QStringList& args, const QString& outPath, bool timeWholeRun)
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
    posix_spawn_file_actions_addopen(&actions, 1, outPath.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    ChildResult result;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return result;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double wall = timer.nsecsElapsed() / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.maxRssMB = usage.ru_maxrss / 1024.0;
    if (timeWholeRun)
        result.ms = wall;
    return result;
}

// This process's resident size now, from the kernel's status file.
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

int runChild(const QString& op, const QString& path, const QString& reportPath)
{
    // What the program itself holds before it reads the document (libraries, heap).
    const double startMB = residentMB();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 2;
    const QByteArray bytes = file.readAll();
    file.close();
    QElapsedTimer t;
    t.start();
    const QString text = QString::fromUtf8(bytes);
    const double decodeMs = t.nsecsElapsed() / 1e6;
    double best = 1e99, first = 0;
    qsizetype outSize = 0;
    for (int run = 0; run < 3; ++run) {
        t.restart();
        if (op == u"validate") {
            const auto v = JSONFormatter::validate(text);
            if (!v.isValid)
                return 3;
        } else if (op == u"pretty") {
            const auto r = JSONFormatter::format(text, JSONFormatter::Indent::spaces(2), JSONFormatter::SortMode::none);
            if (!r.ok())
                return 3;
            outSize = r.text.size();
        } else {
            const auto r = JSONFormatter::minify(text);
            if (!r.ok())
                return 3;
            outSize = r.text.size();
        }
        const double ms = t.nsecsElapsed() / 1e6;
        if (run == 0)
            first = ms;
        best = std::min(best, ms);
    }
    QFile report(reportPath);
    if (!report.open(QIODevice::WriteOnly))
        return 4;
    report.write(QByteArray::number(first) + " " + QByteArray::number(decodeMs) + " " + QByteArray::number(outSize) + " "
                 + QByteArray::number(best) + " " + QByteArray::number(startMB));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == u"--child")
        return runChild(args[2], args[3], args[4]);

    QTemporaryDir tmp;
    // QUORRIX_BENCH_DIR keeps the generated documents for a closer look.
    const QString keep = qEnvironmentVariable("QUORRIX_BENCH_DIR");
    const QDir dir(keep.isEmpty() ? tmp.path() : keep);
    QTextStream out(stdout);
    const QString self = QCoreApplication::applicationFilePath();
    const QString jq = QStringLiteral("/usr/bin/jq");
    const bool haveJq = QFile::exists(jq);
    out << "bench-json: ours = JSONFormatter on the text held as QString (first call in a fresh child process,\n"
           "as the program meets it; \"warm\" = best of two more calls in that process);\n"
           "baseline = " << jq << " as a subprocess on the same file (wall time, output to a file).\n"
           "Both sides: median of three runs, interleaved.\n"
           "MB/s are per MB of input file; peak = child's max RSS (x = multiple of the input size);\n"
           "\"above the program's own\" leaves out what the process held before reading the file.\n\n";
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
               .arg("size", -7).arg("op", -9).arg("ours ms", 9).arg("ours MB/s", 10).arg("peak MB(x)", 13)
               .arg("jq ms", 9).arg("jq MB/s", 9).arg("speed-up", 9);
    out.flush();
    QMap<QString, QMap<int, double>> oursMs;
    for (int mb : {1, 10, 50}) {
        const QString path = dir.filePath(QStringLiteral("doc-%1MB.json").arg(mb));
        if (!QFile::exists(path)) {
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write(generate(qint64(mb) * 1024 * 1024, 42 + mb));
        }
        const double inputMB = QFileInfo(path).size() / 1048576.0;
        for (const QString& op : {QStringLiteral("validate"), QStringLiteral("pretty"), QStringLiteral("minify")}) {
            // Each side runs three times, interleaved so that the machine's moods hit both
            // alike; the medians are compared.
            const QString report = dir.filePath(QStringLiteral("report"));
            std::vector<double> oursRuns, warmRuns, baseRuns;
            ChildResult ours, base;
            double decodeMs = -1;
            double startMB = 0;
            for (int round = 0; round < 3; ++round) {
                QFile::remove(report);
                const ChildResult child = spawnMeasured({self, "--child", op, path, report}, dir.filePath("child.out"), false);
                QFile r(report);
                if (child.ok && r.open(QIODevice::ReadOnly)) {
                    const QList<QByteArray> parts = r.readAll().split(' ');
                    oursRuns.push_back(parts.value(0).toDouble());
                    decodeMs = parts.value(1).toDouble();
                    warmRuns.push_back(parts.value(3).toDouble());
                    startMB = parts.value(4).toDouble();
                    ours.ok = true;
                    ours.maxRssMB = std::max(ours.maxRssMB, child.maxRssMB);
                }
                if (haveJq) {
                    QStringList jqArgs{jq};
                    if (op == u"minify")
                        jqArgs << "-c";
                    else if (op == u"validate")
                        jqArgs << "-e" << "type";
                    jqArgs << (op == u"validate" ? QString() : QStringLiteral(".")) << path;
                    jqArgs.removeAll(QString());
                    const ChildResult run = spawnMeasured(jqArgs, dir.filePath("jq.out"), true);
                    if (run.ok) {
                        baseRuns.push_back(run.ms);
                        base.ok = true;
                        base.maxRssMB = std::max(base.maxRssMB, run.maxRssMB);
                    }
                }
            }
            const double ms = median(oursRuns);
            const double warmMs = median(warmRuns);
            base.ms = median(baseRuns);
            oursMs[op][mb] = ms;
            oursMs[op + QStringLiteral(" warm")][mb] = warmMs;
            out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
                       .arg(QStringLiteral("%1MB").arg(mb), -7)
                       .arg(op, -9)
                       .arg(ms, 9, 'f', 1)
                       .arg(inputMB / (ms / 1000), 10, 'f', 0)
                       .arg(QStringLiteral("%1(%2x)").arg(ours.maxRssMB, 0, 'f', 0).arg(ours.maxRssMB / inputMB, 0, 'f', 1), 13)
                       .arg(base.ms, 9, 'f', 1)
                       .arg(base.ok ? inputMB / (base.ms / 1000) : 0.0, 9, 'f', 0)
                       .arg(base.ok ? QStringLiteral("%1x").arg(base.ms / ms, 0, 'f', 1) : QStringLiteral("n/a"), 9);
            const double aboveStart = ours.maxRssMB - startMB;
            out << QStringLiteral("        warm %1 ms; peak above the program's own %2 MB: %3 MB (%4x); jq peak %5 MB (%6x)")
                       .arg(warmMs, 0, 'f', 1)
                       .arg(startMB, 0, 'f', 0)
                       .arg(aboveStart, 0, 'f', 0)
                       .arg(aboveStart / inputMB, 0, 'f', 1)
                       .arg(base.maxRssMB, 0, 'f', 0)
                       .arg(base.maxRssMB / inputMB, 0, 'f', 1);
            if (op == u"validate")
                out << QStringLiteral("; file UTF-8 to QString decode, not counted: %1 ms").arg(decodeMs, 0, 'f', 1);
            out << "\n";
            out.flush();
        }
    }
    out << "\nGrowth of our time, 10 MB / 1 MB and 50 MB / 10 MB (linear = about 10 and 5):\n";
    for (auto it = oursMs.constBegin(); it != oursMs.constEnd(); ++it)
        out << QStringLiteral("  %1 %2  %3\n")
                   .arg(it.key(), -9)
                   .arg(it.value()[10] / it.value()[1], 6, 'f', 2)
                   .arg(it.value()[50] / it.value()[10], 6, 'f', 2);
    return 0;
}
