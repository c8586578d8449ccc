#include "kit/ui/ToolbarSegmentedPicker.h"

#include "kit/ui/EqualWidthRow.h"
#include "kit/ui/FontScale.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kHeight = 24;
constexpr int kPadding = 12;
constexpr qreal kRadius = 6;

QColor withAlpha(QColor colour, qreal alpha)
{
    colour.setAlphaF(alpha);
    return colour;
}

// One segment: a flat button drawing its pill, title and leading divider from the picker's state.
class Segment : public QAbstractButton {
public:
    Segment(ToolbarSegmentedPicker* picker, int index, const QString& title, const QString& name)
        : QAbstractButton(picker), m_picker(picker), m_index(index)
    {
        setText(title);
        setCheckable(true);
        setAccessibleName(name.isEmpty() ? title : name);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override { return QSize(fontMetrics().horizontalAdvance(text()) + 2 * kPadding, kHeight); }
    QSize minimumSizeHint() const override { return QSize(0, kHeight); }

    // Checking is the picker's business: a press only reports the segment.
    void nextCheckState() override {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (!m_picker->isEnabled())
            p.setOpacity(ToolbarSegmentedPicker::disabledOpacity);
        const QPalette& pal = palette();
        const bool selected = m_picker->isSegmentSelected(m_index);
        const bool active = m_picker->isActiveLook();
        if (selected) {
            const DynamicColor& fill = active ? ToolbarSegmentedPicker::segmentSelectedFill()
                                              : ToolbarSegmentedPicker::segmentSelectedInactiveFill();
            QPainterPath pill;
            pill.addRoundedRect(QRectF(rect()), kRadius, kRadius);
            p.fillPath(pill, fill.resolved(pal));
        }
        if (m_picker->isDividerShown(m_index)) {
            // Straddles the boundary with the previous segment.
            p.fillRect(QRectF(-0.5, (height() - 13) / 2.0, 1, 13), ToolbarSegmentedPicker::segmentDivider().resolved(pal));
        }
        p.setPen(selected && active ? QColor(Qt::white) : ToolbarSegmentedPicker::segmentText().resolved(pal));
        // Elided only when it cannot fit even into the padding: rounding must not cut a title.
        const QRect textArea = rect().adjusted(4, 0, -4, 0);
        p.drawText(textArea, Qt::AlignCenter | Qt::TextSingleLine,
                   fontMetrics().elidedText(text(), Qt::ElideRight, std::max(0, textArea.width())));
        if (hasFocus() && m_keyboardFocus) {
            p.setPen(QPen(pal.color(QPalette::Highlight), 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), kRadius - 1, kRadius - 1);
        }
    }

    void focusInEvent(QFocusEvent* event) override
    {
        m_keyboardFocus = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
        QAbstractButton::focusInEvent(event);
    }

public:
    ToolbarSegmentedPicker* picker() const { return m_picker; }
    int index() const { return m_index; }

private:
    ToolbarSegmentedPicker* m_picker;
    int m_index;
    bool m_keyboardFocus = false;
};

// A segment is one choice of several, so it reads as a radio button, checked and selected when
// it is the picker's selection.
class SegmentAccessible : public QAccessibleWidget {
public:
    explicit SegmentAccessible(Segment* segment) : QAccessibleWidget(segment, QAccessible::RadioButton) {}

    Segment* segment() const { return static_cast<Segment*>(widget()); }

    QAccessibleInterface* parent() const override
    {
        return QAccessible::queryAccessibleInterface(segment()->picker());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        const bool selected = segment()->picker()->isSegmentSelected(segment()->index());
        state.checkable = true;
        state.checked = selected;
        state.selectable = true;
        state.selected = selected;
        return state;
    }

    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override
    {
        if (action == pressAction() && segment()->isEnabled())
            segment()->click();
        else
            QAccessibleWidget::doAction(action);
    }
};

// The picker is one grouping named by its label whose children are its segments, without the
// layout row between them.
class PickerAccessible : public QAccessibleWidget {
public:
    explicit PickerAccessible(ToolbarSegmentedPicker* picker) : QAccessibleWidget(picker, QAccessible::Grouping) {}

    ToolbarSegmentedPicker* picker() const { return static_cast<ToolbarSegmentedPicker*>(widget()); }
    int childCount() const override { return int(picker()->segments().size()); }
    QAccessibleInterface* child(int index) const override
    {
        const auto segments = picker()->segments();
        return index >= 0 && index < segments.size() ? QAccessible::queryAccessibleInterface(segments.at(index))
                                                     : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child ? int(picker()->segments().indexOf(qobject_cast<QAbstractButton*>(child->object()))) : -1;
    }
};

QAccessibleInterface* pickerAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("ToolbarSegmentedPicker"))
        return new PickerAccessible(static_cast<ToolbarSegmentedPicker*>(object));
    // Every object asked about comes here, web engine items among them, whose types cannot be
    // cast across: only a button of a class without meta-object of its own can be a segment.
    if (className != QLatin1String("QAbstractButton") || !object || !object->isWidgetType())
        return nullptr;
    if (auto* segment = dynamic_cast<Segment*>(static_cast<QWidget*>(object)))
        return new SegmentAccessible(segment);
    return nullptr;
}

} // namespace

ToolbarSegmentedPicker::ToolbarSegmentedPicker(const QString& label, const QList<Item>& items, QWidget* parent)
    : QWidget(parent), m_items(items)
{
    static const bool accessible = [] {
        QAccessible::installFactory(pickerAccessibleFactory);
        return true;
    }();
    Q_UNUSED(accessible);
    setAccessibleName(label);
    QFont titleFont = font();
    titleFont.setPixelSize(13);
    FontScale::apply(this, titleFont);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* row = new EqualWidthRow(this);
    for (int i = 0; i < m_items.size(); ++i) {
        auto* segment = new Segment(this, i, m_items.at(i).title, m_items.at(i).accessibleName);
        connect(segment, &QAbstractButton::clicked, this, [this, i] {
            const QVariant value = m_items.at(i).value;
            setSelection(value);
            emit activated(value);
        });
        row->addWidget(segment);
        m_segments.append(segment);
    }
}

void ToolbarSegmentedPicker::setSelection(const QVariant& value)
{
    m_selection = value;
    for (int i = 0; i < m_segments.size(); ++i) {
        const bool selected = isSegmentSelected(i);
        if (m_segments.at(i)->isChecked() != selected) {
            m_segments.at(i)->setChecked(selected);
            QAccessible::State changed;
            changed.checked = true;
            changed.selected = true;
            QAccessibleStateChangeEvent event(m_segments.at(i), changed);
            QAccessible::updateAccessibility(&event);
        }
        m_segments.at(i)->update();
    }
    update();
}

bool ToolbarSegmentedPicker::isSegmentSelected(int index) const
{
    return index >= 0 && index < m_items.size() && m_selection.isValid() && m_items.at(index).value == m_selection;
}

bool ToolbarSegmentedPicker::isDividerShown(int index) const
{
    return index >= 1 && index < m_items.size() && !isSegmentSelected(index) && !isSegmentSelected(index - 1);
}

bool ToolbarSegmentedPicker::isActiveLook() const
{
    return isActiveWindow() && isEnabled();
}

void ToolbarSegmentedPicker::paintEvent(QPaintEvent*)
{
    if (m_items.isEmpty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath track;
    track.addRoundedRect(QRectF(rect()), kRadius, kRadius);
    p.fillPath(track, segmentTrackFill().resolved(palette()));
}

void ToolbarSegmentedPicker::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::PaletteChange
        || event->type() == QEvent::EnabledChange) {
        for (QAbstractButton* segment : m_segments)
            segment->update();
        update();
    }
    QWidget::changeEvent(event);
}

const DynamicColor& ToolbarSegmentedPicker::segmentTrackFill()
{
    static const DynamicColor colour(withAlpha(Qt::black, 0.08), withAlpha(Qt::white, 0.12));
    return colour;
}

const DynamicColor& ToolbarSegmentedPicker::segmentSelectedFill()
{
    static const DynamicColor colour = dynamicColor(0xD94C00, 0xFF9B47);
    return colour;
}

const DynamicColor& ToolbarSegmentedPicker::segmentSelectedInactiveFill()
{
    static const DynamicColor colour(withAlpha(Qt::black, 0.18), withAlpha(Qt::white, 0.20));
    return colour;
}

const DynamicColor& ToolbarSegmentedPicker::segmentText()
{
    static const DynamicColor colour = dynamicColor(0x474747, 0xEBEBEB);
    return colour;
}

const DynamicColor& ToolbarSegmentedPicker::segmentDivider()
{
    static const DynamicColor colour(withAlpha(Qt::black, 0.24), withAlpha(Qt::white, 0.34));
    return colour;
}
