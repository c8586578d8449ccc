#include "support/QuorrixTestMain.h"
#include "support/WrittenFile.h"
#include "formats/WorkPool.h"
#include "kit/MemoryBudget.h"
#include "tools/csv/CSVRefinement.h"
#include "tools/csv/CSVToolViewModel.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>

#include <numeric>

#include <sys/resource.h>

namespace {
using Ids = std::vector<qint32>;

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

    void largeCopiesAreBuiltInTheBackground_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("format");
        QTest::newRow("visible rows as JSON") << 0 << "json";
        QTest::newRow("visible rows as Markdown") << 1 << "markdown";
        QTest::newRow("selected rows as JSON") << 2 << "json";
        QTest::newRow("every shown row as tab-separated text") << 3 << "tsv";
        QTest::newRow("a range of shown rows as tab-separated text") << 4 << "tsv";
    }
    void largeCopiesAreBuiltInTheBackground()
    {
        QFETCH(int, kind);
        QFETCH(QString, format);
        QTemporaryDir dir;
        QByteArray text = "id,name,note\n";
        const int rows = 30000; // well past what is copied at once
        for (int r = 0; r < rows; ++r)
            text += QByteArray::number(r) + ",n" + QByteArray::number(r % 97) + ",\"a|b\tc\nd\"\n";
        CSVToolViewModel model;
        model.open(writeFile(dir, QStringLiteral("large.csv"), text));
        QTRY_COMPARE(model.rowCount(), std::optional<qsizetype>(rows));
        settle(model);
        const CSVParser::Document document = *model.document();
        Ids expectedRows(static_cast<size_t>(rows));
        std::iota(expectedRows.begin(), expectedRows.end(), 0);
        if (kind == 2) {
            QSet<qint64> selection;
            expectedRows.clear();
            for (qint32 r = 0; r < rows; r += 2) {
                selection.insert(r);
                expectedRows.push_back(r);
            }
            model.setSelection(selection);
        }
        if (kind == 4)
            expectedRows = Ids(expectedRows.begin() + 10, expectedRows.begin() + 25010);
        const QList<CSVParser::Column> columns = model.visibleColumns();
        const QString expected = format == "json"       ? csvRowsAsJSON(document, expectedRows, columns)
                                 : format == "markdown" ? csvRowsAsMarkdownTable(document, expectedRows, columns)
                                                        : csvRowsAsTSV(document, expectedRows, columns);
        QSignalSpy state(&model, &CSVToolViewModel::copyStateChanged);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        switch (kind) {
        case 0: model.copyVisible(false); break;
        case 1: model.copyVisible(true); break;
        case 2: model.copySelection(false); break;
        case 3: QVERIFY(model.copyShownRowsAsTSV({})); break;
        case 4: QVERIFY(model.copyShownRowsAsTSV({{10, 25009}})); break;
        }
        // Nothing was built on the GUI thread: the clipboard changes only once the work is done.
        QVERIFY(model.isCopying());
        QCOMPARE(clipboardText(), QStringLiteral("before"));
        QCOMPARE(state.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isCopying(), 60000);
        QCOMPARE(model.copyRowsDone(), qsizetype(expectedRows.size()));
        QCOMPARE(model.copyRowsTotal(), qsizetype(expectedRows.size()));
        QCOMPARE(clipboardText(), expected);
    }

    // Copies asked for before the rows of the state they were asked in had been worked out.
    void copiesAskedForWhileTheRowsAreWorkedOut_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("selectionOnly");
        QTest::addColumn<QString>("afterwards");
        QTest::newRow("sorted; every visible row") << "sort" << false << "";
        QTest::newRow("sorted; a new document parsed before the rows arrive") << "sort" << false << "reparse";
        QTest::newRow("searched; the selected rows; the search changed at once") << "search" << true << "search";
        QTest::newRow("filtered; every visible row; the filter cleared at once") << "filter" << false << "filter";
        QTest::newRow("filtered; the selected rows; the copy asked for again") << "filter" << true << "copy";
    }
    void copiesAskedForWhileTheRowsAreWorkedOut()
    {
        QFETCH(QString, change);
        QFETCH(bool, selectionOnly);
        QFETCH(QString, afterwards);
        // Tags t0 to t999, so that the text order of a tag is the order of its number.
        const int rows = 30000;
        const auto tag = [](int r) { return (r * 7919) % 1000; };
        QByteArray text = "id,tag\n";
        for (int r = 0; r < rows; ++r)
            text += QByteArray::number(r) + ",t" + QByteArray::number(tag(r)) + '\n';
        QTemporaryDir dir;
        CSVToolViewModel model;
        model.open(writeFile(dir, QStringLiteral("tags.csv"), text));
        QTRY_COMPARE(model.rowCount(), std::optional<qsizetype>(rows));
        settle(model);
        const CSVParser::Document document = *model.document();
        QSet<qint64> selection;
        for (qint32 r = 0; r < rows; r += 3)
            selection.insert(r);
        model.setSelection(selection);

        Ids expected;
        for (int r = 0; r < rows; ++r) {
            const QString t = QString::number(tag(r));
            if ((change == "search" && !t.startsWith(u"12")) || (change == "filter" && !t.startsWith(u"99")))
                continue;
            if (!selectionOnly || selection.contains(r))
                expected.push_back(r);
        }
        if (change == "sort")
            std::stable_sort(expected.begin(), expected.end(), [&](qint32 a, qint32 b) { return tag(a) > tag(b); });

        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        if (change == "sort")
            model.setSortOrder({{1, false}});
        else if (change == "search")
            model.setSearchQuery(QStringLiteral("T12"));
        else
            model.setColumnFilter(1, QStringLiteral("t99"));
        const auto copy = [&] { selectionOnly ? model.copySelection(false) : model.copyVisible(false); };
        copy();
        QVERIFY(model.isCopying());
        QCOMPARE(clipboardText(), QStringLiteral("before"));
        if (afterwards == "reparse") {
            model.setTreatFirstRowAsHeader(false);
            model.reparse();
        } else if (afterwards == "search") {
            model.setSearchQuery(QStringLiteral("t3"));
        } else if (afterwards == "filter") {
            model.setColumnFilter(1, QString());
        } else if (afterwards == "copy") {
            copy();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!model.isCopying(), 60000);
        QCOMPARE(model.copyRowsDone(), qsizetype(expected.size()));
        QCOMPARE(model.copyRowsTotal(), qsizetype(expected.size()));
        QCOMPARE(clipboardText(), csvRowsAsJSON(document, expected, document.columns()));
    }

    // The old way, working the rows out on the GUI thread before copying, took as long as the
    // sort itself: the call must take a small part of that.
    void aCopyAskedForDuringASortLeavesTheSortToTheBackground()
    {
        const int rows = 400000;
        QByteArray text = "id,tag\n";
        for (int r = 0; r < rows; ++r)
            text += QByteArray::number(r) + ",w" + QByteArray::number((qint64(r) * 7919) % 100000) + "x\n";
        QTemporaryDir dir;
        CSVToolViewModel model;
        model.open(writeFile(dir, QStringLiteral("long.csv"), text));
        QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), std::optional<qsizetype>(rows), 60000);
        settle(model);
        // How long the call holds the GUI thread is measured by bench-csv-tool --copy-only.
        model.setSortOrder({{1, false}});
        model.copyVisible(true);
        QVERIFY(model.isCopying());
        QTRY_VERIFY_WITH_TIMEOUT(!model.isCopying(), 60000);
        QCOMPARE(model.copyRowsDone(), qsizetype(rows));
        QVERIFY(clipboardText().startsWith(QStringLiteral("| id | tag |\n| --- | --- |\n")));
        QVERIFY(clipboardText().section(u'\n', 2, 2).endsWith(QStringLiteral(" | w99999x |")));
    }

    void aCancelledCopyLeavesTheClipboardAlone()
    {
        QTemporaryDir dir;
        QByteArray text = "a,b\n";
        for (int r = 0; r < 200000; ++r)
            text += "x" + QByteArray::number(r) + ",y\n";
        CSVToolViewModel model;
        model.open(writeFile(dir, QStringLiteral("large.csv"), text));
        QTRY_COMPARE(model.rowCount(), std::optional<qsizetype>(200000));
        settle(model);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QSignalSpy state(&model, &CSVToolViewModel::copyStateChanged);
        model.copyVisible(false);
        QVERIFY(model.isCopying());
        model.cancelCopy();
        QVERIFY(!model.isCopying());
        QCOMPARE(state.count(), 2);
        // Whatever the stopped work still hands back is dropped.
        QTRY_COMPARE_WITH_TIMEOUT(WorkPool::instance()->activeThreadCount(), 0, 60000);
        QCoreApplication::processEvents();
        QCOMPARE(clipboardText(), QStringLiteral("before"));
        // A newer copy supersedes a running one; only the newer lands.
        model.copyVisible(false);
        model.copyVisible(true);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isCopying(), 60000);
        QVERIFY(clipboardText().startsWith(QStringLiteral("| a | b |\n| --- | --- |\n| x0 | y |\n")));
        QTRY_COMPARE_WITH_TIMEOUT(WorkPool::instance()->activeThreadCount(), 0, 60000);
        QCoreApplication::processEvents();
        QVERIFY(clipboardText().startsWith(QStringLiteral("| a | b |")));
    }

    void smallCopiesAreMadeAtOnce()
    {
        // A handful of rows whose cells are large: made at once only while they are few bytes.
        CSVToolViewModel model;
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        model.copyVisible(false);
        QVERIFY(!model.isCopying());
        QVERIFY(clipboardText().startsWith(QStringLiteral("[\n  {\n    \"Name\" : \"Alice\"")));
        QTemporaryDir dir;
        const QByteArray big(CSVToolViewModel::immediateCopyBytes + 10, 'z');
        model.open(writeFile(dir, QStringLiteral("wide-cells.csv"), "h\n" + big + "\n"));
        QTRY_COMPARE(model.rowCount(), std::optional<qsizetype>(1));
        settle(model);
        model.copyVisible(true);
        QVERIFY(model.isCopying());
        QTRY_VERIFY_WITH_TIMEOUT(!model.isCopying(), 60000);
        QCOMPARE(clipboardText(), QString::fromLatin1("| h |\n| --- |\n| " + big + " |\n"));
    }

    void aByteOrderMarkInACellReachesTheClipboard()
    {
        QTemporaryDir dir;
        CSVToolViewModel model;
        model.open(writeFile(dir, QStringLiteral("bom.csv"), "\xEF\xBB\xBFk,v\n\xEF\xBB\xBFx,\xEF\xBB\xBF\n"));
        QTRY_COMPARE(model.rowCount(), std::optional<qsizetype>(1));
        settle(model);
        const QString bom(QChar(0xFEFF));
        QCOMPARE(model.document()->columns().first().name, QStringLiteral("k"));
        QCOMPARE(model.document()->cell(0, 0), bom + "x");
        QCOMPARE(model.rawText(), "k,v\n" + bom + "x," + bom + "\n");
        model.copyVisible(true);
        QCOMPARE(clipboardText(), "| k | v |\n| --- | --- |\n| " + bom + "x | " + bom + " |\n");
        QVERIFY(model.copyShownRowsAsTSV({}));
        QCOMPARE(clipboardText(), "k\tv\n" + bom + "x\t" + bom);
    }

    void copiesShownRowsAsTabSeparatedText()
    {
        CSVToolViewModel model;
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QVERIFY(model.copyShownRowsAsTSV({{2, 2}, {0, 0}, {17, 17}}));
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

    // A file that would not fit is refused before it is read, with its size; one whose read runs
    // out of memory all the same (the address space is capped here, so the allocation fails at
    // once) ends with a sentence instead of parsing for good. Either way the table stays.
    void aFileTooLargeForMemoryLeavesTheTableAsItWas_data()
    {
        QTest::addColumn<bool>("judgedBeforeReading");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("refused before reading")
            << true
            << QStringLiteral("\u201Chuge.csv\u201D was not opened: at 8192.0 MB it would need about 24576.0 MB of "
                              "memory, and only 1024.0 MB is available.");
        QTest::newRow("allocation fails while reading")
            << false << QStringLiteral("There was not enough memory to finish this, so nothing was changed.");
    }
    void aFileTooLargeForMemoryLeavesTheTableAsItWas()
    {
        QFETCH(bool, judgedBeforeReading);
        QFETCH(QString, sentence);
        QTemporaryDir dir;
        const QUrl url = writeSparseFile(dir, QStringLiteral("huge.csv"), qint64(8) << 30);
        MemoryBudget::setAvailableBytesForTesting(judgedBeforeReading ? qint64(1) << 30 : qint64(1) << 50);
        rlimit before{};
        QVERIFY(getrlimit(RLIMIT_AS, &before) == 0);
        const auto restore = qScopeGuard([before] {
            MemoryBudget::setAvailableBytesForTesting(std::nullopt);
            setrlimit(RLIMIT_AS, &before);
        });
        CSVToolViewModel model;
        const QUuid document = model.document()->id();
        if (!judgedBeforeReading) {
#if defined(__SANITIZE_ADDRESS__)
            QSKIP("the address sanitizer's allocator aborts where a capped allocation would fail");
#endif
            QFile status(QStringLiteral("/proc/self/status"));
            QVERIFY(status.open(QIODevice::ReadOnly));
            const QByteArray text = status.readAll();
            const qsizetype at = text.indexOf("VmSize:");
            QVERIFY(at >= 0);
            const qint64 used = text.mid(at + 7, text.indexOf('\n', at) - at - 7).trimmed().split(' ').first().toLongLong() * 1024;
            rlimit capped = before;
            capped.rlim_cur = rlim_t(used + (qint64(2) << 30));
            QVERIFY(setrlimit(RLIMIT_AS, &capped) == 0);
        }
        model.open(url);
        QTRY_VERIFY_WITH_TIMEOUT(!model.isParsing(), 30000);
        QCOMPARE(model.parseError().value_or(QString()), sentence);
        QCOMPARE(model.document()->id(), document);
        QCOMPARE(model.rowCount(), std::optional<qsizetype>(5));
        QVERIFY(model.fileUrl().isEmpty());
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
