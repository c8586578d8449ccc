#include "support/QuorrixTestMain.h"
#include "tools/mermaid/MermaidSourceMetrics.h"

#include "kit/CodeTextBuffer.h"

class MermaidSourceMetricsTest : public QObject {
    Q_OBJECT
private slots:
    void metrics_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<qsizetype>("lines");
        QTest::addColumn<QString>("type");
        const QString none = QStringLiteral("—");
        QTest::newRow("empty") << "" << qsizetype(0) << none;
        QTest::newRow("one line") << "flowchart TD" << qsizetype(1) << "flowchart";
        QTest::newRow("trailing line feed adds a line") << "pie\n" << qsizetype(2) << "pie";
        QTest::newRow("CR LF is one break") << "graph LR\r\nA-->B\r\n" << qsizetype(3) << "graph";
        QTest::newRow("lone CR is a break") << "gantt\rtitle x" << qsizetype(2) << "gantt";
        QTest::newRow("CR CR LF") << "a\r\r\nb" << qsizetype(3) << "a";
        QTest::newRow("blank lines skipped") << "\n   \n\tflowchart LR" << qsizetype(3) << "flowchart";
        QTest::newRow("comment skipped") << "%% a note\nsequenceDiagram" << qsizetype(2) << "sequenceDiagram";
        QTest::newRow("indented comment skipped") << "   %% note\n  %%{init: {}}%%\npie" << qsizetype(3) << "pie";
        QTest::newRow("directive skipped, CR LF") << "%%{init: {}}%%\r\nclassDiagram\r\n" << qsizetype(3) << "classDiagram";
        QTest::newRow("tab does not end the word") << "graph\tLR" << qsizetype(1) << "graph\tLR";
        QTest::newRow("indentation ignored") << "    erDiagram" << qsizetype(1) << "erDiagram";
        QTest::newRow("front matter") << "---\ntitle: x\n---\nflowchart" << qsizetype(4) << "---";
        QTest::newRow("only blank lines") << "\n \n\t\n" << qsizetype(4) << none;
        QTest::newRow("only comments") << "%%a\n%%b" << qsizetype(2) << none;
        QTest::newRow("no-break space is white space") << QString(QChar(0xA0)) + "pie" << qsizetype(1) << "pie";
        QTest::newRow("line separator is not a break") << QString("a") + QChar(0x2028) + "b" << qsizetype(1)
                                                        << QString("a") + QChar(0x2028) + "b";
        QTest::newRow("lone surrogate shows as U+FFFD") << QString("x") + QChar(0xD800) + " y" << qsizetype(1)
                                                         << QString("x") + QChar(0xFFFD);
        QTest::newRow("pair kept") << QString::fromUtf8("\xF0\x9F\x98\x80 x") << qsizetype(1)
                                   << QString::fromUtf8("\xF0\x9F\x98\x80");
    }
    void metrics()
    {
        QFETCH(QString, source);
        QFETCH(qsizetype, lines);
        QFETCH(QString, type);
        const MermaidSourceMetrics m(source);
        QCOMPARE(m.lines, lines);
        QCOMPARE(m.diagramType, type);
        // An editor's text has LF breaks only; its snapshot gives the same.
        if (!source.contains(QLatin1Char('\r')))
            QCOMPARE(MermaidSourceMetrics(CodeTextBuffer(source).snapshot()), m);
    }

    void snapshotPastLongComments_data()
    {
        QTest::addColumn<int>("comments");
        QTest::addColumn<QString>("last");
        QTest::newRow("a few") << 3 << "pie";
        QTest::newRow("past the first read") << 600 << "gantt";
        QTest::newRow("past several reads") << 9000 << "journey";
        QTest::newRow("comments only") << 9000 << "%% end";
    }
    void snapshotPastLongComments()
    {
        QFETCH(int, comments);
        QFETCH(QString, last);
        const QString source = QStringLiteral("%% a comment line\n").repeated(comments) + last + QStringLiteral("\nA-->B");
        QCOMPARE(MermaidSourceMetrics(CodeTextBuffer(source).snapshot()), MermaidSourceMetrics(source));
    }

    void defaultIsEmpty()
    {
        QCOMPARE(MermaidSourceMetrics(), MermaidSourceMetrics(QString()));
    }

    // Long sources: the count matches a plain model and the type is found on the first line.
    void longSource()
    {
        QString text = QStringLiteral("flowchart LR\n");
        qsizetype breaks = 1;
        for (int i = 0; i < 200000; ++i) {
            text += (i % 3 == 0) ? QStringLiteral("A-->B\r\n") : (i % 3 == 1) ? QStringLiteral("C\r") : QStringLiteral("D\n");
            ++breaks;
        }
        const MermaidSourceMetrics m(text);
        QCOMPARE(m.lines, breaks + 1);
        QCOMPARE(m.diagramType, QStringLiteral("flowchart"));
    }
};

QUORRIX_TEST_MAIN(MermaidSourceMetricsTest)
#include "MermaidSourceMetricsTest.moc"
