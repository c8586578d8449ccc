#pragma once

#include <QLayout>
#include <QList>

// Lays its items side by side in columns of equal width, spacing() apart (none unless set). It
// asks for the widest item's width in every column, and for the tallest item's height at the
// column width. Each item is as tall as it asks to be at the column width, from the top. A width
// smaller than the spacing gives columns of width 0, never a negative one.
class EqualWidthRow : public QLayout {
    Q_OBJECT
public:
    explicit EqualWidthRow(QWidget* parent = nullptr);
    ~EqualWidthRow() override;

    // Whether the row may be narrower than it asks to be (by default it may, down to nothing).
    void setSqueezable(bool squeezable);

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override { return int(m_items.size()); }
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    void setGeometry(const QRect& rect) override;

private:
    int gap() const;
    qreal columnWidth(int width) const;
    static int heightAt(QLayoutItem* item, int width);

    QList<QLayoutItem*> m_items;
    bool m_squeezable = true;
};
