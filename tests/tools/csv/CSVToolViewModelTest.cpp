#include "support/QuorrixTestMain.h"
#include "tools/csv/CSVToolViewModel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {
using Ids = std::vector<qint32>;

QUrl writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile f(dir.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    f.close();
    return QUrl::fromLocalFile(f.fileName());
}

// Lets queued work and deferred actions run until the model is idle.
void settle(CSVToolViewModel& model)
{
    QTRY_VERIFY(!model.isParsing() && !model.isRefining());
    QCoreApplication::processEvents();
}

QString clipboardText() { return QGuiApplication::clipboard()->text(); }
} // namespace

class CSVToolViewModelTest : public QObject {
    Q_OBJECT
private slots:
    void startsWithTheSample()
    {
        CSVToolViewModel model;
        QCOMPARE(CSVToolViewModel::sampleText().size(), 157);
        QVERIFY(model.document());
        QCOMPARE(model.rowCount(), std::optional<qsizetype>(5));
        QCOMPARE(model.columnCount(), std::optional<qsizetype>(4));
        QCOMPARE(model.delimiterBadge()->text(), QStringLiteral("COMMA"));
        QVERIFY(!model.parseError());
        QVERIFY(model.fileUrl().isEmpty());
        QStringList names;
        QList<bool> numeric;
        for (const CSVParser::Column& c : model.document()->columns()) {
            names << c.name;
            numeric << c.isNumeric;
        }
        QCOMPARE(names, (QStringList{"Name", "Status", "Score", "Updated"}));
        QCOMPARE(numeric, (QList<bool>{false, false, true, false}));
        QCOMPARE(model.visibleRows(), (Ids{0, 1, 2, 3, 4}));
        QCOMPARE(model.shownRows(), (Ids{0, 1, 2, 3, 4}));
        QVERIFY(!model.hasRefinements());
        QCOMPARE(model.treatFirstRowAsHeader(), true);
        QCOMPARE(model.delimiterChoice(), CSVToolViewModel::DelimiterChoice::automatic);
    }

    void delimiterArguments()
    {
        using C = CSVToolViewModel::DelimiterChoice;
        QCOMPARE(CSVToolViewModel::allDelimiterChoices(), (QList<C>{C::automatic, C::comma, C::semicolon, C::tab, C::pipe}));
        QVERIFY(!CSVToolViewModel::delimiterArgument(C::automatic));
        QCOMPARE(uint(*CSVToolViewModel::delimiterArgument(C::tab)), uint('\t'));
        QCOMPARE(uint(*CSVToolViewModel::delimiterArgument(C::pipe)), uint('|'));
    }

    void searchAndFiltersReachTheTableOffTheGuiThread()
    {
        CSVToolViewModel model;
        QSignalSpy shown(&model, &CSVToolViewModel::shownRowsChanged);
        model.setSearchQuery(QStringLiteral("  PENDING "));
        // Until the run's result arrives the table keeps the previous rows.
        QCOMPARE(model.shownRows(), (Ids{0, 1, 2, 3, 4}));
        QCOMPARE(model.visibleRows(), (Ids{1, 4}));
        QTRY_COMPARE(model.shownRows(), (Ids{1, 4}));
        model.setColumnFilter(0, QStringLiteral("e"));
        QTRY_COMPARE(model.shownRows(), (Ids{4}));
        model.setColumnFilter(0, QString());
        QVERIFY(model.columnFilters().isEmpty());
        model.setSortOrder({{2, false}});
        QTRY_COMPARE(model.shownRows(), (Ids{4, 1}));
        QVERIFY(model.hasRefinements());
    }

    void quickChangesPublishOnlyTheLast()
    {
        CSVToolViewModel model;
        QSignalSpy shown(&model, &CSVToolViewModel::shownRowsChanged);
        model.setSearchQuery(QStringLiteral("a"));
        model.setSearchQuery(QStringLiteral("al"));
        model.setSearchQuery(QStringLiteral("ali"));
        settle(model);
        QCOMPARE(shown.count(), 1);
        QCOMPARE(model.shownRows(), (Ids{0}));
    }

    void hasRefinements_data()
    {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("sorted");
        QTest::addColumn<bool>("expected");
        QTest::newRow("nothing") << "" << "" << false << false;
        QTest::newRow("a search of one space counts") << " " << "" << false << true;
        QTest::newRow("a filter of one space counts") << "" << " " << false << true;
        QTest::newRow("a sort key") << "" << "" << true << true;
    }
    void hasRefinements()
    {
        QFETCH(QString, search);
        QFETCH(QString, filter);
        QFETCH(bool, sorted);
        QFETCH(bool, expected);
        CSVToolViewModel model;
        model.setSearchQuery(search);
        model.setColumnFilter(1, filter);
        if (sorted)
            model.setSortOrder({{0, true}});
        QCOMPARE(model.hasRefinements(), expected);
        QCOMPARE(model.activeFilterCount(), filter.isEmpty() ? 0 : 1);
    }

    void columnActionsAreDeferred()
    {
        CSVToolViewModel model;
        model.hideAllColumns();
        QCOMPARE(model.visibleColumns().size(), 4);
        QTRY_VERIFY(model.visibleColumns().isEmpty());
        model.copySelection(true);
        QCOMPARE(clipboardText(), QString());
        model.showAllColumns();
        QCOMPARE(model.visibleColumns().size(), 0);
        QTRY_COMPARE(model.visibleColumns().size(), 4);

        model.setColumn(1, false);
        model.setColumn(1, false);
        QCOMPARE(model.hiddenColumns().size(), 0);
        QTRY_COMPARE(model.hiddenColumns(), (QSet<qint64>{1}));
        model.setColumn(1, true);
        QTRY_VERIFY(model.hiddenColumns().isEmpty());
        model.setColumn(99, false); // an id the document does not have is kept all the same
        QTRY_COMPARE(model.hiddenColumns(), (QSet<qint64>{99}));
    }

    void resetIsDeferredAndKeepsHiddenColumnsAndSelection()
    {
        CSVToolViewModel model;
        model.setSearchQuery(QStringLiteral("a"));
        model.setColumnFilter(0, QStringLiteral("b"));
        model.setSortOrder({{0, true}});
        model.setHiddenColumns({3});
        model.setSelection({1, 2});
        model.resetRefinements();
        QVERIFY(model.hasRefinements());
        QTRY_VERIFY(!model.hasRefinements());
        QCOMPARE(model.searchQuery(), QString());
        QVERIFY(model.columnFilters().isEmpty());
        QVERIFY(model.sortOrder().isEmpty());
        QCOMPARE(model.hiddenColumns(), (QSet<qint64>{3}));
        QCOMPARE(model.selection(), (QSet<qint64>{1, 2}));
    }

    void copiesTheSelectedVisibleRows()
    {
        CSVToolViewModel model;
        model.setSelection({0, 1, 4});
        model.setColumnFilter(1, QStringLiteral("pending")); // keeps rows 1 and 4
        model.setSortOrder({{2, false}});                     // 4 (99) before 1 (78)
        model.setHiddenColumns({1, 3});
        model.copySelection(true);
        QCOMPARE(clipboardText(), QStringLiteral("| Name | Score |\n| --- | --- |\n| Eun | 99 |\n| Bob | 78 |\n"));
        model.setSelection({0, 2});
        model.copySelection(false);
        QCOMPARE(clipboardText(), QStringLiteral("[\n  {\n    \"Name\" : \"Eun\",\n    \"Score\" : 99\n  },\n"
                                                 "  {\n    \"Name\" : \"Bob\",\n    \"Score\" : 78\n  }\n]"));
        model.copyVisible(true);
        QCOMPARE(clipboardText(), QStringLiteral("| Name | Score |\n| --- | --- |\n| Eun | 99 |\n| Bob | 78 |\n"));
    }

    void copiesShownRowsAsTabSeparatedText()
    {
        CSVToolViewModel model;
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QVERIFY(model.copyShownRowsAsTSV({2, 0, 17}));
        QCOMPARE(clipboardText(), QStringLiteral("Name\tStatus\tScore\tUpdated\nAlice\tactive\t92\t2024-03-14\n"
                                                 "Cleo\tinactive\t85\t2024-01-08"));
        model.setHiddenColumns({0, 1, 2, 3});
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QVERIFY(!model.copyShownRowsAsTSV({}));
        QCOMPARE(clipboardText(), QStringLiteral("before"));
    }

    void opensAFile()
    {
        QTemporaryDir dir;
        const QUrl url = writeFile(dir, QStringLiteral("data.csv"), "\xEF\xBB\xBFx;y\n1;2\n3;4\n");
        CSVToolViewModel model;
        model.setSearchQuery(QStringLiteral("zzz"));
        model.setColumnFilter(0, QStringLiteral("a"));
        model.setHiddenColumns({1});
        model.setSelection({1});
        QSignalSpy documents(&model, &CSVToolViewModel::documentChanged);
        model.open(url);
        QTRY_COMPARE(documents.count(), 1);
        settle(model);
        QCOMPARE(model.fileUrl(), url);
        QCOMPARE(model.delimiterBadge()->text(), QStringLiteral("SEMICOLON"));
        QCOMPARE(model.rawText(), QStringLiteral("x;y\n1;2\n3;4\n"));
        QCOMPARE(model.searchQuery(), QString());
        QVERIFY(model.columnFilters().isEmpty());
        QVERIFY(model.hiddenColumns().isEmpty());
        QVERIFY(model.selection().isEmpty());
        QCOMPARE(model.shownRows(), (Ids{0, 1}));
        QVERIFY(!model.parseError());
    }

    void anUnreadableFileLeavesTheTableAsItWas()
    {
        QTemporaryDir dir;
        CSVToolViewModel model;
        const QUuid before = model.document()->id();
        model.setSearchQuery(QStringLiteral("a"));
        model.setColumnFilter(0, QStringLiteral("e"));
        model.open(QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing.csv"))));
        QTRY_VERIFY(model.parseError().has_value());
        QCOMPARE(*model.parseError(), QStringLiteral("Could not read file."));
        QCOMPARE(model.delimiterBadge()->text(), QStringLiteral("ERROR"));
        QCOMPARE(model.document()->id(), before);
        QCOMPARE(model.searchQuery(), QStringLiteral("a"));
        QCOMPARE(model.columnFilters().value(0), QStringLiteral("e"));
        QCOMPARE(model.rowCount(), std::optional<qsizetype>(5));
        // A folder is no file either.
        model.open(QUrl::fromLocalFile(dir.path()));
        settle(model);
        QCOMPARE(model.document()->id(), before);
    }

    void anEmptyFileHasNoRows()
    {
        QTemporaryDir dir;
        CSVToolViewModel model;
        model.open(writeFile(dir, QStringLiteral("empty.csv"), "\n\n"));
        QTRY_COMPARE(model.parseError(), std::optional<QString>(QStringLiteral("No rows found.")));
        QCOMPARE(model.columnCount(), std::optional<qsizetype>(0));
        QCOMPARE(model.rowCount(), std::optional<qsizetype>(0));
        QVERIFY(model.visibleColumns().isEmpty());
        settle(model);
        QVERIFY(model.shownRows().empty());
        QCOMPARE(model.delimiterBadge()->text(), QStringLiteral("ERROR"));
    }

    void twoQuickOpensPublishOnlyTheSecond()
    {
        QTemporaryDir dir;
        QByteArray big = "a,b\n";
        for (int i = 0; i < 200000; ++i)
            big += "1,2\n";
        const QUrl first = writeFile(dir, QStringLiteral("first.csv"), big);
        const QUrl second = writeFile(dir, QStringLiteral("second.tsv"), "p\tq\nr\ts\n");
        CSVToolViewModel model;
        QSignalSpy documents(&model, &CSVToolViewModel::documentChanged);
        QSignalSpy urls(&model, &CSVToolViewModel::fileUrlChanged);
        model.open(first);
        model.open(second);
        settle(model);
        QTRY_COMPARE(documents.count(), 1);
        QCOMPARE(urls.count(), 1);
        QCOMPARE(model.fileUrl(), second);
        QCOMPARE(model.delimiterBadge()->text(), QStringLiteral("TAB"));
        QCOMPARE(model.rowCount(), std::optional<qsizetype>(1));
    }

    void reparseKeepsTheSearchAndClearsTheRest()
    {
        CSVToolViewModel model;
        model.setSearchQuery(QStringLiteral("li"));
        model.setColumnFilter(0, QStringLiteral("a"));
        model.setSortOrder({{0, true}});
        model.setHiddenColumns({2});
        model.setSelection({0});
        model.setDelimiterChoice(CSVToolViewModel::DelimiterChoice::semicolon);
        QCOMPARE(model.document()->delimiter(), U','); // a choice alone does not re-parse
        model.reparse();
        QTRY_COMPARE(uint(model.document()->delimiter()), uint(';'));
        QCOMPARE(model.searchQuery(), QStringLiteral("li"));
        QVERIFY(model.columnFilters().isEmpty());
        QVERIFY(model.sortOrder().isEmpty());
        QVERIFY(model.hiddenColumns().isEmpty());
        QVERIFY(model.selection().isEmpty());
        QCOMPARE(model.columnCount(), std::optional<qsizetype>(1));
        QCOMPARE(model.rawText(), CSVToolViewModel::sampleText());

        model.setTreatFirstRowAsHeader(false);
        model.reparse();
        QTRY_COMPARE(model.rowCount(), std::optional<qsizetype>(6));
        QCOMPARE(model.document()->columns().first().name, QStringLiteral("A"));
    }

    // The re-parse for a new delimiter must not be lost to an open that fails right after it.
    void aFailedOpenAfterADelimiterChangeStillReparses()
    {
        QTemporaryDir dir;
        CSVToolViewModel model;
        model.setDelimiterChoice(CSVToolViewModel::DelimiterChoice::semicolon);
        model.reparse();
        model.open(QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing.csv"))));
        QTRY_COMPARE(uint(model.document()->delimiter()), uint(';'));
        settle(model);
        QCOMPARE(uint(model.document()->delimiter()), uint(';'));
    }

    void invalidUtf8IsReplaced()
    {
        QTemporaryDir dir;
        CSVToolViewModel model;
        model.open(writeFile(dir, QStringLiteral("bad.csv"), "h\nx\xFFy\n"));
        settle(model);
        QCOMPARE(model.document()->cell(0, 0), QString::fromUtf16(u"x\uFFFDy"));
        QVERIFY(!model.parseError());
    }
};

QUORRIX_TEST_MAIN(CSVToolViewModelTest)
#include "CSVToolViewModelTest.moc"
