#include "tools/markdown/MarkdownLineMap.h"
#include "tools/markdown/MarkdownSourceLines.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>
#include <limits>

using Starts = QList<qint64>;
using Row = QList<double>;
using Anchors = QList<MarkdownLineMap::Anchor>;

Q_DECLARE_METATYPE(MarkdownLineMap::Anchor)

namespace {

MarkdownLineMap::Block block(qint64 line, double top, qint64 endLine, double bottom)
{
    return MarkdownLineMap::Block{line, top, MarkdownLineMap::Block::End{endLine, bottom}};
}

} // namespace

class MarkdownLineMapTest : public QObject {
    Q_OBJECT
private slots:
    void starts_data();
    void starts();
    void edits_data();
    void edits();
    void randomEditsMatchRebuild();
    void lineAt_data();
    void lineAt();
    void rows_data();
    void rows();
    void build_data();
    void build();
    void lookups_data();
    void lookups();
};

void MarkdownLineMapTest::starts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Starts>("starts");
    QTest::newRow("empty") << "" << Starts{0};
    QTest::newRow("a LF") << "a\n" << Starts{0, 2};
    QTest::newRow("CR LF") << "\r\n" << Starts{0, 2};
    QTest::newRow("CR") << "\r" << Starts{0, 1};
    QTest::newRow("a CR b") << "a\rb" << Starts{0, 2};
    QTest::newRow("two LF") << "\n\n" << Starts{0, 1, 2};
    QTest::newRow("LF CR") << "\n\r" << Starts{0, 1, 2};
    QTest::newRow("CR CR LF") << "\r\r\n" << Starts{0, 1, 3};
}

void MarkdownLineMapTest::starts()
{
    QFETCH(QString, text);
    QFETCH(Starts, starts);
    const MarkdownSourceLines lines(text);
    QCOMPARE(lines.starts(), starts);
    QCOMPARE(lines.length(), text.size());
    QCOMPARE(lines.lineCount(), starts.size());
}

void MarkdownLineMapTest::edits_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<qint64>("location");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<qint64>("delta");
    QTest::addColumn<Starts>("starts");

    QTest::newRow("insert between CR and LF") << "a\r\nb" << "a\rx\nb" << qint64(2) << qint64(1) << qint64(1) << Starts{0, 2, 4};
    QTest::newRow("delete LF of CR LF") << "a\r\nb" << "a\rb" << qint64(2) << qint64(0) << qint64(-1) << Starts{0, 2};
    QTest::newRow("insert line break") << "ab" << "a\nb" << qint64(1) << qint64(1) << qint64(1) << Starts{0, 2};
    QTest::newRow("insert LF after CR") << "a\rb" << "a\r\nb" << qint64(2) << qint64(1) << qint64(1) << Starts{0, 3};
    QTest::newRow("insert at start") << "a\nb" << "x\na\nb" << qint64(0) << qint64(2) << qint64(2) << Starts{0, 2, 4};
    QTest::newRow("replace everything") << "a\nb\nc" << "z" << qint64(0) << qint64(1) << qint64(-4) << Starts{0};
    QTest::newRow("lengths disagree") << "a\nb" << "a\nb\nc\n" << qint64(0) << qint64(1) << qint64(1) << Starts{0, 2, 4, 6};
    QTest::newRow("no location") << "a" << "a\n" << qint64(-1) << qint64(0) << qint64(1) << Starts{0, 2};
    QTest::newRow("range beyond text") << "a" << "ab" << qint64(1) << qint64(5) << qint64(1) << Starts{0};
}

void MarkdownLineMapTest::edits()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(qint64, location);
    QFETCH(qint64, length);
    QFETCH(qint64, delta);
    QFETCH(Starts, starts);
    MarkdownSourceLines lines(before);
    lines.apply(location, length, delta, after);
    QCOMPARE(lines.starts(), starts);
    QCOMPARE(lines, MarkdownSourceLines(after));
}

void MarkdownLineMapTest::randomEditsMatchRebuild()
{
    const char16_t alphabet[] = {u'a', u'b', u'\n', u'\r', u'\n', u'\r', u' ', 0x00E9, 0xD83D, 0xDE00};
    for (quint32 seed : {1u, 2u, 3u, 42u, 2024u}) {
        QRandomGenerator random(seed);
        QString text;
        MarkdownSourceLines lines(text);
        for (int step = 0; step < 3000; ++step) {
            const qsizetype loc = text.isEmpty() ? 0 : random.bounded(int(text.size() + 1));
            const qsizetype removed = std::min<qsizetype>(random.bounded(4), text.size() - loc);
            QString inserted;
            const int count = random.bounded(5);
            for (int k = 0; k < count; ++k)
                inserted += QChar(alphabet[random.bounded(int(std::size(alphabet)))]);
            text.replace(loc, removed, inserted);
            lines.apply(loc, inserted.size(), inserted.size() - removed, text);
            const MarkdownSourceLines rebuilt(text);
            if (lines != rebuilt)
                QFAIL(qPrintable(QStringLiteral("seed %1 step %2 differs").arg(seed).arg(step)));
        }
    }
}

void MarkdownLineMapTest::lineAt_data()
{
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<qint64>("line");
    // "ab\ncd\n" has lines starting at 0, 3, 6.
    QTest::newRow("negative") << qint64(-5) << qint64(0);
    QTest::newRow("start") << qint64(0) << qint64(0);
    QTest::newRow("line break") << qint64(2) << qint64(0);
    QTest::newRow("line start") << qint64(3) << qint64(1);
    QTest::newRow("last start") << qint64(6) << qint64(2);
    QTest::newRow("beyond") << qint64(100) << qint64(2);
}

void MarkdownLineMapTest::lineAt()
{
    QFETCH(qint64, offset);
    QFETCH(qint64, line);
    QCOMPARE(MarkdownSourceLines(u"ab\ncd\n").lineAt(offset), line);
    QCOMPARE(MarkdownSourceLines().lineAt(offset), 0);
}

void MarkdownLineMapTest::rows_data()
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::addColumn<Row>("row");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("hasEnd");

    QTest::newRow("good") << Row{2, 10, 4, 30} << true << true;
    QTest::newRow("three numbers") << Row{2, 10, 4} << false << false;
    QTest::newRow("five numbers") << Row{2, 10, 4, 30, 1} << false << false;
    QTest::newRow("infinite") << Row{2, inf, 4, 30} << false << false;
    QTest::newRow("nan") << Row{2, 10, nan, 30} << false << false;
    QTest::newRow("beyond 1e9") << Row{2, 10, 4, 1e9 + 1} << false << false;
    QTest::newRow("exactly 1e9") << Row{2, 10, 4, 1e9} << true << true;
    QTest::newRow("fractional line") << Row{2.5, 10, 4, 30} << false << false;
    QTest::newRow("negative line") << Row{-1, 10, 4, 30} << false << false;
    QTest::newRow("end equals line") << Row{2, 10, 2, 30} << true << false;
    QTest::newRow("bottom above top") << Row{2, 10, 4, 5} << true << false;
    QTest::newRow("fractional end") << Row{2, 10, 3.5, 30} << true << false;
}

void MarkdownLineMapTest::rows()
{
    QFETCH(Row, row);
    QFETCH(bool, valid);
    QFETCH(bool, hasEnd);
    const std::optional<MarkdownLineMap::Block> b = MarkdownLineMap::Block::fromRow(row);
    QCOMPARE(b.has_value(), valid);
    if (b) {
        QCOMPARE(b->line, qint64(row[0]));
        QCOMPARE(b->top, row[1]);
        QCOMPARE(b->end.has_value(), hasEnd);
        if (hasEnd) {
            QCOMPARE(b->end->line, qint64(row[2]));
            QCOMPARE(b->end->bottom, row[3]);
        }
    }
}

void MarkdownLineMapTest::build_data()
{
    using Blocks = QList<MarkdownLineMap::Block>;
    QTest::addColumn<Blocks>("blocks");
    QTest::addColumn<qint64>("lineCount");
    QTest::addColumn<double>("height");
    QTest::addColumn<Anchors>("anchors");

    QTest::newRow("no blocks") << Blocks{} << qint64(10) << 500.0 << Anchors{{0, 0}, {10, 500}};
    QTest::newRow("line count zero") << Blocks{} << qint64(0) << 50.0 << Anchors{{0, 0}, {1, 50}};
    QTest::newRow("line count negative") << Blocks{} << qint64(-4) << 50.0 << Anchors{{0, 0}, {1, 50}};
    QTest::newRow("two blocks")
        << Blocks{block(0, 10, 2, 40), block(3, 60, 5, 90)} << qint64(6) << 120.0
        << Anchors{{0, 0}, {2, 40}, {3, 60}, {5, 90}, {6, 120}};
    QTest::newRow("same start smaller top")
        << Blocks{block(2, 50, 3, 60), block(2, 30, 3, 55)} << qint64(4) << 100.0 << Anchors{{0, 0}, {2, 30}, {3, 60}, {4, 100}};
    QTest::newRow("same end larger bottom")
        << Blocks{block(1, 10, 3, 60), block(2, 20, 3, 80)} << qint64(4) << 100.0
        << Anchors{{0, 0}, {1, 10}, {2, 20}, {3, 80}, {4, 100}};
    QTest::newRow("start wins over end")
        << Blocks{block(1, 10, 2, 50), block(2, 40, 3, 70)} << qint64(3) << 90.0 << Anchors{{0, 0}, {1, 10}, {2, 40}, {3, 90}};
    QTest::newRow("line zero gives only its end") << Blocks{block(0, 25, 1, 40)} << qint64(2) << 80.0 << Anchors{{0, 0}, {1, 40}, {2, 80}};
    QTest::newRow("never backwards")
        << Blocks{block(1, 100, 2, 120), block(2, 50, 3, 60)} << qint64(3) << 30.0
        << Anchors{{0, 0}, {1, 100}, {2, 100}, {3, 100}};
    QTest::newRow("block beyond line count ignored")
        << Blocks{block(5, 10, 6, 20), block(1, 10, 9, 400)} << qint64(3) << 90.0 << Anchors{{0, 0}, {1, 10}, {3, 90}};
    QTest::newRow("end at document end larger than height")
        << Blocks{block(1, 10, 3, 200)} << qint64(3) << 90.0 << Anchors{{0, 0}, {1, 10}, {3, 200}};
}

void MarkdownLineMapTest::build()
{
    using Blocks = QList<MarkdownLineMap::Block>;
    QFETCH(Blocks, blocks);
    QFETCH(qint64, lineCount);
    QFETCH(double, height);
    QFETCH(Anchors, anchors);
    QCOMPARE(MarkdownLineMap(blocks, lineCount, height).anchors(), anchors);
}

void MarkdownLineMapTest::lookups_data()
{
    QTest::addColumn<double>("line");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("lineBack");
    // Anchors (0,0) (2,40) (3,60) (5,90) (6,120).
    QTest::newRow("negative line") << -3.0 << 0.0 << 0.0;
    QTest::newRow("start") << 0.0 << 0.0 << 0.0;
    QTest::newRow("halfway") << 1.0 << 20.0 << 1.0;
    QTest::newRow("on anchor") << 3.0 << 60.0 << 3.0;
    QTest::newRow("fraction") << 4.0 << 75.0 << 4.0;
    QTest::newRow("past the end") << 9.0 << 120.0 << 6.0;
}

void MarkdownLineMapTest::lookups()
{
    QFETCH(double, line);
    QFETCH(double, y);
    QFETCH(double, lineBack);
    const MarkdownLineMap map({block(0, 10, 2, 40), block(3, 60, 5, 90)}, 6, 120);
    QCOMPARE(map.yForLine(line), y);
    QCOMPARE(map.lineForY(y), lineBack);
    QCOMPARE(map.lineForY(500), 6.0);
    QCOMPARE(map.lineForY(-5), 0.0);
    // Anchors sharing a height answer the last of their lines.
    const MarkdownLineMap flat({block(1, 0, 2, 0)}, 3, 0);
    QCOMPARE(flat.lineForY(0), 3.0);
    QVERIFY(std::isfinite(flat.yForLine(1.5)));
}

QTEST_GUILESS_MAIN(MarkdownLineMapTest)
#include "MarkdownLineMapTest.moc"
