#include "tools/timestamp/TimestampZones.h"

#include "formats/Utf8Decoder.h"
#include "tools/timestamp/TimestampLocale.h"

#include <QFile>
#include <QLocale>
#include <QMutex>
#include <QStringView>

#include <unicode/uloc.h>

#include <algorithm>

namespace Timestamp {

const QList<std::pair<QString, QString>>& extraZoneCountries()
{
    static const QList<std::pair<QString, QString>> extras{
        {QStringLiteral("Pacific/Truk"), QStringLiteral("FM")},
        {QStringLiteral("Pacific/Ponape"), QStringLiteral("FM")},
        {QStringLiteral("Antarctica/South_Pole"), QStringLiteral("AQ")},
    };
    return extras;
}

const ZoneCountries& zoneCountries()
{
    static const ZoneCountries catalogue = loadZoneCountries();
    return catalogue;
}

static std::optional<QString> readUtf8(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    // Text that is not UTF-8 counts as unreadable, as a strict decoder would have it.
    return Utf8Decoder::decode(bytes, {Utf8Decoder::IllFormed::fail, Utf8Decoder::ByteOrderMark::drop, nullptr});
}

ZoneCountries loadZoneCountries(const QString& folder)
{
    const auto zoneTab = readUtf8(folder + QStringLiteral("/zone.tab"));
    if (!zoneTab)
        return {};
    const auto tzdata = readUtf8(folder + QStringLiteral("/tzdata.zi"));
    return readZoneCountries(*zoneTab, tzdata.value_or(QString()));
}

ZoneCountries readZoneCountries(const QString& zoneTab, const QString& tzdata)
{
    ZoneCountries catalogue;
    for (QStringView line : QStringView(zoneTab).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u'#'))
            continue;
        const auto fields = line.split(u'\t');
        if (fields.size() < 3 || fields[0].size() != 2)
            continue;
        catalogue.insert(fields[2].toString(), fields[0].toString());
    }
    for (const auto& [zone, country] : extraZoneCountries())
        catalogue.insert(zone, country);

    QHash<QString, QString> links;  // alias -> target
    for (QStringView line : QStringView(tzdata).split(u'\n', Qt::SkipEmptyParts)) {
        if (!line.startsWith(u"L "))
            continue;
        const auto pieces = line.split(u' ', Qt::SkipEmptyParts);
        if (pieces.size() != 3)
            continue;
        links.insert(pieces[2].toString(), pieces[1].toString());
    }
    // Sorted, so that whether a long chain resolves never depends on hash order.
    QStringList aliases = links.keys();
    std::sort(aliases.begin(), aliases.end());
    for (const QString& alias : aliases) {
        if (catalogue.contains(alias))
            continue;
        QString target = links.value(alias);
        for (int tries = 0; tries < 5; ++tries) {
            auto found = catalogue.constFind(target);
            if (found != catalogue.constEnd()) {
                const QString code = *found;  // the insert may move what `found` points at
                catalogue.insert(alias, code);
                break;
            }
            auto next = links.constFind(target);
            if (next == links.constEnd())
                break;
            target = *next;
        }
    }
    return catalogue;
}

QString flag(const QString& country)
{
    if (country.size() != 2)
        return {};
    QString out;
    for (QChar c : country) {
        if (c < u'A' || c > u'Z')
            return {};
        const char32_t indicator = c.unicode() + 127397;
        out += QChar::highSurrogate(indicator);
        out += QChar::lowSurrogate(indicator);
    }
    return out;
}

// ICU's display name of a region, or the code where it has none (ICU answers the code then).
static QString regionName(const QString& country, const QByteArray& displayLocale)
{
    const QByteArray locale = QByteArrayLiteral("und_") + country.toUtf8();
    UChar buffer[256];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = uloc_getDisplayCountry(locale.constData(), displayLocale.constData(), buffer, 256, &status);
    if (U_FAILURE(status) || n <= 0 || n > 256)
        return country;
    return QString(reinterpret_cast<const QChar*>(buffer), n);
}

QStringList countryNames(const QString& country)
{
    // A search asks for every country's names; ICU is asked once per code and process.
    static QMutex mutex;
    static QHash<QString, QStringList> cache;
    static QByteArray cachedFor;
    const QByteArray current = icuLocaleName();
    QMutexLocker lock(&mutex);
    if (cachedFor != current) {
        cache.clear();
        cachedFor = current;
    }
    auto found = cache.constFind(country);
    if (found != cache.constEnd())
        return *found;
    QStringList names;
    for (const QByteArray& locale : {current, QByteArrayLiteral("en")}) {
        const QString name = regionName(country, locale);
        if (!names.contains(name))
            names << name;
    }
    cache.insert(country, names);
    return names;
}

QString localizedCountryName(const QString& country)
{
    return countryNames(country).value(0, country);
}

const QHash<QString, QString>& abbreviationDictionary()
{
    static const QHash<QString, QString> table{
        {QStringLiteral("ACDT"), QStringLiteral("Australia/Adelaide")},
        {QStringLiteral("ACST"), QStringLiteral("Australia/Darwin")},
        {QStringLiteral("AEDT"), QStringLiteral("Australia/Sydney")},
        {QStringLiteral("AEST"), QStringLiteral("Australia/Brisbane")},
        {QStringLiteral("AKDT"), QStringLiteral("America/Juneau")},
        {QStringLiteral("AKST"), QStringLiteral("America/Anchorage")},
        {QStringLiteral("ADT"), QStringLiteral("America/Halifax")},
        {QStringLiteral("AST"), QStringLiteral("America/Puerto_Rico")},
        {QStringLiteral("ART"), QStringLiteral("America/Argentina/Buenos_Aires")},
        {QStringLiteral("AWST"), QStringLiteral("Australia/Perth")},
        {QStringLiteral("BDT"), QStringLiteral("Asia/Dhaka")},
        {QStringLiteral("BRT"), QStringLiteral("America/Sao_Paulo")},
        {QStringLiteral("BST"), QStringLiteral("Europe/London")},
        {QStringLiteral("CAT"), QStringLiteral("Africa/Harare")},
        {QStringLiteral("CDT"), QStringLiteral("America/Chicago")},
        {QStringLiteral("CEST"), QStringLiteral("Europe/Paris")},
        {QStringLiteral("CET"), QStringLiteral("Europe/Berlin")},
        {QStringLiteral("CLT"), QStringLiteral("America/Santiago")},
        {QStringLiteral("COT"), QStringLiteral("America/Bogota")},
        {QStringLiteral("CST"), QStringLiteral("America/Mexico_City")},
        {QStringLiteral("EAT"), QStringLiteral("Africa/Nairobi")},
        {QStringLiteral("EDT"), QStringLiteral("America/New_York")},
        {QStringLiteral("EEST"), QStringLiteral("Europe/Helsinki")},
        {QStringLiteral("EET"), QStringLiteral("Europe/Athens")},
        {QStringLiteral("EST"), QStringLiteral("America/Toronto")},
        {QStringLiteral("GMT"), QStringLiteral("GMT")},
        {QStringLiteral("GST"), QStringLiteral("Asia/Dubai")},
        {QStringLiteral("HKT"), QStringLiteral("Asia/Hong_Kong")},
        {QStringLiteral("HST"), QStringLiteral("Pacific/Honolulu")},
        {QStringLiteral("ICT"), QStringLiteral("Asia/Bangkok")},
        {QStringLiteral("IRST"), QStringLiteral("Asia/Tehran")},
        {QStringLiteral("IST"), QStringLiteral("Asia/Kolkata")},
        {QStringLiteral("JST"), QStringLiteral("Asia/Tokyo")},
        {QStringLiteral("KST"), QStringLiteral("Asia/Seoul")},
        {QStringLiteral("MDT"), QStringLiteral("America/Denver")},
        {QStringLiteral("MSK"), QStringLiteral("Europe/Moscow")},
        {QStringLiteral("MST"), QStringLiteral("America/Phoenix")},
        {QStringLiteral("NPT"), QStringLiteral("Asia/Kathmandu")},
        {QStringLiteral("NZDT"), QStringLiteral("Pacific/Auckland")},
        {QStringLiteral("NZST"), QStringLiteral("Pacific/Auckland")},
        {QStringLiteral("PDT"), QStringLiteral("America/Los_Angeles")},
        {QStringLiteral("PET"), QStringLiteral("America/Lima")},
        {QStringLiteral("PHT"), QStringLiteral("Asia/Manila")},
        {QStringLiteral("PKT"), QStringLiteral("Asia/Karachi")},
        {QStringLiteral("PST"), QStringLiteral("America/Vancouver")},
        {QStringLiteral("SAST"), QStringLiteral("Africa/Johannesburg")},
        {QStringLiteral("SGT"), QStringLiteral("Asia/Singapore")},
        {QStringLiteral("TRT"), QStringLiteral("Europe/Istanbul")},
        {QStringLiteral("UTC"), QStringLiteral("UTC")},
        {QStringLiteral("WAT"), QStringLiteral("Africa/Lagos")},
        {QStringLiteral("WET"), QStringLiteral("Europe/Lisbon")},
        {QStringLiteral("WIB"), QStringLiteral("Asia/Jakarta")},
    };
    return table;
}

}  // namespace Timestamp
