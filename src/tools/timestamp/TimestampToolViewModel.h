#pragma once

#include "kit/PaneBadge.h"
#include "kit/QuietTask.h"
#include "tools/timestamp/Timestamp.h"
#include "tools/timestamp/TimestampZones.h"

#include <QHash>
#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QTimeZone>

#include <functional>
#include <optional>

// One window's Timestamp tool: the input line, the unit choice, the last parse's moment or
// failure, and the extra zones the user keeps (saved under "timestampZones"). A parse runs off
// the GUI thread after 0.1 s of quiet; only the latest scheduled parse is applied.
class TimestampToolViewModel : public QObject {
    Q_OBJECT
public:
    static constexpr int parseQuietMs = 100;
    static inline const QString zonesKey = QStringLiteral("timestampZones");

    explicit TimestampToolViewModel(QSettings& defaults, QObject* parent = nullptr);

    // --- published state
    const QString& input() const { return m_input; }
    // A replacement of the input by the user: stores it and counts one more generation.
    void replaceInput(const QString& text);
    Timestamp::UnitChoice unit() const { return m_unit; }
    void setUnit(Timestamp::UnitChoice unit);
    const std::optional<Timestamp::Parsed>& parsed() const { return m_parsed; }
    const std::optional<Timestamp::Failure>& failure() const { return m_failure; }
    const QStringList& zones() const { return m_zones; }
    qint64 inputGeneration() const { return m_inputGeneration; }

    // --- operations
    void scheduleParse();
    void refreshIfStale();
    void setNow();
    QString statusText() const;
    std::optional<PaneBadge> readingBadge() const;
    std::optional<QString> matchingRowLabel() const;
    QList<Timestamp::Row> otherZoneRows() const;
    QStringList zoneSuggestions(const QString& query) const;
    void addZone(const QString& identifier);
    void removeZone(const QString& identifier);
    // Puts a non-empty text on the clipboard; answers whether anything was copied.
    bool copy(const QString& text);

    bool isParsePending() const { return m_parseTask.isPending() || m_parseTask.isRunning(); }
    void setQuietTime(int ms) { m_parseTask.setQuietTime(ms); }
    // The zone the tool reads local times in; the system's unless a test sets another.
    QTimeZone currentZone() const;
    void setZoneOverride(std::optional<QTimeZone> zone) { m_zoneOverride = std::move(zone); }

    // --- zone list and search
    static QStringList loadZones(QSettings& defaults);
    static const QStringList& zoneCandidates();
    // Builds the zone catalogue and the search candidates off the GUI thread, once per process,
    // so that the first flag or search finds them ready. Called when the tool is first shown:
    // a window that never shows it never pays for them.
    static void warmZoneCatalogue();
    using CountryNames = std::function<QStringList(const QString&)>;
    static QStringList searchZones(const QString& query, const QSet<QString>& excluding,
                                   const QStringList& candidates, const QHash<QString, QString>& abbreviations,
                                   const Timestamp::ZoneCountries& countries, const CountryNames& countryNames);
    static QStringList zonesMatchingCountry(const QString& key, const QStringList& among,
                                            const Timestamp::ZoneCountries& countries,
                                            const CountryNames& countryNames);
    // Trimmed, case and diacritics folded, "_" read as a blank.
    static QString searchKey(const QString& text);

signals:
    void inputChanged();
    void unitChanged();
    void parsedChanged();
    void failureChanged();
    void zonesChanged();
    // A parse was applied (whether or not its result differs from the last).
    void parseApplied();

private:
    struct Inputs {
        qint64 inputGeneration;
        Timestamp::UnitChoice unit;
        QTimeZone zone;
        friend bool operator==(const Inputs& a, const Inputs& b)
        {
            return a.inputGeneration == b.inputGeneration && a.unit == b.unit && a.zone == b.zone;
        }
    };
    void apply(const Timestamp::ParseResult& result, const QTimeZone& zone);
    void saveZones();

    QString m_input;
    Timestamp::UnitChoice m_unit = Timestamp::UnitChoice::automatic;
    std::optional<Timestamp::Parsed> m_parsed;
    std::optional<Timestamp::Failure> m_failure;
    QStringList m_zones;
    QuietTask m_parseTask{parseQuietMs, this};
    qint64 m_inputGeneration = 0;
    std::optional<Inputs> m_requestedInputs;
    QTimeZone m_parsedZone;  // the zone the shown result was read in
    QSettings& m_defaults;
    std::optional<QTimeZone> m_zoneOverride;
};
