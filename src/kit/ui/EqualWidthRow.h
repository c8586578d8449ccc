#pragma once

#include <QLayout>
#include <QList>

// Lays its items side by side in equal slots without spacing: it asks for the widest item's
// width times the count by the tallest item's height, and shares whatever width it gets equally.
class EqualWidthRow : public QLayout {
    Q_OBJECT
public:
    explicit EqualWidthRow(QWidget* parent = nullptr);
    ~EqualWidthRow() override;

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override { return int(m_items.size()); }
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    void setGeometry(const QRect& rect) override;

private:
    QList<QLayoutItem*> m_items;
};
