#include "support/BackgroundWork.h"
#include "support/QuorrixTestMain.h"
#include "support/WrittenFile.h"
#include "kit/MemoryBudget.h"
#include "kit/TextHelpers.h"
#include "tools/markdown/MarkdownFolderAccess.h"
#include "tools/markdown/MarkdownToolViewModel.h"
#include "tools/markdown/MarkdownWelcome.h"
#include "tools/markdown/ScrollSyncController.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest/QtTest>

class MarkdownToolViewModelTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QUrl write(const QString& name, const QByteArray& bytes) { return writeFile(m_dir, name, bytes); }

    static bool settle(MarkdownToolViewModel& model)
    {
        return QTest::qWaitFor([&] { return !model.isBusy(); }, 30000);
    }

private slots:
    void startsWithTheWelcomeDocument()
    {
        MarkdownToolViewModel model;
        QCOMPARE(model.markdownText(), MarkdownWelcome::document());
        QCOMPARE(model.lineCount(), 21);
        QCOMPARE(model.renderedLineCount(), 21);
        QVERIFY(model.renderedHTML().contains("data-line"));
        QVERIFY(model.renderedHTML().contains("<table"));
        QCOMPARE(model.renderedHTMLByteCount(), model.renderedHTML().toUtf8().size());
        QVERIFY(!model.isBusy());
        QVERIFY(model.fileUrl().isEmpty());
        QVERIFY(model.showEditor());
        QVERIFY(model.sync() && model.find() && model.folderAccess());
    }

    void counts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("words");
        QTest::newRow("empty") << "" << 0 << 0;
        QTest::newRow("one letter") << "a" << 1 << 1;
        QTest::newRow("letter and line feed") << "a\n" << 2 << 1;
        QTest::newRow("two line feeds") << "\n\n" << 3 << 0;
        QTest::newRow("CR LF is one break") << "one two\r\nthree\r\nfour" << 3 << 4;
        QTest::newRow("CR alone is a break") << "one\rtwo\rthree" << 3 << 3;
        QTest::newRow("CR LF CR") << "a\r\n\rb" << 3 << 2;
        QTest::newRow("runs of separators") << "  a \t\t b\n\n\nc  " << 4 << 3;
        QTest::newRow("no-break space joins") << "a\u00a0b c" << 1 << 2;
        QTest::newRow("only blanks") << "   \t " << 1 << 0;
    }
    void counts()
    {
        QFETCH(QString, text);
        QFETCH(int, lines);
        QFETCH(int, words);
        const auto counts = MarkdownToolViewModel::countLinesAndWords(text);
        QCOMPARE(counts.lines, lines);
        QCOMPARE(counts.words, words);
    }

    // Large texts are counted in stretches side by side; every cut must count as one pass does.
    void largeTextCounts_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::addColumn<int>("copies");
        QTest::newRow("words and line feeds") << QStringLiteral("one two  three\n") << 200000;
        QTest::newRow("CR LF breaks") << QStringLiteral("a b\r\n") << 500000;
        QTest::newRow("CR at a piece's end") << QStringLiteral("word\r") << 400000;
        QTest::newRow("blanks of every kind") << QStringLiteral(" \t\r\n x") << 300000;
        QTest::newRow("no blanks at all") << QStringLiteral("abcdefg") << 300000;
    }
    void largeTextCounts()
    {
        QFETCH(QString, piece);
        QFETCH(int, copies);
        const QString text = piece.repeated(copies);
        const auto counts = MarkdownToolViewModel::countLinesAndWords(text);
        int lines = 1;
        int words = 0;
        bool inWord = false;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (c == u'\n' || (c == u'\r' && (i + 1 == text.size() || text[i + 1] != u'\n')))
                ++lines;
            const bool blank = c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
            if (!blank && !inWord)
                ++words;
            inWord = !blank;
        }
        QCOMPARE(counts.lines, lines);
        QCOMPARE(counts.words, words);
    }

    // The HTML's UTF-8 size of a large rendering is counted part by part as it is written, or,
    // after an edit, in stretches side by side, none of which may split a surrogate pair.
    void largeRenderingCountsItsBytes_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::newRow("emoji only") << QStringLiteral("\U0001F600");
        QTest::newRow("emoji after one unit") << QStringLiteral("a\U0001F600");
        QTest::newRow("emoji and accents") << QStringLiteral("\U0001F600\u00e9\u65e5 ");
        QTest::newRow("paragraphs of emoji") << QStringLiteral("\U0001F600 x\n\n## \u00e9\U0001F601\n\n");
    }
    void largeRenderingCountsItsBytes()
    {
        QFETCH(QString, piece);
        const QString text = piece.repeated((qsizetype(3) << 20) / piece.size());
        const MarkdownToolViewModel::Rendering whole = MarkdownToolViewModel::render(text);
        QCOMPARE(whole.htmlByteCount, whole.html.toUtf8().size());
        const MarkdownToolViewModel::Rendering edited = MarkdownToolViewModel::render(text + QStringLiteral("\U0001F602"), whole.made);
        QCOMPARE(edited.htmlByteCount, edited.html.toUtf8().size());
    }

    // An open's document is the text with LF breaks and that text's rendering.
    void openedDocumentIsItsTextRendered_data()
    {
        QTest::addColumn<QString>("decoded");
        QTest::newRow("LF only") << QStringLiteral("# Title\n\nSome *words* here.\n");
        QTest::newRow("CR LF") << QStringLiteral("# Title\r\n\r\nSome *words*\r\nhere.");
        QTest::newRow("CR alone") << QStringLiteral("one\rtwo\r\r- item\r");
        QTest::newRow("empty") << QString();
        QTest::newRow("large, CR LF") << QStringLiteral("## Part\r\n\r\nText `code` and more text.\r\n\r\n").repeated(40000);
    }
    void openedDocumentIsItsTextRendered()
    {
        QFETCH(QString, decoded);
        const QString text = TextHelpers::normalizedLineBreaks(decoded);
        const MarkdownToolViewModel::Document document = MarkdownToolViewModel::openedDocument(decoded);
        const MarkdownToolViewModel::Rendering rendering = MarkdownToolViewModel::render(text);
        QCOMPARE(document.text, text);
        QCOMPARE(document.rendering.html, rendering.html);
        QCOMPARE(document.rendering.htmlByteCount, rendering.htmlByteCount);
        QCOMPARE(document.rendering.renderedLineCount, rendering.renderedLineCount);
        QCOMPARE(document.rendering.counts.lines, rendering.counts.lines);
        QCOMPARE(document.rendering.counts.words, rendering.counts.words);
    }

    void emptyTextRendersOneLine()
    {
        MarkdownToolViewModel model;
        model.setMarkdownText(QString());
        QVERIFY(settle(model));
        QCOMPARE(model.lineCount(), 0);
        QCOMPARE(model.wordCount(), 0);
        QCOMPARE(model.renderedLineCount(), 1);
    }

    void quietTimeCoalescesEdits()
    {
        MarkdownToolViewModel model;
        QSignalSpy html(&model, &MarkdownToolViewModel::renderedHTMLChanged);
        // Edits in one turn of the event loop land inside the quiet time however loaded the
        // machine is.
        for (const char* text : {"# One", "# One two", "# One two three"})
            model.setMarkdownText(QString::fromLatin1(text));
        QCOMPARE(html.size(), 0);
        QVERIFY(model.isBusy());
        QVERIFY(html.wait(10000));
        QCOMPARE(html.size(), 1);
        QVERIFY(model.renderedHTML().contains("One two three"));
        QCOMPARE(model.wordCount(), 4);
        QVERIFY(settle(model));
        QVERIFY(settleBackgroundWork());
        QCOMPARE(html.size(), 1);
    }

    void undoBackWithinQuietTimeRendersNothing()
    {
        MarkdownToolViewModel model;
        const QString before = model.renderedHTML();
        QSignalSpy html(&model, &MarkdownToolViewModel::renderedHTMLChanged);
        model.setMarkdownText(model.markdownText() + "x");
        QVERIFY(model.isBusy());
        model.setMarkdownText(MarkdownWelcome::document());
        QVERIFY(!model.isBusy());
        QVERIFY(settleBackgroundWork());
        QCOMPARE(html.size(), 0);
        QCOMPARE(model.renderedHTML(), before);
    }

    void opensAFile()
    {
        MarkdownToolViewModel model;
        bool resetCalled = false;
        model.sync()->editorToStart = [&] { resetCalled = true; };
        model.sync()->current = ScrollSyncController::Level{4, 4};
        const QUrl url = write("notes.md", "# Notes\r\n\r\nSome words here.\rLast");
        QSignalSpy opened(&model, &MarkdownToolViewModel::documentOpened);
        const qint64 opensBefore = model.folderAccess()->opens();
        model.open(url);
        QVERIFY(opened.wait(10000));
        QCOMPARE(model.fileUrl(), url);
        QCOMPARE(model.markdownText(), QString("# Notes\n\nSome words here.\nLast"));
        QCOMPARE(model.lineCount(), 4);
        QCOMPARE(model.wordCount(), 6);
        QCOMPARE(model.renderedLineCount(), 4);
        QVERIFY(model.renderedHTML().contains("Notes"));
        QVERIFY(resetCalled);
        QVERIFY(!model.sync()->current);
        QCOMPARE(model.folderAccess()->opens(), opensBefore + 1);
        QCOMPARE(model.documentFolder(), QUrl::fromLocalFile(m_dir.path()));
        QVERIFY(!model.isBusy());
        QVERIFY(model.openError().isEmpty());
    }

    void invalidUTF8BecomesReplacementCharacters()
    {
        MarkdownToolViewModel model;
        QSignalSpy opened(&model, &MarkdownToolViewModel::documentOpened);
        model.open(write("latin1.md", "caf\xe9 cr\xe8me"));
        QVERIFY(opened.wait(10000));
        QCOMPARE(model.markdownText(), QString("caf\uFFFD cr\uFFFDme"));
    }

    void unreadableFileLeavesTheDocument_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << "missing.md";
        QTest::newRow("folder") << "folder.md";
    }
    void unreadableFileLeavesTheDocument()
    {
        QFETCH(QString, path);
        QDir(m_dir.path()).mkpath("folder.md");
        MarkdownToolViewModel model;
        const QString html = model.renderedHTML();
        // A pending render is cancelled by the open, even though the open fails.
        model.setMarkdownText("typed");
        QSignalSpy error(&model, &MarkdownToolViewModel::openErrorChanged);
        QSignalSpy htmlSpy(&model, &MarkdownToolViewModel::renderedHTMLChanged);
        model.open(QUrl::fromLocalFile(m_dir.filePath(path)));
        QVERIFY(error.wait(10000));
        QVERIFY(model.openError().contains(QFileInfo(path).fileName()));
        QVERIFY(settle(model));
        QVERIFY(settleBackgroundWork());
        QCOMPARE(htmlSpy.size(), 0);
        QCOMPARE(model.renderedHTML(), html);
        QCOMPARE(model.markdownText(), QString("typed"));
        QVERIFY(model.fileUrl().isEmpty());
        // The next edit renders and clears the sentence.
        model.setMarkdownText("typed more");
        QVERIFY(model.openError().isEmpty());
        QVERIFY(htmlSpy.wait(10000));
    }

    void aFileThatWouldNotFitIsRefusedBeforeReading()
    {
        MemoryBudget::setAvailableBytesForTesting(qint64(1) << 30);
        const auto restore = qScopeGuard([] { MemoryBudget::setAvailableBytesForTesting(std::nullopt); });
        // A hole of two gigabytes: refused at once, never read.
        const QUrl url = writeSparseFile(m_dir, "huge.md", qint64(2) << 30);
        MarkdownToolViewModel model;
        const QString html = model.renderedHTML();
        QSignalSpy error(&model, &MarkdownToolViewModel::openErrorChanged);
        model.open(url);
        QVERIFY(error.wait(10000));
        QVERIFY(model.openError().startsWith(
            QString("\u201Chuge.md\u201D was not opened: at 2048.0 MB it would need about 24576.0 MB of memory")));
        QVERIFY(settle(model));
        QCOMPARE(model.renderedHTML(), html);
        QVERIFY(model.fileUrl().isEmpty());
    }

    void openCancelsPendingRender()
    {
        MarkdownToolViewModel model;
        const QUrl url = write("file.md", "from the file");
        model.setMarkdownText("typed text");
        QSignalSpy html(&model, &MarkdownToolViewModel::renderedHTMLChanged);
        model.open(url);
        QVERIFY(settle(model));
        QVERIFY(settleBackgroundWork());
        QCOMPARE(html.size(), 1);
        QVERIFY(model.renderedHTML().contains("from the file"));
        QCOMPARE(model.markdownText(), QString("from the file"));
    }

    void typingWhileLoadingWins()
    {
        MarkdownToolViewModel model;
        QByteArray big;
        for (int i = 0; i < 40000; ++i)
            big += "A line of the big file with **bold** text " + QByteArray::number(i) + "\n";
        const QUrl url = write("big.md", big);
        model.open(url);
        model.setMarkdownText("typed while loading");
        QVERIFY(settle(model));
        QVERIFY(settleBackgroundWork());
        QCOMPARE(model.markdownText(), QString("typed while loading"));
        QVERIFY(model.renderedHTML().contains("typed while loading"));
        QVERIFY(model.fileUrl().isEmpty());
        // The user is told why the file did not open, and the sentence stands while the typing goes
        // on, until the next open.
        const QString sentence("\u201Cbig.md\u201D was not opened: the document was edited while the file was being read.");
        QCOMPARE(model.openError(), sentence);
        model.setMarkdownText("typed while loading, and on");
        QCOMPARE(model.openError(), sentence);
        QSignalSpy opened(&model, &MarkdownToolViewModel::documentOpened);
        model.open(write("small.md", "small"));
        QVERIFY(model.openError().isEmpty());
        QVERIFY(opened.wait(10000));
        QVERIFY(model.openError().isEmpty());
    }

    void secondOpenSupersedesFirst()
    {
        MarkdownToolViewModel model;
        QByteArray big;
        for (int i = 0; i < 40000; ++i)
            big += "first file line " + QByteArray::number(i) + "\n";
        const QUrl first = write("first.md", big);
        const QUrl second = write("second.md", "second file");
        QSignalSpy opened(&model, &MarkdownToolViewModel::documentOpened);
        QSignalSpy texts(&model, &MarkdownToolViewModel::markdownTextChanged);
        model.open(first);
        model.open(second);
        QVERIFY(opened.wait(10000));
        QVERIFY(settle(model));
        QVERIFY(settleBackgroundWork());
        QCOMPARE(opened.size(), 1);
        QCOMPARE(texts.size(), 1);
        QCOMPARE(model.fileUrl(), second);
        QCOMPARE(model.markdownText(), QString("second file"));
    }

    void supersededRenderNeverReplacesNewer()
    {
        MarkdownToolViewModel model;
        QString big;
        for (int i = 0; i < 20000; ++i)
            big += QStringLiteral("old paragraph %1\n\n").arg(i);
        model.setMarkdownText(big);
        // Let the quiet time pass so the big render is running (or, on a fast machine, done),
        // then edit.
        QSignalSpy early(&model, &MarkdownToolViewModel::renderedHTMLChanged);
        QVERIFY(QTest::qWaitFor(
            [&] { return WorkPool::instance()->activeThreadCount() > 0 || !early.isEmpty(); }, 10000));
        model.setMarkdownText("new");
        QSignalSpy html(&model, &MarkdownToolViewModel::renderedHTMLChanged);
        QVERIFY(settle(model));
        QVERIFY(settleBackgroundWork());
        QCOMPARE(html.size(), 1);
        QVERIFY(model.renderedHTML().contains("new"));
        QVERIFY(!model.renderedHTML().contains("old paragraph"));
        QCOMPARE(model.lineCount(), 1);
    }

    void dropPicksAFile_data()
    {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QString>("expected");
        const auto file = [this](const QString& name) {
            return write(name, "x");
        };
        QDir(m_dir.path()).mkpath("docs");
        const QUrl folder = QUrl::fromLocalFile(m_dir.filePath("docs"));
        QTest::newRow("folder, image, capital MD") << QList<QUrl>{folder, file("a.png"), file("README.MD")}
                                                   << "README.MD";
        QTest::newRow("first markdown wins") << QList<QUrl>{file("b.txt"), file("c.md")} << "b.txt";
        QTest::newRow("image alone") << QList<QUrl>{file("d.png")} << "";
        QTest::newRow("only web links") << QList<QUrl>{QUrl("https://example.com/x.md")} << "";
        QTest::newRow("a text type by extension") << QList<QUrl>{file("e.png"), file("notes.rst")} << "notes.rst";
        QTest::newRow("no extension is skipped") << QList<QUrl>{file("Makefile")} << "";
        QTest::newRow("nothing") << QList<QUrl>{} << "";
    }
    void dropPicksAFile()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(QString, expected);
        const std::optional<QUrl> picked = MarkdownToolViewModel::markdownFile(urls);
        QCOMPARE(picked ? QFileInfo(picked->toLocalFile()).fileName() : QString(), expected);
    }

    void showEditorToggles()
    {
        MarkdownToolViewModel model;
        QSignalSpy spy(&model, &MarkdownToolViewModel::showEditorChanged);
        model.setShowEditor(false);
        model.setShowEditor(false);
        QCOMPARE(spy.size(), 1);
        QVERIFY(!model.showEditor());
    }
};

QUORRIX_TEST_MAIN(MarkdownToolViewModelTest)
#include "MarkdownToolViewModelTest.moc"
