#include "tools/timestamp/ui/TimestampZonePicker.h"

#include "kit/DynamicColor.h"
#include "kit/Palette.h"
#include "tools/timestamp/Timestamp.h"
#include "tools/timestamp/TimestampToolViewModel.h"
#include "tools/timestamp/TimestampZones.h"
#include "kit/ui/PaletteBinding.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

enum Role { flagRole = Qt::UserRole + 1, countryRole, offsetRole };

// Draws a row: the flag in a 22 px box, the identifier over the country, the offset at the end.
class ZoneRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const int line = option.fontMetrics.height();
        return {200, index.data(countryRole).toString().isEmpty() ? line + 8 : line * 2 + 7};
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        p->save();
        if (option.state & (QStyle::State_Selected | QStyle::State_MouseOver)) {
            QColor fill = option.palette.color(QPalette::WindowText);
            fill.setAlphaF(option.state & QStyle::State_Selected ? 0.12f : 0.06f);
            p->fillRect(option.rect, fill);
        }
        const QRect r = option.rect.adjusted(4, 3, -6, -3);
        p->drawText(QRect(r.left(), r.top(), 22, r.height()), Qt::AlignCenter, index.data(flagRole).toString());
        const QString country = index.data(countryRole).toString();
        const int line = option.fontMetrics.height();
        const QString offset = index.data(offsetRole).toString();
        const int offsetWidth = option.fontMetrics.horizontalAdvance(offset);
        const QRect text(r.left() + 30, r.top(), r.width() - 38 - offsetWidth, r.height());
        const QColor secondary = DynamicColor::secondary().resolved(option.palette);
        p->setPen(option.palette.color(QPalette::WindowText));
        if (country.isEmpty()) {
            p->drawText(text, Qt::AlignVCenter | Qt::AlignLeft, index.data(Qt::DisplayRole).toString());
        } else {
            p->drawText(QRect(text.left(), text.top(), text.width(), line), Qt::AlignLeft,
                        index.data(Qt::DisplayRole).toString());
            QFont caption = option.font;
            caption.setPixelSize(std::max(9, option.font.pixelSize() > 0 ? option.font.pixelSize() - 2 : 10));
            p->setFont(caption);
            p->setPen(secondary);
            p->drawText(QRect(text.left(), text.top() + line + 1, text.width(), line), Qt::AlignLeft,
                        option.fontMetrics.elidedText(country, Qt::ElideRight, text.width()));
            p->setFont(option.font);
        }
        p->setPen(secondary);
        p->drawText(r, Qt::AlignVCenter | Qt::AlignRight, offset);
        p->restore();
    }
};

}  // namespace

TimestampZonePicker::TimestampZonePicker(TimestampToolViewModel* model, qint64 momentSeconds, QWidget* parent)
    : QWidget(parent, Qt::Popup), m_model(model), m_moment(momentSeconds)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(380, 360);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(12, 12, 12, 12);
    stack->setSpacing(8);

    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(QStringLiteral("City, country, zone or abbreviation"));
    m_field->setAccessibleName(QStringLiteral("City, country, zone or abbreviation"));
    m_field->setClearButtonEnabled(false);
    PaletteBinding::bind(m_field, QPalette::PlaceholderText, Palette::prompt());
    stack->addWidget(m_field);

    m_stack = new QStackedWidget(this);
    m_list = new QListWidget(m_stack);
    m_list->setItemDelegate(new ZoneRowDelegate(m_list));
    m_list->setMouseTracking(true);
    m_list->setUniformItemSizes(false);
    m_list->setFrameShape(QFrame::NoFrame);
    m_empty = new QLabel(m_stack);
    m_empty->setTextFormat(Qt::PlainText);
    m_empty->setAlignment(Qt::AlignCenter);
    m_empty->setWordWrap(true);
    PaletteBinding::bind(m_empty, QPalette::WindowText, DynamicColor::secondary());
    m_stack->addWidget(m_list);
    m_stack->addWidget(m_empty);
    stack->addWidget(m_stack, 1);

    connect(m_field, &QLineEdit::textChanged, this, &TimestampZonePicker::refresh);
    connect(m_field, &QLineEdit::returnPressed, this, [this] {
        if (m_list->count() > 0)
            choose(m_list->item(0)->data(Qt::DisplayRole).toString());
    });
    connect(m_list, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { choose(item->data(Qt::DisplayRole).toString()); });
    connect(m_model, &TimestampToolViewModel::zonesChanged, this, &TimestampZonePicker::refresh);
    refresh();
    m_field->setFocus();
}

QString TimestampZonePicker::offsetLabel(const QString& zone, qint64 seconds)
{
    const QTimeZone tz(zone.toUtf8());
    if (!tz.isValid())
        return {};
    const int offset = Timestamp::offsetAt(tz, seconds);
    return offset == 0 ? QStringLiteral("UTC") : QStringLiteral("UTC") + Timestamp::offsetText(offset);
}

QString TimestampZonePicker::emptyText() const
{
    // Blanks and tabs only: a pasted line break stays visible.
    QString q = m_field->text();
    qsizetype start = 0, end = q.size();
    while (start < end && (q[start] == u' ' || q[start] == u'\t'))
        ++start;
    while (end > start && (q[end - 1] == u' ' || q[end - 1] == u'\t'))
        --end;
    return QStringLiteral("No zone matches \u201C%1\u201D.").arg(q.mid(start, end - start));
}

QStringList TimestampZonePicker::shownZones() const
{
    QStringList out;
    for (int i = 0; i < m_list->count(); ++i)
        out << m_list->item(i)->data(Qt::DisplayRole).toString();
    return out;
}

void TimestampZonePicker::refresh()
{
    const QStringList matches = m_model->zoneSuggestions(m_field->text());
    m_list->clear();
    const auto& countries = Timestamp::zoneCountries();
    for (const QString& zone : matches) {
        auto* item = new QListWidgetItem(zone, m_list);
        const QString code = countries.value(zone);
        item->setData(flagRole, code.isEmpty() ? QString() : Timestamp::flag(code));
        item->setData(countryRole, code.isEmpty() ? QString() : Timestamp::localizedCountryName(code));
        item->setData(offsetRole, offsetLabel(zone, m_moment));
    }
    m_empty->setText(emptyText());
    m_stack->setCurrentWidget(matches.isEmpty() ? static_cast<QWidget*>(m_empty) : m_list);
}

void TimestampZonePicker::choose(const QString& zone)
{
    m_model->addZone(zone);
    emit dismissed();
    close();
}

void TimestampZonePicker::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        emit dismissed();
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
