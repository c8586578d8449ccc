#include "kit/CodeTextBuffer.h"
#include "kit/ui/CodeTextLayout.h"
#include "kit/ui/CodeTextView.h"
#include "support/QuorrixTestMain.h"

#include <QFontDatabase>
#include <QGlyphRun>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTextLayout>

#include <unicode/ubrk.h>

#include <memory>

// The text view shapes and wraps its lines as Qt's text layout does, moves over whole grapheme
// clusters, shows the input method's text inline and keeps the caret on the row it ends.
class CodeTextShapingTest : public QObject {
    Q_OBJECT
private slots:
    void wrapMatchesTextLayout_data();
    void wrapMatchesTextLayout();
    void editsSettleToTheLineRows_data();
    void editsSettleToTheLineRows();
    void clusters_data();
    void clusters();
    void backspace_data();
    void backspace();
    void keysKeepClustersWhole_data();
    void keysKeepClustersWhole();
    void preeditInline_data();
    void preeditInline();
    void longLineKeepsItsDirection();
    void inputMethodWindow_data();
    void inputMethodWindow();
    void endOnWrappedRows_data();
    void endOnWrappedRows();
    void verticalMovesFollowTheLineLayout_data();
    void verticalMovesFollowTheLineLayout();
    void correctionsKeepTheTopLine();
    void longLineEditsKeepShapes_data();
    void longLineEditsKeepShapes();
};

namespace {

QString pick(QRandomGenerator& random, const QStringList& pieces, int count)
{
    QString out;
    for (int i = 0; i < count; ++i)
        out += pieces.at(random.bounded(int(pieces.size())));
    return out;
}

QString sample(const QString& kind, QRandomGenerator& random)
{
    const QStringList words = {QStringLiteral("the "), QStringLiteral("licence "), QStringLiteral("Markdown "),
        QStringLiteral("full "), QStringLiteral("a "), QStringLiteral("documentation, "), QStringLiteral("of "),
        QStringLiteral("supercalifragilistic "), QStringLiteral("x "), QStringLiteral("—and "), QStringLiteral("  ")};
    if (kind == QLatin1String("prose"))
        return pick(random, words, 20 + random.bounded(60));
    if (kind == QLatin1String("urls"))
        return pick(random, {QStringLiteral("see "), QStringLiteral("[link](https://example.com/a/very/long/path?q=1&r=2) "),
                                QStringLiteral("https://example.org/"), QStringLiteral("docs "),
                                QStringLiteral("<http://a.b/c-d_e.f>, ")},
            10 + random.bounded(20));
    if (kind == QLatin1String("cjk"))
        return pick(random, {QStringLiteral("漢字"), QStringLiteral("かな"), QStringLiteral("カタカナ、"),
                                QStringLiteral("한국어 "), QStringLiteral("中文。"), QStringLiteral("mixed ")},
            20 + random.bounded(60));
    if (kind == QLatin1String("emoji"))
        return pick(random, {QStringLiteral("👨‍👩‍👧 "), QStringLiteral("🇫🇷"), QStringLiteral("👍🏽"), QStringLiteral("❤️ "),
                                QStringLiteral("🏳️‍🌈"), QStringLiteral("word "), QStringLiteral("1️⃣")},
            20 + random.bounded(60));
    if (kind == QLatin1String("marks"))
        return pick(random, {QStringLiteral("e\u0301"), QStringLiteral("a\u0308\u0323 "), QStringLiteral("n\u0303o "),
                                QStringLiteral("\u1100\u1161\u11A8"), QStringLiteral("مرحبا "), QStringLiteral("plain ")},
            20 + random.bounded(60));
    if (kind == QLatin1String("tabs"))
        return pick(random, {QStringLiteral("\t"), QStringLiteral("key:\tvalue "), QStringLiteral("\t\tindented "),
                                QStringLiteral("word ")},
            20 + random.bounded(40));
    QString all;
    for (const char* k : {"prose", "urls", "cjk", "emoji", "marks", "tabs"})
        all += sample(QString::fromLatin1(k), random);
    return all;
}

bool holdsRightToLeft(const QString& text)
{
    for (QChar c : text)
        if (c.direction() == QChar::DirR || c.direction() == QChar::DirAL)
            return true;
    return false;
}

// Hangul jamo that a font composes into syllables: Qt's layout of a whole line may put a row's
// first caret at the row's far end.
bool holdsJamo(const QString& text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x1100 && c.unicode() < 0x1200)
            return true;
    return false;
}

// Qt's own layout of a whole line, wrapped as the view wraps: what the view's rows must equal.
std::unique_ptr<QTextLayout> wholeLineLayout(const QString& line, const CodeTextView& view)
{
    auto layout = std::make_unique<QTextLayout>(line, view.font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTabStopDistance(view.characterWidth() * CodeTextBuffer::tabWidth);
    layout->setTextOption(option);
    layout->beginLayout();
    for (QTextLine l = layout->createLine(); l.isValid(); l = layout->createLine())
        l.setLineWidth(view.textAreaWidth());
    layout->endLayout();
    return layout;
}

void show(CodeTextView& view, int width, int height = 400)
{
    view.resize(width, height);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
}

} // namespace

void CodeTextShapingTest::wrapMatchesTextLayout_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("length"); // of each line, at the least; 0 for lines of a sample each
    // Qt's layout of a whole line cuts its shaping into items of 4096 units, which splits an
    // emoji sequence that one crosses; lines of emoji are compared short.
    for (const char* kind : {"prose", "urls", "cjk", "emoji", "marks", "tabs", "mixed"})
        for (int width : {180, 420, 733})
            for (int length : {0, int(CodeTextBuffer::longLine) + 900, 16384 + 3000}) {
                if (length && (qstrcmp(kind, "emoji") == 0 || qstrcmp(kind, "mixed") == 0))
                    continue;
                QByteArray name = QByteArray(kind) + ", " + QByteArray::number(width) + " px";
                if (length)
                    name += ", lines over " + QByteArray(length > 16384 ? "16384" : "4096");
                QTest::newRow(name.constData()) << QString::fromLatin1(kind) << width << length;
            }
}

void CodeTextShapingTest::wrapMatchesTextLayout()
{
    // Rows are cut where a text layout of the whole line cuts them, and the caret stands where
    // it puts it, however long the line.
    QFETCH(QString, kind);
    QFETCH(int, width);
    QFETCH(int, length);
    QRandomGenerator random(quint32(qHash(kind) ^ uint(width) ^ uint(length)));
    QStringList lines;
    for (int i = 0; i < (length ? 2 : 12); ++i) {
        QString line = sample(kind, random);
        while (line.size() < length)
            line += sample(kind, random);
        lines << line;
    }
    CodeTextView view;
    show(view, width);
    view.setText(lines.join(QLatin1Char('\n')));
    const qreal rowWidth = view.textAreaWidth();
    for (qsizetype line = 0; line < lines.size(); ++line) {
        const auto whole = wholeLineLayout(lines[line], view);
        const QTextLayout& expected = *whole;
        const qint64 rows = view.textLayout().exactRowsOfLine(line);
        // Found from the start, a long line's rows are all exact by its end.
        view.textLayout().rowOfPosition(view.buffer().lineEnd(line), false);
        QCOMPARE(view.rowsOfLine(line), qint64(expected.lineCount()));
        if (!length)
            QCOMPARE(rows, qint64(expected.lineCount()));
        const qsizetype start = view.buffer().lineStart(line);
        for (int r = 0; r < expected.lineCount(); ++r) {
            const auto [from, to] = view.textLayout().rowRange(line, r);
            QCOMPARE(from - start, qsizetype(expected.lineAt(r).textStart()));
            QCOMPARE(to - from, qsizetype(expected.lineAt(r).textLength()));
            // Spaces where a row breaks hang at the end of the row before (tabs are kept, as the
            // text layout keeps them).
            if (r > 0 && from < view.buffer().lineEnd(line))
                QVERIFY2(view.buffer().at(from) != QLatin1Char(' '), qPrintable(QStringLiteral("row %1 of line %2").arg(r).arg(line)));
            // Carets in rows of right-to-left text are left to the tests of the text view: bidi
            // levels resolved across a segment's start may place them otherwise (and rows of
            // jamo are placed oddly by the whole line's layout).
            const bool rightToLeft = holdsRightToLeft(view.buffer().mid(from, to - from))
                || holdsJamo(view.buffer().mid(from, to - from));
            for (qsizetype p = from; p < to && !rightToLeft; p += 7) {
                const qreal x = expected.lineAt(r).cursorToX(int(p - start));
                if (x < rowWidth - 1 && view.textLayout().nextCursorPosition(view.textLayout().previousCursorPosition(p + 1)) == p + 1)
                    QVERIFY2(std::abs(view.textLayout().xOfPosition(p, false) - x) < 0.5,
                        qPrintable(QStringLiteral("row %1, position %2: x %3, expected %4").arg(r).arg(p - start).arg(view.textLayout().xOfPosition(p, false)).arg(x)));
            }
        }
    }
    QCOMPARE(view.rowCount(), view.firstRowOfLine(lines.size() - 1) + view.rowsOfLine(lines.size() - 1));
}

void CodeTextShapingTest::editsSettleToTheLineRows_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("prose") << QStringLiteral("prose");
    QTest::newRow("ideographs") << QStringLiteral("ideographs");
    // A unit typed moves every later row by a pair of units: the rows never meet the old ones.
    QTest::newRow("emoji, rows without slack") << QStringLiteral("emoji only");
    QTest::newRow("marks") << QStringLiteral("marks");
}

void CodeTextShapingTest::editsSettleToTheLineRows()
{
    // Typing into a long line whose rows all move (a row of ideographs has no slack) shows the
    // old rows below for a moment; once settled, the rows are those of the whole line.
    QFETCH(QString, kind);
    QRandomGenerator random(quint32(qHash(kind)));
    QString line;
    while (line.size() < 16384 + 3000)
        line += kind == QLatin1String("ideographs") ? QStringLiteral("漢字かなカタカナ中文")
            : kind == QLatin1String("emoji only")   ? QStringLiteral("😀😃🙂")
                                                    : sample(kind, random);
    CodeTextView view;
    show(view, 420);
    view.setText(line);
    view.setFocus();
    bool settling = false;
    for (qsizetype at : {qsizetype(300), qsizetype(17000), qsizetype(310)}) {
        at = view.textLayout().previousCursorPosition(at + 1);
        view.setSelection(at, at);
        view.scrollToPosition(at);
        view.viewport()->repaint();
        // Five units typed and one deleted: pairs stay at even places, where Qt's layout of the
        // whole line does not split them.
        for (const QString& typed : {QStringLiteral("x"), QStringLiteral("漢"), QStringLiteral("w"), QStringLiteral(" "),
                 QStringLiteral("z")}) {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed);
            QApplication::sendEvent(&view, &key);
            view.viewport()->repaint();
        }
        QTest::keyClick(&view, Qt::Key_Backspace);
        view.viewport()->repaint();
        settling = settling || view.textLayout().estimating();
    }
    if (kind == QLatin1String("emoji only"))
        QVERIFY(settling);
    QTRY_VERIFY_WITH_TIMEOUT(!view.textLayout().estimating(), 20000);
    const auto whole = wholeLineLayout(view.text(), view);
    const QTextLayout& expected = *whole;
    for (int r = 0; r < expected.lineCount(); ++r)
        QCOMPARE(view.textLayout().rowRange(0, r).first, qsizetype(expected.lineAt(r).textStart()));
    QCOMPARE(view.rowsOfLine(0), qint64(expected.lineCount()));
}

void CodeTextShapingTest::clusters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("stops");
    QTest::addColumn<bool>("oneGlyph");
    QTest::newRow("ZWJ family") << QStringLiteral("👨‍👩‍👧") << QList<int>{8} << true;
    QTest::newRow("flag") << QStringLiteral("🇫🇷") << QList<int>{4} << true;
    QTest::newRow("skin tone") << QStringLiteral("👍🏽") << QList<int>{4} << true;
    QTest::newRow("e + combining acute") << QStringLiteral("e\u0301") << QList<int>{2} << false;
    QTest::newRow("Hangul jamo") << QStringLiteral("\u1100\u1161\u11A8") << QList<int>{3} << false;
    // Each Arabic letter is a cluster of its own, joined to its neighbours in one shaped run.
    QTest::newRow("Arabic word") << QStringLiteral("مرحبا") << QList<int>{1, 2, 3, 4, 5} << false;
}

void CodeTextShapingTest::clusters()
{
    QFETCH(QString, text);
    QFETCH(QList<int>, stops);
    QFETCH(bool, oneGlyph);
    CodeTextView view;
    show(view, 400, 200);
    view.setText(text);
    view.setFocus();
    view.setSelection(0, 0);
    // The arrows go the way they point: towards the text's end is leftwards in Arabic.
    const Qt::Key forwards = text.isRightToLeft() ? Qt::Key_Left : Qt::Key_Right;
    const Qt::Key backwards = text.isRightToLeft() ? Qt::Key_Right : Qt::Key_Left;
    QList<int> seen;
    for (int i = 0; i < stops.size() + 1 && view.caretPosition() < text.size(); ++i) {
        QTest::keyClick(&view, forwards);
        seen << int(view.caretPosition());
    }
    QCOMPARE(seen, stops);
    QList<int> back;
    for (int i = stops.size() - 2; i >= -1; --i) {
        QTest::keyClick(&view, backwards);
        back << int(view.caretPosition());
    }
    QList<int> expectedBack;
    for (int i = stops.size() - 2; i >= 0; --i)
        expectedBack << stops[i];
    expectedBack << 0;
    QCOMPARE(back, expectedBack);

    // Drawn as one shaped run: one glyph run over the whole text, a sequence as one glyph.
    const QTextLayout* layout = view.textLayout().lineLayout(0);
    QVERIFY(layout);
    const QList<QGlyphRun> runs = layout->glyphRuns(0, int(text.size()));
    // Conjoining jamo need a Korean font to become one syllable; without one they fall apart.
    if (text.at(0).unicode() == 0x1100 && QFontDatabase::families(QFontDatabase::Korean).isEmpty())
        QSKIP("no Korean font installed");
    QCOMPARE(runs.size(), 1);
    if (oneGlyph)
        QCOMPARE(runs.first().glyphIndexes().size(), 1);
    // The caret after the text sits at the far end of its shaped advance (the left for Arabic).
    QVERIFY(std::abs(view.positionRect(text.size()).left() - view.positionRect(0).left()) >= view.characterWidth() / 2);
}

void CodeTextShapingTest::backspace_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("after");
    QTest::newRow("flag") << QStringLiteral("a🇫🇷") << QStringLiteral("a");
    QTest::newRow("two flags") << QStringLiteral("🇫🇷🇩🇪") << QStringLiteral("🇫🇷");
    QTest::newRow("ZWJ family") << QStringLiteral("x👨‍👩‍👧") << QStringLiteral("x");
    QTest::newRow("skin tone") << QStringLiteral("👍🏽") << QString();
    QTest::newRow("emoji presentation") << QStringLiteral("❤️") << QString();
    // A combining mark is taken off on its own, so an accent can be typed again.
    QTest::newRow("combining mark") << QStringLiteral("e\u0301") << QStringLiteral("e");
    QTest::newRow("surrogate pair") << QStringLiteral("a😀") << QStringLiteral("a");
    QTest::newRow("keycap") << QStringLiteral("a1️⃣") << QStringLiteral("a");
    QTest::newRow("keycap without selector") << QStringLiteral("#\u20E3") << QString();
    QTest::newRow("two keycaps") << QStringLiteral("1️⃣2️⃣") << QStringLiteral("1️⃣");
    QTest::newRow("enclosing circle") << QStringLiteral("a\u20DD") << QStringLiteral("a");
}

void CodeTextShapingTest::backspace()
{
    QFETCH(QString, text);
    QFETCH(QString, after);
    CodeTextView view;
    show(view, 300, 100);
    view.setText(text);
    view.setFocus();
    view.setSelection(text.size(), text.size());
    QTest::keyClick(&view, Qt::Key_Backspace);
    QCOMPARE(view.text(), after);
    QCOMPARE(view.caretPosition(), after.size());
}

namespace {

bool wellFormed(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return false;
    }
    return true;
}

// By Unicode's default rules, as ICU has them: Qt's finder is tailored for Indic scripts and
// after such text stops inside whatever follows.
bool atCluster(const QString& text, qsizetype position)
{
    if (position <= 0 || position >= text.size())
        return position == 0 || position == text.size();
    // Clusters never reach over a line break; only the line around the position is needed.
    const qsizetype from = text.lastIndexOf(QLatin1Char('\n'), position - 1) + 1;
    qsizetype to = text.indexOf(QLatin1Char('\n'), position);
    to = to < 0 ? text.size() : to;
    if (position == from || position == to)
        return true;
    UErrorCode status = U_ZERO_ERROR;
    UBreakIterator* it = ubrk_open(UBRK_CHARACTER, "", reinterpret_cast<const UChar*>(text.utf16()) + from,
        int32_t(to - from), &status);
    const bool bound = U_SUCCESS(status) && ubrk_isBoundary(it, int32_t(position - from));
    ubrk_close(it);
    return bound;
}

} // namespace

void CodeTextShapingTest::keysKeepClustersWhole_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<int>("longLine");
    QTest::addColumn<quint32>("seed");
    const QStringList emoji = {QStringLiteral("👨‍👩‍👧"), QStringLiteral("🇫🇷"), QStringLiteral("🇩🇪"), QStringLiteral("👍🏽"),
        QStringLiteral("1️⃣"), QStringLiteral("#️⃣"), QStringLiteral("❤️"), QStringLiteral("🏳️‍🌈"), QStringLiteral("😀")};
    const QStringList cjk = {QStringLiteral("𠀀"), QStringLiteral("𠮷野家"), QStringLiteral("漢字"), QStringLiteral("𪜶")};
    const QStringList marks = {QStringLiteral("e\u0301"), QStringLiteral("a\u0308\u0323"), QStringLiteral("n\u0303"),
        QStringLiteral("\u0915\u093F"), QStringLiteral("a\u200D")};
    const QStringList plain = {QStringLiteral("word"), QStringLiteral(" "), QStringLiteral("  "), QStringLiteral("\n"),
        QStringLiteral("."), QStringLiteral("_x1"), QStringLiteral("\t")};
    QTest::newRow("emoji between words") << emoji + plain << 0 << 1u;
    QTest::newRow("supplementary ideographs") << cjk + plain << 0 << 2u;
    QTest::newRow("combining marks") << marks + plain << 0 << 3u;
    QTest::newRow("everything") << emoji + cjk + marks + plain << 0 << 4u;
    const QStringList space = {QStringLiteral(" ")};
    QTest::newRow("everything, emoji side by side") << emoji + emoji + cjk + marks + space << 0 << 5u;
    // Long enough to stay long through the deletes.
    QTest::newRow("everything in a line over 4096") << emoji + cjk + marks + space + QStringList{QStringLiteral("word")}
                                                    << int(CodeTextBuffer::longLine) + 3000 << 6u;
    QTest::newRow("everything in a line over 16384") << emoji + cjk + marks + space + QStringList{QStringLiteral("word")}
                                                     << 16384 + 3000 << 7u;
}

void CodeTextShapingTest::keysKeepClustersWhole()
{
    // Random typing, deleting, double clicks and moves by characters, words and rows: every caret
    // stop is a grapheme cluster boundary, and the text stays well-formed and equal to a model of
    // the edits.
    QFETCH(QStringList, pieces);
    QFETCH(int, longLine);
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    QString start;
    while (start.size() < std::max(longLine, 300))
        start += pieces.at(random.bounded(int(pieces.size())));
    if (longLine)
        start.remove(QLatin1Char('\n'));
    CodeTextView view;
    show(view, 240, 300);
    QString model;
    connect(&view, &CodeTextView::textEdited, &view, [&](const TextEdit& edit) { edit.applyTo(model); });
    view.setText(start);
    model = start;
    view.setFocus();
    struct Key {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    };
    const Key keys[] = {{Qt::Key_Left, Qt::ControlModifier}, {Qt::Key_Right, Qt::ControlModifier},
        {Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier}, {Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier},
        {Qt::Key_Backspace, Qt::ControlModifier}, {Qt::Key_Delete, Qt::ControlModifier}, {Qt::Key_Left, {}},
        {Qt::Key_Right, {}}, {Qt::Key_Left, Qt::ShiftModifier}, {Qt::Key_Up, {}}, {Qt::Key_Down, Qt::ShiftModifier},
        {Qt::Key_Home, {}}, {Qt::Key_End, Qt::ShiftModifier}, {Qt::Key_Backspace, {}}, {Qt::Key_Delete, {}}};
    QString trail;
    for (int step = 0; step < 800; ++step) {
        const int choice = random.bounded(int(std::size(keys)) + 4);
        if (choice < int(std::size(keys))) {
            QTest::keyClick(&view, keys[choice].key, keys[choice].modifiers);
            trail += QLatin1Char(' ') + QKeySequence(keys[choice].modifiers | keys[choice].key).toString();
        } else if (choice == int(std::size(keys))) {
            // A caret put anywhere by the program comes to rest on a cluster bound on the next move.
            const qsizetype at = random.bounded(view.length() + 1);
            view.setSelection(at, at);
            QTest::keyClick(&view, Qt::Key_Right);
            trail += QStringLiteral(" @%1").arg(at);
        } else if (choice == int(std::size(keys)) + 1) {
            // A double click selects the word or the cluster under the pointer.
            QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, view.positionRect(view.caretPosition()).center());
            trail += QStringLiteral(" double-click");
        } else {
            // Typed text arrives whole, as an input method commits it.
            const QString piece = pieces.at(random.bounded(int(pieces.size())));
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, piece);
            QApplication::sendEvent(&view, &press);
            trail += QStringLiteral(" '%1'").arg(piece);
        }
        const QString text = view.text();
        const qsizetype caret = view.caretPosition();
        QString around;
        for (qsizetype i = std::max<qsizetype>(0, caret - 6); i < std::min(text.size(), caret + 6); ++i)
            around += QString::fromLatin1(i == caret ? " |%1" : " %1").arg(text[i].unicode(), 4, 16, QLatin1Char('0'));
        const QString where = QStringLiteral("step %1, caret %2, anchor %3, text%4, keys%5")
                                  .arg(step).arg(caret).arg(view.anchorPosition()).arg(around, trail.right(150));
        QVERIFY2(wellFormed(text), qPrintable(where));
        QVERIFY2(model == text, qPrintable(where));
        QVERIFY2(atCluster(text, view.caretPosition()), qPrintable(where));
        QVERIFY2(atCluster(text, view.anchorPosition()), qPrintable(where));
    }
}

void CodeTextShapingTest::preeditInline_data()
{
    QTest::addColumn<int>("before"); // units of text before the composition
    QTest::newRow("short line") << 0;
    QTest::newRow("line over 4096") << int(CodeTextBuffer::longLine) + 500;
    QTest::newRow("line over 16384") << 16384 + 3000;
}

void CodeTextShapingTest::preeditInline()
{
    // A composition takes room in its row as typed text would: what follows it stands where it
    // would stand had the composition been typed, and it is drawn.
    QFETCH(int, before);
    QString lead;
    while (lead.size() < before)
        lead += QStringLiteral("some words ");
    const QString composed = QStringLiteral("にほん");
    const QString tail = QStringLiteral("abc def ") + QString(before, QLatin1Char('z'));
    const qsizetype at = lead.size() + 3;
    const QString text = lead + tail;
    CodeTextView view;
    show(view, 400, 120);
    view.setText(text);
    view.setFocus();
    view.setSelection(at, at);
    QInputMethodEvent compose(composed, {QInputMethodEvent::Attribute(QInputMethodEvent::Cursor, 3, 1)});
    QApplication::sendEvent(&view, &compose);
    QCOMPARE(view.text(), text); // not yet part of the text
    QVERIFY(view.positionRect(at).left() > view.positionRect(at - 1).left()); // caret after the composition
    const qsizetype after[] = {at + 1, at + 4, at + 200};
    QList<QPoint> composing;
    for (qsizetype q : after)
        composing << view.positionRect(q).topLeft() - view.positionRect(0).topLeft();
    auto ink = [&] {
        const QImage image = view.viewport()->grab().toImage();
        int dark = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                dark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
        return dark;
    };
    view.scrollToPosition(at);
    const int withComposition = ink();
    QInputMethodEvent clear;
    QApplication::sendEvent(&view, &clear);
    QVERIFY2(withComposition > ink(), qPrintable(QString::number(withComposition)));

    QApplication::sendEvent(&view, &compose);
    QInputMethodEvent commit;
    commit.setCommitString(composed);
    QApplication::sendEvent(&view, &commit);
    QCOMPARE(view.text(), text.left(at) + composed + text.mid(at));
    QCOMPARE(view.caretPosition(), at + composed.size());
    for (int i = 0; i < int(std::size(after)); ++i)
        QCOMPARE(view.positionRect(after[i] + composed.size()).topLeft() - view.positionRect(0).topLeft(), composing[i]);
}

void CodeTextShapingTest::longLineKeepsItsDirection()
{
    // A row of a long left-to-right line that starts with right-to-left words reads as part of a
    // left-to-right paragraph: those words at its left, the English after them left to right.
    const QStringList words = {QStringLiteral("plain "), QStringLiteral("english "), QStringLiteral("words "),
        QStringLiteral("then "), QStringLiteral("שלום עולם "), QStringLiteral("more ")};
    QRandomGenerator random(7);
    QString line = QStringLiteral("plain ");
    while (line.size() < 16384 + 2000)
        line += words.at(random.bounded(int(words.size())));
    CodeTextView view;
    show(view, 420);
    view.setText(line);
    CodeTextLayout& layout = view.textLayout();
    int checked = 0;
    for (qint64 r = 0; r < 400 && checked < 5; ++r) {
        const auto [from, to] = layout.rowRange(0, r);
        if (from >= to || view.buffer().at(from).direction() != QChar::DirR)
            continue;
        ++checked;
        static const QRegularExpression latin(QStringLiteral("[a-z]+"));
        const QRegularExpressionMatch first = latin.match(view.buffer().mid(from, to - from));
        if (!first.hasMatch() || first.capturedLength() < 4)
            continue;
        const qsizetype english = from + first.capturedStart();
        QVERIFY2(layout.xOfPosition(english, false) < layout.xOfPosition(english + 3, false), qPrintable(QString::number(r)));
        QVERIFY(layout.xOfPosition(english, false) > layout.xOfPosition(from + 1, false));
        QVERIFY(layout.xOfPosition(english, false) < view.textAreaWidth() / 2);
    }
    QVERIFY(checked > 0);
}

void CodeTextShapingTest::inputMethodWindow_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<qsizetype>("caret");
    QTest::addColumn<qsizetype>("anchor");
    const QString word = QStringLiteral("word 😀 ");
    QTest::newRow("short line") << QStringLiteral("first\nabc def ghi\nlast") << qsizetype(10) << qsizetype(8);
    QTest::newRow("over 4096, caret far in") << word.repeated(800) << qsizetype(4000) << qsizetype(3990);
    QTest::newRow("over 16384, caret 500000 in") << word.repeated(80000) << qsizetype(500000) << qsizetype(1);
    QTest::newRow("over 16384, anchor past the window") << word.repeated(3000) << qsizetype(2001) << qsizetype(20000);
    QTest::newRow("window edge inside a pair") << QString(QStringLiteral("😀")).repeated(2000) << qsizetype(1501) << qsizetype(1501);
}

void CodeTextShapingTest::inputMethodWindow()
{
    QFETCH(QString, line);
    QFETCH(qsizetype, caret);
    QFETCH(qsizetype, anchor);
    CodeTextView view;
    show(view, 400, 120);
    view.setText(line);
    view.setFocus();
    view.setSelection(anchor, caret);
    caret = view.caretPosition();
    anchor = view.anchorPosition();
    QWidget& widget = view;
    const QString around = widget.inputMethodQuery(Qt::ImSurroundingText).toString();
    const int cursor = widget.inputMethodQuery(Qt::ImCursorPosition).toInt();
    const int anchorAt = widget.inputMethodQuery(Qt::ImAnchorPosition).toInt();
    // A bounded stretch of the caret's line, whole code points, with the caret where it is.
    QVERIFY(around.size() <= 2100);
    QVERIFY(cursor >= 0 && cursor <= around.size());
    QVERIFY(wellFormed(around));
    const qsizetype from = caret - cursor;
    QCOMPARE(around, line.mid(from, around.size()));
    QVERIFY(!around.contains(QLatin1Char('\n')));
    QVERIFY(anchorAt >= 0 && anchorAt <= around.size());
    if (anchor >= from && anchor <= from + around.size())
        QCOMPARE(anchorAt, int(anchor - from));
    // Text committed with a replacement relative to the caret lands where the window says.
    QInputMethodEvent replace(QString(), {});
    replace.setCommitString(QStringLiteral("X"), -1, 1);
    view.setSelection(caret, caret);
    if (caret > 0 && !line.at(caret - 1).isSurrogate()) {
        QApplication::sendEvent(&view, &replace);
        QCOMPARE(view.text(), QString(line).replace(caret - 1, 1, QStringLiteral("X")));
    }
}

void CodeTextShapingTest::endOnWrappedRows_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("short line") << 0;
    QTest::newRow("line over 4096") << int(CodeTextBuffer::longLine) + 900;
    QTest::newRow("line over 16384") << 16384 + 3000;
}

void CodeTextShapingTest::endOnWrappedRows()
{
    QFETCH(int, length);
    CodeTextView view;
    show(view, 260, 300);
    const QString words = QStringLiteral("one two three four five six seven eight nine ten eleven twelve thirteen fourteen");
    QString text = words;
    while (text.size() < length)
        text += QLatin1Char(' ') + words;
    view.setText(text);
    view.setFocus();
    view.textLayout().rowOfPosition(text.size(), false);
    const qint64 rows = view.textLayout().exactRowsOfLine(0);
    QVERIFY(rows >= 3);
    QList<qint64> checked;
    for (qint64 r = 0; r < rows; ++r)
        if (rows < 12 || r < 2 || std::abs(r - rows / 2) < 2 || r >= rows - 3)
            checked << r;
    for (qint64 r : checked) {
        view.scrollToPosition(view.textLayout().rowRange(0, r).first);
        const auto [from, to] = view.textLayout().rowRange(0, r);
        view.setSelection(from, from);
        const int rowTop = view.positionRect(from).top();
        QTest::keyClick(&view, Qt::Key_End);
        QCOMPARE(view.caretPosition(), to);
        // Drawn at the end of the same row, not at the start of the next one.
        const QRect caret = view.positionRect(view.caretPosition());
        QCOMPARE(caret.top(), rowTop);
        QVERIFY(caret.left() > view.positionRect(from).left());
        QVERIFY(caret.left() <= view.textMargins().left() + view.textAreaWidth());
        QCOMPARE(static_cast<QWidget&>(view).inputMethodQuery(Qt::ImCursorRectangle).toRect().top() - view.viewport()->pos().y(), rowTop);
        QTest::keyClick(&view, Qt::Key_End); // again: stays
        QCOMPARE(view.caretPosition(), to);
        QCOMPARE(view.positionRect(view.caretPosition()).top(), rowTop);
        QTest::keyClick(&view, Qt::Key_Home);
        QCOMPARE(view.caretPosition(), from);
    }
    // Typing at the end of a row goes where the caret is shown.
    view.scrollToPosition(0);
    const auto [from, to] = view.textLayout().rowRange(0, 0);
    view.setSelection(from, from);
    QTest::keyClick(&view, Qt::Key_End);
    QTest::keyClicks(&view, QStringLiteral("X"));
    QCOMPARE(view.text(), QString(text).insert(to, QLatin1Char('X')));
    // Spaces typed at the end of a row hang there, and the caret stays after them on that row.
    const qsizetype from1 = view.textLayout().rowRange(0, 1).first;
    view.setSelection(from1, from1);
    const int rowTop = view.positionRect(from1).top();
    QTest::keyClick(&view, Qt::Key_End);
    for (int i = 0; i < 2; ++i) {
        QTest::keyClick(&view, Qt::Key_Space);
        QCOMPARE(view.textLayout().rowRange(0, 1).second, view.caretPosition());
        QCOMPARE(view.positionRect(view.caretPosition()).top(), rowTop);
    }
    QTest::keyClick(&view, Qt::Key_Home);
    QCOMPARE(view.caretPosition(), from1);
}

void CodeTextShapingTest::correctionsKeepTheTopLine()
{
    // Lines whose estimated rows are wrong (wide emoji counted as two columns, words pushed to
    // the next row): scrolling into them corrects the counts, never the line at the top.
    QStringList lines;
    QRandomGenerator random(7);
    for (int i = 0; i < 400; ++i)
        lines << sample(QStringLiteral("mixed"), random).left(200 + random.bounded(300));
    CodeTextView view;
    show(view, 500, 300);
    view.setText(lines.join(QLatin1Char('\n')));
    for (qsizetype line : {10, 150, 390, 40}) {
        view.scrollToPosition(view.buffer().lineStart(line));
        QCOMPARE(view.topVisiblePosition(), view.buffer().lineStart(line));
        view.viewport()->repaint();
        QCOMPARE(view.topVisiblePosition(), view.buffer().lineStart(line));
        QCOMPARE(view.buffer().lineAt(view.positionAt(QPoint(view.textMargins().left() + 2, view.textMargins().top() + 2))), line);
    }
    // An edit above the top line keeps the same text at the top.
    const qsizetype top = view.topVisiblePosition();
    const QString topText = view.buffer().mid(top, 20);
    view.replaceRange({0, 0}, QStringLiteral("abc\n"));
    QCOMPARE(view.topVisiblePosition(), top + 4);
    QCOMPARE(view.buffer().mid(view.topVisiblePosition(), 20), topText);
}

void CodeTextShapingTest::verticalMovesFollowTheLineLayout_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("length");
    for (const char* kind : {"prose", "cjk", "tabs"})
        for (int length : {0, int(CodeTextBuffer::longLine) + 900, 16384 + 3000})
            QTest::newRow(QByteArray(kind).append(length == 0 ? ", short line" : length > 16384 ? ", line over 16384" : ", line over 4096").constData())
                << QString::fromLatin1(kind) << length;
}

void CodeTextShapingTest::verticalMovesFollowTheLineLayout()
{
    // Down and Up keep the caret's x, as a layout of the whole line places it, in every row.
    QFETCH(QString, kind);
    QFETCH(int, length);
    QRandomGenerator random(quint32(qHash(kind) ^ uint(length)));
    QString line = sample(kind, random);
    while (line.size() < std::max(length, 400))
        line += sample(kind, random);
    CodeTextView view;
    show(view, 300);
    view.setText(line);
    view.setFocus();
    const auto whole = wholeLineLayout(line, view);
    const QTextLayout& expected = *whole;
    CodeTextLayout& layout = view.textLayout();
    for (int step = 0; step < 40; ++step) {
        const int r = int(random.bounded(expected.lineCount() - 1));
        const QTextLine row = expected.lineAt(r), next = expected.lineAt(r + 1);
        const qsizetype from = layout.previousCursorPosition(row.textStart() + random.bounded(std::max(1, row.textLength())) + 1);
        const qreal x = row.cursorToX(int(from));
        // (In the spaces that end a row Qt finds x back at the row's end.)
        if (from >= row.textStart() + row.textLength() || x >= view.textAreaWidth() - 1
            || line.mid(from, row.textStart() + row.textLength() - from).trimmed().isEmpty())
            continue;
        qsizetype to = next.xToCursor(x);
        // Never past the end of a row that wraps.
        if (r + 2 < expected.lineCount() && to >= next.textStart() + next.textLength())
            to = layout.previousCursorPosition(next.textStart() + next.textLength());
        view.setSelection(from, from);
        QTest::keyClick(&view, Qt::Key_Down);
        QVERIFY2(std::abs(next.cursorToX(int(view.caretPosition())) - next.cursorToX(int(to))) < 0.5,
            qPrintable(QStringLiteral("row %1, from %2: %3, expected %4").arg(r).arg(from).arg(view.caretPosition()).arg(to)));
        QTest::keyClick(&view, Qt::Key_Up);
        QCOMPARE(view.caretPosition(), from);
    }
}

void CodeTextShapingTest::longLineEditsKeepShapes_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("emoji") << QStringLiteral("emoji");
    QTest::newRow("CJK") << QStringLiteral("cjk");
    QTest::newRow("marks and right-to-left words") << QStringLiteral("marks");
}

void CodeTextShapingTest::longLineEditsKeepShapes()
{
    // A line too long to shape whole: after edits anywhere in it, the caret's place in the
    // edited row is where a fresh shaping of that row's text puts it, both ways. (Pieces shaped
    // apart may differ from the row by less than a column where a sequence's font depends on
    // what follows it.)
    QFETCH(QString, kind);
    QRandomGenerator random(quint32(qHash(kind)));
    QString text;
    while (text.size() <= CodeTextBuffer::longLine + 4000)
        text += sample(kind, random);
    CodeTextView view;
    show(view, 420);
    view.setText(text);
    CodeTextLayout& layout = view.textLayout();
    const QStringList inserts = {QStringLiteral("x"), QStringLiteral("🇫🇷"), QStringLiteral("\u0301"), QStringLiteral("漢字 "),
        QString(300, QLatin1Char('w'))};
    for (int step = 0; step < 40; ++step) {
        const qsizetype at = layout.previousCursorPosition(random.bounded(view.length()));
        const qsizetype removed = step % 3 == 0 ? std::min<qsizetype>(random.bounded(200), view.length() - at) : 0;
        view.replaceRange({at, removed}, step % 5 == 4 ? QString() : inserts.at(random.bounded(int(inserts.size()))));
        view.scrollToPosition(at);
        view.viewport()->repaint();
        const qint64 row = layout.rowOfPosition(at, false);
        const auto [from, to] = layout.rowRange(0, row);
        QTextLayout fresh(view.buffer().mid(from, to - from), view.font());
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        option.setTabStopDistance(view.characterWidth() * CodeTextBuffer::tabWidth);
        // The row is part of its line's paragraph, whose direction its first letters give.
        option.setTextDirection(view.text().isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
        fresh.setTextOption(option);
        fresh.beginLayout();
        fresh.createLine();
        fresh.endLayout();
        // A row of right-to-left text takes its bidi levels from the whole line, and one that
        // starts with what an edit left of a sequence is placed by Qt otherwise than a layout of
        // the row alone: those rows are not compared.
        const QChar first = view.buffer().at(from);
        const bool oddStart = fresh.text().isRightToLeft() || holdsRightToLeft(fresh.text())
            || first.isLowSurrogate() || first.isMark() || first.category() == QChar::Other_Format
            || (first.isHighSurrogate() && view.buffer().at(from + 1).unicode() >= 0xDFFB
                && view.buffer().at(from + 1).unicode() <= 0xDFFF);
        for (qsizetype p = from; p < to && !oddStart; p = layout.nextCursorPosition(p)) {
            const qreal x = layout.xOfPosition(p, false);
            // (Past the edge of a row that is wider than the view, the caret stays at the edge.)
            const qreal expected = std::min(fresh.lineAt(0).cursorToX(int(p - from)), view.textAreaWidth() - 1);
            QVERIFY2(std::abs(x - expected) < view.characterWidth(),
                qPrintable(QStringLiteral("step %1, position %2: x %3, expected %4").arg(step).arg(p).arg(x).arg(expected)));
            // Where Qt's layout of the row finds the position back from its x, ours does too.
            if (fresh.lineAt(0).xToCursor(x) == p - from)
                QCOMPARE(layout.positionAtX(0, row, x), p);
        }
    }
}

QUORRIX_TEST_MAIN(CodeTextShapingTest)
#include "CodeTextShapingTest.moc"
