#pragma once

#include <QHeaderView>
#include <QList>

// The table's column headers: a tinted row, titles inset 8 px and cut at the tail with room
// for the sort indicator, which every sort key's column shows with its priority (1 for the
// primary key when there are several).
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

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    QList<SortMark> m_marks;
};
