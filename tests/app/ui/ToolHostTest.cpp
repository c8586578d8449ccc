#include "kit/ui/Tool.h"
#include "app/ui/ToolHost.h"
#include "support/QuorrixTestMain.h"

#include <QSignalSpy>
#include <QTemporaryDir>

class ToolHostTest : public QObject {
    Q_OBJECT
private slots:
    // The list follows QUORRIX_TOOLS, the one list of the tools, whose entries are their ids.
    void listFollowsTheOneList()
    {
        QStringList ids;
        for (const Tool* tool : ToolHost::allTools())
            ids << tool->id();
        QCOMPARE(ids, QString(QUORRIX_TOOL_IDS).split(QLatin1Char(',')));
        QCOMPARE(QSet<QString>(ids.cbegin(), ids.cend()).size(), ids.size());
        QVERIFY(!ids.contains(QString()));
    }

    void eachTool_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < ToolHost::allTools().size(); ++i)
            QTest::newRow(qPrintable(ToolHost::allTools()[i]->id())) << i;
    }
    void eachTool()
    {
        QFETCH(int, index);
        const Tool* tool = ToolHost::allTools()[index];
        QCOMPARE(ToolHost::tool(tool->id()), tool);
        QVERIFY(!tool->name().isEmpty());
        QVERIFY(!tool->symbol().isEmpty());
        QVERIFY(ToolCategories::all().contains(tool->category()));
        QCOMPARE(tool->acceptsFiles(), !tool->acceptedExtensions().isEmpty());
        for (const QString& extension : tool->acceptedExtensions()) {
            QVERIFY2(!extension.isEmpty() && extension == extension.toLower() && !extension.contains(QLatin1Char('.')),
                     qPrintable(extension));
            // Also shows that no tool before it in the list takes the same extension.
            QCOMPARE(ToolHost::toolID(extension).value_or(QString()), tool->id());
            QCOMPARE(ToolHost::toolID(extension.toUpper()).value_or(QString()), tool->id());
        }
        for (int other = 0; other < index; ++other)
            QVERIFY(ToolHost::allTools()[other]->name() != tool->name());
    }

    // Every section of the sidebar has a tool, and the sections hold each tool once, in list order.
    void categoriesPartitionTheList()
    {
        qsizetype total = 0;
        for (ToolCategory category : ToolCategories::all()) {
            QList<const Tool*> expected;
            for (const Tool* tool : ToolHost::allTools()) {
                if (tool->category() == category)
                    expected << tool;
            }
            QVERIFY2(!expected.isEmpty(), qPrintable(ToolCategories::rawValue(category)));
            QCOMPARE(ToolHost::tools(category), expected);
            total += expected.size();
        }
        QCOMPARE(total, ToolHost::allTools().size());
    }

    void firstTool()
    {
        QList<const Tool*> asking;
        for (const Tool* tool : ToolHost::allTools()) {
            if (tool->opensFirst())
                asking << tool;
        }
        QVERIFY(asking.size() <= 1);
        QCOMPARE(&ToolHost::firstTool(), asking.isEmpty() ? ToolHost::allTools().first() : asking.first());
    }

    void hostMakesEveryViewModel()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
        ToolHost host(settings);
        QSet<QObject*> made;
        for (const Tool* tool : ToolHost::allTools()) {
            QObject* model = host.viewModel(tool->id());
            QVERIFY2(model && model->parent() == &host, qPrintable(tool->id()));
            made.insert(model);
        }
        QCOMPARE(made.size(), ToolHost::allTools().size());
        QVERIFY(host.supportPrompt());
    }

    void toolById_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("found");
        QTest::newRow("jwt") << "jwt" << "jwt";
        QTest::newRow("capital M") << "Markdown" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("foreign") << "foo" << "";
    }
    void toolById()
    {
        QFETCH(QString, id);
        QFETCH(QString, found);
        const Tool* tool = ToolHost::tool(id);
        QCOMPARE(tool ? tool->id() : QString(), found);
    }

    void toolForExtension_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("id");
        QTest::newRow("md") << "md" << "markdown";
        QTest::newRow("MD") << "MD" << "markdown";
        QTest::newRow("Md") << "Md" << "markdown";
        QTest::newRow("txt") << "txt" << "markdown";
        QTest::newRow("text") << "text" << "markdown";
        QTest::newRow("mkdn") << "mkdn" << "markdown";
        QTest::newRow("tsv") << "tsv" << "csv";
        QTest::newRow("mermaid") << "mermaid" << "mermaid";
        QTest::newRow("mmd") << "mmd" << "mermaid";
        QTest::newRow("JSON") << "JSON" << "json";
        QTest::newRow("dot kept") << ".md" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("gz") << "gz" << "";
        QTest::newRow("no trimming") << " md" << "";
    }
    void toolForExtension()
    {
        QFETCH(QString, extension);
        QFETCH(QString, id);
        QCOMPARE(ToolHost::toolID(extension).value_or(QString()), id);
    }

    void categoryRawValues()
    {
        QCOMPARE(ToolCategories::fromRawValue("text"), std::optional<ToolCategory>(ToolCategory::text));
        QCOMPARE(ToolCategories::fromRawValue("encoding"), std::optional<ToolCategory>(ToolCategory::encoding));
        QVERIFY(!ToolCategories::fromRawValue("Text"));
        QVERIFY(!ToolCategories::fromRawValue(""));
        QCOMPARE(ToolCategories::sectionTitle(ToolCategory::data), QString("DATA"));
    }

    void openRoutesByLastExtension_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("id");
        QTest::newRow("data.JSON") << "data.JSON" << "json";
        QTest::newRow("archive.tar.gz") << "archive.tar.gz" << "";
        QTest::newRow("no extension") << "Makefile" << "";
        QTest::newRow("README.MD") << "README.MD" << "markdown";
    }
    void openRoutesByLastExtension()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, id);
        QTemporaryDir dir;
        QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
        ToolHost host(settings);
        const QUrl url = QUrl::fromLocalFile(dir.filePath(fileName));
        QCOMPARE(host.open(url).value_or(QString()), id);
    }
};

QUORRIX_TEST_MAIN(ToolHostTest)
#include "ToolHostTest.moc"
