#pragma once

#include <QTableView>

#include <functional>

class CSVHeaderView;

// The grid: fixed 24 px rows (scrolling never measures a row), whole-row selection of many
// rows, horizontal lines only under existing rows, and Copy handed to its owner.
class CSVGridView : public QTableView {
    Q_OBJECT
public:
    explicit CSVGridView(QWidget* parent = nullptr);
    CSVHeaderView* header() const { return m_header; }
    void setCopyAction(std::function<void()> copy) { m_copy = std::move(copy); }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    CSVHeaderView* m_header;
    std::function<void()> m_copy;
};
