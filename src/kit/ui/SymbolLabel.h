#pragma once

#include <QIcon>
#include <QWidget>

// A symbol drawn at a fixed size whenever the widget paints, so its tint follows palette
// changes (a pixmap set once on a label keeps the colours it was made with).
class SymbolLabel : public QWidget {
    Q_OBJECT
public:
    SymbolLabel(QIcon icon, int size, QWidget* parent = nullptr);

    const QIcon& icon() const { return m_icon; }
    // The symbol as it is drawn now.
    QImage rendered() const;

    QSize sizeHint() const override { return {m_size, m_size}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QIcon m_icon;
    int m_size;
};
