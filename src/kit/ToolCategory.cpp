#include "kit/ToolCategory.h"

namespace ToolCategories {

const QList<ToolCategory>& all()
{
    static const QList<ToolCategory> categories = {ToolCategory::text, ToolCategory::data, ToolCategory::encoding};
    return categories;
}

QString rawValue(ToolCategory category)
{
    switch (category) {
    case ToolCategory::text:
        return QStringLiteral("text");
    case ToolCategory::data:
        return QStringLiteral("data");
    case ToolCategory::encoding:
        return QStringLiteral("encoding");
    }
    return {};
}

std::optional<ToolCategory> fromRawValue(const QString& raw)
{
    for (ToolCategory category : all()) {
        if (rawValue(category) == raw)
            return category;
    }
    return std::nullopt;
}

QString sectionTitle(ToolCategory category)
{
    return rawValue(category).toUpper();
}

} // namespace ToolCategories
