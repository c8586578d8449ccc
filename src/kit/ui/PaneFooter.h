#pragma once

#include <QWidget>

class QHBoxLayout;

// The 22 px bar under a pane: its metrics side by side (spacing 6), in the caption font and the
// secondary colour. Made by ToolPane.
class PaneFooter : public QWidget {
    Q_OBJECT
public:
    explicit PaneFooter(QWidget* parent = nullptr);

    // Adds a Metric, a MetricDivider or any small widget at the end of the row.
    void addMetric(QWidget* metric);
    QList<QWidget*> metrics() const { return m_metrics; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QHBoxLayout* m_row;
    QList<QWidget*> m_metrics;
};
