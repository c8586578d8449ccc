#include "kit/ui/AccessibleElement.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace {

const char* const kKind = "quorrixAccessibleKind";
enum Kind { hidden = 1, combined = 2 };

class GroupedAccessible : public QAccessibleWidget {
public:
    GroupedAccessible(QWidget* widget, Kind kind)
        : QAccessibleWidget(widget, kind == hidden ? QAccessible::Graphic : QAccessible::StaticText), m_kind(kind)
    {
    }

    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        if (m_kind == hidden) {
            state.invisible = true;
            state.focusable = false;
        }
        return state;
    }

    QString text(QAccessible::Text t) const override
    {
        if (m_kind == hidden)
            return {};
        if (t != QAccessible::Name || !widget()->accessibleName().isEmpty())
            return QAccessibleWidget::text(t);
        QStringList parts;
        for (QWidget* child : widget()->findChildren<QWidget*>()) {
            if (child->isHidden() || child->property(kKind).toInt() == hidden)
                continue;
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(child);
            const QString name = face ? face->text(QAccessible::Name) : QString();
            if (!name.isEmpty())
                parts << name;
        }
        return parts.join(QLatin1Char(' '));
    }

private:
    Kind m_kind;
};

QAccessibleInterface* factory(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    const int kind = widget->property(kKind).toInt();
    if (kind != hidden && kind != combined)
        return nullptr;
    return new GroupedAccessible(widget, Kind(kind));
}

void mark(QWidget* widget, Kind kind)
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(kKind, int(kind));
}

} // namespace

namespace AccessibleElement {

void hide(QWidget* widget)
{
    mark(widget, hidden);
}

void combine(QWidget* widget)
{
    mark(widget, combined);
}

} // namespace AccessibleElement
