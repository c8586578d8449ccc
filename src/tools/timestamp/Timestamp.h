#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QTimeZone>

#include <array>
#include <optional>
#include <variant>

// The Timestamp tool's core: reading one line of input into a moment, and writing a moment in
// every form the tool shows. Calendar arithmetic is our own (proleptic Gregorian); the only
// outside service is a zone's offset from UTC at a moment, which comes from the system database.
namespace Timestamp {

struct Instant {
    qint64 seconds = 0;      // since 1970-01-01T00:00:00Z, rounded down
    qint64 nanoseconds = 0;  // 0 ... 999,999,999, always added to seconds
    friend bool operator==(const Instant&, const Instant&) = default;
};

enum class Unit { seconds, milliseconds, microseconds, nanoseconds };
// `automatic` is the choice whose raw value is "auto" (a keyword in C++).
enum class UnitChoice { automatic, seconds, milliseconds, microseconds, nanoseconds };

inline constexpr std::array<Unit, 4> allUnits{Unit::seconds, Unit::milliseconds, Unit::microseconds,
                                              Unit::nanoseconds};
inline constexpr std::array<UnitChoice, 5> allUnitChoices{UnitChoice::automatic, UnitChoice::seconds,
                                                          UnitChoice::milliseconds, UnitChoice::microseconds,
                                                          UnitChoice::nanoseconds};

QString rawValue(Unit unit);
QString rawValue(UnitChoice choice);
std::optional<Unit> unitFromRawValue(QStringView text);
std::optional<UnitChoice> unitChoiceFromRawValue(QStringView text);
std::optional<Unit> unitOf(UnitChoice choice);
QString label(UnitChoice choice);  // "Auto", "s", "ms", "µs", "ns"

// How the input text was read.
struct Reading {
    enum class Kind { number, iso8601, rfc2822 };
    Kind kind = Kind::number;
    Unit unit = Unit::seconds;  // number only
    bool guessed = false;       // number only
    bool offsetGiven = false;   // iso8601 and rfc2822 only

    static Reading number(Unit unit, bool guessed) { return {Kind::number, unit, guessed, false}; }
    static Reading iso8601(bool offsetGiven) { return {Kind::iso8601, Unit::seconds, false, offsetGiven}; }
    static Reading rfc2822(bool offsetGiven) { return {Kind::rfc2822, Unit::seconds, false, offsetGiven}; }

    friend bool operator==(const Reading& a, const Reading& b)
    {
        if (a.kind != b.kind)
            return false;
        if (a.kind == Kind::number)
            return a.unit == b.unit && a.guessed == b.guessed;
        return a.offsetGiven == b.offsetGiven;
    }
};

struct Parsed {
    Instant instant;
    Reading reading;
    friend bool operator==(const Parsed&, const Parsed&) = default;
};

enum class Failure { empty, unrecognised, outOfRange };

// A parse gives a moment or the reason there is none.
using ParseResult = std::variant<Parsed, Failure>;

struct Row {
    QString label;
    QString value;
    friend bool operator==(const Row&, const Row&) = default;
};

struct CalendarFacts {
    QString weekday;
    qint64 dayOfYear = 0;
    qint64 isoWeekYear = 0;
    qint64 isoWeek = 0;
    friend bool operator==(const CalendarFacts&, const CalendarFacts&) = default;
};

struct RowLists {
    QList<Row> unixTime;
    QList<Row> dates;
    QList<Row> calendar;
};

// Moments the tool supports: 0001-01-01T00:00:00Z up to, not including, 10000-01-01T00:00:00Z.
inline constexpr qint64 earliestSeconds = -62135596800LL;
inline constexpr qint64 endSeconds = 253402300800LL;

extern const std::array<QStringView, 12> monthNames;
extern const std::array<QStringView, 7> weekdayAbbreviations;  // Monday first
extern const std::array<QStringView, 7> weekdayNames;          // Monday first

// The zone "UTC", or a fixed zero offset where the system has none by that name.
const QTimeZone& utc();

// The zone's offset from UTC, in seconds, at a moment; 0 for an invalid zone.
int offsetAt(const QTimeZone& zone, qint64 seconds);

bool isDigits(QStringView text);

// --- reading
ParseResult parse(const QString& text, UnitChoice unit, const QTimeZone& zone);
// Each reader takes trimmed text; nothing means "not this form".
std::optional<ParseResult> parseNumber(QStringView text, UnitChoice unit);
std::optional<ParseResult> parseISO8601(QStringView text, const QTimeZone& zone);
std::optional<ParseResult> parseRFC2822(QStringView text, const QTimeZone& zone);
// The first nine digits of a run of fraction digits as nanoseconds ("5" is 500,000,000).
qint64 fractionNanoseconds(QByteArrayView digits);
// RFC 2822 zone names (upper case) to seconds east of UTC.
const QHash<QString, int>& rfc2822Zones();

// --- calendar arithmetic
qint64 daysFromCivil(qint64 year, qint64 month, qint64 day);
struct CivilDate {
    qint64 year;
    qint64 month;
    qint64 day;
    friend bool operator==(const CivilDate&, const CivilDate&) = default;
};
CivilDate civilFromDays(qint64 days);
bool isLeapYear(qint64 year);
qint64 daysInMonth(qint64 year, qint64 month);
int isoWeeksInYear(qint64 year);

// --- writing
RowLists rows(qint64 seconds, qint64 nanoseconds, const QTimeZone& zone);
std::optional<QString> matchingRowLabel(const QList<Row>& rows, const QString& input);
QString iso8601Text(qint64 seconds, qint64 nanoseconds, const QTimeZone& zone);
// Same text for a known offset, when the caller already looked it up.
QString iso8601Text(qint64 seconds, qint64 nanoseconds, int offsetSeconds);
QString offsetText(qint64 offsetSeconds);
QString rfc2822Stem(qint64 seconds);
QString unixSecondsText(qint64 seconds, qint64 nanoseconds);
QString fractionText(qint64 nanoseconds);
QString clockText(qint64 secondsOfDay);

}  // namespace Timestamp
