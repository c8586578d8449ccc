#include "app/SupportPromptController.h"

SupportPromptController::SupportPromptController(QSettings& defaults, QTimeZone zone, QObject* parent)
    : QObject(parent), m_defaults(defaults), m_zone(std::move(zone))
{
}

QString SupportPromptController::dayString(const QDateTime& moment) const
{
    return moment.toTimeZone(m_zone).date().toString(QStringLiteral("yyyy-MM-dd"));
}

QStringList SupportPromptController::launchDays() const
{
    // INI files read a one-element list back as a plain string: toStringList() takes both.
    const QVariant value = m_defaults.value(launchDaysKey);
    const int type = value.metaType().id();
    if (type != QMetaType::QStringList && type != QMetaType::QString && type != QMetaType::QVariantList)
        return {};
    return value.toStringList();
}

void SupportPromptController::recordLaunch(const QDateTime& now)
{
    QStringList days = launchDays();
    if (days.size() >= requiredDays)
        return;
    const QString day = dayString(now);
    if (days.contains(day))
        return;
    days.append(day);
    m_defaults.setValue(launchDaysKey, days);
}

bool SupportPromptController::shouldShowSupportPrompt(const QDateTime& now) const
{
    const QVariant optOutValue = m_defaults.value(optOutKey);
    const bool optedOut = optOutValue.isValid() && optOutValue.toBool();
    if (optedOut)
        return false;
    if (launchDays().size() < requiredDays)
        return false;
    const QVariant last = m_defaults.value(lastShownKey);
    if (last.metaType().id() != QMetaType::QDateTime || !last.toDateTime().isValid())
        return true;
    const QDateTime lastShown = last.toDateTime();
    if (lastShown > now)
        return false;
    return lastShown.secsTo(now) >= intervalSeconds;
}

void SupportPromptController::markShown(const QDateTime& now)
{
    m_defaults.setValue(lastShownKey, now);
}

void SupportPromptController::optOut()
{
    m_defaults.setValue(optOutKey, true);
}
