#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QSettings>
#include <QTimer>

#include <functional>
#include <optional>

class EditCommands;
class QAction;
class QMessageBox;
class QStackedWidget;
class SidebarView;
class ToolHost;
class Tool;
class ToolView;

// The main window: the sidebar of tools beside the selected tool's view. It owns the window's
// ToolHost, keeps the selection across launches, routes opened files to the tool that takes
// them, and one second after it is shown asks the donation prompt whether to show itself.
class AppShellView : public QMainWindow {
    Q_OBJECT
public:
    explicit AppShellView(QSettings& defaults, QWidget* parent = nullptr);
    ~AppShellView() override;

    ToolHost& host() const { return *m_host; }
    QString selectedToolID() const { return m_selectedToolID; }
    void setSelectedToolID(const QString& id);

    // The view shown in the detail column (a tool's, or the placeholder).
    QWidget* detailView();
    // The selected tool's view (made now if it was waiting for the first paint); null while the
    // placeholder is shown.
    ToolView* toolView();
    // Whether the selected tool accepts files (false when the selection names no tool).
    bool activeToolOpensFiles() const;
    // Whether the tool on screen runs its own find.
    bool activeToolRunsOwnFind() const;

    // A URL opened with the program: a file goes to the tool that accepts its extension.
    void openUrl(const QUrl& url);

    QAction* openAction() const { return m_openAction; }
    EditCommands* editCommands() const { return m_edits; }

    // Where alerts go; tests replace it so nothing blocks.
    using AlertPresenter = std::function<void(const QString& message, const QString& informative)>;
    void setAlertPresenter(AlertPresenter presenter) { m_alert = std::move(presenter); }

    // The donation alert, not yet shown: the donation button, "Not now", "Don't show again".
    QMessageBox* makeDonationAlert();

signals:
    void acknowledgementsRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildMenus();
    void showDetail();
    void updateTitle();
    void updateOpenAction();
    ToolView* makeToolView(const Tool& tool);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void runDonationCheck();
    void showDonationAlert();

    QSettings& m_defaults;
    ToolHost* m_host;
    SidebarView* m_sidebar;
    QStackedWidget* m_detail;
    QWidget* m_placeholder = nullptr;
    QWidget* m_pending = nullptr;
    bool m_painted = false;
    QHash<QString, ToolView*> m_views;
    QString m_selectedToolID;
    QAction* m_openAction = nullptr;
    EditCommands* m_edits = nullptr;
    QTimer m_donationTimer;
    AlertPresenter m_alert;
};
