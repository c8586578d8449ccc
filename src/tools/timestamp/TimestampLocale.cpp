#include "tools/timestamp/TimestampLocale.h"

#include "tools/timestamp/Timestamp.h"

#include <QDateTime>
#include <QLocale>

#include <unicode/udat.h>
#include <unicode/ureldatefmt.h>
#include <unicode/ucal.h>

#include <cmath>
#include <memory>
#include <utility>

namespace Timestamp {

static QString fromUChars(const UChar* chars, int32_t n)
{
    return QString(reinterpret_cast<const QChar*>(chars), n);
}

// ICU's own zone of that name, when its offset at the moment agrees with the system's; a
// fixed "GMT±hh:mm" zone otherwise, so the offset shown is always the system's.
static QString icuZoneFor(const QTimeZone& zone, qint64 seconds, int offset)
{
    const QString id = QString::fromUtf8(zone.id());
    UErrorCode status = U_ZERO_ERROR;
    UCalendar* calendar = ucal_open(reinterpret_cast<const UChar*>(id.utf16()), int32_t(id.size()), "en",
                                    UCAL_GREGORIAN, &status);
    bool agrees = false;
    if (U_SUCCESS(status)) {
        ucal_setMillis(calendar, UDate(seconds) * 1000.0, &status);
        const int32_t raw = ucal_get(calendar, UCAL_ZONE_OFFSET, &status);
        const int32_t dst = ucal_get(calendar, UCAL_DST_OFFSET, &status);
        UChar canonical[128];
        UErrorCode idStatus = U_ZERO_ERROR;
        const int32_t n = ucal_getTimeZoneID(calendar, canonical, 128, &idStatus);
        // ICU falls back to "Etc/Unknown" for a name it does not know.
        const bool known = U_SUCCESS(idStatus) && fromUChars(canonical, n) != QStringLiteral("Etc/Unknown");
        agrees = U_SUCCESS(status) && known && (raw + dst) / 1000 == offset;
    }
    if (calendar)
        ucal_close(calendar);
    if (agrees)
        return id;
    if (offset == 0)
        return QStringLiteral("GMT");
    const int a = std::abs(offset);
    QString text = QStringLiteral("GMT%1%2:%3")
                       .arg(QChar(offset < 0 ? u'-' : u'+'))
                       .arg(a / 3600, 2, 10, QLatin1Char('0'))
                       .arg((a % 3600) / 60, 2, 10, QLatin1Char('0'));
    return text;
}

QByteArray icuLocaleName()
{
    const QString name = QLocale().name();
    if (name == u"C" || name == u"POSIX")
        return QByteArrayLiteral("en_US_POSIX");
    return name.toUtf8();
}

QString localDateTimeText(qint64 seconds, qint64 nanoseconds, const QTimeZone& zone)
{
    const int offset = offsetAt(zone, seconds);
    const QString zoneId = icuZoneFor(zone, seconds, offset);
    const QByteArray locale = icuLocaleName();
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format = udat_open(UDAT_FULL, UDAT_LONG, locale.constData(),
                                    reinterpret_cast<const UChar*>(zoneId.utf16()), int32_t(zoneId.size()),
                                    nullptr, 0, &status);
    if (U_FAILURE(status)) {
        if (format)
            udat_close(format);
        return iso8601Text(seconds, nanoseconds, offset);
    }
    // ICU's default calendar switches to Julian before 1582; the rest of the tool is Gregorian.
    UCalendar* calendar = const_cast<UCalendar*>(udat_getCalendar(format));
    ucal_setGregorianChange(calendar, -1e300, &status);
    status = U_ZERO_ERROR;
    UChar buffer[256];
    const UDate date = UDate(seconds) * 1000.0 + double(nanoseconds / 1000000);
    const int32_t n = udat_format(format, date, buffer, 256, nullptr, &status);
    udat_close(format);
    if (U_FAILURE(status) || n <= 0 || n > 256)
        return iso8601Text(seconds, nanoseconds, offset);
    return fromUChars(buffer, n);
}

// Whole calendar units counted from now towards the moment, in the user's zone: a unit is
// used only once one whole step of it fits, so a month is a calendar month (28 to 31 days)
// and the same time last year is one year ago.
static std::pair<URelativeDateTimeUnit, qint64> calendarDistance(qint64 momentMs, qint64 nowMs, bool ahead,
                                                                const QTimeZone& zone)
{
    const QTimeZone z = zone.isValid() ? zone : QTimeZone::utc();
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(nowMs, z);
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(momentMs, z);
    const int sign = ahead ? 1 : -1;
    const auto reached = [&](const QDateTime& step) { return ahead ? step <= moment : step >= moment; };
    // Each guess from the dates alone is at most one too many.
    const QDate from = now.date(), to = moment.date();
    qint64 years = std::abs(to.year() - from.year());
    while (years > 0 && !reached(now.addYears(int(sign * years))))
        --years;
    if (years > 0)
        return {UDAT_REL_UNIT_YEAR, years};
    qint64 months = std::abs((to.year() - from.year()) * 12 + to.month() - from.month());
    while (months > 0 && !reached(now.addMonths(int(sign * months))))
        --months;
    if (months > 0)
        return {UDAT_REL_UNIT_MONTH, months};
    qint64 days = std::abs(from.daysTo(to));
    while (days > 0 && !reached(now.addDays(sign * days)))
        --days;
    if (days >= 7)
        return {UDAT_REL_UNIT_WEEK, days / 7};
    if (days > 0)
        return {UDAT_REL_UNIT_DAY, days};
    return {UDAT_REL_UNIT_SECOND, 0};
}

QString relativeText(qint64 seconds, qint64 nanoseconds, qint64 nowMilliseconds, const QTimeZone& zone)
{
    const double delta = double(seconds - nowMilliseconds / 1000) + double(nanoseconds) / 1e9
                       - double(nowMilliseconds % 1000) / 1000.0;
    const double magnitude = std::abs(delta);
    const bool ahead = delta >= 0;
    // Rounded towards now, so that a step counts only once the moment truly lies beyond it.
    const qint64 momentMs = seconds * 1000 + (nanoseconds + (ahead ? 0 : 999999)) / 1000000;
    auto [unit, whole] = calendarDistance(momentMs, nowMilliseconds, ahead, zone);
    double count = double(whole);
    if (whole == 0) {
        // Less than a calendar day: elapsed time.
        double size = 1;
        unit = UDAT_REL_UNIT_SECOND;
        if (magnitude >= 3600) {
            unit = UDAT_REL_UNIT_HOUR;
            size = 3600;
        } else if (magnitude >= 60) {
            unit = UDAT_REL_UNIT_MINUTE;
            size = 60;
        }
        count = std::trunc(magnitude / size);
    }
    if (!ahead)
        count = -count;
    const QByteArray locale = icuLocaleName();
    UErrorCode status = U_ZERO_ERROR;
    URelativeDateTimeFormatter* formatter =
        ureldatefmt_open(locale.constData(), nullptr, UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_NONE, &status);
    if (U_FAILURE(status)) {
        if (formatter)
            ureldatefmt_close(formatter);
        return {};
    }
    UChar buffer[256];
    // Numeric always: "in 0 seconds" and "in 1 day" rather than "now" and "tomorrow". Zero
    // counts as ahead; a negative zero would read "0 seconds ago".
    const int32_t n = ureldatefmt_formatNumeric(formatter, count == 0 ? 0.0 : count, unit, buffer, 256, &status);
    ureldatefmt_close(formatter);
    if (U_FAILURE(status) || n <= 0 || n > 256)
        return {};
    return fromUChars(buffer, n);
}

}  // namespace Timestamp
