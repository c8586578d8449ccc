#include "support/BadgeText.h"
#include "support/QuorrixTestMain.h"

#include "kit/ui/CodeTextView.h"
#include "kit/ui/Metric.h"
#include "kit/ui/PaneHeader.h"
#include "kit/ui/ToolPane.h"
#include "tools/mermaid/MermaidTemplates.h"
#include "tools/mermaid/MermaidToolViewModel.h"
#include "tools/mermaid/ui/MermaidEditor.h"
#include "tools/mermaid/ui/MermaidPreviewPage.h"
#include "tools/mermaid/ui/MermaidPreviewView.h"
#include "tools/mermaid/ui/MermaidTool.h"
#include "tools/mermaid/ui/MermaidToolView.h"
#include "kit/ui/ToolViewMakers.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QSettings>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

using MermaidExport::Format;

namespace {

// Deadlines are generous: a loaded machine is slow, never wrong.
constexpr int generous = 120000;

struct Fixture {
    MermaidToolViewModel model;
    std::unique_ptr<MermaidToolView> view;

    Fixture()
    {
        model.setQuietTime(0);
        view = std::make_unique<MermaidToolView>(&model);
        view->resize(1100, 700);
        view->show();
    }

    bool waitForRender(qint64 previousBytes = -1)
    {
        return QTest::qWaitFor(
            [&] {
                return model.engineReady() && model.renderedBytes() > 0 && model.renderedBytes() != previousBytes
                    && !model.diagnostic();
            },
            generous);
    }

    // Every call the page was asked has been answered and a frame drawn since.
    bool waitForQuietPage()
    {
        MermaidPreviewView* preview = view->preview();
        if (!QTest::qWaitFor([&] { return preview->pendingCalls() == 0; }, generous))
            return false;
        std::optional<QVariant> framed;
        preview->page()->runJavaScript(
            QStringLiteral("new Promise(function (done) { requestAnimationFrame(function () { done(1); }); }); 1"),
            [&framed](const QVariant& v) { framed = v; });
        return QTest::qWaitFor([&] { return framed.has_value(); }, generous);
    }
};

// One tool view serves the tests that need only a view that draws, each starting from a good
// diagram in the standard theme: a view costs a page and the library's start-up.
std::unique_ptr<Fixture> sharedFixture;

Fixture& shared()
{
    if (!sharedFixture) {
        sharedFixture = std::make_unique<Fixture>();
        (void)sharedFixture->waitForRender();
    }
    Fixture& f = *sharedFixture;
    static int resets = 0;
    f.view->resize(1100, 700);
    f.model.setTheme(MermaidTheme::standard);
    MermaidPreviewView* preview = f.view->preview();
    const quint64 renders = preview->renderRequests();
    f.model.setSource(QStringLiteral("flowchart TD\n  Start%1 --> Done\n").arg(++resets));
    (void)QTest::qWaitFor(
        [&] {
            return preview->renderRequests() > renders && preview->pendingCalls() == 0 && f.model.engineReady()
                && !f.model.diagnostic() && f.model.renderedBytes() > 0;
        },
        generous);
    return f;
}

QString visibleMetricTexts(ToolPane* pane)
{
    QStringList texts;
    for (Metric* metric : pane->findChildren<Metric*>()) {
        if (metric->isVisibleTo(pane))
            texts << metric->text();
    }
    return texts.join(QLatin1Char('|'));
}

// The banner's message: the diagnostic's first three lines at most, each whole, none sliced by
// the label's height, the first as the message has it.
void checkBannerMessage(const Fixture& f, const QString& message)
{
    QLabel* label = nullptr;
    for (QLabel* candidate : f.view->banner()->findChildren<QLabel*>()) {
        if (candidate->wordWrap())
            label = candidate;
    }
    QVERIFY(label);
    const QString shown = label->text();
    const QStringList lines = shown.split(u'\n');
    QVERIFY2(lines.size() <= 3, qPrintable(shown));
    QVERIFY2(message.startsWith(lines.first().chopped(lines.first().endsWith(QChar(0x2026)) ? 1 : 0)),
             qPrintable(shown));
    if (message.count(u'\n') < 3 && label->fontMetrics().horizontalAdvance(message) < label->width())
        QCOMPARE(shown, message);
    // Once the banner is laid out.
    const auto needed = [label, shown] {
        return label->fontMetrics().boundingRect(QRect(0, 0, label->width(), 10000), Qt::TextWordWrap, shown).height();
    };
    QTRY_VERIFY2(needed() <= label->height(), qPrintable(QStringLiteral("%1 > %2").arg(needed()).arg(label->height())));
}

} // namespace

class MermaidToolViewTest : public QObject {
    Q_OBJECT
private slots:
    void modelFollowsTheEditor_data()
    {
        QTest::addColumn<QString>("setAfter");
        QTest::newRow("empty") << QString();
        QTest::newRow("other") << QStringLiteral("pie\n");
    }
    void modelFollowsTheEditor()
    {
        QFETCH(QString, setAfter);
        Fixture& f = shared();
        CodeTextView* editor = f.view->editor()->textView();
        editor->setFocus();
        editor->setSelection(editor->length(), editor->length());
        QTest::keyClicks(editor, "  X --> Y");
        QTest::keyClick(editor, Qt::Key_Backspace);
        QCOMPARE(f.model.source(), editor->text());
        QCOMPARE(f.model.sourceMetrics(), MermaidSourceMetrics(editor->text()));
        QTRY_COMPARE_WITH_TIMEOUT(f.model.renderSource(), editor->text(), generous);
        // A text set after typing is shown and stays, the empty one and the one shown too.
        f.model.setSource(setAfter);
        QCOMPARE(editor->text(), setAfter);
        QCOMPARE(f.model.source(), setAfter);
        QTRY_COMPARE_WITH_TIMEOUT(f.model.renderSource(), setAfter, generous);
        QCOMPARE(editor->text(), setAfter);
        QTest::keyClicks(editor, "x");
        QCOMPARE(f.model.source(), editor->text());
        QCOMPARE(f.view->editor()->textView()->snapshot().text(), editor->text());
    }

    void cleanupTestCase() { sharedFixture.reset(); }

    void tool()
    {
        MermaidTool tool;
        QCOMPARE(tool.id(), QStringLiteral("mermaid"));
        QCOMPARE(tool.name(), QStringLiteral("Mermaid"));
        QCOMPARE(tool.symbol(), QStringLiteral("flowchart"));
        QCOMPARE(tool.category(), ToolCategory::text);
        QCOMPARE(tool.acceptedExtensions(), (QSet<QString>{"mmd", "mermaid"}));
        QSettings settings;
        QObject host;
        QObject* model = tool.makeViewModel(settings, &host);
        QVERIFY(qobject_cast<MermaidToolViewModel*>(model));
        // The program adds this maker when it loads the web views' library.
        ToolViewMakers::add(tool.id(), [](QObject* viewModel) -> ToolView* {
            return new MermaidToolView(qobject_cast<MermaidToolViewModel*>(viewModel));
        });
        std::unique_ptr<ToolView> view(tool.makeView(model));
        QVERIFY(qobject_cast<MermaidToolView*>(view.get()));
        QCOMPARE(view->title(), QStringLiteral("Untitled"));
        QCOMPARE(view->subtitle(), QStringLiteral("Mermaid"));
    }

    void firstRenderAndFooters()
    {
        Fixture f;
        QCOMPARE(badgeText(f.view->diagramPane()), QStringLiteral("LOADING"));
        QVERIFY(f.waitForRender());
        QCOMPARE(badgeText(f.view->sourcePane()), QStringLiteral("VALID"));
        QVERIFY(!f.view->diagramPane()->badge());
        QCOMPARE(visibleMetricTexts(f.view->sourcePane()), QStringLiteral("flowchart|6 lines"));
        QVERIFY(visibleMetricTexts(f.view->diagramPane()).startsWith(QStringLiteral("100%|")));
        QVERIFY(visibleMetricTexts(f.view->diagramPane()).endsWith(QStringLiteral(" svg")));
        QVERIFY(!f.view->banner()->isVisible());
    }

    void templateIsOneUndoableEdit()
    {
        Fixture f;
        QVERIFY(f.waitForRender());
        const QString before = f.model.source();
        const qint64 bytes = f.model.renderedBytes();
        f.view->applyTemplate(1);
        const QString expected = MermaidTemplates::all()[1].source + QLatin1Char('\n');
        QCOMPARE(f.view->editor()->textView()->text(), expected);
        QCOMPARE(f.model.source(), expected);
        QCOMPARE(visibleMetricTexts(f.view->sourcePane()), QStringLiteral("sequenceDiagram|12 lines"));
        QVERIFY(f.waitForRender(bytes));
        f.view->editor()->textView()->undo();
        QCOMPARE(f.model.source(), before);
    }

    void syntaxErrorKeepsTheLastDiagram_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("heading");
        QTest::newRow("a line") << QStringLiteral("%%{init: {}}%%\nflowchart TD\n  A --> B\n  B --> C[oops\n")
                                << QStringLiteral("Line 4");
        QTest::newRow("no line") << QStringLiteral("error\n") << MermaidToolView::notDrawnHeading;
    }

    void syntaxErrorKeepsTheLastDiagram()
    {
        QFETCH(QString, source);
        QFETCH(QString, heading);
        Fixture& f = shared();
        QVERIFY(f.model.renderedBytes() > 0);
        const qint64 bytes = f.model.renderedBytes();
        f.model.setSource(source);
        QTRY_VERIFY_WITH_TIMEOUT(f.model.diagnostic().has_value(), generous);
        QCOMPARE(f.model.renderedBytes(), bytes);
        QCOMPARE(badgeText(f.view->sourcePane()), QStringLiteral("INVALID"));
        QCOMPARE(badgeText(f.view->diagramPane()), QStringLiteral("STALE"));
        QVERIFY(f.view->banner()->isVisible());
        QStringList texts;
        for (QLabel* label : f.view->banner()->findChildren<QLabel*>())
            texts << label->text();
        QVERIFY2(texts.contains(heading), qPrintable(texts.join(u'|')));
        checkBannerMessage(f, f.model.diagnostic()->message);
        f.model.setSource(QStringLiteral("flowchart TD\n  A --> B\n"));
        QTRY_VERIFY_WITH_TIMEOUT(!f.model.diagnostic().has_value(), generous);
        QVERIFY(!f.view->banner()->isVisible());
    }

    void bannerShowsWholeLines_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("width");
        QTest::newRow("parse error of four lines") << QStringLiteral("flowchart TD\n  Done --> -->> (((\n") << 1100;
        QTest::newRow("parse error in a narrow window") << QStringLiteral("flowchart TD\n  Done --> -->> (((\n") << 760;
        QTest::newRow("unknown diagram type") << QStringLiteral("notADiagram\n  A --> B\n") << 1100;
        // The message quotes the source: 150 KB on one line.
        QTest::newRow("unknown diagram type, long source")
            << QStringLiteral("notADiagram\n") + QStringLiteral("word ").repeated(30000) << 1100;
    }

    void bannerShowsWholeLines()
    {
        QFETCH(QString, source);
        QFETCH(int, width);
        Fixture& f = shared();
        QVERIFY(f.model.renderedBytes() > 0);
        f.view->resize(width, 700);
        f.model.setSource(source);
        QTRY_VERIFY_WITH_TIMEOUT(f.model.diagnostic().has_value(), generous);
        QTRY_VERIFY(f.view->banner()->isVisible());
        checkBannerMessage(f, f.model.diagnostic()->message);
    }

    void oversizedSourceIsAnError_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("message");
        QString big = QStringLiteral("flowchart TD\n");
        while (big.size() < 5 * 1024 * 1024)
            big += QStringLiteral("  A%1[Some label] --> B%1[Another label]\n").arg(big.size());
        QTest::newRow("5 MB source") << big << QStringLiteral("too long to draw");
        QString nodes = QStringLiteral("flowchart TD\n");
        for (int i = 0; i < 10000; ++i)
            nodes += QStringLiteral("  N%1\n").arg(i);
        QTest::newRow("10,000 nodes") << nodes << MermaidPreviewView::tooSlowSentence;
    }

    // A source the library will not draw, or cannot draw in time, is an error in the banner and
    // both badges, the last diagram on show, and the next edit draws.
    void oversizedSourceIsAnError()
    {
        QFETCH(QString, source);
        QFETCH(QString, message);
        Fixture& f = shared();
        QVERIFY(f.model.renderedBytes() > 0);
        const qint64 bytes = f.model.renderedBytes();
        f.model.setSource(source);
        QTRY_VERIFY_WITH_TIMEOUT(f.model.diagnostic().has_value(), generous);
        QVERIFY2(f.model.diagnostic()->message.contains(message), qPrintable(f.model.diagnostic()->message));
        QTRY_VERIFY_WITH_TIMEOUT(f.view->banner()->isVisible(), generous);
        QCOMPARE(badgeText(f.view->sourcePane()), QStringLiteral("INVALID"));
        QTRY_COMPARE_WITH_TIMEOUT(badgeText(f.view->diagramPane()), QStringLiteral("STALE"), generous);
        QCOMPARE(f.model.renderedBytes(), bytes);
        f.model.setSource(QStringLiteral("flowchart LR\n  Next --> Edit\n"));
        QVERIFY(f.waitForRender(bytes));
        QVERIFY(!f.view->banner()->isVisible());
        QCOMPARE(badgeText(f.view->sourcePane()), QStringLiteral("VALID"));
    }

    void themeChoiceRendersAgain()
    {
        Fixture& f = shared();
        QVERIFY(f.model.renderedBytes() > 0);
        QCOMPARE(f.view->pageTheme(), QStringLiteral("default"));
        const quint64 renders = f.view->preview()->renderRequests();
        f.model.setTheme(MermaidTheme::dark);
        QCOMPARE(f.view->pageTheme(), QStringLiteral("dark"));
        QTRY_VERIFY_WITH_TIMEOUT(f.view->preview()->renderRequests() == renders + 1, generous);
        QTRY_VERIFY_WITH_TIMEOUT(f.view->preview()->pendingCalls() == 0, generous);
        QVERIFY(!f.model.diagnostic());
    }

    void sourceToggle()
    {
        Fixture f;
        QCOMPARE(f.view->minimumWidth(), 600);
        f.view->setEditorShown(false);
        QCOMPARE(f.view->minimumWidth(), 400);
        QVERIFY(!f.view->sourcePane()->isVisible());
        f.view->setEditorShown(true);
        QCOMPARE(f.view->minimumWidth(), 600);
    }

    void exportAndCopyThroughThePage()
    {
        QTemporaryDir dir;
        Fixture& f = shared();
        QVERIFY(f.model.renderedBytes() > 0);
        f.model.chooseSaveLocation = [&dir](const QString& name, Format) -> std::optional<QString> {
            return dir.filePath(name);
        };
        std::optional<bool> svgWritten, pngWritten;
        f.model.exportDiagram(Format::svg, [&](bool ok) { svgWritten = ok; });
        QTRY_VERIFY_WITH_TIMEOUT(svgWritten.has_value(), generous);
        QVERIFY(*svgWritten);
        QSvgRenderer svg(dir.filePath(QStringLiteral("diagram.svg")));
        QVERIFY(svg.isValid());
        f.model.exportDiagram(Format::png, [&](bool ok) { pngWritten = ok; });
        QTRY_VERIFY_WITH_TIMEOUT(pngWritten.has_value(), generous);
        QVERIFY(*pngWritten);
        QImage png(dir.filePath(QStringLiteral("diagram.png")));
        QVERIFY(!png.isNull());
        QVERIFY(qAbs(png.width() - svg.defaultSize().width() * 2) <= 2);

        // A write that fails says so.
        f.model.chooseSaveLocation = [](const QString& name, Format) -> std::optional<QString> {
            return QStringLiteral("/nonexistent/quorrix/") + name;
        };
        std::optional<bool> failed;
        f.model.exportDiagram(Format::svg, [&](bool ok) { failed = ok; });
        QTRY_VERIFY_WITH_TIMEOUT(failed.has_value(), generous);
        QVERIFY(!*failed);
        QVERIFY(f.model.notice().contains(QStringLiteral("diagram.svg")));
        bool shown = false;
        for (QLabel* label : f.view->findChildren<QLabel*>())
            shown = shown || (label->isVisible() && label->text() == f.model.notice());
        QVERIFY(shown);

        f.view->copyDiagram(Format::svg);
        QTRY_COMPARE_WITH_TIMEOUT(f.view->copyButton()->text(), QStringLiteral("Copied"), generous);
        QVERIFY(QGuiApplication::clipboard()->text().contains(QStringLiteral("<svg")));
        QTRY_COMPARE_WITH_TIMEOUT(f.view->copyButton()->text(), QStringLiteral("Copy"), generous);
        f.model.chooseSaveLocation = nullptr;
    }

    void droppedFileOpens()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("flow.MMD"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("flowchart LR\n  X --> Y\n");
        file.close();
        Fixture f;
        QSignalSpy titles(f.view.get(), &ToolView::titleChanged);
        QVERIFY(!f.view->openDropped({QUrl::fromLocalFile(dir.filePath(QStringLiteral("a.png")))}));
        QVERIFY(f.view->openDropped({QUrl::fromLocalFile(dir.filePath(QStringLiteral("Notes.TXT"))), QUrl::fromLocalFile(path)}));
        QTRY_COMPARE_WITH_TIMEOUT(f.view->title(), QStringLiteral("flow.MMD"), generous);
        QCOMPARE(titles.count(), 1);
        QCOMPARE(f.view->editor()->textView()->text(), QStringLiteral("flowchart LR\n  X --> Y\n"));
        QVERIFY(!f.view->editor()->textView()->canUndo());
    }

    void screenshots()
    {
        const QByteArray dir = qgetenv("QUORRIX_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("set QUORRIX_SCREENSHOT_DIR to write screenshots");
        Fixture f;
        QVERIFY(f.waitForRender());
        const auto& all = MermaidTemplates::all();
        for (int i = 0; i < all.size(); ++i) {
            const qint64 bytes = f.model.renderedBytes();
            const bool shown = f.model.source() == all[i].source + QLatin1Char('\n');
            f.view->applyTemplate(i);
            if (!shown)
                QVERIFY(f.waitForRender(bytes));
            QVERIFY(f.waitForQuietPage());
            QVERIFY(f.view->grab().save(QString::fromUtf8(dir) + QStringLiteral("/mermaid-%1.png").arg(all[i].id)));
        }
        const quint64 renders = f.view->preview()->renderRequests();
        f.model.setTheme(MermaidTheme::dark);
        QTRY_VERIFY_WITH_TIMEOUT(f.view->preview()->renderRequests() > renders, generous);
        QVERIFY(f.waitForQuietPage());
        QVERIFY(f.view->grab().save(QString::fromUtf8(dir) + QStringLiteral("/mermaid-dark.png")));
        f.model.setTheme(MermaidTheme::standard);
        f.model.setSource(f.model.source() + QStringLiteral("\n  broken -->"));
        QTRY_VERIFY_WITH_TIMEOUT(f.model.diagnostic().has_value(), generous);
        QTRY_VERIFY_WITH_TIMEOUT(f.view->banner()->isVisible(), generous);
        QVERIFY(f.waitForQuietPage());
        QVERIFY(f.view->grab().save(QString::fromUtf8(dir) + QStringLiteral("/mermaid-error.png")));
        QString big = QStringLiteral("flowchart TD\n");
        for (int i = 0; i < 200; ++i) {
            big += QStringLiteral("  N%1[Node %1] --> N%2[Node %2]\n").arg(i).arg(i + 8);
            if (i % 3 == 0 && i % 8 != 7)
                big += QStringLiteral("  N%1 --> N%2\n").arg(i).arg(i + 1);
        }
        f.model.setSource(big);
        QVERIFY(f.waitForRender());
        const double scale = f.model.viewport()->scale();
        f.model.viewport()->applyFit();
        QTRY_VERIFY_WITH_TIMEOUT(f.model.viewport()->scale() != scale, generous);
        QVERIFY(f.waitForQuietPage());
        QVERIFY(f.view->grab().save(QString::fromUtf8(dir) + QStringLiteral("/mermaid-large-fitted.png")));
    }
};

QUORRIX_TEST_MAIN(MermaidToolViewTest)
#include "MermaidToolViewTest.moc"
