#include "support/BadgeText.h"
#include "support/QuorrixTestMain.h"
#include "support/WrittenFile.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/Metric.h"
#include "kit/ui/PaneButton.h"
#include "kit/ui/ToolPane.h"
#include "kit/ui/ToolbarSearchField.h"
#include "kit/ui/ToolbarSearchItem.h"
#include "kit/ui/ToolbarSegmentedPicker.h"
#include "formats/JSONSyntaxTokens.h"
#include "tools/json/JSONToolViewModel.h"
#include "kit/ui/CodeEditor.h"
#include "kit/ui/JSONColouring.h"
#include "kit/ui/JSONSyntaxHighlighter.h"
#include "tools/json/ui/JSONToolView.h"

#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using Pane = JSONToolViewModel::Pane;

class JSONToolViewTest : public QObject {
    Q_OBJECT

    static void waitForFormat(JSONToolViewModel& m)
    {
        QSignalSpy spy(&m, &JSONToolViewModel::formatFinished);
        QVERIFY(spy.wait(3000));
    }

    static QString shotPath(const QString& name)
    {
        const QString dir = QDir::current().filePath(QStringLiteral("screenshots"));
        QDir().mkpath(dir);
        return QDir(dir).filePath(name);
    }

    static CodeEditor::Options highlighting(bool largeDocument, bool editable, bool findBar = false)
    {
        CodeEditor::Options options;
        options.largeDocument = largeDocument;
        options.findBar = findBar;
        options.colouring = std::make_shared<JSONColouring>(largeDocument, !findBar);
        options.isEditable = editable;
        return options;
    }

    static const JSONSyntaxHighlighter* syntaxOf(const CodeEditor& editor)
    {
        const auto* colouring = dynamic_cast<const JSONColouring*>(editor.colouring());
        return colouring ? &colouring->syntax() : nullptr;
    }

    static void showAt(QWidget& widget, int width, int height)
    {
        widget.resize(width, height);
        widget.show();
    }

    // The input editor focused, its whole text replaced by `text` as typed.
    static CodeTextView* typeOverInput(JSONToolView& view, const QString& text)
    {
        CodeTextView* input = view.inputEditor()->textView();
        input->setFocus();
        input->selectAll();
        input->insertPlainText(text);
        return input;
    }

    // One line: an array of `element` repeated to at least `length` units, closed by `last`.
    static QString longArray(qsizetype length, const QString& element, const QString& last)
    {
        QString line = QStringLiteral("[");
        while (line.size() < length)
            line += element;
        return line + last;
    }

private slots:
    void preparedBufferShowsTheSameText_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("prepared");
        const QString big = QStringLiteral("{\n  \"k\": [1, 2, 3],\n").repeated(6000) + u'}';
        QTest::newRow("new text, matching buffer") << QStringLiteral("{}") << big << big;
        QTest::newRow("new text, buffer of another text") << QStringLiteral("{}") << big << QStringLiteral("[1]");
        QTest::newRow("small change, buffer ignored") << big << QString(big).replace(30, 1, u'9') << big;
        QTest::newRow("small text") << QStringLiteral("{}") << QStringLiteral("[1, 2]") << QStringLiteral("[1, 2]");
    }
    // Handing a prepared buffer to the editor shows the same as setting the text alone.
    void preparedBufferShowsTheSameText()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QString, prepared);
        CodeEditor plain(highlighting(true, false)), handed(highlighting(true, false));
        for (CodeEditor* e : {&plain, &handed}) {
            showAt(*e, 500, 400);
            e->setText(before);
        }
        plain.setText(after);
        handed.setText(after, CodeTextBuffer(prepared));
        QCOMPARE(handed.text(), after);
        QCOMPARE(handed.textView()->text(), after);
        QCOMPARE(handed.textView()->text(), plain.textView()->text());
        QCOMPARE(handed.textView()->rowCount(), plain.textView()->rowCount());
        QCOMPARE(syntaxOf(handed)->token(after.size() / 2), syntaxOf(plain)->token(after.size() / 2));
    }

    void largeTextsEndAsLatin1_data()
    {
        QTest::addColumn<bool>("opened");
        QTest::newRow("a file opened") << true;
        QTest::newRow("a text set by the host") << false;
    }
    // A large document and its output are kept as Latin-1 once shown, whether the output was shown
    // before its copy was made (a text set whole) or comes with it (a change of the options).
    void largeTextsEndAsLatin1()
    {
        QFETCH(bool, opened);
        const QString doc = QStringLiteral("[") + QStringLiteral("{\"caf\u00E9\": [1, 2.5, true], \"k\": \"v\"},\n").repeated(8000)
            + QStringLiteral("null]");
        JSONToolViewModel model;
        JSONToolView view(&model);
        showAt(view, 900, 600);
        QTemporaryDir dir;
        QSignalSpy finished(&model, &JSONToolViewModel::formatFinished);
        if (opened)
            model.open(writeFile(dir, QStringLiteral("large.json"), doc.toUtf8()));
        else
            model.setText(doc);
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() > 0 && !model.isFormatPending(), 20000);
        const CodeTextBuffer& input = view.inputEditor()->textView()->buffer();
        const CodeTextBuffer& output = view.outputEditor()->textView()->buffer();
        QCOMPARE(input.text(), doc);
        QTRY_VERIFY_WITH_TIMEOUT(!input.isNarrowingPending() && !output.isNarrowingPending(), 20000);
        QVERIFY(input.hasLatin1Blocks());
        QVERIFY(output.hasLatin1Blocks());
        QCOMPARE(output.text(), model.formattedOutput());

        model.setSortMode(JSONFormatter::SortMode::ascending);
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() > 1 && !model.isFormatPending(), 20000);
        QVERIFY(!output.isNarrowingPending());
        QVERIFY(output.hasLatin1Blocks());
        QCOMPARE(output.text(), model.formattedOutput());
    }

    void modelFollowsTheInputEditor_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("set");
        QTest::newRow("another text") << QStringLiteral("{\"a\":1}") << QStringLiteral("[1,2]");
        QTest::newRow("the typed text again") << QStringLiteral("[\n1]") << QStringLiteral("[\n1]");
        QTest::newRow("an empty text") << QStringLiteral("{") << QString();
    }

    // Typing, deleting everything and a program set: the model and the editor hold one text.
    void modelFollowsTheInputEditor()
    {
        QFETCH(QString, typed);
        QFETCH(QString, set);
        JSONToolViewModel model;
        JSONToolView view(&model);
        showAt(view, 1000, 700);
        CodeTextView* input = typeOverInput(view, typed);
        QCOMPARE(input->text(), typed);
        QCOMPARE(model.text(), input->text());
        QCOMPARE(view.inputEditor()->text(), input->text());

        input->selectAll();
        QTest::keyClick(input, Qt::Key_Delete);
        QCOMPARE(input->text(), QString());
        QCOMPARE(model.text(), QString());
        QCOMPARE(view.inputEditor()->text(), QString());

        input->insertPlainText(typed);
        QCOMPARE(model.text(), typed);
        // The user's edit stays undoable; a program set, even of an equal text, is set anew.
        QVERIFY(input->canUndo());
        model.setText(set);
        QVERIFY(!input->canUndo());
        QCOMPARE(input->text(), set);
        QCOMPARE(view.inputEditor()->text(), set);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isFormatPending(), 10000);
        QCOMPARE(view.outputEditor()->textView()->text(), model.shownOutput());
    }

    // A large paste over everything, then typing: the model follows every keystroke.
    void largePasteThenTyping()
    {
        JSONToolViewModel model;
        JSONToolView view(&model);
        showAt(view, 1000, 700);
        const QString doc = QStringLiteral("{\"id\":1,\"name\":\"a b\"},").repeated(50'000).prepend(u'[').append(QStringLiteral("1]"));
        CodeTextView* input = typeOverInput(view, doc);
        QCOMPARE(model.text(), doc);
        QString expected = doc;
        for (int i = 0; i < 6; ++i) {
            const qsizetype at = doc.size() / 3 + i * 7;
            input->setSelection(at, at);
            QTest::keyClick(input, Qt::Key_Space);
            expected.insert(at, u' ');
            QCOMPARE(model.text(), expected);
            QCOMPARE(view.inputEditor()->text(), expected);
            // Every other keystroke comes after the run it started has finished.
            if (i % 2)
                QTRY_VERIFY_WITH_TIMEOUT(!model.isFormatPending(), 10000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!model.shownOutput().isEmpty() && !model.isFormatPending(), 5000);
        QCOMPARE(view.outputEditor()->text(), model.shownOutput());
        QCOMPARE(view.outputEditor()->textView()->text(), model.shownOutput());
    }
    void showsTheFormattedSample()
    {
        JSONToolViewModel model;
        JSONToolView view(&model);
        showAt(view, 1100, 640);
        QVERIFY(view.runsOwnFind());
        waitForFormat(model);
        QCoreApplication::processEvents();
        QCOMPARE(badgeText(view.inputPane()), QStringLiteral("VALID"));
        QCOMPARE(view.outputEditor()->text(), model.formattedOutput());
        QCOMPARE(view.inputLinesMetric()->text(), QStringLiteral("6 lines"));
        QCOMPARE(view.inputBytesMetric()->text(), QStringLiteral("103 B"));
        QCOMPARE(view.inputKeysMetric()->text(), QStringLiteral("4 keys"));
        QCOMPARE(view.titleText(), QStringLiteral("Untitled \u2014 JSON"));
        // The output is coloured: the first key is a key token.
        const qsizetype key = model.formattedOutput().indexOf(QStringLiteral("\"tool\""));
        const auto token = syntaxOf(*view.outputEditor())->token(key);
        QVERIFY(token);
        QCOMPARE(token->first, JSONSyntaxTokens::Token::key);
        QVERIFY(view.grab().save(shotPath(QStringLiteral("json-tool-formatted.png"))));
    }

    void invalidInputShowsTheBanner()
    {
        JSONToolViewModel model;
        JSONToolView view(&model);
        showAt(view, 1000, 600);
        model.setText(QStringLiteral("{\"a\": [1, 2,]}"));
        waitForFormat(model);
        QCoreApplication::processEvents();
        QVERIFY(view.banner()->isVisible());
        QCOMPARE(view.bannerMessage()->text(), *model.validation().error);
        QCOMPARE(badgeText(view.inputPane()), QStringLiteral("INVALID"));
        QVERIFY(view.outputEditor()->text().isEmpty());
        QVERIFY(view.grab().save(shotPath(QStringLiteral("json-tool-invalid.png"))));
        model.setText(QStringLiteral("  "));
        waitForFormat(model);
        QVERIFY(!view.banner()->isVisible());
        QVERIFY(!view.inputPane()->badge());
    }

    void searchShowsScopeBarCounterAndMatches()
    {
        JSONToolViewModel model;
        JSONToolView view(&model);
        showAt(view, 1100, 640);
        waitForFormat(model);
        QVERIFY(!view.scopeBar()->isVisible());
        model.setSearchQuery(QStringLiteral("at"));
        QVERIFY(view.scopeBar()->isVisible());
        QSignalSpy result(&model, &JSONToolViewModel::searchResultChanged);
        QVERIFY(result.wait(2000));
        QCOMPARE(view.outputEditor()->highlights(), model.outputMatches());
        QCOMPARE(view.outputMatchMetric()->text(), QStringLiteral("2 matches"));
        // Find Next through the Find menu.
        view.findInTool(ToolView::FindAction::nextMatch);
        QCOMPARE(view.outputEditor()->current(), std::optional<TextRange>(model.outputMatches().at(0)));
        QCOMPARE(view.outputMatchMetric()->text(), QStringLiteral("1 of 2 matches"));
        QCoreApplication::processEvents();
        QVERIFY(view.grab().save(shotPath(QStringLiteral("json-tool-search.png"))));
        model.setSearchQuery(QString());
        QVERIFY(!view.scopeBar()->isVisible());
    }

    void findRouting_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<int>("expectedSelection");
        QTest::newRow("next") << int(ToolView::FindAction::nextMatch) << true << 0;
        QTest::newRow("previous") << int(ToolView::FindAction::previousMatch) << true << 1;
    }
    void findRouting()
    {
        QFETCH(int, action);
        QFETCH(bool, visible);
        QFETCH(int, expectedSelection);
        JSONToolViewModel model;
        JSONToolView view(&model);
        if (visible)
            view.show();
        model.setText(QStringLiteral("[\"ab\", \"ab\"]"));
        model.setSearchQuery(QStringLiteral("ab"));
        QSignalSpy result(&model, &JSONToolViewModel::searchResultChanged);
        QVERIFY(result.wait(2000) || model.outputMatches().size() == 2);
        while (model.outputMatches().size() != 2)
            QVERIFY(result.wait(2000));
        view.findInTool(ToolView::FindAction(action));
        if (expectedSelection < 0)
            QCOMPARE(model.outputSelection(), (TextRange{0, 0}));
        else
            QCOMPARE(model.outputSelection(), model.outputMatches().at(expectedSelection));
    }

    void showFindFocusesTheSearchField()
    {
        JSONToolViewModel model;
        JSONToolView view(&model);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.activateWindow();
        view.inputEditor()->setFocus();
        view.findInTool(ToolView::FindAction::showFindInterface);
        QTRY_VERIFY(view.searchItem()->field()->hasFocus());
    }

    void copyShowsConfirmationOnlyWhenSomethingWasCopied()
    {
        JSONToolViewModel model;
        JSONToolView view(&model);
        view.show();
        // Nothing to copy: the output is still empty before the first run, so no confirmation.
        view.outputCopyButton()->click();
        QVERIFY(!view.isOutputCopyFlashing());
        view.inputCopyButton()->click();
        QVERIFY(view.isInputCopyFlashing());
        QCOMPARE(view.inputCopyButton()->title(), QStringLiteral("Copied"));
        QTRY_VERIFY_WITH_TIMEOUT(!view.isInputCopyFlashing(), 3000);
        QCOMPARE(view.inputCopyButton()->title(), QStringLiteral("Copy"));
        view.clearButton()->click();
        QVERIFY(model.text().isEmpty());
        QVERIFY(!view.inputCopyButton()->isEnabled());
    }

    // The shell keeps each tool's view in a stack: choosing another tool hides the view, and
    // coming back shows it again. Either way, as with a view made anew, no confirmation is left.
    void copyConfirmationEndsWithAToolSwitch_data()
    {
        QTest::addColumn<bool>("remade");
        QTest::newRow("view hidden and shown again") << false;
        QTest::newRow("view made anew") << true;
    }
    void copyConfirmationEndsWithAToolSwitch()
    {
        QFETCH(bool, remade);
        JSONToolViewModel model;
        QStackedWidget stack;
        auto* other = new QWidget;
        auto* view = new JSONToolView(&model);
        stack.addWidget(view);
        stack.addWidget(other);
        stack.show();
        QVERIFY(QTest::qWaitForWindowExposed(&stack));
        QTRY_VERIFY(!model.shownOutput().isEmpty());
        view->inputCopyButton()->click();
        view->outputCopyButton()->click();
        QVERIFY(view->isInputCopyFlashing());
        QVERIFY(view->isOutputCopyFlashing());

        stack.setCurrentWidget(other);
        if (remade) {
            delete view;
            view = new JSONToolView(&model);
            stack.addWidget(view);
        }
        stack.setCurrentWidget(view);
        for (PaneButton* copy : {view->inputCopyButton(), view->outputCopyButton()}) {
            QCOMPARE(copy->title(), QStringLiteral("Copy"));
            QVERIFY(copy->isEnabled());
        }
        QVERIFY(!view->isInputCopyFlashing());
        QVERIFY(!view->isOutputCopyFlashing());

        view->inputCopyButton()->click();
        QVERIFY(view->isInputCopyFlashing());
        QTRY_VERIFY_WITH_TIMEOUT(!view->isInputCopyFlashing(), 3000);
        QCOMPARE(view->inputCopyButton()->title(), QStringLiteral("Copy"));
    }

    void typingReachesTheModel()
    {
        JSONToolViewModel model;
        JSONToolView view(&model);
        view.show();
        model.setText(QString());
        view.inputEditor()->textView()->setFocus();
        view.inputEditor()->textView()->insertPlainText(QStringLiteral("[true]"));
        QCOMPARE(model.text(), QStringLiteral("[true]"));
        waitForFormat(model);
        QCOMPARE(view.outputEditor()->text(), QStringLiteral("[\n  true\n]"));
    }

    void editorAppliesAMinimalEdit()
    {
        CodeEditor editor(highlighting(true, true));
        editor.setText(QStringLiteral("abc"));
        QSignalSpy changed(editor.textView(), &CodeTextView::textChanged);
        editor.setText(QStringLiteral("abXc"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toLongLong(), 2);
        QCOMPARE(changed.at(0).at(1).toLongLong(), 1);
        QVERIFY(!editor.textView()->canUndo());
    }

    void editorCurrentMatchMustBeAHighlight_data()
    {
        QTest::addColumn<qsizetype>("location");
        QTest::addColumn<qsizetype>("length");
        QTest::addColumn<bool>("shown");
        QTest::newRow("a match") << qsizetype(1) << qsizetype(2) << true;
        QTest::newRow("not a match") << qsizetype(0) << qsizetype(2) << false;
        QTest::newRow("empty") << qsizetype(1) << qsizetype(0) << false;
        QTest::newRow("past the end") << qsizetype(20) << qsizetype(2) << false;
    }
    void editorCurrentMatchMustBeAHighlight()
    {
        QFETCH(qsizetype, location);
        QFETCH(qsizetype, length);
        QFETCH(bool, shown);
        CodeEditor editor(CodeEditor::Options{});
        editor.setText(QStringLiteral("[\"ab\", \"ab\"]"));
        editor.setHighlights({{1, 2}, {20, 2}});
        editor.setCurrent(TextRange{location, length});
        QCOMPARE(editor.current().has_value(), shown);
    }

    void longLinesAreKeptApart()
    {
        CodeEditor editor(highlighting(true, false));
        showAt(editor, 600, 400);
        QString line = longArray(5000, QStringLiteral("\"k\", 12, "), QStringLiteral("0]"));
        editor.setText(QStringLiteral("{\"a\": 1}\n") + line);
        const auto* h = syntaxOf(editor);
        QCOMPARE(h->longLines().lines.size(), size_t(1));
        QCOMPARE(h->token(9 + 1)->first, JSONSyntaxTokens::Token::string);
        QCOMPARE(h->token(1)->first, JSONSyntaxTokens::Token::key);
        // An edit inside the long line recomputes it.
        editor.setText(QStringLiteral("{\"a\": 1}\n") + line.replace(1, 3, QStringLiteral("7")));
        QCOMPARE(h->token(10)->first, JSONSyntaxTokens::Token::number);
    }

    void editsRecolourTheirLines_data()
    {
        QTest::addColumn<bool>("largeDocument");
        QTest::newRow("large document, coloured as shown") << true;
        QTest::newRow("small document, coloured whole") << false;
    }
    // The user's edits recolour from the view's lines alone: every coloured unit has the kind
    // its line has on its own.
    void editsRecolourTheirLines()
    {
        QFETCH(bool, largeDocument);
        CodeEditor editor(highlighting(largeDocument, true, true));
        showAt(editor, 600, 400);
        editor.setText(QStringLiteral("{\n  \"a\": [1, true],\n  \"b\": \"x\"\n}").repeated(8));
        const QStringList pieces{QStringLiteral("\"k\": "), QStringLiteral("12"), QStringLiteral("\n"),
                                 QStringLiteral("null, "), QStringLiteral("\""), QStringLiteral("{\n\"s\": [\n")};
        QRandomGenerator random(23);
        CodeTextView* view = editor.textView();
        for (int round = 0; round < 60; ++round) {
            const qsizetype at = random.bounded(int(view->length() + 1));
            const qsizetype removed = std::min<qsizetype>(random.bounded(3), view->length() - at);
            view->setSelection(at, at + removed);
            view->insertPlainText(pieces.at(random.bounded(int(pieces.size()))));
            const QString text = editor.text();
            qsizetype lineStart = 0;
            for (const QString& line : text.split(u'\n')) {
                const JSONSyntaxTokens::TokenArray expected = JSONSyntaxTokens::tokens(line + u'\n');
                for (qsizetype i = 0; i < line.size(); ++i)
                    if (const auto token = syntaxOf(editor)->token(lineStart + i))
                        QCOMPARE(token->first, expected[size_t(i)]);
                lineStart += line.size() + 1;
            }
        }
    }

    // A line of megabytes (a minified document) gets its colours off the GUI thread: it shows
    // plain at first, then coloured as a short line would be; a newer text supersedes them.
    void veryLongLineIsColouredLater()
    {
        CodeEditor editor(highlighting(true, false));
        showAt(editor, 600, 400);
        QString line = longArray(2 * JSONColouring::deferredLongLine, QStringLiteral("{\"k\": \"v\", \"n\": 12, \"t\": true}, "),
                                 QStringLiteral("null]"));
        const auto* h = syntaxOf(editor);
        for (int round = 0; round < 2; ++round) {
            if (round == 1)
                line.replace(2, 1, QStringLiteral("kk"));
            editor.setText(line);
            QCOMPARE(h->pendingLongLines().size(), 1);
            QVERIFY(!h->token(2));
            QTRY_VERIFY(h->pendingLongLines().isEmpty());
            const JSONSyntaxTokens::TokenArray expected = JSONSyntaxTokens::tokens(line);
            for (qsizetype at : {qsizetype(0), qsizetype(2), qsizetype(8), line.size() / 2, line.size() - 2})
                QCOMPARE(h->token(at)->first, expected[size_t(at)]);
        }
    }

    // In Minify mode the indent choice does not apply: the picker is disabled and looks it,
    // keeping its selection for the way back to Format.
    void minifyDisablesTheIndentPicker()
    {
        JSONToolViewModel model;
        JSONToolView view(&model);
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        ToolbarSegmentedPicker* indent = view.indentPicker();
        QVERIFY(indent->isEnabled());
        QVERIFY(indent->isActiveLook());
        view.outputModePicker()->segments().at(1)->click();
        QCOMPARE(model.outputMode(), JSONToolViewModel::OutputMode::minified);
        QVERIFY(!indent->isEnabled());
        QVERIFY(!indent->isActiveLook());
        QVERIFY(indent->isSegmentSelected(0));
        view.outputModePicker()->segments().at(0)->click();
        QVERIFY(indent->isEnabled());
        QVERIFY(indent->isActiveLook());
        QVERIFY(indent->isSegmentSelected(0));
    }
};

QUORRIX_TEST_MAIN(JSONToolViewTest)
#include "JSONToolViewTest.moc"
