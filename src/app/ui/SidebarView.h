#pragma once

#include <QWidget>

class QListWidget;
class QLabel;
class QToolButton;

// The tools in one section per category, and a footer fixed below the list with the donation
// row and the program's identity and links.
class SidebarView : public QWidget {
    Q_OBJECT
public:
    explicit SidebarView(QWidget* parent = nullptr);

    QString selection() const { return m_selection; }
    // An id that names no tool selects no row.
    void setSelection(const QString& id);

    // The version shown beside the name; empty hides it.
    static QString versionText();

signals:
    // The user chose a row.
    void selectionChanged(const QString& id);

protected:
    void changeEvent(QEvent* event) override;

private:
    QWidget* makeFooter();
    void updateLinkColours();

    QListWidget* m_list;
    QString m_selection;
    QToolButton* m_feedback = nullptr;
    QToolButton* m_social = nullptr;
};
