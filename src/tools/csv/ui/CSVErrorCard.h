#pragma once

#include "kit/ui/RoundedPanel.h"

class QLabel;

// The card laid over the table's centre while the model has a parse error: a red warning
// symbol above the sentence, on a rounded panel.
class CSVErrorCard : public RoundedPanel {
    Q_OBJECT
public:
    explicit CSVErrorCard(QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const;

private:
    QLabel* m_symbol;
    QLabel* m_text;
};
