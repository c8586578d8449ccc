#include "tools/jwt/ui/JWTTimeText.h"

#include <QDateTime>
#include <QTimeZone>

#include <unicode/udat.h>
#include <unicode/ureldatefmt.h>
#include <unicode/ustring.h>

#include <cmath>
#include <memory>

namespace JWTTimeText {

namespace {

// ICU's calendars reach about ±2.9e5 years; beyond that the seconds are shown as they are.
constexpr double reachSeconds = 8.0e12;

QString plainSeconds(double seconds) { return QString::number(seconds, 'g', 15) + QStringLiteral(" s"); }

// The system's offset at that moment (ICU's own zone data may be older than the system's).
QString offsetZone(double seconds)
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const QDateTime moment = QDateTime::fromSecsSinceEpoch(qint64(std::floor(seconds)), QTimeZone::utc());
    const int offset = moment.isValid() ? zone.offsetFromUtc(moment) : zone.standardTimeOffset(QDateTime::currentDateTimeUtc());
    const int minutes = std::abs(offset) / 60;
    // The sign goes in as a character: arg() of a char16_t writes its number, and ICU reads an
    // unknown zone as GMT.
    return QStringLiteral("GMT%1%2:%3")
        .arg(QChar(offset < 0 ? u'-' : u'+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QString date(double seconds)
{
    if (!std::isfinite(seconds) || std::abs(seconds) > reachSeconds)
        return plainSeconds(seconds);
    const QString zone = offsetZone(seconds);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UDateFormat, decltype(&udat_close)> format(
        udat_open(UDAT_MEDIUM, UDAT_MEDIUM, nullptr, reinterpret_cast<const UChar*>(zone.utf16()),
                  int32_t(zone.size()), nullptr, 0, &status),
        udat_close);
    if (U_FAILURE(status) || !format)
        return plainSeconds(seconds);
    UChar buffer[128];
    const int32_t length = udat_format(format.get(), seconds * 1000.0, buffer, 128, nullptr, &status);
    if (U_FAILURE(status) || length <= 0 || length > 128)
        return plainSeconds(seconds);
    return QString(reinterpret_cast<const QChar*>(buffer), length);
}

QString iso8601(double seconds)
{
    // Qt::UTC rather than the UTC zone object, whose ISO form ends in "+00:00" rather than "Z".
    const QDateTime moment = std::isfinite(seconds) && std::abs(seconds) <= reachSeconds
                                 ? QDateTime::fromSecsSinceEpoch(qint64(std::floor(seconds)), Qt::UTC)
                                 : QDateTime();
    if (!moment.isValid() || moment.date().year() < 0 || moment.date().year() > 9999)
        return plainSeconds(seconds);
    return moment.toString(Qt::ISODate);
}

QString relative(double seconds, double now)
{
    const double delta = seconds - now;
    if (!std::isfinite(delta))
        return QString();
    struct Step {
        double seconds;
        URelativeDateTimeUnit unit;
    };
    // The largest unit of which at least one whole fits, as a count of it.
    static const Step steps[] = {{365.0 * 86400, UDAT_REL_UNIT_YEAR}, {30.0 * 86400, UDAT_REL_UNIT_MONTH},
                                 {7.0 * 86400, UDAT_REL_UNIT_WEEK},   {86400, UDAT_REL_UNIT_DAY},
                                 {3600, UDAT_REL_UNIT_HOUR},          {60, UDAT_REL_UNIT_MINUTE}};
    double count = std::trunc(delta);
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
    for (const Step& step : steps) {
        if (std::abs(delta) >= step.seconds) {
            count = std::trunc(delta / step.seconds);
            unit = step.unit;
            break;
        }
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<URelativeDateTimeFormatter, decltype(&ureldatefmt_close)> format(
        ureldatefmt_open(nullptr, nullptr, UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_NONE, &status), ureldatefmt_close);
    if (U_FAILURE(status) || !format)
        return QString();
    UChar buffer[256];
    const int32_t length = ureldatefmt_formatNumeric(format.get(), count, unit, buffer, 256, &status);
    if (U_FAILURE(status) || length <= 0 || length > 256)
        return QString();
    return QString(reinterpret_cast<const QChar*>(buffer), length);
}

} // namespace JWTTimeText
