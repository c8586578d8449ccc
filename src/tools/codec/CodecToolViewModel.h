#pragma once

#include <QObject>
#include <QSettings>

// Stand-in until the tool is built.
class CodecToolViewModel : public QObject {
    Q_OBJECT
public:
    explicit CodecToolViewModel(QObject* parent = nullptr) : QObject(parent) {}
};
