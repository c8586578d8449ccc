#pragma once

#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QStringList>

#include "app/ui/AcknowledgementsView.h"
#include "app/ui/AppShellView.h"

// The application object: the main window and the acknowledgements window, and the routing of
// paths given at launch.
class QuorrixApp : public QObject {
    Q_OBJECT
public:
    explicit QuorrixApp(QObject* parent = nullptr);
    ~QuorrixApp() override;

    AppShellView* mainWindow() const { return m_main; }
    void showMainWindow();
    void showAcknowledgements();

    // Paths or file URLs from the command line, routed as files opened with the program.
    void openPaths(const QStringList& arguments);
    // The arguments but options, with relative paths made absolute against the current folder
    // (another process may receive them).
    static QStringList absolutePaths(const QStringList& arguments);

private:
    QSettings m_defaults;
    QPointer<AppShellView> m_main;
    QPointer<AcknowledgementsView> m_acknowledgements;
};
