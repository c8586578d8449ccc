#include "kit/TextHelpers.h"
#include "kit/ui/TextDropTextView.h"

#include "support/QuorrixTestMain.h"

#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QVBoxLayout>

namespace {

// A tool view around an editor that takes dropped files, as the Markdown and Mermaid views do.
class DropHost : public QWidget {
public:
    DropHost() { setAcceptDrops(true); }
    int enters = 0;
    QList<QUrl> dropped;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        ++enters;
        event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override
    {
        dropped = event->mimeData()->urls();
        event->acceptProposedAction();
    }
};

// An editor's model: the text it last took from the editor's change report.
struct EditorModel {
    QString text;
    int reports = 0;
    void watch(QPlainTextEdit* editor)
    {
        QObject::connect(editor, &QPlainTextEdit::textChanged, editor, [this, editor] {
            text = TextHelpers::nativeTextCopy(*editor->document());
            ++reports;
        });
    }
};

} // namespace

class TextViewHelpersTest : public QObject {
    Q_OBJECT
private slots:
    void dropFilter_data()
    {
        QTest::addColumn<bool>("files");
        QTest::addColumn<bool>("editorTakesIt");
        QTest::newRow("file drag goes to the tool view") << true << false;
        QTest::newRow("text drag goes into the editor") << false << true;
    }
    void dropFilter()
    {
        QFETCH(bool, files);
        QFETCH(bool, editorTakesIt);
        DropHost host;
        auto* layout = new QVBoxLayout(&host);
        auto* editor = new TextDropTextView;
        layout->addWidget(editor);
        host.resize(300, 200);
        host.show();

        QMimeData data;
        if (files)
            data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/notes.md")),
                          QUrl::fromLocalFile(QStringLiteral("/tmp/more.md"))});
        // File managers put the paths in as text too.
        data.setText(files ? QStringLiteral("/tmp/notes.md\n/tmp/more.md") : QStringLiteral("dragged text"));
        const QPoint at(20, 20);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QCOMPARE(host.enters, editorTakesIt ? 0 : 1);
        QCOMPARE(TextDropTextView::isFileDrag(&data), files);

        if (editorTakesIt) {
            QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(editor->viewport(), &move);
            QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(editor->viewport(), &drop);
            QCOMPARE(editor->toPlainText(), QStringLiteral("dragged text"));
        } else {
            QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(editor->viewport(), &drop);
            QVERIFY(editor->toPlainText().isEmpty());
        }
    }

    void pasteNormalisesLineBreaks_data()
    {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("text");
        QTest::newRow("CR LF") << "a\r\nb" << "a\nb";
        QTest::newRow("CR") << "a\rb\r" << "a\nb\n";
        QTest::newRow("no-break space kept") << QString::fromUtf16(u"x\u00A0y") << QString::fromUtf16(u"x\u00A0y");
    }
    void pasteNormalisesLineBreaks()
    {
        QFETCH(QString, pasted);
        QFETCH(QString, text);
        TextDropTextView editor;
        EditorModel model;
        model.watch(&editor);
        editor.show();
        QMimeData data;
        data.setText(pasted);
        QDropEvent drop(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor.viewport(), &enter);
        QApplication::sendEvent(editor.viewport(), &drop);
        QCOMPARE(model.text, text);
        QCOMPARE(TextHelpers::lineCount(model.text), TextHelpers::lineCount(pasted));
    }

    // Qt's editors report every change of their document, undo and redo included, whatever has
    // the focus; so the model never misses an undo made while another control is focused.
    void typingReportsOnce()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* editor = new TextDropTextView;
        layout->addWidget(editor);
        window.show();
        EditorModel model;
        model.watch(editor);
        editor->setFocus();
        QTest::keyClicks(editor, QStringLiteral("ab"));
        QCOMPARE(model.reports, 2);
        QCOMPARE(model.text, QStringLiteral("ab"));
    }

    void undoReachesModel_data()
    {
        QTest::addColumn<bool>("focused");
        QTest::newRow("focused editor") << true;
        QTest::newRow("focus in another control") << false;
    }
    void undoReachesModel()
    {
        QFETCH(bool, focused);
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* editor = new TextDropTextView;
        auto* other = new QLineEdit;
        layout->addWidget(editor);
        layout->addWidget(other);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        EditorModel model;
        model.watch(editor);
        editor->setFocus();
        QTest::keyClicks(editor, QStringLiteral("hello"));
        QCOMPARE(model.text, QStringLiteral("hello"));
        if (!focused) {
            other->setFocus();
            QTRY_VERIFY(other->hasFocus());
        }
        const int before = model.reports;
        editor->undo(); // what the Edit menu's Undo does for the editor
        QCOMPARE(model.text, QString());
        QCOMPARE(model.reports, before + 1);
        editor->redo();
        QCOMPARE(model.text, QStringLiteral("hello"));
        QCOMPARE(model.reports, before + 2);
    }

    void undoElsewhereLeavesEditorQuiet()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* first = new TextDropTextView;
        auto* second = new TextDropTextView;
        layout->addWidget(first);
        layout->addWidget(second);
        window.show();
        EditorModel model;
        model.watch(first);
        second->setFocus();
        QTest::keyClicks(second, QStringLiteral("other"));
        second->undo();
        QCOMPARE(model.reports, 0);
    }

    // One paragraph of 10,000 wrapped lines: scrolling through it shows text at every step,
    // and the paragraph keeps its one layout (no new layout of the whole paragraph per frame).
    void longParagraphScrolls()
    {
        QPlainTextEdit editor;
        editor.setLineWrapMode(QPlainTextEdit::WidgetWidth);
        QFont font = editor.font();
        font.setPixelSize(13);
        editor.setFont(font);
        editor.resize(400, 300);
        QString paragraph;
        const QString word = QStringLiteral("lorem ipsum dolor ");
        // About five words a line at this width.
        while (paragraph.size() < 10000 * 70)
            paragraph += word;
        editor.setPlainText(paragraph);
        editor.show();
        QCoreApplication::processEvents();

        const QTextBlock block = editor.document()->firstBlock();
        QTextLayout* layout = block.layout();
        QVERIFY2(layout->lineCount() >= 10000, qPrintable(QString::number(layout->lineCount())));
        const int lines = layout->lineCount();
        QScrollBar* bar = editor.verticalScrollBar();
        QVERIFY(bar->maximum() > 9000);
        for (int step = 0; step <= 20; ++step) {
            bar->setValue(bar->maximum() * step / 20);
            const QImage frame = editor.viewport()->grab().toImage();
            int dark = 0;
            for (int y = 0; y < frame.height(); y += 2)
                for (int x = 0; x < frame.width(); x += 2)
                    dark += frame.pixelColor(x, y).lightness() < 128 ? 1 : 0;
            QVERIFY2(dark > 100, qPrintable(QStringLiteral("blank frame at step %1").arg(step)));
            QCOMPARE(block.layout(), layout);
            QCOMPARE(layout->lineCount(), lines);
        }
        QCOMPARE(TextHelpers::nativeTextCopy(*editor.document()), paragraph);
    }
};

QUORRIX_TEST_MAIN(TextViewHelpersTest)
#include "TextViewHelpersTest.moc"
