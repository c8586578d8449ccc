#pragma once

#include "app/ToolCategory.h"

#include <QSet>
#include <QString>
#include <QUrl>

class QWidget;
class ToolHost;

// One tool of the sidebar: what it is called, where it sits, which files it opens, and how it
// makes its view and takes a file from the window's host.
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

    // The tool's view around the host's view model; the caller owns it.
    virtual QWidget* makeView(ToolHost& host) const = 0;
    // Hands a file to the host's view model; returns before the file is read.
    virtual void open(const QUrl& fileUrl, ToolHost& host) const {}

private:
    QString m_id;
    QString m_name;
    QString m_symbol;
    ToolCategory m_category;
    QSet<QString> m_acceptedExtensions;
};
