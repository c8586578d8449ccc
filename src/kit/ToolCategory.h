#pragma once

#include <QList>
#include <QString>

#include <optional>

// A sidebar section. The declaration order is the order of the sections.
enum class ToolCategory { text, data, encoding };

namespace ToolCategories {
const QList<ToolCategory>& all();
QString rawValue(ToolCategory category);
// Exactly "text", "data" or "encoding" (case-sensitive).
std::optional<ToolCategory> fromRawValue(const QString& raw);
// "TEXT", "DATA", "ENCODING".
QString sectionTitle(ToolCategory category);
} // namespace ToolCategories
