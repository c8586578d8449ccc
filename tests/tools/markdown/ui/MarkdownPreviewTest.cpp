#include "kit/FindController.h"
#include "tools/markdown/MarkdownFolderAccess.h"
#include "tools/markdown/MarkdownHTML.h"
#include "tools/markdown/MarkdownSourceLines.h"
#include "tools/markdown/MarkdownLineMap.h"
#include "tools/markdown/MarkdownLocalImages.h"
#include "tools/markdown/ScrollSyncController.h"
#include "tools/markdown/ui/MarkdownFindBar.h"
#include "tools/markdown/ui/MarkdownPageDocument.h"
#include "tools/markdown/ui/MarkdownPreviewView.h"
#include "tools/markdown/ui/MarkdownPreviewWebView.h"
#include "tools/markdown/ui/MarkdownSchemeHandler.h"

#include "support/QuorrixTestMain.h"
#include "tools/markdown/ui/PreviewWaits.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWebEnginePage>

#include <memory>

namespace {

// Receives what the preview hands to the desktop's browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

QByteArray pngBytes()
{
    return QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

// Paragraph blocks, one per source line pair, tall enough to scroll.
QString longDocument(int blocks, const QString& word = QStringLiteral("filler"))
{
    QString html;
    for (int i = 0; i < blocks; ++i) {
        html += QStringLiteral("<p data-line=\"%1\" data-end=\"%2\">Block %3 %4 text.</p>\n")
                    .arg(2 * i).arg(2 * i + 1).arg(i).arg(i == blocks - 3 ? QStringLiteral("needle") : word);
    }
    return html;
}

// One preview in a window, with the controllers it is given and a strip above it, so the web
// view's top is not the window's.
struct Harness {
    static constexpr int stripHeight = 40;
    ScrollSyncController sync;
    FindController find;
    MarkdownFolderAccess access;
    QWidget window;
    MarkdownPreviewView* preview = nullptr;
    QList<ScrollSyncController::Level> editorLevels;

    qint64 lineCount = 1;

    explicit Harness(const QString& html, qint64 lines, const QUrl& folder = {}) : lineCount(lines)
    {
        if (!folder.isEmpty())
            access.setDocumentFolder(folder);
        sync.applyToEditor = [this](const ScrollSyncController::Level& level) { editorLevels.append(level); };
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        auto* strip = new QLabel(QStringLiteral("toolbar"), &window);
        strip->setFixedHeight(stripHeight);
        layout->addWidget(strip);
        preview = new MarkdownPreviewView(html, lines, folder, access.opens(), &sync, &find, &access, FileDrop{}, &window);
        layout->addWidget(preview);
        window.resize(800, 600);
        window.show();
    }

    bool waitForLayout(int timeout = 20000)
    {
        QSignalSpy layouts(preview, &MarkdownPreviewView::layoutReceived);
        return layouts.wait(timeout);
    }

    // Waits for the page to be loaded and for a layout of its current body. Messages arrive in
    // order, so once the page reports a line count set after the body, the map is the body's.
    bool ready()
    {
        QSignalSpy loaded(preview, &MarkdownPreviewView::pageLoaded);
        if (!preview->isLoaded() && !loaded.wait(60000))
            return false;
        const qint64 lines = lineCount;
        auto lastLine = [this] { return preview->lineMap() ? preview->lineMap()->anchors().last().line : -1.0; };
        js(QStringLiteral("setLineCount(%1)").arg(lines + 1000));
        if (!QTest::qWaitFor([&] { return lastLine() == double(lines + 1000); }, 60000))
            return false;
        js(QStringLiteral("setLineCount(%1)").arg(lines));
        return QTest::qWaitFor([&] { return lastLine() == double(lines); }, 60000);
    }

    QVariant js(const QString& script)
    {
        // A late answer (after the deadline) writes into state that outlives this call.
        struct Answer {
            QVariant value;
            bool done = false;
        };
        auto answer = std::make_shared<Answer>();
        preview->evaluate(script, [answer](const QVariant& value) {
            answer->value = value;
            answer->done = true;
        });
        if (!QTest::qWaitFor([answer] { return answer->done; }, 60000))
            qWarning("page did not answer: %s", qPrintable(script));
        return answer->value;
    }
};

} // namespace

class MarkdownPreviewTest : public QObject {
    Q_OBJECT
    // Pages kept from one row to the next: a page load is most of a row's time.
    std::unique_ptr<Harness> m_wholePage, m_patchedPage, m_middlePage, m_policyPage, m_linksPage, m_codePage;

    // A kept page showing `html` as a whole body, laid out.
    static bool showWhole(std::unique_ptr<Harness>& page, const QString& html, qint64 lines)
    {
        if (!page)
            page = std::make_unique<Harness>(QString(), 1);
        page->preview->setIncrementalUpdates(false);
        page->preview->setContent(html, lines, {}, page->access.opens());
        page->lineCount = lines;
        return page->ready();
    }

private slots:
    void pageDocumentAdmitsItsOwnScript()
    {
        const QString page = MarkdownPageDocument::markdownPreviewPage();
        QVERIFY(page.startsWith(QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n")));
        QVERIFY(page.endsWith(QStringLiteral("</body>\n</html>")));
        const qsizetype open = page.indexOf(QStringLiteral("<script>")) + 8;
        const qsizetype close = page.indexOf(QStringLiteral("</script>"));
        const QString embedded = page.mid(open, close - open);
        QCOMPARE(embedded, MarkdownPageDocument::markdownPreviewScript());
        const QString digest = QStringLiteral("sha256-")
            + QString::fromLatin1(QCryptographicHash::hash(embedded.toUtf8(), QCryptographicHash::Sha256).toBase64());
        QCOMPARE(MarkdownPageDocument::markdownPreviewScriptDigest(), digest);
        QCOMPARE(MarkdownPageDocument::markdownPreviewPolicy(),
                 QStringLiteral("default-src 'none'; script-src '%1'; style-src 'unsafe-inline'; "
                                "img-src 'self' https: http: data: quorrix-doc:; base-uri 'none'; form-action 'none'; "
                                "frame-src 'none'; object-src 'none'; connect-src 'none'").arg(digest));
        QVERIFY(page.contains(QStringLiteral("content=\"%1\">").arg(MarkdownPageDocument::markdownPreviewPolicy())));
    }

    void layoutMessagesBecomeTheLineMap()
    {
        Harness h(QStringLiteral("<h1 data-line=\"0\" data-end=\"1\">Title</h1>\n"
                                 "<p data-line=\"2\" data-end=\"4\">Two<br>lines</p>\n"
                                 "<pre data-line=\"5\" data-end=\"9\"><code>a\nb\nc</code></pre>\n"
                                 "<p data-line=\"10\">no end</p>"),
                  12);
        QVERIFY(h.ready());
        const QVariantList rects = h.js(QStringLiteral(
            "Array.from(document.querySelectorAll('[data-line]')).map(function (e) {"
            " var r = e.getBoundingClientRect(); return [r.top + scrollY, r.bottom + scrollY]; })")).toList();
        QCOMPARE(rects.size(), 4);
        const double height = h.js(QStringLiteral("document.documentElement.scrollHeight")).toDouble();
        // Taken after the last turn of the event loop: a later layout message replaces the map.
        const MarkdownLineMap* map = h.preview->lineMap();
        // Starts at the blocks' tops, ends at the bottoms, the document's end at its height.
        QCOMPARE(map->yForLine(0), 0.0);
        QCOMPARE(map->yForLine(1), rects[0].toList()[1].toDouble());
        QCOMPARE(map->yForLine(2), rects[1].toList()[0].toDouble());
        QCOMPARE(map->yForLine(4), rects[1].toList()[1].toDouble());
        QCOMPARE(map->yForLine(5), rects[2].toList()[0].toDouble());
        QCOMPARE(map->yForLine(9), rects[2].toList()[1].toDouble());
        QCOMPARE(map->yForLine(10), rects[3].toList()[0].toDouble());
        QCOMPARE(map->anchors().last().line, 12.0);
        QCOMPARE(map->anchors().last().y, height);
        QCOMPARE(h.preview->documentHeight(), height);
        QCOMPARE(h.preview->viewportHeight(), 600.0 - Harness::stripHeight);
        QCOMPARE(h.preview->previewTopInWindow(), std::optional<double>(Harness::stripHeight));
    }

    void newBodiesAndLineCounts()
    {
        Harness h(QStringLiteral("<p data-line=\"0\" data-end=\"1\">first</p>"), 1);
        // Before the load finishes only the newest body waits.
        h.preview->setContent(QStringLiteral("<p data-line=\"0\" data-end=\"1\">second</p>"), 2, {}, h.access.opens());
        h.preview->setContent(QStringLiteral("<p data-line=\"0\" data-end=\"1\">third</p>"), 3, {}, h.access.opens());
        h.lineCount = 3;
        QVERIFY(h.ready());
        QTRY_COMPARE(h.preview->lineMap()->anchors().last().line, 3.0);
        QCOMPARE(h.js(QStringLiteral("document.getElementById('content').textContent")).toString(), QStringLiteral("third"));
        // Same markup, new line count: the map ends at the new count.
        h.preview->setContent(QStringLiteral("<p data-line=\"0\" data-end=\"1\">third</p>"), 5, {}, h.access.opens());
        QVERIFY(h.waitForLayout());
        QCOMPARE(h.preview->lineMap()->anchors().last().line, 5.0);
        // A new body.
        h.preview->setContent(QStringLiteral("<p data-line=\"0\" data-end=\"1\">fourth</p>"), 5, {}, h.access.opens());
        QVERIFY(h.waitForLayout());
        QCOMPARE(h.js(QStringLiteral("document.getElementById('content').textContent")).toString(), QStringLiteral("fourth"));
    }

    // A body sent as the blocks that changed leaves the page exactly as the whole body would.
    void patchedPageEqualsWholePage_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("firstBlockKept");
        QTest::addColumn<QString>("middle"); // a step in between, when not empty
        QString doc;
        for (int i = 0; i < 30; ++i)
            doc += QStringLiteral("## Section %1\n\nText of section %1\nover two lines.\n\n- item\n  - nested\n\n> quoted\n\n"
                                  "```\ncode %1\n```\n\n| a | b |\n|---|---|\n| %1 | x |\n\n").arg(i);
        QTest::newRow("typing") << doc << QString(doc).replace(QStringLiteral("Text of section 12"), QStringLiteral("Text of section 12x")) << true << QString();
        QTest::newRow("new line") << doc << QString(doc).replace(QStringLiteral("Text of section 3\n"), QStringLiteral("Text of section 3\nmore\n")) << true << QString();
        QTest::newRow("new blocks") << doc << QString(doc).replace(QStringLiteral("> quoted\n\n"), QStringLiteral("> quoted\n\nNew.\n\n# Head\n\n")) << true << QString();
        QTest::newRow("blocks removed") << doc << QString(doc).replace(QStringLiteral("## Section 20\n\n"), QString()) << true << QString();
        QTest::newRow("edit at the start") << doc << QStringLiteral("Intro\n\n") + doc << false << QString();
        QTest::newRow("edit at the end") << doc << doc + QStringLiteral("Tail **bold**\n") << true << QString();
        QString many;
        for (int i = 0; i < 150; ++i)
            many += QStringLiteral("Pasted %1.\n\n").arg(i);
        QTest::newRow("many blocks pasted") << doc << QString(doc).replace(QStringLiteral("## Section 9\n"), many + QStringLiteral("## Section 9\n")) << true << QString();
        const qsizetype from = doc.indexOf(QStringLiteral("## Section 4\n"));
        const qsizetype to = doc.indexOf(QStringLiteral("## Section 22\n"));
        QTest::newRow("many blocks removed") << doc << QString(doc).remove(from, to - from) << true << QString();
        const QString longer = QString(doc).replace(QStringLiteral("Text of section 2\n"), QStringLiteral("Text of section 2\nmore\n"));
        QTest::newRow("new line, then typing further down")
            << doc << QString(longer).replace(QStringLiteral("Text of section 25"), QStringLiteral("Text of section 25!")) << true
            << longer;
        QTest::newRow("new line, then lines removed further down")
            << doc << QString(longer).replace(QStringLiteral("Text of section 27\nover two lines.\n"), QStringLiteral("T\n"))
            << true << longer;
    }
    void patchedPageEqualsWholePage()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(bool, firstBlockKept);
        QFETCH(QString, middle);
        const auto lines = [](const QString& text) { return qint64(MarkdownSourceLines(text).starts().size()); };
        const QString afterHTML = renderMarkdownHTML(after);

        QVERIFY(showWhole(m_wholePage, afterHTML, lines(after)));
        Harness& whole = *m_wholePage;
        // The blocks as markup, whatever groups hold them; line numbers are compared through the
        // line map, which is where they matter.
        const QString blocksScript = QStringLiteral(
            "Array.from(document.querySelectorAll('#content > div > *')).map(function (e) {"
            " return e.outerHTML.replace(/ data-(line|end)=\"\\d+\"/g, ''); }).join('|')");
        const QString expected = whole.js(blocksScript).toString();
        QVERIFY(!expected.isEmpty());
        const QString rowsScript = QStringLiteral(
            "JSON.stringify(Array.from(document.querySelectorAll('[data-line]')).map(function (e) {"
            " var r = e.getBoundingClientRect(); return [r.top + scrollY, r.bottom + scrollY]; }))");
        const QString expectedRows = whole.js(rowsScript).toString();
        const std::vector<MarkdownLineMap::Anchor> expectedAnchors(whole.preview->lineMap()->anchors().begin(),
                                                                   whole.preview->lineMap()->anchors().end());

        QVERIFY(showWhole(m_patchedPage, renderMarkdownHTML(before), lines(before)));
        Harness& patched = *m_patchedPage;
        patched.preview->setIncrementalUpdates(true);
        const QString firstBlock = QStringLiteral("document.querySelector('#content > div > *')");
        patched.js(firstBlock + QStringLiteral(".kept = true"));
        if (!middle.isEmpty()) {
            const QString middleHTML = renderMarkdownHTML(middle);
            QVERIFY(showWhole(m_middlePage, middleHTML, lines(middle)));
            Harness& middlePage = *m_middlePage;
            patched.preview->setContent(middleHTML, lines(middle), {}, patched.access.opens());
            patched.lineCount = lines(middle);
            QTRY_COMPARE_WITH_TIMEOUT(patched.js(blocksScript).toString(), middlePage.js(blocksScript).toString(), 20000);
            QVERIFY(patched.ready());
        }
        patched.preview->setContent(afterHTML, lines(after), {}, patched.access.opens());
        patched.lineCount = lines(after);
        QTRY_COMPARE_WITH_TIMEOUT(patched.js(blocksScript).toString(), expected, 20000);
        QVERIFY(patched.ready());
        QCOMPARE(patched.js(firstBlock + QStringLiteral(".kept === true")).toBool(), firstBlockKept);
        QCOMPARE(patched.js(rowsScript).toString(), expectedRows);
        const std::vector<MarkdownLineMap::Anchor> anchors(patched.preview->lineMap()->anchors().begin(),
                                                           patched.preview->lineMap()->anchors().end());
        QVERIFY(anchors == expectedAnchors);
    }

    // A page that does not hold what a patch was made against takes the whole body instead.
    void refusedPatchSendsTheWholeBody()
    {
        const QString first = renderMarkdownHTML(QStringLiteral("# A\n\none\n\ntwo\n"));
        Harness h(first, 6);
        QVERIFY(h.ready());
        // Something changed the page behind the preview's back.
        h.js(QStringLiteral("document.getElementById('content').appendChild(document.createElement('p'))"));
        const QString second = renderMarkdownHTML(QStringLiteral("# A\n\none!\n\ntwo\n"));
        h.preview->setContent(second, 6, {}, h.access.opens());
        QTRY_VERIFY_WITH_TIMEOUT(h.js(QStringLiteral("document.getElementById('content').textContent")).toString()
                                     == QStringLiteral("A\none!\ntwo\n"), 20000);
        QCOMPARE(h.js(QStringLiteral("document.querySelectorAll('#content > div > *').length")).toInt(), 3);
    }

    // The whole-body path stays available and gives the same page.
    void wholeBodiesWhenPatchingIsOff()
    {
        Harness h(renderMarkdownHTML(QStringLiteral("a\n\nb\n")), 4);
        h.preview->setIncrementalUpdates(false);
        QVERIFY(h.ready());
        h.js(QStringLiteral("document.querySelector('#content > div > *').kept = true"));
        h.preview->setContent(renderMarkdownHTML(QStringLiteral("a\n\nbc\n")), 4, {}, h.access.opens());
        QTRY_VERIFY_WITH_TIMEOUT(h.js(QStringLiteral("document.getElementById('content').textContent")).toString()
                                     == QStringLiteral("a\nbc\n"), 20000);
        QVERIFY(!h.js(QStringLiteral("document.querySelector('#content > div > *').kept === true")).toBool());
    }

    // A long document's line map spans it; the blocks near the view have their own anchors, and
    // far ones get theirs once they come into view.
    void longDocumentsMapTheBlocksInView()
    {
        QString text;
        for (int i = 0; i < 6000; ++i)
            text += QStringLiteral("Paragraph %1.\n\n").arg(i);
        const qint64 lines = qint64(MarkdownSourceLines(text).starts().size());
        Harness h(renderMarkdownHTML(text), lines);
        QVERIFY(h.ready());
        const auto topOf = [&](int paragraph) {
            return h.js(QStringLiteral("document.querySelector('[data-line=\"%1\"]').getBoundingClientRect().top + scrollY")
                            .arg(2 * paragraph)).toDouble();
        };
        QCOMPARE(h.preview->lineMap()->yForLine(20), topOf(10));
        const QList<MarkdownLineMap::Anchor>& anchors = h.preview->lineMap()->anchors();
        QCOMPARE(anchors.last().line, double(lines));
        for (qsizetype i = 1; i < anchors.size(); ++i)
            QVERIFY(anchors[i].y >= anchors[i - 1].y);
        h.js(QStringLiteral("window.scrollTo(0, document.documentElement.scrollHeight)"));
        QTRY_COMPARE_WITH_TIMEOUT(h.preview->lineMap()->yForLine(2 * 5995), topOf(5995), 20000);
    }

    // A long body's groups far from the view are held as text until needed: a search finds text
    // in them (across markup and entities too), and an edit inside one lands where it belongs.
    void heldGroupsAreSearchedAndPatched()
    {
        const auto document = [](const QString& changed) {
            QString text;
            for (int i = 0; i < 4000; ++i)
                text += i == 3990 ? QStringLiteral("Paragraph with the *nee*dle & \"thread\".\n\n")
                                  : i == 3995 ? changed : QStringLiteral("Paragraph %1.\n\n").arg(i);
            return text;
        };
        const QString before = document(QStringLiteral("Paragraph 3995.\n\n"));
        const QString after = document(QStringLiteral("Paragraph 3995,\nnow *two* lines.\n\n"));
        const auto lines = [](const QString& text) { return qint64(MarkdownSourceLines(text).starts().size()); };
        Harness h(renderMarkdownHTML(before), lines(before));
        QVERIFY(h.ready());
        const QString held = QStringLiteral("document.querySelectorAll('#content > .pending').length");
        QVERIFY(h.js(held).toInt() > 0);

        h.preview->setContent(renderMarkdownHTML(after), lines(after), {}, h.access.opens());
        h.lineCount = lines(after);
        QTRY_COMPARE_WITH_TIMEOUT(h.js(QStringLiteral("(document.querySelector('[data-line=\"7990\"]') || {}).textContent")).toString(),
                                  QStringLiteral("Paragraph 3995,\nnow two lines."), 20000);
        QVERIFY(h.ready());
        QVERIFY(h.js(held).toInt() > 0);
        QCOMPARE(h.js(QStringLiteral("document.querySelector('[data-line=\"7993\"]').textContent")).toString(),
                 QStringLiteral("Paragraph 3996."));

        h.find.setQuery(QStringLiteral("NEEDLE & \"thread"));
        h.find.search(true);
        QTRY_COMPARE_WITH_TIMEOUT(h.find.lastSearchMatched(), std::optional<bool>(true), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(h.editorLevels.size(), 1, 10000);
        QVERIFY2(h.sync.current->line >= 7980 && h.sync.current->line < 7981, qPrintable(QString::number(h.sync.current->line)));
        // Only the groups that may hold the text were built for the search.
        QVERIFY(h.js(held).toInt() > 0);

        // Built whole, the page holds exactly the converter's blocks.
        const QString blocks = h.js(QStringLiteral(
            "buildPendingGroups(); Array.from(document.querySelectorAll('#content > div > *')).map(function (e) {"
            " return e.outerHTML; }).join('')")).toString();
        QString expected = renderMarkdownHTML(after);
        expected.remove(u'\n');
        QCOMPARE(QString(blocks).remove(u'\n'), expected);
    }

    void loneSurrogatesStillPreview()
    {
        QString html = QStringLiteral("<p data-line=\"0\" data-end=\"1\">a");
        html += QChar(0xD800);
        html += QStringLiteral("b");
        html += QChar(0xDC00);
        html += QStringLiteral("c</p>");
        Harness h(html, 1);
        QVERIFY(h.ready());
        const QString text = h.js(QStringLiteral("document.getElementById('content').textContent")).toString();
        QCOMPARE(text, QStringLiteral("a\uFFFDb\uFFFDc"));
    }

    // Code spans with nothing between them that could break a line still wrap inside the page
    // (one unbreakable run of them took the page minutes to lay out); the page never scrolls
    // sideways for them, wherever they stand.
    void runsOfCodeSpansWrap_data()
    {
        QTest::addColumn<QString>("markdown");
        const auto times = [](const QString& piece, int count) { return piece.repeated(count); };
        QTest::newRow("adjacent spans") << times(QStringLiteral("`a`"), 3000);
        QTest::newRow("spans between letters") << times(QStringLiteral("`a`a"), 3000);
        QTest::newRow("in a list item") << QStringLiteral("- ") + times(QStringLiteral("`a`"), 3000);
        QTest::newRow("in a heading") << QStringLiteral("## ") + times(QStringLiteral("`a`"), 1000);
        QTest::newRow("in a quote") << QStringLiteral("> ") + times(QStringLiteral("`ab`"), 2000);
    }
    void runsOfCodeSpansWrap()
    {
        QFETCH(QString, markdown);
        QVERIFY(showWhole(m_codePage, renderMarkdownHTML(markdown), qint64(MarkdownSourceLines(markdown).starts().size())));
        const QVariantList widths = m_codePage->js(QStringLiteral(
            "[document.documentElement.scrollWidth, document.documentElement.clientWidth,"
            " document.querySelector('[data-line=\"0\"]').getBoundingClientRect().height]")).toList();
        QCOMPARE(widths.size(), 3);
        QVERIFY2(widths[0].toDouble() <= widths[1].toDouble(), qPrintable(widths[0].toString() + " > " + widths[1].toString()));
        QVERIFY(widths[2].toDouble() > 200);
    }

    void policyStopsDocumentScripts_data()
    {
        QTest::addColumn<QString>("html");
        QTest::newRow("script element") << "<script>window.pwned = 'script';</script>";
        QTest::newRow("image error handler") << "<img src=\"data:,broken\" onerror=\"window.pwned = 'onerror'\">";
        QTest::newRow("svg load handler") << "<svg onload=\"window.pwned = 'svg'\"></svg>";
        QTest::newRow("frame") << "<iframe srcdoc=\"<script>parent.pwned = 'frame'</script>\"></iframe>";
        QTest::newRow("object") << "<object data=\"data:text/html,<script>parent.pwned = 'object'</script>\"></object>";
        QTest::newRow("javascript link") << "<a id=\"go\" href=\"javascript:window.pwned = 'link'\">go</a>";
        QTest::newRow("refresh") << "<meta http-equiv=\"refresh\" content=\"0; url=javascript:window.pwned = 'refresh'\">";
    }
    void policyStopsDocumentScripts()
    {
        QFETCH(QString, html);
        // The page is kept from the row before: nothing of that row's may count for this one.
        if (m_policyPage)
            m_policyPage->js(QStringLiteral("delete window.pwned; 0"));
        QVERIFY(showWhole(m_policyPage, QStringLiteral("<p data-line=\"0\" data-end=\"1\">shown</p>") + html, 1));
        Harness& h = *m_policyPage;
        h.js(QStringLiteral("var a = document.getElementById('go'); if (a) a.click(); 0"));
        // A handler or a navigation the click started would have run by then.
        QVERIFY(waitForPageFrames(*h.preview, 4));
        QCOMPARE(h.js(QStringLiteral("typeof window.pwned")).toString(), QStringLiteral("undefined"));
        // The page's own script did run and the page is still ours.
        QCOMPARE(h.js(QStringLiteral("document.querySelector('p').textContent")).toString(), QStringLiteral("shown"));
        QCOMPARE(h.preview->webView()->page()->url(), h.preview->pageAddress());
    }

    void policyAdmitsWhatThePageNeeds()
    {
        // Without the policy this would be set; with it, the same handler is blocked (above).
        Harness h(QStringLiteral("<p data-line=\"0\" data-end=\"1\">x</p><img id=\"d\" src=\"%1\">")
                      .arg(QStringLiteral("data:image/png;base64,") + QString::fromLatin1(pngBytes().toBase64())),
                  1);
        QVERIFY(h.ready());
        QTRY_COMPARE_WITH_TIMEOUT(h.js(QStringLiteral("document.getElementById('d').naturalWidth")).toInt(), 1, 10000);
        QVERIFY(h.js(QStringLiteral("typeof updateBody")).toString() == QStringLiteral("function"));
    }

    void links_data()
    {
        QTest::addColumn<QString>("href");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("opened"); // what reaches the browser; empty: nothing
        QTest::newRow("https") << "https://example.com/page" << "" << "https://example.com/page";
        QTest::newRow("http in capitals") << "HTTP://example.com/x" << "" << "http://example.com/x";
        QTest::newRow("new window") << "https://example.com/new" << "_blank" << "https://example.com/new";
        QTest::newRow("mailto") << "mailto:someone@example.com" << "" << "";
        QTest::newRow("fragment") << "#part" << "" << "";
        QTest::newRow("relative") << "other.md" << "" << "";
        QTest::newRow("file") << "file:///etc/hostname" << "" << "";
    }
    void links()
    {
        QFETCH(QString, href);
        QFETCH(QString, target);
        QFETCH(QString, opened);
        UrlCatcher catcher;
        for (const char* scheme : {"http", "https", "mailto", "file"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &catcher, "open");
        // A second link that always opens: once it has reached the browser, so has anything the
        // first one would have opened.
        const QString sentinel = QStringLiteral("https://example.com/sentinel");
        QVERIFY(showWhole(m_linksPage,
                          QStringLiteral("<p data-line=\"0\" data-end=\"1\"><a id=\"l\" href=\"%1\"%2 style=\"display:inline-block;width:200px;height:40px\">link</a></p>"
                                         "<p><a id=\"s\" href=\"%3\" style=\"display:inline-block;width:200px;height:40px\">sentinel</a></p>")
                              .arg(href, target.isEmpty() ? QString() : QStringLiteral(" target=\"%1\"").arg(target), sentinel),
                          1));
        Harness& h = *m_linksPage;
        const QVariantList rect = h.js(QStringLiteral(
            "(function () { var r = document.getElementById('l').getBoundingClientRect(); return [r.left + 10, r.top + 10]; })()")).toList();
        QCOMPARE(rect.size(), 2);
        QWidget* render = h.preview->webView()->focusProxy();
        QVERIFY(render);
        const QPoint at(int(rect[0].toDouble()), int(rect[1].toDouble()));
        QTest::mouseClick(render, Qt::LeftButton, {}, at);
        if (!opened.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(catcher.urls.size(), 1, 10000);
        const QVariantList sentinelRect = h.js(QStringLiteral(
            "(function () { var r = document.getElementById('s').getBoundingClientRect(); return [r.left + 10, r.top + 10]; })()")).toList();
        QCOMPARE(sentinelRect.size(), 2);
        QTest::mouseClick(render, Qt::LeftButton, {},
                          QPoint(int(sentinelRect[0].toDouble()), int(sentinelRect[1].toDouble())));
        QTRY_VERIFY_WITH_TIMEOUT(catcher.urls.contains(QUrl(sentinel)), 20000);
        catcher.urls.removeAll(QUrl(sentinel));
        QCOMPARE(catcher.urls.size(), opened.isEmpty() ? 0 : 1);
        if (!opened.isEmpty())
            QCOMPARE(catcher.urls.first().toString(), opened);
        // The preview stays where it is.
        QCOMPARE(h.preview->webView()->page()->url(), h.preview->pageAddress());
        QCOMPARE(h.js(QStringLiteral("document.getElementById('l') !== null")).toBool(), true);
        for (const char* scheme : {"http", "https", "mailto", "file"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }

    // The page's own scripts find no channel to the program, and nothing they do opens the
    // browser: only a click the user makes does.
    void scriptsOpenNoLinks_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("move of the page") << "window.location.href = 'https://example.com/moved'";
        QTest::newRow("assigned address") << "window.location.assign('https://example.com/assigned')";
        QTest::newRow("click in script") << "document.getElementById('l').click()";
        QTest::newRow("dispatched click")
            << "document.getElementById('l').dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true, view: window}))";
        QTest::newRow("link message to the bridge")
            << "document.dispatchEvent(new CustomEvent('quorrix-sync', {detail: {kind: 'link', url: 'https://example.com/posted'}}))";
    }
    void scriptsOpenNoLinks()
    {
        QFETCH(QString, script);
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
        const QString sentinel = QStringLiteral("https://example.com/sentinel");
        QVERIFY(showWhole(m_linksPage,
                          QStringLiteral("<p data-line=\"0\" data-end=\"1\"><a id=\"l\" href=\"https://example.com/clicked\">link</a></p>"
                                         "<p><a id=\"s\" href=\"%1\" style=\"display:inline-block;width:200px;height:40px\">sentinel</a></p>")
                              .arg(sentinel),
                          1));
        Harness& h = *m_linksPage;
        QCOMPARE(h.js(QStringLiteral("typeof qt + ' ' + typeof QWebChannel")).toString(), QStringLiteral("undefined undefined"));
        h.js(script + QStringLiteral("; 0"));
        // Once the user's click has reached the browser, so has anything the script set off.
        const QVariantList rect = h.js(QStringLiteral(
            "(function () { var r = document.getElementById('s').getBoundingClientRect(); return [r.left + 10, r.top + 10]; })()")).toList();
        QCOMPARE(rect.size(), 2);
        QTest::mouseClick(h.preview->webView()->focusProxy(), Qt::LeftButton, {},
                          QPoint(int(rect[0].toDouble()), int(rect[1].toDouble())));
        QTRY_VERIFY_WITH_TIMEOUT(catcher.urls.contains(QUrl(sentinel)), 20000);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl(sentinel)});
        QCOMPARE(h.preview->webView()->page()->url(), h.preview->pageAddress());
    }

    void contextMenuCannotReload()
    {
        Harness h(QStringLiteral("<p data-line=\"0\" data-end=\"1\">menu</p>"), 1);
        QVERIFY(h.ready());
        QMenu menu;
        QWebEnginePage* page = h.preview->webView()->page();
        menu.addSeparator();
        menu.addAction(page->action(QWebEnginePage::Back));
        menu.addAction(page->action(QWebEnginePage::Reload));
        menu.addSeparator();
        menu.addAction(page->action(QWebEnginePage::ViewSource));
        menu.addAction(page->action(QWebEnginePage::Copy));
        menu.addSeparator();
        h.preview->webView()->filterContextMenu(&menu);
        const QList<QAction*> kept = menu.actions();
        QCOMPARE(kept.size(), 3);
        QCOMPARE(kept[0], page->action(QWebEnginePage::Back));
        QVERIFY(kept[1]->isSeparator());
        QCOMPARE(kept[2], page->action(QWebEnginePage::Copy));
    }

    void findInThePage()
    {
        QString html = QStringLiteral("<p data-line=\"0\" data-end=\"1\">alpha at the top</p>\n");
        html += longDocument(60);
        html += QStringLiteral("<p data-line=\"200\" data-end=\"201\">alpha at the end</p>");
        Harness h(html, 202);
        MarkdownFindBar bar(&h.find);
        QVERIFY(h.ready());
        QSignalSpy status(&h.find, &FindController::lastSearchMatchedChanged);

        h.find.setQuery(QStringLiteral("ALPHA"));
        h.find.search(true);
        QTRY_COMPARE_WITH_TIMEOUT(h.find.lastSearchMatched(), std::optional<bool>(true), 10000);
        QCOMPARE(h.sync.mode, ScrollSyncController::Mode::previewFind);
        QCOMPARE(h.sync.leader, ScrollSyncController::Pane::preview);
        QVERIFY(h.sync.current);
        QVERIFY2(h.sync.current->line < 1, qPrintable(QString::number(h.sync.current->line)));
        QCOMPARE(h.editorLevels.size(), 1);

        // Next wraps on to the match at the end of the page, which scrolls there.
        h.find.search(true);
        QTRY_COMPARE_WITH_TIMEOUT(h.editorLevels.size(), 2, 10000);
        QVERIFY2(h.sync.current->line >= 200 && h.sync.current->line < 201, qPrintable(QString::number(h.sync.current->line)));
        QTRY_VERIFY_WITH_TIMEOUT(h.js(QStringLiteral("window.scrollY")).toDouble() > 100, 5000);
        const double windowY = h.sync.current->windowY;
        QVERIFY(windowY >= Harness::stripHeight && windowY <= 600);

        // Previous comes back to the first.
        h.find.search(false);
        QTRY_COMPARE_WITH_TIMEOUT(h.editorLevels.size(), 3, 10000);
        QVERIFY(h.sync.current->line < 1);

        // Nothing matches: "Not found", and the page's hold is let go.
        h.find.setQuery(QStringLiteral("zzzz"));
        bar.field()->setText(h.find.query());
        h.find.search(true);
        QTRY_COMPARE_WITH_TIMEOUT(h.find.lastSearchMatched(), std::optional<bool>(false), 10000);
        QCOMPARE(bar.status()->text(), QStringLiteral("Not found"));
        QCOMPARE(h.editorLevels.size(), 3);

        h.find.done();
        QTRY_COMPARE_WITH_TIMEOUT(h.js(QStringLiteral("window.getSelection().rangeCount")).toInt(), 0, 5000);
        QCOMPARE(bar.status()->text(), QString());
    }

    void findTypingExtendsTheMatch()
    {
        Harness h(QStringLiteral("<p data-line=\"0\" data-end=\"1\">abc</p><p data-line=\"2\" data-end=\"3\">ab abd</p>"), 4);
        QVERIFY(h.ready());
        h.find.setQuery(QStringLiteral("a"));
        h.find.search(true);
        QTRY_COMPARE_WITH_TIMEOUT(h.find.lastSearchMatched(), std::optional<bool>(true), 10000);
        h.find.setQuery(QStringLiteral("abc"));
        h.find.search(true);
        QTRY_COMPARE_WITH_TIMEOUT(h.editorLevels.size(), 2, 10000);
        // Still the first paragraph, not a later match.
        QVERIFY(h.sync.current->line < 1);
        QCOMPARE(h.js(QStringLiteral("window.getSelection().toString()")).toString(), QStringLiteral("abc"));
    }

    void editorLeadsThePage()
    {
        Harness h(longDocument(80), 160);
        QVERIFY(h.ready());
        QSignalSpy scrolls(h.preview, &MarkdownPreviewView::scrollReceived);
        const double lineTop = h.preview->lineMap()->yForLine(40);
        // Line 40 wanted 100 points below the window's top, that is 60 below the web view's.
        h.sync.current = ScrollSyncController::Level{40, 100};
        h.sync.applyToPreview(*h.sync.current, false);
        QTRY_VERIFY_WITH_TIMEOUT(!scrolls.isEmpty(), 10000);
        QCOMPARE(scrolls.last().at(1).toBool(), false); // the page's own scroll
        // The page snaps its offset to whole pixels.
        QTRY_VERIFY_WITH_TIMEOUT(std::abs(h.js(QStringLiteral("window.scrollY")).toDouble() - (lineTop - 60)) <= 1, 5000);
        QVERIFY(h.editorLevels.isEmpty());

        // The user scrolls the page: the editor follows.
        h.sync.mode = ScrollSyncController::Mode::scrolling;
        // The page takes the scroll after its own as the user's only once it has released its own.
        QVERIFY(waitForPageFrames(*h.preview));
        h.js(QStringLiteral("window.scrollTo(0, 900); 0"));
        QTRY_VERIFY_WITH_TIMEOUT(!h.editorLevels.isEmpty(), 10000);
        QCOMPARE(h.sync.leader, ScrollSyncController::Pane::preview);
    }

    void scrollBeforeLayoutMovesNothing()
    {
        Harness h(QString(), 1);
        QVERIFY(h.ready());
        // No rows: a map from the count and height only.
        QCOMPARE(h.preview->lineMap()->anchors().size(), 2);
        h.preview->setContent(longDocument(80), 160, {}, h.access.opens());
        QVERIFY(h.waitForLayout());
        h.js(QStringLiteral("window.scrollTo(0, 500); 0"));
        QSignalSpy scrolls(h.preview, &MarkdownPreviewView::scrollReceived);
        QVERIFY(scrolls.wait(5000));
        QCOMPARE(h.preview->scrollY(), 500.0);
    }

    void localImages()
    {
        QTemporaryDir tree;
        const QString root = QFileInfo(tree.path()).canonicalFilePath();
        writeFile(root + "/docs/a.png", pngBytes());
        writeFile(root + "/outside/b.png", pngBytes());
        QVERIFY(QFile::link(root + "/outside/b.png", root + "/docs/link.png"));
        const QUrl docs = QUrl::fromLocalFile(root + "/docs");
        Harness h(QStringLiteral("<p data-line=\"0\" data-end=\"1\">"
                                 "<img id=\"a\" src=\"a.png\"><img id=\"b\" src=\"../outside/b.png\">"
                                 "<img id=\"c\" src=\"link.png\"><img id=\"m\" src=\"missing.png\"></p>"),
                  1, docs);
        QVERIFY(h.ready());
        auto width = [&h](const char* id) {
            return h.js(QStringLiteral("document.getElementById('%1').naturalWidth").arg(QLatin1String(id))).toInt();
        };
        auto settled = [&h] {
            return h.js(QStringLiteral("Array.from(document.images).every(function (i) { return i.complete; })")).toBool();
        };
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 10000);
        QCOMPARE(width("a"), 1);
        QCOMPARE(width("b"), 0); // `..` out of the document's folder
        QCOMPARE(width("c"), 0); // a link out of it
        QCOMPARE(width("m"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(h.access.needsAccess(), 5000);
        QCOMPARE(QDir::cleanPath(h.access.suggestedFolder().toLocalFile()), root);

        if (!qEnvironmentVariableIsEmpty("QUORRIX_SCREENSHOT_DIR"))
            h.window.grab().save(qEnvironmentVariable("QUORRIX_SCREENSHOT_DIR") + "/preview-refused.png");

        h.access.grant(QUrl::fromLocalFile(root + "/outside"));
        QTRY_COMPARE_WITH_TIMEOUT(width("b"), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(width("c"), 1, 10000);
        QCOMPARE(width("m"), 0);
        QVERIFY(!h.access.needsAccess());
    }

    void otherFolderReloadsThePage()
    {
        QTemporaryDir tree;
        const QString root = QFileInfo(tree.path()).canonicalFilePath();
        writeFile(root + "/one/pic.png", pngBytes());
        writeFile(root + "/two/pic.png", pngBytes());
        const QString html = QStringLiteral("<p data-line=\"0\" data-end=\"1\"><img id=\"p\" src=\"pic.png\"></p>");
        Harness h(QString(), 1);
        QVERIFY(h.ready());
        QCOMPARE(h.preview->pageAddress(), QUrl(QStringLiteral("quorrix-doc://document/")));
        QSignalSpy loads(h.preview, &MarkdownPreviewView::pageLoaded);
        h.access.setDocumentFolder(QUrl::fromLocalFile(root + "/two"));
        h.preview->setContent(html, 1, QUrl::fromLocalFile(root + "/two"), h.access.opens());
        QVERIFY(loads.wait(20000));
        QCOMPARE(h.preview->pageAddress().path(), root + "/two/");
        QTRY_COMPARE_WITH_TIMEOUT(h.js(QStringLiteral("document.getElementById('p').naturalWidth")).toInt(), 1, 10000);
        QCOMPARE(h.js(QStringLiteral("document.getElementById('p').src")).toString(),
                 MarkdownLocalImages::baseURL(QUrl::fromLocalFile(root + "/two")).resolved(QUrl("pic.png")).toString());
    }

    void screenshot()
    {
        if (qEnvironmentVariableIsEmpty("QUORRIX_SCREENSHOT_DIR"))
            QSKIP("set QUORRIX_SCREENSHOT_DIR to write screenshots");
        QTemporaryDir tree;
        const QString root = QFileInfo(tree.path()).canonicalFilePath();
        QImage image(240, 120, QImage::Format_RGB32);
        image.fill(QColor(0x4a, 0xa3, 0xff));
        QVERIFY(image.save(root + "/docs/chart.png") || (QDir().mkpath(root + "/docs") && image.save(root + "/docs/chart.png")));
        Harness h(QStringLiteral("<h1 data-line=\"0\" data-end=\"1\">Preview</h1>"
                                 "<p data-line=\"2\" data-end=\"3\">A local image, a <a href=\"https://example.com\">link</a> and <code>code</code>:</p>"
                                 "<p data-line=\"4\" data-end=\"5\"><img src=\"chart.png\" alt=\"chart\"></p>"
                                 "<blockquote data-line=\"6\" data-end=\"7\"><p data-line=\"6\" data-end=\"7\">A quote.</p></blockquote>"
                                 "<pre data-line=\"8\" data-end=\"11\"><code>let x = 1;\nlet y = 2;</code></pre>"
                                 "<table><thead><tr data-line=\"12\" data-end=\"13\"><th>A</th><th>B</th></tr></thead>"
                                 "<tbody><tr data-line=\"14\" data-end=\"15\"><td>1</td><td>2</td></tr>"
                                 "<tr data-line=\"15\" data-end=\"16\"><td>3</td><td>4</td></tr></tbody></table>"),
                  16, QUrl::fromLocalFile(root + "/docs"));
        QVERIFY(h.ready());
        QTRY_VERIFY_WITH_TIMEOUT(h.js(QStringLiteral("document.images[0].naturalWidth")).toInt() == 240, 10000);
        QVERIFY(waitForPageFrames(*h.preview, 4));
        QVERIFY(h.window.grab().save(qEnvironmentVariable("QUORRIX_SCREENSHOT_DIR") + "/preview-local-image.png"));
    }
};

QUORRIX_TEST_MAIN_WITH_SETUP(MarkdownPreviewTest, MarkdownSchemeHandler::registerScheme())
#include "MarkdownPreviewTest.moc"
