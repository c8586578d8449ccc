#pragma once

#include <QObject>
#include <QString>

#include <functional>

// Replaces the editor's whole text as one edit the user can undo; installed by the editor.
class MermaidEditorController : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    std::function<void(const QString&)> replaceAll;
};
