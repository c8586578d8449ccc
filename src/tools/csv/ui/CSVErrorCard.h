#pragma once

#include <QWidget>

class QLabel;

// The card laid over the table's centre while the model has a parse error: a red warning
// symbol above the sentence, on a rounded panel.
class CSVErrorCard : public QWidget {
    Q_OBJECT
public:
    explicit CSVErrorCard(QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_symbol;
    QLabel* m_text;
};
