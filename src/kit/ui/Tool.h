#pragma once

#include "kit/ToolCategory.h"

#include <QSet>
#include <QString>
#include <QUrl>

class QObject;
class QSettings;
class ToolView;

// One tool of the sidebar: what it is called, where it sits, which files it opens, and how it
// makes its view model, its view, and hands a file to the view model. The window's host owns
// the view models; the shell knows tools only through this interface.
class Tool {
public:
    Tool(QString id, QString name, QString symbol, ToolCategory category, QSet<QString> acceptedExtensions)
        : m_id(std::move(id)), m_name(std::move(name)), m_symbol(std::move(symbol)), m_category(category),
          m_acceptedExtensions(std::move(acceptedExtensions))
    {
    }
    virtual ~Tool() = default;

    const QString& id() const { return m_id; }
    const QString& name() const { return m_name; }
    const QString& symbol() const { return m_symbol; }
    ToolCategory category() const { return m_category; }
    const QSet<QString>& acceptedExtensions() const { return m_acceptedExtensions; }
    bool acceptsFiles() const { return !m_acceptedExtensions.isEmpty(); }

    // The tool's view model, owned by `parent`; `defaults` is where tools keep saved state.
    virtual QObject* makeViewModel(QSettings& defaults, QObject* parent) const = 0;
    // The tool's view around the view model that makeViewModel() made; the caller owns it.
    virtual ToolView* makeView(QObject* viewModel) const = 0;
    // Hands a file to the view model; returns before the file is read.
    virtual void open(const QUrl& fileUrl, QObject* viewModel) const {}

    // Whether a window with no saved choice opens on this tool.
    virtual bool opensFirst() const { return false; }

private:
    QString m_id;
    QString m_name;
    QString m_symbol;
    ToolCategory m_category;
    QSet<QString> m_acceptedExtensions;
};
