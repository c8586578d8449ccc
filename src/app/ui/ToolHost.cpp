#include "app/ui/ToolHost.h"

#include "app/SupportPromptController.h"
#include "app/ui/Tool.h"
#include "tools/codec/CodecToolViewModel.h"
#include "tools/codec/ui/CodecTool.h"
#include "tools/csv/CSVToolViewModel.h"
#include "tools/csv/ui/CSVTool.h"
#include "tools/json/JSONToolViewModel.h"
#include "tools/json/ui/JSONTool.h"
#include "tools/jwt/JWTToolViewModel.h"
#include "tools/jwt/ui/JWTTool.h"
#include "tools/markdown/MarkdownToolViewModel.h"
#include "tools/markdown/ui/MarkdownTool.h"
#include "tools/mermaid/MermaidToolViewModel.h"
#include "tools/mermaid/ui/MermaidTool.h"
#include "tools/timestamp/TimestampToolViewModel.h"
#include "tools/timestamp/ui/TimestampTool.h"

#include <QFileInfo>

ToolHost::ToolHost(QSettings& defaults, QObject* parent)
    : QObject(parent),
      markdown(new MarkdownToolViewModel(this)),
      json(new JSONToolViewModel(this)),
      csv(new CSVToolViewModel(this)),
      mermaid(new MermaidToolViewModel(this)),
      timestamp(new TimestampToolViewModel(defaults, this)),
      codec(new CodecToolViewModel(this)),
      jwt(new JWTToolViewModel(this)),
      supportPrompt(new SupportPromptController(defaults, QTimeZone::systemTimeZone(), this))
{
}

ToolHost::~ToolHost() = default;

const QList<const Tool*>& ToolHost::allTools()
{
    static const MarkdownTool markdownTool;
    static const JSONTool jsonTool;
    static const CSVTool csvTool;
    static const MermaidTool mermaidTool;
    static const TimestampTool timestampTool;
    static const CodecTool codecTool;
    static const JWTTool jwtTool;
    static const QList<const Tool*> tools = {&markdownTool, &jsonTool,  &csvTool, &mermaidTool,
                                             &timestampTool, &codecTool, &jwtTool};
    return tools;
}

const Tool* ToolHost::tool(const QString& id)
{
    for (const Tool* tool : allTools()) {
        if (tool->id() == id)
            return tool;
    }
    return nullptr;
}

QList<const Tool*> ToolHost::tools(ToolCategory category)
{
    QList<const Tool*> found;
    for (const Tool* tool : allTools()) {
        if (tool->category() == category)
            found.append(tool);
    }
    return found;
}

std::optional<QString> ToolHost::toolID(const QString& extension)
{
    const QString lower = extension.toLower();
    for (const Tool* tool : allTools()) {
        if (tool->acceptsFiles() && tool->acceptedExtensions().contains(lower))
            return tool->id();
    }
    return std::nullopt;
}

std::optional<QString> ToolHost::open(const QUrl& fileUrl)
{
    // The text after the last full stop of the file name: "archive.tar.gz" gives "gz".
    const QString name = QFileInfo(fileUrl.path()).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot >= 0 ? name.mid(dot + 1) : QString();
    const std::optional<QString> id = toolID(extension);
    if (!id)
        return std::nullopt;
    const Tool* found = tool(*id);
    if (!found)
        return std::nullopt;
    found->open(fileUrl, *this);
    return id;
}
