#pragma once

#include <QPointer>
#include <QSet>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

#include <functional>

class MarkdownFolderAccess;
class QWebEngineUrlRequestJob;

// Serves the private document scheme to one preview: the page itself at the page's address, and
// image files from the document's folder and the granted folders. Files are read off the GUI
// thread; a request the engine stopped meanwhile gets no answer.
class MarkdownSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    // Must run before the QApplication exists.
    static void registerScheme();

    MarkdownSchemeHandler(MarkdownFolderAccess* folderAccess, QObject* parent = nullptr);

    // The address the page is served at (the preview's current page address).
    std::function<QUrl()> pageAddress;

    void requestStarted(QWebEngineUrlRequestJob* job) override;

signals:
    // One image request was answered (for tests and diagnostics of the page).
    void imageRequestFinished(const QUrl& request, bool served);

private:
    QPointer<MarkdownFolderAccess> m_folderAccess;
    QSet<QWebEngineUrlRequestJob*> m_pending;
};
