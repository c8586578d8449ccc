#include "tools/timestamp/ui/TimestampResultSections.h"

#include "kit/DynamicColor.h"
#include "kit/ui/EqualWidthRow.h"
#include "kit/ui/RoundedPanel.h"
#include "kit/ui/SymbolIcon.h"
#include "tools/timestamp/Timestamp.h"
#include "tools/timestamp/TimestampLocale.h"
#include "tools/timestamp/TimestampToolViewModel.h"
#include "tools/timestamp/TimestampZones.h"
#include "tools/timestamp/ui/TimestampRowGrid.h"
#include "tools/timestamp/ui/TimestampRowState.h"
#include "tools/timestamp/ui/TimestampZonePicker.h"
#include "kit/ui/FontScale.h"
#include "kit/ui/PaletteBinding.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Timestamp;

namespace {

QLabel* titleLabel(const QString& title, QWidget* parent)
{
    auto* label = new QLabel(title, parent);
    label->setTextFormat(Qt::PlainText);
    QFont f = label->font();
    f.setPixelSize(12);
    f.setWeight(QFont::DemiBold);
    FontScale::apply(label, f);
    label->setContentsMargins(4, 0, 0, 0);
    PaletteBinding::bind(label, QPalette::WindowText, DynamicColor::secondary());
    return label;
}

}  // namespace

TimestampResultSections::TimestampResultSections(TimestampToolViewModel* model, TimestampRowState* state,
                                                 QWidget* parent)
    : QWidget(parent), m_model(model), m_state(state), m_stack(new QVBoxLayout(this))
{
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_relativeTimer.setInterval(1000);
    connect(&m_relativeTimer, &QTimer::timeout, this, &TimestampResultSections::refreshRelative);
}

TimestampRowGrid* TimestampResultSections::grid(const QString& space) const
{
    return m_grids.value(space);
}

QString TimestampResultSections::relativeText() const
{
    return m_relative ? m_relative->text() : QString();
}

TimestampRowGrid* TimestampResultSections::makeGrid(const QString& space)
{
    auto* grid = new TimestampRowGrid(m_state, [model = m_model](const QString& v) { return model->copy(v); });
    grid->setObjectName(space);
    m_grids.insert(space, grid);
    return grid;
}

QWidget* TimestampResultSections::box(QWidget* content)
{
    auto* b = new RoundedPanel;
    b->setFill(QPalette::WindowText, 0.05);
    b->setEdge(std::nullopt, 0);
    auto* l = new QVBoxLayout(b);
    l->setContentsMargins(10, 8, 10, 8);
    l->addWidget(content);
    return b;
}

QWidget* TimestampResultSections::section(const QString& title, QWidget* content)
{
    auto* w = new QWidget;
    w->setObjectName(title);
    auto* l = new QVBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(6);
    l->addWidget(titleLabel(title, w));
    l->addWidget(box(content));
    m_titles << title;
    return w;
}

void TimestampResultSections::refreshRelative()
{
    if (m_relative)
        m_relative->setText(Timestamp::relativeText(m_seconds, m_nanoseconds, QDateTime::currentMSecsSinceEpoch(),
                                                    m_model->currentZone()));
}

void TimestampResultSections::openZonePicker()
{
    if (!m_addZone)
        return;
    auto* picker = new TimestampZonePicker(m_model, m_seconds, this);
    // Above the button where there is room, as the arrow points down at it.
    const QPoint anchor = m_addZone->mapToGlobal(QPoint(m_addZone->width() / 2, 0));
    QPoint at(anchor.x() - picker->width() / 2, anchor.y() - picker->height() - 4);
    if (QScreen* screen = m_addZone->screen()) {
        const QRect avail = screen->availableGeometry();
        if (at.y() < avail.top())
            at.setY(m_addZone->mapToGlobal(QPoint(0, m_addZone->height())).y() + 4);
        at.setX(std::clamp(at.x(), avail.left(), std::max(avail.left(), avail.right() - picker->width())));
    }
    picker->move(at);
    picker->show();
    picker->searchField()->setFocus();
}

QWidget* TimestampResultSections::otherZones(bool wide, int paneWidth)
{
    auto* block = new QWidget;
    block->setObjectName(QStringLiteral("Other zones block"));
    auto* l = new QVBoxLayout(block);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(6);

    auto* header = new QHBoxLayout;
    header->addWidget(titleLabel(QStringLiteral("Other zones"), block));
    header->addStretch(1);
    auto* add = new QToolButton(block);
    add->setAutoRaise(true);
    add->setText(QStringLiteral("Add Zone"));
    add->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    symbolIcon(QStringLiteral("clock"));  // pulls in the icon resources
    QPixmap plus = QIcon(QStringLiteral(":/icons/plus.svg")).pixmap(QSize(28, 28));
    {
        QPainter p(&plus);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(plus.rect(), palette().color(QPalette::Highlight));
    }
    add->setIcon(QIcon(plus));
    add->setIconSize(QSize(12, 12));
    add->setToolTip(QStringLiteral("Show this moment in another time zone"));
    add->setContentsMargins(0, 0, 4, 0);
    connect(add, &QToolButton::clicked, this, &TimestampResultSections::openZonePicker);
    m_addZone = add;
    header->addWidget(add);
    l->addLayout(header);
    m_titles << QStringLiteral("Other zones");

    const QList<Row> rows = m_model->otherZoneRows();
    if (rows.isEmpty())
        return block;
    const auto& countries = zoneCountries();
    auto fill = [&](TimestampRowGrid* grid, int parity) {
        for (int i = 0; i < rows.size(); ++i) {
            if (parity >= 0 && i % 2 != parity)
                continue;
            const QString id = rows[i].label;
            grid->addRow(id, rows[i].value, false, countries.value(id),
                         [model = m_model, id] { model->removeZone(id); });
        }
    };
    QWidget* content = nullptr;
    if (wide) {
        auto* left = makeGrid(QStringLiteral("Other zones, left"));
        auto* right = makeGrid(QStringLiteral("Other zones, right"));
        fill(left, 0);
        fill(right, 1);
        auto* halves = new QWidget;
        auto* layout = new EqualWidthRow(halves);
        layout->setSpacing(40);
        layout->setSqueezable(false);
        layout->addWidget(left);
        layout->addWidget(right);
        // The halves where their ideal width fits the box; one column otherwise.
        const int offered = paneWidth - 32 - 20;
        if (layout->sizeHint().width() <= offered) {
            content = halves;
        } else {
            m_grids.remove(QStringLiteral("Other zones, left"));
            m_grids.remove(QStringLiteral("Other zones, right"));
            delete halves;
        }
    }
    if (!content) {
        auto* column = makeGrid(QStringLiteral("Other zones"));
        fill(column, -1);
        content = column;
    }
    l->addWidget(box(content));
    return block;
}

void TimestampResultSections::rebuild(bool wide, int paneWidth)
{
    m_wide = wide;
    m_relativeTimer.stop();
    m_grids.clear();
    m_titles.clear();
    // Where the two families stood, so that a swap can move them to their new places.
    QHash<QString, QPoint> oldPlaces;
    if (m_content)
        for (const QString& title : {QStringLiteral("Unix time"), QStringLiteral("Date strings")})
            if (auto* old = m_content->findChild<QWidget*>(title, Qt::FindDirectChildrenOnly))
                oldPlaces.insert(title, old->pos());
    // Later: the rebuild may come from a button of the old rows (Remove), still in its click.
    if (m_content) {
        m_content->hide();
        m_stack->removeWidget(m_content);
        m_content->deleteLater();
    }
    m_content = new QWidget(this);
    m_stack->addWidget(m_content);
    const auto& parsed = m_model->parsed();
    if (!parsed)
        return;
    m_seconds = parsed->instant.seconds;
    m_nanoseconds = parsed->instant.nanoseconds;
    const QTimeZone zone = m_model->currentZone();
    const RowLists lists = rows(m_seconds, m_nanoseconds, zone);
    const bool readAsNumber = parsed->reading.kind == Reading::Kind::number;
    const std::optional<QString> matching = m_model->matchingRowLabel();

    auto family = [&](bool dates) {
        const QString title = dates ? QStringLiteral("Date strings") : QStringLiteral("Unix time");
        auto* grid = makeGrid(title);
        for (const Row& row : dates ? lists.dates : lists.unixTime)
            grid->addRow(row.label, row.value, matching && *matching == row.label);
        return section(title, grid);
    };
    auto local = [&] {
        auto* grid = makeGrid(QStringLiteral("Local time"));
        grid->addRow(QStringLiteral("Local"), localDateTimeText(m_seconds, m_nanoseconds, zone));
        m_relative = grid->addLiveRow(QStringLiteral("Relative"));
        return section(QStringLiteral("Local time"), grid);
    };
    auto calendar = [&] {
        auto* grid = makeGrid(QStringLiteral("Calendar"));
        for (const Row& row : lists.calendar)
            grid->addRow(row.label, row.value);
        return section(QStringLiteral("Calendar"), grid);
    };

    auto* outer = new QVBoxLayout(m_content);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(20);
    // The family the input came from comes second.
    if (!wide) {
        outer->addWidget(family(readAsNumber));
        outer->addWidget(family(!readAsNumber));
        outer->addWidget(local());
        outer->addWidget(calendar());
    } else {
        auto* columns = new QHBoxLayout;
        columns->setSpacing(20);
        auto* left = new QVBoxLayout;
        auto* right = new QVBoxLayout;
        left->setSpacing(20);
        right->setSpacing(20);
        left->addWidget(family(readAsNumber));
        left->addWidget(local());
        left->addStretch(1);
        right->addWidget(family(!readAsNumber));
        right->addWidget(calendar());
        right->addStretch(1);
        columns->addLayout(left, 1);
        columns->addLayout(right, 1);
        outer->addLayout(columns);
    }
    outer->addWidget(otherZones(wide, paneWidth));
    outer->addStretch(1);
    refreshRelative();
    m_relativeTimer.start();

    const bool swapped = m_lastReadAsNumber && *m_lastReadAsNumber != readAsNumber;
    m_lastReadAsNumber = readAsNumber;
    if (swapped && isVisible() && oldPlaces.size() == 2) {
        m_content->setGeometry(rect());
        outer->activate();
        for (auto it = oldPlaces.cbegin(); it != oldPlaces.cend(); ++it) {
            auto* moved = m_content->findChild<QWidget*>(it.key(), Qt::FindDirectChildrenOnly);
            if (!moved || moved->pos() == it.value())
                continue;
            // A short, lightly damped move from the old place to the new one.
            auto* move = new QPropertyAnimation(moved, "pos", moved);
            move->setDuration(260);
            move->setEasingCurve(QEasingCurve::OutCubic);
            move->setStartValue(it.value());
            move->setEndValue(moved->pos());
            move->start(QAbstractAnimation::DeleteWhenStopped);
        }
    }
}

// The relative time ticks only while it can be seen.
void TimestampResultSections::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_relative) {
        refreshRelative();
        m_relativeTimer.start();
    }
}

void TimestampResultSections::hideEvent(QHideEvent* event)
{
    m_relativeTimer.stop();
    QWidget::hideEvent(event);
}
