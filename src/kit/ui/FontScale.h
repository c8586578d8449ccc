#pragma once

#include <QFont>
#include <QList>
#include <QObject>

#include <functional>

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
    // Calls `apply` now and after every change of the application's font (sizes derived from
    // design pixels, such as row heights).
    static void follow(QWidget* widget, std::function<void()> apply);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit FontScale(QWidget* widget);
    static FontScale* of(QWidget* widget);
    void reapply();

    QWidget* m_widget;
    QFont m_font;
    int m_designPixels = 0;
    bool m_hasFont = false;
    QList<std::function<void()>> m_followers;
};
