#pragma once

#include <QLayout>
#include <QList>

// Two columns of equal width with a fixed gap; made for exactly two items. It asks for twice
// the widest item's width plus the gap, and for the tallest item's height at the column width.
// A width smaller than the gap gives columns of width 0, never a negative one.
class EqualHalves : public QLayout {
    Q_OBJECT
public:
    explicit EqualHalves(int spacing, QWidget* parent = nullptr);
    ~EqualHalves() override;

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override { return int(m_items.size()); }
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    void setGeometry(const QRect& rect) override;

    // The column width for a total width (clamped at 0).
    int columnWidth(int width) const;

private:
    int widestIdeal() const;

    int m_gap;
    QList<QLayoutItem*> m_items;
};
