#include "kit/CodeTextModel.h"
#include "kit/TextHelpers.h"

#include "kit/CodeTextHighlighter.h"
#include "kit/ui/CodeTextLayout.h"
#include "kit/ui/CodeTextView.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextLayout>

#include <climits>

namespace {

// Colours JSON-ish text by character class, with optional match ranges on top.
class SampleHighlighter : public CodeTextHighlighter {
public:
    QList<TextRange> matches;
    TextRange current{-1, 0};
    void runs(const CodeTextBuffer& buffer, qsizetype from, qsizetype to, QList<CodeTextRun>& out) const override
    {
        // String state is taken from the line start, so a wrapped row continues its string.
        const qsizetype lineStart = buffer.lineStart(buffer.lineAt(from));
        const QString text = buffer.mid(lineStart, to - lineStart);
        from = lineStart;
        bool inString = false;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            QColor colour;
            if (c == QLatin1Char('"')) {
                inString = !inString;
                colour = QColor(0x1F7F36);
            } else if (inString) {
                colour = QColor(0x1F7F36);
            } else if (c.isDigit()) {
                colour = QColor(0xB85000);
            } else if (QStringLiteral("{}[],:").contains(c)) {
                colour = QColor(0x737373);
            }
            if (colour.isValid())
                out.append({from + i, from + i + 1, colour, QColor(), false});
        }
        for (const TextRange& m : matches) {
            const bool isCurrent = m == current;
            out.append({m.location, m.end(), isCurrent ? QColor(Qt::black) : QColor(),
                isCurrent ? QColor(255, 214, 10) : QColor(255, 214, 10, 77), false});
        }
    }
};

} // namespace

class CodeTextViewTest : public QObject {
    Q_OBJECT
private slots:
    void setBufferEqualsSetText_data();
    void setBufferEqualsSetText();
    void randomEditScript_data();
    void randomEditScript();
    void caretMovement_data();
    void caretMovement();
    void wrapRows_data();
    void wrapRows();
    void selection_data();
    void selection();
    void clipboard_data();
    void clipboard();
    void typingUndo_data();
    void typingUndo();
    void programEditsClearUndo();
    void readOnly();
    void arrowsMoveOnScreen_data();
    void arrowsMoveOnScreen();
    void tabKeys_data();
    void tabKeys();
    void notifications();
    void narrowsLater_data();
    void narrowsLater();
    void revealAndDrops();
    void screenshot();
    void widthChangeOnManyLines_data();
    void widthChangeOnManyLines();
};

static void sizeForColumns(CodeTextView& view, int columns)
{
    const int width = int(std::ceil(columns * view.characterWidth())) + view.textMargins().left()
        + view.textMargins().right() + 2 * view.frameWidth() + view.verticalScrollBar()->sizeHint().width();
    view.show();
    view.resize(width, 300);
    for (int guard = 0; guard < 8 && view.columnCount() != columns; ++guard)
        view.resize(view.width() + (view.columnCount() < columns ? 1 : -1), 300);
}

void CodeTextViewTest::randomEditScript_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("wrap");
    QTest::addColumn<int>("longLine");
    QTest::newRow("wrapped") << 11u << true << 0;
    QTest::newRow("unwrapped") << 12u << false << 0;
    QTest::newRow("wrapped with a long line") << 13u << true << 9000;
    QTest::newRow("unwrapped with a long line") << 14u << false << 15000;
}

void CodeTextViewTest::randomEditScript()
{
    QFETCH(quint32, seed);
    QFETCH(bool, wrap);
    QFETCH(int, longLine);
    QRandomGenerator rng(seed);
    const QString pieces[] = {QStringLiteral("a"), QStringLiteral("\r\n"), QStringLiteral("\r"), QStringLiteral("{\"k\": 1}\n"),
        QString::fromUtf16(u"\U0001F600"), QString::fromUtf16(u"\u4E2D\u0301"), QStringLiteral("\t"), QString(),
        QStringLiteral("xyz\r\nuvw")};
    QString start = QStringLiteral("{\r\n  \"a\": 1,\r\n  \"b\": [true, null]\r\n}\r\n");
    if (longLine)
        start += QString(longLine, QLatin1Char('q')) + QStringLiteral("\n");
    CodeTextView view;
    view.setWrapEnabled(wrap);
    sizeForColumns(view, 13);
    view.setText(start);
    QString model = TextHelpers::normalizedLineBreaks(start);
    QList<QString> history{model};
    qsizetype at = 0;
    for (int step = 0; step < 250; ++step) {
        const int op = int(rng.bounded(10));
        if (op < 6) {
            const qsizetype pos = rng.bounded(model.size() + 1);
            const qsizetype len = rng.bounded(std::min<qsizetype>(model.size() - pos, 5) + 1);
            QString piece;
            for (int k = int(rng.bounded(3)); k >= 0; --k)
                piece += pieces[rng.bounded(int(std::size(pieces)))];
            if (len == 0 && piece.isEmpty())
                continue;
            view.setSelection(pos, pos + len);
            view.insertPlainText(piece);
            model.replace(pos, len, TextHelpers::normalizedLineBreaks(piece));
            history.resize(at + 1);
            history.append(model);
            ++at;
            QCOMPARE(view.caretPosition(), pos + TextHelpers::normalizedLineBreaks(piece).size());
        } else if (op < 8) {
            QCOMPARE(view.canUndo(), at > 0);
            view.undo();
            if (at > 0)
                model = history[--at];
        } else {
            QCOMPARE(view.canRedo(), at + 1 < history.size());
            view.redo();
            if (at + 1 < history.size())
                model = history[++at];
        }
        QCOMPARE(view.text(), model);
        CodeTextModel::check(view.buffer(), model);
        // The view's rows add up, and the lines it has laid out match a fresh layout of theirs.
        qint64 rows = 0;
        for (qsizetype line = 0; line < view.buffer().lineCount(); ++line)
            rows += view.rowsOfLine(line);
        QCOMPARE(view.rowCount(), rows);
        const qsizetype line = view.buffer().lineAt(view.caretPosition());
        if (wrap && view.buffer().lineLength(line) < CodeTextBuffer::longLine) {
            QTextLayout fresh(view.buffer().lineText(line), view.font());
            QTextOption option(Qt::AlignLeft);
            option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            option.setTabStopDistance(view.characterWidth() * CodeTextBuffer::tabWidth);
            fresh.setTextOption(option);
            fresh.beginLayout();
            for (QTextLine l = fresh.createLine(); l.isValid(); l = fresh.createLine())
                l.setLineWidth(view.textAreaWidth());
            fresh.endLayout();
            QCOMPARE(view.textLayout().exactRowsOfLine(line), qint64(fresh.lineCount()));
        }
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("after step %1").arg(step)));
    }
}

void CodeTextViewTest::caretMovement_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<QKeySequence::StandardKey>("key");
    QTest::addColumn<qsizetype>("to");
    const QString pair = QString::fromUtf16(u"a\U0001F600b");
    QTest::newRow("right") << "abc" << qsizetype(0) << QKeySequence::MoveToNextChar << qsizetype(1);
    QTest::newRow("right over a surrogate pair") << pair << qsizetype(1) << QKeySequence::MoveToNextChar << qsizetype(3);
    QTest::newRow("left over a surrogate pair") << pair << qsizetype(3) << QKeySequence::MoveToPreviousChar << qsizetype(1);
    QTest::newRow("right over a combining mark") << QString::fromUtf16(u"e\u0301x") << qsizetype(0) << QKeySequence::MoveToNextChar << qsizetype(2);
    QTest::newRow("left at start stays") << "abc" << qsizetype(0) << QKeySequence::MoveToPreviousChar << qsizetype(0);
    QTest::newRow("down keeps column") << "abcdef\nxy\nlong line" << qsizetype(4) << QKeySequence::MoveToNextLine << qsizetype(9);
    QTest::newRow("up to shorter line") << "ab\nabcdef" << qsizetype(8) << QKeySequence::MoveToPreviousLine << qsizetype(2);
    QTest::newRow("up from first row goes to start") << "abc" << qsizetype(2) << QKeySequence::MoveToPreviousLine << qsizetype(0);
    QTest::newRow("down from last row goes to end") << "abc" << qsizetype(1) << QKeySequence::MoveToNextLine << qsizetype(3);
    QTest::newRow("next word") << "foo bar" << qsizetype(0) << QKeySequence::MoveToNextWord << qsizetype(3);
    QTest::newRow("previous word") << "foo bar" << qsizetype(7) << QKeySequence::MoveToPreviousWord << qsizetype(4);
    QTest::newRow("end of line") << "abc\ndef" << qsizetype(1) << QKeySequence::MoveToEndOfLine << qsizetype(3);
    QTest::newRow("start of line") << "abc\ndef" << qsizetype(6) << QKeySequence::MoveToStartOfLine << qsizetype(4);
    QTest::newRow("end of document") << "abc\ndef" << qsizetype(1) << QKeySequence::MoveToEndOfDocument << qsizetype(7);
    QTest::newRow("down over a tab column") << "\tx\nabcdef" << qsizetype(1) << QKeySequence::MoveToNextLine << qsizetype(7);
    // 20 columns wide: row 2 of the long line starts at 20.
    QTest::newRow("down into a wrapped row") << QString(50, QLatin1Char('x')) << qsizetype(3) << QKeySequence::MoveToNextLine << qsizetype(23);
    QTest::newRow("end of wrapped row") << QString(50, QLatin1Char('x')) << qsizetype(3) << QKeySequence::MoveToEndOfLine << qsizetype(20);
    QTest::newRow("page down") << QString(30, QLatin1Char('\n')) << qsizetype(0) << QKeySequence::MoveToNextPage << qsizetype(-1);
}

void CodeTextViewTest::caretMovement()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, from);
    QFETCH(QKeySequence::StandardKey, key);
    QFETCH(qsizetype, to);
    CodeTextView view;
    sizeForColumns(view, 20);
    view.resize(view.width(), 200);
    view.show();
    view.setText(text);
    view.setSelection(from, from);
    const QKeySequence seq(key);
    QVERIFY(!seq.isEmpty());
    QTest::keyClick(&view, Qt::Key(seq[0].key()), seq[0].keyboardModifiers());
    if (to < 0) { // a page: as many rows as fit
        const int rows = (view.viewport()->height() - view.textMargins().top() - view.textMargins().bottom()) / view.lineHeight();
        to = rows;
    }
    QCOMPARE(view.caretPosition(), to);
    QVERIFY(!view.hasSelection());
}

void CodeTextViewTest::wrapRows_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("columns");
    QTest::addColumn<qsizetype>("position");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::newRow("start") << "abcdefghij" << 4 << qsizetype(0) << 0 << 0;
    QTest::newRow("second row") << "abcdefghij" << 4 << qsizetype(5) << 1 << 1;
    QTest::newRow("end of a full last row stays on it") << "abcdefgh" << 4 << qsizetype(8) << 1 << 4;
    QTest::newRow("next line after wrapped one") << "abcdefghij\nk" << 4 << qsizetype(11) << 3 << 0;
    QTest::newRow("tab reaches the stop") << "ab\tcd" << 10 << qsizetype(3) << 0 << 4;
}

void CodeTextViewTest::wrapRows()
{
    QFETCH(QString, text);
    QFETCH(int, columns);
    QFETCH(qsizetype, position);
    QFETCH(int, row);
    QFETCH(int, column);
    CodeTextView view;
    sizeForColumns(view, columns);
    QCOMPARE(view.columnCount(), columns);
    view.setText(text);
    const QRect r = view.positionRect(position);
    QCOMPARE((r.top() - view.textMargins().top()) / view.lineHeight(), row);
    QCOMPARE(qRound((r.left() - view.textMargins().left()) / view.characterWidth()), column);
    // The point in the middle of that cell maps back to the position (unless past the row end).
    if (position < text.size())
        QCOMPARE(view.positionAt(r.center() - QPoint(int(view.characterWidth() / 4), 0)), position);
    // Without wrap every line is one row.
    view.setWrapEnabled(false);
    QCOMPARE(view.rowCount(), view.buffer().lineCount());
}

void CodeTextViewTest::selection_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<TextRange>("expected");
    QTest::addColumn<QString>("selected");
    QTest::newRow("shift right twice") << "shift-right" << TextRange{2, 2} << "cd";
    QTest::newRow("shift end") << "shift-end" << TextRange{2, 5} << "cd ef";
    QTest::newRow("double click word") << "double-click" << TextRange{0, 4} << "abcd";
    QTest::newRow("select all") << "select-all" << TextRange{0, 11} << "abcd ef\ngh!";
    QTest::newRow("typing replaces selection") << "type-over" << TextRange{3, 0} << "";
    QTest::newRow("drag selects") << "drag" << TextRange{0, 5} << "abcd ";
}

void CodeTextViewTest::selection()
{
    QFETCH(QString, action);
    QFETCH(TextRange, expected);
    QFETCH(QString, selected);
    CodeTextView view;
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.setText(QStringLiteral("abcd ef\ngh!"));
    view.setSelection(2, 2);
    QSignalSpy spy(&view, &CodeTextView::selectionChanged);
    QWidget* vp = view.viewport();
    if (action == "shift-right") {
        QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(view.anchorPosition(), 2);
        QCOMPARE(view.caretPosition(), 4);
    } else if (action == "shift-end") {
        QTest::keyClick(&view, Qt::Key_End, Qt::ShiftModifier);
    } else if (action == "double-click") {
        QTest::mouseDClick(vp, Qt::LeftButton, {}, view.positionRect(1).center());
    } else if (action == "select-all") {
        QTest::keySequence(&view, QKeySequence::SelectAll);
    } else if (action == "type-over") {
        view.setSelection(0, 4);
        QTest::keyClicks(&view, "xyz");
        QCOMPARE(view.text(), QStringLiteral("xyz ef\ngh!"));
    } else if (action == "drag") {
        QTest::mousePress(vp, Qt::LeftButton, {}, view.positionRect(0).topLeft() + QPoint(1, 2));
        QMouseEvent move(QEvent::MouseMove, view.positionRect(5).topLeft() + QPoint(1, 2), vp->mapToGlobal(view.positionRect(5).topLeft()),
            Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &move);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, view.positionRect(5).topLeft() + QPoint(1, 2));
    }
    QCOMPARE(view.selection(), expected);
    QCOMPARE(view.selectedText(), selected);
    QVERIFY(spy.count() >= 1);
    QVERIFY(spy.last().at(0).toBool()); // the user's change
}

void CodeTextViewTest::clipboard_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("clip");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("clipAfter");
    QTest::newRow("copy") << "copy" << "old" << "hello world" << "hello";
    QTest::newRow("copy without selection keeps the clipboard") << "copy-empty" << "old" << "hello world" << "old";
    QTest::newRow("cut") << "cut" << "old" << " world" << "hello";
    QTest::newRow("paste normalises line breaks") << "paste" << "a\r\nb\rc" << "a\nb\nc world" << "a\r\nb\rc";
    QTest::newRow("paste of nothing changes nothing") << "paste" << "" << "hello world" << "";
    QTest::newRow("paste keeps units exactly") << "paste" << QString::fromUtf16(u"\u00A0\U0001F600") << QString::fromUtf16(u"\u00A0\U0001F600 world") << QString::fromUtf16(u"\u00A0\U0001F600");
}

void CodeTextViewTest::clipboard()
{
    QFETCH(QString, action);
    QFETCH(QString, clip);
    QFETCH(QString, text);
    QFETCH(QString, clipAfter);
    QClipboard* cb = QApplication::clipboard();
    if (clip.isEmpty())
        cb->clear();
    else
        cb->setText(clip);
    CodeTextView view;
    view.setText(QStringLiteral("hello world"));
    view.setSelection(0, action == "copy-empty" ? 0 : 5);
    if (action.startsWith("copy"))
        view.copy();
    else if (action == "cut")
        view.cut();
    else
        view.paste();
    QCOMPARE(view.text(), text);
    QCOMPARE(cb->text(), clipAfter);
    if (action == "cut" || (action == "paste" && !clip.isEmpty())) {
        view.undo();
        QCOMPARE(view.text(), QStringLiteral("hello world"));
    }
}

void CodeTextViewTest::typingUndo_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("afterEachUndo");
    QTest::newRow("one word is one step") << "abc" << QStringList{""};
    QTest::newRow("a line break ends a step") << "ab\ncd" << QStringList{"ab\n", ""};
    QTest::newRow("backspaces merge") << "abc\b\b" << QStringList{"abc", ""};
}

void CodeTextViewTest::typingUndo()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, afterEachUndo);
    CodeTextView view;
    for (QChar c : typed) {
        if (c == QLatin1Char('\n'))
            QTest::keyClick(&view, Qt::Key_Return);
        else if (c == QLatin1Char('\b'))
            QTest::keyClick(&view, Qt::Key_Backspace);
        else
            QTest::keyClicks(&view, QString(c));
    }
    for (const QString& expected : afterEachUndo) {
        QVERIFY(view.canUndo());
        view.undo();
        QCOMPARE(view.text(), expected);
    }
    QVERIFY(!view.canUndo());
    view.redo();
    QCOMPARE(view.text(), afterEachUndo.size() > 1 ? afterEachUndo[afterEachUndo.size() - 2] : QString(typed).remove(QChar('\b')).left(typed.count(QChar('\b')) ? 1 : typed.size()));
}

void CodeTextViewTest::programEditsClearUndo()
{
    CodeTextView view;
    QTest::keyClicks(&view, "abc");
    QVERIFY(view.canUndo());
    view.setSelection(3, 3);
    view.setText(QStringLiteral("x"));
    QVERIFY(!view.canUndo());
    QCOMPARE(view.selection(), (TextRange{1, 0})); // old caret, clamped
    QTest::keyClicks(&view, "y");
    view.replaceRange({0, 1}, QStringLiteral("ab\r\n"));
    QCOMPARE(view.text(), QStringLiteral("ab\ny"));
    QCOMPARE(view.caretPosition(), 4); // shifted with the edit
    QVERIFY(!view.canUndo());
}

void CodeTextViewTest::readOnly()
{
    CodeTextView view;
    view.setText(QStringLiteral("abc"));
    view.setReadOnly(true);
    QTest::keyClicks(&view, "xyz");
    QTest::keyClick(&view, Qt::Key_Backspace);
    view.setSelection(0, 3);
    view.cut();
    view.paste();
    QCOMPARE(view.text(), QStringLiteral("abc"));
    view.copy();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("abc"));
}

void CodeTextViewTest::notifications()
{
    CodeTextView view;
    view.setText(QStringLiteral("abcdef"));
    QSignalSpy changed(&view, &CodeTextView::textChanged);
    QSignalSpy edited(&view, &CodeTextView::textEdited);
    view.setSelection(2, 4);
    QTest::keyClicks(&view, "Z");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed[0][0].value<qsizetype>(), 2); // location
    QCOMPARE(changed[0][1].value<qsizetype>(), 1); // length in the new text
    QCOMPARE(changed[0][2].value<qsizetype>(), -1); // change in length
    QCOMPARE(edited.count(), 1);
    view.setText(QStringLiteral("xy"));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed[1][2].value<qsizetype>(), 2 - 5);
    QCOMPARE(edited.count(), 1); // the program's edit is not the user's
    QSignalSpy columns(&view, &CodeTextView::columnCountChanged);
    view.resize(300, 100);
    view.show();
    view.resize(500, 100);
    QVERIFY(columns.count() >= 1);
    QCOMPARE(columns.last()[0].toInt(), view.columnCount());
}

void CodeTextViewTest::narrowsLater_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("left alone") << QString();
    QTest::newRow("typed into while the copies are made") << QStringLiteral("type");
    QTest::newRow("given a new text while the copies are made") << QStringLiteral("replace");
}

// The Latin-1 copies made on a worker are taken only by the text they were made of; a later call
// for a changed or new text makes its own.
void CodeTextViewTest::narrowsLater()
{
    QFETCH(QString, change);
    CodeTextView view;
    QString model = QStringLiteral("  \"caf\u00E9\": [1, 2],\n").repeated(3000);
    view.setText(model);
    QVERIFY(view.buffer().isNarrowingPending());
    // Nothing comes back before the event loop runs, so these land first.
    if (change == QLatin1String("type")) {
        view.setSelection(5, 6);
        view.insertPlainText(QStringLiteral("x"));
        model.replace(5, 1, QStringLiteral("x"));
        view.narrowTextLater();
    } else if (change == QLatin1String("replace")) {
        model = QStringLiteral("other \u00E0 text\n").repeated(4000);
        view.setText(model);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!view.buffer().isNarrowingPending(), 20000);
    QVERIFY(view.buffer().hasLatin1Blocks());
    QCOMPARE(view.text(), model);
}

void CodeTextViewTest::revealAndDrops()
{
    CodeTextView view;
    view.resize(300, 120);
    view.show();
    QString text;
    for (int i = 0; i < 500; ++i)
        text += QStringLiteral("line %1\n").arg(i);
    view.setText(text);
    const qsizetype target = text.indexOf(QStringLiteral("line 400"));
    view.revealRange({target, 8});
    QVERIFY(view.visibleRange().location <= target && view.visibleRange().end() >= target + 8);
    QCOMPARE(view.selection(), (TextRange{0, 0}));
    // Files are left to the pane around the view; text is taken.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/x.json")});
    QDragEnterEvent enterFiles(QPoint(10, 10), Qt::CopyAction, &files, Qt::LeftButton, {});
    QApplication::sendEvent(view.viewport(), &enterFiles);
    QVERIFY(!enterFiles.isAccepted());
    QMimeData plain;
    plain.setText(QStringLiteral("dropped"));
    QDragEnterEvent enterText(QPoint(10, 10), Qt::CopyAction, &plain, Qt::LeftButton, {});
    QApplication::sendEvent(view.viewport(), &enterText);
    QVERIFY(enterText.isAccepted());
    QDropEvent drop(view.positionRect(view.topVisiblePosition()).center(), Qt::CopyAction, &plain, Qt::LeftButton, {});
    QApplication::sendEvent(view.viewport(), &drop);
    QVERIFY(view.text().contains(QStringLiteral("dropped")));
    QVERIFY(view.canUndo());
}

void CodeTextViewTest::screenshot()
{
    QString json = QStringLiteral("{\n  \"name\": \"Quorrix\",\n  \"version\": 3,\n  \"tags\": [\"json\", \"codec\", \"jwt\"],\n"
                                  "  \"payload\": {\"id\": 12345, \"active\": true, \"note\": \"a fairly long string value that has to wrap around in the narrow view\"},\n"
                                  "  \"wide\": \"\u4E2D\u6587 e\u0301 \U0001F600\",\n  \"tab\":\t1\n}\n");
    SampleHighlighter highlighter;
    qsizetype at = -1;
    while ((at = json.indexOf(QStringLiteral("json"), at + 1)) >= 0)
        highlighter.matches.append({at, 4});
    highlighter.matches.append({json.indexOf(QStringLiteral("codec")), 5});
    highlighter.current = highlighter.matches.last();
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    CodeTextView* views[2];
    for (int i = 0; i < 2; ++i) {
        views[i] = new CodeTextView(&window);
        views[i]->setWrapEnabled(i == 0);
        views[i]->setText(json);
        views[i]->addHighlighter(&highlighter);
        views[i]->setSelection(json.indexOf(QStringLiteral("Quorrix")), json.indexOf(QStringLiteral("Quorrix")) + 7);
        layout->addWidget(views[i]);
    }
    window.resize(900, 260);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage image = window.grab().toImage();
    const QString path = QDir::current().absoluteFilePath(QStringLiteral("code-view-screenshot.png"));
    QVERIFY(image.save(path));
    // The current match is drawn in its colour.
    const QRect r = views[0]->positionRect(highlighter.current.location).translated(views[0]->viewport()->mapTo(&window, QPoint()));
    bool found = false;
    for (int x = r.left(); x < r.left() + 30 && !found; ++x)
        found = image.pixelColor(x, r.top() + 1) == QColor(255, 214, 10);
    QVERIFY(found);
    qInfo("screenshot: %s", qPrintable(path));
}


void CodeTextViewTest::setBufferEqualsSetText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("wrap");
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("short lines") << QStringLiteral("{\n  \"a\": 1\n}\n") << true;
    QTest::newRow("CR LF") << QStringLiteral("a\r\nb\rc") << false;
    QTest::newRow("long line, wrap") << QStringLiteral("[1,\"x\",true],").repeated(2000) << true;
    QTest::newRow("long line, no wrap") << QStringLiteral("\t\u4E2D\u0301ab").repeated(3000) << false;
}

// A buffer built elsewhere (as on a worker) and handed over shows exactly what setText shows.
void CodeTextViewTest::setBufferEqualsSetText()
{
    QFETCH(QString, text);
    QFETCH(bool, wrap);
    CodeTextView a, b;
    for (CodeTextView* v : {&a, &b}) {
        v->setWrapEnabled(wrap);
        v->resize(400, 300);
        v->setText(QStringLiteral("old\ntext"));
        v->setSelection(5, 5);
    }
    QSignalSpy changedA(&a, &CodeTextView::textChanged), changedB(&b, &CodeTextView::textChanged);
    a.setText(text);
    b.setBuffer(CodeTextBuffer(text));
    QCOMPARE(b.text(), a.text());
    QCOMPARE(b.buffer().lineCount(), a.buffer().lineCount());
    QCOMPARE(b.rowCount(), a.rowCount());
    QCOMPARE(b.selection(), a.selection());
    QCOMPARE(changedB.size(), 1);
    QCOMPARE(changedB.first(), changedA.first());
    QVERIFY(!b.canUndo());
    // Both go on alike when typed in.
    a.setSelection(a.length(), a.length());
    b.setSelection(b.length(), b.length());
    a.insertPlainText(QStringLiteral("z"));
    b.insertPlainText(QStringLiteral("z"));
    QCOMPARE(b.text(), a.text());
    QCOMPARE(b.rowCount(), a.rowCount());
}

void CodeTextViewTest::widthChangeOnManyLines_data()
{
    QTest::addColumn<int>("fromColumns");
    QTest::addColumn<int>("toColumns");
    QTest::newRow("narrower") << 60 << 20;
    QTest::newRow("wider") << 20 << 60;
}

// Rows of a document of many lines are counted again after a width change without moving the
// view, edits made meanwhile included, and come to what a view made at that width counts.
void CodeTextViewTest::widthChangeOnManyLines()
{
    QFETCH(int, fromColumns);
    QFETCH(int, toColumns);
    QString text;
    for (int i = 0; i < 200'000; ++i)
        text += QString((i * 7) % 71, QLatin1Char('x')) + QLatin1Char('\n');
    CodeTextView view, fresh;
    for (CodeTextView* v : {&view, &fresh})
        v->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    sizeForColumns(view, fromColumns);
    view.setText(text);
    const qsizetype topLine = 150'000;
    view.setSelection(view.buffer().lineStart(topLine), view.buffer().lineStart(topLine));
    view.scrollToPosition(view.buffer().lineStart(topLine));
    const qsizetype shownLine = view.buffer().lineAt(view.topVisiblePosition());
    sizeForColumns(view, toColumns);
    QCOMPARE(view.buffer().lineAt(view.topVisiblePosition()), shownLine);
    sizeForColumns(fresh, toColumns);
    fresh.setText(text);
    // A new document is counted between events too, the view held at its line meanwhile.
    fresh.scrollToPosition(fresh.buffer().lineStart(topLine));
    const qsizetype freshLine = fresh.buffer().lineAt(fresh.topVisiblePosition());
    QTRY_VERIFY_WITH_TIMEOUT(!view.textLayout().estimating() && !fresh.textLayout().estimating(), 20000);
    QCOMPARE(view.rowCount(), fresh.rowCount());
    QCOMPARE(view.buffer().lineAt(view.topVisiblePosition()), shownLine);
    QCOMPARE(fresh.buffer().lineAt(fresh.topVisiblePosition()), freshLine);

    // Lines come and go, before the rows being counted and after them.
    sizeForColumns(view, fromColumns);
    QCoreApplication::processEvents();
    view.setSelection(view.buffer().lineStart(10), view.buffer().lineStart(16));
    view.insertPlainText(QStringLiteral("a\nb\nc\n"));
    view.setSelection(view.buffer().lineStart(190'000), view.buffer().lineStart(190'002));
    view.insertPlainText(QString());
    sizeForColumns(fresh, fromColumns);
    fresh.setText(view.text());
    QTRY_COMPARE_WITH_TIMEOUT(view.rowCount(), fresh.rowCount(), 20000);
    for (qsizetype line : {qsizetype(0), qsizetype(12), qsizetype(100'000), qsizetype(180'000), qsizetype(199'000)})
        QCOMPARE(view.firstRowOfLine(line), fresh.firstRowOfLine(line));
}

QTEST_MAIN(CodeTextViewTest)
#include "CodeTextViewTest.moc"

void CodeTextViewTest::arrowsMoveOnScreen_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("keys"); // R and L
    // A line of one direction: Qt's view swaps the arrows by the line's direction and crosses
    // lines at its ends. Mixed runs within a line: Qt's visual mode, which crosses no lines.
    QTest::addColumn<bool>("mixed");
    const QString arabic = QString::fromUtf16(u"\u0633\u0644\u0627\u0645 \u0639\u0644\u064A\u0643\u0645");
    const QString hebrew = QString::fromUtf16(u"\u05E9\u05DC\u05D5\u05DD");
    QTest::newRow("Arabic, right") << arabic << 3 << "RRR" << false;
    QTest::newRow("Arabic, left") << arabic << 3 << "LLLL" << false;
    QTest::newRow("Arabic, right off the start to the line before") << "ab\n" + arabic << 4 << "RRR" << false;
    QTest::newRow("Arabic, left off the end to the line after") << arabic + "\nab" << 8 << "LLLL" << false;
    QTest::newRow("Hebrew then Latin lines") << hebrew + "\nabc" << 0 << "LLLLLLRRRR" << false;
    QTest::newRow("Latin stays logical") << "abc\ndef" << 1 << "RRRRLLL" << false;
    QTest::newRow("Latin with an Arabic word") << "ab " + arabic.left(4) + " cd" << 1 << "RRRRRRRRR" << true;
    QTest::newRow("Latin with an Arabic word, leftwards") << "ab " + arabic.left(4) + " cd" << 9 << "LLLLLLLLL" << true;
    QTest::newRow("Arabic with a number") << arabic.left(4) + QStringLiteral(" 123 ") + arabic.left(2) << 0
                                          << "LLLLLLLLLLL" << true;
}

// The arrows go the way they point on screen, as a platform text view moving visually does.
void CodeTextViewTest::arrowsMoveOnScreen()
{
    QFETCH(QString, text);
    QFETCH(int, from);
    QFETCH(QString, keys);
    QFETCH(bool, mixed);
    CodeTextView view;
    view.resize(400, 200);
    view.show();
    view.setText(text);
    view.setSelection(from, from);
    QPlainTextEdit reference;
    if (mixed)
        reference.document()->setDefaultCursorMoveStyle(Qt::VisualMoveStyle);
    reference.resize(400, 200);
    reference.show();
    reference.setPlainText(text);
    QTextCursor cursor = reference.textCursor();
    cursor.setPosition(from);
    reference.setTextCursor(cursor);
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const Qt::Key key = keys[i] == QLatin1Char('R') ? Qt::Key_Right : Qt::Key_Left;
        QTest::keyClick(&view, key);
        QTest::keyClick(&reference, key);
        QVERIFY2(view.caretPosition() == reference.textCursor().position(),
                 qPrintable(QStringLiteral("after key %1: %2, not %3")
                                .arg(i + 1).arg(view.caretPosition()).arg(reference.textCursor().position())));
    }
}

void CodeTextViewTest::tabKeys_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("focus"); // the widget that has the focus after the key
    const int ctrl = int(Qt::ControlModifier), shift = int(Qt::ShiftModifier);
    QTest::newRow("editable: Tab types a tab") << false << int(Qt::Key_Tab) << 0 << "\tab" << "view";
    QTest::newRow("editable: Ctrl+Tab leaves forwards") << false << int(Qt::Key_Tab) << ctrl << "ab" << "after";
    QTest::newRow("editable: Ctrl+Shift+Tab leaves backwards")
        << false << int(Qt::Key_Tab) << (ctrl | shift) << "ab" << "before";
    QTest::newRow("editable: Ctrl+Shift+Backtab leaves backwards")
        << false << int(Qt::Key_Backtab) << (ctrl | shift) << "ab" << "before";
    QTest::newRow("editable: Shift+Tab leaves backwards") << false << int(Qt::Key_Backtab) << shift << "ab" << "before";
    QTest::newRow("read-only: Tab leaves forwards") << true << int(Qt::Key_Tab) << 0 << "ab" << "after";
    QTest::newRow("read-only: Shift+Tab leaves backwards") << true << int(Qt::Key_Backtab) << shift << "ab" << "before";
    QTest::newRow("read-only: Ctrl+Tab leaves forwards") << true << int(Qt::Key_Tab) << ctrl << "ab" << "after";
}

void CodeTextViewTest::tabKeys()
{
    QFETCH(bool, readOnly);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, text);
    QFETCH(QString, focus);
    QWidget window;
    auto* row = new QHBoxLayout(&window);
    auto* before = new QPlainTextEdit;
    before->setTabChangesFocus(true);
    auto* view = new CodeTextView;
    auto* after = new QPlainTextEdit;
    after->setTabChangesFocus(true);
    row->addWidget(before);
    row->addWidget(view);
    row->addWidget(after);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    view->setText(QStringLiteral("ab"));
    view->setReadOnly(readOnly);
    view->setSelection(0, 0);
    view->setFocus();
    QTRY_VERIFY(view->hasFocus());
    QTest::keyClick(view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(view->text(), text);
    QWidget* expected = focus == "view" ? static_cast<QWidget*>(view) : focus == "after" ? after : before;
    QCOMPARE(QApplication::focusWidget(), expected);
}
