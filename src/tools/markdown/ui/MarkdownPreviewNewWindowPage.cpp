#include "tools/markdown/ui/MarkdownPreviewNewWindowPage.h"

#include "tools/markdown/MarkdownLinkPolicy.h"

#include <QDesktopServices>
#include <QTimer>

MarkdownPreviewNewWindowPage::MarkdownPreviewNewWindowPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent)
{
    // A request that never navigates must not keep the page alive.
    QTimer::singleShot(30000, this, &QObject::deleteLater);
}

bool MarkdownPreviewNewWindowPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    if (m_decided)
        return false;
    m_decided = true;
    const bool link = type != NavigationTypeFormSubmitted && type != NavigationTypeBackForward
        && type != NavigationTypeReload;
    const MarkdownLinkPolicy::Decision decision = MarkdownLinkPolicy::decide(
        url, link ? MarkdownLinkPolicy::Navigation::linkActivated : MarkdownLinkPolicy::Navigation::other, false, {});
    if (decision.openInBrowser)
        QDesktopServices::openUrl(url);
    deleteLater();
    return false;
}

QWebEnginePage* MarkdownPreviewNewWindowPage::createWindow(WebWindowType)
{
    return nullptr;
}
