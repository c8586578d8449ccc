#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class CSVToolViewModel;
class QLabel;
class QProgressBar;
class QPushButton;

// The strip under the table that shows how far a background copy has come, with a button that
// stops it. It appears only once a copy has run for a while: shorter ones end unannounced.
class CSVCopyProgress : public QWidget {
    Q_OBJECT
public:
    explicit CSVCopyProgress(CSVToolViewModel* model, QWidget* parent = nullptr);

    // How long a copy runs before the strip shows (a second unless set).
    void setDelay(int ms) { m_delay.setInterval(ms); }
    QLabel* label() const { return m_label; }
    QProgressBar* bar() const { return m_bar; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    void refresh();

    CSVToolViewModel* m_model;
    QLabel* m_label;
    QProgressBar* m_bar;
    QPushButton* m_cancel;
    QTimer m_delay;
    QElapsedTimer m_running; // since the running copy started
};
