#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

#include <optional>

// A rounded rectangle behind other widgets: by default the card of a notice drawn over a pane
// (the window colour, nearly opaque, with a hairline edge).
class RoundedPanel : public QWidget {
    Q_OBJECT
public:
    explicit RoundedPanel(QWidget* parent = nullptr);

    void setFill(QPalette::ColorRole role, qreal alpha);
    // A fixed edge colour; without one the edge is the palette's Mid.
    void setEdge(std::optional<QColor> colour, qreal width);
    void setRadius(qreal radius) { m_radius = radius; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPalette::ColorRole m_fillRole = QPalette::Window;
    qreal m_fillAlpha = 0.94;
    std::optional<QColor> m_edgeColour;
    qreal m_edgeWidth = 0.5;
    qreal m_radius = 12;
};
