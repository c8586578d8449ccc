#include "tools/csv/ui/CSVCellDelegate.h"

#include "tools/csv/ui/CSVTableModel.h"
#include "kit/ui/FontScale.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

namespace {

bool startsWithNoCase(QStringView text, qsizetype at, QLatin1StringView word)
{
    return text.size() - at >= word.size() && text.sliced(at, word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

bool endsLink(QChar c)
{
    return c.isSpace() || c == u'<' || c == u'>' || c == u'"' || c == u'`' || c == u'|';
}

} // namespace

QList<CSVCellDelegate::Link> CSVCellDelegate::links(const QString& text)
{
    QList<Link> found;
    if (!text.contains(u':') && !text.contains(u'.'))
        return found;
    static const QLatin1StringView schemes[] = {QLatin1StringView("https://"), QLatin1StringView("http://"),
                                                QLatin1StringView("ftp://"), QLatin1StringView("mailto:"),
                                                QLatin1StringView("www.")};
    qsizetype i = 0;
    while (i < text.size()) {
        const bool wordStart = i == 0 || !text.at(i - 1).isLetterOrNumber();
        qsizetype schemeLength = 0;
        if (wordStart) {
            for (const QLatin1StringView scheme : schemes) {
                if (startsWithNoCase(text, i, scheme)) {
                    schemeLength = scheme.size();
                    break;
                }
            }
        }
        if (!schemeLength) {
            ++i;
            continue;
        }
        qsizetype end = i + schemeLength;
        while (end < text.size() && !endsLink(text.at(end)))
            ++end;
        // Sentence punctuation after an address is not part of it.
        while (end > i + schemeLength && QStringView(u".,;:!?)]}'").contains(text.at(end - 1)))
            --end;
        if (end - i > schemeLength) {
            QString url = text.mid(i, end - i);
            if (url.startsWith(QLatin1StringView("www."), Qt::CaseInsensitive))
                url.prepend(QLatin1StringView("http://"));
            found.append({i, end - i, url});
        }
        i = end;
    }
    return found;
}

const CSVCellDelegate::Face& CSVCellDelegate::face(const QFont& base, bool rowNumbers) const
{
    std::optional<Face>& slot = rowNumbers ? m_rowNumbers : m_cells;
    QFont wanted = base;
    if (rowNumbers) {
        wanted.setPixelSize(FontScale::pixels(12));
        wanted.setWeight(QFont::DemiBold);
    }
    if (!slot || slot->font != wanted)
        slot = Face{wanted, QFontMetricsF(wanted)};
    return *slot;
}

CSVCellDelegate::Layout CSVCellDelegate::layout(const QStyleOptionViewItem& option, const QModelIndex& index,
                                                const QString& text) const
{
    const bool rowNumbers = index.column() == CSVTableModel::rowNumberColumn;
    const bool right = index.data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight;
    const Face& f = face(option.font, rowNumbers);
    const QRectF box = QRectF(option.rect).adjusted(8, 0, -8, 0);
    Layout result;
    result.shown = text;
    // Most cells surely fit (no glyph is twice the average width): no measuring then, unless the
    // text is right-aligned and its width places it.
    const bool surelyFits = f.metrics.averageCharWidth() * 2 * qreal(text.size()) < box.width();
    qreal width = 0;
    if (!surelyFits || right) {
        width = f.metrics.horizontalAdvance(text);
        if (width > box.width()) {
            result.shown = f.metrics.elidedText(text, Qt::ElideRight, box.width());
            width = f.metrics.horizontalAdvance(result.shown);
        }
    }
    result.baseline = box.top() + (box.height() + f.metrics.ascent() - f.metrics.descent()) / 2;
    result.x = right ? box.right() - width : box.left();
    return result;
}

void CSVCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const bool selected = option.state & QStyle::State_Selected;
    const bool rowNumbers = index.column() == CSVTableModel::rowNumberColumn;
    const QPalette& pal = option.palette;
    if (selected) {
        const QPalette::ColorGroup group = (option.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
        painter->fillRect(option.rect, pal.color(group, QPalette::Highlight));
    } else if (rowNumbers) {
        painter->fillRect(option.rect, QColor(128, 128, 128, 28));
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty())
        return;
    const Face& f = face(option.font, rowNumbers);
    const Layout l = layout(option, index, text);
    const QColor textColour = pal.color(selected ? QPalette::HighlightedText : QPalette::Text);
    painter->setFont(f.font);
    painter->setPen(textColour);
    const QList<Link> found = rowNumbers ? QList<Link>() : links(l.shown);
    if (found.isEmpty()) {
        painter->drawText(QPointF(l.x, l.baseline), l.shown);
        return;
    }
    // Plain runs and link runs, one after the other.
    QFont underlined = f.font;
    underlined.setUnderline(true);
    qreal x = l.x;
    qsizetype at = 0;
    auto run = [&](qsizetype from, qsizetype to, bool link) {
        if (to <= from)
            return;
        const QString part = l.shown.mid(from, to - from);
        painter->setFont(link ? underlined : f.font);
        painter->setPen(link && !selected ? pal.color(QPalette::Link) : textColour);
        painter->drawText(QPointF(x, l.baseline), part);
        x += f.metrics.horizontalAdvance(part);
    };
    for (const Link& link : found) {
        run(at, link.start, false);
        run(link.start, link.start + link.length, true);
        at = link.start + link.length;
    }
    run(at, l.shown.size(), false);
}

std::optional<QString> CSVCellDelegate::linkAt(const QStyleOptionViewItem& option, const QModelIndex& index,
                                               QPoint point) const
{
    if (index.column() == CSVTableModel::rowNumberColumn)
        return std::nullopt;
    const QString text = index.data(Qt::DisplayRole).toString();
    const Layout l = layout(option, index, text);
    const QList<Link> found = links(l.shown);
    if (found.isEmpty())
        return std::nullopt;
    const Face& f = face(option.font, false);
    for (const Link& link : found) {
        const qreal start = l.x + f.metrics.horizontalAdvance(l.shown.left(link.start));
        const qreal end = start + f.metrics.horizontalAdvance(l.shown.mid(link.start, link.length));
        if (point.x() >= start && point.x() <= end) {
            // The address as the cell holds it, not as it was cut for drawing.
            for (const Link& whole : links(text)) {
                if (whole.start == link.start)
                    return whole.url;
            }
            return link.url;
        }
    }
    return std::nullopt;
}

bool CSVCellDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                  const QModelIndex& index)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && !(mouse->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier))) {
            if (const std::optional<QString> url = linkAt(option, index, mouse->position().toPoint()))
                QDesktopServices::openUrl(QUrl::fromUserInput(*url));
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}
