#include "tools/mermaid/ui/MermaidPreviewPage.h"

#include <QTimer>

namespace {

// Stands in for a window the page asked for and goes away without loading anything.
class NewWindowCatcher : public QWebEnginePage {
public:
    explicit NewWindowCatcher(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent)
    {
        QTimer::singleShot(30000, this, &QObject::deleteLater);
    }

protected:
    bool acceptNavigationRequest(const QUrl&, NavigationType, bool) override
    {
        deleteLater();
        return false;
    }
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

private:
    bool m_decided = false;
};

} // namespace

MermaidPreviewPage::MermaidPreviewPage(QWebEngineProfile* profile, const QUrl& shellURL, QObject* parent)
    : QWebEnginePage(profile, parent), m_shellURL(shellURL)
{
}

MermaidPageProtocol::Navigation MermaidPreviewPage::navigationKind(NavigationType type)
{
    using N = MermaidPageProtocol::Navigation;
    switch (type) {
    case NavigationTypeLinkClicked: return N::linkActivated;
    case NavigationTypeTyped: return N::typed;
    case NavigationTypeFormSubmitted: return N::formSubmitted;
    case NavigationTypeBackForward: return N::backForward;
    case NavigationTypeReload: return N::reload;
    case NavigationTypeRedirect: return N::redirect;
    case NavigationTypeOther: return N::other;
    default: return N::formSubmitted;
    }
}

bool MermaidPreviewPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    return MermaidPageProtocol::decide(url, navigationKind(type), isMainFrame, m_shellURL).allow;
}

QWebEnginePage* MermaidPreviewPage::createWindow(WebWindowType)
{
    return new NewWindowCatcher(profile(), this);
}

void MermaidPreviewPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                                  const QString&)
{
    // The page's console (policy reports among it) is not the user's concern.
}
