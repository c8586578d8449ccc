#pragma once

#include "kit/ToolCategory.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSettings>
#include <QUrl>

#include <optional>

class Tool;
class SupportPromptController;

// The main window's owner of the tools' view models (made in sidebar order) and the donation
// prompt, and the home of the static tool list and its lookups.
class ToolHost : public QObject {
    Q_OBJECT
public:
    // `defaults` is where tools and the donation prompt keep their state.
    explicit ToolHost(QSettings& defaults, QObject* parent = nullptr);
    ~ToolHost() override;

    // The tools in sidebar order (markdown, json, csv, mermaid, timestamp, codec, jwt), as
    // QUORRIX_TOOLS lists them.
    static const QList<const Tool*>& allTools();
    static const Tool* tool(const QString& id);
    // The tool a window with no saved choice opens on: the first that asks to, else the first.
    static const Tool& firstTool();
    static QList<const Tool*> tools(ToolCategory category);
    static std::optional<QString> toolID(const QString& extension);

    // The view model of the tool with this id, made when the host was; null for no such tool.
    QObject* viewModel(const QString& id) const { return m_viewModels.value(id); }
    template <class T>
    T* viewModel(const QString& id) const
    {
        return qobject_cast<T*>(viewModel(id));
    }

    // Hands a file to the tool that accepts its extension; answers that tool's id.
    std::optional<QString> open(const QUrl& fileUrl);

    SupportPromptController* supportPrompt() const { return m_supportPrompt; }

private:
    QHash<QString, QObject*> m_viewModels;
    SupportPromptController* m_supportPrompt = nullptr;
};
