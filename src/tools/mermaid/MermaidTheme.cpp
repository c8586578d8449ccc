#include "tools/mermaid/MermaidTheme.h"

namespace MermaidThemes {

const QList<MermaidTheme>& all()
{
    static const QList<MermaidTheme> themes{MermaidTheme::system, MermaidTheme::standard, MermaidTheme::dark,
                                            MermaidTheme::forest, MermaidTheme::neutral};
    return themes;
}

QString rawValue(MermaidTheme theme)
{
    switch (theme) {
    case MermaidTheme::system: return QStringLiteral("system");
    case MermaidTheme::standard: return QStringLiteral("standard");
    case MermaidTheme::dark: return QStringLiteral("dark");
    case MermaidTheme::forest: return QStringLiteral("forest");
    case MermaidTheme::neutral: return QStringLiteral("neutral");
    }
    return {};
}

std::optional<MermaidTheme> fromRawValue(const QString& raw)
{
    for (MermaidTheme theme : all()) {
        if (rawValue(theme) == raw)
            return theme;
    }
    return std::nullopt;
}

QString label(MermaidTheme theme)
{
    switch (theme) {
    case MermaidTheme::system: return QStringLiteral("Match System");
    case MermaidTheme::standard: return QStringLiteral("Default");
    case MermaidTheme::dark: return QStringLiteral("Dark");
    case MermaidTheme::forest: return QStringLiteral("Forest");
    case MermaidTheme::neutral: return QStringLiteral("Neutral");
    }
    return {};
}

QString pageThemeName(MermaidTheme theme, bool darkAppearance)
{
    switch (theme) {
    case MermaidTheme::system: return darkAppearance ? QStringLiteral("dark") : QStringLiteral("default");
    case MermaidTheme::standard: return QStringLiteral("default");
    case MermaidTheme::dark: return QStringLiteral("dark");
    case MermaidTheme::forest: return QStringLiteral("forest");
    case MermaidTheme::neutral: return QStringLiteral("neutral");
    }
    return QStringLiteral("default");
}

} // namespace MermaidThemes
