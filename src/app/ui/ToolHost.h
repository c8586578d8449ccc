#pragma once

#include "app/ToolCategory.h"

#include <QList>
#include <QObject>
#include <QSettings>
#include <QUrl>

#include <memory>
#include <optional>

class Tool;
class MarkdownToolViewModel;
class JSONToolViewModel;
class CSVToolViewModel;
class MermaidToolViewModel;
class TimestampToolViewModel;
class CodecToolViewModel;
class JWTToolViewModel;
class SupportPromptController;

// The main window's owner of the seven tool view models and the donation prompt, and the home
// of the static tool list and its lookups.
class ToolHost : public QObject {
    Q_OBJECT
public:
    // `defaults` is where the Timestamp tool and the donation prompt keep their state.
    explicit ToolHost(QSettings& defaults, QObject* parent = nullptr);
    ~ToolHost() override;

    // The tools in sidebar order: markdown, json, csv, mermaid, timestamp, codec, jwt.
    static const QList<const Tool*>& allTools();
    static const Tool* tool(const QString& id);
    static QList<const Tool*> tools(ToolCategory category);
    static std::optional<QString> toolID(const QString& extension);

    // Hands a file to the tool that accepts its extension; answers that tool's id.
    std::optional<QString> open(const QUrl& fileUrl);

    MarkdownToolViewModel* const markdown;
    JSONToolViewModel* const json;
    CSVToolViewModel* const csv;
    MermaidToolViewModel* const mermaid;
    TimestampToolViewModel* const timestamp;
    CodecToolViewModel* const codec;
    JWTToolViewModel* const jwt;
    SupportPromptController* const supportPrompt;
};
