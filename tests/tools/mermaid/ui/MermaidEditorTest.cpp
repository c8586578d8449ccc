#include "support/QuorrixTestMain.h"

#include "kit/ui/CodeTextView.h"
#include "kit/ui/FindBar.h"
#include "kit/ui/FindableTextView.h"
#include "kit/ui/TextFinder.h"
#include "tools/mermaid/MermaidEditorController.h"
#include "tools/mermaid/ui/MermaidEditor.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

class MermaidEditorTest : public QObject {
    Q_OBJECT
private slots:
    void typingReportsTheEditOnce()
    {
        MermaidEditorController controller;
        MermaidEditor editor(QStringLiteral("pie"), &controller);
        QSignalSpy edits(&editor, &MermaidEditor::textEdited);
        editor.textView()->setSelection(3, 3);
        editor.textView()->insertPlainText(QStringLiteral(" showData"));
        QCOMPARE(edits.count(), 1);
        const auto edit = qvariant_cast<TextEdit>(edits[0][0]);
        QCOMPARE(edit.position, 3);
        QCOMPARE(edit.removedLength, 0);
        QCOMPARE(edit.inserted, QStringLiteral(" showData"));
        QCOMPARE(editor.textView()->snapshot().text(), QStringLiteral("pie showData"));
        // The model's text is always set, the same text too: the caret stays, undo goes.
        editor.setText(QStringLiteral("pie showData"));
        QVERIFY(!editor.textView()->canUndo());
        QCOMPARE(editor.textView()->caretPosition(), 12);
        QCOMPARE(edits.count(), 1);
    }

    void modelTextClampsTheCaretAndClearsUndo()
    {
        MermaidEditorController controller;
        MermaidEditor editor(QStringLiteral("flowchart TD\n  A --> B"), &controller);
        editor.textView()->setSelection(20, 20);
        editor.textView()->insertPlainText(QStringLiteral("x"));
        editor.setText(QStringLiteral("pie"));
        QCOMPARE(editor.textView()->text(), QStringLiteral("pie"));
        QCOMPARE(editor.textView()->caretPosition(), 3);
        QVERIFY(!editor.textView()->canUndo());
    }

    void normalisationCountsAsAChange()
    {
        MermaidEditor editor(QString::fromUtf8("caf\xC3\xA9"), nullptr);
        editor.setText(QString::fromUtf8("cafe\xCC\x81"));
        QCOMPARE(editor.textView()->text(), QString::fromUtf8("cafe\xCC\x81"));
    }

    void loneSurrogateReachesTheModelUnchanged()
    {
        MermaidEditor editor(QString(), nullptr);
        QSignalSpy edits(&editor, &MermaidEditor::textEdited);
        const QString text = QStringLiteral("A") + QChar(0xD800) + QStringLiteral("B");
        editor.textView()->insertPlainText(text);
        QCOMPARE(edits.count(), 1);
        QCOMPARE(qvariant_cast<TextEdit>(edits[0][0]).inserted, text);
        QCOMPARE(editor.textView()->snapshot().text(), text);
    }

    // The Find menu goes to the text view with a find bar that holds the focus, or one of its
    // ancestors; the editor's bar then finds in the source.
    void findMenuReachesTheEditorsFindBar()
    {
        MermaidEditor editor(QStringLiteral("flowchart TD\n  Start --> Stop\n  Stop --> start\n"), nullptr);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        editor.setFocus();
        QCOMPARE(QApplication::focusWidget(), editor.textView());
        TextFinder* finder = nullptr;
        for (QWidget* w = QApplication::focusWidget(); w && !finder; w = w->parentWidget())
            finder = dynamic_cast<TextFinder*>(w);
        QVERIFY(finder);
        finder->performTextFinderAction(ToolView::FindAction::showFindInterface);
        QVERIFY(editor.findable()->isFindBarVisible());
        QTest::keyClicks(editor.findable()->findBar()->field(), QStringLiteral("start"));
        QTRY_COMPARE(editor.textView()->selection().location, 15);
        finder->performTextFinderAction(ToolView::FindAction::nextMatch);
        QTRY_COMPARE(editor.textView()->selection().location, 41);
        QCOMPARE(editor.textView()->selection().length, 5);
    }

    void replaceAllIsOneUndoableEdit()
    {
        MermaidEditorController controller;
        MermaidEditor editor(QStringLiteral("old text"), &controller);
        QSignalSpy edits(&editor, &MermaidEditor::textEdited);
        QVERIFY(controller.replaceAll);
        controller.replaceAll(QStringLiteral("gantt\n"));
        QCOMPARE(editor.textView()->text(), QStringLiteral("gantt\n"));
        QCOMPARE(edits.count(), 1);
        editor.textView()->undo();
        QCOMPARE(editor.textView()->text(), QStringLiteral("old text"));
        QCOMPARE(editor.textView()->snapshot().text(), QStringLiteral("old text"));
    }

    // The action outlives the editor and must reach nothing: not the text view that went with
    // it, nor one made since (in the memory it left), nor any other editor.
    void replaceAllAfterTheEditorIsGoneDoesNothing()
    {
        MermaidEditorController controller;
        {
            MermaidEditor editor(QStringLiteral("x"), &controller);
        }
        QVERIFY(controller.replaceAll);
        MermaidEditor other(QStringLiteral("other"), nullptr);
        QSignalSpy edits(&other, &MermaidEditor::textEdited);
        controller.replaceAll(QStringLiteral("y"));
        QCOMPARE(other.textView()->text(), QStringLiteral("other"));
        QCOMPARE(edits.count(), 0);
        QVERIFY(!other.textView()->canUndo());
        // The next editor installs an action of its own, which reaches it.
        MermaidEditor next(QStringLiteral("next"), &controller);
        controller.replaceAll(QStringLiteral("z"));
        QCOMPARE(next.textView()->text(), QStringLiteral("z"));
        QCOMPARE(other.textView()->text(), QStringLiteral("other"));
    }
};

QUORRIX_TEST_MAIN(MermaidEditorTest)
#include "MermaidEditorTest.moc"
