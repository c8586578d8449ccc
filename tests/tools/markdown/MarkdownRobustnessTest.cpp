#include "HtmlShape.h"

#include "tools/markdown/MarkdownHTML.h"
#include "tools/markdown/MarkdownSourceLines.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// Fragments chosen to collide: every construct's opening and closing pieces, alone.
const QStringList fragments{
    "[", "]", "(", ")", "![", "](", "*", "**", "_", "__", "~~", "`", "``", "```", "~~~", ">", "> ", "#", "## ", "-",
    "- ", "+ ", "1. ", "2) ", "[ ] ", "[x] ", "|", "|-|", ":-", "---", " ", "  ", "    ", "\t", "\n", "\n", "\n", "\r\n",
    "\r", "a", "word", "http://x.y/", "https://a.b/c?d&e", "javascript:", "data:image/png,", "mailto:m@x", "\"", "'",
    "&", "<", "<script>", "&amp;", "\\", "é", "\u0301", "😀", QString(QChar(0xD800)), QString(QChar(0xDC00)),
    QString(QChar(0)), QString(QChar(1)), "\u00A0", "\u2028", "\u0085", "\u000B"};

QString randomDocument(QRandomGenerator& random, int pieces)
{
    QString text;
    for (int k = 0; k < pieces; ++k)
        text += fragments[random.bounded(int(fragments.size()))];
    return text;
}

} // namespace

class MarkdownRobustnessTest : public QObject {
    Q_OBJECT
private slots:
    void randomDocuments_data();
    void randomDocuments();
    void pathological_data();
    void pathological();
};

void MarkdownRobustnessTest::randomDocuments_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 7u, 99u, 1234u, 65537u, 424242u})
        QTest::newRow(qPrintable(QString::number(seed))) << seed;
}

void MarkdownRobustnessTest::randomDocuments()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    for (int round = 0; round < 400; ++round) {
        const QString text = randomDocument(random, 1 + random.bounded(200));
        const QString html = renderMarkdownHTML(text);
        const QString problem = htmlShapeProblem(html, MarkdownSourceLines(text).lineCount());
        if (!problem.isEmpty()) {
            QString shown = text;
            for (QChar& ch : shown) {
                if (ch.unicode() < 0x20 && ch != u'\n')
                    ch = QChar(0x2400 + ch.unicode());
            }
            QFAIL(qPrintable(QStringLiteral("round %1: %2\ninput: %3\noutput: %4").arg(round).arg(problem, shown, html)));
        }
    }
}

void MarkdownRobustnessTest::pathological_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("brackets") << QString(200000, u'[');
    QTest::newRow("image openers") << QString("![").repeated(50000);
    QTest::newRow("link openers") << QString("[a](").repeated(50000);
    QTest::newRow("unclosed titles") << QString("[a](b \"").repeated(20000);
    QTest::newRow("stars") << "a" + QString(100000, u'*');
    QTest::newRow("star words") << QString("*a ").repeated(50000);
    QTest::newRow("underscores") << "a " + QString(100000, u'_');
    QTest::newRow("backticks") << "a" + QString(100000, u'`');
    QTest::newRow("backtick words") << QString("`a").repeated(50000);
    QTest::newRow("quote run") << QString(10000, u'>') + "x";
    QTest::newRow("quote lines") << QString("> ").repeated(100) + "x\n" + QString("> \n").repeated(5000);
    QTest::newRow("nested quote lines") << [] {
        QString t;
        for (int k = 1; k <= 2000; ++k)
            t += QString(k % 300, u'>') + " x\n";
        return t;
    }();
    QTest::newRow("deep list") << [] {
        QString t;
        for (int k = 0; k < 3000; ++k)
            t += QString(k, u' ') + "- x\n";
        return t;
    }();
    QTest::newRow("saw list") << [] {
        QString t;
        for (int k = 0; k < 20000; ++k)
            t += QString(k % 70, u' ') + (k % 3 ? "- x\n" : "1. [x] y\n");
        return t;
    }();
    QTest::newRow("urls") << QString("http://a.b/").repeated(20000);
    QTest::newRow("pipes") << "a|b\n-|-\n" + QString("|").repeated(100000);
    QTest::newRow("fences") << QString("```\n").repeated(20000);
    QTest::newRow("tildes") << QString(100000, u'~');
}

void MarkdownRobustnessTest::pathological()
{
    QFETCH(QString, text);
    const QString html = renderMarkdownHTML(text);
    const QString problem = htmlShapeProblem(html, MarkdownSourceLines(text).lineCount());
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

QTEST_GUILESS_MAIN(MarkdownRobustnessTest)
#include "MarkdownRobustnessTest.moc"
