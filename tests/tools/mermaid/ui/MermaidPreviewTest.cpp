#include "support/QuorrixTestMain.h"

#include "tools/mermaid/MermaidExportController.h"
#include "tools/mermaid/MermaidPageProtocol.h"
#include "tools/mermaid/MermaidTemplates.h"
#include "tools/mermaid/MermaidViewportController.h"
#include "kit/web/FileDropWebView.h"
#include "tools/mermaid/ui/MermaidPreviewPage.h"
#include "tools/mermaid/ui/MermaidPreviewView.h"
#include "tools/mermaid/ui/MermaidWebBridge.h"

#include "kit/TextUnits.h"

#include <QDesktopServices>
#include <QImage>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QWebEnginePage>
#include <QWebEngineScriptCollection>
#include <QXmlStreamReader>
#include <QtTest>

#include <chrono>

using namespace MermaidPageProtocol;

namespace {

// Deadlines are generous: a loaded machine is slow, never wrong.
constexpr int generous = 120000;

struct Harness {
    MermaidViewportController viewport;
    MermaidExportController exporter;
    QList<Outcome> outcomes;
    std::unique_ptr<MermaidPreviewView> view;
    QString drawn;

    // Renders get all the time a loaded machine needs, unless a test is about the limit.
    explicit Harness(const QString& source, const QString& theme = QStringLiteral("default"),
                     std::chrono::milliseconds renderLimit = std::chrono::milliseconds(generous))
        : drawn(source)
    {
        view = std::make_unique<MermaidPreviewView>(source, theme, &viewport, &exporter, FileDrop{});
        view->setRenderLimit(renderLimit);
        QObject::connect(view.get(), &MermaidPreviewView::outcome, [this](const Outcome& o) { outcomes << o; });
        view->resize(800, 600);
        view->show();
    }

    bool waitForOutcomes(int count, int timeoutMs = generous)
    {
        return QTest::qWaitFor([&] { return outcomes.size() >= count; }, timeoutMs);
    }

    // Every call the page was asked has been answered: no outcome is still to come.
    bool waitForQuiet() { return QTest::qWaitFor([&] { return view->pendingCalls() == 0; }, generous); }

    // Draws `source` on this page and gives the render's outcome.
    std::optional<Outcome> draw(const QString& source)
    {
        if (TextUnits(source) == TextUnits(drawn))
            draw(QStringLiteral("flowchart LR\n  Between --> Draws\n"));
        drawn = source;
        const qsizetype before = outcomes.size();
        view->update(source, QStringLiteral("default"));
        auto result = [&]() -> std::optional<Outcome> {
            for (qsizetype i = outcomes.size() - 1; i >= before; --i) {
                if (!std::holds_alternative<EngineReady>(outcomes[i]))
                    return outcomes[i];
            }
            return std::nullopt;
        };
        (void)QTest::qWaitFor([&] { return result().has_value(); }, generous);
        return result();
    }

    QVariant eval(const QString& script)
    {
        std::optional<QVariant> result;
        view->page()->runJavaScript(script, [&result](const QVariant& v) { result = v; });
        (void)QTest::qWaitFor([&] { return result.has_value(); }, generous);
        return result.value_or(QVariant());
    }

    // A round trip to the page: what it was asked before has been taken in.
    void roundTrip() { eval(QStringLiteral("1")); }

    std::optional<QString> svg()
    {
        std::optional<MermaidExportController::Fetched<QString>> fetched;
        exporter.fetchSVG([&fetched](MermaidExportController::Fetched<QString> f) { fetched = f; });
        (void)QTest::qWaitFor([&] { return fetched.has_value(); }, generous);
        return fetched ? fetched->data : std::nullopt;
    }

    MermaidExportController::Fetched<QByteArray> png()
    {
        std::optional<MermaidExportController::Fetched<QByteArray>> fetched;
        exporter.fetchPNG([&fetched](MermaidExportController::Fetched<QByteArray> f) { fetched = f; });
        (void)QTest::qWaitFor([&] { return fetched.has_value(); }, generous);
        return fetched.value_or(MermaidExportController::Fetched<QByteArray>{});
    }
};

// One page serves every test that needs only a page that draws: a page costs its own process
// and the library's start-up.
std::unique_ptr<Harness> sharedHarness;

Harness& shared()
{
    if (!sharedHarness) {
        sharedHarness = std::make_unique<Harness>(QStringLiteral("flowchart TD\n  Shared --> Page\n"));
        sharedHarness->waitForOutcomes(2);
    }
    return *sharedHarness;
}

const QString flowchart = QStringLiteral("flowchart TD\n  A[Alpha] --> B[Beta]\n  B --> C[Gamma]\n");

// Receives the links the preview hands to the desktop's browser.
const QString linkedFlowchart = QStringLiteral("flowchart TD\n  A[Docs] --> B\n  click A href \"https://example.com/docs\"\n");

// Takes the web links the program would open in the browser, while it lives.
class LinkCatcher : public QObject {
    Q_OBJECT
public:
    LinkCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open"); }
    ~LinkCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

} // namespace

class MermaidPreviewTest : public QObject {
    Q_OBJECT
private slots:
    void cleanupTestCase() { sharedHarness.reset(); }
    void everyTemplateRenders_data();
    void everyTemplateRenders();
    void changesBeforeTheFirstDiagramAreDrawn_data();
    void changesBeforeTheFirstDiagramAreDrawn();
    void failureNamesItsLine_data();
    void failureNamesItsLine();
    void unknownDiagramTypeFails();
    void badInputGetsASentence_data();
    void badInputGetsASentence();
    void drawnErrorsAreFailures_data();
    void drawnErrorsAreFailures();
    void themeChangeRendersAgain();
    void sourceAfterAThemeChangeIsTheLastDrawn();
    void svgOpensAsAnImage();
    void exportedSVGStaysWithinItself_data();
    void exportedSVGStaysWithinItself();
    void plainSettingsAreKept_data();
    void plainSettingsAreKept();
    void pageScriptsCannotForgeTheBridge();
    void bridgeJoinsTheParts_data();
    void bridgeJoinsTheParts();
    void longAnswerCrossesInParts_data();
    void longAnswerCrossesInParts();
    void longAnswersArriveWhole();
    void pngIsTwiceTheSizeAndNotBlank();
    void pngTooLargeGetsASentence();
    void onlyTheNewestRenderIsReported();
    void pendingFetchesAnsweredWhenThePageReloads();
    void zoomReachesTheScale();
    void stoppedPageComesBackWithoutTheSameSource();
    void slowRenderIsAbandoned();
    void everyDiagramAfterAStuckOneDraws1();
    void everyDiagramAfterAStuckOneDraws2();
    void everyDiagramAfterAStuckOneDraws3();
    void everyDiagramAfterAStuckOneDraws4();
    void pageWithoutItsScriptsIsReplaced();
    void scriptsMoveNowhere();
    void clickedWebLinkOpensTheBrowser();
    void pageScriptsCannotReachTheBridge();
    void sourceScriptRunsNothing();
    void directiveCannotLoosenTheSettings();
    void firstRenderModulesAreBundled();
};

void MermaidPreviewTest::everyTemplateRenders_data()
{
    QTest::addColumn<QString>("source");
    for (const auto& t : MermaidTemplates::all())
        QTest::newRow(qPrintable(t.id)) << t.source + QLatin1Char('\n');
}

void MermaidPreviewTest::everyTemplateRenders()
{
    QFETCH(QString, source);
    Harness& h = shared();
    QCOMPARE(h.outcomes.value(0), Outcome(EngineReady{true}));
    const std::optional<Outcome> drawn = h.draw(source);
    QVERIFY(drawn);
    if (const auto* failed = std::get_if<Failed>(&*drawn))
        QFAIL(qPrintable(failed->message));
    QVERIFY(std::get<Rendered>(*drawn).bytes > 500);
}

void MermaidPreviewTest::changesBeforeTheFirstDiagramAreDrawn_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("theme");
    QTest::addColumn<QString>("node");
    QTest::addColumn<bool>("darkBackground");
    QTest::addColumn<bool>("drawnOnce");
    QTest::newRow("nothing changed") << flowchart << QStringLiteral("default") << QStringLiteral("flowchart-A-") << false
                                     << true;
    QTest::newRow("source changed") << QStringLiteral("flowchart LR\n  Z[Zeta] --> Y\n") << QStringLiteral("default")
                                    << QStringLiteral("flowchart-Z-") << false << false;
    QTest::newRow("theme changed") << flowchart << QStringLiteral("dark") << QStringLiteral("flowchart-A-") << true
                                   << false;
}

// The page starts drawing the source it was made with before it reports its load; what changed
// meanwhile is what ends up drawn, and an unchanged source is drawn once.
void MermaidPreviewTest::changesBeforeTheFirstDiagramAreDrawn()
{
    QFETCH(QString, source);
    QFETCH(QString, theme);
    QFETCH(QString, node);
    QFETCH(bool, darkBackground);
    QFETCH(bool, drawnOnce);
    Harness h(flowchart);
    h.view->update(source, theme);
    QVERIFY(h.waitForOutcomes(2));
    QCOMPARE(h.outcomes[0], Outcome(EngineReady{true}));
    QVERIFY(std::holds_alternative<Rendered>(h.outcomes[1]));
    const QString svg = h.svg().value_or(QString());
    QVERIFY(svg.contains(node));
    const qsizetype rect = svg.indexOf(QStringLiteral("<rect"));
    QVERIFY(rect > 0);
    const QString fill = QRegularExpression(QStringLiteral("fill=\"([^\"]*)\"")).match(svg, rect).captured(1);
    QCOMPARE(fill != QStringLiteral("white"), darkBackground);
    QCOMPARE(svg.contains(QStringLiteral("id=\"quorrix-diagram-1\"")), drawnOnce);
}

void MermaidPreviewTest::failureNamesItsLine_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("message");
    const QString body = QStringLiteral("flowchart TD\n  A --> B\n  B --> C[unclosed\n  C --> D\n");
    QTest::newRow("flowchart") << body << 3 << QStringLiteral("Parse error on line 3:");
    QTest::newRow("after an init directive")
        << QStringLiteral("%%{init: {\"theme\": \"dark\"}}%%\n") + body << 4 << QStringLiteral("Parse error on line 4:");
    QTest::newRow("after front matter") << QStringLiteral("---\ntitle: T\n---\n") + body << 6 << QStringLiteral("on line 6:");
    QTest::newRow("after front matter, a directive and comments")
        << QStringLiteral("---\ntitle: T\nconfig:\n  look: classic\n---\n\n%%{init: {}}%%\n%% note\n") + body << 11
        << QStringLiteral("on line 11:");
    QTest::newRow("comment inside") << QStringLiteral("flowchart TD\n  %% note\n  A --> B\n  B -> C\n") << 4
                                    << QStringLiteral("on line 4:");
    QTest::newRow("sequence, CR LF, after a directive")
        << QStringLiteral("%%{init: {}}%%\r\n\r\nsequenceDiagram\r\n  Alice->>Bob: Hi\r\n  Bob-->Alice\r\n") << 5
        << QStringLiteral("on line 5:");
    QTest::newRow("pie after front matter") << QStringLiteral("---\ntitle: P\n---\npie\n  \"a\" : x\n") << 5
                                            << QStringLiteral("line 5, column");
    QString edges = QStringLiteral("flowchart LR\n");
    for (int i = 0; i < 4001; ++i)
        edges += QStringLiteral("  N%1 --> N%2\n").arg(i % 3).arg(i % 5);
    QTest::newRow("too many links") << edges << -1 << QStringLiteral("too many links to draw: at most 4,000");
    QTest::newRow("an image from the web")
        << QStringLiteral("flowchart TD\n  A@{ img: \"https://example.com/a.png\", label: \"A\", h: 60 }\n") << -1
        << QStringLiteral("An image in the diagram cannot be shown");
}

// The line a failure names is the source's, however much the library took off before parsing,
// and the message names the same line; the library's failures are told in the program's words.
void MermaidPreviewTest::failureNamesItsLine()
{
    QFETCH(QString, source);
    QFETCH(int, line);
    QFETCH(QString, message);
    const auto drawn = shared().draw(source);
    QVERIFY(drawn);
    const auto* failed = std::get_if<Failed>(&*drawn);
    QVERIFY(failed);
    QVERIFY2(failed->message.contains(message), qPrintable(failed->message));
    QVERIFY2(!failed->message.contains(QStringLiteral("mermaid")), qPrintable(failed->message));
    QCOMPARE(failed->line, line < 0 ? std::nullopt : std::optional<qint64>(line));
    static const QRegularExpression named(QStringLiteral("\\bline (\\d+)"));
    for (const QRegularExpressionMatch& m : named.globalMatch(failed->message))
        QCOMPARE(m.captured(1).toInt(), line);
}

void MermaidPreviewTest::unknownDiagramTypeFails()
{
    const auto drawn = shared().draw(QStringLiteral("notADiagram\n  a --> b\n"));
    QVERIFY(drawn);
    const auto* failed = std::get_if<Failed>(&*drawn);
    QVERIFY(failed);
    QVERIFY(!failed->message.isEmpty());
}

void MermaidPreviewTest::badInputGetsASentence_data()
{
    QTest::addColumn<QString>("source");
    QString huge = QStringLiteral("flowchart TD\n");
    while (huge.size() < (1 << 20))
        huge += QStringLiteral("  A%1[Some label] --> B%1[Another label]\n").arg(huge.size());
    QTest::newRow("1 MB source") << huge;
    QString edges = QStringLiteral("flowchart TD\n");
    for (int i = 0; i < 5000; ++i)
        edges += QStringLiteral("  N%1 --> N%2\n").arg(i).arg(i + 1);
    QTest::newRow("5,000 nodes") << edges;
    QString binary;
    for (int i = 0; i < 3000; ++i)
        binary += QChar(char16_t((i * 7919) % 0xD7FF + 1));
    QTest::newRow("binary") << binary;
    QTest::newRow("replacement characters") << QStringLiteral("\uFFFD\uFFFD graph \uFFFD");
    QTest::newRow("lone surrogates") << QStringLiteral("flowchart TD\n  A[x") + QChar(0xD800) + QStringLiteral("] --> B[")
            + QChar(0xDC00) + QStringLiteral("]\n");
    QTest::newRow("empty") << QString();
}

void MermaidPreviewTest::badInputGetsASentence()
{
    QFETCH(QString, source);
    Harness& h = shared();
    const auto drawn = h.draw(source);
    QVERIFY(drawn);
    if (const auto* failed = std::get_if<Failed>(&*drawn))
        QVERIFY(!failed->message.trimmed().isEmpty());
    else
        QVERIFY(std::holds_alternative<Rendered>(*drawn));
    // The page still answers.
    const auto after = h.draw(flowchart);
    QVERIFY(after && std::holds_alternative<Rendered>(*after));
}

void MermaidPreviewTest::drawnErrorsAreFailures_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("message");
    QTest::newRow("just over the text limit")
        << QStringLiteral("flowchart TD\n  A[") + QString(200000 - 12, u'x') + QStringLiteral("]\n")
        << QStringLiteral("too long to draw");
    QString big = QStringLiteral("flowchart TD\n");
    while (big.size() < 5 * 1024 * 1024)
        big += QStringLiteral("  A%1[Some label] --> B%1[Another label]\n").arg(big.size());
    QTest::newRow("5 MB source") << big << QStringLiteral("too long to draw");
    QTest::newRow("the error diagram") << QStringLiteral("error\n") << QStringLiteral("no diagram");
}

// What the library draws in place of a diagram it will not draw is a failure, not a diagram.
void MermaidPreviewTest::drawnErrorsAreFailures()
{
    QFETCH(QString, source);
    QFETCH(QString, message);
    Harness& h = shared();
    const auto good = h.draw(flowchart);
    QVERIFY(good && std::holds_alternative<Rendered>(*good));
    const auto drawn = h.draw(source);
    QVERIFY(drawn);
    const auto* failed = std::get_if<Failed>(&*drawn);
    QVERIFY2(failed, "drawn as a diagram");
    QVERIFY2(failed->message.contains(message), qPrintable(failed->message));
    // The last good diagram stays.
    QVERIFY(h.svg().value_or(QString()).contains(QStringLiteral("flowchart-A-")));
}

void MermaidPreviewTest::themeChangeRendersAgain()
{
    Harness& h = shared();
    const auto drawn = h.draw(flowchart);
    QVERIFY(drawn && std::holds_alternative<Rendered>(*drawn));
    const QString light = h.svg().value_or(QString());
    const qsizetype before = h.outcomes.size();
    h.view->update(flowchart, QStringLiteral("dark"));
    QVERIFY(h.waitForOutcomes(int(before) + 1));
    QVERIFY(std::holds_alternative<Rendered>(h.outcomes.last()));
    const QString dark = h.svg().value_or(QString());
    QVERIFY(!light.isEmpty() && !dark.isEmpty());
    QVERIFY(light != dark);
    // The same source and theme again asks nothing of the page.
    const quint64 renders = h.view->renderRequests();
    h.view->update(flowchart, QStringLiteral("dark"));
    QCOMPARE(h.view->pendingCalls(), 0);
    QCOMPARE(h.view->renderRequests(), renders);
    QCOMPARE(h.outcomes.size(), before + 1);
}

void MermaidPreviewTest::sourceAfterAThemeChangeIsTheLastDrawn()
{
    Harness& h = shared();
    QVERIFY(h.draw(flowchart));
    const qsizetype before = h.outcomes.size();
    const QString late = QStringLiteral("flowchart LR\n  Late --> Source\n");
    h.view->update(flowchart, QStringLiteral("forest"));
    h.view->update(late, QStringLiteral("forest"));
    h.drawn = late;
    QVERIFY(h.waitForOutcomes(int(before) + 1));
    QVERIFY(h.waitForQuiet());
    QCOMPARE(h.outcomes.size(), before + 1);
    QVERIFY(h.svg().value_or(QString()).contains(QStringLiteral("flowchart-Late-")));
}

void MermaidPreviewTest::svgOpensAsAnImage()
{
    Harness& h = shared();
    const auto drawn = h.draw(flowchart);
    QVERIFY(drawn && std::holds_alternative<Rendered>(*drawn));
    const std::optional<QString> svg = h.svg();
    QVERIFY(svg);
    QVERIFY(svg->contains(QStringLiteral("Gamma")));
    QVERIFY(!svg->contains(QStringLiteral("foreignObject")));
    QSvgRenderer renderer(svg->toUtf8());
    QVERIFY(renderer.isValid());
    QVERIFY(renderer.defaultSize().width() > 20 && renderer.defaultSize().height() > 20);
}

void MermaidPreviewTest::exportedSVGStaysWithinItself_data()
{
    // A source that names outside files, and a text its settings must not bring into the SVG.
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("absent");
    const QString body = QStringLiteral("flowchart TD\n  A[Alpha] --> B[Beta]\n");
    QTest::newRow("theme CSS with a web image")
        << QStringLiteral("%%{init: {\"themeCSS\": \".node rect { fill: url(http://example.com/a.png); stroke: rgb(1, 2, 3); }\"}}%%\n")
            + body
        << QStringLiteral("rgb(1, 2, 3)");
    QTest::newRow("theme CSS importing a style sheet")
        << QStringLiteral("%%{init: {\"themeCSS\": \"@import url('https://example.com/x.css'); .edgePath { stroke: rgb(4, 5, 6); }\"}}%%\n")
            + body
        << QStringLiteral("rgb(4, 5, 6)");
    QTest::newRow("theme CSS in front matter")
        << QStringLiteral("---\nconfig:\n  themeCSS: \".label { background-image: image-set('https://example.com/i.png' 1x); color: rgb(7, 8, 9); }\"\n---\n")
            + body
        << QStringLiteral("rgb(7, 8, 9)");
    QTest::newRow("diagram's own theme CSS")
        << QStringLiteral("%%{init: {\"flowchart\": {\"themeCSS\": \".node { fill: url(//example.com/b.png); }\"}}}%%\n") + body
        << QStringLiteral("example.com");
    QTest::newRow("font family")
        << QStringLiteral("%%{init: {\"fontFamily\": \"Zapfino; src: url(https://example.com/f.woff)\"}}%%\n") + body
        << QStringLiteral("Zapfino");
    QTest::newRow("sequence font family")
        << QStringLiteral("%%{init: {\"sequence\": {\"actorFontFamily\": \"Zapfino, url(https://example.com/g.woff)\"}}}%%\n"
                          "sequenceDiagram\n  Alice->>Bob: Hi\n")
        << QStringLiteral("Zapfino");
    QTest::newRow("theme variable")
        << QStringLiteral("%%{init: {\"theme\": \"base\", \"themeVariables\": {\"primaryColor\": \"url(evil.png)\"}}}%%\n")
            + body
        << QStringLiteral("evil.png");
    // CSS reads its escapes before it fetches: "\\75 rl(" is "url(". (A flowchart takes no
    // parenthesis in a style; these kinds do.)
    QTest::newRow("escaped url in a style line")
        << QStringLiteral("block-beta\n  a b\n  style a fill:\\75 rl(http\\3a //example.com/a.png),stroke:#123456\n")
        << QStringLiteral("example");
    QTest::newRow("escaped url in a class definition")
        << QStringLiteral("stateDiagram-v2\n  A --> B\n  classDef evil fill:u\\72l(https\\3a //example.com/b.png)\n  class A evil\n")
        << QStringLiteral("example");
    QTest::newRow("every letter escaped, in capitals")
        << QStringLiteral("classDiagram\n  class A\n  style A stroke:\\000055\\52\\4c (//example.com/c.png)\n")
        << QStringLiteral("example");
    // Read once, "\\\\75" would be an escape again.
    QTest::newRow("escaped backslash beside an escape")
        << QStringLiteral("block-beta\n  a b\n  style a fill:\\75 rl(//example.com/e.png),stroke:\\\\75 rl(x)\n")
        << QStringLiteral("\\75");
    QTest::newRow("url left open")
        << QStringLiteral("block-beta\n  a b\n  style b fill:\\75 rl(//example.com/f.png\n")
        << QStringLiteral("example");
}

// What could fetch a file when the SVG is opened elsewhere: url() and image-set() naming
// anything but a part of the drawing, @import, and an href or src outside it on anything but a
// link.
QStringList outsideReferences(const QString& svg)
{
    QStringList found;
    static const QRegularExpression url(QStringLiteral("url\\(\\s*(?![\"']?\\s*#)[^)]*\\)"),
                                        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression fetching(QStringLiteral("@import|image-set\\s*\\("),
                                             QRegularExpression::CaseInsensitiveOption);
    for (const auto& m : url.globalMatch(svg))
        found << m.captured(0);
    for (const auto& m : fetching.globalMatch(svg))
        found << m.captured(0);
    QXmlStreamReader xml(svg);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        for (const QXmlStreamAttribute& attribute : xml.attributes()) {
            const QString name = attribute.name().toString();
            const QString value = attribute.value().toString().trimmed();
            if ((name == u"href" || name == u"src") && !value.startsWith(u'#') && xml.name() != u"a")
                found << xml.name().toString() + u' ' + name + u'=' + value;
        }
    }
    if (xml.hasError())
        found << xml.errorString();
    return found;
}

void MermaidPreviewTest::exportedSVGStaysWithinItself()
{
    QFETCH(QString, source);
    QFETCH(QString, absent);
    Harness& h = shared();
    const auto drawn = h.draw(source);
    QVERIFY(drawn);
    if (const auto* failed = std::get_if<Failed>(&*drawn))
        QFAIL(qPrintable(failed->message));
    const QString svg = h.svg().value_or(QString());
    QVERIFY(svg.contains(QStringLiteral("<svg")));
    const QStringList outside = outsideReferences(svg);
    QVERIFY2(outside.isEmpty(), qPrintable(outside.join(QStringLiteral(" | "))));
    QVERIFY2(!svg.contains(absent), qPrintable(absent));
    // The drawing's own references stay: its arrowheads.
    if (source.contains(QStringLiteral("-->")))
        QVERIFY(svg.contains(QStringLiteral("url(#")));
}

void MermaidPreviewTest::plainSettingsAreKept_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("kept");         // in the exported SVG
    QTest::addColumn<QStringList>("ignored");  // named in the answer, in any order
    const QString body = QStringLiteral("flowchart TD\n  A[Alpha] --> B[Beta]\n");
    QTest::newRow("theme variables")
        << QStringLiteral("%%{init: {\"theme\": \"base\", \"themeVariables\": {\"primaryColor\": \"#ff0000\", \"lineColor\": \"rgb(10, 11, 12)\"}}}%%\n")
            + body
        << QStringLiteral("rgb(10, 11, 12)") << QStringList{};
    QTest::newRow("font family and size in front matter")
        << QStringLiteral("---\nconfig:\n  fontFamily: Courier New, monospace\n  themeVariables:\n    fontSize: 21px\n---\n") + body
        << QStringLiteral("Courier New") << QStringList{};
    QTest::newRow("what is not plain is named")
        << QStringLiteral("%%{init: {\"securityLevel\": \"loose\", \"themeCSS\": \".x { color: red; }\", \"themeVariables\": "
                          "{\"primaryColor\": \"url(//example.com/p.png)\", \"lineColor\": \"rgb(13, 14, 15)\"}}}%%\n")
            + body
        << QStringLiteral("rgb(13, 14, 15)")
        << QStringList{QStringLiteral("securityLevel"), QStringLiteral("themeCSS"), QStringLiteral("primaryColor")};
    QTest::newRow("escape in a font name")
        << QStringLiteral("%%{init: {\"fontFamily\": \"Zapf\\\\69no\", \"themeVariables\": {\"lineColor\": \"#0a0b0c\"}}}%%\n") + body
        << QStringLiteral("#0a0b0c") << QStringList{QStringLiteral("fontFamily")};
}

// Colours, numbers and font names from a source's settings reach the drawing; the rest is
// named as ignored.
void MermaidPreviewTest::plainSettingsAreKept()
{
    QFETCH(QString, source);
    QFETCH(QString, kept);
    QFETCH(QStringList, ignored);
    Harness& h = shared();
    const auto drawn = h.draw(source);
    QVERIFY(drawn);
    if (const auto* failed = std::get_if<Failed>(&*drawn))
        QFAIL(qPrintable(failed->message));
    QStringList named = std::get<Rendered>(*drawn).ignoredSettings;
    named.sort();
    ignored.sort();
    QCOMPARE(named, ignored);
    const QString svg = h.svg().value_or(QString());
    QVERIFY2(svg.contains(kept), qPrintable(kept));
    const QStringList outside = outsideReferences(svg);
    QVERIFY2(outside.isEmpty(), qPrintable(outside.join(QStringLiteral(" | "))));
    QVERIFY(!svg.contains(QStringLiteral("example.com")));
}

// Whatever a script of the page's own does, the program's calls reach the page's functions and
// their answers, and the zoom scale it hears is the one the diagram is drawn at.
void MermaidPreviewTest::pageScriptsCannotForgeTheBridge()
{
    Harness h(flowchart);
    QVERIFY(h.waitForOutcomes(2));
    h.viewport.applyActualSize();
    QTRY_COMPARE_WITH_TIMEOUT(h.viewport.scale(), 1.0, generous);
    QList<double> heard;
    connect(&h.viewport, &MermaidViewportController::scaleChanged, this, [&] { heard << h.viewport.scale(); });
    const QVariant replaced = h.eval(QStringLiteral(
        "(function () {"
        " var names = ['boot', 'setTheme', 'renderDiagram', 'getSVG', 'getPNG', 'zoomBy', 'fitToView', 'resetZoom', 'requestAutoFit', 'mermaid'];"
        " var forged = function () { return 'forged'; };"
        " var count = 0;"
        " names.forEach(function (name) { var before = window[name];"
        "  try { window[name] = forged; } catch (e) {}"
        "  try { Object.defineProperty(window, name, {value: forged}); } catch (e) {}"
        "  try { if (window.mermaid) window.mermaid.render = forged; } catch (e) {}"
        "  if (window[name] !== before) count++; });"
        " try { window.mermaid.render = forged; } catch (e) {}"
        " if (window.mermaid.render === forged) count++;"
        // Every answer held back and answered again by the script, with its own token.
        " window.addEventListener('message', function (event) { var m = event.data;"
        "  if (!m || m.tag !== 'quorrix-bridge' || m.kind !== 'reply' || m.forged) return;"
        "  event.stopImmediatePropagation();"
        "  window.postMessage({tag: m.tag, kind: 'reply', id: m.id, token: m.token, ok: true, forged: true,"
        "   value: '<svg xmlns=\"http://www.w3.org/2000/svg\"><image href=\"https://example.com/f.png\"/></svg>'}, '*'); }, true);"
        " window.postMessage({tag: 'quorrix-bridge', kind: 'state', body: 3.5}, '*');"
        " window.messageHandlers.viewState.postMessage(2.5);"
        " return count; })()"));
    QCOMPARE(replaced.toInt(), 0);
    const auto drawn = h.draw(flowchart + QStringLiteral("  Forged --> Nothing\n"));
    QVERIFY(drawn && std::holds_alternative<Rendered>(*drawn));
    const QString svg = h.svg().value_or(QString());
    QVERIFY(svg.contains(QStringLiteral("Nothing")));
    QVERIFY(!svg.contains(QStringLiteral("example.com")));
    h.viewport.applyZoomIn();
    QTRY_COMPARE_WITH_TIMEOUT(h.viewport.scale(), 1.25, generous);
    QCOMPARE(heard, QList<double>{1.25});
}

void MermaidPreviewTest::bridgeJoinsTheParts_data()
{
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<QVariant>("last");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("answer in one") << QStringList{} << QVariant(QStringLiteral("abc")) << QVariant(QStringLiteral("abc"));
    QTest::newRow("answer in three")
        << QStringList{QStringLiteral("ab"), QStringLiteral("cd")} << QVariant(QStringLiteral("ef"))
        << QVariant(QStringLiteral("abcdef"));
    QTest::newRow("surrogate pairs either side of a cut")
        << QStringList{QStringLiteral("x\U0001F600")} << QVariant(QStringLiteral("\U0001F600y"))
        << QVariant(QStringLiteral("x\U0001F600\U0001F600y"));
    QTest::newRow("end that is not text") << QStringList{QStringLiteral("ab")} << QVariant(3) << QVariant(3);
    QTest::newRow("empty end") << QStringList{QStringLiteral("ab")} << QVariant(QString()) << QVariant(QStringLiteral("ab"));
}

void MermaidPreviewTest::bridgeJoinsTheParts()
{
    QFETCH(QStringList, parts);
    QFETCH(QVariant, last);
    QFETCH(QVariant, expected);
    MermaidWebBridge bridge;
    QMap<quint64, QVariant> replies;
    connect(&bridge, &MermaidWebBridge::replied, this, [&replies](quint64 id, bool, const QVariant& value) {
        replies.insert(id, value);
    });
    const QString seven = bridge.expect(7);
    const QString eight = bridge.expect(8);
    QVERIFY(seven != eight);
    // An answer without its call's token is no answer, and takes its parts with it.
    bridge.replyPart(7, QStringLiteral("forged"));
    bridge.reply(7, eight, true, QStringLiteral("forged"));
    bridge.reply(9, seven, true, QStringLiteral("forged"));
    QVERIFY(replies.isEmpty());
    // Another answer's parts in between stay apart.
    for (const QString& part : parts) {
        bridge.replyPart(7, part);
        bridge.replyPart(8, QStringLiteral("other"));
    }
    bridge.reply(7, seven, true, last);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies.value(7), expected);
    // A call is answered once; nothing of the answer is left for a later call with the same id.
    bridge.reply(7, seven, true, QStringLiteral("again"));
    QCOMPARE(replies.value(7), expected);
    const QString next = bridge.expect(7);
    bridge.reply(7, next, true, QStringLiteral("next"));
    QCOMPARE(replies.value(7), QVariant(QStringLiteral("next")));
    bridge.reply(8, eight, true, QString());
    QCOMPARE(replies.value(8), QVariant(QStringLiteral("other").repeated(int(parts.size()))));
}

void MermaidPreviewTest::longAnswerCrossesInParts_data()
{
    // The page sends a long answer in parts of 262,144 units.
    QTest::addColumn<int>("letters");
    QTest::addColumn<int>("emoji");
    QTest::newRow("one part") << 262143 << 0;
    QTest::newRow("just over one part") << 262144 << 0;
    QTest::newRow("surrogate pair across the first cut") << 262143 << 1;
    QTest::newRow("surrogate pair right after the cut") << 262144 << 1;
    QTest::newRow("every cut inside a pair") << 1 << 400000;
}

void MermaidPreviewTest::longAnswerCrossesInParts()
{
    QFETCH(int, letters);
    QFETCH(int, emoji);
    Harness& h = shared();
    auto* bridge = h.view->findChild<MermaidWebBridge*>();
    QVERIFY(bridge);
    // An id the view never asked for: only this test listens for it.
    const quint64 id = 1000000 + letters + emoji;
    std::optional<QVariant> answer;
    auto connection = connect(bridge, &MermaidWebBridge::replied, this,
                              [&answer, id](quint64 replyId, bool ok, const QVariant& value) {
                                  if (replyId == id && ok)
                                      answer = value;
                              });
    // Posted as the page posts its answers, with the token of a call the bridge expects.
    const QString token = bridge->expect(id);
    h.eval(QStringLiteral("window.postMessage({tag: 'quorrix-bridge', kind: 'reply', id: %3, token: '%4', ok: true,"
                          " value: 'a'.repeat(%1) + '\\uD83D\\uDE00'.repeat(%2) + 'z'}, '*'); true")
               .arg(letters)
               .arg(emoji)
               .arg(id)
               .arg(token));
    QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), generous);
    disconnect(connection);
    const QString expected = QString(letters, u'a') + QStringLiteral("\U0001F600").repeated(emoji) + u'z';
    const QString text = answer->toString();
    QCOMPARE(text.size(), expected.size());
    QVERIFY(text == expected);
}

void MermaidPreviewTest::longAnswersArriveWhole()
{
    // Emoji labels throughout; the SVG and the PNG's data URL each cross in more than one part.
    QString source = QStringLiteral("flowchart TD\n");
    const int nodes = 200;
    for (int i = 0; i < nodes; ++i)
        source += QStringLiteral("  N%1[\U0001F600\U0001F680 node %1 \U0001F600] --> N%2\n").arg(i).arg(i + 8);
    Harness& h = shared();
    const auto drawn = h.draw(source);
    QVERIFY(drawn && std::holds_alternative<Rendered>(*drawn));
    const QString svg = h.svg().value_or(QString());
    QVERIFY(svg.size() > 262144);
    QVERIFY(!svg.contains(QChar::ReplacementCharacter));
    // Every label's emoji, whole: three per label, the rocket once.
    const qsizetype rockets = svg.count(QStringLiteral("\U0001F600\U0001F680"));
    QVERIFY(rockets >= nodes);
    QCOMPARE(svg.count(QStringLiteral("\U0001F600")), rockets * 2);
    QCOMPARE(svg.count(QStringLiteral("\U0001F680")), rockets);
    QSvgRenderer renderer(svg.toUtf8());
    QVERIFY(renderer.isValid());
    const auto fetched = h.png();
    QVERIFY2(fetched.data, qPrintable(fetched.failure));
    QVERIFY(fetched.data->size() * 4 / 3 > 262144);
    QImage image;
    QVERIFY(image.loadFromData(*fetched.data, "PNG"));
    QVERIFY(qAbs(image.width() - renderer.defaultSize().width() * 2) <= 2);
    QVERIFY(qAbs(image.height() - renderer.defaultSize().height() * 2) <= 2);
}

void MermaidPreviewTest::pngIsTwiceTheSizeAndNotBlank()
{
    Harness& h = shared();
    const auto drawn = h.draw(flowchart);
    QVERIFY(drawn && std::holds_alternative<Rendered>(*drawn));
    QSvgRenderer renderer(h.svg().value_or(QString()).toUtf8());
    const QSize natural = renderer.defaultSize();
    const auto fetched = h.png();
    QVERIFY2(fetched.data, qPrintable(fetched.failure));
    QImage image;
    QVERIFY(image.loadFromData(*fetched.data, "PNG"));
    QVERIFY(qAbs(image.width() - natural.width() * 2) <= 2);
    QVERIFY(qAbs(image.height() - natural.height() * 2) <= 2);
    QSet<QRgb> colours;
    int white = 0, fill = 0, samples = 0;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) {
            colours.insert(image.pixel(x, y));
            white += image.pixel(x, y) == qRgb(255, 255, 255);
            fill += image.pixel(x, y) == qRgb(0xEC, 0xEC, 0xFF);
            ++samples;
        }
    }
    QVERIFY(colours.size() > 3);
    // The default theme's white background and lavender nodes, down to the last row: the rows
    // decode as drawn.
    QVERIFY(white * 5 > samples);
    QVERIFY(fill * 5 > samples);
    QVERIFY((white + fill) * 10 > samples * 7);
    QCOMPARE(image.pixel(0, image.height() - 1), qRgb(255, 255, 255));
    QCOMPARE(image.pixel(image.width() - 1, image.height() - 1), qRgb(255, 255, 255));
    // The background is filled: no transparent corner.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 255);
}

void MermaidPreviewTest::pngTooLargeGetsASentence()
{
    QString chain = QStringLiteral("flowchart LR\n");
    for (int i = 0; i < 300; ++i)
        chain += QStringLiteral("  N%1[A rather long node label %1] --> N%2\n").arg(i).arg(i + 1);
    Harness& h = shared();
    const auto drawn = h.draw(chain);
    QVERIFY(drawn && std::holds_alternative<Rendered>(*drawn));
    const auto fetched = h.png();
    QVERIFY(!fetched.data);
    QVERIFY2(fetched.failure.contains(QStringLiteral("too large")), qPrintable(fetched.failure));
    // The SVG still comes.
    QVERIFY(h.svg().has_value());
}

void MermaidPreviewTest::onlyTheNewestRenderIsReported()
{
    Harness& h = shared();
    QVERIFY(h.draw(flowchart));
    const qsizetype before = h.outcomes.size();
    for (int i = 1; i <= 6; ++i)
        h.view->update(QStringLiteral("flowchart LR\n  N%1[Version %1] --> M\n").arg(i), QStringLiteral("default"));
    h.drawn = QStringLiteral("flowchart LR\n  N6[Version 6] --> M\n");
    QVERIFY(h.waitForOutcomes(int(before) + 1));
    QVERIFY(h.waitForQuiet());
    QCOMPARE(h.outcomes.size(), before + 1);
    QVERIFY(std::holds_alternative<Rendered>(h.outcomes.last()));
    const QString svg = h.svg().value_or(QString());
    QVERIFY(svg.contains(QStringLiteral("flowchart-N6-")));
    QVERIFY(!svg.contains(QStringLiteral("flowchart-N5-")));
}

void MermaidPreviewTest::pendingFetchesAnsweredWhenThePageReloads()
{
    Harness& h = shared();
    const auto drawn = h.draw(flowchart);
    QVERIFY(drawn && std::holds_alternative<Rendered>(*drawn));
    const qsizetype before = h.outcomes.size();
    std::optional<MermaidExportController::Fetched<QByteArray>> fetched;
    h.exporter.fetchPNG([&fetched](MermaidExportController::Fetched<QByteArray> f) { fetched = f; });
    h.view->page()->triggerAction(QWebEnginePage::Reload);
    QTRY_VERIFY_WITH_TIMEOUT(fetched.has_value(), generous);
    QCOMPARE(h.view->pendingCalls(), 0);
    // The reloaded page boots and draws again.
    QVERIFY(h.waitForOutcomes(int(before) + 2));
    QCOMPARE(h.outcomes[before], Outcome(EngineReady{true}));
    QVERIFY(std::holds_alternative<Rendered>(h.outcomes[before + 1]));
}

void MermaidPreviewTest::stoppedPageComesBackWithoutTheSameSource()
{
    Harness& h = shared();
    const auto drawn = h.draw(flowchart);
    QVERIFY(drawn && std::holds_alternative<Rendered>(*drawn));
    const int before = int(h.outcomes.size());
    emit h.view->page()->renderProcessTerminated(QWebEnginePage::CrashedTerminationStatus, 1);
    QCOMPARE(h.outcomes.value(before), Outcome(EngineReady{false}));
    QVERIFY(h.waitForOutcomes(before + 2));
    QCOMPARE(h.outcomes[before + 1], Outcome(EngineReady{true}));
    QVERIFY(h.waitForOutcomes(before + 3));
    QCOMPARE(h.outcomes[before + 2], Outcome(Failed{MermaidPreviewView::stoppedSentence, std::nullopt}));
    // The source it stopped on is not drawn again by itself, even though it was drawn before.
    h.roundTrip();
    QVERIFY(!h.svg().has_value());
    const auto next = h.draw(flowchart + QStringLiteral("  C --> D\n"));
    QVERIFY(next && std::holds_alternative<Rendered>(*next));
}

// A diagram the page would take minutes over (10,000 unconnected nodes) is given up at the
// render limit: the failure says so, the last good diagram comes back, and the next edit draws.
void MermaidPreviewTest::slowRenderIsAbandoned()
{
    Harness& h = shared();
    const auto drawn = h.draw(flowchart);
    QVERIFY(drawn && std::holds_alternative<Rendered>(*drawn));
    h.view->setRenderLimit(MermaidPreviewView::defaultRenderLimit);
    auto restore = qScopeGuard([&h] { h.view->setRenderLimit(std::chrono::milliseconds(generous)); });
    const qsizetype before = h.outcomes.size();
    QString nodes = QStringLiteral("flowchart TD\n");
    for (int i = 0; i < 10000; ++i)
        nodes += QStringLiteral("  N%1\n").arg(i);
    h.view->update(nodes, QStringLiteral("default"));
    h.drawn = nodes;
    const Outcome tooSlow = Failed{MermaidPreviewView::tooSlowSentence, std::nullopt};
    QTRY_VERIFY_WITH_TIMEOUT(h.outcomes.mid(before).contains(tooSlow), generous);
    // The page comes back with the last good diagram, and reports the same failure.
    QTRY_VERIFY_WITH_TIMEOUT(h.outcomes.last() == tooSlow && h.outcomes.mid(before).contains(Outcome(EngineReady{true})),
                             generous);
    QTRY_VERIFY_WITH_TIMEOUT(h.svg().value_or(QString()).contains(QStringLiteral("flowchart-A-")), generous);
    const auto next = h.draw(QStringLiteral("flowchart LR\n  Next --> Edit\n"));
    QVERIFY(next && std::holds_alternative<Rendered>(*next));
    QVERIFY(h.svg().value_or(QString()).contains(QStringLiteral("flowchart-Next-")));
}

// A stuck diagram followed by a valid one, `cycles` times: the page that replaces the stuck one
// answers as the first did, draws every valid diagram and starts at its natural size.
static void drawAfterStuckOnes(Harness& h, int cycles)
{
    h.view->setRenderLimit(std::chrono::milliseconds(3000));
    auto restore = qScopeGuard([&h] { h.view->setRenderLimit(std::chrono::milliseconds(generous)); });
    QString stuck = QStringLiteral("flowchart TD\n");
    for (int i = 0; i < 10000; ++i)
        stuck += QStringLiteral("  N%1\n").arg(i);
    const Outcome tooSlow = Failed{MermaidPreviewView::tooSlowSentence, std::nullopt};
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const double scale = h.viewport.scale();
        h.viewport.applyZoomIn();
        QTRY_VERIFY_WITH_TIMEOUT(h.viewport.scale() != scale, generous);
        const auto failed = h.draw(stuck + QStringLiteral("  Stuck%1\n").arg(cycle));
        QCOMPARE(failed, std::optional<Outcome>(tooSlow));
        const QString node = QStringLiteral("Cycle%1").arg(cycle);
        const auto drawn = h.draw(QStringLiteral("flowchart LR\n  %1 --> Drawn\n").arg(node));
        const auto* notDrawn = drawn ? std::get_if<Failed>(&*drawn) : nullptr;
        QVERIFY2(drawn && std::holds_alternative<Rendered>(*drawn),
                 qPrintable(QStringLiteral("cycle %1: %2").arg(cycle).arg(notDrawn ? notDrawn->message : QString())));
        QVERIFY(h.svg().value_or(QString()).contains(QStringLiteral("flowchart-%1-").arg(node)));
        // The zoom shown is the new page's.
        QCOMPARE(h.viewport.scale(), 1.0);
    }
}

// Twenty cycles in all, in four tests that run side by side, since every page load is slow.
void MermaidPreviewTest::everyDiagramAfterAStuckOneDraws1() { drawAfterStuckOnes(shared(), 5); }
void MermaidPreviewTest::everyDiagramAfterAStuckOneDraws2() { drawAfterStuckOnes(shared(), 5); }
void MermaidPreviewTest::everyDiagramAfterAStuckOneDraws3() { drawAfterStuckOnes(shared(), 5); }
void MermaidPreviewTest::everyDiagramAfterAStuckOneDraws4() { drawAfterStuckOnes(shared(), 5); }

// A page that comes back without its scripts would answer nothing: it is replaced.
void MermaidPreviewTest::pageWithoutItsScriptsIsReplaced()
{
    Harness& h = shared();
    QVERIFY(h.draw(flowchart));
    MermaidPreviewPage* page = h.view->page();
    page->scripts().clear();
    page->triggerAction(QWebEnginePage::Reload);
    QTRY_VERIFY_WITH_TIMEOUT(h.view->page() != page, generous);
    const auto drawn = h.draw(QStringLiteral("flowchart LR\n  Scripts --> Back\n"));
    QVERIFY(drawn && std::holds_alternative<Rendered>(*drawn));
}

void MermaidPreviewTest::zoomReachesTheScale()
{
    Harness& h = shared();
    QVERIFY(h.draw(flowchart));
    h.viewport.applyActualSize();
    QTRY_COMPARE_WITH_TIMEOUT(h.viewport.scale(), 1.0, generous);
    h.viewport.applyZoomIn();
    QTRY_COMPARE_WITH_TIMEOUT(h.viewport.scale(), 1.25, generous);
    h.viewport.applyZoomOut();
    QTRY_COMPARE_WITH_TIMEOUT(h.viewport.scale(), 1.0, generous);
    h.viewport.applyFit();
    QTRY_VERIFY_WITH_TIMEOUT(h.viewport.scale() != 1.0, generous);
    h.viewport.applyActualSize();
    QTRY_COMPARE_WITH_TIMEOUT(h.viewport.scale(), 1.0, generous);
}

void MermaidPreviewTest::scriptsMoveNowhere()
{
    LinkCatcher catcher;
    Harness& h = shared();
    QVERIFY(h.draw(flowchart));
    const qsizetype before = h.outcomes.size();
    h.eval(QStringLiteral("window.location.href = 'https://example.com/away'; true"));
    h.eval(QStringLiteral("window.open('https://example.com/window'); true"));
    h.roundTrip();
    // The page still draws, on the same document.
    const auto after = h.draw(flowchart + QStringLiteral("  Still --> Here\n"));
    QVERIFY(after && std::holds_alternative<Rendered>(*after));
    // Refused moves are no loads of the page: the engine never stopped being ready.
    QVERIFY(!h.outcomes.mid(before).contains(Outcome(EngineReady{false})));
    QVERIFY(h.view->isEngineReady());
    QCOMPARE(h.view->page()->url(), MermaidPreviewView::shellURL());
    QVERIFY(catcher.urls.isEmpty());
    QVERIFY(h.svg().has_value());
}

void MermaidPreviewTest::clickedWebLinkOpensTheBrowser()
{
    LinkCatcher catcher;
    Harness& h = shared();
    const auto drawn = h.draw(linkedFlowchart);
    QVERIFY(drawn);
    if (const auto* failed = std::get_if<Failed>(&*drawn))
        QFAIL(qPrintable(failed->message));
    // A real click in the middle of the link's node.
    const QVariant point = h.eval(QStringLiteral(
        "(function () { var a = document.querySelector('#stage a'); if (!a) return null;"
        " a.scrollIntoView({block: 'center', inline: 'center'});"
        " var r = a.getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; })()"));
    QVERIFY(point.canConvert<QVariantList>());
    const QVariantList xy = point.toList();
    QVERIFY(xy.size() == 2);
    QWidget* target = h.view->webView()->focusProxy();
    QVERIFY(target);
    const QPoint at(int(xy[0].toDouble()), int(xy[1].toDouble()));
    QTest::mouseClick(target, Qt::LeftButton, {}, at);
    QTRY_COMPARE_WITH_TIMEOUT(catcher.urls.size(), 1, generous);
    QCOMPARE(catcher.urls[0], QUrl(QStringLiteral("https://example.com/docs")));
    h.roundTrip();
    QCOMPARE(h.view->page()->url(), MermaidPreviewView::shellURL());
}

// Whatever script runs in the page finds no channel to the program, and what it posts as the
// bridge's messages opens no link.
void MermaidPreviewTest::pageScriptsCannotReachTheBridge()
{
    LinkCatcher catcher;
    Harness& h = shared();
    const auto drawn = h.draw(linkedFlowchart);
    QVERIFY(drawn && std::holds_alternative<Rendered>(*drawn));
    QCOMPARE(h.eval(QStringLiteral("typeof qt")).toString(), QStringLiteral("undefined"));
    QCOMPARE(h.eval(QStringLiteral("typeof QWebChannel")).toString(), QStringLiteral("undefined"));
    h.eval(QStringLiteral(
        "window.postMessage({tag: 'quorrix-bridge', kind: 'link', url: 'https://example.com/posted'}, '*');"
        " document.querySelector('#stage a').dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true}));"
        " true"));
    // The page's answers still arrive, after anything those would have sent.
    const auto after = h.draw(flowchart);
    QVERIFY(after && std::holds_alternative<Rendered>(*after));
    h.roundTrip();
    QVERIFY2(catcher.urls.isEmpty(), qPrintable(catcher.urls.value(0).toString()));
}

void MermaidPreviewTest::sourceScriptRunsNothing()
{
    const QString source = QStringLiteral(
        "flowchart TD\n"
        "  A[\"<img src=x onerror=window.pwned=1>\"] --> B[\"<script>window.pwned=2</script>\"]\n"
        "  C[\"<a href='javascript:window.pwned=3'>link</a>\"] --> D\n"
        "  click A call pwnedCall()\n"
        "  click B \"javascript:window.pwned=4\"\n"
        "  click D callback \"Tip\"\n");
    Harness& h = shared();
    QVERIFY(h.draw(source));
    h.eval(QStringLiteral("window.pwnedCall = function () { window.pwned = 5; }; true"));
    // Click everything the diagram holds.
    h.eval(QStringLiteral(
        "document.querySelectorAll('#stage *').forEach(function (e) {"
        " e.dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true})); }); true"));
    h.roundTrip();
    QCOMPARE(h.eval(QStringLiteral("typeof window.pwned")).toString(), QStringLiteral("undefined"));
    QCOMPARE(h.eval(QStringLiteral("document.querySelectorAll('#stage script, #stage foreignObject').length")).toInt(), 0);
    QCOMPARE(h.view->page()->url(), MermaidPreviewView::shellURL());
}

void MermaidPreviewTest::directiveCannotLoosenTheSettings()
{
    const QString source = QStringLiteral(
        "%%{init: {\"securityLevel\": \"loose\", \"htmlLabels\": true, \"flowchart\": {\"htmlLabels\": true}}}%%\n"
        "flowchart TD\n  A[\"<b>bold</b>\"] --> B\n  click A call pwnedCall()\n");
    Harness& h = shared();
    const auto drawn = h.draw(source);
    QVERIFY(drawn && std::holds_alternative<Rendered>(*drawn));
    h.eval(QStringLiteral("window.pwnedCall = function () { window.pwned = 1; }; true"));
    h.eval(QStringLiteral(
        "document.querySelectorAll('#stage *').forEach(function (e) {"
        " e.dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true})); }); true"));
    h.roundTrip();
    QCOMPARE(h.eval(QStringLiteral("typeof window.pwned")).toString(), QStringLiteral("undefined"));
    QVERIFY(!h.svg().value_or(QStringLiteral("foreignObject")).contains(QStringLiteral("foreignObject")));
}

// The page asks early for the modules the starter flowchart's first render needs; their names
// are found at build time, so a release that renames or drops one must not leave the page
// asking for nothing or for files that are not there.
void MermaidPreviewTest::firstRenderModulesAreBundled()
{
    QFile list(QStringLiteral(":/mermaid/preload.js"));
    QVERIFY(list.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(list.readAll());
    QStringList names;
    for (const auto& m : QRegularExpression(QStringLiteral("\"([A-Za-z0-9_.-]+\\.mjs)\"")).globalMatch(text))
        names << m.captured(1);
    QVERIFY2(names.size() >= 3, qPrintable(text));
    QVERIFY(std::any_of(names.cbegin(), names.cend(), [](const QString& n) { return n.startsWith(QStringLiteral("flowDiagram-")); }));
    for (const QString& name : names)
        QVERIFY2(QFile::exists(QStringLiteral(":/mermaid/chunks/mermaid.esm.min/") + name), qPrintable(name));

    // And the page that loads them still draws the starter.
    Harness& h = shared();
    const auto drawn = h.draw(MermaidTemplates::all().first().source);
    QVERIFY(drawn && std::holds_alternative<Rendered>(*drawn));
    QCOMPARE(h.eval(QStringLiteral("document.querySelectorAll('link[rel=modulepreload]').length")).toInt(), names.size());
}

QUORRIX_TEST_MAIN(MermaidPreviewTest)
#include "MermaidPreviewTest.moc"
