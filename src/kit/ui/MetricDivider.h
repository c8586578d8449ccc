#pragma once

#include <QWidget>

// The "·" between two neighbouring footer metrics, in the tertiary text colour.
class MetricDivider : public QWidget {
    Q_OBJECT
public:
    explicit MetricDivider(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override;
};
