#pragma once

#include <QObject>
#include <QSettings>

// Stand-in until the tool is built.
class TimestampToolViewModel : public QObject {
    Q_OBJECT
public:
    explicit TimestampToolViewModel(QSettings& defaults, QObject* parent = nullptr) : QObject(parent), m_defaults(defaults) {}

private:
    QSettings& m_defaults;
};
