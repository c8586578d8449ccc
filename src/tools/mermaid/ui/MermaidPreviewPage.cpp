#include "tools/mermaid/ui/MermaidPreviewPage.h"

#include <QDesktopServices>
#include <QTimer>

namespace {

// Stands in for a window a link asked for: takes the link's address, hands a web address to the
// desktop's browser and goes away without loading anything.
class NewWindowCatcher : public QWebEnginePage {
public:
    explicit NewWindowCatcher(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent)
    {
        QTimer::singleShot(30000, this, &QObject::deleteLater);
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool) override
    {
        if (!m_decided) {
            m_decided = true;
            if (type == NavigationTypeLinkClicked) {
                const auto decision = MermaidPageProtocol::decide(url, MermaidPageProtocol::Navigation::linkActivated,
                                                                  false, {});
                if (decision.openInBrowser)
                    QDesktopServices::openUrl(url);
            }
            deleteLater();
        }
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
    const MermaidPageProtocol::Decision decision
        = MermaidPageProtocol::decide(url, navigationKind(type), isMainFrame, m_shellURL);
    if (decision.openInBrowser)
        QDesktopServices::openUrl(url);
    return decision.allow;
}

QWebEnginePage* MermaidPreviewPage::createWindow(WebWindowType)
{
    return new NewWindowCatcher(profile(), this);
}

void MermaidPreviewPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int line,
                                                  const QString& source)
{
    if (qEnvironmentVariableIsSet("QUORRIX_PAGE_CONSOLE"))
        qInfo("page: %s (%s:%d)", qPrintable(message), qPrintable(source), line);
}
