#pragma once

#include <QObject>
#include <QSettings>

// Stand-in until the tool is built.
class JWTToolViewModel : public QObject {
    Q_OBJECT
public:
    explicit JWTToolViewModel(QObject* parent = nullptr) : QObject(parent) {}
};
