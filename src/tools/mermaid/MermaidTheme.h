#pragma once

#include <QList>
#include <QString>

#include <optional>

// The diagram theme the user picks; `system` follows the desktop's light or dark appearance.
enum class MermaidTheme { system, standard, dark, forest, neutral };

namespace MermaidThemes {

const QList<MermaidTheme>& all();
// The stored name, equal to the case name.
QString rawValue(MermaidTheme theme);
std::optional<MermaidTheme> fromRawValue(const QString& raw);
// The label of the theme menu.
QString label(MermaidTheme theme);
// The theme name the diagram page receives.
QString pageThemeName(MermaidTheme theme, bool darkAppearance);

} // namespace MermaidThemes
