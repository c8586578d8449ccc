#include "kit/TextHelpers.h"
#include "kit/ui/CodeTextView.h"

#include <QApplication>
#include <QClipboard>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

// What the view publishes of its edits and snapshots, checked against a plain string.
class CodeTextEditsTest : public QObject {
    Q_OBJECT
private slots:
    void editsReproduceTheText_data();
    void editsReproduceTheText();
    void snapshotKeepsItsText_data();
    void snapshotKeepsItsText();
};

void CodeTextEditsTest::editsReproduceTheText_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<QString>("start");
    QTest::newRow("empty") << 1u << QString();
    QTest::newRow("prose") << 7u << QStringLiteral("one two\nthree four five\n\nsix");
    QTest::newRow("emoji and CR") << 23u << QStringLiteral("a\U0001F1EB\U0001F1F7b\r\ne\u0301\rz");
    QTest::newRow("long line") << 42u << QString(9000, QLatin1Char('x'));
    QTest::newRow("many lines") << 99u << QStringLiteral("line of text\n").repeated(3000);
}

void CodeTextEditsTest::editsReproduceTheText()
{
    QFETCH(quint32, seed);
    QFETCH(QString, start);
    QRandomGenerator rng(seed);
    const QString pieces[] = {QStringLiteral("a"), QStringLiteral(" "), QStringLiteral("\n"),
                              QStringLiteral("\r\n"), QStringLiteral("\U0001F44D\U0001F3FD"), QStringLiteral("wo rd"),
                              QStringLiteral("\t"), QString(5000, QLatin1Char('y'))};
    CodeTextView view;
    view.resize(400, 300);
    view.show();
    // Every change, read back from the view; and the user's edits alone, which must be the
    // very change just reported and reproduce the text between the program's edits.
    QString model;
    QString userModel;
    int editCount = 0;
    int userEdits = 0;
    qsizetype changedAt = -1, changedLength = 0, changeInLength = 0;
    connect(&view, &CodeTextView::textChanged, &view, [&](qsizetype location, qsizetype length, qsizetype change) {
        QVERIFY(location >= 0 && location + length - change <= model.size());
        model.replace(location, length - change, view.textInRange({location, length}));
        changedAt = location;
        changedLength = length;
        changeInLength = change;
        ++editCount;
    });
    connect(&view, &CodeTextView::textEdited, &view, [&](const TextEdit& edit) {
        QCOMPARE(edit.position, changedAt);
        QCOMPARE(edit.insertedLength(), changedLength);
        QCOMPARE(edit.changeInLength(), changeInLength);
        edit.applyTo(userModel);
        ++userEdits;
    });
    view.setText(start);
    QCOMPARE(model, view.text());
    QCOMPARE(userEdits, 0);
    userModel = view.text();
    for (int step = 0; step < 300; ++step) {
        const qsizetype length = view.length();
        const qsizetype pos = rng.bounded(length + 1);
        const qsizetype len = rng.bounded(std::min<qsizetype>(length - pos, 8) + 1);
        const QString piece = pieces[rng.bounded(int(std::size(pieces)))];
        const int before = editCount;
        const int userBefore = userEdits;
        bool byProgram = false;
        switch (rng.bounded(8)) {
        case 0:
        case 1:
            view.setSelection(pos, pos + len);
            QTest::keyClicks(&view, QStringLiteral("ab"));
            break;
        case 2:
            view.setSelection(pos, pos + len);
            QTest::keyClick(&view, Qt::Key_Backspace);
            break;
        case 3:
            view.setSelection(pos, pos + len);
            QApplication::clipboard()->setText(piece);
            view.paste();
            break;
        case 4:
            view.undo();
            break;
        case 5:
            view.redo();
            break;
        case 6:
            view.replaceRange({pos, len}, piece);
            byProgram = true;
            break;
        default:
            if ((byProgram = rng.bounded(6) == 0))
                view.setText(rng.bounded(2) ? QString() : piece + start.left(50));
            else
                view.insertPlainText(piece);
            break;
        }
        if (QTest::currentTestFailed())
            return;
        if (editCount != before)
            QCOMPARE(model, view.text());
        if (byProgram) {
            QCOMPARE(userEdits, userBefore);
            userModel = view.text();
        }
        QCOMPARE(userModel, view.text());
    }
    QCOMPARE(model, view.text());
    QCOMPARE(view.snapshot().text(), view.text());
}

void CodeTextEditsTest::snapshotKeepsItsText_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<bool>("editFirst");
    QTest::newRow("short, as set") << QStringLiteral("alpha\nbeta") << false;
    QTest::newRow("short, edited") << QStringLiteral("alpha\nbeta") << true;
    QTest::newRow("blocks, as set") << QStringLiteral("a line of prose\n").repeated(5000) << false;
    QTest::newRow("blocks, edited") << QStringLiteral("a line of prose\n").repeated(5000) << true;
    QTest::newRow("long line, edited") << QString(200000, QLatin1Char('z')) << true;
}

void CodeTextEditsTest::snapshotKeepsItsText()
{
    QFETCH(QString, start);
    QFETCH(bool, editFirst);
    CodeTextView view;
    view.setText(start);
    if (editFirst) {
        view.setSelection(3, 3);
        view.insertPlainText(QStringLiteral("first "));
    }
    const QString expected = view.text();
    const CodeTextSnapshot snapshot = view.snapshot();
    QCOMPARE(snapshot.length(), expected.size());
    view.setSelection(1, 5);
    view.insertPlainText(QStringLiteral("changed\n"));
    view.replaceRange({view.length() / 2, 3}, QStringLiteral("middle"));
    view.setSelection(view.length(), view.length());
    QTest::keyClicks(&view, QStringLiteral("end"));
    QVERIFY(view.text() != expected);
    QCOMPARE(snapshot.text(), expected);
    QCOMPARE(snapshot.mid(2, 20), expected.mid(2, 20));
    QCOMPARE(snapshot.mid(expected.size() - 7, 100), expected.right(7));
    view.setText(QString());
    QCOMPARE(snapshot.text(), expected);
}

QTEST_MAIN(CodeTextEditsTest)
#include "CodeTextEditsTest.moc"
