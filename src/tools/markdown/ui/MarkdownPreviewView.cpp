#include "tools/markdown/ui/MarkdownPreviewView.h"

#include "kit/TextHelpers.h"
#include "kit/web/WebPageSetup.h"

#include "tools/markdown/MarkdownBodyBlocks.h"
#include "kit/FindController.h"
#include "tools/markdown/MarkdownFolderAccess.h"
#include "tools/markdown/MarkdownLineMap.h"
#include "tools/markdown/MarkdownLinkPolicy.h"
#include "tools/markdown/MarkdownLocalImages.h"
#include "tools/markdown/MarkdownPreviewMessage.h"
#include "tools/markdown/ScrollSyncController.h"
#include "tools/markdown/ui/MarkdownPageDocument.h"
#include "tools/markdown/ui/MarkdownPreviewPage.h"
#include "tools/markdown/ui/MarkdownPreviewWebView.h"
#include "tools/markdown/ui/MarkdownSchemeHandler.h"
#include "tools/markdown/ui/MarkdownWebBridge.h"

#include <QJsonArray>
#include <QTimer>
#include <QJsonDocument>
#include <QLocale>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>

#include <cmath>

namespace {

// One string as a JavaScript expression: a JSON array of it, indexed, so no quoting is ours.
QString jsString(const QString& text)
{
    const QByteArray json = QJsonDocument(QJsonArray{TextHelpers::repairedUTF16(text)}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json) + QStringLiteral("[0]");
}

QString jsNumber(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

bool sameFolder(const QUrl& a, const QUrl& b)
{
    return a.adjusted(QUrl::StripTrailingSlash | QUrl::NormalizePathSegments)
        == b.adjusted(QUrl::StripTrailingSlash | QUrl::NormalizePathSegments);
}

const QString reloadImagesScript = QStringLiteral(
    "document.querySelectorAll('img[src]').forEach(function (img) {"
    " if (img.naturalWidth === 0) { var src = img.getAttribute('src');"
    " img.removeAttribute('src'); img.setAttribute('src', src); } })");

} // namespace

MarkdownPreviewView::MarkdownPreviewView(const QString& html, qint64 lineCount, const QUrl& folder, qint64 opens,
                                         ScrollSyncController* sync, FindController* find,
                                         MarkdownFolderAccess* folderAccess, const FileDrop& fileDrop, QWidget* parent)
    : QWidget(parent), m_sync(sync), m_find(find), m_folderAccess(folderAccess)
{
    // A profile of its own: the document scheme is served per preview, and nothing is kept on disk.
    m_profile = new QWebEngineProfile(this);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_schemeHandler = new MarkdownSchemeHandler(folderAccess, this);
    m_schemeHandler->pageAddress = [this] { return pageAddress(); };
    m_profile->installUrlSchemeHandler(MarkdownLocalImages::scheme.toLatin1(), m_schemeHandler);

    m_page = new MarkdownPreviewPage(m_profile);
    m_page->pageAddress = [this] { return pageAddress(); };
    WebPageSetup::restrict(m_page);
    WebPageSetup::addDocumentScript(m_page, QStringLiteral("quorrix-sync-bridge"), MarkdownPageDocument::bridgeScript());

    m_bridge = new MarkdownWebBridge(this);
    auto* channel = new QWebChannel(m_page);
    channel->registerObject(QStringLiteral("sync"), m_bridge);
    m_page->setWebChannel(channel, QWebEngineScript::MainWorld);
    connect(m_bridge, &MarkdownWebBridge::messagePosted, this, &MarkdownPreviewView::onMessage);
    connect(m_page, &QWebEnginePage::loadFinished, this, &MarkdownPreviewView::onLoadFinished);

    m_webView = new MarkdownPreviewWebView(this);
    m_webView->setPage(m_page);
    m_webView->setFileDrop(fileDrop);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_webView);

    m_lastFolder = folder;
    m_lastOpens = opens;
    m_lastHTML = html;
    m_lastLineCount = lineCount;
    m_pendingBody = std::make_pair(html, lineCount);
    loadPage();

    QPointer<MarkdownPreviewView> self(this);
    if (m_sync) {
        m_sync->applyToPreview = [self](const ScrollSyncController::Level& level, bool glide) {
            if (self)
                self->applyToPreview(level.line, level.windowY, glide);
        };
        m_sync->previewToTop = [self] {
            if (self)
                self->previewToTop();
        };
    }
    if (m_folderAccess) {
        m_folderAccess->reloadImages = [self] {
            if (self)
                self->reloadImages();
        };
    }
    if (m_find) {
        m_find->find = [self](const QString& query, bool forward, std::function<bool()> isCurrent,
                              std::function<void(bool)> answer) {
            if (self)
                self->runFind(query, forward, std::move(isCurrent), std::move(answer));
            else
                answer(false);
        };
        m_find->clearHighlights = [self] {
            if (self)
                self->clearHighlights();
        };
    }
}

MarkdownPreviewView::~MarkdownPreviewView()
{
    if (m_sync)
        m_sync->clear();
    // The page goes before its profile, and the view before its page.
    delete m_webView;
    m_webView = nullptr;
    delete m_page;
    m_page = nullptr;
    delete m_profile;
    m_profile = nullptr;
}

MarkdownPreviewWebView* MarkdownPreviewView::webView() const
{
    return m_webView;
}

QUrl MarkdownPreviewView::pageAddress() const
{
    return MarkdownLinkPolicy::pageAddress(m_lastFolder);
}

void MarkdownPreviewView::loadPage()
{
    m_isLoaded = false;
    // A new load starts with an empty page; nothing sent to the old one still applies.
    m_patchTask.cancel();
    m_blocksTask.cancel();
    m_layoutTask.cancel();
    m_pageHTML.reset();
    m_pageBlocks.reset();
    m_page->load(pageAddress());
}

void MarkdownPreviewView::setContent(const QString& html, qint64 lineCount, const QUrl& folder, qint64 opens)
{
    const qint64 previousOpens = m_lastOpens;
    m_lastOpens = opens;
    if (!sameFolder(folder, m_lastFolder)) {
        m_lastFolder = folder;
        m_lastHTML = html;
        m_lastLineCount = lineCount;
        m_pendingBody = std::make_pair(html, lineCount);
        loadPage();
        return;
    }
    const bool sameHTML = m_lastHTML && *m_lastHTML == html;
    if (opens == previousOpens && sameHTML && m_lastLineCount == lineCount)
        return;
    const bool bodyChanged = !(opens == previousOpens && sameHTML);
    m_lastHTML = html;
    m_lastLineCount = lineCount;
    if (!m_isLoaded) {
        m_pendingBody = std::make_pair(html, lineCount);
        return;
    }
    if (!bodyChanged)
        sendLineCount(lineCount);
    else if (m_incremental && opens == previousOpens && m_pageHTML)
        sendChangedBlocks(html);
    else
        sendBody(html, lineCount);
}

void MarkdownPreviewView::onLoadFinished(bool ok)
{
    // A superseded load, or one that failed, leaves the body waiting for the current one.
    if (!ok || m_page->url() != pageAddress())
        return;
    m_isLoaded = true;
    const std::pair<QString, qint64> body = m_pendingBody ? *m_pendingBody
                                                          : std::make_pair(m_lastHTML.value_or(QString()), m_lastLineCount);
    m_pendingBody.reset();
    sendBody(body.first, body.second);
    emit pageLoaded();
}

void MarkdownPreviewView::evaluate(const QString& script, std::function<void(const QVariant&)> done)
{
    if (!m_page)
        return;
    if (done)
        m_page->runJavaScript(script, QWebEngineScript::MainWorld, std::move(done));
    else
        m_page->runJavaScript(script, QWebEngineScript::MainWorld);
}

void MarkdownPreviewView::sendBody(const QString& html, qint64 lineCount)
{
    m_patchTask.cancel();
    const qint64 version = ++m_bodyVersion;
    m_pageHTML = html;
    m_pageBlocks.reset();
    // Encoding a large body and handing it to the page take the GUI thread long enough to be
    // felt: it is encoded elsewhere and sent in parts, one per event-loop turn. A newer body or
    // patch supersedes it (a patch onto a body the page never got is refused by the page and
    // answered with the whole body).
    constexpr qsizetype part = 1 << 19;
    if (html.size() <= part) {
        evaluate(QStringLiteral("updateBody(%1, %2, %3)").arg(jsString(html), QString::number(lineCount), QString::number(version)));
        return;
    }
    // The body's blocks are found beside it, so the first edit after it cuts only its own.
    m_blocksTask.runNow<std::shared_ptr<const MarkdownBodyBlocks>>(
        [html](const std::atomic_bool&) {
            std::optional<MarkdownBodyBlocks> blocks = MarkdownBodyBlocks::split(html);
            return blocks ? std::make_shared<const MarkdownBodyBlocks>(std::move(*blocks)) : nullptr;
        },
        [this, version](std::shared_ptr<const MarkdownBodyBlocks> blocks) {
            if (m_bodyVersion == version && !m_pageBlocks)
                m_pageBlocks = std::move(blocks);
        });
    m_patchTask.runNow<QStringList>(
        [html, lineCount, version](const std::atomic_bool& cancelled) {
            QStringList calls;
            qsizetype at = 0;
            while (at < html.size() && !cancelled) {
                qsizetype end = std::min(html.size(), at + part);
                // A surrogate pair stays in one part.
                if (end < html.size() && html.at(end - 1).isHighSurrogate())
                    --end;
                calls << QStringLiteral("stageBody(%1, %2)").arg(QString::number(version), jsString(html.mid(at, end - at)));
                at = end;
            }
            calls << QStringLiteral("updateStagedBody(%1, %2)").arg(QString::number(lineCount), QString::number(version));
            return calls;
        },
        [this, version](QStringList calls) { sendParts(version, std::move(calls), 0); });
}

void MarkdownPreviewView::sendParts(qint64 version, QStringList calls, qsizetype next)
{
    if (m_bodyVersion != version || next >= calls.size())
        return;
    evaluate(calls.at(next));
    calls[next].clear();
    QPointer<MarkdownPreviewView> self(this);
    QTimer::singleShot(0, this, [self, version, calls = std::move(calls), next]() mutable {
        if (self)
            self->sendParts(version, std::move(calls), next + 1);
    });
}

namespace {

struct BlocksUpdate {
    std::shared_ptr<const MarkdownBodyBlocks> blocks;
    std::optional<MarkdownBodyBlocks::Patch> patch;
    qsizetype oldCount = 0;
    QString encoded; // the patch's HTML, or the whole body when there is no patch
};

} // namespace

// Cutting both bodies into blocks and encoding what goes to the page grow with the document, so
// they run off the GUI thread; only the newest body is sent, and only onto the body it was
// compared with (sendBody() and new loads cancel the work).
void MarkdownPreviewView::sendChangedBlocks(const QString& html)
{
    const QString base = *m_pageHTML;
    const std::shared_ptr<const MarkdownBodyBlocks> baseBlocks = m_pageBlocks;
    const qint64 baseVersion = m_bodyVersion;
    m_patchTask.runNow<BlocksUpdate>(
        [html, base, baseBlocks](const std::atomic_bool&) {
            BlocksUpdate update;
            if (std::optional<MarkdownBodyBlocks> blocks = MarkdownBodyBlocks::split(html))
                update.blocks = std::make_shared<const MarkdownBodyBlocks>(std::move(*blocks));
            std::shared_ptr<const MarkdownBodyBlocks> from = baseBlocks;
            if (!from) {
                if (std::optional<MarkdownBodyBlocks> blocks = MarkdownBodyBlocks::split(base))
                    from = std::make_shared<const MarkdownBodyBlocks>(std::move(*blocks));
            }
            if (update.blocks && from) {
                update.patch = MarkdownBodyBlocks::patch(*from, *update.blocks);
                update.oldCount = from->count();
            }
            update.encoded = jsString(update.patch ? update.patch->html : html);
            return update;
        },
        [this, html, baseVersion](BlocksUpdate update) {
            const qint64 version = ++m_bodyVersion;
            m_pageHTML = html;
            m_pageBlocks = update.blocks;
            const QString lines = QString::number(m_lastLineCount);
            if (!update.patch) {
                evaluate(QStringLiteral("updateBody(%1, %2, %3)").arg(update.encoded, lines, QString::number(version)));
                return;
            }
            const MarkdownBodyBlocks::Patch& patch = *update.patch;
            const QString call = QStringLiteral("patchBody(%1, %2, %3, %4, %5, %6, ").arg(baseVersion).arg(version)
                                     .arg(update.oldCount).arg(patch.start).arg(patch.removeCount).arg(patch.insertCount)
                + update.encoded + QStringLiteral(", %1, %2)").arg(patch.lineShift).arg(lines);
            QPointer<MarkdownPreviewView> self(this);
            evaluate(call, [self, version](const QVariant& applied) {
                // A page that did not hold what we compared with gets the whole body.
                if (self && !(applied.typeId() == QMetaType::Bool && applied.toBool()) && self->m_bodyVersion == version
                    && self->m_isLoaded)
                    self->sendBody(self->m_lastHTML.value_or(QString()), self->m_lastLineCount);
            });
        });
}

void MarkdownPreviewView::sendLineCount(qint64 lineCount)
{
    evaluate(QStringLiteral("setLineCount(%1)").arg(lineCount));
}

std::optional<double> MarkdownPreviewView::previewTopInWindow() const
{
    if (!m_webView || !m_webView->isVisible())
        return std::nullopt;
    QWidget* top = m_webView->window();
    if (!top)
        return std::nullopt;
    return double(m_webView->mapTo(top, QPoint(0, 0)).y());
}

void MarkdownPreviewView::applyLayout(const MarkdownPreviewMessage::Layout& layout, bool scrolledSince)
{
    m_documentHeight = layout.documentHeight;
    m_viewportHeight = layout.viewportHeight;
    m_map = std::make_shared<const MarkdownLineMap>(layout.map);
    if (!layout.userScroll && !scrolledSince) {
        m_scrollY = layout.scrollY;
        // Images loading, resizes and new bodies move blocks: keep the shared line in place.
        if (m_sync && m_sync->current && m_sync->applyToPreview)
            m_sync->applyToPreview(*m_sync->current, false);
    }
    emit layoutReceived();
}

namespace {

// Whether a message is a layout whose rows are long enough to be worth decoding elsewhere.
bool isLargeLayout(const QVariant& body)
{
    if (body.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap map = body.toMap();
    const QVariant tops = map.value(QStringLiteral("tops"));
    return map.value(QStringLiteral("kind")).toString() == u"layout" && tops.typeId() == QMetaType::QString
        && tops.toString().size() >= (qsizetype(64) << 10);
}

} // namespace

void MarkdownPreviewView::onMessage(const QVariant& body)
{
    if (isLargeLayout(body)) {
        const quint64 scrolls = m_scrollMessages;
        m_layoutTask.runNow<std::optional<MarkdownPreviewMessage>>(
            [body](const std::atomic_bool&) { return MarkdownPreviewMessage::decode(body); },
            [this, scrolls](std::optional<MarkdownPreviewMessage> message) {
                if (const auto* layout = message ? std::get_if<MarkdownPreviewMessage::Layout>(&message->value) : nullptr)
                    applyLayout(*layout, m_scrollMessages != scrolls);
            });
        return;
    }
    const std::optional<MarkdownPreviewMessage> message = MarkdownPreviewMessage::decode(body);
    if (!message)
        return;
    if (const auto* layout = std::get_if<MarkdownPreviewMessage::Layout>(&message->value)) {
        // A later layout supersedes one still being decoded.
        m_layoutTask.cancel();
        applyLayout(*layout, false);
        return;
    }
    ++m_scrollMessages;
    const auto& scroll = std::get<MarkdownPreviewMessage::Scroll>(message->value);
    const double y = scroll.y;
    const double delta = y - m_scrollY;
    m_scrollY = y;
    const std::optional<double> top = previewTopInWindow();
    if (scroll.user && delta != 0 && m_map && top && m_sync) {
        const double T = *top;
        double reading = 0;
        const double range = m_documentHeight - m_viewportHeight;
        if (m_viewportHeight > 0 && range > 0) {
            const double w = std::min(m_viewportHeight, range);
            const double f = (y - (range - w)) / w;
            reading = f <= 0 ? 0 : std::min(f, 1.0) * m_viewportHeight;
        }
        std::shared_ptr<const MarkdownLineMap> map = m_map;
        m_sync->step(ScrollSyncController::Pane::preview, std::abs(delta), reading + T,
                     [map, T, y](double windowY) { return map->lineForY(windowY - T + y); });
    }
    emit scrollReceived(y, scroll.user);
}

void MarkdownPreviewView::applyToPreview(double line, double windowY, bool glide)
{
    const std::optional<double> top = previewTopInWindow();
    if (!m_webView || !m_map || !top)
        return;
    const double offset = std::min(windowY - *top, m_viewportHeight);
    double target = m_map->yForLine(line) - offset;
    if (!(target > 0))
        target = 0;
    target = std::min(target, std::max(0.0, m_documentHeight - m_viewportHeight));
    if (!std::isfinite(target))
        return;
    const bool glides = glide && std::abs(target - m_scrollY) > m_viewportHeight / 3;
    m_scrollY = target;
    evaluate(QStringLiteral("scrollToY(%1, %2)").arg(jsNumber(target), glides ? QStringLiteral("true") : QStringLiteral("false")));
}

void MarkdownPreviewView::previewToTop()
{
    m_scrollY = 0;
    evaluate(QStringLiteral("scrollToY(0, false)"));
}

void MarkdownPreviewView::reloadImages()
{
    evaluate(reloadImagesScript);
}

void MarkdownPreviewView::clearHighlights()
{
    evaluate(QStringLiteral("window.getSelection().removeAllRanges()"));
}

void MarkdownPreviewView::runFind(const QString& query, bool forward, std::function<bool()> isCurrent,
                                  std::function<void(bool)> answer)
{
    if (!m_webView) {
        answer(false);
        return;
    }
    // A changed query searches again from the start of the current match, so typing extends it.
    const bool restart = query != m_lastFindQuery;
    m_lastFindQuery = query;
    QPointer<MarkdownPreviewView> self(this);
    const QString findCall = QStringLiteral(
        "(function (query, backwards, restart) { var s = window.getSelection();"
        " if (restart && s && s.rangeCount > 0) s.collapseToStart();"
        " return window.find(query, false, backwards, true, false, false, false); })(%1, %2, %3)")
        .arg(jsString(query), forward ? QStringLiteral("false") : QStringLiteral("true"),
             restart ? QStringLiteral("true") : QStringLiteral("false"));
    evaluate(QStringLiteral("holdOwnScroll()"), [self, findCall, isCurrent, answer](const QVariant&) {
        if (!self) {
            answer(false);
            return;
        }
        self->evaluate(findCall, [self, isCurrent, answer](const QVariant& found) {
            if (!self)
                return answer(false);
            if (!found.toBool()) {
                self->evaluate(QStringLiteral("releaseOwnScrollSoon()"), [answer](const QVariant&) { answer(false); });
                return;
            }
            self->evaluate(QStringLiteral("findMatchTop()"), [self, isCurrent, answer](const QVariant& result) {
                if (self && isCurrent && isCurrent()) {
                    const std::optional<std::pair<double, double>> pair = previewNumberPair(result);
                    const std::optional<double> top = self->previewTopInWindow();
                    if (pair && self->m_map && top && self->m_sync) {
                        const auto [matchTop, pageY] = *pair;
                        self->m_scrollY = pageY;
                        const double line = self->m_map->lineForY(matchTop);
                        self->m_sync->followFind(ScrollSyncController::Level{line, matchTop - pageY + *top});
                    }
                }
                answer(true);
            });
        });
    });
}
