#include "kit/ui/SymbolIcon.h"

#include <QApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPixmapCache>
#include <QSvgRenderer>

#include <memory>
#include <optional>

static void initIconResources()
{
    // The icons live in a static library: their resource must be pulled in by hand.
    static const bool done = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)done;
}

namespace {

struct SymbolFile {
    const char* file;
    const char* theme;
};

const QHash<QString, SymbolFile>& symbolFiles()
{
    static const QHash<QString, SymbolFile> files = {
        {"doc.text", {"document-text", "text-x-generic"}},
        {"curlybraces", {"braces", ""}},
        {"tablecells", {"table", ""}},
        {"flowchart", {"flowchart", ""}},
        {"clock", {"clock", ""}},
        {"arrow.left.arrow.right", {"arrows-left-right", ""}},
        {"key.horizontal", {"key", ""}},
        {"sidebar.left", {"sidebar", ""}},
        {"envelope", {"envelope", ""}},
        {"cup.and.saucer.fill", {"cup", ""}},
        {"doc.text.magnifyingglass", {"document-search", ""}},
        {"photo", {"photo", ""}},
        {"social", {"social", ""}},
        {"folder", {"folder", ""}},
        {"chevron.left.forwardslash.chevron.right", {"code", ""}},
        {"doc.on.doc", {"copy", ""}},
        {"doc.on.clipboard", {"clipboard", ""}},
        {"checkmark", {"checkmark", ""}},
        {"trash", {"trash", ""}},
        {"magnifyingglass", {"magnifying-glass", ""}},
        {"exclamationmark.triangle", {"warning", ""}},
        {"exclamationmark.triangle.fill", {"warning", ""}},
        {"chevron.left", {"chevron-left", ""}},
        {"chevron.right", {"chevron-right", ""}},
        {"arrow.up", {"arrow-up", ""}},
        {"arrow.down", {"arrow-down", ""}},
        {"arrow.up.arrow.down", {"arrows-up-down", ""}},
        {"plus", {"plus", ""}},
        {"minus.circle", {"minus-circle", ""}},
        {"globe", {"globe", ""}},
        {"link", {"link", ""}},
        {"shippingbox", {"shippingbox", ""}},
        {"lock", {"lock", ""}},
        {"character.textbox", {"character-textbox", ""}},
        {"questionmark.square.dashed", {"questionmark-square-dashed", ""}},
        {"rectangle.split.3x1", {"columns", ""}},
        {"line.3.horizontal.decrease.circle", {"filter-circle", ""}},
        {"line.3.horizontal.decrease.circle.fill", {"filter-circle-fill", ""}},
        {"rectangle.topthird.inset.filled", {"header-row", ""}},
        {"arrow.counterclockwise", {"arrow-counterclockwise", ""}},
        {"plus.rectangle.on.rectangle", {"template-add", ""}},
        {"paintpalette", {"palette", ""}},
        {"minus.magnifyingglass", {"zoom-out", ""}},
        {"plus.magnifyingglass", {"zoom-in", ""}},
        {"arrow.up.left.and.arrow.down.right", {"zoom-fit", ""}},
        {"1.magnifyingglass", {"zoom-actual", ""}},
        {"square.stack.3d.up", {"stack", ""}},
        {"circle.dashed", {"circle-dashed", ""}},
        {"chart.bar.xaxis", {"chart-bar", ""}},
        {"chart.pie", {"chart-pie", ""}},
        {"app", {"quorrix", ""}},
    };
    return files;
}

// One parsed document per symbol file, shared by every icon drawn from it. Drawn with the SVG
// module directly: going through the icon-engine plugin would load plugins before the first paint.
std::shared_ptr<QSvgRenderer> svgDocument(const QString& path)
{
    static QHash<QString, std::shared_ptr<QSvgRenderer>> documents;
    std::shared_ptr<QSvgRenderer>& document = documents[path];
    if (!document)
        document = std::make_shared<QSvgRenderer>(path);
    return document;
}

// Draws a bundled SVG; a monochrome one in a palette colour at paint time, so icons follow a
// switch between light and dark without being rebuilt.
class SymbolIconEngine : public QIconEngine {
public:
    SymbolIconEngine(const QString& path, std::optional<QPalette::ColorRole> role) : m_path(path), m_role(role) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pix = pixmap(rect.size() * dpr, mode, state);
        pix.setDevicePixelRatio(dpr);
        painter->drawPixmap(rect, pix);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        if (size.isEmpty())
            return {};
        QColor colour;
        if (m_role) {
            const QPalette palette = QApplication::palette();
            colour = palette.color(mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active,
                                   mode == QIcon::Selected ? QPalette::HighlightedText : *m_role);
            if (mode == QIcon::Disabled)
                colour.setAlphaF(0.55);
        }
        const QString key = QStringLiteral("quorrix-symbol:%1:%2x%3:%4")
                                .arg(m_path)
                                .arg(size.width())
                                .arg(size.height())
                                .arg(m_role ? colour.rgba() : 0u);
        QPixmap pix;
        if (QPixmapCache::find(key, &pix))
            return pix;
        const std::shared_ptr<QSvgRenderer> document = svgDocument(m_path);
        if (!document->isValid())
            return {};
        pix = QPixmap(size);
        pix.fill(Qt::transparent);
        {
            QPainter p(&pix);
            // Fitted inside the square, keeping the drawing's proportions.
            QSizeF drawn = document->defaultSize();
            drawn.scale(size, Qt::KeepAspectRatio);
            document->render(&p, QRectF(QPointF((size.width() - drawn.width()) / 2, (size.height() - drawn.height()) / 2), drawn));
            if (m_role) {
                p.setCompositionMode(QPainter::CompositionMode_SourceIn);
                p.fillRect(pix.rect(), colour);
            }
        }
        QPixmapCache::insert(key, pix);
        return pix;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }

    QIconEngine* clone() const override { return new SymbolIconEngine(*this); }

private:
    QString m_path;
    std::optional<QPalette::ColorRole> m_role;
};

} // namespace

QIcon symbolIcon(const QString& symbol)
{
    initIconResources();
    const auto it = symbolFiles().constFind(symbol);
    if (it == symbolFiles().constEnd())
        return {};
    const QString path = QStringLiteral(":/icons/%1.svg").arg(QLatin1String(it->file));
    if (symbol == QLatin1String("app"))
        return QIcon(new SymbolIconEngine(path, std::nullopt));
    QIcon bundled(new SymbolIconEngine(path, QPalette::WindowText));
    if (*it->theme)
        return QIcon::fromTheme(QLatin1String(it->theme), bundled);
    return bundled;
}

QIcon tintedSymbolIcon(const QString& symbol, QPalette::ColorRole role)
{
    initIconResources();
    const auto it = symbolFiles().constFind(symbol);
    if (it == symbolFiles().constEnd())
        return {};
    return QIcon(new SymbolIconEngine(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(it->file)), role));
}
