#include "support/QuorrixTestMain.h"
#include "kit/CodeTextBuffer.h"
#include "tools/mermaid/MermaidSyntaxHighlighter.h"
#include "tools/mermaid/MermaidSyntaxTokens.h"

#include <QRandomGenerator>

using namespace MermaidSyntaxTokens;

namespace {
// One letter per unit: . plain, p punctuation, l label, a arrow, k keyword, t diagram type, c comment.
QString letters(const Classification& classes)
{
    static const char names[] = ".plaktc";
    QString out;
    for (std::uint8_t raw : classes)
        out += QChar(names[raw]);
    return out;
}
} // namespace

class MermaidSyntaxTokensTest : public QObject {
    Q_OBJECT
private slots:
    void tables()
    {
        QCOMPARE(keywords().size(), 29);
        QCOMPARE(diagramTypes().size(), 26);
        QVERIFY(diagramTypes().indexOf("stateDiagram-v2") < diagramTypes().indexOf("stateDiagram"));
        QCOMPARE(tokenFromRaw(6), std::optional<Token>(Token::comment));
        QCOMPARE(tokenFromRaw(7), std::nullopt);
    }

    void classes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("scanned"); // the scanner decides it alone
        QTest::newRow("plain arrow") << "A --> B" << "..aaa.." << true;
        QTest::newRow("node shapes") << "A[Start]-->B{ok?}" << ".plllllpaaa.plllp" << true;
        QTest::newRow("first shape") << "A[Start]" << ".plllllp" << true;
        QTest::newRow("two link texts") << "A -->|yes| B -->|no| C" << "..aaaplllplllaaapllp.." << true;
        QTest::newRow("arrow in a label") << "A[a-->b]" << ".plaaalp" << true;
        QTest::newRow("keyword in a label") << "A[end]" << ".pkkkp" << true;
        QTest::newRow("comment line") << "%% end -->" << "cccccccccc" << true;
        QTest::newRow("comment after code") << "A %% x\nB" << "..cccc.." << true;
        QTest::newRow("classDef one keyword") << "classDef x" << "kkkkkkkk.." << true;
        QTest::newRow("Note is no keyword") << "Note over" << ".....kkkk" << true;
        QTest::newRow("stateDiagram-v2") << "stateDiagram-v2" << "ttttttttttttttt" << true;
        QTest::newRow("flowchart-more") << "flowchart-abc" << "ttttttttt...." << true;
        QTest::newRow("type on a later line, indented") << "x\n  graph TD" << "..ttttttt..." << true;
        QTest::newRow("type after blank first lines") << "\n\npie" << "ttttt" << true;
        QTest::newRow("type not mid-line") << "a pie" << "....." << true;
        QTest::newRow("string") << "A[\"a b\"]" << ".plllllp" << true;
        QTest::newRow("escaped quote in string") << "\"a\\\"b\" end" << "llllll.kkk" << true;
        QTest::newRow("unterminated string") << "\"ab" << "..." << true;
        QTest::newRow("backslash before line feed") << "\"a\\\nb\"" << "......" << true;
        QTest::newRow("thick and dotted arrows") << "a==>b-.->c" << ".aaa.aaaa." << true;
        QTest::newRow("sequence arrows") << "C->>S" << ".aaa." << true;
        QTest::newRow("cross and circle ends") << "a--xb--oc" << ".aaa.aaa." << true;
        QTest::newRow("three equals") << "a===b" << ".aaa." << true;
        QTest::newRow("bidirectional") << "a<-->b" << ".aaaa." << true;
        QTest::newRow("keyword after accented letter") << QString::fromUtf8("\xC3\xA9nd end\xC3\xA9") << "........" << false;
        QTest::newRow("keyword after no-break space") << QString(QChar(0xA0)) + "end" << ".kkk" << true;
        QTest::newRow("CR LF lines") << "x\r\ngraph" << "...ttttt" << true;
        QTest::newRow("empty") << "" << "" << true;
    }
    void classes()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QFETCH(bool, scanned);
        QCOMPARE(letters(tokens(text)), expected);
        QCOMPARE(letters(matchTokens(text)), expected);
        const std::optional<Classification> scan = scanTokens(text);
        QCOMPARE(scan.has_value(), scanned);
        if (scan)
            QCOMPARE(letters(*scan), expected);
    }

    // The scanner and the pattern path agree wherever the scanner decides.
    void scannerMatchesPatterns()
    {
        static const QStringList pieces{
            "[", "]", "{", "}", "(", ")", "<", ">", "|", "\"", "\\", "-", "=", ".", "x", "o", "%", "%%",
            "\n", "\r", "\r\n", " ", "\t", "end", "class", "classDef", "subgraph", "flowchart", "graph",
            "stateDiagram-v2", "stateDiagram", "pie", "a", "Z", "_", "1", "-->", "==>", "-.-", "<--", "--x",
            QString(QChar(0xE9)), QString(QChar(0xA0)), QString(QChar(0x85)), QString(QChar(0x2028)),
            QString(QChar(0x0B)), QString(QChar(0x0C)), QString(QChar(0x3000)), QString(QChar(0xD800)),
            QString::fromUtf8("\xF0\x9F\x98\x80"), "C4Context", "note", "Note"};
        QRandomGenerator random(20261209);
        int compared = 0;
        for (int round = 0; round < 6000; ++round) {
            QString text;
            const int count = int(random.bounded(1, 24));
            for (int i = 0; i < count; ++i)
                text += pieces[int(random.bounded(qsizetype(pieces.size())))];
            const std::optional<Classification> scan = scanTokens(text);
            const Classification match = matchTokens(text);
            if (!scan)
                continue;
            ++compared;
            if (*scan != match)
                QFAIL(qPrintable(QStringLiteral("differ on %1: scan %2, patterns %3")
                                     .arg(QString::fromLatin1(text.toUtf8().toPercentEncoding()), letters(*scan),
                                          letters(match))));
        }
        QVERIFY2(compared > 3000, qPrintable(QString::number(compared)));
    }

    void highlighterRuns()
    {
        MermaidSyntaxHighlighter highlighter;
        const CodeTextBuffer buffer(QStringLiteral("flowchart TD\n  A[x] --> B\n"));
        QList<CodeTextRun> runs;
        highlighter.runs(buffer, 13, 20, runs);
        // The second line alone: punctuation, label, punctuation, arrow.
        QCOMPARE(runs.size(), 4);
        QCOMPARE(runs[0].from, 16);
        QCOMPARE(runs[0].foreground, MermaidSyntaxHighlighter::colour(Token::punctuation)->resolved(false));
        QCOMPARE(runs[3].from, 20);
        QCOMPARE(runs[3].to, 23);
        runs.clear();
        highlighter.setDark(true);
        highlighter.runs(buffer, 0, 5, runs);
        QCOMPARE(runs.size(), 1);
        QVERIFY(runs[0].bold);
        QCOMPARE(runs[0].to, 9);
        QCOMPARE(runs[0].foreground, QColor(0xFB, 0x92, 0x3C));
    }

    void longLineIsWindowed()
    {
        MermaidSyntaxHighlighter highlighter;
        QString line = QStringLiteral("A-->B ").repeated(200000);
        const CodeTextBuffer buffer(line);
        QList<CodeTextRun> runs;
        highlighter.runs(buffer, 600000, 600060, runs);
        QVERIFY(!runs.isEmpty());
        for (const CodeTextRun& run : runs)
            QVERIFY(run.from >= 600000 - 2048 && run.to <= 600060 + 2048);
    }
};

QUORRIX_TEST_MAIN(MermaidSyntaxTokensTest)
#include "MermaidSyntaxTokensTest.moc"
