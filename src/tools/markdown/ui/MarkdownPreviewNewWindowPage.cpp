#include "tools/markdown/ui/MarkdownPreviewNewWindowPage.h"

#include <QTimer>

MarkdownPreviewNewWindowPage::MarkdownPreviewNewWindowPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent)
{
    // A request that never navigates must not keep the page alive.
    QTimer::singleShot(30000, this, &QObject::deleteLater);
}

bool MarkdownPreviewNewWindowPage::acceptNavigationRequest(const QUrl&, NavigationType, bool)
{
    // A window the page asks for opens nothing: a link the user clicks reaches the browser
    // through the page's bridge, whatever its target.
    if (m_decided)
        return false;
    m_decided = true;
    deleteLater();
    return false;
}

QWebEnginePage* MarkdownPreviewNewWindowPage::createWindow(WebWindowType)
{
    return nullptr;
}
