#include "tools/mermaid/ui/MermaidSymbols.h"

#include "kit/ui/SymbolIcon.h"

#include <QApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

namespace {

const QHash<QString, QString>& ownFiles()
{
    static const QHash<QString, QString> files{
        {QStringLiteral("plus.rectangle.on.rectangle"), QStringLiteral("template-add")},
        {QStringLiteral("paintpalette"), QStringLiteral("palette")},
        {QStringLiteral("minus.magnifyingglass"), QStringLiteral("zoom-out")},
        {QStringLiteral("plus.magnifyingglass"), QStringLiteral("zoom-in")},
        {QStringLiteral("arrow.up.left.and.arrow.down.right"), QStringLiteral("zoom-fit")},
        {QStringLiteral("1.magnifyingglass"), QStringLiteral("zoom-actual")},
        {QStringLiteral("square.stack.3d.up"), QStringLiteral("stack")},
        {QStringLiteral("circle.dashed"), QStringLiteral("circle-dashed")},
        {QStringLiteral("chart.bar.xaxis"), QStringLiteral("chart-bar")},
        {QStringLiteral("chart.pie"), QStringLiteral("chart-pie")},
    };
    return files;
}

class TintedEngine : public QIconEngine {
public:
    explicit TintedEngine(const QString& path) : m_source(path) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pix = render(rect.size() * dpr, mode);
        pix.setDevicePixelRatio(dpr);
        painter->drawPixmap(rect, pix);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override { return render(size, mode); }
    QIconEngine* clone() const override { return new TintedEngine(*this); }

private:
    QPixmap render(const QSize& size, QIcon::Mode mode)
    {
        QPixmap pix = m_source.pixmap(size);
        if (pix.isNull())
            return pix;
        QColor colour = QApplication::palette().color(mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active,
                                                      QPalette::WindowText);
        if (mode == QIcon::Disabled)
            colour.setAlphaF(0.55f);
        QPainter p(&pix);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(pix.rect(), colour);
        return pix;
    }

    QIcon m_source;
};

} // namespace

QIcon mermaidSymbolIcon(const QString& symbol)
{
    // Also registers the kit's icon resource, which holds the tool's own icons.
    QIcon kit = symbolIcon(symbol);
    if (!kit.isNull())
        return kit;
    const auto it = ownFiles().constFind(symbol);
    if (it == ownFiles().constEnd())
        return {};
    return QIcon(new TintedEngine(QStringLiteral(":/icons/%1.svg").arg(*it)));
}
