#pragma once

#include "kit/ui/RoundedPanel.h"

class QLabel;

// A warning drawn over a pane: a red triangle, a bold headline and a wrapped message, centred.
// The owner places it and shows it.
class NoticeCard : public RoundedPanel {
    Q_OBJECT
public:
    explicit NoticeCard(QWidget* parent = nullptr);

    QLabel* headline() const { return m_headline; }
    QLabel* message() const { return m_message; }
    // The message in the secondary text colour, below a headline that says it all.
    void dimMessage();

private:
    QLabel* m_headline;
    QLabel* m_message;
};
