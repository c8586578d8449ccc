#include "kit/ui/ToolViewMakers.h"

#include <QHash>

#include <utility>

namespace {

QHash<QString, ToolViewMakers::Maker>& makers()
{
    static QHash<QString, ToolViewMakers::Maker> all;
    return all;
}

std::function<void()>& loader()
{
    static std::function<void()> load;
    return load;
}

} // namespace

void ToolViewMakers::add(const QString& toolID, Maker maker)
{
    makers().insert(toolID, std::move(maker));
}

void ToolViewMakers::setLoader(std::function<void()> load)
{
    loader() = std::move(load);
}

ToolView* ToolViewMakers::make(const QString& toolID, QObject* viewModel)
{
    if (!makers().contains(toolID) && loader()) {
        // Once: a library that failed to load is not tried at every click.
        const std::function<void()> load = std::exchange(loader(), {});
        load();
    }
    const auto found = makers().constFind(toolID);
    return found != makers().constEnd() ? (*found)(viewModel) : nullptr;
}
