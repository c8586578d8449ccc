#include "CodeTextModel.h"
#include "kit/TextHelpers.h"

#include "kit/CodeTextBuffer.h"
#include "kit/CodeTextUndoStack.h"

#include <QRandomGenerator>
#include <QTest>

#include <memory>

class CodeTextBufferTest : public QObject {
    Q_OBJECT
private slots:
    void lineBreaks_data();
    void lineBreaks();
    void columns_data();
    void columns();
    void positionAtColumn_data();
    void positionAtColumn();
    void randomEdits_data();
    void randomEdits();
    void undoMerging_data();
    void undoMerging();
    void memory();
    void largeText_data();
    void largeText();
    void heldText_data();
    void heldText();
    void borrowedSource_data();
    void borrowedSource();
    void narrowedLater_data();
    void narrowedLater();
    void pasteOverEverything();
    void linesLongerThan_data();
    void linesLongerThan();
    void fewLinesInOtherScripts_data();
    void fewLinesInOtherScripts();
    void fromUtf8_data();
    void fromUtf8();
};

void CodeTextBufferTest::lineBreaks_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("lines");
    QTest::newRow("empty") << "" << "" << 1;
    QTest::newRow("one letter") << "a" << "a" << 1;
    QTest::newRow("letter LF") << "a\n" << "a\n" << 2;
    QTest::newRow("CR LF is one break") << "a\r\nb" << "a\nb" << 2;
    QTest::newRow("lone CR is a break") << "a\rb" << "a\nb" << 2;
    QTest::newRow("CR CR LF") << "\r\r\n" << "\n\n" << 3;
    QTest::newRow("lone LF") << "\n" << "\n" << 2;
    QTest::newRow("no other unit breaks") << QString::fromUtf16(u"a\u2028b\u2029c\u0085") << QString::fromUtf16(u"a\u2028b\u2029c\u0085") << 1;
    // Line feeds and CRs are looked for many units a step.
    const QString run = QString(100, u'a');
    QTest::newRow("CR LF after a long line") << run + "\r\nb" << run + "\nb" << 2;
    QTest::newRow("lone CR far into the text") << (run + u'\n').repeated(40) + "\rc" << (run + u'\n').repeated(40) + "\nc" << 42;
    QTest::newRow("CR LF lines read in parts") << QStringLiteral("{\"k\": 1},\r\n").repeated(400'000)
                                               << QStringLiteral("{\"k\": 1},\n").repeated(400'000) << 400'001;
}

void CodeTextBufferTest::lineBreaks()
{
    QFETCH(QString, input);
    QFETCH(QString, stored);
    QFETCH(int, lines);
    const CodeTextBuffer buffer(input);
    QCOMPARE(buffer.text(), stored);
    QCOMPARE(buffer.lineCount(), lines);
    CodeTextModel::check(buffer, stored);
}

void CodeTextBufferTest::columns_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<qint64>("columns");
    QTest::newRow("ascii") << "abc" << qint64(3);
    QTest::newRow("tab at start") << "\tx" << qint64(5);
    QTest::newRow("tab to next stop") << "ab\tx" << qint64(5);
    QTest::newRow("tab on a stop") << "abcd\tx" << qint64(9);
    QTest::newRow("wide CJK") << QString::fromUtf16(u"\u4E2D\u6587") << qint64(4);
    QTest::newRow("combining mark") << QString::fromUtf16(u"e\u0301") << qint64(1);
    QTest::newRow("wide emoji pair") << QString::fromUtf16(u"\U0001F600x") << qint64(3);
    QTest::newRow("narrow astral") << QString::fromUtf16(u"\U0001D400") << qint64(1);
    QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) + "a" << qint64(2);
    QTest::newRow("tab after wide") << QString::fromUtf16(u"\u4E2D\t") << qint64(4);
    // East Asian widths from the Unicode data: Wide and Fullwidth take two, Ambiguous and
    // Neutral one.
    QTest::newRow("emoji in the dingbats") << QString::fromUtf16(u"\u2705\u274Cx") << qint64(5);
    QTest::newRow("emoji among symbols") << QString::fromUtf16(u"\u231A\u26A1") << qint64(4);
    QTest::newRow("text-style symbols") << QString::fromUtf16(u"\u2603\u2764\u2192") << qint64(3);
    QTest::newRow("replacement character") << QString::fromUtf16(u"a\uFFFDb") << qint64(3);
    QTest::newRow("ideographic space and fullwidth A") << QString::fromUtf16(u"\u3000\uFF21") << qint64(4);
    QTest::newRow("halfwidth katakana") << QString::fromUtf16(u"\uFF76") << qint64(1);
    QTest::newRow("Hangul syllable and jamo") << QString::fromUtf16(u"\uD55C\u1100\u1161") << qint64(4);
    QTest::newRow("regional indicator") << QString::fromUtf16(u"\U0001F1FA") << qint64(1);
    QTest::newRow("astral emoji outside the faces") << QString::fromUtf16(u"\U0001FA70\U0001F7E0") << qint64(4);
    QTest::newRow("astral ideograph") << QString::fromUtf16(u"\U00020000") << qint64(2);
    QTest::newRow("emoji with a presentation selector") << QString::fromUtf16(u"\u2764\uFE0F") << qint64(1);
}

void CodeTextBufferTest::columns()
{
    QFETCH(QString, line);
    QFETCH(qint64, columns);
    QCOMPARE(CodeTextBuffer(line).lineColumns(0), columns);
    // The same line long enough to keep checkpoints measures the same per repeat.
    QString longLine;
    while (longLine.size() < 9000)
        longLine += line;
    const CodeTextBuffer big(longLine);
    QCOMPARE(big.lineColumns(0), CodeTextModel::columnsOf(longLine));
}

void CodeTextBufferTest::positionAtColumn_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<qint64>("column");
    QTest::addColumn<bool>("nearest");
    QTest::addColumn<qsizetype>("position");
    QTest::newRow("start") << "abc" << qint64(0) << false << qsizetype(0);
    QTest::newRow("past end") << "abc" << qint64(9) << false << qsizetype(3);
    QTest::newRow("inside tab") << "a\tb" << qint64(2) << false << qsizetype(1);
    QTest::newRow("inside tab, nearest right") << "a\tb" << qint64(3) << true << qsizetype(2);
    QTest::newRow("second half of wide") << QString::fromUtf16(u"\u4E2Dx") << qint64(1) << false << qsizetype(0);
    QTest::newRow("after wide") << QString::fromUtf16(u"\u4E2Dx") << qint64(2) << false << qsizetype(1);
    QTest::newRow("pair kept whole") << QString::fromUtf16(u"\U0001F600x") << qint64(2) << false << qsizetype(2);
    QTest::newRow("mark stays with base") << QString::fromUtf16(u"e\u0301x") << qint64(1) << false << qsizetype(2);
}

void CodeTextBufferTest::positionAtColumn()
{
    QFETCH(QString, line);
    QFETCH(qint64, column);
    QFETCH(bool, nearest);
    QFETCH(qsizetype, position);
    QCOMPARE(CodeTextBuffer(line).positionAtColumn(0, column, nearest), position);
}

namespace {

// With `latin1`, only characters a block may keep as Latin-1 bytes.
QString randomPiece(QRandomGenerator& rng, int maxLength, bool latin1 = false)
{
    static const QString alphabet = QString::fromUtf16(u"abc {}[]\",:\t\n\n\u4E2D\u0301 ") + QStringLiteral("\r\n");
    static const QString latin1Alphabet = QString::fromUtf16(u"abc {}[]\",:\t\n\n\u00E9\u00FF\u0080 \r\n");
    QString out;
    const int n = int(rng.bounded(maxLength + 1));
    for (int i = 0; i < n; ++i) {
        const int pick = int(rng.bounded(20));
        if (latin1)
            out += latin1Alphabet[rng.bounded(latin1Alphabet.size())];
        else if (pick == 0)
            out += QString::fromUtf16(u"\U0001F600"); // surrogate pair
        else if (pick == 1)
            out += QStringLiteral("\r");
        else
            out += alphabet[rng.bounded(alphabet.size())];
    }
    return out;
}

} // namespace

void CodeTextBufferTest::randomEdits_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("longLine");
    QTest::addColumn<int>("tabEvery");
    // Latin-1 text starts in byte blocks; every `wideEvery`th edit brings a character beyond
    // Latin-1, which widens the blocks it lands in.
    QTest::addColumn<int>("wideEvery");
    QTest::newRow("short lines") << 1u << 0 << 30 << 0;
    QTest::newRow("short lines, other edits") << 2u << 0 << 30 << 0;
    QTest::newRow("long line") << 3u << 12000 << 30 << 0;
    QTest::newRow("longer line") << 4u << 20000 << 30 << 0;
    QTest::newRow("long line, sparse tabs") << 6u << 30000 << 400 << 0;
    QTest::newRow("long line, sparser tabs") << 7u << 30000 << 250 << 0;
    QTest::newRow("many blocks") << 5u << 0 << 30 << 0;
    QTest::newRow("Latin-1 short lines, widened now and then") << 8u << 0 << 30 << 25;
    QTest::newRow("Latin-1 long line, widened now and then") << 9u << 20000 << 30 << 40;
    QTest::newRow("Latin-1 long line, never widened") << 10u << 30000 << 250 << 1000;
}

void CodeTextBufferTest::randomEdits()
{
    QFETCH(quint32, seed);
    QFETCH(int, longLine);
    QFETCH(int, tabEvery);
    QFETCH(int, wideEvery);
    const bool latin1 = wideEvery > 0;
    QRandomGenerator rng(seed);
    QString model;
    for (int i = 0; i < 400; ++i)
        model += randomPiece(rng, 40, latin1);
    if (longLine > 0) {
        const QString wide = latin1 ? QString::fromUtf16(u"\u00E9") : QString::fromUtf16(u"\u4E2D");
        QString line;
        while (line.size() < longLine)
            line += (rng.bounded(tabEvery) == 0 ? QStringLiteral("\t") : QString()) + QStringLiteral("{\"k\":12,") + wide;
        model.insert(model.size() / 2, QLatin1Char('\n') + line + QLatin1Char('\n'));
    }
    model = TextHelpers::normalizedLineBreaks(model);
    CodeTextBuffer buffer(model);
    QCOMPARE(buffer.hasLatin1Blocks(), latin1);
    // A snapshot held over some edits keeps the text it was taken of.
    CodeTextSnapshot held = buffer.snapshot();
    QString heldModel = model;
    for (int step = 0; step < 300; ++step) {
        qsizetype pos = rng.bounded(model.size() + 1);
        qsizetype len = rng.bounded(std::min<qsizetype>(model.size() - pos, step % 17 == 0 ? 3000 : 8) + 1);
        const bool widening = latin1 && step % wideEvery == wideEvery - 1;
        const QString piece = randomPiece(rng, step % 23 == 0 ? 2000 : 6, latin1 && !widening)
            + (widening ? QString::fromUtf16(u"\u4E2D") : QString());
        buffer.replace(pos, len, piece);
        model.replace(pos, len, TextHelpers::normalizedLineBreaks(piece));
        CodeTextModel::check(buffer, model);
        if (step % 10 == 0) {
            const CodeTextSnapshot now = buffer.snapshot();
            QString parts;
            now.forEachPart([&parts](QStringView part) {
                parts += part;
                return true;
            });
            QCOMPARE(parts, model);
            const qsizetype from = rng.bounded(model.size() + 1);
            QCOMPARE(now.mid(from, 5000), model.mid(from, 5000));
            QCOMPARE(held.text(), heldModel);
            held = now;
            heldModel = model;
        }
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("after step %1 (replace %2+%3)").arg(step).arg(pos).arg(len)));
    }
}

void CodeTextBufferTest::undoMerging_data()
{
    using Kind = CodeTextUndoStack::Kind;
    QTest::addColumn<int>("firstKind");
    QTest::addColumn<int>("secondKind");
    QTest::addColumn<qsizetype>("secondPosition");
    QTest::addColumn<bool>("breakBetween");
    QTest::addColumn<int>("steps");
    QTest::newRow("typing at the caret merges") << int(Kind::Typing) << int(Kind::Typing) << qsizetype(1) << false << 1;
    QTest::newRow("typing elsewhere does not") << int(Kind::Typing) << int(Kind::Typing) << qsizetype(5) << false << 2;
    QTest::newRow("a caret move breaks the merge") << int(Kind::Typing) << int(Kind::Typing) << qsizetype(1) << true << 2;
    QTest::newRow("other edits never merge") << int(Kind::Other) << int(Kind::Other) << qsizetype(1) << false << 2;
    QTest::newRow("typing then deleting") << int(Kind::Typing) << int(Kind::DeleteBackward) << qsizetype(0) << false << 2;
}

void CodeTextBufferTest::undoMerging()
{
    QFETCH(int, firstKind);
    QFETCH(int, secondKind);
    QFETCH(qsizetype, secondPosition);
    QFETCH(bool, breakBetween);
    QFETCH(int, steps);
    CodeTextUndoStack stack;
    CodeTextUndoStack::Step a;
    a.position = 0;
    a.inserted = QStringLiteral("x");
    a.kind = CodeTextUndoStack::Kind(firstKind);
    stack.record(a);
    if (breakBetween)
        stack.breakMerge();
    CodeTextUndoStack::Step b;
    b.position = secondPosition;
    if (CodeTextUndoStack::Kind(secondKind) == CodeTextUndoStack::Kind::DeleteBackward)
        b.removed = QStringLiteral("x");
    else
        b.inserted = QStringLiteral("y");
    b.kind = CodeTextUndoStack::Kind(secondKind);
    stack.record(b);
    int count = 0;
    while (stack.takeUndo())
        ++count;
    QCOMPARE(count, steps);
    QVERIFY(stack.canRedo());
    stack.clear();
    QVERIFY(!stack.canRedo());
}

void CodeTextBufferTest::memory()
{
    QString text;
    for (int i = 0; i < 100000; ++i)
        text += QStringLiteral("  \"key\": 12345,\n");
    const CodeTextBuffer buffer(text);
    QVERIFY2(buffer.memoryUsage() < 3 * text.size() + 8 * buffer.lineCount(), qPrintable(QString::number(buffer.memoryUsage())));
    const CodeTextBuffer one(QString(3'000'000, QLatin1Char('x')));
    QVERIFY(one.memoryUsage() < 3 * 3'000'000 + 8);
    // Latin-1 text is kept at a byte a unit.
    QVERIFY2(buffer.memoryUsage() < 3 * text.size() / 2, qPrintable(QString::number(buffer.memoryUsage())));
    QVERIFY(one.memoryUsage() < 3'000'000 * 5 / 4);
    // Pretty-printed numbers, a line each, read in place: the line starts add little to the bytes.
    const QByteArray numbers = QByteArrayLiteral("    1,\n").repeated(300000);
    const CodeTextBuffer printed = CodeTextBuffer::fromUtf8(numbers);
    QCOMPARE(printed.lineCount(), 300001);
    QVERIFY2(printed.memoryUsage() < numbers.size() * 11 / 10, qPrintable(QString::number(printed.memoryUsage())));
}


void CodeTextBufferTest::largeText_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<qint64>("widest"); // the most columns of a line; -1: as the lines' own counts say
    const QString lines = QStringLiteral("  \"key\": [1, \"\u4E2D\", true],\n").repeated(330'000);
    QTest::newRow("short lines, ending with a line feed") << lines << qint64(-1);
    QTest::newRow("short lines, then an unended line") << lines + QStringLiteral("tail") << qint64(-1);
    // The long line ends with the first short one, of 25 columns.
    QTest::newRow("one long line among short ones") << lines + QStringLiteral("x").repeated(5'000'000) + lines
                                                    << qint64(5'000'025);
    QTest::newRow("one line") << QStringLiteral("{\"a\":1},").repeated(1'200'000) << qint64(9'600'000);
    // A wide character takes two columns.
    QTest::newRow("a few lines, then one line of another script")
        << QStringLiteral("[1,\n").repeated(1000) + QString::fromUtf16(u"\u4E2Dab").repeated(2'000'000) << qint64(8'000'000);
    QTest::newRow("one line broken by a lone CR near its end")
        << QStringLiteral("x").repeated(6'000'000) + QLatin1Char('\r') + QStringLiteral("y").repeated(10) << qint64(6'000'000);
    QTest::newRow("one line with a tab near its end") << QStringLiteral("x").repeated(6'000'002) + QStringLiteral("\ty")
                                                      << qint64(6'000'005);
}

// Text of many megabytes is split in parts and built side by side; lines and columns must
// come out as if it were built in one pass.
void CodeTextBufferTest::largeText()
{
    QFETCH(QString, given);
    CodeTextBuffer buffer(given);
    const QString text = TextHelpers::normalizedLineBreaks(given);
    QCOMPARE(buffer.length(), text.size());
    QCOMPARE(buffer.text(), text);
    QCOMPARE(buffer.lineCount(), text.count(QLatin1Char('\n')) + 1);
    qsizetype start = 0;
    qint64 most = 0;
    for (qsizetype line = 0; line < buffer.lineCount(); ++line) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        if (line % 997 == 0 || end - start > 1000) {
            QCOMPARE(buffer.lineStart(line), start);
            QCOMPARE(buffer.lineLength(line), end - start);
        }
        const qint64 columns = buffer.lineColumns(line);
        most = std::max(most, columns);
        start = end + 1;
    }
    QCOMPARE(buffer.maxLineColumns(), most);
    QFETCH(qint64, widest);
    if (widest >= 0) {
        QCOMPARE(buffer.maxLineColumns(), widest);
    }
    QCOMPARE(buffer.lineAt(text.size()), buffer.lineCount() - 1);
}

void CodeTextBufferTest::heldText_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<bool>("replaceAll");
    const QString longLine = QStringLiteral("{\"id\":1,\"on\":true},").repeated(80'000); // over a million units
    QString shortLines;
    for (int i = 0; i < 3000; ++i)
        shortLines += QStringLiteral("  \"k%1\": [1, 2],\n").arg(i);
    QTest::newRow("one long line") << longLine << false;
    QTest::newRow("short lines") << shortLines << false;
    QTest::newRow("pasted over everything") << shortLines << true;
    QTest::newRow("long line pasted over everything") << longLine << true;
}

// Whoever holds an answer of text() keeps that text while the buffer goes on being edited.
void CodeTextBufferTest::heldText()
{
    QFETCH(QString, start);
    QFETCH(bool, replaceAll);
    CodeTextBuffer buffer(QStringLiteral("[1]"));
    QString model = QStringLiteral("[1]");
    if (replaceAll) {
        buffer.replace(0, buffer.length(), start);
        QCOMPARE(buffer.text(), start);
    } else {
        buffer = CodeTextBuffer(start);
    }
    model = start;
    QList<QString> held;
    QRandomGenerator rng(9);
    for (int step = 0; step < 12; ++step) {
        held.append(buffer.text());
        QCOMPARE(held.last(), model);
        const qsizetype pos = rng.bounded(model.size() + 1);
        const QString piece = step % 3 == 0 ? QStringLiteral("\n\"x\"") : QStringLiteral("7");
        buffer.replace(pos, step % 4 == 0 ? 1 : 0, piece);
        model.replace(pos, step % 4 == 0 ? 1 : 0, piece);
        QCOMPARE(buffer.text(), model);
        QCOMPARE(buffer.text(), model); // the second answer is the same text
        CodeTextModel::check(buffer, model);
        if (held.size() > 2)
            held.removeFirst();
    }
    QCOMPARE(buffer.length(), model.size());
}

void CodeTextBufferTest::borrowedSource_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("lineBreak");
    QTest::newRow("short lines") << QStringLiteral("  \"key\": [1, 2, \"\u4E2D\"],") << 20000 << QStringLiteral("\n");
    QTest::newRow("short CR LF lines") << QStringLiteral("a\tb c") << 20000 << QStringLiteral("\r\n");
    QTest::newRow("one long line") << QStringLiteral("{\"k\":1}") << 1000 << QString();
    QTest::newRow("text built in parts") << QStringLiteral("    \"name\": \"item\",") << 600000 << QStringLiteral("\n");
    QTest::newRow("long lines, each a block") << QStringLiteral("[1, 2],").repeated(900) << 5 << QStringLiteral("\n");
    QTest::newRow("one line built in parts") << QStringLiteral("{\"k\":1}") << 1000000 << QString();
    QTest::newRow("parts without a line feed") << QStringLiteral("[1, 2],").repeated(300000) << 3 << QStringLiteral("\n");
}

// A buffer built from a string reads it in place: neither the owner's later edits nor the
// owner's and the buffer's ends may change what either holds.
void CodeTextBufferTest::borrowedSource()
{
    QFETCH(QString, line);
    QFETCH(int, count);
    QFETCH(QString, lineBreak);
    QString source;
    for (int i = 0; i < count; ++i)
        source += line + lineBreak;
    const QString expected = TextHelpers::normalizedLineBreaks(source);
    auto buffer = std::make_unique<CodeTextBuffer>(source);
    source.replace(0, 3, QStringLiteral("XYZ"));
    source[source.size() / 2] = u'#';
    QCOMPARE(buffer->text(), expected);
    const qsizetype middle = expected.size() / 2;
    const QString piece = buffer->mid(middle, 40);
    const QString whole = buffer->text();
    source = QString();
    buffer->replace(middle, 1, QStringLiteral("!"));
    QString edited = expected;
    edited.replace(middle, 1, QStringLiteral("!"));
    QCOMPARE(buffer->text(), edited);
    QCOMPARE(buffer->mid(0, expected.size()), edited);
    buffer.reset();
    QCOMPARE(piece, expected.mid(middle, 40));
    QCOMPARE(whole, expected);
}

void CodeTextBufferTest::narrowedLater_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("editedBetween");
    QTest::addColumn<bool>("latin1After");
    const QString lines = QStringLiteral("  \"caf\u00E9\": [1, 2],\n").repeated(3000);
    const QString longLine = QStringLiteral("{\"k\":1},").repeated(2000);
    QTest::newRow("Latin-1 lines") << lines << false << true;
    QTest::newRow("one long line") << longLine << false << true;
    QTest::newRow("Latin-1 lines around a CJK line") << lines + QString::fromUtf16(u"\u4E2D\n") + lines << false << true;
    QTest::newRow("all CJK") << QString::fromUtf16(u"\u4E2D\u6587\n").repeated(5000) << false << false;
    QTest::newRow("edited before the copies are applied") << lines << true << false;
    QTest::newRow("long line edited before the copies are applied") << longLine << true << false;
}

// A buffer narrowed later reads its source in place until its Latin-1 copies are applied, and
// answers the same text before and after, holding no more than a buffer narrowed at once; an
// edit in between leaves it as it was.
void CodeTextBufferTest::narrowedLater()
{
    QFETCH(QString, text);
    QFETCH(bool, editedBetween);
    QFETCH(bool, latin1After);
    QString source = text;
    CodeTextBuffer buffer = CodeTextBuffer::narrowedLater(source);
    QVERIFY(!buffer.hasLatin1Blocks());
    QVERIFY(buffer.isNarrowingPending());
    CodeTextBuffer::Narrowing job = buffer.narrowing();
    QString model = text;
    if (editedBetween) {
        buffer.replace(5, 1, QStringLiteral("x"));
        model.replace(5, 1, QStringLiteral("x"));
    }
    job.run();
    QCOMPARE(buffer.apply(std::move(job)), !editedBetween);
    QCOMPARE(buffer.isNarrowingPending(), editedBetween);
    if (!editedBetween) {
        QCOMPARE(buffer.hasLatin1Blocks(), latin1After);
        // Copies made later take no more room than those made at once (which, with Latin-1
        // blocks, let go of the source too).
        const CodeTextBuffer atOnce{QString(text)};
        if (latin1After)
            QVERIFY2(buffer.memoryUsage() <= atOnce.memoryUsage(),
                     qPrintable(QStringLiteral("%1 bytes, at once %2").arg(buffer.memoryUsage()).arg(atOnce.memoryUsage())));
    }
    source = QString(); // the buffer holds its own copies now
    CodeTextModel::check(buffer, model);
    if (QTest::currentTestFailed())
        return;
    buffer.replace(model.size() / 2, 3, QStringLiteral("\u00FF\n"));
    model.replace(model.size() / 2, 3, QStringLiteral("\u00FF\n"));
    CodeTextModel::check(buffer, model);
}

// A large paste over the whole text is read in place: the pasted string's later changes don't
// reach it, a narrowing begun before it is refused, and one begun after it applies.
void CodeTextBufferTest::pasteOverEverything()
{
    const QString before = QStringLiteral("  \"caf\u00E9\": [1, 2],\n").repeated(3000);
    CodeTextBuffer buffer = CodeTextBuffer::narrowedLater(before);
    CodeTextBuffer::Narrowing stale = buffer.narrowing();
    QString pasted = QStringLiteral("{\"k\": \"\u00E9t\u00E9\"},\n").repeated(80000);
    QVERIFY(pasted.size() >= (1 << 20));
    QString model = pasted;
    QCOMPARE(buffer.replace(0, buffer.length(), pasted), pasted.size());
    pasted[3] = u'#';
    stale.run();
    QVERIFY(!buffer.apply(std::move(stale)));
    CodeTextModel::check(buffer, model);
    CodeTextBuffer::Narrowing fresh = buffer.narrowing();
    fresh.run();
    QVERIFY(buffer.apply(std::move(fresh)));
    QVERIFY(buffer.hasLatin1Blocks());
    pasted = QString();
    buffer.replace(model.size() / 2, 3, QStringLiteral("\u4E2D\n"));
    model.replace(model.size() / 2, 3, QStringLiteral("\u4E2D\n"));
    CodeTextModel::check(buffer, model);
}

void CodeTextBufferTest::linesLongerThan_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("units");
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<qsizetype>("to");
    const QString shortLines = QStringLiteral("  \"k\": [1, 2],\n").repeated(2000);
    const QString mid = QString(3000, u'm') + u'\n'; // longer than the limit, shorter than a block
    const QString huge = QStringLiteral("{\"k\":1},").repeated(3000) + u'\n'; // a block of its own
    const QString mixed = shortLines + mid + shortLines + huge + shortLines + QString(2100, u'e');
    QTest::newRow("short lines only") << shortLines << qsizetype(2048) << qsizetype(0) << qsizetype(shortLines.size());
    QTest::newRow("long lines among short ones") << mixed << qsizetype(2048) << qsizetype(0) << qsizetype(mixed.size());
    QTest::newRow("a span after the first") << mixed << qsizetype(2048) << qsizetype(shortLines.size() + mid.size())
                                            << qsizetype(mixed.size());
    QTest::newRow("a span cutting the last") << mixed << qsizetype(2048) << qsizetype(0) << qsizetype(mixed.size() - 100);
    QTest::newRow("a span cutting it below the limit") << mixed << qsizetype(2048) << qsizetype(0)
                                                       << qsizetype(mixed.size() - 2100 + 2000);
    QTest::newRow("lines of exactly the limit") << (QString(2047, u'x') + u'\n').repeated(5) << qsizetype(2048)
                                                << qsizetype(0) << qsizetype(5 * 2048);
    QTest::newRow("one unit past it") << (QString(2048, u'x') + u'\n').repeated(5) << qsizetype(2048) << qsizetype(0)
                                      << qsizetype(5 * 2049);
}

// The buffer's long lines are those a walk through the text finds.
void CodeTextBufferTest::linesLongerThan()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, units);
    QFETCH(qsizetype, from);
    QFETCH(qsizetype, to);
    std::vector<std::pair<qsizetype, qsizetype>> expected;
    for (qsizetype start = 0; start < text.size();) {
        const qsizetype lf = text.indexOf(u'\n', start);
        const qsizetype next = lf < 0 ? text.size() : lf + 1;
        const qsizetype end = std::min(to, next);
        if (start >= from && start < to && end - start > units)
            expected.emplace_back(start, end - start);
        start = next;
    }
    const CodeTextBuffer buffer(text);
    QCOMPARE(buffer.linesLongerThan(units, from, to), expected);
}

void CodeTextBufferTest::fewLinesInOtherScripts_data()
{
    QTest::addColumn<bool>("narrowLater");
    QTest::newRow("narrowed at once") << false;
    QTest::newRow("narrowed later") << true;
}

// A text of Latin-1 lines with a line in another script now and then (tweets among their
// metadata) is held mostly as Latin-1, and reads and edits as any other.
void CodeTextBufferTest::fewLinesInOtherScripts()
{
    QFETCH(bool, narrowLater);
    const QString latin1 = QStringLiteral("    \"caf\u00E9\": 12345,\n").repeated(60);
    const QString other = QString::fromUtf16(u"    \"text\": \"\u6771\u4EAC\u3067\u4F1A\u3044\u307E\u3057\u3087\u3046\",\n");
    QString text = (latin1 + other).repeated(400);
    QString source = text;
    CodeTextBuffer buffer = narrowLater ? CodeTextBuffer::narrowedLater(source) : CodeTextBuffer(source);
    if (narrowLater) {
        CodeTextBuffer::Narrowing job = buffer.narrowing();
        job.run();
        QVERIFY(buffer.apply(std::move(job)));
    }
    source = QString();
    // All of it as UTF-16 would take two bytes a unit, and its tables more.
    QVERIFY2(buffer.memoryUsage() < text.size() * 17 / 10,
             qPrintable(QStringLiteral("%1 bytes for %2 units").arg(buffer.memoryUsage()).arg(text.size())));
    CodeTextModel::check(buffer, text);
    if (QTest::currentTestFailed())
        return;
    // Across the end of a Latin-1 run, into the line after it.
    const qsizetype at = latin1.size() - 3;
    buffer.replace(at, 10, QString::fromUtf16(u"\u00E9\n\u4E2D"));
    text.replace(at, 10, QString::fromUtf16(u"\u00E9\n\u4E2D"));
    CodeTextModel::check(buffer, text);
}


void CodeTextBufferTest::fromUtf8_data()
{
    QTest::addColumn<QString>("text");
    const QString ascii = QStringLiteral("  \"key\": [1, 2, \"v\"],\n");
    QTest::newRow("empty") << QString();
    QTest::newRow("one line") << QStringLiteral("[1]");
    QTest::newRow("ending with a line feed") << QStringLiteral("[1,\n2]\n");
    QTest::newRow("ASCII lines over many blocks") << ascii.repeated(3000);
    QTest::newRow("tabs") << QStringLiteral("{\n\t\"a\": 1\n}\n").repeated(2000);
    QTest::newRow("a line over 4096 units") << QStringLiteral("{\"k\":1},").repeated(600) + u'\n' + ascii;
    QTest::newRow("a line over 16384 units, last") << ascii + QStringLiteral("{\"k\":1},").repeated(2500);
    QTest::newRow("a long line ending the text with a line feed") << QStringLiteral("[1,2],").repeated(1000) + u'\n';
    QTest::newRow("blocks beyond ASCII among ASCII ones")
        << ascii.repeated(1500) + QString::fromUtf16(u"\"caf\u00E9 \u4E2D\U0001F600\",\n").repeated(700) + ascii.repeated(1500);
    QString sparse;
    for (int i = 0; i < 3000; ++i)
        sparse += i % 90 == 45 ? QString::fromUtf16(u"  \"\u00E9t\u00E9 \u4E2D\",\n") : ascii;
    QTest::newRow("a line beyond ASCII now and then, ending with a line feed") << sparse;
    QTest::newRow("a line beyond ASCII now and then, ending without") << sparse + QStringLiteral("]");
    QTest::newRow("a line beginning with U+FEFF after a block of ASCII")
        << ascii.repeated(400) + QString::fromUtf16(u"\uFEFF\u00E9\n") + ascii;
    QTest::newRow("a long line beyond ASCII") << QString::fromUtf16(u"\u4E2D\U0001F600,").repeated(3000) + u'\n';
    QTest::newRow("CR LF and lone CR") << QStringLiteral("a\r\nb\rc\n").repeated(100);
    QTest::newRow("ill-formed bytes read as replaced") << QString(QChar(0xFFFD)) + QStringLiteral("x\n");
}

// A buffer read from UTF-8 answers as one built from the same text, holds an ASCII text once,
// and its edits never write the bytes it reads in place.
void CodeTextBufferTest::fromUtf8()
{
    QFETCH(QString, text);
    const QByteArray utf8 = text.toUtf8();
    const QByteArray original(utf8.constData(), utf8.size());
    CodeTextBuffer buffer = CodeTextBuffer::fromUtf8(utf8);
    QString model = TextHelpers::normalizedLineBreaks(text);
    CodeTextModel::check(buffer, model);
    if (QTest::currentTestFailed())
        return;
    const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return c > 0 && c != '\r'; });
    if (ascii && utf8.size() > 100000)
        QVERIFY2(buffer.memoryUsage() < utf8.size() * 11 / 10,
                 qPrintable(QStringLiteral("%1 bytes for %2").arg(buffer.memoryUsage()).arg(utf8.size())));
    CodeTextSnapshot held = buffer.snapshot();
    QRandomGenerator rng(7);
    for (int step = 0; step < 40; ++step) {
        const qsizetype pos = rng.bounded(model.size() + 1);
        const qsizetype len = rng.bounded(std::min<qsizetype>(model.size() - pos, 20) + 1);
        const QString piece = randomPiece(rng, 8, step % 2 == 0);
        buffer.replace(pos, len, piece);
        model.replace(pos, len, TextHelpers::normalizedLineBreaks(piece));
        CodeTextModel::check(buffer, model);
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("after step %1").arg(step)));
    }
    QCOMPARE(utf8, original);
    const QString before = held.text();
    buffer = CodeTextBuffer();
    QCOMPARE(held.text(), before);
}

QTEST_APPLESS_MAIN(CodeTextBufferTest)
#include "CodeTextBufferTest.moc"
