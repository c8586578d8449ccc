#pragma once

#include "kit/DynamicColor.h"

#include <QList>
#include <QVariant>
#include <QWidget>

class QAbstractButton;

// A compact segmented control drawn in the program's own colours: a tinted track of segments
// all as wide as the widest, the selected one a coloured pill (grey while the window is
// inactive), thin dividers between unselected neighbours. Every press emits activated() with
// the segment's value, also when it is already selected. Disabled, it keeps its selection but
// draws it as in an inactive window, and its segments faded.
class ToolbarSegmentedPicker : public QWidget {
    Q_OBJECT
public:
    struct Item {
        QString title;
        QVariant value;
        // What a screen reader says for a title that is only a glyph ("," is "Comma"); the
        // title when empty.
        QString accessibleName = {};
    };

    ToolbarSegmentedPicker(const QString& label, const QList<Item>& items, QWidget* parent = nullptr);

    QString label() const { return accessibleName(); }
    const QList<Item>& items() const { return m_items; }
    QVariant selection() const { return m_selection; }
    // A value that matches no item leaves every segment unselected.
    void setSelection(const QVariant& value);

    // The segment buttons in item order (for focus and accessibility; geometry follows items).
    QList<QAbstractButton*> segments() const { return m_segments; }
    bool isSegmentSelected(int index) const;
    bool isDividerShown(int index) const;
    // Whether the pill uses the active colours: the window is active and the picker enabled.
    bool isActiveLook() const;
    // Opacity of the segments' drawing while the picker is disabled.
    static constexpr qreal disabledOpacity = 0.45;

    static const DynamicColor& segmentTrackFill();
    static const DynamicColor& segmentSelectedFill();
    static const DynamicColor& segmentSelectedInactiveFill();
    static const DynamicColor& segmentText();
    static const DynamicColor& segmentDivider();

signals:
    void activated(const QVariant& value);

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* event) override;

private:
    QList<Item> m_items;
    QList<QAbstractButton*> m_segments;
    QVariant m_selection;
};
