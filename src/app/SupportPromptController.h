#pragma once

#include <QDateTime>
#include <QObject>
#include <QSettings>
#include <QTimeZone>

// Bookkeeping of the donation prompt: asks at most once every 30 days, and only after the
// program was used on 14 different local days.
class SupportPromptController : public QObject {
    Q_OBJECT
public:
    static constexpr int requiredDays = 14;
    static constexpr qint64 intervalSeconds = 2592000;

    static inline const QString launchDaysKey = QStringLiteral("supportPromptLaunchDays");
    static inline const QString optOutKey = QStringLiteral("supportPromptOptOut");
    static inline const QString lastShownKey = QStringLiteral("supportPromptLastShown");

    // `zone` decides what a day is; the program passes the system's zone.
    explicit SupportPromptController(QSettings& defaults, QTimeZone zone = QTimeZone::systemTimeZone(),
                                     QObject* parent = nullptr);

    QSettings& defaults() const { return m_defaults; }

    void recordLaunch(const QDateTime& now);
    bool shouldShowSupportPrompt(const QDateTime& now) const;
    void markShown(const QDateTime& now);
    void optOut();

    QString dayString(const QDateTime& moment) const;
    QStringList launchDays() const;

private:
    QSettings& m_defaults;
    QTimeZone m_zone;
};
