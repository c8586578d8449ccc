#pragma once

#include <QObject>
#include <QString>

#include <functional>

// The diagram's zoom as the page reports it, and the zoom and fit actions that reach the page.
// The preview installs the actions when it builds its web view; a caller skips an absent one.
class MermaidViewportController : public QObject {
    Q_OBJECT
    Q_PROPERTY(double scale READ scale WRITE setScale NOTIFY scaleChanged)
public:
    using QObject::QObject;

    double scale() const { return m_scale; }
    // Publishes only a different value; a scale that is not finite is ignored.
    void setScale(double scale);

    // The scale as a whole percentage, halves rounded away from zero ("125%").
    QString zoomLabel() const { return zoomLabel(m_scale); }
    static QString zoomLabel(double scale);

    std::function<void()> applyZoomIn;
    std::function<void()> applyZoomOut;
    std::function<void()> applyFit;
    std::function<void()> applyActualSize;
    // Asks the page to fit the next diagram it draws.
    std::function<void()> requestAutoFit;

    static void call(const std::function<void()>& action)
    {
        if (action)
            action();
    }

signals:
    void scaleChanged();

private:
    double m_scale = 1.0;
};
