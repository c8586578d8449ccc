#include "tools/mermaid/ui/MermaidPreviewView.h"

#include "kit/TextHelpers.h"
#include "kit/TextUnits.h"
#include "kit/web/FileDropWebView.h"
#include "kit/web/WebPageSetup.h"
#include "tools/mermaid/MermaidExportController.h"
#include "tools/mermaid/MermaidViewportController.h"
#include "tools/mermaid/ui/MermaidPreviewPage.h"
#include "tools/mermaid/ui/MermaidWebBridge.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

#include <signal.h>

// Resources of a static library are registered by hand, outside any namespace.
static void initMermaidResources()
{
    Q_INIT_RESOURCE(mermaid);
    Q_INIT_RESOURCE(mermaid_engine);
}

namespace {

QString resourceText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

const QString startScriptName = QStringLiteral("quorrix-diagram-start");

// The world the bridge and its channel live in, apart from the page's own scripts.
constexpr quint32 bridgeWorld = QWebEngineScript::ApplicationWorld;

void addBridgeScripts(QWebEnginePage* page)
{
    QWebEngineScript bridge;
    bridge.setName(QStringLiteral("quorrix-diagram-bridge"));
    bridge.setInjectionPoint(QWebEngineScript::DocumentCreation);
    bridge.setWorldId(bridgeWorld);
    bridge.setRunsOnSubFrames(false);
    bridge.setSourceCode(resourceText(QStringLiteral(":/qtwebchannel/qwebchannel.js")) + QLatin1Char('\n')
                         + resourceText(QStringLiteral(":/mermaid/bridge.js")));
    page->scripts().insert(bridge);
    WebPageSetup::addDocumentScript(page, QStringLiteral("quorrix-diagram-calls"),
                                    resourceText(QStringLiteral(":/mermaid/calls.js")));
}

// Text the page can take: a lone surrogate cannot cross to the page, so it becomes U+FFFD.
QJsonArray textArgument(const QString& text)
{
    return QJsonArray{TextHelpers::repairedUTF16(text)};
}

} // namespace

QUrl MermaidPreviewView::shellURL()
{
    return QUrl(QStringLiteral("qrc:/mermaid/mermaid-shell.html"));
}

MermaidPreviewView::MermaidPreviewView(const QString& source, const QString& theme, MermaidViewportController* viewport,
                                       MermaidExportController* exporter, const FileDrop& fileDrop, QWidget* parent)
    : QWidget(parent), m_viewport(viewport), m_export(exporter), m_source(source), m_theme(theme)
{
    initMermaidResources();
    // A profile of its own that keeps nothing on disk.
    m_profile = new QWebEngineProfile(this);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);

    m_bridge = new MermaidWebBridge(this);
    connect(m_bridge, &MermaidWebBridge::replied, this, &MermaidPreviewView::onReply);
    connect(m_bridge, &MermaidWebBridge::viewStatePosted, this, &MermaidPreviewView::onViewState);
    connect(m_bridge, &MermaidWebBridge::pageAlive, this, &MermaidPreviewView::onPageAlive);
    connect(m_bridge, &MermaidWebBridge::linkClicked, this, [](const QUrl& url) {
        if (MermaidPageProtocol::decide(url, MermaidPageProtocol::Navigation::linkActivated, true, {}).openInBrowser)
            QDesktopServices::openUrl(url);
    });
    m_page = makePage();

    m_renderTimer = new QTimer(this);
    m_renderTimer->setSingleShot(true);
    m_renderTimer->setInterval(defaultRenderLimit);
    connect(m_renderTimer, &QTimer::timeout, this, &MermaidPreviewView::onRenderLimit);

    m_webView = new FileDropWebView(this);
    m_webView->setPage(m_page);
    m_webView->setFileDrop(fileDrop);
    m_webView->setContextMenuPolicy(Qt::NoContextMenu);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_webView);

    QPointer<MermaidPreviewView> self(this);
    if (m_viewport) {
        m_viewport->applyZoomIn = [self] { if (self) self->fireAndForget(QStringLiteral("zoomBy(1.25)")); };
        m_viewport->applyZoomOut = [self] { if (self) self->fireAndForget(QStringLiteral("zoomBy(0.8)")); };
        m_viewport->applyFit = [self] { if (self) self->fireAndForget(QStringLiteral("fitToView()")); };
        m_viewport->applyActualSize = [self] { if (self) self->fireAndForget(QStringLiteral("resetZoom()")); };
        m_viewport->requestAutoFit = [self] { if (self) self->fireAndForget(QStringLiteral("requestAutoFit()")); };
    }
    if (m_export) {
        m_export->fetchSVG = [self](MermaidExportController::SVGReply reply) {
            if (!self || !self->showsShellPage())
                return reply({});
            self->call(QStringLiteral("getSVG"), {}, [reply](bool ok, const QVariant& value) {
                reply({MermaidPageProtocol::svgText(ok, value), ok ? QString() : value.toString()});
            });
        };
        m_export->fetchPNG = [self](MermaidExportController::PNGReply reply) {
            if (!self || !self->showsShellPage())
                return reply({});
            self->call(QStringLiteral("getPNG"), QJsonArray{2.0}, [reply](bool ok, const QVariant& value) {
                reply({MermaidPageProtocol::pngBytes(ok, value), ok ? QString() : value.toString()});
            });
        };
    }

    if (!QFile::exists(QStringLiteral(":/mermaid/mermaid-shell.html"))
        || !QFile::exists(QStringLiteral(":/mermaid/mermaid.esm.min.mjs"))) {
        // Reported once the receiver is connected.
        QMetaObject::invokeMethod(this, [this] { emit outcome(MermaidPageProtocol::EngineReady{false}); },
                                  Qt::QueuedConnection);
        return;
    }
    armStart();
    m_page->load(shellURL());
}

MermaidPreviewPage* MermaidPreviewView::makePage()
{
    auto* page = new MermaidPreviewPage(m_profile, shellURL());
    WebPageSetup::restrict(page);
    page->settings()->setAttribute(QWebEngineSettings::LinksIncludedInFocusChain, false);
    page->setBackgroundColor(Qt::transparent);
    addBridgeScripts(page);
    auto* channel = new QWebChannel(page);
    channel->registerObject(QStringLiteral("diagram"), m_bridge);
    page->setWebChannel(channel, bridgeWorld);
    // A script's move to another address starts a load that the navigation policy refuses; the
    // page stays as it was, so only loads of the shell page, or a page left behind, count.
    connect(page, &QWebEnginePage::loadingChanged, this, [this, page](const QWebEngineLoadingInfo& info) {
        if (page != m_page)
            return;
        const bool shell = MermaidPageProtocol::isShellPage(info.url(), shellURL());
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
            if (shell)
                onLoadStarted();
        } else if (shell || !showsShellPage()) {
            onLoadFinished(info.status() == QWebEngineLoadingInfo::LoadSucceededStatus);
        }
    });
    connect(page, &QWebEnginePage::renderProcessTerminated, this, [this, page] {
        if (page == m_page)
            onPageStopped();
    });
    return page;
}

MermaidPreviewView::~MermaidPreviewView()
{
    failPending(QStringLiteral("The diagram page was closed."));
    // The page goes before its profile, and the view before its page.
    delete m_webView;
    m_webView = nullptr;
    delete m_page;
    m_page = nullptr;
    delete m_profile;
    m_profile = nullptr;
}

bool MermaidPreviewView::showsShellPage() const
{
    return m_page && MermaidPageProtocol::isShellPage(m_page->url(), shellURL());
}

void MermaidPreviewView::call(const QString& function, const QJsonArray& arguments,
                              std::function<void(bool, QVariant)> done)
{
    if (!m_page) {
        done(false, QStringLiteral("The diagram page is gone."));
        return;
    }
    const quint64 id = ++m_nextCall;
    m_pending.insert(id, std::move(done));
    const QString args = QString::fromUtf8(QJsonDocument(arguments).toJson(QJsonDocument::Compact));
    const QString name = QString::fromUtf8(QJsonDocument(QJsonArray{function}).toJson(QJsonDocument::Compact));
    const QString token = m_bridge->expect(id);
    m_page->runJavaScript(
        QStringLiteral("window.__quorrixCall(%1, %2[0], %3, \"%4\")").arg(QString::number(id), name, args, token),
        QWebEngineScript::MainWorld);
}

void MermaidPreviewView::fireAndForget(const QString& script)
{
    if (m_page)
        m_page->runJavaScript(script, QWebEngineScript::MainWorld);
}

void MermaidPreviewView::setRenderLimit(std::chrono::milliseconds limit)
{
    m_renderTimer->setInterval(limit);
    if (m_renderTimer->isActive())
        m_renderTimer->start();
}

// The page answers calls on its one thread: while it owes a boot or a render, each answer shows
// it is still alive, and the limit runs afresh for what it owes next.
void MermaidPreviewView::watch(quint64 call, const QString& source)
{
    if (m_watched.empty()) {
        m_renderTimer->start();
        m_owedSince.start();
    }
    m_watched.emplace(call, source);
}

void MermaidPreviewView::unwatch(quint64 call)
{
    if (m_watched.erase(call) == 0)
        return;
    if (m_watched.empty()) {
        m_renderTimer->stop();
    } else {
        m_renderTimer->start();
        m_owedSince.start();
    }
}

// A render that keeps giving the page's thread back still has to end within six limits.
void MermaidPreviewView::onPageAlive()
{
    if (!m_watched.empty() && m_owedSince.elapsed() < 6 * m_renderTimer->interval())
        m_renderTimer->start();
}

// The oldest call the page owes is the one it is stuck in: its source is not drawn again by
// itself, and the page's process, which cannot be interrupted, is ended and the page loaded again.
void MermaidPreviewView::onRenderLimit()
{
    if (m_watched.empty() || !m_page)
        return;
    const QString stuck = m_watched.begin()->second;
    m_watched.clear();
    if (m_startSource && TextUnits(*m_startSource) == TextUnits(stuck)) {
        // What the page draws by itself on a load is never drawn that way again.
        if (m_lastDrawn && TextUnits(*m_lastDrawn) == TextUnits(stuck))
            m_lastDrawn.reset();
    }
    m_stoppedOn = stuck;
    m_stopReason = tooSlowSentence;
    m_isLoaded = false;
    if (TextUnits(stuck) == TextUnits(m_source))
        emit outcome(MermaidPageProtocol::Failed{tooSlowSentence, std::nullopt});
    m_abandoning = true;
    const qint64 pid = m_page->renderProcessPid();
    if (pid > 0 && pid != QCoreApplication::applicationPid() && ::kill(pid_t(pid), SIGKILL) == 0)
        return; // renderProcessTerminated follows.
    onPageStopped();
}

void MermaidPreviewView::failPending(const QString& reason)
{
    m_watched.clear();
    m_renderTimer->stop();
    const auto pending = std::exchange(m_pending, {});
    for (const auto& done : pending)
        done(false, reason);
}

void MermaidPreviewView::onReply(quint64 id, bool ok, const QVariant& value)
{
    unwatch(id);
    auto done = m_pending.take(id);
    if (done)
        done(ok, value);
}

void MermaidPreviewView::onLoadStarted()
{
    ++m_loadGeneration;
    m_isLoaded = false;
    // A new document starts at its natural size and reports only changes from it.
    if (m_viewport)
        m_viewport->setScale(1.0);
    // Nothing asked of the old page will be answered.
    m_bridge->discardParts();
    failPending(QStringLiteral("The diagram page was reloaded."));
}

void MermaidPreviewView::onLoadFinished(bool ok)
{
    m_isLoaded = ok && showsShellPage();
    // A page set on a view already on screen is drawn only once the view is shown (or resized)
    // again: until then the last diagram would not come back.
    if (std::exchange(m_pageReplaced, false) && m_webView->isVisible()) {
        const bool hadFocus = m_webView->hasFocus() || m_webView->isAncestorOf(QApplication::focusWidget());
        m_webView->hide();
        m_webView->show();
        if (hadFocus)
            m_webView->setFocus(Qt::OtherFocusReason);
    }
    emit pageLoaded(m_isLoaded);
    if (!m_isLoaded) {
        m_engineReady = false;
        emit outcome(MermaidPageProtocol::EngineReady{false});
        return;
    }
    boot();
    checkScripts();
}

// The page's process went away (out of memory on a huge diagram, say): the page is loaded
// again, and the source it was drawing is not drawn again by itself, so it cannot stop it twice.
void MermaidPreviewView::onPageStopped()
{
    ++m_loadGeneration;
    m_isLoaded = false;
    m_engineReady = false;
    m_bridge->discardParts();
    failPending(QStringLiteral("The diagram page stopped."));
    if (!std::exchange(m_abandoning, false)) {
        m_stoppedOn = m_lastSource;
        m_stopReason = stoppedSentence;
    }
    m_lastSource.reset();
    m_lastTheme.reset();
    emit outcome(MermaidPageProtocol::EngineReady{false});
    QPointer<MermaidPreviewView> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self)
            self->replacePage();
    });
}

// A page whose process ended is not loaded again: the engine may give the process that
// replaces it none of the page's scripts, leaving a page that never answers. A new page gets
// them as the first one did.
void MermaidPreviewView::replacePage()
{
    if (!m_page)
        return;
    MermaidPreviewPage* old = std::exchange(m_page, makePage());
    m_webView->setPage(m_page);
    m_pageReplaced = true;
    // Asked for from inside one of the old page's own callbacks too: it goes once they return.
    old->deleteLater();
    armStart();
    m_page->load(shellURL());
}

// Whether the page that finished loading has its scripts; one without them answers nothing it is
// asked and is replaced, a few times at most.
void MermaidPreviewView::checkScripts()
{
    const quint64 load = m_loadGeneration;
    QPointer<MermaidPreviewView> self(this);
    const auto checked = [self, load](const QVariant& present) {
        if (!self || self->m_loadGeneration != load)
            return;
        if (present.toBool()) {
            self->m_scriptlessLoads = 0;
            return;
        }
        if (++self->m_scriptlessLoads > 3) {
            self->m_isLoaded = false;
            self->failPending(QStringLiteral("The diagram page could not start."));
            self->m_engineReady = false;
            emit self->outcome(MermaidPageProtocol::EngineReady{false});
            return;
        }
        ++self->m_loadGeneration;
        self->m_isLoaded = false;
        self->m_engineReady = false;
        self->m_bridge->discardParts();
        self->failPending(QStringLiteral("The diagram page was reloaded."));
        self->m_lastSource.reset();
        self->m_lastTheme.reset();
        self->replacePage();
    };
    m_page->runJavaScript(QStringLiteral("typeof window.__quorrixCall === \"function\""), QWebEngineScript::MainWorld,
                          [self, load, checked](const QVariant& present) {
                              if (!present.toBool() || !self || !self->m_page)
                                  return checked(false);
                              self->m_page->runJavaScript(QStringLiteral("typeof QWebChannel === \"function\""),
                                                          bridgeWorld, checked);
                          });
}

// What the next load of the page starts with: the theme, and the source to draw as soon as the
// library is in (not the one the page stopped on). The page's answer still comes through the
// boot and render calls, which find that render under way or done.
void MermaidPreviewView::armStart()
{
    QWebEngineScriptCollection& scripts = m_page->scripts();
    for (const QWebEngineScript& old : scripts.find(startScriptName))
        scripts.remove(old);
    QJsonObject start{{QStringLiteral("theme"), m_theme}};
    m_startSource.reset();
    if (!m_stoppedOn || TextUnits(*m_stoppedOn) != TextUnits(m_source))
        m_startSource = m_source;
    else if (m_lastDrawn && TextUnits(*m_lastDrawn) != TextUnits(*m_stoppedOn))
        m_startSource = m_lastDrawn; // drawn, but its answer is never asked for
    if (m_startSource)
        start.insert(QStringLiteral("source"), textArgument(*m_startSource).first());
    WebPageSetup::addDocumentScript(
        m_page, startScriptName,
        QStringLiteral("Object.defineProperty(window, \"__quorrixStart\", {value: Object.freeze(%1),"
                       " writable: false, configurable: false});")
            .arg(QString::fromUtf8(QJsonDocument(start).toJson(QJsonDocument::Compact))));
}

void MermaidPreviewView::boot()
{
    const quint64 load = m_loadGeneration;
    QPointer<MermaidPreviewView> self(this);
    call(QStringLiteral("boot"), QJsonArray{m_theme}, [self, load](bool ok, const QVariant& answer) {
        if (!self || self->m_loadGeneration != load)
            return;
        const bool ready = ok && MermaidPageProtocol::bootReady(answer);
        self->m_lastTheme = self->m_theme;
        self->m_engineReady = ready;
        emit self->outcome(MermaidPageProtocol::EngineReady{ready});
        if (ready) {
            self->m_lastSource = self->m_source;
            if (self->m_stoppedOn && TextUnits(*self->m_stoppedOn) == TextUnits(self->m_source)) {
                emit self->outcome(MermaidPageProtocol::Failed{self->m_stopReason, std::nullopt});
                return;
            }
            self->m_stoppedOn.reset();
            self->render(self->m_source);
        }
    });
    // The page may be drawing its first source already, and answers only when that lets it.
    if (m_startSource)
        watch(m_nextCall, *m_startSource);
}

void MermaidPreviewView::update(const QString& source, const QString& theme)
{
    m_source = source;
    m_theme = theme;
    if (!m_isLoaded)
        return;
    if (!m_lastTheme || *m_lastTheme != theme) {
        m_lastTheme = theme;
        m_lastSource = source;
        changeTheme(theme, source);
        return;
    }
    if (m_lastSource && TextUnits(*m_lastSource) == TextUnits(source))
        return;
    m_lastSource = source;
    m_stoppedOn.reset();
    render(source);
}

void MermaidPreviewView::changeTheme(const QString& theme, const QString& source)
{
    // The page takes calls in order: a render asked for after this call already uses the new
    // theme, and makes the one below needless (it would draw an older source last).
    const quint64 generation = m_renderGeneration;
    QPointer<MermaidPreviewView> self(this);
    call(QStringLiteral("setTheme"), QJsonArray{theme}, [self, source, generation](bool, const QVariant&) {
        if (self && self->m_renderGeneration == generation)
            self->render(source);
    });
}

void MermaidPreviewView::render(const QString& source)
{
    if (!showsShellPage())
        return;
    const quint64 generation = ++m_renderGeneration;
    const quint64 load = m_loadGeneration;
    QPointer<MermaidPreviewView> self(this);
    call(QStringLiteral("renderDiagram"), textArgument(source),
         [self, generation, load, source](bool ok, const QVariant& answer) {
             // An answer to a render that a newer one (or a new load of the page) has replaced is
             // never shown.
             if (!self || generation != self->m_renderGeneration || load != self->m_loadGeneration)
                 return;
             if (std::optional<Outcome> result = MermaidPageProtocol::renderOutcome(ok, answer)) {
                 if (std::holds_alternative<MermaidPageProtocol::Rendered>(*result))
                     self->m_lastDrawn = source;
                 emit self->outcome(*result);
             }
         });
    watch(m_nextCall, source);
}

void MermaidPreviewView::onViewState(const QVariant& body)
{
    const std::optional<double> scale = MermaidPageProtocol::viewStateScale(body);
    if (scale && m_viewport)
        m_viewport->setScale(*scale);
}
