#include "app/ui/QuorrixApp.h"

#include "app/ui/AcknowledgementsView.h"
#include "app/ui/AppShellView.h"
#include "app/ui/ShellStyle.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

QuorrixApp::QuorrixApp(QObject* parent) : QObject(parent)
{
    ShellStyle::install();
}

QuorrixApp::~QuorrixApp()
{
    delete m_acknowledgements;
    delete m_main;
}

void QuorrixApp::showMainWindow()
{
    if (!m_main) {
        m_main = new AppShellView(m_defaults);
        m_main->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_main, &AppShellView::acknowledgementsRequested, this, &QuorrixApp::showAcknowledgements);
    }
    m_main->show();
    m_main->raise();
    m_main->activateWindow();
}

void QuorrixApp::showAcknowledgements()
{
    if (!m_acknowledgements) {
        m_acknowledgements = new AcknowledgementsView;
        m_acknowledgements->setAttribute(Qt::WA_DeleteOnClose);
        // Closing the main window ends the program even while this one is open.
        m_acknowledgements->setAttribute(Qt::WA_QuitOnClose, false);
    }
    m_acknowledgements->show();
    m_acknowledgements->raise();
    m_acknowledgements->activateWindow();
}

QStringList QuorrixApp::absolutePaths(const QStringList& arguments)
{
    QStringList paths;
    bool options = true;
    for (const QString& argument : arguments) {
        // Options (the web engine's among them) name no file; "--" ends them.
        if (options && argument == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (options && argument.startsWith(u'-'))
            continue;
        if (argument.startsWith(QLatin1String("file:")) || argument.contains(QLatin1String("://")))
            paths << argument;
        else
            paths << QFileInfo(argument).absoluteFilePath();
    }
    return paths;
}

void QuorrixApp::openPaths(const QStringList& arguments)
{
    showMainWindow();
    for (const QString& argument : arguments) {
        QUrl url;
        if (argument.startsWith(QLatin1String("file:")))
            url = QUrl(argument);
        else if (argument.contains(QLatin1String("://")))
            url = QUrl(argument); // not a file: ignored by the window
        else
            url = QUrl::fromLocalFile(QFileInfo(argument).absoluteFilePath());
        m_main->openUrl(url);
    }
}
