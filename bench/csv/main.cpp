// Open and sort of generated CSV files of 1, 10 and 100 MB (10 columns: quoted fields with
// commas, quotes and line breaks, integers, decimals, dates, non-ASCII words), side by side with
// Python's csv.reader, a QStandardItemModel filled the usual way, and Miller's sort, on the same
// files. Every case runs in a child process of its own so that its peak memory is its own.

#include "tools/csv/CSVParser.h"
#include "tools/csv/CSVRefinement.h"
#include "support/ChildProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const char* const kColumns = "id,name,city,quantity,price,date,status,score,code,note\n";
constexpr int kNumericColumn = 4; // price
constexpr int kTextColumn = 1;    // name

QByteArray generate(qint64 target, quint32 seed)
{
    QRandomGenerator rng(seed);
    const char* first[] = {"Anna", "Bo", "Chen", "Dmitri", "Eve", "Farah", "Gus", "Hana", "Ivo", "Jules"};
    const char* last[] = {"Smith", "Okafor", "Larsen", "Nakamura", "Novak", "Silva", "Weiss", "Kowalski"};
    const char* cities[] = {"Z\xC3\xBCrich", "S\xC3\xA3o Paulo", "Krak\xC3\xB3w", "\xE6\x9D\xB1\xE4\xBA\xAC", "Oslo",
                            "Montr\xC3\xA9" "al", "Reykjav\xC3\xADk", "Lyon"};
    const char* statuses[] = {"active", "pending", "inactive"};
    const char* words[] = {"alpha", "beta", "gamma", "delta", "caf\xC3\xA9", "na\xC3\xAFve", "epsilon", "zeta"};
    QByteArray out;
    out.reserve(target + 4096);
    out += kColumns;
    qint64 id = 0;
    while (out.size() < target) {
        out += QByteArray::number(id++);
        out += ',';
        const int kind = rng.bounded(10);
        const QByteArray name = QByteArray(first[rng.bounded(10)]) + ' ' + last[rng.bounded(8)];
        if (kind == 0)
            out += "\"" + name + ", Jr.\"";
        else if (kind == 1)
            out += "\"" + name + " \"\"the second\"\"\"";
        else if (kind == 2)
            out += "\"" + name + "\nsecond line\"";
        else
            out += name;
        out += ',';
        out += cities[rng.bounded(8)];
        out += ',';
        out += QByteArray::number(rng.bounded(100000));
        out += ',';
        out += QByteArray::number(rng.bounded(1000000) / 100.0, 'f', 2);
        out += ',';
        out += QByteArray::number(2000 + rng.bounded(26)) + '-' + QByteArray::number(10 + rng.bounded(3)) + '-'
            + QByteArray::number(10 + rng.bounded(18));
        out += ',';
        out += statuses[rng.bounded(3)];
        out += ',';
        out += QByteArray::number(rng.generateDouble() * 200 - 100, 'f', 3);
        out += ',';
        out += "AB-" + QByteArray::number(rng.bounded(10000));
        out += ',';
        out += QByteArray(words[rng.bounded(8)]) + ' ' + words[rng.bounded(8)];
        out += '\n';
    }
    return out;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void writeReport(const QString& path, double ms, double startMB)
{
    QFile report(path);
    if (report.open(QIODevice::WriteOnly))
        report.write(QByteArray::number(ms) + " " + QByteArray::number(startMB));
}

// What the user waits for: the file's bytes read, decoded, parsed, and the first screen of cells
// made into strings.
CSVParser::Document openDocument(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = CSVParser::repairedUtf8(file.readAll());
    file.close();
    CSVParser::Document document = CSVParser::parseCSV(bytes, std::nullopt, true, nullptr, CSVParser::TextState::repaired);
    qsizetype shown = 0;
    for (qsizetype r = 0; r < std::min<qsizetype>(60, document.rowCount()); ++r) {
        for (qsizetype c = 0; c < document.columnCount(); ++c)
            shown += document.cell(r, c).size();
    }
    return shown >= 0 ? document : CSVParser::Document();
}

int runChild(const QString& op, const QString& path, const QString& reportPath)
{
    const double startMB = residentMB();
    QElapsedTimer t;
    if (op == u"open") {
        t.start();
        const CSVParser::Document document = openDocument(path);
        const double ms = t.nsecsElapsed() / 1e6;
        if (document.rowCount() == 0)
            return 3;
        writeReport(reportPath, ms, startMB);
        return 0;
    }
    if (op == u"sort-number" || op == u"sort-text") {
        const CSVParser::Document document = openDocument(path);
        std::vector<qint32> rows(size_t(document.rowCount()));
        for (qint32 i = 0; i < qint32(rows.size()); ++i)
            rows[size_t(i)] = i;
        const int column = op == u"sort-number" ? kNumericColumn : kTextColumn;
        t.start();
        if (!CSVRefinement::sortRows(document, rows, {{column, true}}))
            return 3;
        writeReport(reportPath, t.nsecsElapsed() / 1e6, startMB);
        return 0;
    }
    if (op == u"search") {
        const CSVParser::Document document = openDocument(path);
        t.start();
        const auto rows = CSVRefinement::matchingRows(document, QStringLiteral("kowalski"), {});
        if (!rows)
            return 3;
        writeReport(reportPath, t.nsecsElapsed() / 1e6, startMB);
        return 0;
    }
    if (op == u"item-model") {
        // The usual way: the text as a QString, split into rows and fields, one item per cell.
        t.start();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return 2;
        const QString text = QString::fromUtf8(file.readAll());
        QStandardItemModel model;
        const QList<QStringList> rows = CSVParser::tokenizeCSV(text, U',');
        model.setColumnCount(rows.value(0).size());
        model.setHorizontalHeaderLabels(rows.value(0));
        for (qsizetype r = 1; r < rows.size(); ++r) {
            QList<QStandardItem*> items;
            items.reserve(rows[r].size());
            for (const QString& cell : rows[r])
                items.append(new QStandardItem(cell));
            model.appendRow(items);
        }
        writeReport(reportPath, t.nsecsElapsed() / 1e6, startMB);
        return 0;
    }
    return 1;
}

struct Measured {
    double ms = -1;
    double peakMB = 0;
    double startMB = 0;
};

Measured runOurs(const QString& self, const QString& op, const QString& path, const QDir& dir, int rounds = 3)
{
    std::vector<double> times;
    Measured m;
    const QString report = dir.filePath(QStringLiteral("report"));
    for (int i = 0; i < rounds; ++i) {
        QFile::remove(report);
        const ChildResult child = spawnMeasured({self, "--child", op, path, report}, dir.filePath("child.out"));
        QFile r(report);
        if (!child.ok || !r.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> parts = r.readAll().split(' ');
        times.push_back(parts.value(0).toDouble());
        m.startMB = parts.value(1).toDouble();
        m.peakMB = std::max(m.peakMB, child.maxRssMB);
    }
    m.ms = median(times);
    return m;
}

Measured runTool(const QStringList& args, const QDir& dir, double startupMs, int rounds = 3)
{
    std::vector<double> times;
    Measured m;
    for (int i = 0; i < rounds; ++i) {
        const ChildResult run = spawnMeasured(args, dir.filePath("tool.out"));
        if (!run.ok)
            continue;
        times.push_back(run.ms - startupMs);
        m.peakMB = std::max(m.peakMB, run.maxRssMB);
    }
    m.ms = median(times);
    return m;
}

QString cell(double v, int width, int precision = 0)
{
    return v < 0 ? QStringLiteral("n/a").rightJustified(width) : QStringLiteral("%1").arg(v, width, 'f', precision);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray runtime = QDir::tempPath().toUtf8() + "/bench-csv-runtime";
        QDir().mkpath(QString::fromUtf8(runtime));
        QFile::setPermissions(QString::fromUtf8(runtime), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime);
    }
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == u"--child")
        return runChild(args[2], args[3], args[4]);

    QTemporaryDir tmp;
    const QString keep = qEnvironmentVariable("QUORRIX_BENCH_DIR");
    const QDir dir(keep.isEmpty() ? tmp.path() : keep);
    QTextStream out(stdout);
    const QString self = QCoreApplication::applicationFilePath();
    const bool havePython = QFileInfo::exists(QStringLiteral("/usr/bin/python3"));
    const QString python = havePython ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3");
    const QString mlr = QStringLiteral("mlr");
    const QString pyRead = QStringLiteral(
        "import csv,sys\n"
        "with open(sys.argv[1], newline='', encoding='utf-8', errors='replace') as f: rows = list(csv.reader(f))\n");
    // Start-up of each peer alone, subtracted from its runs.
    const double pyStart = runTool({python, "-c", "import csv,sys"}, dir, 0, 5).ms;
    const double mlrStart = runTool({mlr, "-n", "put", "end{}"}, dir, 0, 5).ms;

    out << "bench-csv: ours = read + decode + parse + first 60 rows as strings (open), CSVRefinement::sortRows\n"
           "over every row (sort), each in a fresh child process; peak = the child's max RSS.\n"
           "Peers: Python csv.reader into a list (subprocess, start-up " << QString::number(pyStart, 'f', 0)
        << " ms subtracted);\n"
           "QStandardItemModel filled the usual way (QString, one item per cell; run up to 10 MB, the 100 MB\n"
           "figure is extrapolated linearly from 10 MB and marked ~);\n"
           "Miller sort (mlr --icsv --ocsv sort -nf/-f, whole run incl. its own read and write, start-up "
        << QString::number(mlrStart, 'f', 0) << " ms subtracted).\n"
           "Medians of three runs.\n\n";
    out.flush();

    QMap<QString, QMap<int, double>> ours;
    for (int mb : {1, 10, 100}) {
        const QString path = dir.filePath(QStringLiteral("table-%1MB.csv").arg(mb));
        if (!QFile::exists(path)) {
            QFile f(path);
            f.open(QIODevice::WriteOnly);
            f.write(generate(qint64(mb) * 1000 * 1000, 7 + mb));
        }
        const double inputMB = QFileInfo(path).size() / 1e6;
        qint64 rows = 0;
        {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            rows = CSVParser::parseCSV(f.readAll(), std::nullopt, true).rowCount();
        }
        out << QStringLiteral("== %1 MB file (%2 MB, %3 rows x 10 columns)\n").arg(mb).arg(inputMB, 0, 'f', 1).arg(rows);

        const Measured open = runOurs(self, QStringLiteral("open"), path, dir);
        const Measured py = havePython ? runTool({python, "-c", pyRead, path}, dir, pyStart) : Measured{};
        Measured items;
        bool extrapolated = false;
        if (mb <= 10) {
            items = runOurs(self, QStringLiteral("item-model"), path, dir, mb <= 1 ? 3 : 1);
        } else {
            extrapolated = true;
            const QString small = dir.filePath(QStringLiteral("table-10MB.csv"));
            items = runOurs(self, QStringLiteral("item-model"), small, dir, 1);
            items.ms *= double(mb) / 10.0;
            items.peakMB *= double(mb) / 10.0;
        }
        ours[QStringLiteral("open")][mb] = open.ms;
        out << QStringLiteral("  open        ours %1 ms (%2 MB/s) peak %3 MB (%4x file; %5 MB above the program's own %6 MB)\n")
                   .arg(cell(open.ms, 8, 1)).arg(inputMB / (open.ms / 1000), 0, 'f', 0)
                   .arg(open.peakMB, 0, 'f', 0).arg(open.peakMB / inputMB, 0, 'f', 2)
                   .arg(open.peakMB - open.startMB, 0, 'f', 0).arg(open.startMB, 0, 'f', 0);
        out << QStringLiteral("              python csv.reader %1 ms (%2 MB/s) peak %3 MB; ours is %4x faster\n")
                   .arg(cell(py.ms, 8, 1)).arg(py.ms > 0 ? inputMB / (py.ms / 1000) : 0.0, 0, 'f', 0)
                   .arg(py.peakMB, 0, 'f', 0).arg(py.ms > 0 ? py.ms / open.ms : 0.0, 0, 'f', 1);
        out << QStringLiteral("              QStandardItemModel %1%2 ms peak %1%3 MB; ours is %4x faster\n")
                   .arg(extrapolated ? "~" : "").arg(cell(items.ms, 8, 1)).arg(items.peakMB, 0, 'f', 0)
                   .arg(items.ms / open.ms, 0, 'f', 1);
        {
            const Measured search = runOurs(self, QStringLiteral("search"), path, dir);
            ours[QStringLiteral("search")][mb] = search.ms;
            out << QStringLiteral("  search      ours %1 ms (\"kowalski\" in every cell, case-insensitive)\n").arg(cell(search.ms, 8, 1));
        }
        for (const QString& op : {QStringLiteral("sort-number"), QStringLiteral("sort-text")}) {
            const Measured sort = runOurs(self, op, path, dir);
            const bool numeric = op == u"sort-number";
            const QString field = numeric ? QStringLiteral("price") : QStringLiteral("name");
            const Measured miller = runTool({mlr, "--icsv", "--ocsv", "sort", numeric ? "-nf" : "-f", field, path}, dir, mlrStart);
            const Measured millerCat = runTool({mlr, "--icsv", "--ocsv", "cat", path}, dir, mlrStart, 1);
            ours[op][mb] = sort.ms;
            out << QStringLiteral("  %1 ours %2 ms peak %3 MB | mlr %4 ms (read+write alone %5 ms) peak %6 MB\n")
                       .arg(op, -11).arg(cell(sort.ms, 8, 1)).arg(sort.peakMB, 0, 'f', 0).arg(cell(miller.ms, 8, 1))
                       .arg(cell(millerCat.ms, 0, 1)).arg(miller.peakMB, 0, 'f', 0);
        }
        out.flush();
    }
    out << "\nGrowth of our time, 10 MB / 1 MB and 100 MB / 10 MB (linear = 10):\n";
    for (auto it = ours.constBegin(); it != ours.constEnd(); ++it)
        out << QStringLiteral("  %1 %2  %3\n")
                   .arg(it.key(), -12)
                   .arg(it.value()[10] / it.value()[1], 6, 'f', 2)
                   .arg(it.value()[100] / it.value()[10], 6, 'f', 2);
    return 0;
}
