#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// Which country a time zone belongs to, from the system's zone.tab and the alias lines of
// tzdata.zi, plus the flag and the names of a country, and the common abbreviations.
namespace Timestamp {

using ZoneCountries = QHash<QString, QString>;  // zone identifier -> country code

// Zones zone.tab lacks or names otherwise; they win over its rows.
const QList<std::pair<QString, QString>>& extraZoneCountries();

// The catalogue, read from /usr/share/zoneinfo on first use (safe against concurrent first
// calls) and then kept for the process.
const ZoneCountries& zoneCountries();
// Reads zone.tab and tzdata.zi from a folder; an unreadable zone.tab gives an empty catalogue.
ZoneCountries loadZoneCountries(const QString& folder = QStringLiteral("/usr/share/zoneinfo"));
// Builds the catalogue from the two files' texts; touches no file.
ZoneCountries readZoneCountries(const QString& zoneTab, const QString& tzdata);

// Two regional-indicator letters for a code of two upper-case ASCII letters; empty otherwise.
QString flag(const QString& country);
// The country's name in the user's language, then in English when that differs; the code
// itself stands in for a name a locale lacks.
QStringList countryNames(const QString& country);
// The name in the user's language alone (the code when there is none).
QString localizedCountryName(const QString& country);

// Common abbreviations (upper case) to one zone each: a fixed table of our own.
const QHash<QString, QString>& abbreviationDictionary();

}  // namespace Timestamp
