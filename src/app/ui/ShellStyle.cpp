#include "app/ui/ShellStyle.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPointer>
#include <QStyleOption>

#include <functional>
#include <optional>

namespace {

// An icon made by `make` the first time anything about it is asked beyond its existence.
class DeferredIconEngine : public QIconEngine {
public:
    explicit DeferredIconEngine(std::function<QIcon()> make) : m_make(std::move(make)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        return icon().pixmap(size, scale, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    QIconEngine* clone() const override { return new DeferredIconEngine(*this); }

private:
    const QIcon& icon()
    {
        if (!m_icon)
            m_icon = m_make();
        return *m_icon;
    }

    std::function<QIcon()> m_make;
    std::optional<QIcon> m_icon;
};

} // namespace

ShellStyle::ShellStyle(const QString& key) : QProxyStyle(key)
{
}

QIcon ShellStyle::standardIcon(StandardPixmap icon, const QStyleOption* option, const QWidget* widget) const
{
    const bool overflow = icon == SP_ToolBarHorizontalExtensionButton || icon == SP_ToolBarVerticalExtensionButton;
    if (!overflow)
        return QProxyStyle::standardIcon(icon, option, widget);
    // What the style reads from the option, kept for later: the direction of the arrows.
    const Qt::LayoutDirection direction = option ? option->direction : QGuiApplication::layoutDirection();
    return QIcon(new DeferredIconEngine(
        [base = QPointer<QStyle>(baseStyle()), icon, direction, widget = QPointer<const QWidget>(widget)] {
            QStyleOption kept;
            kept.direction = direction;
            QStyle* style = base ? base.data() : QApplication::style();
            return style->standardIcon(icon, &kept, widget.data());
        }));
}

void ShellStyle::install()
{
    if (qobject_cast<ShellStyle*>(QApplication::style()))
        return;
    QApplication::setStyle(new ShellStyle(QApplication::style()->name()));
}
