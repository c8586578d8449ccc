#include "kit/ui/Tool.h"
#include "app/ui/ToolHost.h"
#include "support/QuorrixTestMain.h"

#include <QSignalSpy>
#include <QTemporaryDir>

class ToolHostTest : public QObject {
    Q_OBJECT
private slots:
    void staticListOrder()
    {
        QStringList ids;
        for (const Tool* tool : ToolHost::allTools())
            ids << tool->id();
        QCOMPARE(ids, QStringList({"markdown", "json", "csv", "mermaid", "timestamp", "codec", "jwt"}));
    }

    void toolById_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("name");
        QTest::newRow("jwt") << "jwt" << "JWT";
        QTest::newRow("codec") << "codec" << "Encode / Decode";
        QTest::newRow("capital M") << "Markdown" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("foreign") << "foo" << "";
    }
    void toolById()
    {
        QFETCH(QString, id);
        QFETCH(QString, name);
        const Tool* tool = ToolHost::tool(id);
        QCOMPARE(tool ? tool->name() : QString(), name);
    }

    void toolsInCategory_data()
    {
        QTest::addColumn<int>("category");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("text") << int(ToolCategory::text) << QStringList{"Markdown", "Mermaid"};
        QTest::newRow("data") << int(ToolCategory::data) << QStringList{"JSON", "CSV", "Timestamp"};
        QTest::newRow("encoding") << int(ToolCategory::encoding) << QStringList{"Encode / Decode", "JWT"};
    }
    void toolsInCategory()
    {
        QFETCH(int, category);
        QFETCH(QStringList, names);
        QStringList found;
        for (const Tool* tool : ToolHost::tools(ToolCategory(category)))
            found << tool->name();
        QCOMPARE(found, names);
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

    void acceptsFiles()
    {
        QStringList accepting;
        for (const Tool* tool : ToolHost::allTools()) {
            if (tool->acceptsFiles())
                accepting << tool->id();
        }
        QCOMPARE(accepting, QStringList({"markdown", "json", "csv", "mermaid"}));
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
