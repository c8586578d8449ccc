#include "tools/markdown/MarkdownBodyBlocks.h"
#include "tools/markdown/MarkdownHTML.h"

#include <QRegularExpression>
#include <QtTest/QtTest>

namespace {

// Applies a patch the way the page does, on the text: the blocks between stay, the line values
// of the blocks after move.
QString applied(const MarkdownBodyBlocks& from, const MarkdownBodyBlocks::Patch& patch)
{
    QString out;
    for (qsizetype k = 0; k < patch.start; ++k)
        out += from.block(k);
    out += patch.html;
    for (qsizetype k = patch.start + patch.removeCount; k < from.count(); ++k) {
        QString block = from.block(k).toString();
        static const QRegularExpression value(QStringLiteral("(data-(?:line|end)=\")(\\d+)\""));
        QString shifted;
        qsizetype at = 0;
        for (auto it = value.globalMatch(block); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            shifted += block.mid(at, m.capturedStart(2) - at) + QString::number(m.captured(2).toLongLong() + patch.lineShift);
            at = m.capturedEnd(2);
        }
        out += shifted + block.mid(at);
    }
    return out;
}

} // namespace

class MarkdownBodyBlocksTest : public QObject {
    Q_OBJECT
private slots:
    void splitsTopLevelElements_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QStringList>("blocks");
        QTest::newRow("paragraphs") << QStringLiteral("<p data-line=\"0\" data-end=\"1\">a</p>\n<p data-line=\"2\" data-end=\"3\">b</p>\n")
                                    << QStringList{QStringLiteral("<p data-line=\"0\" data-end=\"1\">a</p>\n"),
                                                   QStringLiteral("<p data-line=\"2\" data-end=\"3\">b</p>\n")};
        QTest::newRow("nested and void") << QStringLiteral("<ul>\n<li data-line=\"0\" data-end=\"1\"><input type=\"checkbox\" disabled> x</li>\n</ul>\n<hr data-line=\"2\" data-end=\"3\">\n")
                                         << QStringList{QStringLiteral("<ul>\n<li data-line=\"0\" data-end=\"1\"><input type=\"checkbox\" disabled> x</li>\n</ul>\n"),
                                                        QStringLiteral("<hr data-line=\"2\" data-end=\"3\">\n")};
        QTest::newRow("leading text joins the first block") << QStringLiteral("\n<p data-line=\"0\" data-end=\"1\">a &lt;b&gt;</p>")
                                                            << QStringList{QStringLiteral("\n<p data-line=\"0\" data-end=\"1\">a &lt;b&gt;</p>")};
        QTest::newRow("quoted greater-than") << QStringLiteral("<p data-line=\"0\" data-end=\"1\"><a href=\"x>y\">l</a></p>")
                                             << QStringList{QStringLiteral("<p data-line=\"0\" data-end=\"1\"><a href=\"x>y\">l</a></p>")};
    }
    void splitsTopLevelElements()
    {
        QFETCH(QString, html);
        QFETCH(QStringList, blocks);
        const std::optional<MarkdownBodyBlocks> split = MarkdownBodyBlocks::split(html);
        QVERIFY(split);
        QStringList got;
        for (qsizetype k = 0; k < split->count(); ++k)
            got << split->block(k).toString();
        QCOMPARE(got, blocks);
    }

    void refusesWhatItCannotFollow_data()
    {
        QTest::addColumn<QString>("html");
        QTest::newRow("empty") << QString();
        QTest::newRow("text only") << QStringLiteral("plain");
        QTest::newRow("unclosed") << QStringLiteral("<p data-line=\"0\">a");
        QTest::newRow("stray close") << QStringLiteral("<p>a</p></div>");
        QTest::newRow("comment") << QStringLiteral("<!-- x --><p>a</p>");
        QTest::newRow("cut tag") << QStringLiteral("<p class=\"a");
        QTest::newRow("word line value") << QStringLiteral("<p data-line=\"two\">a</p>");
        QTest::newRow("unquoted line value") << QStringLiteral("<p data-line=2>a</p>");
    }
    void refusesWhatItCannotFollow()
    {
        QFETCH(QString, html);
        QVERIFY(!MarkdownBodyBlocks::split(html).has_value());
    }

    // Every edit's patch, applied to the old body, gives the new body exactly.
    void patchTurnsOldIntoNew_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<qsizetype>("insertCount");
        QTest::addColumn<qint64>("lineShift");
        const QString doc = QStringLiteral("# Title\n\nFirst paragraph.\n\n- a\n- b\n\n> quote\n\n```\ncode\n```\n\n| x | y |\n|---|---|\n| 1 | 2 |\n\nLast.\n");
        QTest::newRow("typing in a paragraph") << doc << QString(doc).replace(QStringLiteral("First"), QStringLiteral("Firstx")) << qsizetype(1) << qint64(0);
        QTest::newRow("a new line") << doc << QString(doc).replace(QStringLiteral("First paragraph."), QStringLiteral("First\nparagraph.")) << qsizetype(1) << qint64(1);
        QTest::newRow("a new block") << doc << QString(doc).replace(QStringLiteral("First paragraph.\n"), QStringLiteral("First paragraph.\n\nSecond.\n")) << qsizetype(1) << qint64(2);
        QTest::newRow("a block removed") << doc << QString(doc).replace(QStringLiteral("> quote\n\n"), QString()) << qsizetype(0) << qint64(-2);
        QTest::newRow("typing at the end") << doc << doc + QStringLiteral("More") << qsizetype(1) << qint64(0);
        QTest::newRow("typing at the start") << doc << QStringLiteral("x") + doc << qsizetype(1) << qint64(0);
        QTest::newRow("a list item") << doc << QString(doc).replace(QStringLiteral("- b\n"), QStringLiteral("- b\n- c\n")) << qsizetype(1) << qint64(1);
    }
    void patchTurnsOldIntoNew()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(qsizetype, insertCount);
        QFETCH(qint64, lineShift);
        const std::optional<MarkdownBodyBlocks> from = MarkdownBodyBlocks::split(renderMarkdownHTML(before));
        const std::optional<MarkdownBodyBlocks> to = MarkdownBodyBlocks::split(renderMarkdownHTML(after));
        QVERIFY(from && to);
        const std::optional<MarkdownBodyBlocks::Patch> patch = MarkdownBodyBlocks::patch(*from, *to);
        QVERIFY(patch);
        QCOMPARE(patch->insertCount, insertCount);
        QCOMPARE(patch->lineShift, lineShift);
        QCOMPARE(patch->removeCount - patch->insertCount, from->count() - to->count());
        QCOMPARE(applied(*from, *patch), to->html());
    }

    void noPatchWhenNothingIsShared()
    {
        const auto from = MarkdownBodyBlocks::split(QStringLiteral("<p data-line=\"0\" data-end=\"1\">a</p>"));
        const auto to = MarkdownBodyBlocks::split(QStringLiteral("<p data-line=\"0\" data-end=\"1\">b</p>"));
        QVERIFY(from && to);
        QVERIFY(!MarkdownBodyBlocks::patch(*from, *to).has_value());
    }

    // A block whose text moved by another amount than its neighbours is not taken as unchanged.
    void unevenLineMovesAreReplaced()
    {
        const auto from = MarkdownBodyBlocks::split(QStringLiteral(
            "<p data-line=\"0\" data-end=\"1\">a</p><p data-line=\"2\" data-end=\"3\">b</p><p data-line=\"4\" data-end=\"5\">c</p>"));
        const auto to = MarkdownBodyBlocks::split(QStringLiteral(
            "<p data-line=\"0\" data-end=\"1\">a</p><p data-line=\"2\" data-end=\"4\">b</p><p data-line=\"5\" data-end=\"6\">c</p>"));
        QVERIFY(from && to);
        const auto patch = MarkdownBodyBlocks::patch(*from, *to);
        QVERIFY(patch);
        QCOMPARE(patch->start, 1);
        QCOMPARE(patch->removeCount, 1);
        QCOMPARE(patch->lineShift, 1);
        QCOMPARE(applied(*from, *patch), to->html());
    }
};

QTEST_GUILESS_MAIN(MarkdownBodyBlocksTest)
#include "MarkdownBodyBlocksTest.moc"
