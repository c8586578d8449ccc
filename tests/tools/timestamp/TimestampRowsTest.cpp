#include <QRandomGenerator>
#include "support/QuorrixTestMain.h"
#include "tools/timestamp/Timestamp.h"
#include "tools/timestamp/TimestampLocale.h"

using namespace Timestamp;

static QString rowText(const QList<Row>& rows)
{
    QStringList parts;
    for (const Row& r : rows)
        parts << r.label + u'=' + r.value;
    return parts.join(u'|');
}

class TimestampRowsTest : public QObject {
    Q_OBJECT

private slots:
    void rows_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<qint64>("nanoseconds");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("unix");
        QTest::addColumn<QString>("dates");
        QTest::addColumn<QString>("calendar");
        QTest::newRow("moment in UTC")
            << 1790380800LL << 0LL << QByteArray("UTC")
            << "Unix seconds=1790380800|Unix milliseconds=1790380800000|Unix microseconds=1790380800000000|"
               "Unix nanoseconds=1790380800000000000"
            << "ISO 8601, UTC=2026-09-26T00:00:00Z|ISO 8601, local=2026-09-26T00:00:00Z|"
               "RFC 2822=Sat, 26 Sep 2026 00:00:00 +0000|HTTP date=Sat, 26 Sep 2026 00:00:00 GMT"
            << "Weekday=Saturday|Day of year=269|ISO week=2026-W39";
        QTest::newRow("same moment at +05:30")
            << 1790380800LL << 0LL << QByteArray("Asia/Kolkata")
            << "Unix seconds=1790380800|Unix milliseconds=1790380800000|Unix microseconds=1790380800000000|"
               "Unix nanoseconds=1790380800000000000"
            << "ISO 8601, UTC=2026-09-26T00:00:00Z|ISO 8601, local=2026-09-26T05:30:00+05:30|"
               "RFC 2822=Sat, 26 Sep 2026 00:00:00 +0000|HTTP date=Sat, 26 Sep 2026 00:00:00 GMT"
            << "Weekday=Saturday|Day of year=269|ISO week=2026-W39";
        QTest::newRow("half a second before 1970")
            << -1LL << 500000000LL << QByteArray("UTC")
            << "Unix seconds=-0.5|Unix milliseconds=-500|Unix microseconds=-500000|Unix nanoseconds=-500000000"
            << "ISO 8601, UTC=1969-12-31T23:59:59.500Z|ISO 8601, local=1969-12-31T23:59:59.500Z|"
               "RFC 2822=Wed, 31 Dec 1969 23:59:59 +0000|HTTP date=Wed, 31 Dec 1969 23:59:59 GMT"
            << "Weekday=Wednesday|Day of year=365|ISO week=1970-W01";
        QTest::newRow("half a millisecond before 1970")
            << -1LL << 999500000LL << QByteArray("UTC")
            << "Unix seconds=-0.0005|Unix milliseconds=-1|Unix microseconds=-500|Unix nanoseconds=-500000"
            << "ISO 8601, UTC=1969-12-31T23:59:59.999500Z|ISO 8601, local=1969-12-31T23:59:59.999500Z|"
               "RFC 2822=Wed, 31 Dec 1969 23:59:59 +0000|HTTP date=Wed, 31 Dec 1969 23:59:59 GMT"
            << "Weekday=Wednesday|Day of year=365|ISO week=1970-W01";
        QTest::newRow("earliest")
            << -62135596800LL << 0LL << QByteArray("UTC")
            << "Unix seconds=-62135596800|Unix milliseconds=-62135596800000|Unix microseconds=-62135596800000000|"
               "Unix nanoseconds=-62135596800000000000"
            << "ISO 8601, UTC=0001-01-01T00:00:00Z|ISO 8601, local=0001-01-01T00:00:00Z|"
               "RFC 2822=Mon, 01 Jan 0001 00:00:00 +0000|HTTP date=Mon, 01 Jan 0001 00:00:00 GMT"
            << "Weekday=Monday|Day of year=1|ISO week=1-W01";
        QTest::newRow("latest, east")
            << 253402300799LL << 999999999LL << QByteArray("Asia/Tokyo")
            << "Unix seconds=253402300799.999999999|Unix milliseconds=253402300799999|"
               "Unix microseconds=253402300799999999|Unix nanoseconds=253402300799999999999"
            << "ISO 8601, UTC=9999-12-31T23:59:59.999999999Z|ISO 8601, local=10000-01-01T08:59:59.999999999+09:00|"
               "RFC 2822=Fri, 31 Dec 9999 23:59:59 +0000|HTTP date=Fri, 31 Dec 9999 23:59:59 GMT"
            << "Weekday=Saturday|Day of year=1|ISO week=9999-W52";
    }
    void rows()
    {
        QFETCH(qint64, seconds);
        QFETCH(qint64, nanoseconds);
        QFETCH(QByteArray, zone);
        QFETCH(QString, unix);
        QFETCH(QString, dates);
        QFETCH(QString, calendar);
        const RowLists lists = Timestamp::rows(seconds, nanoseconds, QTimeZone(zone));
        QCOMPARE(rowText(lists.unixTime), unix);
        QCOMPARE(rowText(lists.dates), dates);
        QCOMPARE(rowText(lists.calendar), calendar);
    }

    void earliestWestHasYearZero()
    {
        const QString local = iso8601Text(-62135596800LL, 0, QTimeZone("America/New_York"));
        QCOMPARE(local, QStringLiteral("0000-12-31T19:03:58-04:56:02"));
    }

    void texts_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one nanosecond") << unixSecondsText(0, 1) << "0.000000001";
        QTest::newRow("half second") << unixSecondsText(1790380800, 500000000) << "1790380800.5";
        QTest::newRow("quarter before") << unixSecondsText(-1, 750000000) << "-0.25";
        QTest::newRow("minus one") << unixSecondsText(-1, 0) << "-1";
        QTest::newRow("fraction nanos") << fractionText(1) << ".000000001";
        QTest::newRow("fraction micros") << fractionText(123456000) << ".123456";
        QTest::newRow("fraction millis") << fractionText(120000000) << ".120";
        QTest::newRow("fraction none") << fractionText(0) << "";
        QTest::newRow("offset -09:30") << offsetText(-34200) << "-09:30";
        QTest::newRow("offset zero") << offsetText(0) << "+00:00";
        QTest::newRow("offset seconds") << offsetText(1172) << "+00:19:32";
        QTest::newRow("offset negative seconds") << offsetText(-17762) << "-04:56:02";
        QTest::newRow("clock") << clockText(9 * 3600 + 5 * 60) << "09:05:00";
        QTest::newRow("stem") << rfc2822Stem(1790424000) << "Sat, 26 Sep 2026 12:00:00";
    }
    void texts()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }

    void isoWeeks_data()
    {
        QTest::addColumn<qint64>("year");
        QTest::addColumn<qint64>("month");
        QTest::addColumn<qint64>("day");
        QTest::addColumn<QString>("week");
        QTest::newRow("1 Jan 2021 in 2020-W53") << 2021LL << 1LL << 1LL << "2020-W53";
        QTest::newRow("29 Dec 2025 in 2026-W01") << 2025LL << 12LL << 29LL << "2026-W01";
        QTest::newRow("31 Dec 2026") << 2026LL << 12LL << 31LL << "2026-W53";
        QTest::newRow("1 Jan 2027") << 2027LL << 1LL << 1LL << "2026-W53";
        QTest::newRow("4 Jan 2027") << 2027LL << 1LL << 4LL << "2027-W01";
    }
    void isoWeeks()
    {
        QFETCH(qint64, year);
        QFETCH(qint64, month);
        QFETCH(qint64, day);
        QFETCH(QString, week);
        const qint64 seconds = daysFromCivil(year, month, day) * 86400 + 43200;
        QCOMPARE(Timestamp::rows(seconds, 0, utc()).calendar.at(2).value, week);
    }
    void weeksInYear()
    {
        QCOMPARE(isoWeeksInYear(2020), 53);
        QCOMPARE(isoWeeksInYear(2021), 52);
        QCOMPARE(isoWeeksInYear(2026), 53);
        QCOMPARE(isoWeeksInYear(2015), 53);
    }

    void matching_data()
    {
        QTest::addColumn<bool>("unixList");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("label");
        QTest::newRow("http date, padded") << false << " Sat, 26 Sep 2026 00:00:00 GMT " << "HTTP date";
        QTest::newRow("lower case") << false << "sat, 26 sep 2026 00:00:00 gmt" << "";
        QTest::newRow("iso utc") << false << "2026-09-26T00:00:00Z" << "ISO 8601, UTC";
        QTest::newRow("seconds") << true << "1790380800" << "Unix seconds";
        QTest::newRow("seconds, blanks") << true << " 1790380800 " << "Unix seconds";
        QTest::newRow("plus sign") << true << "+1790380800" << "";
        QTest::newRow("milliseconds") << true << "1790380800000" << "Unix milliseconds";
    }
    void matching()
    {
        QFETCH(bool, unixList);
        QFETCH(QString, input);
        QFETCH(QString, label);
        const RowLists lists = Timestamp::rows(1790380800, 0, utc());
        QCOMPARE(matchingRowLabel(unixList ? lists.unixTime : lists.dates, input).value_or(QString()), label);
    }

    // Both sides of every unit's threshold, ahead and back, from 26 September 2026 at noon UTC
    // unless a row says otherwise. Days and longer are calendar steps in the zone.
    void relativeText_data()
    {
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("moment");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("expected");
        const QString noon = QStringLiteral("2026-09-26T12:00:00.000Z");
        const auto row = [&](const char* name, const char* moment, const char* expected) {
            QTest::newRow(name) << noon << QString::fromLatin1(moment) << QStringLiteral("UTC")
                                << QString::fromLatin1(expected);
        };
        row("now", "2026-09-26T12:00:00.000Z", "in 0 seconds");
        row("half a second back", "2026-09-26T11:59:59.500Z", "in 0 seconds");
        row("59 s ahead", "2026-09-26T12:00:59.999Z", "in 59 seconds");
        row("59 s back", "2026-09-26T11:59:00.001Z", "59 seconds ago");
        row("1 min ahead", "2026-09-26T12:01:00.000Z", "in 1 minute");
        row("1 min back", "2026-09-26T11:59:00.000Z", "1 minute ago");
        row("59 min ahead", "2026-09-26T12:59:59.000Z", "in 59 minutes");
        row("59 min back", "2026-09-26T11:00:01.000Z", "59 minutes ago");
        row("1 h ahead", "2026-09-26T13:00:00.000Z", "in 1 hour");
        row("1 h back", "2026-09-26T11:00:00.000Z", "1 hour ago");
        row("23 h ahead", "2026-09-27T11:59:59.999Z", "in 23 hours");
        row("23 h back", "2026-09-25T12:00:00.001Z", "23 hours ago");
        row("1 day ahead", "2026-09-27T12:00:00.000Z", "in 1 day");
        row("1 day back", "2026-09-25T12:00:00.000Z", "1 day ago");
        row("6 days ahead", "2026-10-03T11:59:59.000Z", "in 6 days");
        row("6 days back", "2026-09-19T12:00:01.000Z", "6 days ago");
        row("1 week ahead", "2026-10-03T12:00:00.000Z", "in 1 week");
        row("1 week back", "2026-09-19T12:00:00.000Z", "1 week ago");
        // 30 days ahead is one calendar month (September has 30 days), 31 back (August has 31).
        row("4 weeks ahead", "2026-10-26T11:59:59.000Z", "in 4 weeks");
        row("4 weeks back", "2026-08-26T12:00:01.000Z", "4 weeks ago");
        row("30 days 5 h back", "2026-08-27T07:00:00.000Z", "4 weeks ago");
        row("1 month ahead", "2026-10-26T12:00:00.000Z", "in 1 month");
        row("1 month back", "2026-08-26T12:00:00.000Z", "1 month ago");
        row("30 days 5 h ahead", "2026-10-26T17:00:00.000Z", "in 1 month");
        row("11 months ahead", "2027-09-26T11:59:59.000Z", "in 11 months");
        row("11 months back", "2025-09-26T12:00:01.000Z", "11 months ago");
        row("same time next year", "2027-09-26T12:00:00.000Z", "in 1 year");
        row("same time last year", "2025-09-26T12:00:00.000Z", "1 year ago");
        row("365 days 6 h ahead", "2027-09-26T18:00:00.000Z", "in 1 year");
        row("2 years ahead less a second", "2028-09-26T11:59:59.000Z", "in 1 year");
        row("2 years ahead", "2028-09-26T12:00:00.000Z", "in 2 years");
        row("2 years back", "2024-09-26T12:00:00.000Z", "2 years ago");
        row("year 1", "0001-01-01T00:00:00.000Z", "2,025 years ago");
        row("year 9999", "9999-12-31T23:59:59.999Z", "in 7,973 years");
        QTest::newRow("a month from 31 January ends on 28 February")
            << "2026-01-31T12:00:00.000Z" << "2026-02-28T12:00:00.000Z" << "UTC" << "in 1 month";
        QTest::newRow("a year from 29 February ends on 28 February")
            << "2028-02-29T12:00:00.000Z" << "2029-02-28T12:00:00.000Z" << "UTC" << "in 1 year";
        // The night the clocks go forward in Berlin: noon to noon is one day in 23 hours.
        QTest::newRow("a short day is a day")
            << "2026-03-28T11:00:00.000Z" << "2026-03-29T10:00:00.000Z" << "Europe/Berlin" << "in 1 day";
        QTest::newRow("a short day, one second less")
            << "2026-03-28T11:00:00.000Z" << "2026-03-29T09:59:59.000Z" << "Europe/Berlin" << "in 22 hours";
        // Months follow the zone's calendar: 30 September 16:00 UTC is 1 October in Tokyo, and
        // October has 31 days.
        QTest::newRow("calendar of the zone")
            << "2026-09-30T16:00:00.000Z" << "2026-10-30T16:00:00.000Z" << "Asia/Tokyo" << "in 4 weeks";
        QTest::newRow("calendar of the zone, in UTC")
            << "2026-09-30T16:00:00.000Z" << "2026-10-30T16:00:00.000Z" << "UTC" << "in 1 month";
    }
    void relativeText()
    {
        QFETCH(QString, now);
        QFETCH(QString, moment);
        QFETCH(QString, zone);
        QFETCH(QString, expected);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        const qint64 nowMs = QDateTime::fromString(now, Qt::ISODateWithMs).toMSecsSinceEpoch();
        const qint64 ms = QDateTime::fromString(moment, Qt::ISODateWithMs).toMSecsSinceEpoch();
        QVERIFY(nowMs != 0 && ms != 0);
        const qint64 s = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
        QCOMPARE(Timestamp::relativeText(s, (ms - s * 1000) * 1000000, nowMs, QTimeZone(zone.toLatin1())), expected);
    }

    // With no locale set (as under CI) Qt's locale is C; every unit still takes its singular.
    void relativeTextWithoutLocale_data()
    {
        QTest::addColumn<qint64>("delta");
        QTest::addColumn<QString>("expected");
        const struct {
            const char* singular;
            qint64 seconds;
        } units[] = {{"second", 1},       {"minute", 60},           {"hour", 3600},           {"day", 86400},
                     {"week", 7 * 86400}, {"month", 31 * 86400},    {"year", 366 * 86400}};
        for (const auto& unit : units) {
            const QString one = QString::fromLatin1(unit.singular);
            // Two calendar months before 26 September are 62 days.
            const qint64 two = unit.seconds == 31 * 86400 ? 62 * 86400 : 2 * unit.seconds;
            QTest::addRow("1 %s ago", unit.singular) << -unit.seconds << QStringLiteral("1 %1 ago").arg(one);
            QTest::addRow("in 1 %s", unit.singular) << unit.seconds << QStringLiteral("in 1 %1").arg(one);
            QTest::addRow("2 %ss ago", unit.singular) << -two << QStringLiteral("2 %1s ago").arg(one);
            QTest::addRow("in 2 %ss", unit.singular) << two << QStringLiteral("in 2 %1s").arg(one);
        }
    }
    void relativeTextWithoutLocale()
    {
        QFETCH(qint64, delta);
        QFETCH(QString, expected);
        QLocale::setDefault(QLocale::c());
        const qint64 now = 1790380800000LL;
        const QString text = Timestamp::relativeText(now / 1000 + delta, 0, now, utc());
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(text, expected);
    }

    void localDateTime()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        const QString kolkata = localDateTimeText(1790380800, 0, QTimeZone("Asia/Kolkata"));
        QVERIFY2(kolkata.startsWith(QStringLiteral("September 26, 2026 at 5:30:00")), qPrintable(kolkata));
        // Gregorian all the way back: the first day is 1 January of year 1, a Monday.
        const QString first = localDateTimeText(earliestSeconds, 0, utc());
        QVERIFY2(first.startsWith(QStringLiteral("January 1, 1 at 12:00:00")), qPrintable(first));
        // A zone ICU does not know still shows the system's offset.
        const QString fixed = localDateTimeText(1790380800, 0, QTimeZone(5 * 3600 + 45 * 60));
        QVERIFY2(fixed.contains(QStringLiteral("5:45")), qPrintable(fixed));
    }

    // What a row shows is read back as the same moment.
    void rowsReadBack()
    {
        QRandomGenerator random(7);
        const QTimeZone zone("America/St_Johns");
        for (int i = 0; i < 2000; ++i) {
            const qint64 s = random.bounded(earliestSeconds + 86400, endSeconds - 86400);
            const qint64 ns = random.bounded(1000000000LL);
            const RowLists lists = Timestamp::rows(s, ns, zone);
            for (const Row& row : lists.dates.mid(0, 2)) {
                const ParseResult r = parse(row.value, UnitChoice::automatic, zone);
                QVERIFY2(std::holds_alternative<Parsed>(r), qPrintable(row.value));
                QCOMPARE(std::get<Parsed>(r).instant, (Instant{s, ns}));
            }
            // Nanoseconds beyond a 64-bit integer are out of range, as the reader says.
            const bool fits = s > -9223372036LL && s < 9223372036LL;
            const ParseResult n = parse(lists.unixTime.at(3).value, UnitChoice::nanoseconds, zone);
            if (fits)
                QCOMPARE(std::get<Parsed>(n).instant, (Instant{s, ns}));
            else
                QCOMPARE(std::get<Failure>(n), Failure::outOfRange);
        }
    }
};

QUORRIX_TEST_MAIN(TimestampRowsTest)
#include "TimestampRowsTest.moc"
