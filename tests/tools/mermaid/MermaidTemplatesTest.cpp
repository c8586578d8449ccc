#include "support/QuorrixTestMain.h"
#include "tools/mermaid/MermaidSourceMetrics.h"
#include "tools/mermaid/MermaidTemplates.h"

#include <QSet>

class MermaidTemplatesTest : public QObject {
    Q_OBJECT
private slots:
    void list()
    {
        const auto& all = MermaidTemplates::all();
        QStringList ids, names, symbols;
        for (const auto& t : all) {
            ids << t.id;
            names << t.name;
            symbols << t.symbol;
        }
        QCOMPARE(ids, (QStringList{"flowchart", "sequence", "class", "state", "er", "gantt", "pie"}));
        QCOMPARE(names, (QStringList{"Flowchart", "Sequence", "Class", "State", "Entity Relationship", "Gantt", "Pie"}));
        QCOMPARE(symbols, (QStringList{"flowchart", "arrow.left.arrow.right", "square.stack.3d.up", "circle.dashed",
                                       "tablecells", "chart.bar.xaxis", "chart.pie"}));
        QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());
    }

    void sources_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<qsizetype>("characters");
        QTest::addColumn<qsizetype>("lines");
        QTest::addColumn<QString>("type");
        QTest::newRow("flowchart") << 0 << qsizetype(173) << qsizetype(6) << "flowchart";
        QTest::newRow("sequence") << 1 << qsizetype(242) << qsizetype(11) << "sequenceDiagram";
        QTest::newRow("class") << 2 << qsizetype(195) << qsizetype(10) << "classDiagram";
        QTest::newRow("state") << 3 << qsizetype(172) << qsizetype(7) << "stateDiagram-v2";
        QTest::newRow("er") << 4 << qsizetype(200) << qsizetype(11) << "erDiagram";
        QTest::newRow("gantt") << 5 << qsizetype(277) << qsizetype(9) << "gantt";
        QTest::newRow("pie") << 6 << qsizetype(105) << qsizetype(6) << "pie";
    }
    void sources()
    {
        QFETCH(int, index);
        QFETCH(qsizetype, characters);
        QFETCH(qsizetype, lines);
        QFETCH(QString, type);
        const QString source = MermaidTemplates::all().at(index).source;
        QCOMPARE(source.size(), characters);
        QVERIFY(!source.endsWith(QLatin1Char('\n')));
        QVERIFY(!source.contains(QLatin1Char('\r')));
        QVERIFY(source.startsWith(type));
        // As the editor receives it: the source and one line feed.
        const MermaidSourceMetrics metrics(source + QLatin1Char('\n'));
        QCOMPARE(metrics.lines, lines + 1);
        QCOMPARE(metrics.diagramType, type);
    }
};

QUORRIX_TEST_MAIN(MermaidTemplatesTest)
#include "MermaidTemplatesTest.moc"
