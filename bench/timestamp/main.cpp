// Reading moments and writing every row the tool shows, beside ICU's own parsing and formatting
// called directly, GNU date (one process over a file) and Python's datetime with zoneinfo; the
// zone catalogue beside ICU's zone list; a zone-search keystroke; the view's first showing and its
// zone picker. Every run is a child process of its own; the view's children make their
// application after the fork.
#include "tools/timestamp/Timestamp.h"
#include "tools/timestamp/TimestampToolViewModel.h"
#include "tools/timestamp/TimestampZones.h"
#include "tools/timestamp/ui/TimestampToolView.h"
#include "tools/timestamp/ui/TimestampZonePicker.h"
#include "support/Machine.h"
#include "support/Series.h"
#include "support/Targets.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>

#include <unicode/calendar.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/uvernum.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>
#include <vector>

using namespace Timestamp;
using namespace bench;

namespace {

const char* const zoneName = "Europe/Paris";

const QTimeZone& zone()
{
    static const QTimeZone z(zoneName);
    return z;
}

QStringList makeInputs(const QString& kind, int count)
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

// Ours: parse and build every row, per input; the number of inputs read.
qint64 ours(const QStringList& inputs)
{
    qint64 parsed = 0;
    qsizetype sink = 0;
    for (const QString& text : inputs) {
        const ParseResult r = parse(text, UnitChoice::automatic, zone());
        if (const auto* p = std::get_if<Parsed>(&r)) {
            const RowLists lists = rows(p->instant.seconds, p->instant.nanoseconds, zone());
            sink += lists.dates[1].value.size() + lists.calendar[2].value.size() + lists.unixTime[3].value.size();
            ++parsed;
        }
    }
    return sink > 0 ? parsed : -1;
}

// ICU called directly: the text parsed by a SimpleDateFormat of the input's form (numbers by
// from_chars: ICU reads no epoch numbers), then the same rows formatted: Unix numbers, ISO 8601 in
// UTC and in the zone, RFC 2822 and HTTP stems, weekday, day of year, ISO week.
qint64 icuPeer(const QString& kind, const std::vector<std::string>& inputs)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale posix("en_US_POSIX");
    std::unique_ptr<icu::TimeZone> paris(icu::TimeZone::createTimeZone(zoneName));
    std::unique_ptr<icu::TimeZone> utcZone(icu::TimeZone::createTimeZone("UTC"));
    auto formatter = [&](const char* pattern, const icu::TimeZone& tz) {
        auto f = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(pattern), posix, status);
        f->setTimeZone(tz);
        return f;
    };
    const char* readPattern = kind == u"rfc2822" ? "EEE, dd MMM yyyy HH:mm:ss Z"
        : kind == u"iso8601"                     ? "yyyy-MM-dd'T'HH:mm:ssXXX"
                                                 : "yyyy-MM-dd'T'HH:mm:ss";
    auto reader = formatter(readPattern, *paris);
    auto isoUtc = formatter("yyyy-MM-dd'T'HH:mm:ss.SSSXXX", *utcZone);
    auto isoLocal = formatter("yyyy-MM-dd'T'HH:mm:ss.SSSXXX", *paris);
    auto stem = formatter("EEE, dd MMM yyyy HH:mm:ss", *utcZone);
    auto facts = formatter("EEEE D YYYY-'W'ww", *paris);
    // ISO weeks: Monday first, the first week the one with four days of the new year.
    std::unique_ptr<icu::Calendar> isoCalendar(icu::Calendar::createInstance(paris->clone(), posix, status));
    isoCalendar->setFirstDayOfWeek(UCAL_MONDAY);
    isoCalendar->setMinimalDaysInFirstWeek(4);
    facts->setCalendar(*isoCalendar);
    if (U_FAILURE(status))
        return -1;
    const bool number = kind == u"seconds" || kind == u"milliseconds";
    qint64 parsed = 0;
    qsizetype sink = 0;
    for (const std::string& text : inputs) {
        UDate when = 0;
        if (number) {
            long long n = 0;
            if (std::from_chars(text.data(), text.data() + text.size(), n).ec != std::errc())
                continue;
            when = kind == u"seconds" ? double(n) * 1000 : double(n);
        } else {
            UErrorCode s = U_ZERO_ERROR;
            when = reader->parse(icu::UnicodeString::fromUTF8(text), s);
            if (U_FAILURE(s))
                continue;
        }
        const long long ms = (long long)when;
        const std::string numbers[] = {std::to_string(ms / 1000), std::to_string(ms), std::to_string(ms * 1000),
                                       std::to_string(ms * 1000000)};
        icu::UnicodeString a, b, c, d;
        isoUtc->format(when, a);
        isoLocal->format(when, b);
        stem->format(when, c);
        const icu::UnicodeString rfc = c + " +0000";
        const icu::UnicodeString http = c + " GMT";
        facts->format(when, d);
        sink += a.length() + b.length() + rfc.length() + http.length() + d.length() + qsizetype(numbers[3].size());
        ++parsed;
    }
    return sink > 0 ? parsed : -1;
}

const char* const pythonScript = R"(
import sys, email.utils
from datetime import datetime, timezone
from zoneinfo import ZoneInfo
kind, path = sys.argv[1], sys.argv[2]
z = ZoneInfo("Europe/Paris")
for l in open(path).read().split("\n")[:-1]:
    if kind == "seconds": d = datetime.fromtimestamp(int(l), timezone.utc)
    elif kind == "milliseconds": d = datetime.fromtimestamp(int(l) / 1000, timezone.utc)
    elif kind == "rfc2822": d = email.utils.parsedate_to_datetime(l)
    else:
        d = datetime.fromisoformat(l)
        if d.tzinfo is None: d = d.replace(tzinfo=z)
    loc = d.astimezone(z)
    s = (d.isoformat(), loc.isoformat(), email.utils.format_datetime(d.astimezone(timezone.utc)), loc.isocalendar(), loc.strftime("%A %j"), d.timestamp())
)";

QString writeLines(const QTemporaryDir& dir, const QString& name, const QStringList& lines)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(lines.join(u'\n').toUtf8() + '\n');
    return path;
}

double medianOf(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

QString spread(const std::vector<double>& v, int decimals = 1)
{
    if (v.empty())
        return QStringLiteral("n/a");
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return QStringLiteral("%1 ms (%2-%3)").arg(medianOf(v), 0, 'f', decimals).arg(*lo, 0, 'f', decimals).arg(*hi, 0, 'f', decimals);
}

QString microsPerInput(const Series& s, int count)
{
    return s.ok() ? QString::number(s.medianMs() * 1000 / count, 'f', 2) : QStringLiteral("n/a");
}

// What the children report beside their Samples.
struct Catalogue {
    double catalogueMs = -1;
    double candidatesMs = -1;
    qint64 zones = 0;
    qint64 candidates = 0;
};

constexpr int queryCount = 9;
const char* const queries[queryCount] = {"", "n", "ne", "new", "new y", "são", "germany", "ist", "zzz"};

struct Search {
    double firstMs[queryCount] = {};
    double againMs[queryCount] = {}; // median of 15 more
    qint64 found[queryCount] = {};
};

struct ViewRun {
    double firstShowMs = -1;
    double rowsMs = -1;   // median of 20 readings
    double pickerMs = -1; // median of 4 searches
};

qint64 runView(const QString& settingsPath, ViewRun& report)
{
    int argc = 1;
    char name[] = "bench-timestamp";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QSettings settings(settingsPath, QSettings::IniFormat);
    settings.setValue(TimestampToolViewModel::zonesKey, QStringList{"Asia/Kolkata", "America/New_York", "Europe/Paris"});
    TimestampToolViewModel model(settings);
    model.setQuietTime(0);
    QElapsedTimer t;
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
    report.firstShowMs = t.nsecsElapsed() / 1e6;
    std::vector<double> rowsMs;
    for (int i = 0; i < 20; ++i) {
        t.start();
        model.replaceInput(i % 2 ? QStringLiteral("2026-09-26T12:00:00Z") : QString::number(1790380800 + i));
        waitForParse();
        (void)view.grab();
        rowsMs.push_back(t.nsecsElapsed() / 1e6);
    }
    std::vector<double> pickerMs;
    for (const char* query : {"", "n", "new", "tokyo"}) {
        TimestampZonePicker picker(&model, 1790380800);
        picker.setAttribute(Qt::WA_DeleteOnClose, false);
        picker.setWindowFlags(Qt::Widget);
        picker.show();
        t.start();
        picker.searchField()->setText(QString::fromUtf8(query));
        (void)picker.grab();
        pickerMs.push_back(t.nsecsElapsed() / 1e6);
    }
    report.rowsMs = medianOf(rowsMs);
    report.pickerMs = medianOf(pickerMs);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    (void)argc;
    (void)argv;
    // No application object here: the view's runs make theirs after the fork.
    prepareHeadless();
    printMachine("bench-timestamp");
    const int rounds = roundsWanted();
    Targets targets;
    QTemporaryDir dir;
    const QString python = QFileInfo::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                                 : QStringLiteral("python3");

    // The catalogue first, in fresh children, as the first search meets it.
    Catalogue& catalogue = sharedWithChildren<Catalogue>();
    std::vector<double> catalogueMs, candidatesMs;
    auto catalogueSide = [&](Cores cores, const char* name) {
        return Side{name, [&, cores] {
                        const Sample s = runForked(cores, [&] {
                            QElapsedTimer t;
                            t.start();
                            catalogue.zones = loadZoneCountries().size();
                            catalogue.catalogueMs = t.nsecsElapsed() / 1e6;
                            t.start();
                            catalogue.candidates = TimestampToolViewModel::zoneCandidates().size();
                            catalogue.candidatesMs = t.nsecsElapsed() / 1e6;
                            return catalogue.candidates;
                        });
                        if (s.ok) {
                            catalogueMs.push_back(catalogue.catalogueMs);
                            candidatesMs.push_back(catalogue.candidatesMs);
                        }
                        return s;
                    }};
    };
    std::printf("== Zone catalogue\n"
                "ours = loadZoneCountries (the system's zone tables) then zoneCandidates (the names a search\n"
                "  goes through); peer = ICU %s's zone list: every identifier with its region and canonical\n"
                "  identifier. What differs: ICU's list comes from its own data and names links too.\n\n",
                U_ICU_VERSION);
    const std::vector<Series> cat = interleave(
        {catalogueSide(Cores::one, "ours, 1 core"), catalogueSide(Cores::all, "ours, all cores"),
         {"ICU zone list", [] {
              return runForked(Cores::one, [] {
                  UErrorCode status = U_ZERO_ERROR;
                  std::unique_ptr<icu::StringEnumeration> ids(icu::TimeZone::createEnumeration(status));
                  qint64 n = 0;
                  while (const icu::UnicodeString* id = ids->snext(status)) {
                      char region[8];
                      icu::UnicodeString canonical;
                      icu::TimeZone::getRegion(*id, region, sizeof region, status);
                      icu::TimeZone::getCanonicalID(*id, canonical, status);
                      status = U_ZERO_ERROR;
                      ++n;
                  }
                  return n;
              });
          }}},
        rounds);
    printCase(QStringLiteral("catalogue, %1 zones, %2 search candidates; ICU lists %3")
                  .arg(catalogue.zones).arg(catalogue.candidates).arg(cat[2].outBytes()),
              0, cat);
    std::printf("  (both sides, alternately) tables read %s, candidates %s\n", qPrintable(spread(catalogueMs, 2)),
                qPrintable(spread(candidatesMs, 2)));
    targets.check(QStringLiteral("search candidates ready within 50 ms"), !candidatesMs.empty() && medianOf(candidatesMs) < 50,
                  QStringLiteral("%1 ms median").arg(medianOf(candidatesMs), 0, 'f', 2));

    std::printf("\n== Parse and every row\n"
                "ours = Timestamp::parse then Timestamp::rows (12 rows) per input, zone %s.\n"
                "ICU = the same in ICU %s called directly: SimpleDateFormat parse of the input's form (numbers\n"
                "  by from_chars), then the rows formatted (ISO 8601 UTC and local, RFC 2822, HTTP date,\n"
                "  weekday, day of year, ISO week; Unix numbers by to_string).\n"
                "GNU date = one process over the file (date -f FILE '+%%s %%FT%%T%%:z %%a %%j %%G-W%%V', TZ=%s),\n"
                "  start-up included; it refuses the local times that fall in a gap of the zone and goes on.\n"
                "Python = one process: fromisoformat / fromtimestamp / parsedate_to_datetime with zoneinfo, then\n"
                "  isoformat, format_datetime, isocalendar, strftime; start-up included.\n"
                "Peers on one core; the two programs only on 10,000 inputs, where their start-up weighs less. 10,000\n"
                "inputs (100,000 before) keep the runs short enough to repeat them interleaved with four peers.\n\n",
                zoneName, U_ICU_VERSION, zoneName);
    std::printf("%-16s %7s %12s %12s %12s %12s %12s   us per input, median\n", "input", "count", "ours 1 core", "ours all", "ICU",
                "GNU date", "Python");
    double slowestOurs = 0;
    QString slowestWhat;
    std::vector<QString> details;
    for (const QString kind : {"seconds", "milliseconds", "iso8601", "iso8601 local", "rfc2822"}) {
        std::vector<Series> bySize[2];
        const int counts[2] = {1000, 10000};
        for (int k = 0; k < 2; ++k) {
            const int count = counts[k];
            const QStringList inputs = makeInputs(kind, count);
            std::vector<std::string> utf8;
            for (const QString& s : inputs)
                utf8.push_back(s.toStdString());
            // Zone data warmed here, before the forks, for both sides alike: each run is then a
            // user's n-th reading, not the process's first.
            if (k == 0 && (ours(inputs) < 0 || icuPeer(kind, utf8) < 0))
                std::printf("  (%s: a side read nothing)\n", qPrintable(kind));
            const bool numbers = kind == u"seconds" || kind == u"milliseconds";
            QStringList dateLines = inputs;
            if (numbers)
                for (QString& l : dateLines)
                    l = u'@' + (l.size() > 11 ? l.left(l.size() - 3) + u'.' + l.right(3) : l);
            const QString dateFile = writeLines(dir, QStringLiteral("date-%1").arg(k), dateLines);
            const QString pyFile = writeLines(dir, QStringLiteral("py-%1").arg(k), inputs);
            const QString script = dir.filePath(QStringLiteral("peer.py"));
            if (QFile f(script); f.open(QIODevice::WriteOnly))
                f.write(pythonScript);
            std::vector<Side> sides{{"ours, 1 core", [&] { return runForked(Cores::one, [&] { return ours(inputs); }); }},
                                    {"ours, all cores", [&] { return runForked(Cores::all, [&] { return ours(inputs); }); }},
                                    {"ICU", [&] { return runForked(Cores::one, [&] { return icuPeer(kind, utf8); }); }}};
            if (k == 1) {
                // date answers 1 when a line was invalid (a local time in a gap of the zone) and
                // goes on with the rest: only above 1 is a failure.
                sides.push_back({"GNU date", [&] {
                                     return runProcess(Cores::one, {"sh", "-c", "TZ=$1 date -f \"$2\" \"$3\" 2>/dev/null; [ $? -le 1 ]", "sh",
                                                                    zoneName, dateFile, "+%s %FT%T%:z %a %j %G-W%V"});
                                 }});
                sides.push_back({"Python", [&] { return runProcess(Cores::one, {python, script, kind.section(u' ', 0, 0), pyFile}); }});
            }
            const std::vector<Series> s = interleave(sides, rounds);
            auto at = [&](size_t i) { return i < s.size() ? microsPerInput(s[i], count) : QStringLiteral("-"); };
            auto whole = [&](size_t i) { return i < s.size() ? s[i].summary() : QStringLiteral("-"); };
            std::printf("%-16s %7d %12s %12s %12s %12s %12s\n", qPrintable(kind), count, qPrintable(at(0)), qPrintable(at(1)),
                        qPrintable(at(2)), qPrintable(at(3)), qPrintable(at(4)));
            details.push_back(QStringLiteral("%1, %2 inputs: %3 | %4 | %5 | %6 | %7")
                                  .arg(kind).arg(count).arg(whole(0), whole(1), whole(2), whole(3), whole(4)));
            const double perInput = s[0].ok() ? s[0].medianMs() * 1000 / count : 1e9;
            if (perInput > slowestOurs) {
                slowestOurs = perInput;
                slowestWhat = QStringLiteral("%1, %2 inputs").arg(kind).arg(count);
            }
            bySize[k] = s;
        }
        std::printf("%-16s %7s %12.2f %12.2f %12.2f   growth per input, %d over %d\n", "", "",
                    growth(bySize[0][0], counts[0], bySize[1][0], counts[1]), growth(bySize[0][1], counts[0], bySize[1][1], counts[1]),
                    growth(bySize[0][2], counts[0], bySize[1][2], counts[1]), counts[1], counts[0]);
    }
    std::printf("\nEach run whole (ours 1 core | all cores | ICU | GNU date | Python):\n");
    for (const QString& d : details)
        std::printf("  %s\n", qPrintable(d));
    targets.check(QStringLiteral("parse and every row under 20 us per input"), slowestOurs < 20,
                  QStringLiteral("slowest %1 us (%2), 1 core").arg(slowestOurs, 0, 'f', 2).arg(slowestWhat));

    // A keystroke in the zone search: the catalogue is loaded here, before the children fork, so
    // that each run times the searches alone, typed in turn as a user would.
    const QStringList& candidates = TimestampToolViewModel::zoneCandidates();
    (void)abbreviationDictionary();
    (void)zoneCountries();
    const QSet<QString> excluded{QStringLiteral("UTC"), QStringLiteral("GMT")};
    Search& search = sharedWithChildren<Search>();
    std::vector<double> firstQuery[queryCount], againQuery[queryCount];
    auto searchSide = [&](Cores cores, const char* name) {
        return Side{name, [&, cores] {
                        const Sample s = runForked(cores, [&] {
                            for (int q = 0; q < queryCount; ++q) {
                                std::vector<double> times;
                                for (int i = 0; i < 16; ++i) {
                                    QElapsedTimer t;
                                    t.start();
                                    search.found[q] = TimestampToolViewModel::searchZones(QString::fromUtf8(queries[q]), excluded, candidates,
                                                                                          abbreviationDictionary(), zoneCountries(), countryNames)
                                                          .size();
                                    times.push_back(t.nsecsElapsed() / 1e6);
                                }
                                search.firstMs[q] = times.front();
                                search.againMs[q] = medianOf(std::vector<double>(times.begin() + 1, times.end()));
                            }
                            return qint64(queryCount);
                        });
                        if (s.ok)
                            for (int q = 0; q < queryCount; ++q) {
                                firstQuery[q].push_back(search.firstMs[q]);
                                againQuery[q].push_back(search.againMs[q]);
                            }
                        return s;
                    }};
    };
    std::printf("\n== Zone search, one keystroke over %lld candidates: in a fresh child each query in turn, 16 times;\n"
                "first = its first time, again = the median of the other 15 (the catalogue loaded before the fork).\n"
                "no peer: the match runs over the tool's own names, abbreviations and countries.\n\n",
                (long long)candidates.size());
    const std::vector<Series> searches = interleave({searchSide(Cores::one, "ours, 1 core"), searchSide(Cores::all, "ours, all cores")}, rounds);
    printCase(QStringLiteral("all %1 queries").arg(queryCount), 0, searches);
    double slowestQuery = 0;
    for (int q = 0; q < queryCount; ++q) {
        std::printf("  %-10s again %s, first %s, %lld zones\n", qPrintable(QStringLiteral("\"%1\"").arg(QString::fromUtf8(queries[q]))),
                    qPrintable(spread(againQuery[q], 3)), qPrintable(spread(firstQuery[q], 3)), (long long)search.found[q]);
        slowestQuery = std::max(slowestQuery, medianOf(againQuery[q]));
    }
    targets.check(QStringLiteral("zone search keystroke under 2 ms"), slowestQuery < 2,
                  QStringLiteral("slowest query again %1 ms median, both sides").arg(slowestQuery, 0, 'f', 3));

    // The view: its first showing, a reading's rows on screen, and the picker's list painted.
    ViewRun& view = sharedWithChildren<ViewRun>();
    std::vector<double> firstShow[2], rowsMs[2], pickerMs[2];
    auto viewSide = [&](Cores cores, int i) {
        return Side{i ? "view, all cores" : "view, 1 core", [&, cores, i] {
                        view = ViewRun{};
                        const Sample s = runForked(cores, [&] { return runView(dir.filePath(QStringLiteral("bench-%1.ini").arg(i)), view); });
                        if (s.ok) {
                            firstShow[i].push_back(view.firstShowMs);
                            rowsMs[i].push_back(view.rowsMs);
                            pickerMs[i].push_back(view.pickerMs);
                        }
                        return s;
                    }};
    };
    std::printf("\n== View (offscreen), quiet time 0: run = the whole child (application, view, 20 readings, 4 picker\n"
                "searches); first showing = the view made and shown with its first rows painted.\n"
                "no peer: no other program shows these rows.\n\n");
    const std::vector<Series> views = interleave({viewSide(Cores::one, 0), viewSide(Cores::all, 1)}, rounds);
    printCase(QStringLiteral("view"), 0, views);
    for (int i : {0, 1})
        std::printf("  %s: first showing %s; a new reading's rows on screen %s; picker list searched and painted %s\n",
                    i ? "all cores" : "1 core   ", qPrintable(spread(firstShow[i])), qPrintable(spread(rowsMs[i])),
                    qPrintable(spread(pickerMs[i])));
    for (int i : {0, 1}) {
        const QString where = i ? QStringLiteral("all cores") : QStringLiteral("1 core");
        targets.check(QStringLiteral("view's first showing within 100 ms, %1").arg(where),
                      views[size_t(i)].ok() && medianOf(firstShow[i]) < 100, QStringLiteral("%1 ms median").arg(medianOf(firstShow[i]), 0, 'f', 1));
        targets.check(QStringLiteral("picker list searched and painted within 16 ms, %1").arg(where),
                      views[size_t(i)].ok() && medianOf(pickerMs[i]) < 16, QStringLiteral("%1 ms median").arg(medianOf(pickerMs[i]), 0, 'f', 1));
    }
    printLoadAtEnd();
    return targets.finish();
}
