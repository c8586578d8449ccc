#include "tools/markdown/ui/MarkdownPreviewPage.h"

#include "tools/markdown/ui/MarkdownPreviewNewWindowPage.h"

#include <QDesktopServices>

MarkdownPreviewPage::MarkdownPreviewPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent)
{
}

MarkdownLinkPolicy::Navigation MarkdownPreviewPage::navigationKind(NavigationType type)
{
    switch (type) {
    case NavigationTypeTyped:
    case NavigationTypeOther:
        return MarkdownLinkPolicy::Navigation::programLoad;
    case NavigationTypeLinkClicked:
        return MarkdownLinkPolicy::Navigation::linkActivated;
    default:
        return MarkdownLinkPolicy::Navigation::other;
    }
}

bool MarkdownPreviewPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    const QUrl address = pageAddress ? pageAddress() : MarkdownLinkPolicy::blankPage();
    const MarkdownLinkPolicy::Decision decision = MarkdownLinkPolicy::decide(url, navigationKind(type), isMainFrame, address);
    if (decision.openInBrowser)
        QDesktopServices::openUrl(url);
    return decision.allow;
}

QWebEnginePage* MarkdownPreviewPage::createWindow(WebWindowType)
{
    return new MarkdownPreviewNewWindowPage(profile(), this);
}

void MarkdownPreviewPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&)
{
    // The page's console (policy reports of blocked content among it) is not the user's concern.
}
