#include "support/QuorrixTestMain.h"

#include "tools/mermaid/MermaidExportController.h"
#include "tools/mermaid/MermaidPageProtocol.h"
#include "tools/mermaid/MermaidTemplates.h"
#include "tools/mermaid/MermaidViewportController.h"
#include "kit/web/FileDropWebView.h"
#include "tools/mermaid/ui/MermaidPreviewPage.h"
#include "tools/mermaid/ui/MermaidPreviewView.h"
#include "tools/mermaid/ui/MermaidWebBridge.h"

#include <QDesktopServices>
#include <QImage>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QWebEnginePage>
#include <QtTest>

using namespace MermaidPageProtocol;

namespace {

struct Harness {
    MermaidViewportController viewport;
    MermaidExportController exporter;
    QList<Outcome> outcomes;
    std::unique_ptr<MermaidPreviewView> view;

    explicit Harness(const QString& source, const QString& theme = QStringLiteral("default"))
    {
        view = std::make_unique<MermaidPreviewView>(source, theme, &viewport, &exporter, FileDrop{});
        QObject::connect(view.get(), &MermaidPreviewView::outcome, [this](const Outcome& o) { outcomes << o; });
        view->resize(800, 600);
        view->show();
    }

    bool waitForOutcomes(int count, int timeoutMs = 60000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (outcomes.size() < count && !deadline.hasExpired())
            QTest::qWait(20);
        return outcomes.size() >= count;
    }

    QVariant eval(const QString& script)
    {
        std::optional<QVariant> result;
        view->page()->runJavaScript(script, [&result](const QVariant& v) { result = v; });
        QDeadlineTimer deadline(30000);
        while (!result && !deadline.hasExpired())
            QTest::qWait(10);
        return result.value_or(QVariant());
    }

    std::optional<QString> svg()
    {
        std::optional<MermaidExportController::Fetched<QString>> fetched;
        exporter.fetchSVG([&fetched](MermaidExportController::Fetched<QString> f) { fetched = f; });
        QDeadlineTimer deadline(30000);
        while (!fetched && !deadline.hasExpired())
            QTest::qWait(10);
        return fetched ? fetched->data : std::nullopt;
    }

    MermaidExportController::Fetched<QByteArray> png()
    {
        std::optional<MermaidExportController::Fetched<QByteArray>> fetched;
        exporter.fetchPNG([&fetched](MermaidExportController::Fetched<QByteArray> f) { fetched = f; });
        QDeadlineTimer deadline(60000);
        while (!fetched && !deadline.hasExpired())
            QTest::qWait(10);
        return fetched.value_or(MermaidExportController::Fetched<QByteArray>{});
    }
};

const QString flowchart = QStringLiteral("flowchart TD\n  A[Alpha] --> B[Beta]\n  B --> C[Gamma]\n");

// Receives the links the preview hands to the desktop's browser.
class LinkCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

} // namespace

class MermaidPreviewTest : public QObject {
    Q_OBJECT
private slots:
    void everyTemplateRenders_data();
    void everyTemplateRenders();
    void changesBeforeTheFirstDiagramAreDrawn_data();
    void changesBeforeTheFirstDiagramAreDrawn();
    void failureNamesItsLine();
    void unknownDiagramTypeFails();
    void badInputGetsASentence_data();
    void badInputGetsASentence();
    void themeChangeRendersAgain();
    void sourceAfterAThemeChangeIsTheLastDrawn();
    void svgOpensAsAnImage();
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
    void scriptsMoveNowhere();
    void clickedWebLinkOpensTheBrowser();
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
    Harness h(source);
    QVERIFY(h.waitForOutcomes(2));
    QCOMPARE(h.outcomes[0], Outcome(EngineReady{true}));
    if (const auto* failed = std::get_if<Failed>(&h.outcomes[1]))
        QFAIL(qPrintable(failed->message));
    QVERIFY(std::get<Rendered>(h.outcomes[1]).bytes > 500);
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

void MermaidPreviewTest::failureNamesItsLine()
{
    Harness h(QStringLiteral("flowchart TD\n  A --> B\n  B --> C[unclosed\n  C --> D\n"));
    QVERIFY(h.waitForOutcomes(2));
    const auto* failed = std::get_if<Failed>(&h.outcomes[1]);
    QVERIFY(failed);
    QVERIFY(!failed->message.isEmpty());
    QVERIFY2(failed->line.has_value(), qPrintable(failed->message));
    QVERIFY2(*failed->line == 3 || *failed->line == 4, qPrintable(QString::number(*failed->line)));
}

void MermaidPreviewTest::unknownDiagramTypeFails()
{
    Harness h(QStringLiteral("notADiagram\n  a --> b\n"));
    QVERIFY(h.waitForOutcomes(2));
    const auto* failed = std::get_if<Failed>(&h.outcomes[1]);
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
    Harness h(source);
    QVERIFY(h.waitForOutcomes(2, 120000));
    if (const auto* failed = std::get_if<Failed>(&h.outcomes[1]))
        QVERIFY(!failed->message.trimmed().isEmpty());
    else
        QVERIFY(std::holds_alternative<Rendered>(h.outcomes[1]));
    // The page still answers.
    h.view->update(flowchart, QStringLiteral("default"));
    QVERIFY(h.waitForOutcomes(3, 120000));
    QVERIFY(std::holds_alternative<Rendered>(h.outcomes[2]));
}

void MermaidPreviewTest::themeChangeRendersAgain()
{
    Harness h(flowchart);
    QVERIFY(h.waitForOutcomes(2));
    const QString light = h.svg().value_or(QString());
    h.view->update(flowchart, QStringLiteral("dark"));
    QVERIFY(h.waitForOutcomes(3));
    QVERIFY(std::holds_alternative<Rendered>(h.outcomes[2]));
    const QString dark = h.svg().value_or(QString());
    QVERIFY(!light.isEmpty() && !dark.isEmpty());
    QVERIFY(light != dark);
    // The same source and theme again sends nothing.
    h.view->update(flowchart, QStringLiteral("dark"));
    QTest::qWait(200);
    QCOMPARE(h.outcomes.size(), 3);
}

void MermaidPreviewTest::sourceAfterAThemeChangeIsTheLastDrawn()
{
    Harness h(flowchart);
    QVERIFY(h.waitForOutcomes(2));
    h.view->update(flowchart, QStringLiteral("forest"));
    h.view->update(QStringLiteral("flowchart LR\n  Late --> Source\n"), QStringLiteral("forest"));
    QVERIFY(h.waitForOutcomes(3));
    QTest::qWait(500);
    QCOMPARE(h.outcomes.size(), 3);
    QVERIFY(h.svg().value_or(QString()).contains(QStringLiteral("flowchart-Late-")));
}

void MermaidPreviewTest::svgOpensAsAnImage()
{
    Harness h(flowchart);
    QVERIFY(h.waitForOutcomes(2));
    const std::optional<QString> svg = h.svg();
    QVERIFY(svg);
    QVERIFY(svg->contains(QStringLiteral("Gamma")));
    QVERIFY(!svg->contains(QStringLiteral("foreignObject")));
    QSvgRenderer renderer(svg->toUtf8());
    QVERIFY(renderer.isValid());
    QVERIFY(renderer.defaultSize().width() > 20 && renderer.defaultSize().height() > 20);
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
    // Another answer's parts in between stay apart.
    for (const QString& part : parts) {
        bridge.replyPart(7, part);
        bridge.replyPart(8, QStringLiteral("other"));
    }
    bridge.reply(7, true, last);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies.value(7), expected);
    // Nothing of the answer is left to be added to a later one with the same id.
    bridge.reply(7, true, QStringLiteral("next"));
    QCOMPARE(replies.value(7), QVariant(QStringLiteral("next")));
    bridge.reply(8, true, QString());
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
    Harness h(flowchart);
    QVERIFY(h.waitForOutcomes(2));
    auto* bridge = h.view->findChild<MermaidWebBridge*>();
    QVERIFY(bridge);
    // An id the view never asked for: only this test listens for it.
    const quint64 id = 1000000;
    std::optional<QVariant> answer;
    connect(bridge, &MermaidWebBridge::replied, this, [&answer, id](quint64 replyId, bool ok, const QVariant& value) {
        if (replyId == id && ok)
            answer = value;
    });
    h.eval(QStringLiteral("window.quorrixEcho = function () { return 'a'.repeat(%1) + '\\uD83D\\uDE00'.repeat(%2) + 'z'; };"
                          " window.__quorrixCall(%3, 'quorrixEcho', []); true")
               .arg(letters)
               .arg(emoji)
               .arg(id));
    QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), 30000);
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
    Harness h(source);
    QVERIFY(h.waitForOutcomes(2));
    QVERIFY(std::holds_alternative<Rendered>(h.outcomes[1]));
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
    Harness h(flowchart);
    QVERIFY(h.waitForOutcomes(2));
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
    Harness h(chain);
    QVERIFY(h.waitForOutcomes(2));
    QVERIFY(std::holds_alternative<Rendered>(h.outcomes[1]));
    const auto fetched = h.png();
    QVERIFY(!fetched.data);
    QVERIFY2(fetched.failure.contains(QStringLiteral("too large")), qPrintable(fetched.failure));
    // The SVG still comes.
    QVERIFY(h.svg().has_value());
}

void MermaidPreviewTest::onlyTheNewestRenderIsReported()
{
    Harness h(flowchart);
    QVERIFY(h.waitForOutcomes(2));
    for (int i = 1; i <= 6; ++i)
        h.view->update(QStringLiteral("flowchart LR\n  N%1[Version %1] --> M\n").arg(i), QStringLiteral("default"));
    QVERIFY(h.waitForOutcomes(3));
    QTest::qWait(500);
    QCOMPARE(h.outcomes.size(), 3);
    QVERIFY(std::holds_alternative<Rendered>(h.outcomes[2]));
    const QString svg = h.svg().value_or(QString());
    QVERIFY(svg.contains(QStringLiteral("flowchart-N6-")));
    QVERIFY(!svg.contains(QStringLiteral("flowchart-N5-")));
}

void MermaidPreviewTest::pendingFetchesAnsweredWhenThePageReloads()
{
    Harness h(flowchart);
    QVERIFY(h.waitForOutcomes(2));
    std::optional<MermaidExportController::Fetched<QByteArray>> fetched;
    h.exporter.fetchPNG([&fetched](MermaidExportController::Fetched<QByteArray> f) { fetched = f; });
    h.view->page()->triggerAction(QWebEnginePage::Reload);
    QTRY_VERIFY_WITH_TIMEOUT(fetched.has_value(), 30000);
    QCOMPARE(h.view->pendingCalls(), 0);
    // The reloaded page boots and draws again.
    QVERIFY(h.waitForOutcomes(4));
    QCOMPARE(h.outcomes[2], Outcome(EngineReady{true}));
    QVERIFY(std::holds_alternative<Rendered>(h.outcomes[3]));
}

void MermaidPreviewTest::stoppedPageComesBackWithoutTheSameSource()
{
    Harness h(flowchart);
    QVERIFY(h.waitForOutcomes(2));
    emit h.view->page()->renderProcessTerminated(QWebEnginePage::CrashedTerminationStatus, 1);
    QCOMPARE(h.outcomes[2], Outcome(EngineReady{false}));
    QVERIFY(h.waitForOutcomes(4));
    QCOMPARE(h.outcomes[3], Outcome(EngineReady{true}));
    QVERIFY(h.waitForOutcomes(5));
    QCOMPARE(h.outcomes[4], Outcome(Failed{MermaidPreviewView::stoppedSentence, std::nullopt}));
    h.view->update(flowchart + QStringLiteral("  C --> D\n"), QStringLiteral("default"));
    QVERIFY(h.waitForOutcomes(6));
    QVERIFY(std::holds_alternative<Rendered>(h.outcomes[5]));
}

void MermaidPreviewTest::zoomReachesTheScale()
{
    Harness h(flowchart);
    QVERIFY(h.waitForOutcomes(2));
    h.viewport.applyZoomIn();
    QTRY_COMPARE_WITH_TIMEOUT(h.viewport.scale(), 1.25, 10000);
    h.viewport.applyZoomOut();
    QTRY_COMPARE_WITH_TIMEOUT(h.viewport.scale(), 1.0, 10000);
    h.viewport.applyFit();
    QTRY_VERIFY_WITH_TIMEOUT(h.viewport.scale() != 1.0, 10000);
    h.viewport.applyActualSize();
    QTRY_COMPARE_WITH_TIMEOUT(h.viewport.scale(), 1.0, 10000);
}

void MermaidPreviewTest::scriptsMoveNowhere()
{
    LinkCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    Harness h(flowchart);
    QVERIFY(h.waitForOutcomes(2));
    h.eval(QStringLiteral("window.location.href = 'https://example.com/away'; true"));
    QTest::qWait(300);
    QVERIFY2(catcher.urls.isEmpty(), "location");
    h.eval(QStringLiteral("window.open('https://example.com/window'); true"));
    QTest::qWait(300);
    QCOMPARE(h.view->page()->url(), MermaidPreviewView::shellURL());
    QVERIFY(catcher.urls.isEmpty());
    QVERIFY(h.svg().has_value());
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void MermaidPreviewTest::clickedWebLinkOpensTheBrowser()
{
    LinkCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    Harness h(QStringLiteral("flowchart TD\n  A[Docs] --> B\n  click A href \"https://example.com/docs\"\n"));
    QVERIFY(h.waitForOutcomes(2));
    if (const auto* failed = std::get_if<Failed>(&h.outcomes[1]))
        QFAIL(qPrintable(failed->message));
    // A real click in the middle of the link's node.
    const QVariant point = h.eval(QStringLiteral(
        "(function () { var a = document.querySelector('#stage a'); if (!a) return null;"
        " var r = a.getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; })()"));
    QVERIFY(point.canConvert<QVariantList>());
    const QVariantList xy = point.toList();
    QVERIFY(xy.size() == 2);
    QWidget* target = h.view->webView()->focusProxy();
    QVERIFY(target);
    const QPoint at(int(xy[0].toDouble()), int(xy[1].toDouble()));
    QTest::mouseClick(target, Qt::LeftButton, {}, at);
    QTRY_COMPARE_WITH_TIMEOUT(catcher.urls.size(), 1, 10000);
    QCOMPARE(catcher.urls[0], QUrl(QStringLiteral("https://example.com/docs")));
    QTest::qWait(300);
    QCOMPARE(h.view->page()->url(), MermaidPreviewView::shellURL());
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
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
    Harness h(source);
    QVERIFY(h.waitForOutcomes(2));
    h.eval(QStringLiteral("window.pwnedCall = function () { window.pwned = 5; }; true"));
    // Click everything the diagram holds.
    h.eval(QStringLiteral(
        "document.querySelectorAll('#stage *').forEach(function (e) {"
        " e.dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true})); }); true"));
    QTest::qWait(500);
    QCOMPARE(h.eval(QStringLiteral("typeof window.pwned")).toString(), QStringLiteral("undefined"));
    QCOMPARE(h.eval(QStringLiteral("document.querySelectorAll('#stage script, #stage foreignObject').length")).toInt(), 0);
    QCOMPARE(h.view->page()->url(), MermaidPreviewView::shellURL());
}

void MermaidPreviewTest::directiveCannotLoosenTheSettings()
{
    const QString source = QStringLiteral(
        "%%{init: {\"securityLevel\": \"loose\", \"htmlLabels\": true, \"flowchart\": {\"htmlLabels\": true}}}%%\n"
        "flowchart TD\n  A[\"<b>bold</b>\"] --> B\n  click A call pwnedCall()\n");
    Harness h(source);
    QVERIFY(h.waitForOutcomes(2));
    QVERIFY(std::holds_alternative<Rendered>(h.outcomes[1]));
    h.eval(QStringLiteral("window.pwnedCall = function () { window.pwned = 1; }; true"));
    h.eval(QStringLiteral(
        "document.querySelectorAll('#stage *').forEach(function (e) {"
        " e.dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true})); }); true"));
    QTest::qWait(300);
    QCOMPARE(h.eval(QStringLiteral("typeof window.pwned")).toString(), QStringLiteral("undefined"));
    QVERIFY(!h.svg().value_or(QStringLiteral("foreignObject")).contains(QStringLiteral("foreignObject")));
}

QUORRIX_TEST_MAIN(MermaidPreviewTest)
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
    Harness h(MermaidTemplates::all().first().source);
    QVERIFY(h.waitForOutcomes(2));
    QVERIFY(std::holds_alternative<Rendered>(h.outcomes[1]));
    QCOMPARE(h.eval(QStringLiteral("document.querySelectorAll('link[rel=modulepreload]').length")).toInt(), names.size());
}

#include "MermaidPreviewTest.moc"
