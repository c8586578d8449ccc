#pragma once

#include "kit/DynamicColor.h"

#include <QAbstractButton>

#include <functional>

// A small bordered header button: a symbol and a title in the caption font at medium weight,
// both in the button's tint. Runs its action (and emits clicked()) on a click; greys out while
// disabled.
class PaneButton : public QAbstractButton {
    Q_OBJECT
public:
    PaneButton(const QString& title, const QString& systemImage, const DynamicColor& tint,
               std::function<void()> action = {}, QWidget* parent = nullptr);

    QString title() const { return text(); }
    void setTitle(const QString& title);
    QString systemImage() const { return m_systemImage; }
    void setSystemImage(const QString& systemImage);
    const DynamicColor& tint() const { return m_tint; }
    void setTint(const DynamicColor& tint);
    void setAction(std::function<void()> action) { m_action = std::move(action); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    QString m_systemImage;
    DynamicColor m_tint;
    std::function<void()> m_action;
    bool m_hovered = false;
    bool m_keyboardFocus = false;
};
