#include "app/ui/ToolHost.h"

#include "app/SupportPromptController.h"
#include "app/ui/ToolList.h"
#include "kit/ui/Tool.h"

#include <QFileInfo>

ToolHost::ToolHost(QSettings& defaults, QObject* parent)
    : QObject(parent)
{
    // In sidebar order, then the prompt; each lives as long as the window.
    for (const Tool* tool : allTools())
        m_viewModels.insert(tool->id(), tool->makeViewModel(defaults, this));
    m_supportPrompt = new SupportPromptController(defaults, QTimeZone::systemTimeZone(), this);
}

ToolHost::~ToolHost() = default;

const QList<const Tool*>& ToolHost::allTools()
{
    return toolList();
}

const Tool& ToolHost::firstTool()
{
    for (const Tool* tool : allTools()) {
        if (tool->opensFirst())
            return *tool;
    }
    return *allTools().first();
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
    found->open(fileUrl, viewModel(*id));
    return id;
}
