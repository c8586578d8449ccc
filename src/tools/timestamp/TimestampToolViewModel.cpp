#include "tools/timestamp/TimestampToolViewModel.h"

#include "kit/DynamicColor.h"
#include "kit/StatusColor.h"
#include "formats/WorkPool.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QMimeData>
#include <QMutex>
#include <QSet>

#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <mutex>

using namespace Timestamp;

static QString nowSecondsText()
{
    return QString::number(QDateTime::currentMSecsSinceEpoch() / 1000);
}

TimestampToolViewModel::TimestampToolViewModel(QSettings& defaults, QObject* parent)
    : QObject(parent), m_input(nowSecondsText()), m_zones(loadZones(defaults)), m_defaults(defaults)
{
    // Every change of the input or the unit, whoever makes it, parses again after the quiet time.
    connect(this, &TimestampToolViewModel::inputChanged, this, &TimestampToolViewModel::scheduleParse);
    connect(this, &TimestampToolViewModel::unitChanged, this, &TimestampToolViewModel::scheduleParse);
}

void TimestampToolViewModel::warmZoneCatalogue()
{
    static std::once_flag warmed;
    std::call_once(warmed, [] {
        (void)QtConcurrent::run(WorkPool::instance(), [] {
            const QSet<QString> codes(zoneCountries().cbegin(), zoneCountries().cend());
            (void)zoneCandidates();
            for (const QString& code : codes)
                (void)countryNames(code);
        });
    });
}

void TimestampToolViewModel::replaceInput(const QString& text)
{
    const bool changed = text != m_input;
    m_input = text;
    ++m_inputGeneration;
    if (changed)
        emit inputChanged();
}

void TimestampToolViewModel::setUnit(UnitChoice unit)
{
    if (unit == m_unit)
        return;
    m_unit = unit;
    emit unitChanged();
}

QTimeZone TimestampToolViewModel::currentZone() const
{
    return m_zoneOverride ? *m_zoneOverride : QTimeZone::systemTimeZone();
}

void TimestampToolViewModel::scheduleParse()
{
    const QTimeZone zone = currentZone();
    m_requestedInputs = Inputs{m_inputGeneration, m_unit, zone};
    const QString text = m_input;
    const UnitChoice unit = m_unit;
    m_parseTask.schedule<ParseResult>(
        [text, unit, zone](const std::atomic_bool&) { return parse(text, unit, zone); },
        [this, zone](ParseResult result) { apply(result, zone); });
}

void TimestampToolViewModel::apply(const ParseResult& result, const QTimeZone& zone)
{
    m_parsedZone = zone;
    if (const auto* p = std::get_if<Parsed>(&result)) {
        const bool parsedChanged = m_parsed != *p;
        const bool failureChanged = m_failure.has_value();
        m_parsed = *p;
        m_failure.reset();
        if (parsedChanged)
            emit this->parsedChanged();
        if (failureChanged)
            emit this->failureChanged();
    } else {
        const Failure f = std::get<Failure>(result);
        const bool parsedChanged = m_parsed.has_value();
        const bool failureChanged = m_failure != f;
        m_parsed.reset();
        m_failure = f;
        if (parsedChanged)
            emit this->parsedChanged();
        if (failureChanged)
            emit this->failureChanged();
    }
    emit parseApplied();
}

void TimestampToolViewModel::refreshIfStale()
{
    const Inputs now{m_inputGeneration, m_unit, currentZone()};
    if (!m_requestedInputs || !(*m_requestedInputs == now))
        scheduleParse();
}

void TimestampToolViewModel::setNow()
{
    setUnit(UnitChoice::automatic);
    replaceInput(nowSecondsText());
    // Now with the same second already in the field still reads it afresh.
    scheduleParse();
}

static QString unitName(Unit unit)
{
    return rawValue(unit);
}

QString TimestampToolViewModel::statusText() const
{
    if (m_failure) {
        switch (*m_failure) {
        case Failure::empty: return QStringLiteral("Paste a Unix timestamp or a date, or choose Now.");
        case Failure::outOfRange:
            return QStringLiteral("Outside the years 1 to 9999, which is as far as ISO 8601 and RFC 2822 go.");
        case Failure::unrecognised:
            return QStringLiteral("Not a timestamp or a date this tool reads. Try Unix time (1790380800), ISO 8601 "
                                  "(2026-09-26T12:00:00Z) or RFC 2822 (Sat, 26 Sep 2026 12:00:00 GMT).");
        }
    }
    if (!m_parsed)
        return QStringLiteral(" ");
    const Reading& r = m_parsed->reading;
    // The zone the moment was read in, not whatever the system says by now.
    const QString zone = QString::fromUtf8(m_parsedZone.id());
    switch (r.kind) {
    case Reading::Kind::number:
        return r.guessed ? QStringLiteral("Read as %1 since 1970, judged by its size. Choose a unit to read it otherwise.")
                               .arg(unitName(r.unit))
                         : QStringLiteral("Read as %1 since 1970.").arg(unitName(r.unit));
    case Reading::Kind::iso8601:
        return r.offsetGiven
            ? QStringLiteral("Read as ISO 8601.")
            : QStringLiteral("Read as ISO 8601. It gives no offset, so it is read as local time in %1.").arg(zone);
    case Reading::Kind::rfc2822:
        return r.offsetGiven
            ? QStringLiteral("Read as RFC 2822.")
            : QStringLiteral("Read as RFC 2822. It gives no zone, so it is read as local time in %1.").arg(zone);
    }
    return QStringLiteral(" ");
}

std::optional<PaneBadge> TimestampToolViewModel::readingBadge() const
{
    if (m_failure) {
        switch (*m_failure) {
        case Failure::empty: return std::nullopt;
        case Failure::unrecognised: return PaneBadge(QStringLiteral("UNREADABLE"), StatusColor::red());
        case Failure::outOfRange: return PaneBadge(QStringLiteral("OUT OF RANGE"), StatusColor::red());
        }
    }
    if (!m_parsed)
        return std::nullopt;
    switch (m_parsed->reading.kind) {
    case Reading::Kind::number:
        return PaneBadge(unitName(m_parsed->reading.unit).toUpper(), DynamicColor::secondary());
    case Reading::Kind::iso8601: return PaneBadge(QStringLiteral("ISO 8601"), DynamicColor::secondary());
    case Reading::Kind::rfc2822: return PaneBadge(QStringLiteral("RFC 2822"), DynamicColor::secondary());
    }
    return std::nullopt;
}

std::optional<QString> TimestampToolViewModel::matchingRowLabel() const
{
    if (!m_parsed)
        return std::nullopt;
    const RowLists lists = rows(m_parsed->instant.seconds, m_parsed->instant.nanoseconds, currentZone());
    return Timestamp::matchingRowLabel(
        m_parsed->reading.kind == Reading::Kind::number ? lists.unixTime : lists.dates, m_input);
}

static bool isKnownZone(const QString& identifier)
{
    return !identifier.isEmpty() && QTimeZone(identifier.toUtf8()).isValid();
}

QList<Row> TimestampToolViewModel::otherZoneRows() const
{
    QList<Row> out;
    if (!m_parsed)
        return out;
    for (const QString& id : m_zones) {
        const QTimeZone zone(id.toUtf8());
        if (!zone.isValid())
            continue;
        out.append({id, iso8601Text(m_parsed->instant.seconds, m_parsed->instant.nanoseconds, zone)});
    }
    return out;
}

QStringList TimestampToolViewModel::zoneSuggestions(const QString& query) const
{
    QSet<QString> excluded(m_zones.begin(), m_zones.end());
    excluded.insert(QString::fromUtf8(currentZone().id()));
    excluded.insert(QStringLiteral("UTC"));
    excluded.insert(QStringLiteral("GMT"));
    return searchZones(query, excluded, zoneCandidates(), abbreviationDictionary(), zoneCountries(), countryNames);
}

void TimestampToolViewModel::addZone(const QString& identifier)
{
    const QStringList stored = loadZones(m_defaults);
    if (stored != m_zones) {
        m_zones = stored;
        emit zonesChanged();
    }
    if (m_zones.contains(identifier) || !isKnownZone(identifier))
        return;
    m_zones.append(identifier);
    saveZones();
    emit zonesChanged();
}

void TimestampToolViewModel::removeZone(const QString& identifier)
{
    QStringList zones = loadZones(m_defaults);
    zones.removeAll(identifier);
    const bool changed = zones != m_zones;
    m_zones = zones;
    saveZones();
    if (changed)
        emit zonesChanged();
}

void TimestampToolViewModel::saveZones()
{
    m_defaults.setValue(zonesKey, QVariant(m_zones));
    m_defaults.sync();
}

bool TimestampToolViewModel::copy(const QString& text)
{
    if (text.isEmpty())
        return false;
    auto* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->clear();
    clipboard->setText(text);
    return true;
}

QStringList TimestampToolViewModel::loadZones(QSettings& defaults)
{
    const QVariant value = defaults.value(zonesKey);
    if (!value.isValid())
        return {};
    // INI files give a one-element list back as a plain string.
    QStringList stored;
    if (value.typeId() == QMetaType::QString) {
        stored << value.toString();
    } else if (value.typeId() == QMetaType::QStringList) {
        stored = value.toStringList();
    } else if (value.typeId() == QMetaType::QVariantList) {
        for (const QVariant& element : value.toList()) {
            if (element.typeId() != QMetaType::QString)
                return {};
            stored << element.toString();
        }
    } else {
        return {};
    }
    QStringList out;
    for (const QString& id : stored)
        if (!out.contains(id) && isKnownZone(id))
            out << id;
    return out;
}

const QStringList& TimestampToolViewModel::zoneCandidates()
{
    static const QStringList candidates = [] {
        QSet<QString> set;
        const QList<QByteArray> known = QTimeZone::availableTimeZoneIds();
        set.reserve(known.size() + 64);
        for (const QByteArray& id : known)
            set.insert(QString::fromUtf8(id));
        for (const QString& id : abbreviationDictionary())
            set.insert(id);
        QStringList list(set.begin(), set.end());
        std::sort(list.begin(), list.end());
        return list;
    }();
    return candidates;
}

QString TimestampToolViewModel::searchKey(const QString& text)
{
    const QString trimmed = text.trimmed();
    bool ascii = true;
    for (QChar c : trimmed)
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    QString folded;
    if (ascii) {
        folded = trimmed.toLower();
    } else {
        const QString decomposed = trimmed.normalized(QString::NormalizationForm_KD);
        folded.reserve(decomposed.size());
        for (QChar c : decomposed)
            if (c.category() != QChar::Mark_NonSpacing)
                folded += c;
        folded = folded.toCaseFolded().normalized(QString::NormalizationForm_C);
    }
    folded.replace(u'_', u' ');
    return folded;
}

static QStringView cityPart(const QString& identifier)
{
    QStringView id(identifier);
    qsizetype end = id.size();
    while (end > 0) {
        const qsizetype slash = id.lastIndexOf(u'/', end - 1);
        const QStringView piece = id.mid(slash + 1, end - slash - 1);
        if (!piece.isEmpty())
            return piece;
        if (slash < 0)
            break;
        end = slash;
    }
    return id;
}

static bool nameMatches(const QString& nameKey, const QString& key)
{
    if (nameKey.startsWith(key))
        return true;
    qsizetype i = 0;
    while (i < nameKey.size()) {
        while (i < nameKey.size() && !nameKey[i].isLetterOrNumber())
            ++i;
        const qsizetype start = i;
        while (i < nameKey.size() && nameKey[i].isLetterOrNumber())
            ++i;
        if (i > start && QStringView(nameKey).mid(start, i - start).startsWith(key))
            return true;
    }
    return false;
}

QStringList TimestampToolViewModel::zonesMatchingCountry(const QString& key, const QStringList& among,
                                                         const ZoneCountries& countries,
                                                         const CountryNames& countryNames)
{
    QHash<QString, std::optional<QString>> verdicts;
    QList<std::pair<QString, QString>> pairs;
    for (const QString& id : among) {
        auto code = countries.constFind(id);
        if (code == countries.constEnd())
            continue;
        auto verdict = verdicts.constFind(*code);
        if (verdict == verdicts.constEnd()) {
            std::optional<QString> matched;
            for (const QString& name : countryNames(*code)) {
                // Country names repeat in every search: fold each once per process.
                static QMutex namesMutex;
                static QHash<QString, QString> foldedNames;
                QString nameKey;
                {
                    QMutexLocker lock(&namesMutex);
                    auto it = foldedNames.constFind(name);
                    if (it == foldedNames.constEnd())
                        it = foldedNames.insert(name, searchKey(name));
                    nameKey = *it;
                }
                if (nameMatches(nameKey, key)) {
                    matched = nameKey;
                    break;
                }
            }
            verdict = verdicts.insert(*code, matched);
        }
        if (*verdict)
            pairs.append({**verdict, id});
    }
    std::sort(pairs.begin(), pairs.end());
    QStringList out;
    out.reserve(pairs.size());
    for (const auto& pair : pairs)
        out << pair.second;
    return out;
}

QStringList TimestampToolViewModel::searchZones(const QString& query, const QSet<QString>& excluding,
                                                const QStringList& candidates,
                                                const QHash<QString, QString>& abbreviations,
                                                const ZoneCountries& countries, const CountryNames& countryNames)
{
    QStringList available;
    available.reserve(candidates.size());
    for (const QString& id : candidates)
        if (!excluding.contains(id))
            available << id;
    std::sort(available.begin(), available.end());

    const QString key = searchKey(query);
    if (key.isEmpty())
        return available;

    QStringList result;
    QSet<QString> placed;
    auto place = [&](const QString& id) {
        if (!placed.contains(id)) {
            placed.insert(id);
            result << id;
        }
    };
    // The identifiers' keys never change: fold each once per process.
    static QMutex foldedMutex;
    static QHash<QString, std::pair<QString, QString>> folded;  // identifier -> (city key, identifier key)
    QMutexLocker lock(&foldedMutex);
    auto keysOf = [](const QString& id) -> const std::pair<QString, QString>& {
        auto it = folded.constFind(id);
        if (it == folded.constEnd())
            it = folded.insert(id, {searchKey(cityPart(id).toString()), searchKey(id)});
        return *it;
    };
    const QString named = abbreviations.value(key.toUpper());
    if (!named.isEmpty() && std::binary_search(available.begin(), available.end(), named))
        place(named);
    for (const QString& id : available)
        if (keysOf(id).first.startsWith(key))
            place(id);
    for (const QString& id : zonesMatchingCountry(key, available, countries, countryNames))
        place(id);
    for (const QString& id : available)
        if (keysOf(id).second.contains(key))
            place(id);
    return result;
}
