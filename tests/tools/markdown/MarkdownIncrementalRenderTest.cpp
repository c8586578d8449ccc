#include "tools/markdown/MarkdownHTML.h"
#include "tools/markdown/MarkdownIncrementalRender.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest/QtTest>

namespace {

// Documents drawn line by line from `kinds`, edited at random places with pieces of Markdown;
// every rendering made from the one before must equal the whole document's.
struct Fuzz {
    QRandomGenerator random;
    QStringList kinds;

    QString line() { return kinds.at(random.bounded(int(kinds.size()))); }

    QString document()
    {
        QString text;
        const int lines = random.bounded(1, 60);
        for (int i = 0; i < lines; ++i)
            text += line() + u'\n';
        if (random.bounded(3) == 0)
            text.chop(1);
        return text;
    }

    QString edited(QString text)
    {
        static const QStringList pieces = {
            QStringLiteral("\n"), QStringLiteral("\n\n"), QStringLiteral("x"), QStringLiteral("# "),
            QStringLiteral("- "), QStringLiteral("1. "), QStringLiteral("> "), QStringLiteral("```\n"),
            QStringLiteral("|"), QStringLiteral("*"), QStringLiteral("  "), QStringLiteral("---\n"),
            QStringLiteral("`"), QStringLiteral("\t"),
        };
        const qsizetype at = random.bounded(int(text.size() + 1));
        switch (random.bounded(4)) {
        case 0:
            text.insert(at, pieces.at(random.bounded(int(pieces.size()))));
            break;
        case 1:
            text.insert(at, line() + u'\n');
            break;
        case 2:
            text.remove(at, random.bounded(1, 12));
            break;
        default:
            text.replace(at, random.bounded(0, 6), pieces.at(random.bounded(int(pieces.size()))));
            break;
        }
        return text;
    }
};

// The old HTML with a change applied the way the page applies it: the blocks before and after
// stay, the line values of those after move.
QString applied(const MarkdownIncrementalRender::Change& change)
{
    const std::optional<MarkdownBodyBlocks> from = MarkdownBodyBlocks::split(change.before);
    if (!from || from->count() != change.beforeCount)
        return QStringLiteral("(old HTML of another block count)");
    const MarkdownBodyBlocks::Patch& patch = change.patch;
    QString out;
    for (qsizetype k = 0; k < patch.start; ++k)
        out += from->block(k);
    out += patch.html;
    static const QRegularExpression value(QStringLiteral(" (data-(?:line|end)=\")(\\d+)\""));
    for (qsizetype k = patch.start + patch.removeCount; k < from->count(); ++k) {
        // Inside tags only: text never holds "<", but it may hold what looks like an attribute.
        const QString block = from->block(k).toString();
        qsizetype at = 0;
        while (at < block.size()) {
            const qsizetype open = block.indexOf(u'<', at);
            const qsizetype close = open < 0 ? -1 : block.indexOf(u'>', open);
            if (close < 0) {
                out += block.mid(at);
                break;
            }
            out += block.mid(at, open - at);
            QString tag = block.mid(open, close + 1 - open);
            QString shifted;
            qsizetype copied = 0;
            for (auto it = value.globalMatch(tag); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                shifted += tag.mid(copied, m.capturedStart(2) - copied) + QString::number(m.captured(2).toLongLong() + patch.lineShift);
                copied = m.capturedEnd(2);
            }
            out += shifted + tag.mid(copied);
            at = close + 1;
        }
    }
    return out;
}

// Where two renderings part, with some of each around it.
QString firstDifference(const QString& made, const QString& whole)
{
    qsizetype at = 0;
    while (at < made.size() && at < whole.size() && made[at] == whole[at])
        ++at;
    return QStringLiteral("at %1: made \"%2\", whole \"%3\"").arg(at).arg(made.mid(std::max<qsizetype>(0, at - 40), 80), whole.mid(std::max<qsizetype>(0, at - 40), 80));
}

} // namespace

class MarkdownIncrementalRenderTest : public QObject {
    Q_OBJECT
private slots:
    void equalsTheWholeRendering_data()
    {
        QTest::addColumn<QStringList>("kinds");
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<bool>("reuses"); // blocks are kept in most edits of such documents
        const QStringList prose = {QString(), QString(), QStringLiteral("Some *text* here"), QStringLiteral("and `code` too"),
                                   QStringLiteral("# Title"), QStringLiteral("## Part"), QStringLiteral("---")};
        QTest::newRow("paragraphs and headings") << prose << 1u << true;
        QTest::newRow("lists") << (prose + QStringList{QStringLiteral("- item"), QStringLiteral("  - nested"),
                                                       QStringLiteral("1. first"), QStringLiteral("2) second"),
                                                       QStringLiteral("- [ ] task"), QStringLiteral("   continued"),
                                                       QStringLiteral("* star"), QStringLiteral("    deep")})
                               << 2u << false;
        QTest::newRow("quotes and fences") << (prose + QStringList{QStringLiteral("> quoted"), QStringLiteral("> > deeper"),
                                                                   QStringLiteral("```"), QStringLiteral("```js"),
                                                                   QStringLiteral("~~~"), QStringLiteral("    indented")})
                                           << 3u << false;
        QTest::newRow("tables") << (prose + QStringList{QStringLiteral("| a | b |"), QStringLiteral("|---|:-:|"),
                                                        QStringLiteral("| 1 | 2 |"), QStringLiteral("a | b"),
                                                        QStringLiteral("--- | ---")})
                                << 4u << false;
        QTest::newRow("everything, odd characters") << (prose + QStringList{QStringLiteral("- item"), QStringLiteral("> q"),
                                                                           QStringLiteral("```"), QStringLiteral("| a |"),
                                                                           QStringLiteral("|---|"), QStringLiteral("\U0001F600 <b>&amp;"),
                                                                           QStringLiteral("data-line=\"3\" x"),
                                                                           QStringLiteral("  # spaced")})
                                                    << 5u << false;
    }
    void equalsTheWholeRendering()
    {
        QFETCH(QStringList, kinds);
        QFETCH(quint32, seed);
        QFETCH(bool, reuses);
        Fuzz fuzz{QRandomGenerator(seed), kinds};
        int reused = 0;
        int edits = 0;
        for (int document = 0; document < 150; ++document) {
            QString text = fuzz.document();
            MarkdownIncrementalRender rendering(text);
            for (int edit = 0; edit < 12; ++edit) {
                const QString before = text;
                text = fuzz.edited(text);
                rendering = rendering.next(text);
                ++edits;
                reused += rendering.reusedBlocks() ? 1 : 0;
                if (rendering.change() && applied(*rendering.change()) != rendering.html())
                    QFAIL(qPrintable(QStringLiteral("its change does not make it from\n%1\ninto\n%2").arg(before, text)));
                if (rendering.html() != renderMarkdownHTML(text))
                    QFAIL(qPrintable(QStringLiteral("differs after an edit of\n%1\ninto\n%2\n%3")
                                         .arg(before, text, firstDifference(rendering.html(), renderMarkdownHTML(text)))));
            }
        }
        if (reuses)
            QVERIFY2(reused * 2 > edits, qPrintable(QStringLiteral("%1 of %2").arg(reused).arg(edits)));
    }

    // Typing in a long document keeps the blocks before and after the paragraph typed in.
    void keepsTheBlocksAroundAnEdit()
    {
        QString text;
        for (int i = 0; i < 2000; ++i)
            text += QStringLiteral("Paragraph %1 with *some* words\n\n").arg(i);
        MarkdownIncrementalRender rendering(text);
        const qsizetype middle = text.indexOf(QStringLiteral("Paragraph 1000 ")) + 14;
        for (const QString& typed : {QStringLiteral("x"), QStringLiteral("\n"), QStringLiteral("\n\n")}) {
            text.insert(middle, typed);
            rendering = rendering.next(text);
            QVERIFY(rendering.reusedBlocks());
            QVERIFY2(rendering.html() == renderMarkdownHTML(text),
                     qPrintable(firstDifference(rendering.html(), renderMarkdownHTML(text))));
        }
    }
};

QTEST_GUILESS_MAIN(MarkdownIncrementalRenderTest)
#include "MarkdownIncrementalRenderTest.moc"
