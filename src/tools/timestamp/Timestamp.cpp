#include "tools/timestamp/Timestamp.h"

#include <QDateTime>
#include <QHash>

#include <limits>

namespace Timestamp {

const std::array<QStringView, 12> monthNames{u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                             u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
const std::array<QStringView, 7> weekdayAbbreviations{u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat", u"Sun"};
const std::array<QStringView, 7> weekdayNames{u"Monday", u"Tuesday",  u"Wednesday", u"Thursday",
                                              u"Friday", u"Saturday", u"Sunday"};

// ---------------------------------------------------------------------------------------------
// Values

QString rawValue(Unit unit)
{
    switch (unit) {
    case Unit::seconds: return QStringLiteral("seconds");
    case Unit::milliseconds: return QStringLiteral("milliseconds");
    case Unit::microseconds: return QStringLiteral("microseconds");
    case Unit::nanoseconds: return QStringLiteral("nanoseconds");
    }
    return {};
}

QString rawValue(UnitChoice choice)
{
    if (choice == UnitChoice::automatic)
        return QStringLiteral("auto");
    return rawValue(*unitOf(choice));
}

std::optional<Unit> unitFromRawValue(QStringView text)
{
    for (Unit u : allUnits)
        if (text == rawValue(u))
            return u;
    return std::nullopt;
}

std::optional<UnitChoice> unitChoiceFromRawValue(QStringView text)
{
    for (UnitChoice c : allUnitChoices)
        if (text == rawValue(c))
            return c;
    return std::nullopt;
}

std::optional<Unit> unitOf(UnitChoice choice)
{
    switch (choice) {
    case UnitChoice::automatic: return std::nullopt;
    case UnitChoice::seconds: return Unit::seconds;
    case UnitChoice::milliseconds: return Unit::milliseconds;
    case UnitChoice::microseconds: return Unit::microseconds;
    case UnitChoice::nanoseconds: return Unit::nanoseconds;
    }
    return std::nullopt;
}

QString label(UnitChoice choice)
{
    switch (choice) {
    case UnitChoice::automatic: return QStringLiteral("Auto");
    case UnitChoice::seconds: return QStringLiteral("s");
    case UnitChoice::milliseconds: return QStringLiteral("ms");
    case UnitChoice::microseconds: return QString(QChar(0x00B5)) + u's';
    case UnitChoice::nanoseconds: return QStringLiteral("ns");
    }
    return {};
}

const QTimeZone& utc()
{
    static const QTimeZone zone = [] {
        QTimeZone named(QByteArrayLiteral("UTC"));
        return named.isValid() ? named : QTimeZone(0);
    }();
    return zone;
}

int offsetAt(const QTimeZone& zone, qint64 seconds)
{
    if (!zone.isValid())
        return 0;
    return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc()));
}

bool isDigits(QStringView text)
{
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

static bool inRange(qint64 seconds)
{
    return seconds >= earliestSeconds && seconds < endSeconds;
}

static qint64 floorDiv(qint64 a, qint64 b)
{
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// ---------------------------------------------------------------------------------------------
// Calendar arithmetic

bool isLeapYear(qint64 year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

qint64 daysInMonth(qint64 year, qint64 month)
{
    switch (month) {
    case 4: case 6: case 9: case 11: return 30;
    case 2: return isLeapYear(year) ? 29 : 28;
    default: return 31;
    }
}

qint64 daysFromCivil(qint64 year, qint64 month, qint64 day)
{
    if (month <= 2)
        year -= 1;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yoe = year - era * 400;
    const qint64 mp = (month + 9) % 12;
    const qint64 doy = (153 * mp + 2) / 5 + day - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilDate civilFromDays(qint64 days)
{
    const qint64 z = days + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const qint64 day = doy - (153 * mp + 2) / 5 + 1;
    const qint64 month = mp < 10 ? mp + 3 : mp - 9;
    const qint64 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

static int isoWeekdayOfDay(qint64 days)  // Monday 1 ... Sunday 7
{
    qint64 r = (days + 3) % 7;
    if (r < 0)
        r += 7;
    return int(r) + 1;
}

int isoWeeksInYear(qint64 year)
{
    const int j = isoWeekdayOfDay(daysFromCivil(year, 1, 1));
    return (j == 4 || (j == 3 && isLeapYear(year))) ? 53 : 52;
}

// ---------------------------------------------------------------------------------------------
// Reading

const QHash<QString, int>& rfc2822Zones()
{
    static const QHash<QString, int> zones{
        {QStringLiteral("GMT"), 0},       {QStringLiteral("UT"), 0},        {QStringLiteral("UTC"), 0},
        {QStringLiteral("Z"), 0},         {QStringLiteral("EST"), -18000},  {QStringLiteral("EDT"), -14400},
        {QStringLiteral("CST"), -21600},  {QStringLiteral("CDT"), -18000},  {QStringLiteral("MST"), -25200},
        {QStringLiteral("MDT"), -21600},  {QStringLiteral("PST"), -28800},  {QStringLiteral("PDT"), -25200},
    };
    return zones;
}

qint64 fractionNanoseconds(QByteArrayView digits)
{
    qint64 value = 0;
    for (int i = 0; i < 9; ++i)
        value = value * 10 + (i < digits.size() ? digits[i] - '0' : 0);
    return value;
}

// A local date and time without offset, resolved in the zone by two offset look-ups.
static qint64 resolveLocal(qint64 naive, const QTimeZone& zone)
{
    const int off1 = offsetAt(zone, naive);
    const int off2 = offsetAt(zone, naive - off1);
    return naive - off2;
}

static qint64 naiveSeconds(qint64 year, qint64 month, qint64 day, qint64 hour, qint64 minute, qint64 second)
{
    return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

static bool validDateTime(qint64 year, qint64 month, qint64 day, qint64 hour, qint64 minute, qint64 second)
{
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month)
        && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

ParseResult parse(const QString& text, UnitChoice unit, const QTimeZone& zone)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return Failure::empty;
    if (auto r = parseNumber(trimmed, unit))
        return *r;
    if (auto r = parseISO8601(trimmed, zone))
        return *r;
    if (auto r = parseRFC2822(trimmed, zone))
        return *r;
    return Failure::unrecognised;
}

std::optional<ParseResult> parseNumber(QStringView text, UnitChoice choice)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'-' || text.front() == u'+')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    const qsizetype dot = text.indexOf(u'.');
    const QStringView integerPart = dot < 0 ? text : text.left(dot);
    const QStringView fractionPart = dot < 0 ? QStringView() : text.mid(dot + 1);
    if (integerPart.isEmpty() || !isDigits(integerPart) || !isDigits(fractionPart))
        return std::nullopt;

    // Leading zeros never overflow; only the value counts.
    constexpr qint64 maxValue = std::numeric_limits<qint64>::max();
    qint64 value = 0;
    for (QChar c : integerPart) {
        const int d = c.unicode() - u'0';
        if (value > (maxValue - d) / 10)
            return ParseResult(Failure::outOfRange);
        value = value * 10 + d;
    }

    Unit unit;
    bool guessed = false;
    if (auto chosen = unitOf(choice)) {
        unit = *chosen;
    } else {
        guessed = true;
        if (value < 100'000'000'000LL)
            unit = Unit::seconds;
        else if (value < 100'000'000'000'000LL)
            unit = Unit::milliseconds;
        else if (value < 100'000'000'000'000'000LL)
            unit = Unit::microseconds;
        else
            unit = Unit::nanoseconds;
    }
    qint64 perSecond = 1;
    int kept = 9;
    switch (unit) {
    case Unit::seconds: perSecond = 1; kept = 9; break;
    case Unit::milliseconds: perSecond = 1000; kept = 6; break;
    case Unit::microseconds: perSecond = 1000000; kept = 3; break;
    case Unit::nanoseconds: perSecond = 1000000000; kept = 0; break;
    }
    qint64 fraction = 0;
    for (int i = 0; i < kept; ++i)
        fraction = fraction * 10 + (i < fractionPart.size() ? fractionPart[i].unicode() - u'0' : 0);

    qint64 seconds = value / perSecond;
    qint64 nanoseconds = (value % perSecond) * (1000000000 / perSecond) + fraction;
    if (negative) {
        seconds = -seconds;
        if (nanoseconds > 0) {
            seconds -= 1;
            nanoseconds = 1000000000 - nanoseconds;
        }
    }
    if (!inRange(seconds))
        return ParseResult(Failure::outOfRange);
    return ParseResult(Parsed{{seconds, nanoseconds}, Reading::number(unit, guessed)});
}

namespace {

// A cursor over the UTF-8 bytes of an ISO 8601 text.
struct ByteCursor {
    QByteArrayView bytes;
    qsizetype at = 0;

    bool atEnd() const { return at >= bytes.size(); }
    char peek() const { return atEnd() ? '\0' : bytes[at]; }
    bool take(char c)
    {
        if (peek() != c || atEnd())
            return false;
        ++at;
        return true;
    }
    // Exactly n ASCII digits; on failure the cursor stays where it was.
    std::optional<qint64> readDigits(int n)
    {
        if (bytes.size() - at < n)
            return std::nullopt;
        qint64 v = 0;
        for (int i = 0; i < n; ++i) {
            const char c = bytes[at + i];
            if (c < '0' || c > '9')
                return std::nullopt;
            v = v * 10 + (c - '0');
        }
        at += n;
        return v;
    }
};

enum class ZoneRead { none, offset, invalid };

// The zone designator at the cursor: nothing, Z, ±hh, ±hhmm, ±hh:mm, ±hh:mm:ss, or UTC/GMT.
ZoneRead readZoneOffset(ByteCursor& c, int& offset)
{
    if (c.atEnd())
        return ZoneRead::none;
    const char first = c.peek();
    if (first == 'Z' || first == 'z') {
        ++c.at;
        offset = 0;
        return ZoneRead::offset;
    }
    if (first == '+' || first == '-') {
        ++c.at;
        const int sign = first == '-' ? -1 : 1;
        auto hh = c.readDigits(2);
        if (!hh || *hh > 23)
            return ZoneRead::invalid;
        qint64 total = *hh * 3600;
        if (c.take(':')) {
            auto mm = c.readDigits(2);
            if (!mm || *mm > 59)
                return ZoneRead::invalid;
            total += *mm * 60;
            if (c.take(':')) {
                auto ss = c.readDigits(2);
                if (!ss || *ss > 59)
                    return ZoneRead::invalid;
                total += *ss;
            }
        } else if (!c.atEnd()) {
            auto mm = c.readDigits(2);
            if (!mm || *mm > 59)
                return ZoneRead::invalid;
            total += *mm * 60;
        }
        offset = int(sign * total);
        return ZoneRead::offset;
    }
    const QByteArrayView rest = c.bytes.sliced(c.at);
    if (rest.size() == 3
        && (rest.compare("UTC", Qt::CaseInsensitive) == 0 || rest.compare("GMT", Qt::CaseInsensitive) == 0)) {
        c.at = c.bytes.size();
        offset = 0;
        return ZoneRead::offset;
    }
    return ZoneRead::invalid;
}

}  // namespace

std::optional<ParseResult> parseISO8601(QStringView text, const QTimeZone& zone)
{
    // Only ASCII can make up the form; anything wider fails where it stands.
    QByteArray utf8 = text.toUtf8();
    ByteCursor c{utf8};
    auto year = c.readDigits(4);
    if (!year || !c.take('-'))
        return std::nullopt;
    auto month = c.readDigits(2);
    if (!month || !c.take('-'))
        return std::nullopt;
    auto day = c.readDigits(2);
    if (!day)
        return std::nullopt;

    qint64 hour = 0, minute = 0, second = 0, nanoseconds = 0;
    if (!c.atEnd() && (c.peek() == ' ' || c.peek() == 'T' || c.peek() == 't')) {
        ++c.at;
        auto hh = c.readDigits(2);
        if (!hh || !c.take(':'))
            return std::nullopt;
        auto mm = c.readDigits(2);
        if (!mm)
            return std::nullopt;
        hour = *hh;
        minute = *mm;
        if (c.take(':')) {
            auto ss = c.readDigits(2);
            if (!ss)
                return std::nullopt;
            second = *ss;
            if (!c.atEnd() && (c.peek() == '.' || c.peek() == ',')) {
                ++c.at;
                const qsizetype start = c.at;
                while (!c.atEnd() && c.peek() >= '0' && c.peek() <= '9')
                    ++c.at;
                if (c.at == start)
                    return std::nullopt;
                nanoseconds = fractionNanoseconds(c.bytes.sliced(start, c.at - start));
            }
        } else if (!c.atEnd() && (c.peek() == '.' || c.peek() == ',')) {
            return std::nullopt;  // a fraction needs seconds
        }
        while (!c.atEnd() && c.peek() == ' ')
            ++c.at;
    }
    int offset = 0;
    const ZoneRead zoneRead = readZoneOffset(c, offset);
    if (zoneRead == ZoneRead::invalid || !c.atEnd())
        return std::nullopt;
    if (!validDateTime(*year, *month, *day, hour, minute, second))
        return std::nullopt;

    const qint64 naive = naiveSeconds(*year, *month, *day, hour, minute, second);
    const bool offsetGiven = zoneRead == ZoneRead::offset;
    const qint64 seconds = offsetGiven ? naive - offset : resolveLocal(naive, zone);
    if (!inRange(seconds))
        return ParseResult(Failure::outOfRange);
    return ParseResult(Parsed{{seconds, nanoseconds}, Reading::iso8601(offsetGiven)});
}

static bool isLettersOnly(QStringView piece)
{
    for (qsizetype i = 0; i < piece.size(); ++i) {
        char32_t cp = piece[i].unicode();
        if (piece[i].isHighSurrogate() && i + 1 < piece.size() && piece[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(piece[i], piece[i + 1]);
            ++i;
        } else if (piece[i].isSurrogate()) {
            return false;  // a lone half is no letter
        }
        if (!QChar::isLetter(cp))
            return false;
    }
    return true;
}

static std::optional<qint64> twoDigits(QStringView piece)
{
    if (piece.size() != 2 || !isDigits(piece))
        return std::nullopt;
    return (piece[0].unicode() - u'0') * 10 + (piece[1].unicode() - u'0');
}

std::optional<ParseResult> parseRFC2822(QStringView text, const QTimeZone& zone)
{
    // Pieces between spaces and commas; at most a weekday and five more are of any use.
    std::array<QStringView, 7> pieces;
    int count = 0;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool separator = i == text.size() || text[i] == u' ' || text[i] == u',';
        if (separator) {
            if (start >= 0) {
                if (count == int(pieces.size()))
                    return std::nullopt;
                pieces[count++] = text.mid(start, i - start);
                start = -1;
            }
        } else if (start < 0) {
            start = i;
        }
    }
    int first = 0;
    if (count > 0 && isLettersOnly(pieces[0]))
        first = 1;
    const int remaining = count - first;
    if (remaining != 4 && remaining != 5)
        return std::nullopt;
    const QStringView dayPiece = pieces[first];
    const QStringView monthPiece = pieces[first + 1];
    const QStringView yearPiece = pieces[first + 2];
    const QStringView timePiece = pieces[first + 3];

    if (dayPiece.isEmpty() || dayPiece.size() > 2 || !isDigits(dayPiece))
        return std::nullopt;
    const qint64 day = dayPiece.toInt();
    qint64 month = 0;
    for (int i = 0; i < 12; ++i)
        if (monthPiece.compare(monthNames[i], Qt::CaseInsensitive) == 0)
            month = i + 1;
    if (month == 0)
        return std::nullopt;
    if (yearPiece.size() != 4 || !isDigits(yearPiece))
        return std::nullopt;
    const qint64 year = yearPiece.toInt();

    std::array<QStringView, 3> timeParts;
    int timeCount = 0;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= timePiece.size(); ++i) {
        if (i == timePiece.size() || timePiece[i] == u':') {
            if (timeCount == 3)
                return std::nullopt;
            timeParts[timeCount++] = timePiece.mid(from, i - from);
            from = i + 1;
        }
    }
    if (timeCount < 2)
        return std::nullopt;
    auto hour = twoDigits(timeParts[0]);
    auto minute = twoDigits(timeParts[1]);
    auto second = timeCount == 3 ? twoDigits(timeParts[2]) : std::optional<qint64>(0);
    if (!hour || !minute || !second)
        return std::nullopt;
    if (!validDateTime(year, month, day, *hour, *minute, *second))
        return std::nullopt;
    const qint64 naive = naiveSeconds(year, month, day, *hour, *minute, *second);

    qint64 seconds;
    bool offsetGiven = false;
    if (remaining == 5) {
        const QStringView zonePiece = pieces[first + 4];
        const auto& names = rfc2822Zones();
        auto named = names.constFind(zonePiece.toString().toUpper());
        qint64 offset;
        if (named != names.constEnd()) {
            offset = *named;
        } else {
            if (zonePiece.size() != 5 || (zonePiece[0] != u'+' && zonePiece[0] != u'-')
                || !isDigits(zonePiece.mid(1)))
                return std::nullopt;
            const qint64 hhmm = zonePiece.mid(1).toInt();
            if (hhmm > 2399 || hhmm % 100 > 59)
                return std::nullopt;
            offset = (hhmm / 100) * 3600 + (hhmm % 100) * 60;
            if (zonePiece[0] == u'-')
                offset = -offset;
        }
        seconds = naive - offset;
        offsetGiven = true;
    } else {
        seconds = resolveLocal(naive, zone);
    }
    if (!inRange(seconds))
        return ParseResult(Failure::outOfRange);
    return ParseResult(Parsed{{seconds, 0}, Reading::rfc2822(offsetGiven)});
}

// ---------------------------------------------------------------------------------------------
// Writing

static void appendPadded(QString& out, qint64 value, int width)
{
    if (value < 0) {
        out += u'-';
        value = -value;
    }
    char buffer[24];
    int n = 0;
    do {
        buffer[n++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (int i = n; i < width; ++i)
        out += u'0';
    while (n > 0)
        out += QLatin1Char(buffer[--n]);
}

static QString int128Text(__int128 value)
{
    const bool negative = value < 0;
    unsigned __int128 magnitude = negative ? -(unsigned __int128)value : (unsigned __int128)value;
    char buffer[48];
    int n = 0;
    do {
        buffer[n++] = char('0' + int(magnitude % 10));
        magnitude /= 10;
    } while (magnitude > 0);
    QString out;
    out.reserve(n + 1);
    if (negative)
        out += u'-';
    while (n > 0)
        out += QLatin1Char(buffer[--n]);
    return out;
}

QString clockText(qint64 s)
{
    QString out;
    out.reserve(8);
    const qint64 hours = s / 3600;
    appendPadded(out, hours, 2);
    out += u':';
    appendPadded(out, (s - hours * 3600) / 60, 2);
    out += u':';
    appendPadded(out, s % 60, 2);
    return out;
}

QString fractionText(qint64 nanoseconds)
{
    QString out;
    if (nanoseconds == 0)
        return out;
    out += u'.';
    if (nanoseconds % 1000000 == 0)
        appendPadded(out, nanoseconds / 1000000, 3);
    else if (nanoseconds % 1000 == 0)
        appendPadded(out, nanoseconds / 1000, 6);
    else
        appendPadded(out, nanoseconds, 9);
    return out;
}

QString offsetText(qint64 offset)
{
    QString out;
    out.reserve(9);
    out += offset >= 0 ? u'+' : u'-';
    const qint64 a = offset >= 0 ? offset : -offset;
    appendPadded(out, a / 3600, 2);
    out += u':';
    appendPadded(out, (a % 3600) / 60, 2);
    if (a % 60 != 0) {
        out += u':';
        appendPadded(out, a % 60, 2);
    }
    return out;
}

QString unixSecondsText(qint64 seconds, qint64 nanoseconds)
{
    if (nanoseconds == 0)
        return QString::number(seconds);
    QString out;
    qint64 whole = seconds;
    qint64 fraction = nanoseconds;
    if (seconds < 0) {
        out += u'-';
        whole = -seconds - 1;
        fraction = 1000000000 - nanoseconds;
    }
    out += QString::number(whole);
    out += u'.';
    QString digits;
    appendPadded(digits, fraction, 9);
    while (digits.endsWith(u'0'))
        digits.chop(1);
    out += digits;
    return out;
}

QString rfc2822Stem(qint64 seconds)
{
    const qint64 day = floorDiv(seconds, 86400);
    const qint64 secondsOfDay = seconds - day * 86400;
    const CivilDate date = civilFromDays(day);
    QString out;
    out.reserve(26);
    out += weekdayAbbreviations[isoWeekdayOfDay(day) - 1];
    out += u", ";
    appendPadded(out, date.day, 2);
    out += u' ';
    out += monthNames[date.month - 1];
    out += u' ';
    appendPadded(out, date.year, 4);
    out += u' ';
    out += clockText(secondsOfDay);
    return out;
}

QString iso8601Text(qint64 seconds, qint64 nanoseconds, int offset)
{
    const qint64 local = seconds + offset;
    const qint64 day = floorDiv(local, 86400);
    const CivilDate date = civilFromDays(day);
    QString out;
    out.reserve(36);
    appendPadded(out, date.year, 4);
    out += u'-';
    appendPadded(out, date.month, 2);
    out += u'-';
    appendPadded(out, date.day, 2);
    out += u'T';
    out += clockText(local - day * 86400);
    out += fractionText(nanoseconds);
    if (offset == 0)
        out += u'Z';
    else
        out += offsetText(offset);
    return out;
}

QString iso8601Text(qint64 seconds, qint64 nanoseconds, const QTimeZone& zone)
{
    return iso8601Text(seconds, nanoseconds, offsetAt(zone, seconds));
}

static CalendarFacts calendarFactsForDay(qint64 d)
{
    const CivilDate date = civilFromDays(d);
    CalendarFacts facts;
    facts.dayOfYear = d - daysFromCivil(date.year, 1, 1) + 1;
    const int w = isoWeekdayOfDay(d);
    facts.weekday = weekdayNames[w - 1].toString();
    const qint64 n = facts.dayOfYear - w + 10;
    if (n <= 6) {
        facts.isoWeekYear = date.year - 1;
        facts.isoWeek = isoWeeksInYear(date.year - 1);
    } else {
        const qint64 week = n / 7;
        if (week > isoWeeksInYear(date.year)) {
            facts.isoWeekYear = date.year + 1;
            facts.isoWeek = 1;
        } else {
            facts.isoWeekYear = date.year;
            facts.isoWeek = week;
        }
    }
    return facts;
}

RowLists rows(qint64 seconds, qint64 nanoseconds, const QTimeZone& zone)
{
    const int offset = offsetAt(zone, seconds);
    const __int128 wide = (__int128)seconds * 1000000000 + nanoseconds;
    RowLists lists;
    lists.unixTime = {
        {QStringLiteral("Unix seconds"), unixSecondsText(seconds, nanoseconds)},
        {QStringLiteral("Unix milliseconds"), int128Text((__int128)seconds * 1000 + nanoseconds / 1000000)},
        {QStringLiteral("Unix microseconds"), int128Text((__int128)seconds * 1000000 + nanoseconds / 1000)},
        {QStringLiteral("Unix nanoseconds"), int128Text(wide)},
    };
    const QString stem = rfc2822Stem(seconds);
    lists.dates = {
        {QStringLiteral("ISO 8601, UTC"), iso8601Text(seconds, nanoseconds, 0)},
        {QStringLiteral("ISO 8601, local"), iso8601Text(seconds, nanoseconds, offset)},
        {QStringLiteral("RFC 2822"), stem + QStringLiteral(" +0000")},
        {QStringLiteral("HTTP date"), stem + QStringLiteral(" GMT")},
    };
    const CalendarFacts facts = calendarFactsForDay(floorDiv(seconds + offset, 86400));
    QString week;
    appendPadded(week, facts.isoWeekYear, 0);
    week += QStringLiteral("-W");
    appendPadded(week, facts.isoWeek, 2);
    lists.calendar = {
        {QStringLiteral("Weekday"), facts.weekday},
        {QStringLiteral("Day of year"), QString::number(facts.dayOfYear)},
        {QStringLiteral("ISO week"), week},
    };
    return lists;
}

std::optional<QString> matchingRowLabel(const QList<Row>& rows, const QString& input)
{
    const QString trimmed = input.trimmed();
    for (const Row& row : rows)
        if (row.value == trimmed)
            return row.label;
    return std::nullopt;
}

}  // namespace Timestamp
