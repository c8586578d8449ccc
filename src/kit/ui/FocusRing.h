#pragma once

#include <QPointer>
#include <QWidget>

// A frame in the highlight colour laid over a widget while the widget, or the widget it hands
// its focus to, has the keyboard: for views that draw no focus of their own (web views, areas
// that scroll). It lets every click through and follows the palette.
class QPainter;

class FocusRing : public QWidget {
    Q_OBJECT
public:
    // The ring belongs to `target` and lives as long as it.
    static FocusRing* attach(QWidget* target);
    // The frame every focused control of the program shows, drawn just inside `rect`.
    static void paintFrame(QPainter& painter, const QRectF& rect, const QPalette& palette);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit FocusRing(QWidget* target);
    void focusMoved(QWidget* now);

    QPointer<QWidget> m_target;
};
