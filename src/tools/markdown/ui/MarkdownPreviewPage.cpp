#include "tools/markdown/ui/MarkdownPreviewPage.h"

#include "tools/markdown/ui/MarkdownPreviewNewWindowPage.h"


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
    // The engine reports a script's move of the page as a clicked link: the browser opens only
    // for the clicks the page's bridge hears the user make, never from here.
    const QUrl address = pageAddress ? pageAddress() : MarkdownLinkPolicy::blankPage();
    return MarkdownLinkPolicy::decide(url, navigationKind(type), isMainFrame, address).allow;
}

QWebEnginePage* MarkdownPreviewPage::createWindow(WebWindowType)
{
    return new MarkdownPreviewNewWindowPage(profile(), this);
}

void MarkdownPreviewPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&)
{
    // The page's console (policy reports of blocked content among it) is not the user's concern.
}
