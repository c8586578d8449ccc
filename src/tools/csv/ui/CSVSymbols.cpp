#include "tools/csv/ui/CSVSymbols.h"

#include "kit/ui/SymbolIcon.h"

#include <QApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

namespace {

// Draws a monochrome SVG in a palette colour at paint time, so it follows light and dark.
class PaletteIconEngine : public QIconEngine {
public:
    PaletteIconEngine(const QString& path, QPalette::ColorRole role) : m_source(path), m_role(role) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pix = render(rect.size() * dpr, mode);
        pix.setDevicePixelRatio(dpr);
        painter->drawPixmap(rect, pix);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override { return render(size, mode); }
    QIconEngine* clone() const override { return new PaletteIconEngine(*this); }

private:
    QPixmap render(const QSize& size, QIcon::Mode mode)
    {
        QPixmap pix = m_source.pixmap(size);
        if (pix.isNull())
            return pix;
        const QPalette palette = QApplication::palette();
        QColor colour = palette.color(mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active,
                                      mode == QIcon::Selected ? QPalette::HighlightedText : m_role);
        if (mode == QIcon::Disabled)
            colour.setAlphaF(0.55);
        QPainter p(&pix);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(pix.rect(), colour);
        return pix;
    }

    QIcon m_source;
    QPalette::ColorRole m_role;
};

} // namespace

QIcon csvSymbolIcon(const QString& symbol, bool tinted)
{
    static const QHash<QString, QString> files = {
        {QStringLiteral("line.3.horizontal.decrease.circle"), QStringLiteral("filter-circle")},
        {QStringLiteral("line.3.horizontal.decrease.circle.fill"), QStringLiteral("filter-circle-fill")},
        {QStringLiteral("rectangle.split.3x1"), QStringLiteral("columns")},
        {QStringLiteral("rectangle.topthird.inset.filled"), QStringLiteral("header-row")},
        {QStringLiteral("arrow.counterclockwise"), QStringLiteral("arrow-counterclockwise")},
    };
    const auto it = files.constFind(symbol);
    if (it == files.constEnd())
        return tinted ? tintedSymbolIcon(symbol, QPalette::Highlight) : symbolIcon(symbol);
    (void)symbolIcon(QStringLiteral("folder")); // loads the kit's icon resources
    return QIcon(new PaletteIconEngine(QStringLiteral(":/icons/%1.svg").arg(*it),
                                       tinted ? QPalette::Highlight : QPalette::WindowText));
}
