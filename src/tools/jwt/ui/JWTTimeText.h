#pragma once

#include <QString>

// How a time claim reads: its date in the user's locale (abbreviated date, standard time, the
// system's local offset), the same moment in ISO 8601 for the tooltip, and how far it is from
// now ("in 5 seconds", "3 years ago"). Dates far outside a calendar's reach fall back to the
// number of seconds.
namespace JWTTimeText {

QString date(double seconds);
QString iso8601(double seconds);
QString relative(double seconds, double now);

// The claim values from which a date looks like milliseconds (the year 5138 on).
inline constexpr double millisecondsThreshold = 1e11;

} // namespace JWTTimeText
