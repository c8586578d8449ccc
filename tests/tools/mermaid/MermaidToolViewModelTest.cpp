#include "support/QuorrixTestMain.h"
#include "support/WrittenFile.h"
#include "kit/StatusColor.h"
#include "tools/mermaid/MermaidToolViewModel.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace MermaidPageProtocol;
using MermaidExport::Format;

class MermaidToolViewModelTest : public QObject {
    Q_OBJECT
private slots:
    void startsWithTheStarter()
    {
        MermaidToolViewModel m;
        QCOMPARE(m.source().size(), 194);
        QCOMPARE(m.renderSource(), m.source());
        QCOMPARE(m.sourceMetrics().lines, 6);
        QCOMPARE(m.sourceMetrics().diagramType, QStringLiteral("flowchart"));
        QVERIFY(!m.engineReady());
        QVERIFY(!m.diagnostic());
        QCOMPARE(m.renderedBytes(), 0);
        QCOMPARE(m.theme(), MermaidTheme::system);
        QCOMPARE(m.viewport()->scale(), 1.0);
        QVERIFY(!m.viewport()->applyFit && !m.exporter()->fetchSVG && !m.editor()->replaceAll);
    }

    // Edits within the quiet time publish once, with the last text.
    void quietTimePublishesTheLastEditOnce()
    {
        MermaidToolViewModel m;
        m.setQuietTime(0);
        QSignalSpy renders(&m, &MermaidToolViewModel::renderSourceChanged);
        m.setSource(m.source() + "a");
        m.setSource(m.source() + "b");
        m.setSource(m.source() + "c");
        QCOMPARE(m.sourceMetrics().lines, 6);
        QCOMPARE(renders.count(), 0);
        QTRY_COMPARE(renders.count(), 1);
        QVERIFY(m.renderSource().endsWith(QStringLiteral("abc")));
        QCoreApplication::processEvents();
        QCOMPARE(renders.count(), 1);
    }

    void editBackToTheRenderedTextPublishesNothing()
    {
        MermaidToolViewModel m;
        m.setQuietTime(0);
        QSignalSpy renders(&m, &MermaidToolViewModel::renderSourceChanged);
        const QString start = m.source();
        m.setSource(start + "x");
        m.setSource(start);
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(renders.count(), 0);
    }

    void outcomes()
    {
        MermaidToolViewModel m;
        QCOMPARE(m.diagramBadge()->text(), QStringLiteral("LOADING"));
        // No verdict before the engine has drawn anything.
        QVERIFY(!m.sourceBadge());
        m.applyOutcome(EngineReady{true});
        QVERIFY(m.engineReady());
        QVERIFY(!m.diagramBadge());
        QVERIFY(!m.sourceBadge());
        m.applyOutcome(Rendered{2048});
        QCOMPARE(m.renderedBytes(), 2048);
        QCOMPARE(m.sourceBadge()->text(), QStringLiteral("VALID"));
        QCOMPARE(m.sourceBadge()->tint(), StatusColor::green());
        m.applyOutcome(Failed{"Parse error on line 2", 2});
        QCOMPARE(m.diagnostic()->line, std::optional<qint64>(2));
        QCOMPARE(m.renderedBytes(), 2048);
        QCOMPARE(m.sourceBadge()->text(), QStringLiteral("INVALID"));
        QCOMPARE(m.diagramBadge()->text(), QStringLiteral("STALE"));
        QCOMPARE(m.diagramBadge()->tint(), StatusColor::amber());
        // An edit alone changes no verdict.
        m.setSource(m.source() + "\n");
        QCOMPARE(m.sourceBadge()->text(), QStringLiteral("INVALID"));
        m.applyOutcome(Rendered{100});
        QVERIFY(!m.diagnostic());
        QCOMPARE(m.sourceBadge()->text(), QStringLiteral("VALID"));
        m.setSource(QStringLiteral(" \n\t\n"));
        QVERIFY(!m.sourceBadge());
        m.applyOutcome(EngineReady{false});
        QCOMPARE(m.diagramBadge()->text(), QStringLiteral("LOADING"));
    }

    // A render that went without settings names them; the next render without any takes its
    // notice back, but never one about something else.
    void ignoredSettingsReachTheNotice()
    {
        MermaidToolViewModel m;
        m.applyOutcome(Rendered{10, {"themeCSS", "primaryColor"}});
        QVERIFY(m.notice().contains(QStringLiteral("themeCSS, primaryColor")));
        m.applyOutcome(Rendered{10});
        QVERIFY(m.notice().isEmpty());
        QStringList many;
        for (int i = 0; i < 20; ++i)
            many << QStringLiteral("key%1").arg(i);
        const QString notice = MermaidToolViewModel::ignoredSettingsNotice(many);
        QVERIFY(notice.contains(QStringLiteral("key11 and 8 more")));
        QVERIFY(!notice.contains(QStringLiteral("key12")));
        QTemporaryDir dir;
        m.open(QUrl::fromLocalFile(dir.filePath(QStringLiteral("none.mmd"))));
        QTRY_VERIFY(!m.notice().isEmpty());
        const QString openNotice = m.notice();
        m.applyOutcome(Rendered{10});
        QCOMPARE(m.notice(), openNotice);
    }

    void diagnosticEquality()
    {
        using D = MermaidToolViewModel::Diagnostic;
        QVERIFY((D{"a", {}} == D{"a", {}}));
        QVERIFY((D{"a", 1} != D{"a", {}}));
        QVERIFY((D{"a", 1} != D{"a", 2}));
        QVERIFY((D{"a", 1} != D{"b", 1}));
    }

    void openRendersAtOnceAndRequestsAFit()
    {
        QTemporaryDir dir;
        const QUrl url = writeFile(dir, "flow.mermaid", "graph LR\r\nA-->B\r\n");
        MermaidToolViewModel m;
        int fits = 0;
        m.viewport()->requestAutoFit = [&fits] { ++fits; };
        QSignalSpy renders(&m, &MermaidToolViewModel::renderSourceChanged);
        m.open(url);
        QTRY_COMPARE(m.fileURL(), url);
        QCOMPARE(m.source(), QStringLiteral("graph LR\nA-->B\n"));
        QCOMPARE(m.renderSource(), m.source());
        QCOMPARE(renders.count(), 1);
        QCOMPARE(fits, 1);
        QCOMPARE(m.sourceMetrics().lines, 3);
        QCOMPARE(m.suggestedExportName(Format::svg), QStringLiteral("flow.svg"));
        QCOMPARE(m.suggestedExportName(Format::png), QStringLiteral("flow.png"));
    }

    void newestOpenWins()
    {
        QTemporaryDir dir;
        const QUrl first = writeFile(dir, "first.mmd", "pie\n");
        const QUrl second = writeFile(dir, "second.mmd", "gantt\n");
        MermaidToolViewModel m;
        QSignalSpy files(&m, &MermaidToolViewModel::fileURLChanged);
        m.open(first);
        m.open(second);
        QTRY_COMPARE(m.fileURL(), second);
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(files.count(), 1);
        QCOMPARE(m.source(), QStringLiteral("gantt\n"));
    }

    void editDuringAnOpenWins()
    {
        QTemporaryDir dir;
        const QUrl url = writeFile(dir, "late.mmd", "pie\n");
        MermaidToolViewModel m;
        m.open(url);
        m.setSource(QStringLiteral("typed"));
        QCOMPARE(m.notice(), QStringLiteral("\u201Clate.mmd\u201D was not opened: the document was edited while the file "
                                            "was being read."));
        // It stands while the typing goes on, until the next open.
        const QString sentence = m.notice();
        m.setSource(QStringLiteral("typed on"));
        QCOMPARE(m.notice(), sentence);
        for (int i = 0; i < 50; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(m.source(), QStringLiteral("typed on"));
        QVERIFY(m.fileURL().isEmpty());
        QCOMPARE(m.notice(), sentence);
        m.open(url);
        QVERIFY(m.notice().isEmpty());
        QTRY_COMPARE(m.fileURL(), url);
    }

    void unreadableFileKeepsTheDocument()
    {
        MermaidToolViewModel m;
        const QString before = m.source();
        m.open(QUrl::fromLocalFile(QStringLiteral("/nonexistent/quorrix/none.mmd")));
        QTRY_VERIFY(!m.notice().isEmpty());
        QVERIFY(m.notice().contains(QStringLiteral("none.mmd")));
        QCOMPARE(m.source(), before);
        QVERIFY(m.fileURL().isEmpty());
    }

    void binaryFileOpensAsText()
    {
        QTemporaryDir dir;
        QByteArray bytes;
        for (int i = 0; i < 4096; ++i)
            bytes.append(char(i * 7));
        const QUrl url = writeFile(dir, "binary.mmd", bytes);
        MermaidToolViewModel m;
        m.open(url);
        QTRY_COMPARE(m.fileURL(), url);
        QVERIFY(m.source().contains(QChar(0xFFFD)));
        QVERIFY(!m.source().contains(QLatin1Char('\r')));
    }

    void droppedFile_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("expected");
        QTest::newRow("mmd after txt") << QStringList{"Notes.TXT", "flow.MMD"} << "flow.MMD";
        QTest::newRow("mermaid") << QStringList{"a.png", "b.mermaid"} << "b.mermaid";
        QTest::newRow("text alone") << QStringList{"notes.txt"} << "notes.txt";
        QTest::newRow("image alone") << QStringList{"a.png"} << "";
        QTest::newRow("no extension") << QStringList{"README"} << "";
        QTest::newRow("nothing") << QStringList{} << "";
    }
    void droppedFile()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, expected);
        QList<QUrl> urls;
        for (const QString& name : names)
            urls << QUrl::fromLocalFile(QStringLiteral("/tmp/quorrix-drop/") + name);
        const std::optional<QUrl> taken = MermaidToolViewModel::acceptedFile(urls);
        if (expected.isEmpty())
            QVERIFY(!taken);
        else
            QCOMPARE(taken->fileName(), expected);
    }

    void droppedFolderOrWebAddressIsRefused()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.mmd")));
        QVERIFY(!MermaidToolViewModel::acceptedFile({QUrl::fromLocalFile(dir.filePath("folder.mmd"))}));
        QVERIFY(!MermaidToolViewModel::acceptedFile({QUrl(QStringLiteral("https://example.com/a.mmd"))}));
    }

    void exportNameWithoutAFile()
    {
        MermaidToolViewModel m;
        QCOMPARE(m.suggestedExportName(Format::svg), QStringLiteral("diagram.svg"));
        QCOMPARE(m.suggestedExportName(Format::png), QStringLiteral("diagram.png"));
    }

    void copyAndExportWithoutThePage()
    {
        MermaidToolViewModel m;
        std::optional<bool> copied, exported;
        m.copy(Format::svg, [&](bool ok) { copied = ok; });
        m.exportDiagram(Format::png, [&](bool ok) { exported = ok; });
        QCOMPARE(copied, std::optional<bool>(false));
        QCOMPARE(exported, std::optional<bool>(false));
    }

    void copySourceAndPNG()
    {
        MermaidToolViewModel m;
        std::optional<bool> copied;
        m.copy(Format::source, [&](bool ok) { copied = ok; });
        QCOMPARE(copied, std::optional<bool>(true));
        QCOMPARE(QGuiApplication::clipboard()->text(), m.source());
        m.exporter()->fetchPNG = [](MermaidExportController::PNGReply reply) {
            reply({QByteArray("\x89PNG-bytes"), {}});
        };
        m.copy(Format::png, [&](bool ok) { copied = ok; });
        const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
        QCOMPARE(mime->data(QStringLiteral("image/png")), QByteArray("\x89PNG-bytes"));
        QVERIFY(!mime->hasText());
    }

    void exportWritesThroughASaveFile()
    {
        QTemporaryDir dir;
        MermaidToolViewModel m;
        m.exporter()->fetchSVG = [](MermaidExportController::SVGReply reply) { reply({QStringLiteral("<svg/>"), {}}); };
        QString offered;
        m.chooseSaveLocation = [&](const QString& name, Format) -> std::optional<QString> {
            offered = name;
            return dir.filePath(QStringLiteral("out.svg"));
        };
        std::optional<bool> written;
        m.exportDiagram(Format::svg, [&](bool ok) { written = ok; });
        QCOMPARE(written, std::optional<bool>(true));
        QCOMPARE(offered, QStringLiteral("diagram.svg"));
        QFile f(dir.filePath(QStringLiteral("out.svg")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("<svg/>"));
        QVERIFY(m.notice().isEmpty());
    }

    void failedWriteTellsTheUser()
    {
        MermaidToolViewModel m;
        m.exporter()->fetchPNG = [](MermaidExportController::PNGReply reply) { reply({QByteArray("png"), {}}); };
        m.chooseSaveLocation = [](const QString&, Format) -> std::optional<QString> {
            return QStringLiteral("/nonexistent/quorrix/folder/out.png");
        };
        std::optional<bool> written;
        m.exportDiagram(Format::png, [&](bool ok) { written = ok; });
        QCOMPARE(written, std::optional<bool>(false));
        QVERIFY(m.notice().startsWith(QStringLiteral("\u201Cout.png\u201D could not be saved")));
    }

    void cancelledSaveWritesNothing()
    {
        MermaidToolViewModel m;
        m.exporter()->fetchSVG = [](MermaidExportController::SVGReply reply) { reply({QStringLiteral("<svg/>"), {}}); };
        m.chooseSaveLocation = [](const QString&, Format) -> std::optional<QString> { return std::nullopt; };
        std::optional<bool> written;
        m.exportDiagram(Format::svg, [&](bool ok) { written = ok; });
        QCOMPARE(written, std::optional<bool>(false));
        QVERIFY(m.notice().isEmpty());
    }

    void pageSentenceReachesTheUser()
    {
        MermaidToolViewModel m;
        m.exporter()->fetchPNG = [](MermaidExportController::PNGReply reply) {
            reply({std::nullopt, QStringLiteral("The diagram is too large for a PNG image.")});
        };
        bool asked = false;
        m.chooseSaveLocation = [&](const QString&, Format) -> std::optional<QString> {
            asked = true;
            return std::nullopt;
        };
        std::optional<bool> written;
        m.exportDiagram(Format::png, [&](bool ok) { written = ok; });
        QCOMPARE(written, std::optional<bool>(false));
        QVERIFY(!asked);
        QCOMPARE(m.notice(), QStringLiteral("The diagram is too large for a PNG image."));
    }

    void themeChanges()
    {
        MermaidToolViewModel m;
        QSignalSpy spy(&m, &MermaidToolViewModel::themeChanged);
        m.setTheme(MermaidTheme::system);
        QCOMPARE(spy.count(), 0);
        m.setTheme(MermaidTheme::forest);
        QCOMPARE(spy.count(), 1);
    }
};

QUORRIX_TEST_MAIN(MermaidToolViewModelTest)
#include "MermaidToolViewModelTest.moc"
