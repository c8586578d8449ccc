#pragma once

#include <QList>
#include <QSplitter>

// Two panes side by side: the leading one in a column with a 1.5 px line along its trailing
// edge, a one-pixel handle between them, and neither collapsible.
class PaneSplit : public QSplitter {
    Q_OBJECT
public:
    PaneSplit(QWidget* leading, int leadingMinimumWidth, QWidget* trailing, int trailingMinimumWidth,
              const QList<int>& sizes, QWidget* parent = nullptr);

    // The column that holds the leading pane and its line.
    QWidget* leadingColumn() const { return m_leadingColumn; }

private:
    QWidget* m_leadingColumn;
};
