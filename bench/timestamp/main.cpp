// Reading and writing moments against GNU date (one process over a file) and Python's
// datetime.fromisoformat with zoneinfo; a zone-search keystroke; the zone catalogue.
#include "tools/timestamp/Timestamp.h"
#include "tools/timestamp/TimestampToolViewModel.h"
#include "tools/timestamp/TimestampZones.h"
#include "tools/timestamp/ui/TimestampResultSections.h"
#include "tools/timestamp/ui/TimestampToolView.h"
#include "tools/timestamp/ui/TimestampZonePicker.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace Timestamp;

static const QTimeZone zone("Europe/Paris");

static QStringList makeInputs(const QString& kind, int count)
{
    QRandomGenerator random(42);
    QStringList out;
    out.reserve(count);
    for (int i = 0; i < count; ++i) {
        const qint64 s = random.bounded(-2000000000LL, 4000000000LL);
        const qint64 day = (s >= 0 ? s : s - 86399) / 86400;
        const CivilDate c = civilFromDays(day);
        const QString date = QStringLiteral("%1-%2-%3").arg(c.year, 4, 10, QLatin1Char('0'))
                                 .arg(c.month, 2, 10, QLatin1Char('0')).arg(c.day, 2, 10, QLatin1Char('0'));
        const QString clock = clockText(s - day * 86400);
        if (kind == u"seconds")
            out << QString::number(s);
        else if (kind == u"milliseconds")
            out << QString::number(s * 1000 + random.bounded(1000));
        else if (kind == u"iso8601")
            out << date + u'T' + clock + QStringLiteral("+05:30");
        else if (kind == u"iso8601 local")
            out << date + u'T' + clock;
        else
            out << rfc2822Stem(s) + QStringLiteral(" +0200");
    }
    return out;
}

// Ours: parse and build every row, per input, in microseconds.
static double ours(const QStringList& inputs)
{
    QElapsedTimer t;
    t.start();
    qsizetype sink = 0;
    for (const QString& text : inputs) {
        const ParseResult r = parse(text, UnitChoice::automatic, zone);
        if (const auto* p = std::get_if<Parsed>(&r)) {
            const RowLists lists = rows(p->instant.seconds, p->instant.nanoseconds, zone);
            sink += lists.dates[1].value.size();
        }
    }
    if (sink < 0)
        std::puts("");
    return t.nsecsElapsed() / 1000.0 / inputs.size();
}

static QString writeFile(const QTemporaryDir& dir, const QString& name, const QStringList& lines)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(lines.join(u'\n').toUtf8() + '\n');
    return path;
}

static double runProcess(const QString& program, const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Paris"));
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    p.waitForFinished(600000);
    return t.nsecsElapsed() / 1000.0;
}

// GNU date over the whole file in one process, start-up subtracted.
static double gnuDate(const QTemporaryDir& dir, const QStringList& inputs, bool numbers)
{
    QStringList lines = inputs;
    if (numbers)
        for (QString& l : lines)
            l = u'@' + (l.size() > 11 ? l.left(l.size() - 3) + u'.' + l.right(3) : l);
    const QString fmt = QStringLiteral("+%s %FT%T%:z %a %j %G-W%V");
    const double startup = runProcess(QStringLiteral("date"), {QStringLiteral("-f"), writeFile(dir, "one", {lines[0]}), fmt});
    const double all = runProcess(QStringLiteral("date"), {QStringLiteral("-f"), writeFile(dir, "all", lines), fmt});
    return (all - startup) / inputs.size();
}

static const char* pythonScript = R"(
import sys, time, email.utils
from datetime import datetime, timezone
from zoneinfo import ZoneInfo
kind, path = sys.argv[1], sys.argv[2]
z = ZoneInfo("Europe/Paris")
lines = open(path).read().split("\n")[:-1]
t = time.perf_counter()
for l in lines:
    if kind == "seconds": d = datetime.fromtimestamp(int(l), timezone.utc)
    elif kind == "milliseconds": d = datetime.fromtimestamp(int(l) / 1000, timezone.utc)
    elif kind == "rfc2822": d = email.utils.parsedate_to_datetime(l)
    else:
        d = datetime.fromisoformat(l)
        if d.tzinfo is None: d = d.replace(tzinfo=z)
    loc = d.astimezone(z)
    s = (d.isoformat(), loc.isoformat(), email.utils.format_datetime(d.astimezone(timezone.utc)), loc.isocalendar(), loc.strftime("%A %j"), d.timestamp())
print((time.perf_counter() - t) * 1e6 / len(lines))
)";

static double python(const QTemporaryDir& dir, const QString& kind, const QStringList& inputs)
{
    const QString script = dir.filePath("peer.py");
    QFile f(script);
    if (f.open(QIODevice::WriteOnly))
        f.write(pythonScript);
    f.close();
    QProcess p;
    p.start(QStringLiteral("python3"), {script, kind.section(u' ', 0, 0), writeFile(dir, "py", inputs)});
    p.waitForFinished(600000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed().toDouble();
}

static double medianOf(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const bool haveDate = !QStandardPaths::findExecutable(QStringLiteral("date")).isEmpty();
    const bool havePython = !QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty();

    // The catalogue first, as the first search meets it.
    QElapsedTimer t;
    t.start();
    const ZoneCountries catalogue = loadZoneCountries();
    const double catalogueMs = t.nsecsElapsed() / 1e6;
    t.start();
    const QStringList& candidates = TimestampToolViewModel::zoneCandidates();
    const double candidatesMs = t.nsecsElapsed() / 1e6;
    std::printf("catalogue: %lld zones read in %.2f ms; %lld search candidates in %.2f ms (must be < 50 ms)\n",
                (long long)catalogue.size(), catalogueMs, (long long)candidates.size(), candidatesMs);

    std::printf("\nparse and every row, microseconds per input (must be < 20)\n");
    std::printf("%-16s %10s %10s %12s %12s\n", "input", "ours 1k", "ours 100k", "GNU date", "Python");
    for (const QString kind : {"seconds", "milliseconds", "iso8601", "iso8601 local", "rfc2822"}) {
        const QStringList small = makeInputs(kind, 1000);
        const QStringList large = makeInputs(kind, 100000);
        ours(small);  // warm the zone data
        const double a = ours(small);
        const double b = ours(large);
        const double d = haveDate ? gnuDate(dir, large, kind.startsWith(u"seconds") || kind.startsWith(u"milli")) : -1;
        const double py = havePython ? python(dir, kind, large) : -1;
        std::printf("%-16s %10.2f %10.2f %12.2f %12.2f\n", qPrintable(kind), a, b, d, py);
    }

    std::printf("\nzone search, one keystroke over %lld candidates (must be < 2 ms)\n", (long long)candidates.size());
    const QSet<QString> excluded{QStringLiteral("UTC"), QStringLiteral("GMT")};
    const auto& abbreviations = abbreviationDictionary();
    const auto& countries = zoneCountries();
    for (const char* query : {"", "n", "ne", "new", "new y", "são", "germany", "ist", "zzz"}) {
        QList<double> times;
        qsizetype found = 0;
        for (int i = 0; i < 30; ++i) {
            t.start();
            found = TimestampToolViewModel::searchZones(QString::fromUtf8(query), excluded, candidates, abbreviations,
                                                        countries, countryNames)
                        .size();
            times << t.nsecsElapsed() / 1e6;
        }
        std::printf("  %-10s %8.3f ms median, first %.3f ms, %lld zones\n", query, medianOf(times), times.first(),
                    (long long)found);
    }

    // The view: its first showing, a parse's rows on screen, and the picker's list painted.
    QSettings settings(dir.filePath("bench.ini"), QSettings::IniFormat);
    settings.setValue(TimestampToolViewModel::zonesKey, QStringList{"Asia/Kolkata", "America/New_York", "Europe/Paris"});
    TimestampToolViewModel model(settings);
    model.setQuietTime(0);
    t.start();
    TimestampToolView view(&model);
    view.resize(1100, 900);
    view.show();
    auto waitForParse = [&model] {
        QEventLoop loop;
        QObject::connect(&model, &TimestampToolViewModel::parseApplied, &loop, &QEventLoop::quit);
        loop.exec();
    };
    waitForParse();
    (void)view.grab();
    const double firstShowMs = t.nsecsElapsed() / 1e6;
    QList<double> rowsMs;
    for (int i = 0; i < 20; ++i) {
        t.start();
        model.replaceInput(i % 2 ? QStringLiteral("2026-09-26T12:00:00Z") : QString::number(1790380800 + i));
        waitForParse();
        (void)view.grab();
        rowsMs << t.nsecsElapsed() / 1e6;
    }
    QList<double> pickerMs;
    for (const char* query : {"", "n", "new", "tokyo"}) {
        TimestampZonePicker picker(&model, 1790380800);
        picker.setAttribute(Qt::WA_DeleteOnClose, false);
        picker.setWindowFlags(Qt::Widget);
        picker.show();
        t.start();
        picker.searchField()->setText(QString::fromUtf8(query));
        (void)picker.grab();
        pickerMs << t.nsecsElapsed() / 1e6;
    }
    std::printf("\nview (offscreen): first showing with its first rows %.1f ms (must be < 100 ms, quiet time 0);\n"
                "  a new reading's rows on screen %.1f ms median; picker list searched and painted %.1f ms median "
                "(must be < 16 ms)\n",
                firstShowMs, medianOf(rowsMs), medianOf(pickerMs));
    return 0;
}
