#include "support/QuorrixTestMain.h"

#include "kit/ui/CodeTextView.h"
#include "tools/mermaid/MermaidEditorController.h"
#include "tools/mermaid/ui/MermaidEditor.h"

#include <QSignalSpy>

class MermaidEditorTest : public QObject {
    Q_OBJECT
private slots:
    void typingReportsOnceAndTheEchoChangesNothing()
    {
        MermaidEditorController controller;
        MermaidEditor editor(QStringLiteral("pie"), &controller);
        QSignalSpy edits(&editor, &MermaidEditor::textEdited);
        editor.textView()->setSelection(3, 3);
        editor.textView()->insertPlainText(QStringLiteral(" showData"));
        QCOMPARE(edits.count(), 1);
        QCOMPARE(edits[0][0].toString(), QStringLiteral("pie showData"));
        editor.setText(QStringLiteral("pie showData"));
        QVERIFY(editor.textView()->canUndo());
        QCOMPARE(editor.textView()->caretPosition(), 12);
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
        QCOMPARE(edits[0][0].toString(), text);
        editor.setText(text);
        QVERIFY(editor.textView()->canUndo());
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
        QCOMPARE(editor.lastText(), QStringLiteral("old text"));
    }

    void replaceAllAfterTheEditorIsGoneDoesNothing()
    {
        MermaidEditorController controller;
        {
            MermaidEditor editor(QStringLiteral("x"), &controller);
        }
        controller.replaceAll(QStringLiteral("y"));
    }
};

QUORRIX_TEST_MAIN(MermaidEditorTest)
#include "MermaidEditorTest.moc"
