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
#include "kit/ui/FontScale.h"
#include "kit/ui/PaletteBinding.h"
#include "kit/DynamicColor.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTimer>
#include <QJsonDocument>
#include <QLocale>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

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


// The opening tag that `block` starts with (after any text): its name and the raw value of the
// attribute `name` (none without it).
struct OpeningTag {
    QStringView tagName;
    std::optional<QStringView> value;
};
std::optional<OpeningTag> openingTag(QStringView block, QStringView name)
{
    qsizetype i = block.indexOf(u'<');
    if (i < 0)
        return std::nullopt;
    OpeningTag tag;
    qsizetype j = i + 1;
    while (j < block.size() && (block[j].isLetterOrNumber() || block[j] == u'-'))
        ++j;
    tag.tagName = block.sliced(i + 1, j - i - 1);
    char16_t quote = 0;
    for (i = j; i < block.size(); ++i) {
        const char16_t c = block[i].unicode();
        if (quote) {
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == u'>')
            return tag;
        if (c == u'"' || c == u'\'') {
            quote = c;
            continue;
        }
        if (!tag.value && block[i - 1].isSpace() && block.sliced(i).startsWith(name) && i + name.size() + 1 < block.size()
            && block[i + name.size()] == u'=' && block[i + name.size() + 1] == u'"') {
            const qsizetype from = i + name.size() + 2;
            const qsizetype to = block.indexOf(u'"', from);
            if (to < 0)
                return std::nullopt;
            tag.value = block.sliced(from, to - from);
            i = to;
        }
    }
    return std::nullopt;
}

std::optional<qint64> openingTagNumber(QStringView block, QStringView name)
{
    const std::optional<OpeningTag> tag = openingTag(block, name);
    if (!tag || !tag->value || tag->value->isEmpty() || tag->value->size() > 15)
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : *tag->value) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

// "TAG class" of the element `block` starts with, for the page's margins of a group not yet built.
QString elementKind(QStringView block)
{
    const std::optional<OpeningTag> tag = openingTag(block, u"class");
    if (!tag)
        return QString();
    QString kind = tag->tagName.toString().toUpper();
    if (tag->value)
        kind += u' ' + tag->value->toString();
    return kind;
}

// Blocks per group; the page keeps its groups about this size.
constexpr qsizetype groupBlocks = 48;
// Bodies of more blocks than the page lays out whole (see preview.js) go in groups.
constexpr qsizetype manyBlocks = 32 * groupBlocks;

// The calls that hand the page `blocks` in groups. The first gives every group's first line,
// end line, block count and the kinds of its first and last blocks (lines -1 where the group
// does not tell them), with the texts of the first groups; the body is shown at once, and the
// other texts follow, about `part` units a call.
QStringList groupCalls(const MarkdownBodyBlocks& blocks, qint64 version, qint64 lineCount, qsizetype part,
                       const std::atomic_bool& cancelled)
{
    QStringList calls;
    QJsonArray ranges;
    std::vector<QString> texts;
    const QString& html = blocks.html();
    for (qsizetype first = 0; first < blocks.count() && !cancelled; first += groupBlocks) {
        const qsizetype last = std::min(blocks.count(), first + groupBlocks) - 1;
        const QStringView start = blocks.block(first);
        const QStringView end = blocks.block(last);
        const qsizetype from = start.data() - html.constData();
        const qsizetype to = end.data() + end.size() - html.constData();
        texts.push_back(TextHelpers::repairedUTF16(html.mid(from, to - from)));
        const std::optional<qint64> line = openingTagNumber(start, u"data-line");
        const std::optional<qint64> endLine = openingTagNumber(end, u"data-end");
        ranges.append(double(line && endLine ? *line : -1));
        ranges.append(double(line && endLine ? *endLine : -1));
        ranges.append(double(last + 1 - first));
        ranges.append(elementKind(start));
        ranges.append(elementKind(end));
    }
    const QString v = QString::number(version);
    size_t next = 0;
    const auto textsUpTo = [&](qsizetype units) {
        QJsonArray some;
        qsizetype taken = 0;
        while (next < texts.size() && (some.isEmpty() || taken + texts[next].size() <= units)) {
            taken += texts[next].size();
            some.append(std::exchange(texts[next++], QString()));
        }
        return QString::fromUtf8(QJsonDocument(some).toJson(QJsonDocument::Compact));
    };
    // Enough for the view at the top; a view elsewhere waits for its groups a little longer.
    calls << QStringLiteral("stageBody(%1, null, %2, %3)")
                 .arg(v, textsUpTo(qsizetype(64) << 10), QString::fromUtf8(QJsonDocument(ranges).toJson(QJsonDocument::Compact)));
    calls << QStringLiteral("updateStagedBody(%1, %2)").arg(QString::number(lineCount), v);
    while (next < texts.size() && !cancelled)
        calls << QStringLiteral("stageBody(%1, null, %2, null)").arg(v, textsUpTo(part));
    return calls;
}

// stageBody() calls that hand the page `html` as one text in parts of about `part` units.
QStringList bodyCalls(const QString& html, qint64 version, qsizetype part, const std::atomic_bool& cancelled)
{
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
    return calls;
}

struct StagedBody {
    std::shared_ptr<const MarkdownBodyBlocks> blocks;
    QStringList calls;
};

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
    // The channel lives in a world of its own, out of reach of the page's scripts.
    QWebEngineScript bridge;
    bridge.setName(QStringLiteral("quorrix-sync-bridge"));
    bridge.setInjectionPoint(QWebEngineScript::DocumentCreation);
    bridge.setWorldId(QWebEngineScript::ApplicationWorld);
    bridge.setRunsOnSubFrames(false);
    bridge.setSourceCode(MarkdownPageDocument::bridgeScript());
    m_page->scripts().insert(bridge);
    WebPageSetup::addDocumentScript(m_page, QStringLiteral("quorrix-sync-handler"), MarkdownPageDocument::handlerScript());

    m_bridge = new MarkdownWebBridge(this);
    auto* channel = new QWebChannel(m_page);
    channel->registerObject(QStringLiteral("sync"), m_bridge);
    m_page->setWebChannel(channel, QWebEngineScript::ApplicationWorld);
    connect(m_bridge, &MarkdownWebBridge::messagePosted, this, &MarkdownPreviewView::onMessage);
    // Only a click the user made reaches here; the page's navigations never open anything.
    connect(m_bridge, &MarkdownWebBridge::linkClicked, this, [this](const QUrl& url) {
        if (MarkdownLinkPolicy::decide(url, MarkdownLinkPolicy::Navigation::linkActivated, true, pageAddress()).openInBrowser)
            QDesktopServices::openUrl(url);
    });
    connect(m_page, &QWebEnginePage::loadFinished, this, &MarkdownPreviewView::onLoadFinished);
    // The page follows the window between light and dark; before it loads, so does its backdrop.
    PaletteBinding::follow(this, [this] {
        const bool dark = DynamicColor::isDark(palette());
        m_page->setBackgroundColor(dark ? QColor(0x1e, 0x1e, 0x1e) : QColor(Qt::white));
        if (m_isLoaded)
            evaluate(MarkdownPageDocument::appearanceScript(dark, FontScale::factor()));
    });
    // Its text grows with the desktop's font as the program's own does.
    FontScale::follow(this, [this] {
        if (m_isLoaded)
            evaluate(MarkdownPageDocument::appearanceScript(DynamicColor::isDark(palette()), FontScale::factor()));
    });

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
    m_layoutTask.cancel();
    m_pageHTML.reset();
    m_pageBlocks.reset();
    m_readyCalls.clear();
    m_outgoing.clear();
    m_awaitingLayout = false;
    m_page->load(pageAddress());
    // The body is made ready for the page while the page loads.
    if (m_pendingBody)
        prepareBody(m_pendingBody->first, m_pendingBody->second);
}

void MarkdownPreviewView::setContent(const QString& html, qint64 lineCount, const QUrl& folder, qint64 opens,
                                     const std::optional<MarkdownIncrementalRender::Change>& change)
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
        prepareBody(html, lineCount);
        return;
    }
    if (!bodyChanged)
        sendLineCount(lineCount);
    else if (m_incremental && opens == previousOpens && m_pageHTML)
        sendChangedBlocks(html, change);
    else
        sendBody(html, lineCount);
}

void MarkdownPreviewView::onLoadFinished(bool ok)
{
    // A superseded load, or one that failed, leaves the body waiting for the current one.
    if (!ok || m_page->url() != pageAddress())
        return;
    m_isLoaded = true;
    // The window may have changed between the page being served and loading.
    evaluate(MarkdownPageDocument::appearanceScript(DynamicColor::isDark(palette()), FontScale::factor()));
    // The pending body has been in preparation since it came; without one the last goes again.
    if (m_pendingBody)
        m_pendingBody.reset();
    else
        prepareBody(m_lastHTML.value_or(QString()), m_lastLineCount);
    sendReadyCalls();
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
    prepareBody(html, lineCount);
    sendReadyCalls();
}

void MarkdownPreviewView::prepareBody(const QString& html, qint64 lineCount)
{
    m_patchTask.cancel();
    const qint64 version = ++m_bodyVersion;
    m_pageHTML = html;
    m_pageBlocks.reset();
    m_readyCalls.clear();
    if (html.size() <= (qsizetype(64) << 10)) {
        m_readyCalls << QStringLiteral("updateBody(%1, %2, %3)").arg(jsString(html), QString::number(lineCount), QString::number(version));
        return;
    }
    // Encoding a large body and handing it to the page take the GUI thread long enough to be
    // felt: it is encoded elsewhere and sent in parts. A body of many blocks goes in groups,
    // each with its lines, so that the page can build the groups near the view first and stand
    // in for the others until they come near. A newer body or patch supersedes it (a patch onto
    // a body the page never got is refused by the page and answered with the whole body).
    m_patchTask.runNow<StagedBody>(
        [html, lineCount, version](const std::atomic_bool& cancelled) {
            constexpr qsizetype part = 1 << 19;
            StagedBody staged;
            std::optional<MarkdownBodyBlocks> blocks = MarkdownBodyBlocks::split(html);
            if (blocks)
                staged.blocks = std::make_shared<const MarkdownBodyBlocks>(std::move(*blocks));
            if (staged.blocks && staged.blocks->count() > manyBlocks) {
                staged.calls = groupCalls(*staged.blocks, version, lineCount, part, cancelled);
                return staged;
            }
            if (html.size() <= part) {
                staged.calls << QStringLiteral("updateBody(%1, %2, %3)").arg(jsString(html), QString::number(lineCount), QString::number(version));
                return staged;
            }
            staged.calls = bodyCalls(html, version, part, cancelled);
            staged.calls << QStringLiteral("updateStagedBody(%1, %2)").arg(QString::number(lineCount), QString::number(version));
            return staged;
        },
        [this, version](StagedBody staged) {
            if (m_bodyVersion != version)
                return;
            if (!m_pageBlocks)
                m_pageBlocks = std::move(staged.blocks);
            m_readyCalls = std::move(staged.calls);
            sendReadyCalls();
        });
}

void MarkdownPreviewView::sendReadyCalls()
{
    if (!m_isLoaded || m_readyCalls.isEmpty())
        return;
    // A whole body supersedes whatever still waited to go.
    m_outgoing.clear();
    m_awaitingLayout = false;
    QPointer<MarkdownPreviewView> self(this);
    for (QString& call : m_readyCalls) {
        const bool staged = call.startsWith(u"updateStagedBody(");
        std::function<void(const QVariant&)> done;
        if (staged) {
            // A long body's first layout comes back as the call's answer.
            done = [self](const QVariant& answer) {
                if (!self)
                    return;
                if (answer.typeId() == QMetaType::QVariantMap)
                    self->onMessage(answer);
                self->resumeAfterLayout();
            };
        }
        m_outgoing.push_back({std::move(call), std::move(done), staged});
    }
    m_readyCalls.clear();
    sendQueued();
}

void MarkdownPreviewView::queue(QString call, std::function<void(const QVariant&)> done)
{
    m_outgoing.push_back({std::move(call), std::move(done), false});
    sendQueued();
}

void MarkdownPreviewView::resumeAfterLayout()
{
    if (!m_awaitingLayout)
        return;
    m_awaitingLayout = false;
    sendQueued();
}

void MarkdownPreviewView::sendQueued()
{
    if (m_sendScheduled || m_awaitingLayout)
        return;
    // As many calls as fit in a few milliseconds go in one turn; a large body's parts take a
    // turn each.
    QElapsedTimer turn;
    turn.start();
    while (!m_outgoing.empty() && turn.elapsed() < 8) {
        Outgoing next = std::move(m_outgoing.front());
        m_outgoing.pop_front();
        evaluate(next.call, std::move(next.done));
        // The rest of a body waits for the page's first layout of it (the call's answer), which
        // would otherwise queue behind the rest on this thread.
        if (next.thenAwaitLayout && !m_outgoing.empty()) {
            m_awaitingLayout = true;
            QPointer<MarkdownPreviewView> self(this);
            QTimer::singleShot(1000, this, [self] {
                if (self)
                    self->resumeAfterLayout();
            });
            return;
        }
    }
    if (!m_outgoing.empty()) {
        m_sendScheduled = true;
        QPointer<MarkdownPreviewView> self(this);
        QTimer::singleShot(0, this, [self] {
            if (!self)
                return;
            self->m_sendScheduled = false;
            self->sendQueued();
        });
        return;
    }
    std::vector<std::function<void()>> after = std::exchange(m_afterSent, {});
    for (const std::function<void()>& run : after)
        run();
}

namespace {

struct BlocksUpdate {
    std::shared_ptr<const MarkdownBodyBlocks> blocks;
    std::optional<MarkdownBodyBlocks::Patch> patch;
    qsizetype oldCount = 0;
    QString encoded; // the patch's HTML
};

} // namespace

// Cutting both bodies into blocks and encoding what goes to the page grow with the document, so
// they run off the GUI thread; only the newest body is sent, and only onto the body it was
// compared with (sendBody() and new loads cancel the work).
void MarkdownPreviewView::sendChangedBlocks(const QString& html, const std::optional<MarkdownIncrementalRender::Change>& change)
{
    // The renderer's own account of what changed, onto the very body the page has (and not
    // one still on its way), goes at once.
    constexpr qsizetype smallPatch = qsizetype(256) << 10;
    if (change && change->before.size() == m_pageHTML->size() && change->before.constData() == m_pageHTML->constData()
        && change->patch.html.size() <= smallPatch && m_readyCalls.isEmpty() && !m_patchTask.isRunning()
        && !m_patchTask.isPending()) {
        const qint64 baseVersion = m_bodyVersion;
        const qint64 version = ++m_bodyVersion;
        m_pageHTML = html;
        m_pageBlocks.reset();
        sendPatch(baseVersion, version, change->beforeCount, change->patch, jsString(change->patch.html));
        return;
    }
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
            if (update.patch)
                update.encoded = jsString(update.patch->html);
            return update;
        },
        [this, html, baseVersion](BlocksUpdate update) {
            if (!update.patch) {
                sendBody(html, m_lastLineCount);
                return;
            }
            const qint64 version = ++m_bodyVersion;
            m_pageHTML = html;
            m_pageBlocks = update.blocks;
            sendPatch(baseVersion, version, update.oldCount, *update.patch, update.encoded);
        });
}

void MarkdownPreviewView::sendPatch(qint64 baseVersion, qint64 version, qsizetype oldCount,
                                    const MarkdownBodyBlocks::Patch& patch, const QString& encodedHTML)
{
    const QString call = QStringLiteral("patchBody(%1, %2, %3, %4, %5, %6, ").arg(baseVersion).arg(version)
                             .arg(oldCount).arg(patch.start).arg(patch.removeCount).arg(patch.insertCount)
        + encodedHTML + QStringLiteral(", %1, %2)").arg(patch.lineShift).arg(m_lastLineCount);
    QPointer<MarkdownPreviewView> self(this);
    queue(call, [self, version](const QVariant& applied) {
        // A page that did not hold what we compared with gets the whole body.
        if (self && !(applied.typeId() == QMetaType::Bool && applied.toBool()) && self->m_bodyVersion == version
            && self->m_isLoaded)
            self->sendBody(self->m_lastHTML.value_or(QString()), self->m_lastLineCount);
    });
}

void MarkdownPreviewView::sendLineCount(qint64 lineCount)
{
    queue(QStringLiteral("setLineCount(%1)").arg(lineCount));
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
    // The page searches the body once it has all of it.
    if (!m_outgoing.empty() || m_sendScheduled || m_awaitingLayout) {
        QPointer<MarkdownPreviewView> self(this);
        m_afterSent.push_back([self, query, forward, isCurrent, answer] {
            if (self)
                self->runFind(query, forward, isCurrent, answer);
            else
                answer(false);
        });
        return;
    }
    // A changed query searches again from the start of the current match, so typing extends it.
    const bool restart = query != m_lastFindQuery;
    m_lastFindQuery = query;
    QPointer<MarkdownPreviewView> self(this);
    const QString findCall = QStringLiteral(
        "(function (query, backwards, restart) { buildGroupsForSearch(query); var s = window.getSelection();"
        " if (restart && s && s.rangeCount > 0) s.collapseToStart();"
        " var found = window.find(query, false, backwards, true, false, false, false);"
        " if (!found && buildPendingGroups() > 0) found = window.find(query, false, backwards, true, false, false, false);"
        " return found; })(%1, %2, %3)")
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
