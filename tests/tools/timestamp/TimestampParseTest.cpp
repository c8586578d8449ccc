#include "support/QuorrixTestMain.h"
#include "tools/timestamp/Timestamp.h"

using namespace Timestamp;

Q_DECLARE_METATYPE(Timestamp::UnitChoice)

// A parse written as one comparable line: "s ns reading" or "failure".
static QString describe(const ParseResult& r)
{
    if (const auto* f = std::get_if<Failure>(&r)) {
        switch (*f) {
        case Failure::empty: return QStringLiteral("empty");
        case Failure::unrecognised: return QStringLiteral("unrecognised");
        case Failure::outOfRange: return QStringLiteral("outOfRange");
        }
    }
    const Parsed& p = std::get<Parsed>(r);
    QString reading;
    switch (p.reading.kind) {
    case Reading::Kind::number:
        reading = rawValue(p.reading.unit) + (p.reading.guessed ? QStringLiteral(" guessed") : QString());
        break;
    case Reading::Kind::iso8601:
        reading = QStringLiteral("iso8601") + (p.reading.offsetGiven ? QStringLiteral(" offset") : QString());
        break;
    case Reading::Kind::rfc2822:
        reading = QStringLiteral("rfc2822") + (p.reading.offsetGiven ? QStringLiteral(" offset") : QString());
        break;
    }
    return QStringLiteral("%1 %2 %3").arg(p.instant.seconds).arg(p.instant.nanoseconds).arg(reading);
}

class TimestampParseTest : public QObject {
    Q_OBJECT

private slots:
    void values()
    {
        QVERIFY(!unitOf(UnitChoice::automatic));
        QCOMPARE(*unitOf(UnitChoice::milliseconds), Unit::milliseconds);
        QCOMPARE(label(UnitChoice::microseconds).size(), 2);
        QCOMPARE(label(UnitChoice::microseconds).toUtf8(), QByteArray("\xC2\xB5s"));
        QCOMPARE(*unitChoiceFromRawValue(u"auto"), UnitChoice::automatic);
        QVERIFY(!unitChoiceFromRawValue(u"Auto"));
        QVERIFY(!unitFromRawValue(u"auto"));
        QCOMPARE(*unitFromRawValue(u"nanoseconds"), Unit::nanoseconds);
        QVERIFY(!(Parsed{{1, 0}, Reading::iso8601(true)} == Parsed{{1, 0}, Reading::rfc2822(true)}));
        QVERIFY(!(Reading::number(Unit::seconds, true) == Reading::number(Unit::seconds, false)));
        QVERIFY(isDigits(u""));
        QVERIFY(!isDigits(u"１"));
        QCOMPARE(fractionNanoseconds("5"), 500000000);
        QCOMPARE(fractionNanoseconds("123456789123"), 123456789);
    }

    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<UnitChoice>("unit");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("expected");
        const auto a = UnitChoice::automatic;
        auto row = [](const char* name, const QString& text, UnitChoice unit, const char* zone, const char* expected) {
            QTest::newRow(name) << text << unit << QByteArray(zone) << QString::fromUtf8(expected);
        };
        // Numbers and the unit guess at each bound.
        row("seconds guessed", "1790380800", a, "UTC", "1790380800 0 seconds guessed");
        row("milliseconds guessed", "1790380800000", a, "UTC", "1790380800 0 milliseconds guessed");
        row("microseconds guessed", "1790380800000000", a, "UTC", "1790380800 0 microseconds guessed");
        row("nanoseconds guessed", "1790380800000000000", a, "UTC", "1790380800 0 nanoseconds guessed");
        row("last seconds", "99999999999", a, "UTC", "99999999999 0 seconds guessed");
        row("first milliseconds", "100000000000", a, "UTC", "100000000 0 milliseconds guessed");
        row("last milliseconds", "99999999999999", a, "UTC", "99999999999 999000000 milliseconds guessed");
        row("first microseconds", "100000000000000", a, "UTC", "100000000 0 microseconds guessed");
        row("last microseconds", "99999999999999999", a, "UTC", "99999999999 999999000 microseconds guessed");
        row("first nanoseconds", "100000000000000000", a, "UTC", "100000000 0 nanoseconds guessed");
        row("chosen seconds", "1790380800000", UnitChoice::seconds, "UTC", "outOfRange");
        row("chosen milliseconds", "1790380800", UnitChoice::milliseconds, "UTC", "1790380 800000000 milliseconds");
        row("negative fraction", "-1.5", a, "UTC", "-2 500000000 seconds guessed");
        row("negative small fraction", "-0.000000001", a, "UTC", "-1 999999999 seconds guessed");
        row("negative whole", "-1", a, "UTC", "-1 0 seconds guessed");
        row("negative milliseconds", "-1500", UnitChoice::milliseconds, "UTC", "-2 500000000 milliseconds");
        row("minus zero", "-0", a, "UTC", "0 0 seconds guessed");
        row("plus sign", "+12", a, "UTC", "12 0 seconds guessed");
        row("tenth digit dropped", "1.9999999999", a, "UTC", "1 999999999 seconds guessed");
        row("nanosecond fraction ignored", "1.9", UnitChoice::nanoseconds, "UTC", "0 1 nanoseconds");
        row("millisecond fraction", "1.5", UnitChoice::milliseconds, "UTC", "0 1500000 milliseconds");
        row("trailing dot", "12.", a, "UTC", "12 0 seconds guessed");
        row("leading dot", ".5", a, "UTC", "unrecognised");
        row("exponent", "1e9", a, "UTC", "unrecognised");
        row("comma", "1,5", a, "UTC", "unrecognised");
        row("inner space", "1 000", a, "UTC", "unrecognised");
        row("two signs", "+-1", a, "UTC", "unrecognised");
        row("two dots", "1.2.3", a, "UTC", "unrecognised");
        row("lone sign", "-", a, "UTC", "unrecognised");
        row("int64 max + 1", "9223372036854775808", a, "UTC", "outOfRange");
        row("int64 max", "9223372036854775807", a, "UTC", "9223372036 854775807 nanoseconds guessed");
        row("year 10000 seconds", "253402300800", UnitChoice::seconds, "UTC", "outOfRange");
        row("same digits guessed", "253402300800", a, "UTC", "253402300 800000000 milliseconds guessed");
        row("earliest", "-62135596800", a, "UTC", "-62135596800 0 seconds guessed");
        row("before earliest", "-62135596801", a, "UTC", "outOfRange");
        row("leading zeros", "0000000000000000000000000000001", a, "UTC", "1 0 seconds guessed");
        row("wide digits", "１２", a, "UTC", "unrecognised");
        row("blank", "  \n\t ", a, "UTC", "empty");
        row("nothing", "", a, "UTC", "empty");
        row("surrounding space", "  1790380800\n", a, "UTC", "1790380800 0 seconds guessed");

        // ISO 8601.
        row("date only, local", "2026-09-26", a, "Asia/Kolkata", "1790361000 0 iso8601");
        row("no seconds", "2026-09-26T12:00Z", a, "UTC", "1790424000 0 iso8601 offset");
        row("hour only", "2026-09-26T12Z", a, "UTC", "unrecognised");
        row("24:00", "2026-09-26T24:00:00Z", a, "UTC", "unrecognised");
        row("leap second", "2026-09-26T23:59:60Z", a, "UTC", "unrecognised");
        row("29 Feb 2026", "2026-02-29", a, "UTC", "unrecognised");
        row("30 Feb 2026", "2026-02-30", a, "UTC", "unrecognised");
        row("29 Feb 1900", "1900-02-29", a, "UTC", "unrecognised");
        row("29 Feb 2000", "2000-02-29", a, "UTC", "951782400 0 iso8601");
        row("comma fraction, lower t", "2026-09-26t12:00:00,5 +05:30", a, "UTC", "1790404200 500000000 iso8601 offset");
        row("utc name", "2026-09-26T12:00:00 utc", a, "UTC", "1790424000 0 iso8601 offset");
        row("dot before Z", "2026-09-26T12:00:00.Z", a, "UTC", "unrecognised");
        row("year 1 east", "0001-01-01T00:00:00+01:00", a, "UTC", "outOfRange");
        row("year 9999 west", "9999-12-31T23:59:59-01:00", a, "UTC", "outOfRange");
        row("latest", "9999-12-31T23:59:59.999999999Z", a, "UTC", "253402300799 999999999 iso8601 offset");
        row("year 0", "0000-01-01T00:00:00Z", a, "UTC", "unrecognised");
        row("year 10000", "10000-01-01T00:00:00Z", a, "UTC", "unrecognised");
        row("offset +24:00", "2026-09-26T12:00:00+24:00", a, "UTC", "unrecognised");
        row("offset +2399", "2026-09-26T12:00:00+2399", a, "UTC", "unrecognised");
        row("offset with seconds", "2026-09-26T12:00:00+00:19:32", a, "UTC", "1790422828 0 iso8601 offset");
        row("offset hours only", "2026-09-26T12:00:00-03", a, "UTC", "1790434800 0 iso8601 offset");
        row("one-digit hour offset", "2026-09-26T12:00:00+5", a, "UTC", "unrecognised");
        row("seconds after four-digit offset", "2026-09-26T12:00:00+053000", a, "UTC", "unrecognised");
        row("zone name", "2026-09-26T12:00:00 EST", a, "UTC", "unrecognised");
        row("date then zone", "2026-09-26Z", a, "UTC", "1790380800 0 iso8601 offset");
        row("date then offset", "2026-09-26+02:00", a, "UTC", "1790373600 0 iso8601 offset");
        row("date, space, offset", "2026-09-26 +02:00", a, "UTC", "unrecognised");
        row("space separator, local", "2026-09-26 12:00", a, "America/New_York", "1790438400 0 iso8601");
        row("fraction after minutes", "2026-09-26T12:00.5Z", a, "UTC", "unrecognised");
        row("hundred-digit fraction", "2026-09-26T12:00:00." + QString(100, u'7') + "Z", a, "UTC",
            "1790424000 777777777 iso8601 offset");
        row("lone surrogate", QString("2026-09-26T12:00:00") + QChar(0xD800), a, "UTC", "unrecognised");

        // RFC 2822 and HTTP dates.
        row("http date", "Sat, 26 Sep 2026 12:00:00 GMT", a, "UTC", "1790424000 0 rfc2822 offset");
        row("est, no weekday, no seconds", "26 sep 2026 12:00 est", a, "UTC", "1790442000 0 rfc2822 offset");
        row("numeric offset", "Sat, 26 Sep 2026 12:00:00 +0530", a, "UTC", "1790404200 0 rfc2822 offset");
        row("weekday not checked", "Foo, 26 Sep 2026 12:00:00 GMT", a, "UTC", "1790424000 0 rfc2822 offset");
        row("two-digit year", "Sat, 26 Sep 26 12:00:00 GMT", a, "UTC", "unrecognised");
        row("comment", "Sat, 26 Sep 2026 12:00:00 +0000 (UTC)", a, "UTC", "unrecognised");
        row("+2400", "Sat, 26 Sep 2026 12:00:00 +2400", a, "UTC", "unrecognised");
        row("+2399", "Sat, 26 Sep 2026 12:00:00 +2399", a, "UTC", "unrecognised");
        row("+2359", "Sat, 26 Sep 2026 12:00:00 +2359", a, "UTC", "1790337660 0 rfc2822 offset");
        row("military zone", "Sat, 26 Sep 2026 12:00:00 A", a, "UTC", "unrecognised");
        row("full month", "Sat, 26 September 2026 12:00:00 GMT", a, "UTC", "unrecognised");
        row("no zone, local", "Sat, 26 Sep 2026 12:00:00", a, "Asia/Tokyo", "1790391600 0 rfc2822");
        row("30 Feb", "30 Feb 2026 12:00:00 GMT", a, "UTC", "unrecognised");
        row("hour 24", "26 Sep 2026 24:00:00 GMT", a, "UTC", "unrecognised");
        row("year 1 east", "Mon, 01 Jan 0001 00:00:00 +0100", a, "UTC", "outOfRange");
        row("year 1 UT", "Mon, 01 Jan 0001 00:00:00 UT", a, "UTC", "-62135596800 0 rfc2822 offset");
        row("lone surrogate weekday", QString(QChar(0xDC00)) + ", 26 Sep 2026 12:00:00 GMT", a, "UTC", "unrecognised");
        row("ten kilobytes", QString(10240, u'x'), a, "UTC", "unrecognised");
        row("ten kilobytes of digits", QString(10240, u'9'), a, "UTC", "outOfRange");
        row("four hundred digits", QString(400, u'1'), a, "UTC", "outOfRange");
        row("ten kilobytes of pieces", QString("1 ").repeated(5120), a, "UTC", "unrecognised");
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(UnitChoice, unit);
        QFETCH(QByteArray, zone);
        QFETCH(QString, expected);
        QCOMPARE(describe(Timestamp::parse(text, unit, QTimeZone(zone))), expected);
    }

    void calendarArithmetic_data()
    {
        QTest::addColumn<qint64>("year");
        QTest::addColumn<qint64>("month");
        QTest::addColumn<qint64>("day");
        QTest::addColumn<qint64>("days");
        QTest::newRow("epoch") << 1970LL << 1LL << 1LL << 0LL;
        QTest::newRow("year 1") << 1LL << 1LL << 1LL << -719162LL;
        QTest::newRow("day before epoch") << 1969LL << 12LL << 31LL << -1LL;
        QTest::newRow("leap day 2000") << 2000LL << 2LL << 29LL << 11016LL;
        QTest::newRow("last day") << 9999LL << 12LL << 31LL << 2932896LL;
        QTest::newRow("year 0") << 0LL << 3LL << 1LL << -719468LL;
    }
    void calendarArithmetic()
    {
        QFETCH(qint64, year);
        QFETCH(qint64, month);
        QFETCH(qint64, day);
        QFETCH(qint64, days);
        QCOMPARE(daysFromCivil(year, month, day), days);
        QCOMPARE(civilFromDays(days), (CivilDate{year, month, day}));
    }

    // Every day of the supported years goes there and back.
    void calendarRoundTrip()
    {
        const qint64 first = daysFromCivil(1, 1, 1);
        const qint64 last = daysFromCivil(9999, 12, 31);
        for (qint64 d = first - 400; d <= last + 400; ++d) {
            const CivilDate c = civilFromDays(d);
            if (daysFromCivil(c.year, c.month, c.day) != d || c.day < 1 || c.day > daysInMonth(c.year, c.month))
                QFAIL(qPrintable(QStringLiteral("day %1").arg(d)));
        }
    }
};

QUORRIX_TEST_MAIN(TimestampParseTest)
#include "TimestampParseTest.moc"
