#include "support/QuorrixTestMain.h"
#include "tools/timestamp/Timestamp.h"

#include <QDateTime>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryFile>

using namespace Timestamp;

// Zones with offsets in seconds before standard time, half- and quarter-hour offsets, southern
// and negative daylight saving time, and the date line.
static const char* const sweepZones[] = {
    "UTC", "America/New_York", "America/Los_Angeles", "America/Chicago", "America/Denver", "America/Phoenix",
    "America/Anchorage", "America/Sao_Paulo", "America/Santiago", "America/Argentina/Buenos_Aires",
    "America/St_Johns", "America/Caracas", "America/Havana", "America/Nuuk", "Atlantic/Azores",
    "Europe/London", "Europe/Paris", "Europe/Amsterdam", "Europe/Dublin", "Europe/Moscow", "Europe/Istanbul",
    "Europe/Lisbon", "Africa/Monrovia", "Africa/Casablanca", "Africa/Cairo", "Africa/Johannesburg",
    "Asia/Kolkata", "Asia/Kathmandu", "Asia/Tehran", "Asia/Kabul", "Asia/Yangon", "Asia/Tokyo",
    "Asia/Shanghai", "Asia/Singapore", "Asia/Dubai", "Asia/Pyongyang", "Australia/Sydney",
    "Australia/Adelaide", "Australia/Lord_Howe", "Australia/Eucla", "Pacific/Auckland", "Pacific/Chatham",
    "Pacific/Apia", "Pacific/Kiritimati", "Pacific/Marquesas", "Antarctica/Troll",
};

// Runs GNU date once over many lines; answers one output line per input line.
static QStringList runDate(const QByteArray& zone, const QString& format, const QStringList& lines)
{
    QTemporaryFile input;
    if (!input.open())
        return {};
    input.write(lines.join(u'\n').toUtf8());
    input.write("\n");
    input.flush();
    QProcess date;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TZ"), QString::fromUtf8(zone));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    date.setProcessEnvironment(env);
    date.start(QStringLiteral("date"), {QStringLiteral("-f"), input.fileName(), format});
    if (!date.waitForFinished(120000))
        return {};
    QString out = QString::fromUtf8(date.readAllStandardOutput());
    if (out.endsWith(u'\n'))
        out.chop(1);
    return out.split(u'\n');
}

// Our local row in date's shape: the offset always with seconds, "+00:00:00" for Z.
static QString dateShape(const RowLists& lists)
{
    QString iso = lists.dates.at(1).value;
    QString offset;
    if (iso.endsWith(u'Z')) {
        iso.chop(1);
        offset = QStringLiteral("+00:00:00");
    } else {
        const qsizetype at = std::max(iso.lastIndexOf(u'+'), iso.lastIndexOf(u'-'));
        offset = iso.mid(at);
        iso.truncate(at);
        if (offset.size() == 6)
            offset += QStringLiteral(":00");
    }
    const QString& week = lists.calendar.at(2).value;
    const qsizetype w = week.indexOf(QStringLiteral("-W"));
    return QStringLiteral("%1%2 %3 %4 %5%6")
        .arg(iso, offset, lists.calendar.at(0).value.left(3))
        .arg(lists.calendar.at(1).value.toInt(), 3, 10, QLatin1Char('0'))
        .arg(week.left(w).toInt(), 4, 10, QLatin1Char('0'))
        .arg(week.mid(w));
}

class TimestampAgainstDateTest : public QObject {
    Q_OBJECT

    QList<qint64> m_shared;

    static void addAround(QList<qint64>& out, qint64 t, qint64 span, qint64 step)
    {
        for (qint64 d = -span; d <= span; d += step) {
            const qint64 s = t + d;
            if (s >= earliestSeconds && s < endSeconds)
                out << s;
        }
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("date")).isEmpty())
            QSKIP("GNU date is not installed");
        QRandomGenerator random(2026);
        // Spread over the years 1 to 9999.
        for (int i = 0; i < 7000; ++i)
            m_shared << random.bounded(earliestSeconds, endSeconds);
        // The 1970 and 2038 boundaries, hour by hour and second by second.
        addAround(m_shared, 0, 3 * 86400, 3607);
        addAround(m_shared, 0, 3, 1);
        addAround(m_shared, 2147483647LL, 3 * 86400, 3607);
        addAround(m_shared, 2147483647LL, 3, 1);
        addAround(m_shared, -2147483648LL, 3, 1);
        // The ends of the range.
        addAround(m_shared, earliestSeconds, 2 * 86400, 3599);
        addAround(m_shared, endSeconds - 1, 2 * 86400, 3599);
        // Leap days and the days around them, in 300 leap years.
        for (int i = 0; i < 300; ++i) {
            qint64 year = random.bounded(1, 9999);
            year -= year % 4;
            if (!isLeapYear(year) || year < 1)
                continue;
            const qint64 leap = daysFromCivil(year, 2, 29) * 86400;
            for (qint64 d : {-86400LL, -1LL, 0LL, 43200LL, 86399LL, 86400LL, 2 * 86400LL})
                m_shared << leap + d;
        }
        // Week 53 years: the days from 26 December to 5 January at noon and at the edges.
        for (int i = 0; i < 250; ++i) {
            const qint64 year = random.bounded(1, 9999);
            if (isoWeeksInYear(year) != 53)
                continue;
            for (qint64 day = daysFromCivil(year, 12, 26); day <= daysFromCivil(year + 1, 1, 5); ++day)
                for (qint64 t : {0LL, 43200LL, 86399LL})
                    if (day * 86400 + t < endSeconds)
                        m_shared << day * 86400 + t;
        }
        QVERIFY(m_shared.size() >= 10000);
    }

    void sweep_data()
    {
        QTest::addColumn<QByteArray>("zone");
        for (const char* z : sweepZones)
            QTest::newRow(z) << QByteArray(z);
    }
    // Every row of every instant agrees with GNU date, in the zone and in UTC.
    void sweep()
    {
        QFETCH(QByteArray, zone);
        const QTimeZone tz(zone);
        QVERIFY(tz.isValid());
        QList<qint64> instants = m_shared;
        // Densely around this zone's own transitions, past and (by its rule) future.
        const auto transitions = tz.transitions(QDateTime::fromSecsSinceEpoch(-5000000000LL, QTimeZone::utc()),
                                                QDateTime::fromSecsSinceEpoch(4200000000LL, QTimeZone::utc()));
        const qsizetype stride = std::max<qsizetype>(1, transitions.size() / 400);
        for (qsizetype i = 0; i < transitions.size(); i += stride) {
            const qint64 t = transitions[i].atUtc.toSecsSinceEpoch();
            for (qint64 d : {-3601LL, -1LL, 0LL, 1LL, 3600LL})
                instants << t + d;
        }
        QStringList lines;
        lines.reserve(instants.size());
        for (qint64 s : instants)
            lines << QStringLiteral("@%1").arg(s);
        const QStringList local = runDate(zone, QStringLiteral("+%FT%T%::z %a %j %G-W%V"), lines);
        const QStringList inUtc = runDate("UTC", QStringLiteral("+%s %FT%T|%a, %d %b %Y %T"), lines);
        QCOMPARE(local.size(), instants.size());
        QCOMPARE(inUtc.size(), instants.size());
        int compared = 0;
        for (qsizetype i = 0; i < instants.size(); ++i) {
            const qint64 s = instants[i];
            const RowLists lists = Timestamp::rows(s, 0, tz);
            QString expected = local[i];
            if (expected.startsWith(u'+'))  // date's sign before a five-digit year
                expected.remove(0, 1);
            // date writes an unspecified zero offset ("-00") as minus zero.
            expected.replace(QStringLiteral("-00:00:00"), QStringLiteral("+00:00:00"));
            const QString ours = dateShape(lists);
            if (ours != expected)
                QFAIL(qPrintable(QStringLiteral("@%1 in %2: ours %3, date %4").arg(s).arg(zone, ours, expected)));
            const QString utcOurs = QStringLiteral("%1 %2|%3")
                                        .arg(lists.unixTime.at(0).value, lists.dates.at(0).value.chopped(1),
                                             rfc2822Stem(s));
            if (utcOurs != inUtc[i])
                QFAIL(qPrintable(QStringLiteral("@%1 in UTC: ours %2, date %3").arg(s).arg(utcOurs, inUtc[i])));
            ++compared;
        }
        QVERIFY(compared >= 10000);
    }

    // Readings of dates and times, each checked against what date -d makes of the same text.
    void readsLikeDate_data()
    {
        QTest::addColumn<QByteArray>("zone");
        for (const char* z : {"UTC", "America/New_York", "Asia/Kolkata", "Australia/Lord_Howe", "Europe/Amsterdam",
                              "Asia/Kathmandu", "America/Sao_Paulo"})
            QTest::newRow(z) << QByteArray(z);
    }
    void readsLikeDate()
    {
        QFETCH(QByteArray, zone);
        const QTimeZone tz(zone);
        QRandomGenerator random(qHash(zone));
        QStringList texts;
        QList<ParseResult> ours;
        const QStringList offsets{"Z", "+00:00", "+05:30", "-08:00", "+0545", "-03", "+13:45", "-11:30"};
        const QStringList rfcZones{"GMT", "UT", "UTC", "EST", "EDT", "CST", "CDT", "MST", "MDT", "PST", "PDT",
                                   "+0530", "-0800", "+0000", "-0000", "+1345"};
        for (int i = 0; i < 3000; ++i) {
            // Years from 1000: date reads earlier years in another calendar of abbreviations.
            const qint64 s = random.bounded(daysFromCivil(1000, 1, 2) * 86400, daysFromCivil(9999, 12, 30) * 86400);
            const qint64 day = (s >= 0 ? s : s - 86399) / 86400;
            const CivilDate c = civilFromDays(day);
            const qint64 sod = s - day * 86400;
            const QString date = QStringLiteral("%1-%2-%3").arg(c.year, 4, 10, QLatin1Char('0'))
                                     .arg(c.month, 2, 10, QLatin1Char('0')).arg(c.day, 2, 10, QLatin1Char('0'));
            const QString hm = clockText(sod).left(5);
            const QString hms = clockText(sod);
            const QString fraction = QString::number(random.bounded(1, 1000000000)).rightJustified(9, u'0');
            // Local forms only away from a change of offset, where either reading is allowed.
            const bool steady = offsetAt(tz, s - 2 * 86400) == offsetAt(tz, s + 2 * 86400)
                             && offsetAt(tz, s) == offsetAt(tz, s + 2 * 86400);
            QStringList forms{
                date + u'T' + hms + offsets[i % offsets.size()],
                date + u'T' + hm + offsets[(i + 3) % offsets.size()],
                date + u' ' + hms + u'.' + fraction + offsets[(i + 5) % offsets.size()],
                QStringLiteral("%1, %2 %3 %4 %5 %6")
                    .arg(weekdayAbbreviations[((day + 3) % 7 + 7) % 7].toString())
                    .arg(c.day, 2, 10, QLatin1Char('0'))
                    .arg(monthNames[c.month - 1].toString())
                    .arg(c.year)
                    .arg(hms, rfcZones[i % rfcZones.size()]),
                QStringLiteral("%1 %2 %3 %4 %5").arg(c.day).arg(monthNames[c.month - 1].toString()).arg(c.year)
                    .arg(hm, rfcZones[(i + 7) % rfcZones.size()]),
            };
            if (steady) {
                forms << date + u'T' + hms << date + u' ' + hm
                      << QStringLiteral("%1 %2 %3 %4").arg(c.day).arg(monthNames[c.month - 1].toString())
                             .arg(c.year).arg(hms);
                if (i % 10 == 0)
                    forms << date;
            }
            for (const QString& text : forms) {
                texts << text;
                ours << parse(text, UnitChoice::automatic, tz);
            }
        }
        // Texts with their own offset go to date in UTC: in a zone of its own, date refuses a
        // summer abbreviation in winter ("EDT" in January) where RFC 2822 gives a fixed offset.
        QStringList given, local;
        for (qsizetype i = 0; i < texts.size(); ++i)
            (std::get<Parsed>(ours[i]).reading.offsetGiven ? given : local) << texts[i];
        const QStringList givenExpected = runDate("UTC", QStringLiteral("+%s %N"), given);
        const QStringList localExpected = runDate(zone, QStringLiteral("+%s %N"), local);
        QCOMPARE(givenExpected.size(), given.size());
        QCOMPARE(localExpected.size(), local.size());
        QStringList expected;
        for (qsizetype i = 0, g = 0, l = 0; i < texts.size(); ++i)
            expected << (std::get<Parsed>(ours[i]).reading.offsetGiven ? givenExpected[g++] : localExpected[l++]);
        QCOMPARE(expected.size(), texts.size());
        for (qsizetype i = 0; i < texts.size(); ++i) {
            const auto* p = std::get_if<Parsed>(&ours[i]);
            QVERIFY2(p, qPrintable(texts[i]));
            const QString mine = QStringLiteral("%1 %2").arg(p->instant.seconds)
                                     .arg(p->instant.nanoseconds, 9, 10, QLatin1Char('0'));
            if (mine != expected[i])
                QFAIL(qPrintable(QStringLiteral("%1: ours %2, date %3").arg(texts[i], mine, expected[i])));
        }
    }
};

QUORRIX_TEST_MAIN(TimestampAgainstDateTest)
#include "TimestampAgainstDateTest.moc"
