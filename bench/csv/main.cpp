// Parsing CSV, and parse + sort + write, from a file to a file, on generated tables (10 columns:
// quoted fields with commas, quotes and line breaks, numbers, dates, non-ASCII words; and numbers
// alone, 119 columns wide) and on the corpus's tweets and polls repeated, beside libcsv and
// Python's csv module for parsing and Miller for parse + sort + write. Ours runs pinned to one CPU
// and on all of them; every run is a child process of its own, timing the first call or, warm,
// a second after an untimed first.

#include "kit/TextFileLoader.h"
#include "tools/csv/CSVParser.h"
#include "tools/csv/CSVRefinement.h"
#include "support/Corpus.h"
#include "support/Machine.h"
#include "support/Series.h"
#include "support/Targets.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csv.h>

#include <cstdio>
#include <vector>

namespace {

using namespace bench;

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

// A wide table of numbers, as statistics offices publish them: counts, shares with one to four
// decimals, signed changes, and now and then an empty cell.
QByteArray generateNumbers(qint64 target, quint32 seed, int columns)
{
    QRandomGenerator rng(seed);
    QByteArray out;
    out.reserve(target + 8192);
    for (int c = 0; c < columns; ++c) {
        if (c)
            out += ',';
        out += "v" + QByteArray::number(c + 1);
    }
    out += '\n';
    while (out.size() < target) {
        for (int c = 0; c < columns; ++c) {
            if (c)
                out += ',';
            if (rng.bounded(40) == 0)
                continue;
            switch (c % 4) {
            case 0: out += QByteArray::number(rng.bounded(1000000)); break;
            case 1: out += QByteArray::number(rng.bounded(10000) / 100.0, 'f', 1 + c % 3); break;
            case 2: out += QByteArray::number(rng.generateDouble() * 20 - 10, 'f', 4); break;
            default: out += QByteArray::number(rng.bounded(100)); break;
            }
        }
        out += '\n';
    }
    return out;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// What the user waits for when opening: the file's bytes read as the tool reads them, repaired as
// UTF-8, parsed, and the first screen of cells made into strings.
CSVParser::Document openDocument(const QString& path)
{
    const QByteArray bytes = CSVParser::repairedUtf8(TextFileLoader::readBytes(path).value_or(QByteArray()));
    CSVParser::Document document = CSVParser::parseCSV(bytes, std::nullopt, true, nullptr, CSVParser::TextState::repaired);
    qsizetype shown = 0;
    for (qsizetype r = 0; r < std::min<qsizetype>(60, document.rowCount()); ++r)
        for (qsizetype c = 0; c < document.columnCount(); ++c)
            shown += document.cell(r, c).size();
    return shown >= 0 ? document : CSVParser::Document();
}

qint64 oursParse(const QString& path) { return openDocument(path).rowCount(); }

void appendField(QByteArray& out, QByteArrayView cell)
{
    if (cell.contains(',') || cell.contains('"') || cell.contains('\n') || cell.contains('\r')) {
        out += '"';
        for (const char c : cell) {
            if (c == '"')
                out += '"';
            out += c;
        }
        out += '"';
    } else {
        out += cell;
    }
}

// Open, sort by one column, write the rows in that order as CSV (a writer of this benchmark's:
// the tool itself copies rows out but writes no CSV file).
qint64 oursSortWrite(const QString& in, const QString& out, qint64 column)
{
    const CSVParser::Document document = openDocument(in);
    std::vector<qint32> rows(size_t(document.rowCount()));
    for (qint32 i = 0; i < qint32(rows.size()); ++i)
        rows[size_t(i)] = i;
    if (!CSVRefinement::sortRows(document, rows, {{column, true}}))
        return -1;
    QByteArray text;
    text.reserve(QFileInfo(in).size() + 1024);
    for (qsizetype c = 0; c < document.columnCount(); ++c) {
        if (c)
            text += ',';
        appendField(text, document.columns()[c].name.toUtf8());
    }
    text += '\n';
    for (const qint32 r : rows) {
        for (qsizetype c = 0; c < document.columnCount(); ++c) {
            if (c)
                text += ',';
            appendField(text, document.cellUtf8(r, c));
        }
        text += '\n';
    }
    return writeFile(out, text) ? text.size() : -1;
}

struct Counts {
    qint64 fields = 0;
    qint64 rows = 0;
    qint64 bytes = 0;
};

// libcsv hands each field's bytes (unquoted, copied into its buffer) and each row's end.
// It reads the file the way ours does, so that the two differ in parsing alone.
qint64 libcsvParse(const QString& path)
{
    const QByteArray bytes = TextFileLoader::readBytes(path).value_or(QByteArray());
    csv_parser parser;
    if (csv_init(&parser, 0) != 0)
        return -1;
    Counts counts;
    auto field = [](void* data, size_t size, void* userdata) {
        (void)data;
        auto* c = static_cast<Counts*>(userdata);
        ++c->fields;
        c->bytes += qint64(size);
    };
    auto row = [](int, void* userdata) { ++static_cast<Counts*>(userdata)->rows; };
    const bool ok = csv_parse(&parser, bytes.constData(), size_t(bytes.size()), field, row, &counts) == size_t(bytes.size())
                    && csv_fini(&parser, field, row, &counts) == 0;
    csv_free(&parser);
    return ok ? counts.rows : -1;
}

// Inputs are written from a child: this process stays small, so that the programs it starts do
// not count its pages as theirs.
void writeInputs(const QDir& dir)
{
    for (int mb : {1, 10, 100})
        writeFile(dir.filePath(QStringLiteral("generated-%1.csv").arg(mb)), generate(qint64(mb) * 1000 * 1000, 7 + mb));
    for (int mb : {10, 100})
        writeFile(dir.filePath(QStringLiteral("numbers-%1.csv").arg(mb)), generateNumbers(qint64(mb) * 1000 * 1000, 3 + mb, 119));
    for (const char* corpus : {"tweets", "raw-polls"})
        for (int mb : {10, 100}) {
            const Input repeated = csvRowsRepeatedTo(QStringLiteral("csv/%1.csv").arg(QLatin1String(corpus)), qint64(mb) * 1000 * 1000);
            if (repeated.isEmpty())
                continue;
            writeFile(dir.filePath(QStringLiteral("%1-%2.csv").arg(QLatin1String(corpus)).arg(mb)), repeated.bytes);
            writeFile(dir.filePath(QStringLiteral("%1-%2.name").arg(QLatin1String(corpus)).arg(mb)), repeated.name.toUtf8());
        }
}

QString times(double v) { return v < 0 ? QStringLiteral("n/a") : QStringLiteral("%1x").arg(v, 0, 'f', 2); }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // --parse-only: the parse cases beside libcsv alone, no Python, no sorting.
    const bool parseOnly = QCoreApplication::arguments().contains(QStringLiteral("--parse-only"));
    printMachine("bench-csv");
    QTemporaryDir tmp;
    const QString keep = qEnvironmentVariable("QUORRIX_BENCH_DIR");
    const QDir dir(keep.isEmpty() ? tmp.path() : keep);
    const int rounds = roundsWanted();
    const Sample floor = runProcess(Cores::one, {"true"});
    const Sample pyStart = runProcess(Cores::one, {"python3", "-c", "import csv, sys"});
    const Sample mlrStart = runProcess(Cores::one, {"mlr", "-n", "put", "end{}"});
    std::printf("Parse: ours = read the file as the tool does (TextFileLoader::readBytes), repair it as UTF-8,\n"
                "  CSVParser::parseCSV, the first 60 rows as strings (what opening shows); libcsv %d.%d = read the file the same way, csv_parse with callbacks counting fields and rows (it\n"
                "  copies each field into its buffer, makes no strings); Python csv = a whole python3 process building\n"
                "  the list of rows, one str per cell (start-up %.0f ms included).\n"
                "Sort: ours = open as above, CSVRefinement::sortRows on one column, every row written as CSV to a file;\n"
                "  Miller = mlr --icsv --ocsv sort (start-up %.0f ms included), output to a file. What differs: ours\n"
                "  compares text case-insensitively by locale with digit runs by value, Miller -f by bytes.\n"
                "Peers run on one core. Peak of in-process sides: what the child held above its start; of programs:\n"
                "their max RSS, which here starts at %.1f MB (an empty program's).\n\n",
                CSV_MAJOR, CSV_MINOR, pyStart.wallMs, mlrStart.wallMs, floor.peakMB);
    runForked(Cores::all, [&] { return writeInputs(dir), qint64(0); });

    struct Doc {
        QString file;
        QString name;
        int mb;
        qint64 sortColumn;
        QString sortField;
    };
    std::vector<Doc> docs;
    for (int mb : {1, 10, 100})
        docs.push_back({dir.filePath(QStringLiteral("generated-%1.csv").arg(mb)), QString(), mb, kTextColumn, QStringLiteral("name")});
    for (int mb : {10, 100})
        docs.push_back({dir.filePath(QStringLiteral("numbers-%1.csv").arg(mb)), QString(), mb, -1, QString()});
    const size_t generatedDocs = docs.size();
    for (int mb : {10, 100}) {
        const QString file = dir.filePath(QStringLiteral("tweets-%1.csv").arg(mb));
        if (QFile::exists(file))
            docs.push_back({file, QString::fromUtf8(readFile(dir.filePath(QStringLiteral("tweets-%1.name").arg(mb)))), mb, 5,
                            QStringLiteral("screen_name")});
    }
    for (int mb : {10, 100}) {
        const QString file = dir.filePath(QStringLiteral("raw-polls-%1.csv").arg(mb));
        if (QFile::exists(file))
            docs.push_back({file, QString::fromUtf8(readFile(dir.filePath(QStringLiteral("raw-polls-%1.name").arg(mb)))), mb, -1,
                            QString()});
    }
    if (docs.size() == generatedDocs)
        std::printf("(no corpus found: set QUORRIX_BENCH_CORPUS; real documents skipped)\n\n");

    Targets targets;
    QStringList firstMisses, warmMisses, coreMisses, spreadMisses;
    const QString out = dir.filePath(QStringLiteral("out.csv"));
    std::vector<Series> oursOneCore;
    for (Doc& doc : docs) {
        const qint64 size = QFileInfo(doc.file).size();
        if (doc.name.isEmpty())
            doc.name = doc.sortColumn < 0 ? QStringLiteral("generated numbers, 119 columns (%1)").arg(megabytes(size))
                                          : QStringLiteral("generated table, 10 columns (%1)").arg(megabytes(size));
        const QString path = doc.file;
        const std::function<qint64()> ours = [&path] { return oursParse(path); };
        const std::function<qint64()> peer = [&path] { return libcsvParse(path); };
        std::vector<Side> sides = firstAndWarmSides(ours, QStringLiteral("libcsv"), peer);
        // Python takes seconds per 10 MB: beyond that its rate is known and the benchmark's time is
        // better spent elsewhere.
        if (doc.mb <= 10 && !parseOnly)
            sides.push_back({"python3 csv.reader", [&] {
                                 return runProcess(Cores::one, {"python3", "-c",
                                                                "import csv, sys\n"
                                                                "with open(sys.argv[1], newline='', encoding='utf-8', errors='replace') as f:\n"
                                                                "    rows = list(csv.reader(f))\n",
                                                                path});
                             }});
        const std::vector<Series> s = interleave(sides, rounds);
        printCase(QStringLiteral("parse %1").arg(doc.name), size, s);
        const Series& one = *find(s, "ours, 1 core");
        const Series& all = *find(s, "ours, all cores");
        const Series& warmOne = *find(s, "ours warm, 1 core");
        const Series& warmAll = *find(s, "ours warm, all cores");
        oursOneCore.push_back(one);
        const double first = speedup(one, *find(s, "libcsv")), warm = speedup(warmOne, *find(s, "libcsv warm"));
        const Series* python = find(s, "python3 csv.reader");
        std::printf("  ours / libcsv, first call: 1 core %s, all cores %s; warm: 1 core %s, all cores %s; ours / Python: "
                    "1 core %s (above 1: ours faster)\n\n",
                    qPrintable(times(first)), qPrintable(times(speedup(all, *find(s, "libcsv")))), qPrintable(times(warm)),
                    qPrintable(times(speedup(warmAll, *find(s, "libcsv warm")))),
                    python ? qPrintable(times(speedup(one, *python))) : "not run above 10 MB");
        if (first < 1)
            firstMisses << QStringLiteral("%1 %2").arg(doc.name, times(first));
        if (warm < 1)
            warmMisses << QStringLiteral("%1 %2").arg(doc.name, times(warm));
        if (all.medianMs() > one.medianMs() || warmAll.medianMs() > warmOne.medianMs())
            coreMisses << QStringLiteral("%1 (first %2 vs %3 ms, warm %4 vs %5 ms)")
                              .arg(doc.name, QString::number(all.medianMs(), 'f', 1), QString::number(one.medianMs(), 'f', 1),
                                   QString::number(warmAll.medianMs(), 'f', 1), QString::number(warmOne.medianMs(), 'f', 1));
        for (const Series* ourSeries : {&one, &all, &warmOne, &warmAll})
            if (ourSeries->maxMs() > 1.5 * ourSeries->medianMs())
                spreadMisses << QStringLiteral("%1, %2 (%3 ms over %4)")
                                    .arg(doc.name, ourSeries->name, QString::number(ourSeries->maxMs(), 'f', 1),
                                         QString::number(ourSeries->medianMs(), 'f', 1));
    }
    auto detail = [](const QStringList& misses, const char* none, const char* some) {
        return misses.isEmpty() ? QString::fromLatin1(none) : QString::fromLatin1(some) + misses.join(u", ");
    };
    targets.check(QStringLiteral("parse, first call, at least libcsv's throughput on 1 core, every table"), firstMisses.isEmpty(),
                  detail(firstMisses, "no table slower", "slower on "));
    targets.check(QStringLiteral("parse, warm, at least libcsv's throughput on 1 core, every table"), warmMisses.isEmpty(),
                  detail(warmMisses, "no table slower", "slower on "));
    targets.check(QStringLiteral("parse on all cores never slower than on one"), coreMisses.isEmpty(),
                  detail(coreMisses, "no table slower", "slower on "));
    targets.check(QStringLiteral("parse: our slowest run at most 1.5x our median"), spreadMisses.isEmpty(),
                  detail(spreadMisses, "every series within", "beyond on "));

    // The first three are the generated 1, 10 and 100 MB tables.
    std::printf("parse growth on 1 core, time per MB (1 = linear): 10 MB over 1 MB %.2f, 100 MB over 10 MB %.2f\n\n",
                growth(oursOneCore[0], QFileInfo(docs[0].file).size(), oursOneCore[1], QFileInfo(docs[1].file).size()),
                growth(oursOneCore[1], QFileInfo(docs[1].file).size(), oursOneCore[2], QFileInfo(docs[2].file).size()));

    // Parse + sort + write, beside Miller doing the same.
    struct SortCase {
        const Doc* doc;
        qint64 column;
        QString field;
        bool numeric;
    };
    std::vector<SortCase> sorts;
    for (const Doc& doc : docs) {
        // Miller's sort takes half a minute per 100 MB: the 10 MB tables only.
        if (doc.mb != 10 || doc.sortColumn < 0 || parseOnly)
            continue;
        sorts.push_back({&doc, doc.sortColumn, doc.sortField, false});
        if (doc.sortField == u"name")
            sorts.push_back({&doc, kNumericColumn, QStringLiteral("price"), true});
    }
    for (const SortCase& c : sorts) {
        const QString path = c.doc->file;
        const qint64 column = c.column;
        const std::vector<Series> s = interleave(
            {{"ours, 1 core", [&] { return runForked(Cores::one, [&] { return oursSortWrite(path, out, column); }); }},
             {"ours, all cores", [&] { return runForked(Cores::all, [&] { return oursSortWrite(path, out, column); }); }},
             {c.numeric ? "mlr sort -nf" : "mlr sort -f", [&] {
                  return runProcess(Cores::one, {"mlr", "--icsv", "--ocsv", "sort", c.numeric ? "-nf" : "-f", c.field, path}, out);
              }}},
            rounds);
        printCase(QStringLiteral("parse + sort by %1 + write, %2").arg(c.field, c.doc->name), QFileInfo(path).size(), s);
        std::printf("  ours / Miller: 1 core %s, all cores %s (above 1: ours faster)\n\n", qPrintable(times(speedup(s[0], s[2]))),
                    qPrintable(times(speedup(s[1], s[2]))));
    }
    printLoadAtEnd();
    return targets.finish();
}
