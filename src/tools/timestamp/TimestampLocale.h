#pragma once

#include <QString>
#include <QTimeZone>

// The locale-dependent texts of the tool, written by ICU in the user's language: the long date
// with the full time, and how far a moment lies from now. The offset always comes from the
// system zone database (QTimeZone), so the texts agree with every other row.
namespace Timestamp {

// The name ICU is given for the user's locale. Qt names the C and POSIX locales "C", which ICU
// does not know and answers with the root locale's plurals ("1 minutes ago").
QByteArray icuLocaleName();

QString localDateTimeText(qint64 seconds, qint64 nanoseconds, const QTimeZone& zone);
// "in 5 minutes", "3 days ago": whole units, the largest that fits, days and longer counted on
// the calendar of `zone`.
QString relativeText(qint64 seconds, qint64 nanoseconds, qint64 nowMilliseconds, const QTimeZone& zone);

}  // namespace Timestamp
