#pragma once

#include "kit/FileDrop.h"
#include "kit/QuietTask.h"
#include "tools/markdown/MarkdownIncrementalRender.h"
#include "tools/markdown/MarkdownPreviewMessage.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QWidget>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class FindController;
class MarkdownFolderAccess;
class MarkdownLineMap;
class MarkdownPreviewPage;
class MarkdownPreviewWebView;
class MarkdownSchemeHandler;
class MarkdownWebBridge;
class QWebEngineProfile;
class ScrollSyncController;

// The Markdown tool's preview pane: a web view showing the converted document in the preview
// page. It loads the page once per document folder, sends each new body and line count to the
// page script, turns the page's layout and scroll messages into a line map and scroll hand-overs,
// scrolls the page when the editor leads, searches the page for the find controller, serves the
// document's local images and keeps the page from navigating anywhere.
//
// The controllers are not owned and must outlive the view. GUI thread only.
class MarkdownPreviewView : public QWidget {
    Q_OBJECT
public:
    MarkdownPreviewView(const QString& html, qint64 lineCount, const QUrl& folder, qint64 opens,
                        ScrollSyncController* sync, FindController* find,
                        MarkdownFolderAccess* folderAccess, const FileDrop& fileDrop, QWidget* parent = nullptr);
    // Forgets the scroll synchronisation's state without calling any of its actions.
    ~MarkdownPreviewView() override;

    // A new rendering (`html`, `lineCount`), the document's folder (empty without a file) and
    // the folder-access `opens` counter. Sends only what changed; a new `opens` resends the body.
    // `change`, the renderer's account of how `html` differs from the one before, spares working
    // that out when the page holds that one.
    void setContent(const QString& html, qint64 lineCount, const QUrl& folder, qint64 opens,
                    const std::optional<MarkdownIncrementalRender::Change>& change = std::nullopt);

    // Whether a new body goes to the page as the top-level blocks that changed (the default) or
    // always whole. The blocks are found off the GUI thread; a page that cannot take a patch gets
    // the whole body.
    void setIncrementalUpdates(bool on) { m_incremental = on; }

    MarkdownPreviewWebView* webView() const;
    // The address the page is loaded from: the document's base URL, or the scheme's root.
    QUrl pageAddress() const;
    bool isLoaded() const { return m_isLoaded; }

    // From the last layout message; null until the page has reported.
    const MarkdownLineMap* lineMap() const { return m_map.get(); }
    double scrollY() const { return m_scrollY; }
    double viewportHeight() const { return m_viewportHeight; }
    double documentHeight() const { return m_documentHeight; }

    // Distance from the top of the window's content down to the web view's top edge.
    std::optional<double> previewTopInWindow() const;

    // Runs `script` in the page; `done` (optional) gets its result. For the preview's own calls
    // and for tests that inspect the page.
    void evaluate(const QString& script, std::function<void(const QVariant&)> done = {});

signals:
    // The page finished loading and its body went out.
    void pageLoaded();
    // A layout message from the page was taken (after the map was rebuilt).
    void layoutReceived();
    // A scroll message from the page was taken.
    void scrollReceived(double y, bool user);

private:
    void loadPage();
    void onLoadFinished(bool ok);
    void onMessage(const QVariant& body);
    void applyLayout(const MarkdownPreviewMessage::Layout& layout, bool scrolledSince);
    void sendBody(const QString& html, qint64 lineCount);
    // Makes the calls that give the page a body (some of the work off the GUI thread); they go
    // out once the page is loaded.
    void prepareBody(const QString& html, qint64 lineCount);
    void sendReadyCalls();
    // Page calls that change the body go in order, a few per event-loop turn.
    void queue(QString call, std::function<void(const QVariant&)> done = {});
    void sendQueued();
    void resumeAfterLayout();
    void sendLineCount(qint64 lineCount);
    void sendChangedBlocks(const QString& html, const std::optional<MarkdownIncrementalRender::Change>& change);
    void sendPatch(qint64 baseVersion, qint64 version, qsizetype oldCount, const MarkdownBodyBlocks::Patch& patch,
                   const QString& encodedHTML);
    void applyToPreview(double line, double windowY, bool glide);
    void previewToTop();
    void reloadImages();
    void clearHighlights();
    void runFind(const QString& query, bool forward, std::function<bool()> isCurrent,
                 std::function<void(bool)> answer);

    QPointer<ScrollSyncController> m_sync;
    QPointer<FindController> m_find;
    QPointer<MarkdownFolderAccess> m_folderAccess;

    QWebEngineProfile* m_profile = nullptr;
    MarkdownPreviewPage* m_page = nullptr;
    MarkdownPreviewWebView* m_webView = nullptr;
    MarkdownSchemeHandler* m_schemeHandler = nullptr;
    MarkdownWebBridge* m_bridge = nullptr;

    bool m_isLoaded = false;
    std::optional<std::pair<QString, qint64>> m_pendingBody;
    std::optional<QString> m_lastHTML;
    qint64 m_lastLineCount = 1;
    QUrl m_lastFolder;
    qint64 m_lastOpens = 0;
    std::shared_ptr<const MarkdownLineMap> m_map;
    double m_scrollY = 0;
    double m_viewportHeight = 0;
    double m_documentHeight = 0;
    QString m_lastFindQuery;

    // What the page holds, as far as sent: the body, its version and its blocks (once known).
    bool m_incremental = true;
    qint64 m_bodyVersion = 0;
    std::optional<QString> m_pageHTML;
    std::shared_ptr<const MarkdownBodyBlocks> m_pageBlocks;
    QStringList m_readyCalls;
    struct Outgoing {
        QString call;
        std::function<void(const QVariant&)> done;
        bool thenAwaitLayout = false;
    };
    std::deque<Outgoing> m_outgoing;
    bool m_sendScheduled = false;
    bool m_awaitingLayout = false;
    // Run once every queued call has gone (a search waits for the whole body).
    std::vector<std::function<void()>> m_afterSent;
    QuietTask m_patchTask{0};
    // Large layout messages are decoded off the GUI thread; scroll messages are counted so that
    // a layout decoded late does not put back an older scroll position.
    QuietTask m_layoutTask{0};
    quint64 m_scrollMessages = 0;
};
