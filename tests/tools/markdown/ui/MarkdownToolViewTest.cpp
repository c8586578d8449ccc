#include "support/BackgroundWork.h"
#include "support/BadgeText.h"
#include "support/QuorrixTestMain.h"
#include "kit/PaneBadge.h"
#include "kit/ui/Metric.h"
#include "kit/ui/PaneButton.h"
#include "kit/ui/PaneHeader.h"
#include "kit/ui/ToolPane.h"
#include "kit/FindController.h"
#include "tools/markdown/MarkdownFolderAccess.h"
#include "tools/markdown/MarkdownHTML.h"
#include "tools/markdown/MarkdownLineMap.h"
#include "tools/markdown/MarkdownToolViewModel.h"
#include "tools/markdown/ScrollSyncController.h"
#include "tools/markdown/ui/MarkdownFindBar.h"
#include "tools/markdown/ui/MarkdownPreviewView.h"
#include "tools/markdown/ui/MarkdownSchemeHandler.h"
#include "tools/markdown/ui/MarkdownSyntaxHighlighter.h"
#include "tools/markdown/ui/MarkdownTextEditor.h"
#include "tools/markdown/ui/MarkdownToolView.h"
#include "tools/markdown/ui/PreviewWaits.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QtTest/QtTest>

class MarkdownToolViewTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QUrl write(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write test file");
        file.write(bytes);
        return QUrl::fromLocalFile(path);
    }

    static QByteArray longDocument(int sections)
    {
        QByteArray text;
        for (int i = 0; i < sections; ++i) {
            text += "## Section " + QByteArray::number(i) + "\n\n";
            text += "Paragraph " + QByteArray::number(i) +
                    " has a few words, **some strong**, and `code` in it.\nIt runs over two source lines.\n\n";
        }
        return text;
    }

    struct Fixture {
        MarkdownToolViewModel model;
        QWidget window;
        MarkdownToolView* view;
        Fixture() : view(new MarkdownToolView(&model, &window))
        {
            auto* layout = new QVBoxLayout(&window);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->addWidget(view);
            window.resize(1100, 720);
            window.show();
            window.activateWindow();
        }
        bool waitForLayout(int minAnchors, int timeout = 20000)
        {
            return QTest::qWaitFor(
                [&] {
                    const MarkdownLineMap* map = view->preview()->lineMap();
                    return view->preview()->isLoaded() && map && map->anchors().size() >= minAnchors;
                },
                timeout);
        }
        bool openAndLayOut(const QUrl& url, int minAnchors)
        {
            QSignalSpy opened(&model, &MarkdownToolViewModel::documentOpened);
            model.open(url);
            return opened.wait(10000) && waitForLayout(minAnchors);
        }
        // Until neither pane moves any more (glides and follow-up scrolls have ended).
        bool settle()
        {
            return waitUntilStill<std::pair<int, double>>(*view->preview(), [this] {
                return std::pair{view->editor()->verticalScrollBar()->value(), view->preview()->scrollY()};
            });
        }
    };

    static QFileDialog* openDialog()
    {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<QFileDialog*>(top); dialog && dialog->isVisible())
                return dialog;
            if (auto* dialog = top->findChild<QFileDialog*>(); dialog && dialog->isVisible())
                return dialog;
        }
        return nullptr;
    }

private slots:
    void showsTheWelcomeDocument()
    {
        Fixture f;
        QVERIFY(f.waitForLayout(3));
        QCOMPARE(f.view->editor()->text(), f.model.markdownText());
        QCOMPARE(f.view->linesMetric()->text(), QString("21 lines"));
        QCOMPARE(f.view->wordsMetric()->text(), QString("%1 words").arg(f.model.wordCount()));
        QVERIFY(f.view->sizeMetric()->text().endsWith(" html"));
        QVERIFY(f.view->runsOwnFind());
        QCOMPARE(f.view->titleText(), QString("Untitled \u2014 Markdown"));
        QCOMPARE(f.view->title(), QString("Untitled"));
        QCOMPARE(f.view->subtitle(), QString("Markdown"));
        QVERIFY(!f.view->noMatchMetric()->isVisible());
        QVERIFY(!f.view->imagesButton()->isVisible());
        // The first heading is coloured in the editor.
        const auto first = f.view->editor()->highlighter()->styleAt(0);
        QVERIFY(first);
        QVERIFY(first->colour != MarkdownSyntaxHighlighter::Colour::label);
    }

    void footerWords_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("lines");
        QTest::addColumn<QString>("words");
        QTest::newRow("empty") << "" << "0 lines" << "0 words";
        QTest::newRow("one") << "word" << "1 line" << "1 word";
        QTest::newRow("two") << "two words\n" << "2 lines" << "2 words";
    }
    void footerWords()
    {
        QFETCH(QString, text);
        QFETCH(QString, lines);
        QFETCH(QString, words);
        Fixture f;
        f.model.setMarkdownText(text);
        QTRY_COMPARE(f.view->linesMetric()->text(), lines);
        QCOMPARE(f.view->wordsMetric()->text(), words);
    }

    void typingReachesTheModelAndThePreview()
    {
        Fixture f;
        QVERIFY(f.waitForLayout(3));
        QSignalSpy edits(f.view->editor(), &MarkdownTextEditor::textEdited);
        f.view->editor()->setFocus();
        const qsizetype end = f.view->editor()->length();
        f.view->editor()->setSelection(end, end);
        QTest::keyClick(f.view->editor(), Qt::Key_Return);
        QTest::keyClick(f.view->editor(), Qt::Key_Return);
        QTest::keyClicks(f.view->editor(), "Typed words");
        QCOMPARE(edits.size(), 13);
        QVERIFY(f.model.markdownText().endsWith("Typed words"));
        QTRY_VERIFY_WITH_TIMEOUT(f.model.renderedHTML().contains("Typed words"), 3000);
        // The page may answer after this function returned: the answer goes to shared storage.
        auto body = std::make_shared<QString>();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                f.view->preview()->evaluate("document.body.innerText",
                                            [body](const QVariant& v) { *body = v.toString(); });
                return body->contains("Typed words");
            }(),
            5000);
    }

    void modelFollowsTheEditor_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("setAfter");
        QTest::newRow("short") << "# Title" << "abc" << "";
        QTest::newRow("emoji") << "a \U0001F1EB\U0001F1F7 b" << "ok" << "new";
        QTest::newRow("large") << QString("A *long* paragraph of words.\n\n").repeated(40000) << "typed" << "";
    }
    void modelFollowsTheEditor()
    {
        QFETCH(QString, start);
        QFETCH(QString, typed);
        QFETCH(QString, setAfter);
        Fixture f;
        MarkdownTextEditor* editor = f.view->editor();
        f.model.setMarkdownText(start);
        QTRY_COMPARE(editor->text(), start);
        editor->setFocus();
        editor->setSelection(2, 2);
        QTest::keyClicks(editor, typed);
        QTest::keyClick(editor, Qt::Key_Backspace);
        QCOMPARE(f.model.markdownText(), editor->text());
        QTRY_COMPARE_WITH_TIMEOUT(f.model.isBusy(), false, 30000);
        QCOMPARE(f.model.markdownText(), editor->text());
        // The text set after typing is shown and stays, the empty one too.
        f.model.setMarkdownText(setAfter);
        QTRY_COMPARE(editor->text(), setAfter);
        QCOMPARE(f.model.markdownText(), editor->text());
        QTRY_COMPARE_WITH_TIMEOUT(f.model.isBusy(), false, 30000);
        QCOMPARE(editor->text(), setAfter);
        QTest::keyClicks(editor, "x");
        QCOMPARE(editor->text(), "x" + setAfter);
        QCOMPARE(f.model.markdownText(), editor->text());
    }

    void outsideTextReplacesAndForgetsUndo()
    {
        Fixture f;
        MarkdownTextEditor* editor = f.view->editor();
        QTest::keyClicks(editor, "abc");
        QVERIFY(editor->canUndo());
        QSignalSpy edits(editor, &MarkdownTextEditor::textEdited);
        f.model.setMarkdownText("replaced\r\ntext");
        QCOMPARE(editor->text(), QString("replaced\ntext"));
        QVERIFY(!editor->canUndo());
        QCOMPARE(editor->caretPosition(), 0);
        QCOMPARE(edits.size(), 0);
        // The same text given again is set again: the caret goes back to the start.
        editor->setSelection(4, 4);
        QSignalSpy changes(editor, &CodeTextView::textChanged);
        editor->setText("replaced\r\ntext");
        QCOMPARE(changes.size(), 1);
        QCOMPARE(editor->text(), QString("replaced\ntext"));
        QCOMPARE(editor->caretPosition(), 0);
    }

    void editorGeometry()
    {
        Fixture f;
        f.model.setMarkdownText(QString::fromUtf8(longDocument(80)));
        MarkdownTextEditor* editor = f.view->editor();
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        const double top = *editor->editorTop();
        QCOMPARE(editor->lineAtWindowY(top - 50), 0.0);
        QCOMPARE(editor->lineAtWindowY(top + 1), 0.0 + editor->lineAtWindowY(top + 1));
        QVERIFY(editor->lineAtWindowY(top + 1) < 1);
        // Inside a line: its index plus a fraction below 1.
        const QRect rect = editor->positionRect(editor->buffer().lineStart(2));
        const double inside = editor->lineAtWindowY(top + rect.center().y());
        QVERIFY2(inside >= 2 && inside < 3, qPrintable(QString::number(inside)));
        // Below the last line: the line count.
        editor->verticalScrollBar()->setValue(editor->verticalScrollBar()->maximum());
        QCOMPARE(editor->lineAtWindowY(top + editor->viewportHeight() + 2000), double(editor->lineCount()));
        // y of a fractional line lies between its neighbours.
        const double y10 = *editor->yOfLine(10);
        const double y10half = *editor->yOfLine(10.5);
        const double y11 = *editor->yOfLine(11);
        QVERIFY(y10 < y10half && y10half < y11);
        QVERIFY(!editor->yOfLine(qQNaN()));
    }

    void wrappedLineGeometry()
    {
        Fixture f;
        QString text = QStringLiteral("a ").repeated(600) + QStringLiteral("\nshort\n");
        f.model.setMarkdownText(text);
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        MarkdownTextEditor* editor = f.view->editor();
        editor->positionRect(0); // the rows in view are laid out
        const qint64 rows = editor->rowsOfLine(0);
        QVERIFY(rows > 3);
        const double lh = editor->lineHeight();
        // Every row of the wrapped line reads as a fraction of line 0, growing downwards.
        const double top = *editor->editorTop() + editor->textMargins().top();
        double previous = -1;
        for (qint64 r = 0; r < rows; ++r) {
            const double line = editor->lineAtWindowY(top + r * lh + lh / 2);
            QVERIFY2(line >= 0 && line < 1 && line > previous, qPrintable(QString::number(line)));
            previous = line;
        }
        QCOMPARE(editor->lineAtWindowY(top + rows * lh + 1), 1.0 + 1.0 / lh);
        // The line's span is its rows; a fraction lands inside it.
        QCOMPARE(*editor->yOfLine(1) - *editor->yOfLine(0), rows * lh);
        const double half = *editor->yOfLine(0.5);
        QVERIFY(half > *editor->yOfLine(0) && half < *editor->yOfLine(1));
        QCOMPARE(*editor->yOfLine(99), *editor->yOfLine(3));
    }

    void caretAtTheEndReportsTheEnd()
    {
        Fixture f;
        f.model.setMarkdownText(QString::fromUtf8(longDocument(80)));
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        MarkdownTextEditor* editor = f.view->editor();
        editor->setSelection(editor->length(), editor->length());
        editor->verticalScrollBar()->setValue(editor->verticalScrollBar()->maximum());
        const auto level = editor->caretLevel();
        QVERIFY(level);
        QCOMPARE(level->line, double(editor->lineCount()));
        QCOMPARE(level->windowY, *editor->editorTop() + editor->viewportHeight());
    }

    void editorScrollMovesThePreview()
    {
        Fixture f;
        QVERIFY(f.openAndLayOut(write("long.md", longDocument(150)), 50));
        MarkdownPreviewView* preview = f.view->preview();
        MarkdownTextEditor* editor = f.view->editor();
        QVERIFY(f.settle());
        QSignalSpy scrolls(preview, &MarkdownPreviewView::scrollReceived);
        // The user scrolls the editor by 120 lines.
        editor->verticalScrollBar()->setValue(120);
        const auto level = f.model.sync()->current;
        QVERIFY(level);
        QCOMPARE(f.model.sync()->leader, ScrollSyncController::Pane::editor);
        QVERIFY(level->line > 60);
        QTRY_VERIFY_WITH_TIMEOUT(preview->scrollY() > 100, 5000);
        QVERIFY(f.settle());
        const double previewTop = *preview->previewTopInWindow();
        const double previewLine =
            preview->lineMap()->lineForY(preview->scrollY() + (level->windowY - previewTop));
        QVERIFY2(std::abs(previewLine - level->line) < 1.0,
                 qPrintable(QString("preview %1, editor %2").arg(previewLine).arg(level->line)));
    }

    void previewScrollMovesTheEditor()
    {
        Fixture f;
        QVERIFY(f.openAndLayOut(write("long2.md", longDocument(150)), 50));
        MarkdownPreviewView* preview = f.view->preview();
        MarkdownTextEditor* editor = f.view->editor();
        QVERIFY(f.settle());
        // The user scrolls the page.
        preview->evaluate("window.scrollTo(0, 3000)");
        QTRY_VERIFY_WITH_TIMEOUT(f.model.sync()->leader == ScrollSyncController::Pane::preview &&
                                     editor->verticalScrollBar()->value() > 0,
                                 5000);
        QVERIFY(f.settle());
        const auto level = f.model.sync()->current;
        QVERIFY(level);
        const double editorLine = editor->lineAtWindowY(level->windowY);
        QVERIFY2(std::abs(editorLine - level->line) < 1.5,
                 qPrintable(QString("editor %1, preview %2").arg(editorLine).arg(level->line)));
    }

    void openFileNotificationShowsThePanel()
    {
        Fixture f;
        const QUrl url = write("picked.md", "# Picked\n\nfrom the panel");
        f.view->openFile();
        QFileDialog* dialog = nullptr;
        QTRY_VERIFY((dialog = openDialog()) != nullptr);
        QVERIFY(!dialog->nameFilters().isEmpty());
        QVERIFY(dialog->nameFilters().first().contains("*.md"));
        QSignalSpy opened(&f.model, &MarkdownToolViewModel::documentOpened);
        dialog->selectUrl(url);
        static_cast<QDialog*>(dialog)->accept();
        QVERIFY(opened.wait(5000));
        QCOMPARE(f.model.fileUrl(), url);
        QCOMPARE(f.view->editor()->text(), QString("# Picked\n\nfrom the panel"));
        QTRY_COMPARE(f.view->title(), QString("picked.md"));
    }

    void cancelledPanelChangesNothing()
    {
        Fixture f;
        const QString before = f.model.markdownText();
        f.view->openAction()->trigger();
        QFileDialog* dialog = nullptr;
        QTRY_VERIFY((dialog = openDialog()) != nullptr);
        dialog->reject();
        QVERIFY(settleBackgroundWork());
        QCOMPARE(f.model.markdownText(), before);
        QVERIFY(f.model.fileUrl().isEmpty());
    }

    void drops_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("opened");
        QTest::newRow("image alone is refused") << QStringList{"pic.png"} << false << "";
        QTest::newRow("image and markdown") << QStringList{"pic.png", "drop.md"} << true << "drop.md";
        QTest::newRow("capital extension") << QStringList{"READ.MARKDOWN"} << true << "READ.MARKDOWN";
    }
    void drops()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, taken);
        QFETCH(QString, opened);
        Fixture f;
        QList<QUrl> urls;
        for (const QString& name : names)
            urls << write(name, "# Dropped " + name.toUtf8());
        const QString before = f.model.markdownText();

        // A real drop event on the tool view.
        QMimeData mime;
        mime.setUrls(urls);
        const QPoint at = f.view->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.view, &enter);
        QVERIFY(f.view->isDropTargeted());
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.view, &drop);
        QVERIFY(!f.view->isDropTargeted());
        QCOMPARE(drop.isAccepted(), taken);
        if (taken) {
            QTRY_COMPARE(QFileInfo(f.model.fileUrl().toLocalFile()).fileName(), opened);
            QCOMPARE(f.model.markdownText(), QString("# Dropped " + opened));
        } else {
            QVERIFY(settleBackgroundWork());
            QCOMPARE(f.model.markdownText(), before);
        }
        // The preview's drop actions take the same route.
        QCOMPARE(f.view->openDropped(urls), taken);
    }

    void unreadableFileShowsASentence()
    {
        Fixture f;
        const QString before = f.model.markdownText();
        f.model.open(QUrl::fromLocalFile(m_dir.filePath("nope/missing.md")));
        QTRY_VERIFY(f.view->errorBanner()->isVisible());
        QVERIFY(f.view->errorLabel()->text().contains("missing.md"));
        QCOMPARE(f.view->errorLabel()->textFormat(), Qt::PlainText);
        QCOMPARE(f.view->editor()->text(), before);
        f.model.dismissOpenError();
        QVERIFY(!f.view->errorBanner()->isVisible());
    }

    void findRouting()
    {
        Fixture f;
        QVERIFY(f.waitForLayout(3));
        f.view->editor()->setFocus();
        QTRY_VERIFY(f.view->editor()->hasFocus());
        // Editor focused: its own find bar.
        f.view->findInTool(ToolView::FindAction::showFindInterface);
        QVERIFY(f.view->editorFind()->isShowingBar());
        QVERIFY(!f.model.find()->isShowingBar());
        QVERIFY(!f.view->previewPane()->badge());
        f.view->editorFind()->setQuery("preview");
        f.view->editorFind()->search(true);
        QCOMPARE(f.view->editorFind()->lastSearchMatched(), std::optional<bool>(true));
        QCOMPARE(f.view->editor()->selectedText().toLower(), QString("preview"));
        f.view->editorFind()->done();

        // Source hidden: the preview's bar and the FIND badge.
        f.view->toggleSourceAction()->trigger();
        QVERIFY(!f.model.showEditor());
        QCOMPARE(f.view->minimumWidth(), 360);
        QCOMPARE(f.view->toggleSourceAction()->text(), QString("Show Source"));
        f.view->findInTool(ToolView::FindAction::showFindInterface);
        QVERIFY(f.model.find()->isShowingBar());
        QVERIFY(f.view->previewPane()->badge());
        QCOMPARE(badgeText(f.view->previewPane()), QString("FIND"));
        f.view->toggleSourceAction()->trigger();
        QCOMPARE(f.view->minimumWidth(), 600);

        // Next and previous always search the preview; "no match" shows only after a miss.
        QVERIFY(!f.view->noMatchMetric()->isVisible());
        f.model.find()->setQuery("zzqqxx-absent");
        f.view->findInTool(ToolView::FindAction::nextMatch);
        QTRY_COMPARE_WITH_TIMEOUT(f.model.find()->lastSearchMatched(), std::optional<bool>(false), 5000);
        QTRY_VERIFY(f.view->noMatchMetric()->isVisible());
        f.model.find()->setQuery("Markdown");
        f.view->findInTool(ToolView::FindAction::previousMatch);
        QTRY_COMPARE_WITH_TIMEOUT(f.model.find()->lastSearchMatched(), std::optional<bool>(true), 5000);
        QVERIFY(!f.view->noMatchMetric()->isVisible());
    }

    void closingPreviewFindKeepsBothScrollPositions_data()
    {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("Escape") << true;
        QTest::newRow("Done") << false;
    }
    void closingPreviewFindKeepsBothScrollPositions()
    {
        QFETCH(bool, byEscape);
        Fixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        QVERIFY(f.openAndLayOut(write("find-close.md", "[A link at the top](https://example.com)\n\n" + longDocument(150)), 50));
        MarkdownPreviewView* preview = f.view->preview();
        MarkdownTextEditor* editor = f.view->editor();
        // A link at the top of the page is where a focus moved in by Tab would land.
        preview->setFocus();
        f.view->findInTool(ToolView::FindAction::showFindInterface);
        QVERIFY(f.model.find()->isShowingBar());
        QTRY_VERIFY(f.view->previewFindBar()->field()->hasFocus());
        QTest::keyClicks(f.view->previewFindBar()->field(), "Paragraph 120");
        QTRY_COMPARE_WITH_TIMEOUT(f.model.find()->lastSearchMatched(), std::optional<bool>(true), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(preview->scrollY() > 1000 && editor->verticalScrollBar()->value() > 100, 5000);
        QVERIFY(f.settle());
        const double previewY = preview->scrollY();
        const int editorValue = editor->verticalScrollBar()->value();
        if (byEscape)
            QTest::keyClick(f.view->previewFindBar()->field(), Qt::Key_Escape);
        else
            f.view->previewFindBar()->doneButton()->click();
        QVERIFY(!f.model.find()->isShowingBar());
        QCOMPARE(f.model.find()->lastSearchMatched(), std::nullopt);
        QCOMPARE(f.model.find()->query(), QString("Paragraph 120"));
        QVERIFY(f.settle());
        auto pageY = std::make_shared<double>(-1);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                preview->evaluate("window.scrollY", [pageY](const QVariant& v) { *pageY = v.toDouble(); });
                return *pageY >= 0;
            }(),
            5000);
        QVERIFY2(std::abs(*pageY - previewY) < 50, qPrintable(QString("page %1, was %2").arg(*pageY).arg(previewY)));
        QVERIFY2(std::abs(editor->verticalScrollBar()->value() - editorValue) <= 2,
                 qPrintable(QString("editor %1, was %2").arg(editor->verticalScrollBar()->value()).arg(editorValue)));
    }

    void closingEditorFindKeepsBothScrollPositions()
    {
        Fixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        QVERIFY(f.openAndLayOut(write("editor-find-close.md", "[A link at the top](https://example.com)\n\n" + longDocument(150)), 50));
        MarkdownTextEditor* editor = f.view->editor();
        MarkdownPreviewView* preview = f.view->preview();
        editor->setFocus();
        QTRY_VERIFY(editor->hasFocus());
        f.view->findInTool(ToolView::FindAction::showFindInterface);
        QVERIFY(f.view->editorFind()->isShowingBar());
        QTRY_VERIFY(f.view->editorFindBar()->field()->hasFocus());
        QTest::keyClicks(f.view->editorFindBar()->field(), "Paragraph 120");
        QCOMPARE(f.view->editorFind()->lastSearchMatched(), std::optional<bool>(true));
        QTRY_VERIFY_WITH_TIMEOUT(editor->verticalScrollBar()->value() > 100 && preview->scrollY() > 1000, 5000);
        QVERIFY(f.settle());
        const double previewY = preview->scrollY();
        const int editorValue = editor->verticalScrollBar()->value();
        QTest::keyClick(f.view->editorFindBar()->field(), Qt::Key_Escape);
        QVERIFY(!f.view->editorFind()->isShowingBar());
        QVERIFY(editor->hasFocus());
        QVERIFY(f.settle());
        QCOMPARE(editor->verticalScrollBar()->value(), editorValue);
        QVERIFY2(std::abs(preview->scrollY() - previewY) < 50,
                 qPrintable(QString("preview %1, was %2").arg(preview->scrollY()).arg(previewY)));
    }

    void reopenedFindSelectsTheOldQuery()
    {
        Fixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        QVERIFY(f.waitForLayout(3));
        QLineEdit* field = f.view->previewFindBar()->field();
        f.view->preview()->setFocus();
        f.view->findInTool(ToolView::FindAction::showFindInterface);
        QTRY_VERIFY(field->hasFocus());
        QTest::keyClicks(field, "Markdown");
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!f.model.find()->isShowingBar());
        f.view->findInTool(ToolView::FindAction::showFindInterface);
        QTRY_VERIFY(field->hasFocus());
        QCOMPARE(field->selectedText(), QString("Markdown"));
        // Typing replaces the old query.
        QTest::keyClicks(field, "preview");
        QCOMPARE(f.model.find()->query(), QString("preview"));

        // With the bar open and the focus in the page, Find focuses the field again.
        f.view->preview()->setFocus();
        QTRY_VERIFY(!field->hasFocus());
        f.view->findInTool(ToolView::FindAction::showFindInterface);
        QTRY_VERIFY(field->hasFocus());
        QCOMPARE(field->selectedText(), QString("preview"));
    }

    void hideSourceSlides()
    {
        Fixture f;
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        ToolPane* source = f.view->sourcePane();
        const int width = source->width();
        QVERIFY(width >= 280);
        QVariantAnimation* animation = f.view->sourceAnimation();
        QCOMPARE(animation->duration(), 220);
        QCOMPARE(animation->easingCurve().type(), QEasingCurve::InOutQuad);

        f.view->toggleSourceAction()->trigger();
        QVERIFY(!f.model.showEditor());
        QCOMPARE(f.view->minimumWidth(), 360);
        // Still on screen, sliding out.
        QVERIFY(source->isVisible());
        QCOMPARE(animation->state(), QAbstractAnimation::Running);
        QTRY_VERIFY(source->width() < width && source->isVisible());
        QTRY_VERIFY(!source->isVisible());

        f.view->toggleSourceAction()->trigger();
        QVERIFY(f.model.showEditor());
        QVERIFY(source->isVisible());
        QVERIFY(source->width() < width);
        QCOMPARE(animation->state(), QAbstractAnimation::Running);
        QTRY_COMPARE(animation->state(), QAbstractAnimation::Stopped);
        QCOMPARE(source->width(), width);
        QCOMPARE(source->minimumWidth(), 280);
    }

    void showImagesIsAPreviewHeaderButton()
    {
        Fixture f;
        PaneButton* button = f.view->imagesButton();
        QVERIFY(f.view->previewPane()->header()->isAncestorOf(button));
        QCOMPARE(button->toolTip(), QString("Allow Quorrix to read the folder that holds this document's images"));
        QVERIFY(!button->isVisible());
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::red);
        QDir().mkpath(m_dir.filePath("header/doc"));
        QDir().mkpath(m_dir.filePath("header/elsewhere"));
        image.save(m_dir.filePath("header/elsewhere/outside.png"));
        QVERIFY(f.openAndLayOut(write("header/doc/pic.md", "# Pic\n\n![outside](../elsewhere/outside.png)\n"), 2));
        QTRY_VERIFY_WITH_TIMEOUT(button->isVisible(), 10000);
    }

    void findJumpInWrappedTextLandsBothPanesOnOneLine()
    {
        Fixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        // Paragraphs of one long source line each: the editor wraps every one over many rows.
        QByteArray text;
        for (int i = 0; i < 160; ++i) {
            text += "Paragraph marker" + QByteArray::number(i) + " ";
            for (int w = 0; w < 70; ++w)
                text += "word" + QByteArray::number(w) + " ";
            text += "\n\n";
        }
        QVERIFY(f.openAndLayOut(write("wrapped.md", text), 100));
        MarkdownTextEditor* editor = f.view->editor();
        MarkdownPreviewView* preview = f.view->preview();
        QVERIFY(editor->rowsOfLine(0) > 3);
        QVERIFY(f.settle());
        preview->setFocus();
        f.view->findInTool(ToolView::FindAction::showFindInterface);
        QTRY_VERIFY(f.view->previewFindBar()->field()->hasFocus());
        QTest::keyClicks(f.view->previewFindBar()->field(), "marker131 ");
        QTRY_COMPARE_WITH_TIMEOUT(f.model.find()->lastSearchMatched(), std::optional<bool>(true), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(editor->verticalScrollBar()->value() > 0 && preview->scrollY() > 1000, 5000);
        QVERIFY(f.settle());
        const auto level = f.model.sync()->current;
        QVERIFY(level);
        QVERIFY2(std::abs(level->line - 262) < 1, qPrintable(QString::number(level->line)));
        const double editorLine = editor->lineAtWindowY(level->windowY);
        const double previewLine =
            preview->lineMap()->lineForY(preview->scrollY() + (level->windowY - *preview->previewTopInWindow()));
        QVERIFY2(std::abs(editorLine - previewLine) < 0.5,
                 qPrintable(QString("editor %1, preview %2").arg(editorLine).arg(previewLine)));
        // The editor scrolls by whole rows: the line sits within one row of the level's height.
        const double shownAt = *editor->yOfLine(level->line) - editor->scrollY() + *editor->editorTop();
        QVERIFY2(std::abs(shownAt - level->windowY) <= editor->lineHeight(),
                 qPrintable(QString("editor %1, level %2").arg(shownAt).arg(level->windowY)));
        // The match itself is on screen in the editor.
        const qsizetype match = editor->text().indexOf("marker131 ");
        const QRect at = editor->positionRect(match);
        QVERIFY(at.top() >= 0 && at.bottom() <= editor->viewport()->height());
    }

    // Typing sends the page only the blocks around the edit, and the page then holds exactly the
    // converter's rendering of the whole text.
    void editsReachThePageAsTheirBlocks()
    {
        Fixture f;
        QVERIFY(f.waitForLayout(3));
        QString text;
        for (int i = 0; i < 300; ++i)
            text += QStringLiteral("Paragraph %1 with *some* words.\n\n").arg(i);
        f.model.setMarkdownText(text);
        const auto js = [&](const QString& script) {
            QVariant value;
            bool answered = false;
            f.view->preview()->evaluate(script, [&](const QVariant& v) {
                value = v;
                answered = true;
            });
            (void)QTest::qWaitFor([&] { return answered; }, 20000);
            return value;
        };
        // Line numbers aside: the page moves those of blocks far below an edit only when it
        // measures them.
        const QRegularExpression lines(QStringLiteral(" data-(line|end)=\"\\d+\""));
        const auto pageBlocks = [&] {
            return js(QStringLiteral("Array.from(document.querySelectorAll('#content > div > *'))"
                                     ".map(function (e) { return e.outerHTML; }).join('')")).toString().remove(lines);
        };
        const auto whole = [&] { return renderMarkdownHTML(f.model.markdownText()).remove(u'\n').remove(lines); };
        QTRY_COMPARE_WITH_TIMEOUT(pageBlocks().remove(u'\n'), whole(), 20000);
        f.view->preview()->evaluate(QStringLiteral("document.querySelector('#content > div > *').kept = true"));

        MarkdownTextEditor* editor = f.view->editor();
        editor->setFocus();
        const qsizetype at = text.indexOf(QStringLiteral(" words.\n\nParagraph 151 "));
        editor->setSelection(at, at);
        QTest::keyClicks(editor, QStringLiteral(" and more"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::keyClicks(editor, QStringLiteral("- a new list"));
        QTRY_VERIFY_WITH_TIMEOUT(f.model.markdownText().contains(QStringLiteral("- a new list")) && !f.model.isBusy(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(pageBlocks().remove(u'\n'), whole(), 20000);
        QVERIFY(js(QStringLiteral("document.querySelector('#content > div > *').kept === true")).toBool());
    }

    void editInTheMiddleOfALongLineIsHighlighted()
    {
        Fixture f;
        QString line;
        while (line.size() < 300000)
            line += QStringLiteral("plain words and **strong** ones ");
        f.model.setMarkdownText(line);
        MarkdownTextEditor* editor = f.view->editor();
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        QTRY_VERIFY_WITH_TIMEOUT(!editor->isStylingPending(), 10000);
        const qsizetype middle = line.indexOf(QStringLiteral(" plain"), line.size() / 2) + 1;
        editor->setFocus();
        editor->setSelection(middle, middle);
        editor->revealRange({middle, 0}, false);
        QTest::keyClicks(editor, "`typed code` ");
        // Until the line is styled again, what was there keeps its colours beside the edit.
        const qsizetype strongAfter = editor->text().indexOf(QStringLiteral("**strong**"), middle);
        QCOMPARE(editor->highlighter()->styleAt(strongAfter)->colour, MarkdownSyntaxHighlighter::Colour::tertiary);
        QTRY_VERIFY_WITH_TIMEOUT(!editor->isStylingPending(), 10000);
        QCOMPARE(editor->highlighter()->styleAt(middle)->colour, MarkdownSyntaxHighlighter::Colour::tertiary);
        QCOMPARE(editor->highlighter()->styleAt(middle + 1)->colour, MarkdownSyntaxHighlighter::Colour::link);
        QCOMPARE(editor->highlighter()->styleAt(middle + 11)->colour, MarkdownSyntaxHighlighter::Colour::tertiary);
        QCOMPARE(editor->highlighter()->styleAt(strongAfter + 2)->colour, MarkdownSyntaxHighlighter::Colour::label);
        QCOMPARE(editor->highlighter()->styleAt(strongAfter)->colour, MarkdownSyntaxHighlighter::Colour::tertiary);
        // What the view draws there.
        QList<CodeTextRun> runs;
        editor->highlighter()->runs(editor->buffer(), middle, middle + 12, runs);
        QCOMPARE(runs.size(), 3);
        QCOMPARE(runs[1].foreground, editor->highlighter()->colour(MarkdownSyntaxHighlighter::Colour::link));
    }

    void pasteDropAndUndoInTheEditor()
    {
        Fixture f;
        f.model.setMarkdownText("start");
        MarkdownTextEditor* editor = f.view->editor();
        QSignalSpy edits(editor, &MarkdownTextEditor::textEdited);
        editor->setSelection(5, 5);
        QApplication::clipboard()->setText("\r\none\r\ntwo\rthree");
        editor->paste();
        QCOMPARE(editor->text(), QString("start\none\ntwo\nthree"));
        QCOMPARE(f.model.markdownText(), editor->text());
        QCOMPARE(edits.size(), 1);
        editor->undo();
        QCOMPARE(f.model.markdownText(), QString("start"));
        editor->redo();
        QCOMPARE(f.model.markdownText(), QString("start\none\ntwo\nthree"));

        // Dropped text goes into the editor.
        QMimeData text;
        text.setText("dropped ");
        const QPoint at(editor->textMargins().left() + 1, editor->textMargins().top() + 2);
        QDragEnterEvent enter(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor->viewport(), &drop);
        QVERIFY(drop.isAccepted());
        QVERIFY(f.model.markdownText().startsWith("dropped start"));

        // Dropped files are left to the tool view around the editor.
        QMimeData files;
        files.setUrls({write("over-editor.md", "# Over the editor")});
        QDragEnterEvent fileEnter(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor->viewport(), &fileEnter);
        QVERIFY(f.view->isDropTargeted());
        const QString before = f.model.markdownText();
        QDropEvent fileDrop(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor->viewport(), &fileDrop);
        QVERIFY(fileDrop.isAccepted());
        QTRY_COMPARE(f.model.markdownText(), QString("# Over the editor"));
        QVERIFY(!before.contains("Over the editor"));
    }

    void largeBodyReachesThePageWhole()
    {
        Fixture f;
        QVERIFY(f.waitForLayout(3));
        // Several parts of the page's body, with surrogate pairs all through it, so a cut that
        // splits one shows as a replacement character.
        QString text;
        for (int i = 0; text.size() < 1500000; ++i)
            text += QStringLiteral("Paragraph %1 \U0001F600 with *some* words\n\n").arg(i);
        text += QStringLiteral("The last paragraph\n");
        QSignalSpy opened(&f.model, &MarkdownToolViewModel::documentOpened);
        f.model.open(write("large-body.md", text.toUtf8()));
        QVERIFY(opened.wait(120000));
        // One question at a time: each reads the whole 1.5 MB body, the groups the page holds as
        // text until they come near the view built first.
        auto answer = std::make_shared<QString>();
        auto asking = std::make_shared<bool>(false);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                if (!*asking) {
                    *asking = true;
                    f.view->preview()->evaluate(
                        "(function () { var c = document.getElementById('content'); if (!c) return '';"
                        " buildPendingGroups();"
                        " var t = c.textContent; return t.slice(-40) + '|' + (t.indexOf('\\uFFFD') < 0); })()",
                        [answer, asking](const QVariant& v) {
                            *answer = v.toString();
                            *asking = false;
                        });
                }
                return answer->contains("The last paragraph");
            }(),
            120000);
        QVERIFY2(answer->endsWith("|true"), qPrintable(*answer));
        // The editor took the large text too (a turn after the model published it).
        QTRY_COMPARE_WITH_TIMEOUT(f.view->editor()->text(), f.model.markdownText(), 30000);
        QVERIFY(f.view->editor()->text().endsWith("The last paragraph\n"));
    }

    void editBeforeALargeTextIsShownIsKept()
    {
        Fixture f;
        QString large;
        while (large.size() < (1 << 20) + 10)
            large += QStringLiteral("Some *words* in a paragraph\n\n");
        f.model.setMarkdownText(large);
        // The editor has not taken it yet; the user types into what it shows.
        MarkdownTextEditor* editor = f.view->editor();
        QVERIFY(editor->text() != large);
        editor->setFocus();
        editor->setSelection(0, 0);
        QTest::keyClicks(editor, "typed ");
        QVERIFY(f.model.markdownText().startsWith("typed "));
        QVERIFY(settleBackgroundWork());
        QCOMPARE(editor->text(), f.model.markdownText());
    }

    void folderPanelMessage()
    {
        Fixture f;
        QCOMPARE(f.view->folderPanelMessage(),
                 QString("To show the images in \u201Cthis document\u201D, allow Quorrix to read the folder they are in."));
        QVERIFY(f.openAndLayOut(write("notes/with images.md", "# x"), 2));
        QVERIFY(f.view->folderPanelMessage().contains("\u201Cwith images.md\u201D"));
    }

    void screenshots()
    {
        const QByteArray dir = qgetenv("QUORRIX_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("set QUORRIX_SCREENSHOT_DIR to write screenshots");
        Fixture f;
        QVERIFY(f.waitForLayout(3));
        QVERIFY(f.settle());
        QVERIFY(f.window.grab().save(QString::fromUtf8(dir) + "/markdown-welcome.png"));

        // A document with a local image beside it, and one outside the granted folders.
        QImage image(120, 60, QImage::Format_RGB32);
        image.fill(QColor(0x2a, 0x9d, 0x8f));
        QDir().mkpath(m_dir.filePath("shots/doc"));
        QDir().mkpath(m_dir.filePath("shots/elsewhere"));
        image.save(m_dir.filePath("shots/doc/local.png"));
        image.fill(QColor(0xe7, 0x6f, 0x51));
        image.save(m_dir.filePath("shots/elsewhere/outside.png"));
        const QUrl doc = write("shots/doc/images.md",
                               "# Images\n\nA local image:\n\n![local](local.png)\n\nAnd one outside the folder:\n\n"
                               "![outside](../elsewhere/outside.png)\n");
        QVERIFY(f.openAndLayOut(doc, 3));
        QTRY_VERIFY_WITH_TIMEOUT(f.view->imagesButton()->isVisible(), 10000);
        QVERIFY(f.settle());
        QVERIFY(f.window.grab().save(QString::fromUtf8(dir) + "/markdown-images.png"));

        // A document of one 1 MB line, being edited in its middle.
        QString line;
        while (line.size() < 1 << 20)
            line += QStringLiteral("words and **strong words**, `code`, _emphasis_ and a [link](https://example.com); ");
        QVERIFY(f.openAndLayOut(write("shots/one-line.md", line.toUtf8()), 1));
        MarkdownTextEditor* editor = f.view->editor();
        const qsizetype middle = line.indexOf(QStringLiteral("words"), line.size() / 2);
        editor->setFocus();
        editor->setSelection(middle, middle);
        editor->revealRange({middle, 0}, false);
        QTest::keyClicks(editor, "Typed **here** in the middle of the line ");
        QTRY_VERIFY_WITH_TIMEOUT(!editor->isStylingPending(), 10000);
        QVERIFY(f.settle());
        QVERIFY(f.window.grab().save(QString::fromUtf8(dir) + "/markdown-one-line-edit.png"));
    }
};

QUORRIX_TEST_MAIN_WITH_SETUP(MarkdownToolViewTest, MarkdownSchemeHandler::registerScheme())
#include "MarkdownToolViewTest.moc"
