#include "tools/mermaid/MermaidViewportController.h"

#include <cmath>
#include <limits>

void MermaidViewportController::setScale(double scale)
{
    if (!std::isfinite(scale) || scale == m_scale)
        return;
    m_scale = scale;
    emit scaleChanged();
}

QString MermaidViewportController::zoomLabel(double scale)
{
    const double percent = std::round(scale * 100.0);
    if (!std::isfinite(percent) || std::abs(percent) > double(std::numeric_limits<qint64>::max() / 2))
        return QStringLiteral("—");
    return QString::number(qint64(percent)) + QLatin1Char('%');
}
