#pragma once

#include <QWebEnginePage>

// Stands in for a window the page asked for: its first navigation is cancelled, nothing is ever
// shown or opened, and the page then goes away.
class MarkdownPreviewNewWindowPage : public QWebEnginePage {
    Q_OBJECT
public:
    MarkdownPreviewNewWindowPage(QWebEngineProfile* profile, QObject* parent = nullptr);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;

private:
    bool m_decided = false;
};
