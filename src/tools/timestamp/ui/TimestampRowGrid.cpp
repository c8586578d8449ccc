#include "tools/timestamp/ui/TimestampRowGrid.h"

#include "kit/DynamicColor.h"
#include "kit/StatusColor.h"
#include "kit/ui/SymbolIcon.h"
#include "tools/timestamp/TimestampZones.h"
#include "tools/timestamp/ui/TimestampRowState.h"
#include "kit/ui/AccessibleElement.h"
#include "kit/ui/FontScale.h"
#include "kit/ui/PaletteBinding.h"

#include <QEvent>
#include <QFontDatabase>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QToolButton>

namespace {

QIcon bundledIcon(const QString& file, const QColor& colour)
{
    // Rows swap these on every hover: each icon is drawn once per colour.
    static QHash<QString, QIcon> made;
    const QString key = file + colour.name(QColor::HexArgb);
    if (auto it = made.constFind(key); it != made.constEnd())
        return *it;
    symbolIcon(QStringLiteral("clock"));  // pulls in the icon resources
    QPixmap pix = QIcon(QStringLiteral(":/icons/%1.svg").arg(file)).pixmap(QSize(32, 32));
    QPainter p(&pix);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(pix.rect(), colour);
    p.end();
    return *made.insert(key, QIcon(pix));
}

// The "IN" capsule before the label of the row that shows what the user pasted.
class InputMark : public QLabel {
public:
    explicit InputMark(QWidget* parent) : QLabel(QStringLiteral("IN"), parent)
    {
        setTextFormat(Qt::PlainText);
        QFont f = font();
        f.setPixelSize(9);
        f.setBold(true);
        FontScale::apply(this, f);
        // The row's label cell speaks for the row.
        AccessibleElement::hide(this);
        setContentsMargins(5, 1, 5, 1);
        setToolTip(QStringLiteral("The value you pasted"));
        setAccessibleName(QString());
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor fill = DynamicColor::secondary().resolved(palette());
        fill.setAlphaF(0.15f);
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
        p.setPen(DynamicColor::secondary().resolved(palette()));
        p.drawText(rect(), Qt::AlignCenter, text());
        (void)e;
    }
};

}  // namespace

QFont TimestampRowGrid::valueFont()
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPixelSize(13);
    return f;
}

TimestampRowGrid::TimestampRowGrid(TimestampRowState* state, Copy copy, QWidget* parent)
    : QWidget(parent), m_state(state), m_copy(std::move(copy)), m_grid(new QGridLayout(this))
{
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setHorizontalSpacing(14);
    m_grid->setVerticalSpacing(4);
    m_grid->setColumnStretch(1, 1);
    setMouseTracking(true);
    PaletteBinding::follow(this, [this] { refreshButtons(); });
    connect(m_state, &TimestampRowState::changed, this, [this] {
        refreshButtons();
        update();
    });
}

void TimestampRowGrid::track(QWidget* widget)
{
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
}

QWidget* TimestampRowGrid::labelCell(const QString& label, bool isPasted, const QString& country)
{
    auto* cell = new QWidget(this);
    auto* row = new QHBoxLayout(cell);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addStretch(1);
    if (isPasted)
        row->addWidget(new InputMark(cell), 0, Qt::AlignVCenter);
    auto* text = new QLabel(label, cell);
    text->setTextFormat(Qt::PlainText);
    PaletteBinding::bind(text, QPalette::WindowText, DynamicColor::secondary());
    row->addWidget(text);
    const QString flagText = country.isEmpty() ? QString() : Timestamp::flag(country);
    if (!flagText.isEmpty()) {
        auto* flagLabel = new QLabel(flagText, cell);
        flagLabel->setTextFormat(Qt::PlainText);
        flagLabel->setAccessibleName(QString());
        row->addWidget(flagLabel);
    }
    cell->setMinimumWidth(150);
    AccessibleElement::combine(cell);
    cell->setAccessibleName(country.isEmpty() ? label
                                              : label + QStringLiteral(", ") + Timestamp::localizedCountryName(country));
    track(cell);
    for (QWidget* child : cell->findChildren<QWidget*>())
        track(child);
    return cell;
}

void TimestampRowGrid::addRow(const QString& label, const QString& value, bool isPasted, const QString& country,
                              std::function<void()> onRemove)
{
    const int r = int(m_ids.size());
    m_ids << label;
    m_grid->addWidget(labelCell(label, isPasted, country), r, 0, Qt::AlignRight | Qt::AlignVCenter);

    RowWidgets w;
    w.value = new QLabel(value, this);
    w.value->setTextFormat(Qt::PlainText);
    w.value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FontScale::apply(w.value, valueFont());
    track(w.value);
    m_grid->addWidget(w.value, r, 1, Qt::AlignLeft | Qt::AlignVCenter);

    w.copy = new QToolButton(this);
    w.copy->setAutoRaise(true);
    w.copy->setToolTip(QStringLiteral("Copy ") + label);
    w.copy->setAccessibleName(QStringLiteral("Copy ") + label);
    w.copy->setIconSize(QSize(14, 14));
    w.copy->setFixedSize(22, 22);
    track(w.copy);
    connect(w.copy, &QToolButton::clicked, this, [this, label, value] {
        // A copy that put nothing on the clipboard shows no confirmation.
        if (m_copy && m_copy(value))
            m_state->markCopied(label);
    });
    m_grid->addWidget(w.copy, r, 2);

    if (onRemove) {
        w.remove = new QToolButton(this);
        w.remove->setAutoRaise(true);
        w.remove->setIconSize(QSize(14, 14));
        w.remove->setFixedSize(22, 22);
        w.remove->setToolTip(QStringLiteral("Remove ") + label);
        w.remove->setAccessibleName(QStringLiteral("Remove ") + label);
        track(w.remove);
        connect(w.remove, &QToolButton::clicked, this, [this, onRemove] {
            m_state->setHoveredRow(QString());
            onRemove();
        });
        m_grid->addWidget(w.remove, r, 3);
    }
    m_rows.insert(label, w);
    refreshButtons();
}

QLabel* TimestampRowGrid::addLiveRow(const QString& label)
{
    const int r = int(m_ids.size());
    m_ids << label;
    m_grid->addWidget(labelCell(label, false, QString()), r, 0, Qt::AlignRight | Qt::AlignVCenter);
    RowWidgets w;
    w.value = new QLabel(this);
    w.value->setTextFormat(Qt::PlainText);
    FontScale::apply(w.value, valueFont());
    track(w.value);
    m_grid->addWidget(w.value, r, 1, Qt::AlignLeft | Qt::AlignVCenter);
    m_rows.insert(label, w);
    return w.value;
}

QRect TimestampRowGrid::valueFrame(const QString& label) const
{
    auto it = m_rows.constFind(label);
    return it == m_rows.constEnd() || !it->value ? QRect() : it->value->geometry();
}

bool TimestampRowGrid::isRowActive(const QString& label) const
{
    if (m_state->hoveredRow() == label || m_state->copiedRow() == label)
        return true;
    auto it = m_rows.constFind(label);
    if (it == m_rows.constEnd())
        return false;
    return (it->copy && it->copy->hasFocus()) || (it->remove && it->remove->hasFocus());
}

QToolButton* TimestampRowGrid::copyButton(const QString& label) const
{
    return m_rows.value(label).copy;
}

QToolButton* TimestampRowGrid::removeButton(const QString& label) const
{
    return m_rows.value(label).remove;
}

void TimestampRowGrid::refreshButtons()
{
    const QColor secondary = DynamicColor::secondary().resolved(palette());
    const QColor green = StatusColor::green().resolved(palette());
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        const bool active = isRowActive(it.key());
        for (QToolButton* b : {it->copy, it->remove}) {
            if (!b)
                continue;
            // Hidden buttons keep their room, so a row never shifts when they appear.
            auto* effect = qobject_cast<QGraphicsOpacityEffect*>(b->graphicsEffect());
            if (!effect) {
                effect = new QGraphicsOpacityEffect(b);
                b->setGraphicsEffect(effect);
            }
            const qreal target = active ? 1.0 : 0.01;
            for (auto* running : effect->findChildren<QPropertyAnimation*>())
                running->stop();  // deletes itself
            if (!qFuzzyCompare(effect->opacity(), target) && isVisible()) {
                // An ease-out of 0.12 s as the buttons come and go.
                auto* fade = new QPropertyAnimation(effect, "opacity", effect);
                fade->setDuration(120);
                fade->setEasingCurve(QEasingCurve::OutQuad);
                fade->setEndValue(target);
                fade->start(QAbstractAnimation::DeleteWhenStopped);
            } else {
                effect->setOpacity(target);
            }
            b->setAttribute(Qt::WA_TransparentForMouseEvents, !active);
        }
        if (it->remove)
            it->remove->setIcon(bundledIcon(QStringLiteral("minus-circle"), secondary));
        if (it->copy) {
            const bool copied = m_state->copiedRow() == it.key();
            it->copy->setIcon(copied ? bundledIcon(QStringLiteral("checkmark"), green)
                                     : bundledIcon(QStringLiteral("copy"), secondary));
        }
    }
}

void TimestampRowGrid::hoverAt(int y)
{
    for (const QString& id : m_ids) {
        const QRect f = valueFrame(id);
        if (f.isNull())
            continue;
        if (y >= f.top() - 5 && y <= f.bottom() + 1 + 5) {
            m_state->setHoveredRow(id);
            return;
        }
    }
    m_state->setHoveredRow(QString());
}

bool TimestampRowGrid::eventFilter(QObject* watched, QEvent* event)
{
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter)) {
        const QPoint at = w->mapTo(this, event->type() == QEvent::MouseMove
                                             ? static_cast<QMouseEvent*>(event)->position().toPoint()
                                             : w->mapFromGlobal(QCursor::pos()));
        hoverAt(at.y());
    } else if (w && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        refreshButtons();
    }
    return QWidget::eventFilter(watched, event);
}

void TimestampRowGrid::mouseMoveEvent(QMouseEvent* event)
{
    hoverAt(event->position().toPoint().y());
    QWidget::mouseMoveEvent(event);
}

void TimestampRowGrid::leaveEvent(QEvent* event)
{
    if (!rect().contains(mapFromGlobal(QCursor::pos())) && m_ids.contains(m_state->hoveredRow()))
        m_state->setHoveredRow(QString());
    QWidget::leaveEvent(event);
}

void TimestampRowGrid::paintEvent(QPaintEvent*)
{
    const QString& hovered = m_state->hoveredRow();
    if (hovered.isEmpty() || !m_ids.contains(hovered))
        return;
    const QRect f = valueFrame(hovered);
    if (f.isNull())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.08f);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0, f.top() - 3, width(), f.height() + 6), 6, 6);
}
