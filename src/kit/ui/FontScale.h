#pragma once

#include <QFont>
#include <QObject>

class QWidget;

// Text sizes in design pixels (the size at the desktop's default font) that grow with the
// desktop's font when the user has made it larger, and never shrink below the design.
class FontScale : public QObject {
public:
    // The desktop font's size over the default desktop size, at least 1.
    static qreal factor();
    // `designPixels` at the current factor.
    static int pixels(int designPixels);
    // `font` with `designPixels` as its pixel size at the current factor.
    static QFont sized(QFont font, int designPixels);
    // Gives `widget` `font`, whose pixel size is taken as the design size, at the current factor,
    // and again whenever the application's font changes.
    static void apply(QWidget* widget, const QFont& font);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FontScale(QWidget* widget, const QFont& font);
    void reapply();

    QWidget* m_widget;
    QFont m_font;
    int m_designPixels;
};
