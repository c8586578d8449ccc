#pragma once

#include "tools/markdown/MarkdownLinkPolicy.h"

#include <QWebEnginePage>

#include <functional>

// The preview's page: lets only the program's own load of the page through and cancels
// everything else, also links that ask for a new window. (The engine reports a script's move of
// the page as a clicked link, so web links reach the desktop's browser through the page's
// bridge instead, which hears only the user's own clicks.)
class MarkdownPreviewPage : public QWebEnginePage {
    Q_OBJECT
public:
    MarkdownPreviewPage(QWebEngineProfile* profile, QObject* parent = nullptr);

    // The address the program loads the page at.
    std::function<QUrl()> pageAddress;

    static MarkdownLinkPolicy::Navigation navigationKind(NavigationType type);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override;
};
