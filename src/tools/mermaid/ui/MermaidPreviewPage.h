#pragma once

#include "tools/mermaid/MermaidPageProtocol.h"

#include <QUrl>
#include <QWebEnginePage>

// The diagram page's web page: only the program's own loads of the page pass; everything else,
// links and new windows included, is cancelled. (The engine reports a script's move of the page
// as a clicked link, so clicked web links reach the browser through the page's bridge instead,
// which sees only the user's own clicks.)
class MermaidPreviewPage : public QWebEnginePage {
    Q_OBJECT
public:
    MermaidPreviewPage(QWebEngineProfile* profile, const QUrl& shellURL, QObject* parent = nullptr);

    static MermaidPageProtocol::Navigation navigationKind(NavigationType type);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override;

private:
    QUrl m_shellURL;
};
