#pragma once

#include <QHeaderView>
#include <QList>

// The table's column headers: a tinted row, titles inset 8 px and cut at the tail with room
// for the sort indicator, which every sort key's column shows with its priority (1 for the
// primary key when there are several). Tab reaches the row: Left and Right pick a data column,
// Space or Return sorts by it as a click does.
class CSVHeaderView : public QHeaderView {
    Q_OBJECT
public:
    struct SortMark {
        int section;
        bool ascending;
    };
    explicit CSVHeaderView(QWidget* parent = nullptr);
    void setSortMarks(const QList<SortMark>& marks);
    const QList<SortMark>& sortMarks() const { return m_marks; }
    // The section the keys act on (logical index), -1 when no data column is shown.
    int keySection() const;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool takesKeys(int logicalIndex) const;
    void moveKeySection(int visual);

    QList<SortMark> m_marks;
    int m_keySection = -1;
};
