#pragma once

#include <QPointer>
#include <QWidget>

class FindController;
class QLabel;
class QLineEdit;
class QToolButton;
class QPushButton;

// The find bar of every searchable view: a search field that searches as the user types, the
// status "Not found", previous and next buttons and Done (also Escape).
class FindBar : public QWidget {
    Q_OBJECT
public:
    FindBar(FindController* controller, const QString& prompt, QWidget* parent = nullptr);

    QLineEdit* field() const { return m_field; }
    QLabel* status() const { return m_status; }
    QToolButton* previousButton() const { return m_previous; }
    QToolButton* nextButton() const { return m_next; }
    QPushButton* doneButton() const { return m_done; }

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refreshStatus();

    QPointer<FindController> m_controller;
    QLineEdit* m_field = nullptr;
    QLabel* m_status = nullptr;
    QToolButton* m_previous = nullptr;
    QToolButton* m_next = nullptr;
    QPushButton* m_done = nullptr;
};
