#include "kit/ui/PaletteBinding.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <algorithm>

PaletteBinding::PaletteBinding(QWidget* widget) : QObject(widget), m_widget(widget)
{
    setObjectName(QStringLiteral("PaletteBinding"));
    widget->installEventFilter(this);
}

PaletteBinding* PaletteBinding::of(QWidget* widget)
{
    const QString name = QStringLiteral("PaletteBinding");
    if (auto* binding = widget->findChild<PaletteBinding*>(name, Qt::FindDirectChildrenOnly))
        return binding;
    return new PaletteBinding(widget);
}

void PaletteBinding::bind(QWidget* widget, QPalette::ColorRole role, const DynamicColor& colour)
{
    PaletteBinding* binding = of(widget);
    auto found = std::find_if(binding->m_roles.begin(), binding->m_roles.end(),
                              [&](const auto& entry) { return entry.first == role; });
    if (found != binding->m_roles.end())
        found->second = colour;
    else
        binding->m_roles.append({role, colour});
    binding->apply();
}

void PaletteBinding::follow(QWidget* widget, std::function<void()> apply)
{
    PaletteBinding* binding = of(widget);
    binding->m_followers.append(std::move(apply));
    binding->m_followers.last()();
}

void PaletteBinding::apply()
{
    if (m_applying)
        return;
    m_applying = true;
    if (!m_roles.isEmpty()) {
        // Resolve against what the widget inherits, never against its own overrides, so a role
        // colour such as the secondary text is not blended twice.
        QWidget* parent = m_widget->isWindow() ? nullptr : m_widget->parentWidget();
        const QPalette inherited = parent ? parent->palette() : QApplication::palette(m_widget);
        QPalette palette = m_widget->palette();
        bool changed = false;
        for (const auto& [role, colour] : std::as_const(m_roles)) {
            const QColor value = colour.resolved(inherited);
            for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
                if (palette.color(group, role) != value) {
                    palette.setColor(group, role, value);
                    changed = true;
                }
            }
        }
        if (changed)
            m_widget->setPalette(palette);
    }
    for (const auto& follower : std::as_const(m_followers))
        follower();
    m_applying = false;
}

bool PaletteBinding::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_widget) {
        switch (event->type()) {
        case QEvent::ApplicationPaletteChange:
            // Widgets hear of a new application palette in no set order: a parent may not have
            // its new palette yet, so the colours are made again once every widget has it.
            QMetaObject::invokeMethod(this, &PaletteBinding::apply, Qt::QueuedConnection);
            apply();
            break;
        case QEvent::PaletteChange:
        case QEvent::ParentChange:
        case QEvent::StyleChange:
            apply();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
