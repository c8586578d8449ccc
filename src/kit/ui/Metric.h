#pragma once

#include <QWidget>

// One footer entry: an optional symbol, 4 px, then the text. It takes the footer's font and
// secondary colour; setText() updates a count in place.
class Metric : public QWidget {
    Q_OBJECT
public:
    explicit Metric(const QString& text, const QString& systemImage = QString(), QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    QString systemImage() const { return m_systemImage; }
    void setSystemImage(const QString& systemImage);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* event) override;

private:
    QString m_text;
    QString m_systemImage;
};
