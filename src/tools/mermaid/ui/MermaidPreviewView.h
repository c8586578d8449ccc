#pragma once

#include "kit/FileDrop.h"
#include "tools/mermaid/MermaidPageProtocol.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QWidget>

#include <chrono>
#include <functional>
#include <map>
#include <optional>

class FileDropWebView;
class MermaidExportController;
class MermaidPreviewPage;
class MermaidViewportController;
class MermaidWebBridge;
class QTimer;
class QWebEngineProfile;

// The live diagram: a web view showing the diagram page, which it boots, asks to render the
// newest source and theme, and reads the zoom scale from. It installs the zoom and fetch actions
// into the controllers, reports readiness and render results through `outcome`, and keeps the
// page from navigating anywhere.
//
// The page renders one source at a time; only the answer to the newest render is reported.
// Calls still unanswered when the page goes away or reloads are answered as failed. A render
// during which the page's thread stays busy for the render limit, or that takes six times the
// limit in all, is abandoned: the page's process is ended and a new page loaded, showing the
// last diagram drawn, and the source it stopped on is not drawn again until it changes. A page
// that comes back without its scripts is replaced too. The controllers are not owned. GUI thread only.
class MermaidPreviewView : public QWidget {
    Q_OBJECT
public:
    using Outcome = MermaidPageProtocol::Outcome;

    MermaidPreviewView(const QString& source, const QString& theme, MermaidViewportController* viewport,
                       MermaidExportController* exporter, const FileDrop& fileDrop, QWidget* parent = nullptr);
    ~MermaidPreviewView() override;

    // The source to show and the page's theme name; only changes go to the page.
    void update(const QString& source, const QString& theme);

    static QUrl shellURL();
    static inline const QString stoppedSentence
        = QStringLiteral("The diagram page stopped while drawing this source. Change the source to draw it again.");
    static inline const QString tooSlowSentence
        = QStringLiteral("This diagram is too large or too slow to draw. Change the source to draw again.");
    static constexpr std::chrono::milliseconds defaultRenderLimit{5000};
    // How long the page's thread may stay busy over a render before it is abandoned.
    void setRenderLimit(std::chrono::milliseconds limit);
    FileDropWebView* webView() const { return m_webView; }
    MermaidPreviewPage* page() const { return m_page; }
    bool isLoaded() const { return m_isLoaded; }
    bool isEngineReady() const { return m_engineReady; }
    // Renders asked of the page so far, and calls not yet answered.
    quint64 renderRequests() const { return m_renderGeneration; }
    int pendingCalls() const { return int(m_pending.size()); }

    // Calls a page function with JSON arguments; `done` gets whether it answered and its answer
    // (or the error's text). For the preview's own calls and for tests.
    void call(const QString& function, const QJsonArray& arguments, std::function<void(bool, QVariant)> done);
    // Runs a statement in the page, answer unread.
    void fireAndForget(const QString& script);

signals:
    void outcome(const MermaidPageProtocol::Outcome& outcome);
    // The page finished a load (of the shell page or not).
    void pageLoaded(bool shellPage);

private:
    MermaidPreviewPage* makePage();
    void replacePage();
    void checkScripts();
    void onLoadStarted();
    void onLoadFinished(bool ok);
    void onPageStopped();
    void onReply(quint64 id, bool ok, const QVariant& value);
    void onViewState(const QVariant& body);
    void boot();
    void armStart();
    void render(const QString& source);
    void changeTheme(const QString& theme, const QString& source);
    bool showsShellPage() const;
    void failPending(const QString& reason);
    void watch(quint64 call, const QString& source);
    void unwatch(quint64 call);
    void onRenderLimit();
    void onPageAlive();

    QPointer<MermaidViewportController> m_viewport;
    QPointer<MermaidExportController> m_export;
    QWebEngineProfile* m_profile = nullptr;
    MermaidPreviewPage* m_page = nullptr;
    FileDropWebView* m_webView = nullptr;
    MermaidWebBridge* m_bridge = nullptr;

    QString m_source;
    QString m_theme;
    bool m_isLoaded = false;
    bool m_engineReady = false;
    std::optional<QString> m_lastSource;
    std::optional<QString> m_lastTheme;
    std::optional<QString> m_stoppedOn;
    QString m_stopReason;
    // The source of the last diagram drawn, shown again when the page is loaded again.
    std::optional<QString> m_lastDrawn;
    // What the page was last loaded to draw by itself.
    std::optional<QString> m_startSource;
    // Boot and render calls the page owes an answer, with the source each is drawing.
    std::map<quint64, QString> m_watched;
    QTimer* m_renderTimer = nullptr;
    QElapsedTimer m_owedSince;
    bool m_abandoning = false;
    int m_scriptlessLoads = 0;
    bool m_pageReplaced = false;
    quint64 m_renderGeneration = 0;
    quint64 m_loadGeneration = 0;
    quint64 m_nextCall = 0;
    QHash<quint64, std::function<void(bool, QVariant)>> m_pending;
};
