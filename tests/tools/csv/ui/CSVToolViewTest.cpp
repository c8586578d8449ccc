#include "support/BadgeText.h"
#include "support/QuorrixTestMain.h"
#include "support/WrittenFile.h"
#include "kit/ui/ContentUnavailableView.h"
#include "kit/ui/Metric.h"
#include "kit/ui/ToolPane.h"
#include "kit/ui/ToolbarSearchField.h"
#include "kit/ui/ToolbarSearchItem.h"
#include "kit/ui/ToolbarSegmentedPicker.h"
#include "formats/WorkPool.h"
#include "tools/csv/CSVToolViewModel.h"
#include "tools/csv/ui/CSVCopyProgress.h"
#include "tools/csv/ui/CSVCellDelegate.h"
#include "tools/csv/ui/CSVFiltersPopover.h"
#include "tools/csv/ui/CSVGridView.h"
#include "tools/csv/ui/CSVHeaderView.h"
#include "tools/csv/ui/CSVTableModel.h"
#include "tools/csv/ui/CSVTableView.h"
#include "tools/csv/ui/CSVTool.h"
#include "tools/csv/ui/CSVToolView.h"

#include <QAction>
#include <QApplication>
#include <QScrollBar>
#include <QTimer>
#include <QDesktopServices>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QToolButton>

namespace {
QString shotPath(const QString& name)
{
    const QString dir = QDir::current().filePath(QStringLiteral("screenshots"));
    QDir().mkpath(dir);
    return QDir(dir).filePath(name);
}

QStringList columnCells(CSVTableView* table, int tableColumn)
{
    QStringList out;
    CSVTableModel* m = table->tableModel();
    for (int r = 0; r < m->rowCount(); ++r)
        out << m->data(m->index(r, tableColumn), Qt::DisplayRole).toString();
    return out;
}

// Shows the view, at the usual size unless told, and waits until it is on screen.
bool shown(CSVToolView& view, QSize size = {1000, 600})
{
    view.resize(size);
    view.show();
    return QTest::qWaitForWindowExposed(&view);
}

// Shows the view at the usual size, then opens the file.
bool showAndOpen(CSVToolView& view, const QUrl& url)
{
    if (!shown(view))
        return false;
    view.model()->open(url);
    return true;
}

QString cellText(CSVToolView& view, int row, int tableColumn)
{
    CSVTableModel* m = view.table()->tableModel();
    return m->data(m->index(row, tableColumn), Qt::DisplayRole).toString();
}

QString headerText(CSVToolView& view, int tableColumn)
{
    return view.table()->tableModel()->headerData(tableColumn, Qt::Horizontal, Qt::DisplayRole).toString();
}

void clickHeader(CSVToolView& view, int section)
{
    CSVHeaderView* header = view.table()->grid()->header();
    emit header->sectionClicked(section);
}
} // namespace

class CSVToolViewTest : public QObject {
    Q_OBJECT
public slots:
    void openedUrl(const QUrl& url) { m_opened.append(url); }

private:
    QList<QUrl> m_opened;

private slots:
    void links_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("urls");
        QTest::newRow("sentence punctuation after an address")
            << "see https://example.com/a?b=1." << QStringList{"https://example.com/a?b=1"};
        QTest::newRow("www address") << "www.example.org, more" << QStringList{"http://www.example.org"};
        QTest::newRow("mail") << "mailto:a@b.c" << QStringList{"mailto:a@b.c"};
        QTest::newRow("two") << "http://a.b and FTP://c.d" << QStringList{"http://a.b", "FTP://c.d"};
        QTest::newRow("none") << "no link: here." << QStringList{};
        QTest::newRow("inside a word") << "xhttp://nope" << QStringList{};
        QTest::newRow("scheme alone") << "http:// x" << QStringList{};
    }
    void links()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, urls);
        QStringList found;
        for (const CSVCellDelegate::Link& link : CSVCellDelegate::links(text))
            found << link.url;
        QCOMPARE(found, urls);
    }

    void aClickOnALinkOpensIt()
    {
        QTemporaryDir dir;
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(shown(view));
        model.open(writeFile(dir, QStringLiteral("links.csv"), "site\nhttps://example.com/x\n"));
        QTRY_COMPARE(view.table()->tableModel()->rowCount(), 1);
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openedUrl");
        CSVGridView* grid = view.table()->grid();
        const QRect cell = grid->visualRect(grid->model()->index(0, 1));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, cell.topLeft() + QPoint(20, cell.height() / 2));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(m_opened, (QList<QUrl>{QUrl(QStringLiteral("https://example.com/x"))}));
        QTRY_COMPARE(model.selection(), (QSet<qint64>{0}));
    }

    void registration()
    {
        const CSVTool tool;
        QCOMPARE(tool.id(), QStringLiteral("csv"));
        QCOMPARE(tool.name(), QStringLiteral("CSV"));
        QCOMPARE(tool.symbol(), QStringLiteral("tablecells"));
        QCOMPARE(tool.category(), ToolCategory::data);
        QCOMPARE(tool.acceptedExtensions(), (QSet<QString>{"csv", "tsv"}));
        QSettings settings;
        QObject owner;
        QObject* model = tool.makeViewModel(settings, &owner);
        QVERIFY(qobject_cast<CSVToolViewModel*>(model));
        std::unique_ptr<ToolView> view(tool.makeView(model));
        QVERIFY(qobject_cast<CSVToolView*>(view.get()));
    }

    void showsTheSample()
    {
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(shown(view));
        QCOMPARE(badgeText(view.pane()), QStringLiteral("COMMA"));
        QCOMPARE(view.title(), QStringLiteral("Untitled"));
        QCOMPARE(view.subtitle(), QStringLiteral("CSV"));
        QCOMPARE(view.rowsMetric()->text(), QStringLiteral("5 of 5 rows"));
        QCOMPARE(view.columnsMetric()->text(), QStringLiteral("4 of 4 cols"));
        QCOMPARE(view.table()->tableModel()->columnCount(), 5);
        QCOMPARE(columnCells(view.table(), 0), (QStringList{"1", "2", "3", "4", "5"}));
        QCOMPARE(columnCells(view.table(), 1).first(), QStringLiteral("Alice"));
        QVERIFY(!view.resetButton()->isEnabled());
        QVERIFY(!view.errorCard()->isVisible());
        QVERIFY(view.table()->grid()->verticalHeader()->sectionResizeMode(0) == QHeaderView::Fixed);
        QCOMPARE(view.table()->grid()->verticalHeader()->defaultSectionSize(), 24);
        const QList<QAction*> copies = view.copyMenu()->actions();
        QCOMPARE(copies.size(), 5);
        QVERIFY(!copies[3]->isEnabled());
        QVERIFY(!copies[4]->isEnabled());
        // Score is numeric: right-aligned cells and title.
        CSVTableModel* m = view.table()->tableModel();
        QCOMPARE(m->data(m->index(0, 3), Qt::TextAlignmentRole).toInt() & Qt::AlignRight, int(Qt::AlignRight));
        QCOMPARE(m->headerData(3, Qt::Horizontal, Qt::TextAlignmentRole).toInt() & Qt::AlignRight, int(Qt::AlignRight));
        // The row numbers' blank header still has a name for a screen reader.
        QCOMPARE(m->headerData(0, Qt::Horizontal, Qt::AccessibleTextRole).toString(), QStringLiteral("Row number"));
        const int width = view.table()->grid()->columnWidth(1);
        QVERIFY(width >= 60 && width <= 320);
        QVERIFY(view.grab().save(shotPath(QStringLiteral("csv-tool-sample.png"))));
    }

    void sortsByTwoColumnsFromTheHeader()
    {
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(shown(view));
        clickHeader(view, 3); // Score
        QCOMPARE(model.sortOrder().size(), 0); // reaches the model on a later turn
        QTRY_COMPARE(model.sortOrder(), (QList<CSVSortDescriptor>{{2, true}}));
        clickHeader(view, 2); // Status becomes the primary key
        QTRY_COMPARE(model.sortOrder(), (QList<CSVSortDescriptor>{{1, true}, {2, true}}));
        QTRY_COMPARE(columnCells(view.table(), 1), (QStringList{"Dee", "Alice", "Cleo", "Bob", "Eun"}));
        clickHeader(view, 2); // again: descending
        QTRY_COMPARE(model.sortOrder(), (QList<CSVSortDescriptor>{{1, false}, {2, true}}));
        QTRY_COMPARE(columnCells(view.table(), 1), (QStringList{"Bob", "Eun", "Cleo", "Dee", "Alice"}));
        clickHeader(view, 0); // the row numbers do not sort
        clickHeader(view, 3); // a sortable click after it, to wait on: Score becomes primary
        QTRY_COMPARE(model.sortOrder(), (QList<CSVSortDescriptor>{{2, true}, {1, false}}));
        clickHeader(view, 2);
        QTRY_COMPARE(model.sortOrder(), (QList<CSVSortDescriptor>{{1, true}, {2, true}}));
        clickHeader(view, 2);
        QTRY_COMPARE(model.sortOrder(), (QList<CSVSortDescriptor>{{1, false}, {2, true}}));
        QCOMPARE(model.sortOrder().size(), 2);
        const auto marks = view.table()->grid()->header()->sortMarks();
        QCOMPARE(marks.size(), 2);
        QCOMPARE(marks[0].section, 2);
        QVERIFY(!marks[0].ascending);
        QCOMPARE(marks[1].section, 3);
        QCOMPARE(columnCells(view.table(), 0), (QStringList{"1", "2", "3", "4", "5"}));
        QVERIFY(view.resetButton()->isEnabled());
        QVERIFY(view.grab().save(shotPath(QStringLiteral("csv-tool-sorted.png"))));
        view.resetButton()->click();
        QTRY_VERIFY(!view.resetButton()->isEnabled());
    }

    // The header row takes the keys: Left, Right, Home and End pick a data column, Space and
    // Return sort by it as a click does.
    void sortsFromTheKeyboard_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QList<CSVSortDescriptor>>("order");
        using L = QList<int>;
        QTest::newRow("Return sorts by the first column") << L{Qt::Key_Return} << QList<CSVSortDescriptor>{{0, true}};
        QTest::newRow("Right, Space") << L{Qt::Key_Right, Qt::Key_Space} << QList<CSVSortDescriptor>{{1, true}};
        QTest::newRow("twice reverses") << L{Qt::Key_Right, Qt::Key_Space, Qt::Key_Space}
                                        << QList<CSVSortDescriptor>{{1, false}};
        QTest::newRow("Left never reaches the row numbers") << L{Qt::Key_Left, Qt::Key_Left, Qt::Key_Enter}
                                                            << QList<CSVSortDescriptor>{{0, true}};
        QTest::newRow("End, past the last") << L{Qt::Key_End, Qt::Key_Right, Qt::Key_Return}
                                            << QList<CSVSortDescriptor>{{3, true}};
        QTest::newRow("a second key") << L{Qt::Key_Space, Qt::Key_End, Qt::Key_Left, Qt::Key_Space}
                                      << QList<CSVSortDescriptor>{{2, true}, {0, true}};
        QTest::newRow("Home after End") << L{Qt::Key_End, Qt::Key_Home, Qt::Key_Space}
                                        << QList<CSVSortDescriptor>{{0, true}};
    }
    void sortsFromTheKeyboard()
    {
        QFETCH(QList<int>, keys);
        QFETCH(QList<CSVSortDescriptor>, order);
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(shown(view));
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        CSVGridView* grid = view.table()->grid();
        grid->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(grid->hasFocus());
        // Tab leaves the cells for the header row.
        QTest::keyClick(grid, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(grid->header()));
        QSignalSpy sorted(&model, &CSVToolViewModel::sortOrderChanged);
        for (int key : keys) {
            const int before = sorted.count();
            QTest::keyClick(grid->header(), Qt::Key(key));
            if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)
                QTRY_VERIFY(sorted.count() > before);
        }
        QCOMPARE(model.sortOrder(), order);
        // The column the keys act on is told.
        QCOMPARE(grid->header()->accessibleDescription(), headerText(view, int(order.first().columnID) + 1));
    }

    // Tab and Shift+Tab leave the grid; the arrows stay on its cells.
    void tabLeavesTheGrid()
    {
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(shown(view));
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        CSVGridView* grid = view.table()->grid();
        grid->setFocus(Qt::TabFocusReason);
        grid->setCurrentIndex(grid->model()->index(0, 1));
        QTest::keyClick(grid, Qt::Key_Right);
        QCOMPARE(grid->currentIndex().column(), 2);
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(grid->currentIndex().row(), 1);
        QTest::keyClick(grid, Qt::Key_Tab);
        QVERIFY(!grid->hasFocus());
        QCOMPARE(grid->currentIndex(), grid->model()->index(1, 2));
        grid->setFocus(Qt::TabFocusReason);
        QTest::keyClick(grid, Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(QApplication::focusWidget() && !view.table()->isAncestorOf(QApplication::focusWidget()));
        grid->setFocus(Qt::TabFocusReason);
        QTest::keyClick(grid, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(grid->currentIndex(), grid->model()->index(1, 2));
    }

    void filtersFromThePopover()
    {
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(shown(view));
        CSVFiltersPopover* popover = view.showFiltersPopover();
        QVERIFY(popover->isVisible());
        // The keys go to the first column's field.
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(popover->field(0)));
        QVERIFY(!popover->clearAllButton()->isEnabled());
        QLineEdit* status = popover->field(1);
        QVERIFY(status);
        QCOMPARE(status->placeholderText(), QString::fromUtf16(u"Contains\u2026"));
        QTest::keyClicks(status, QStringLiteral("pend"));
        QCOMPARE(model.columnFilters(), (QMap<qint64, QString>{{1, "pend"}}));
        QVERIFY(popover->isFilterIconFilled(1));
        QVERIFY(!popover->isFilterIconFilled(0));
        QVERIFY(popover->clearAllButton()->isEnabled());
        QCOMPARE(view.filterCount()->text(), QStringLiteral("1"));
        QVERIFY(view.filterCount()->isVisibleTo(&view));
        QTRY_COMPARE(view.rowsMetric()->text(), QStringLiteral("2 of 5 rows"));
        QVERIFY(popover->grab().save(shotPath(QStringLiteral("csv-tool-filters-popover.png"))));
        QVERIFY(view.grab().save(shotPath(QStringLiteral("csv-tool-filtered.png"))));
        // Deleting the text removes the entry.
        status->selectAll();
        QTest::keyClick(status, Qt::Key_Backspace);
        QVERIFY(model.columnFilters().isEmpty());
        QVERIFY(!popover->clearAllButton()->isEnabled());
        QVERIFY(!view.filterCount()->isVisibleTo(&view));
        // A single blank is a filter.
        QTest::keyClicks(popover->field(0), QStringLiteral(" "));
        QCOMPARE(model.activeFilterCount(), 1);
        popover->clearAllButton()->click();
        QVERIFY(model.columnFilters().isEmpty());
        QCOMPARE(popover->field(0)->text(), QString());
    }

    void popoverWithoutColumns()
    {
        QTemporaryDir dir;
        CSVToolViewModel model;
        CSVToolView view(&model);
        model.open(writeFile(dir, QStringLiteral("empty.csv"), "\n"));
        QTRY_VERIFY(model.parseError().has_value());
        CSVFiltersPopover* popover = view.showFiltersPopover();
        QVERIFY(popover->emptyLabel()->isVisibleTo(popover));
        QCOMPARE(popover->emptyLabel()->text(), QStringLiteral("Open a file to set filters."));
        QVERIFY(!popover->clearAllButton()->isEnabled());
        popover->hide();
    }

    void hidingEveryColumnShowsTheEmptyState()
    {
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(shown(view));
        emit view.columnsMenu()->aboutToShow();
        const QList<QAction*> actions = view.columnsMenu()->actions();
        QCOMPARE(actions.size(), 4 + 3);
        QCOMPARE(actions.last()->text(), QStringLiteral("Hide All"));
        actions[1]->toggle(); // hide Status
        QTRY_COMPARE(view.columnsMetric()->text(), QStringLiteral("3 of 4 cols"));
        QCOMPARE(view.table()->tableModel()->columnCount(), 4);
        actions.last()->trigger();
        QTRY_VERIFY(view.table()->showsEmptyState());
        QCOMPARE(view.table()->emptyState()->title(), QStringLiteral("All columns are hidden"));
        QCOMPARE(view.table()->emptyState()->description(), QStringLiteral("Use the Columns menu in the toolbar to show one."));
        QCOMPARE(view.columnsMetric()->text(), QStringLiteral("0 of 4 cols"));
        QVERIFY(view.grab().save(shotPath(QStringLiteral("csv-tool-all-hidden.png"))));
        emit view.columnsMenu()->aboutToShow();
        view.columnsMenu()->actions()[5]->trigger(); // Show All
        QTRY_VERIFY(!view.table()->showsEmptyState());
    }

    // Toggles from the open Columns menu: its items, or past a few dozen columns its list, whose
    // rows toggle on a click on the name or the box and on Space, and which stays open.
    void theColumnsMenuTogglesAnyColumn_data()
    {
        QTest::addColumn<int>("columns");
        QTest::newRow("as many columns as the menu has items for") << int(CSVToolView::columnsAsMenuItems);
        QTest::newRow("one more, in a list") << int(CSVToolView::columnsAsMenuItems) + 1;
        QTest::newRow("fifty thousand, in a list") << 50000;
    }
    void theColumnsMenuTogglesAnyColumn()
    {
        QFETCH(int, columns);
        QByteArray text;
        for (int r = 0; r < 2; ++r) {
            for (int c = 0; c < columns; ++c)
                text += (c ? "," : "") + (r ? QByteArray::number(c) : "c" + QByteArray::number(c));
            text += '\n';
        }
        QTemporaryDir dir;
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(showAndOpen(view, writeFile(dir, QStringLiteral("columns.csv"), text)));
        QTRY_COMPARE_WITH_TIMEOUT(view.table()->tableModel()->columnCount(), columns + 1, 60000);
        const QLocale locale;
        const auto shownOfAll = [&](int shown) {
            return QStringLiteral("%1 of %2 cols").arg(locale.toString(shown), locale.toString(columns));
        };
        // Waits for the deferred changes asked for so far.
        const auto settled = [&model] {
            bool ran = false;
            QTimer::singleShot(0, &model, [&ran] { ran = true; });
            return QTest::qWaitFor([&ran] { return ran; });
        };
        QMenu* menu = view.columnsMenu();
        menu->popup(view.mapToGlobal(QPoint(100, 40)));
        QTRY_VERIFY(menu->isVisible());
        const QList<QAction*> actions = menu->actions();
        QCOMPARE(actions.last()->text(), QStringLiteral("Hide All"));
        const int last = columns - 1;
        if (columns <= CSVToolView::columnsAsMenuItems) {
            QCOMPARE(actions.size(), columns + 3);
            QCOMPARE(actions[last]->text(), "c" + QString::number(last));
            QVERIFY(actions[last]->isChecked());
            actions[last]->toggle();
            QTRY_COMPARE(view.columnsMetric()->text(), shownOfAll(columns - 1));
            QCOMPARE(model.hiddenColumns(), (QSet<qint64>{last}));
            menu->hide();
            return;
        }
        QCOMPARE(actions.size(), 1 + 3);
        auto* list = menu->findChild<QListView*>();
        QVERIFY(list);
        QVERIFY(!list->accessibleName().isEmpty());
        QCOMPARE(list->focusPolicy(), Qt::StrongFocus);
        QCOMPARE(list->model()->rowCount(), columns);
        const QModelIndex row = list->model()->index(last, 0);
        QCOMPARE(row.data().toString(), "c" + QString::number(last));
        list->scrollTo(row);
        QCOMPARE(row.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        const QRect rect = list->visualRect(row);
        QVERIFY(list->viewport()->rect().contains(rect.center()));

        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center()); // the name
        QTRY_COMPARE(view.columnsMetric()->text(), shownOfAll(columns - 1));
        QCOMPARE(model.hiddenColumns(), (QSet<qint64>{last}));
        QCOMPARE(row.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QVERIFY(menu->isVisible());

        const int box = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1
            + list->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, list) / 2;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(rect.left() + box, rect.center().y()));
        QVERIFY(settled());
        QTRY_COMPARE(view.columnsMetric()->text(), shownOfAll(columns));
        QCOMPARE(row.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

        // From the keyboard: the menu's first entry is the list, and Space toggles its current row.
        QTest::keyClick(menu, Qt::Key_Down);
        QTRY_VERIFY(list->hasFocus());
        QTest::keyClick(list, Qt::Key_Home);
        QCOMPARE(list->currentIndex().row(), 0);
        QTest::keyClick(list, Qt::Key_Space);
        QTRY_COMPARE(model.hiddenColumns(), (QSet<qint64>{0}));
        QCOMPARE(view.columnsMetric()->text(), shownOfAll(columns - 1));
        actions[2]->trigger(); // Show All
        QTRY_COMPARE(list->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QVERIFY(model.hiddenColumns().isEmpty());
        QVERIFY(menu->grab().save(shotPath(QStringLiteral("csv-tool-columns-list.png"))));
        menu->hide();
    }

    void anEmptyFileShowsTheErrorCard()
    {
        QTemporaryDir dir;
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(shown(view, {900, 500}));
        const QUrl url = writeFile(dir, QStringLiteral("blank.csv"), "\n\n");
        model.open(url);
        QTRY_COMPARE(badgeText(view.pane()), QStringLiteral("ERROR"));
        QVERIFY(view.errorCard()->isVisible());
        QCOMPARE(view.errorText(), QStringLiteral("No rows found."));
        QVERIFY(view.table()->showsEmptyState());
        QCOMPARE(view.rowsMetric()->text(), QStringLiteral("0 of 0 rows"));
        QCOMPARE(view.columnsMetric()->text(), QStringLiteral("0 of 0 cols"));
        QCOMPARE(view.title(), QStringLiteral("blank.csv"));
        emit view.columnsMenu()->aboutToShow();
        QVERIFY(!view.columnsMenu()->actions().last()->isEnabled());
        QVERIFY(view.grab().save(shotPath(QStringLiteral("csv-tool-no-rows.png"))));
    }

    void delimiterAndHeaderReparse()
    {
        CSVToolViewModel model;
        CSVToolView view(&model);
        emit view.delimiterPicker()->activated(QString::number(int(CSVToolViewModel::DelimiterChoice::semicolon)));
        QTRY_COMPARE(badgeText(view.pane()), QStringLiteral("SEMICOLON"));
        QCOMPARE(model.columnCount(), std::optional<qsizetype>(1));
        view.headerToggle()->click();
        QTRY_COMPARE(model.rowCount(), std::optional<qsizetype>(6));
        QVERIFY(!model.treatFirstRowAsHeader());
    }

    void selectionReachesTheModelAndCopies()
    {
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(shown(view));
        CSVGridView* grid = view.table()->grid();
        grid->selectionModel()->select(QItemSelection(grid->model()->index(1, 0), grid->model()->index(2, 4)),
                                       QItemSelectionModel::ClearAndSelect);
        QTRY_COMPARE(model.selection(), (QSet<qint64>{1, 2}));
        QVERIFY(view.copyMenu()->actions()[3]->isEnabled());
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(),
                 QStringLiteral("Name\tStatus\tScore\tUpdated\nBob\tpending\t78\t2024-02-29\nCleo\tinactive\t85\t2024-01-08"));
        // New rows keep the selected ones selected.
        model.setSearchQuery(QStringLiteral("e"));
        model.setSearchQuery(QStringLiteral("o"));
        QTRY_COMPARE(view.table()->tableModel()->rowCount(), 2); // Bob, Cleo
        QCOMPARE(grid->selectionModel()->selectedRows().size(), 2);
        model.setSearchQuery(QString());
        QTRY_COMPARE(view.table()->tableModel()->rowCount(), 5);
        // The model's selection pushed into the grid is not echoed back.
        model.setSelection({4});
        QCOMPARE(grid->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(grid->selectionModel()->selectedRows().first().row(), 4);
        // An echo would arrive on a later turn of the loop, before this deferred action.
        model.setColumn(0, true);
        bool deferredRan = false;
        QTimer::singleShot(0, &model, [&deferredRan] { deferredRan = true; });
        QTRY_VERIFY(deferredRan);
        QCOMPARE(model.selection(), (QSet<qint64>{4}));
    }

    void cellsAndNamesArePlainText()
    {
        QTemporaryDir dir;
        CSVToolViewModel model;
        CSVToolView view(&model);
        model.open(writeFile(dir, QStringLiteral("html.csv"), "<b>name</b>,x\n<img src=x>,<i>y</i>\n"));
        QTRY_COMPARE(model.rowCount(), std::optional<qsizetype>(1));
        CSVTableModel* m = view.table()->tableModel();
        QTRY_COMPARE(m->rowCount(), 1);
        QCOMPARE(cellText(view, 0, 1), QStringLiteral("<img src=x>"));
        QCOMPARE(headerText(view, 1), QStringLiteral("<b>name</b>"));
        CSVFiltersPopover* popover = view.showFiltersPopover();
        for (QLabel* label : popover->findChildren<QLabel*>())
            QCOMPARE(label->textFormat(), Qt::PlainText);
        popover->hide();
        QCOMPARE(view.title(), QStringLiteral("html.csv"));
    }

    void dropsOpenTheFirstFile()
    {
        QTemporaryDir dir;
        CSVToolViewModel model;
        CSVToolView view(&model);
        const QUrl first = writeFile(dir, QStringLiteral("a.tsv"), "p\tq\n1\t2\n");
        const QUrl second = writeFile(dir, QStringLiteral("b.csv"), "x\n");
        auto* data = new QMimeData;
        data->setUrls({first, second});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &enter);
        QVERIFY(view.isDropTargeted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &drop);
        QVERIFY(!view.isDropTargeted());
        QTRY_COMPARE(model.fileUrl(), first);
        QCOMPARE(badgeText(view.pane()), QStringLiteral("TAB"));
        delete data;
    }

    void columnWidthsAndOrderSurviveNewRows()
    {
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(shown(view));
        CSVGridView* grid = view.table()->grid();
        grid->horizontalHeader()->resizeSection(2, 217);
        grid->horizontalHeader()->moveSection(1, 3);
        model.setSearchQuery(QStringLiteral("ic"));
        QTRY_COMPARE(view.table()->tableModel()->rowCount(), 1);
        QCOMPARE(grid->horizontalHeader()->sectionSize(2), 217);
        QCOMPARE(grid->horizontalHeader()->visualIndex(1), 3);
        grid->horizontalHeader()->resizeSection(2, 20);
        QTRY_COMPARE(grid->horizontalHeader()->sectionSize(2), 60);
        grid->horizontalHeader()->resizeSection(0, 200);
        QTRY_COMPARE(grid->horizontalHeader()->sectionSize(0), 88);
        grid->horizontalHeader()->resizeSection(2, 217);
        // Hiding a column builds the columns again with fresh widths.
        model.setHiddenColumns({3});
        QTRY_COMPARE(view.table()->tableModel()->columnCount(), 4);
        QVERIFY(grid->horizontalHeader()->sectionSize(2) != 217);
    }

    void searchFieldBindsTheQuery()
    {
        CSVToolViewModel model;
        CSVToolView view(&model);
        QTest::keyClicks(view.searchItem()->field(), QStringLiteral("ee"));
        QCOMPARE(model.searchQuery(), QStringLiteral("ee"));
        QTRY_COMPARE(view.rowsMetric()->text(), QStringLiteral("1 of 5 rows"));
        QVERIFY(view.resetButton()->isEnabled());
        model.resetRefinements();
        QTRY_COMPARE(view.searchItem()->text(), QString());
    }

    void tenThousandColumns()
    {
        QTemporaryDir dir;
        QByteArray text;
        for (int r = 0; r < 60; ++r) {
            for (int c = 0; c < 10000; ++c)
                text += (c ? "," : "") + QByteArray::number(r * c);
            text += '\n';
        }
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(showAndOpen(view, writeFile(dir, QStringLiteral("wide.csv"), text)));
        QTRY_COMPARE(view.table()->tableModel()->columnCount(), 10001);
        QCOMPARE(view.columnsMetric()->text(), QStringLiteral("10,000 of 10,000 cols"));
        CSVFiltersPopover* popover = view.showFiltersPopover();
        QVERIFY(popover->field(150)); // rows are made as the list scrolls
        popover->hide();
    }

    void aHundredThousandColumnsAreMeasuredAsTheyComeIntoView()
    {
        QTemporaryDir dir;
        const int columns = 100000;
        QByteArray text;
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < columns; ++c) {
                if (c)
                    text += ',';
                text += r == 0 ? "c" + QByteArray::number(c) : QByteArray(1 + (c * 7 + r) % 40, 'w');
            }
            text += '\n';
        }
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(showAndOpen(view, writeFile(dir, QStringLiteral("wide.csv"), text)));
        QTRY_COMPARE_WITH_TIMEOUT(view.table()->tableModel()->columnCount(), columns + 1, 60000);
        CSVTableView* table = view.table();
        QHeaderView* header = table->grid()->header();
        auto checkColumnsInView = [&] {
            const int first = std::max(1, header->visualIndexAt(0));
            int last = header->visualIndexAt(table->grid()->viewport()->width() - 1);
            if (last < 0)
                last = header->count() - 1;
            QVERIFY(last > first);
            for (int visual = first; visual <= last; ++visual) {
                const int logical = header->logicalIndex(visual);
                QVERIFY2(table->isColumnMeasured(logical), qPrintable(QString::number(logical)));
                QCOMPARE(header->sectionSize(logical), table->columnWidth(logical));
            }
        };
        checkColumnsInView();
        QVERIFY(!table->isColumnMeasured(columns / 2));
        QCOMPARE(header->sectionSize(columns / 2), CSVTableView::defaultColumnWidth);
        table->grid()->horizontalScrollBar()->setValue(table->grid()->horizontalScrollBar()->maximum() / 2);
        checkColumnsInView();
        // Measured columns change the width to scroll, which the scroll bar learns a moment later.
        QScrollBar* bar = table->grid()->horizontalScrollBar();
        QTRY_VERIFY_WITH_TIMEOUT((bar->setValue(bar->maximum()), table->isColumnMeasured(columns)), 30000);
        checkColumnsInView();
        // A column dragged into view is measured too.
        header->moveSection(header->visualIndex(columns / 3), header->visualIndexAt(10));
        QVERIFY(table->isColumnMeasured(columns / 3));
        checkColumnsInView();
        QVERIFY(view.grab().save(shotPath(QStringLiteral("csv-tool-wide.png"))));
    }

    void largeCopiesShowProgressAndCanBeCancelled()
    {
        QTemporaryDir dir;
        QByteArray text = "a,b,c\n";
        for (int r = 0; r < 300000; ++r)
            text += QByteArray::number(r) + ",bee,\"c|d\"\n";
        CSVToolViewModel model;
        CSVToolView view(&model);
        QVERIFY(showAndOpen(view, writeFile(dir, QStringLiteral("long.csv"), text)));
        QTRY_COMPARE_WITH_TIMEOUT(view.table()->tableModel()->rowCount(), 300000, 60000);
        CSVCopyProgress* progress = view.copyProgress();
        QVERIFY(!progress->isVisibleTo(&view));
        progress->setDelay(0);
        CSVGridView* grid = view.table()->grid();
        // The program's Edit menu holds both keys as window shortcuts; on the grid they are its own.
        int menuShortcuts = 0;
        for (const QKeySequence::StandardKey key : {QKeySequence::Copy, QKeySequence::SelectAll}) {
            auto* action = new QAction(&view);
            action->setShortcut(key);
            connect(action, &QAction::triggered, &view, [&menuShortcuts] { ++menuShortcuts; });
            view.addAction(action);
        }
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(grid->selectionModel()->selectedRows().size(), 300000);
        QApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
        QVERIFY(model.isCopying());
        QVERIFY(progress->isVisibleTo(&view));
        QVERIFY(progress->label()->text().endsWith(QStringLiteral(" of 300,000 rows\u2026")));
        QVERIFY(view.grab().save(shotPath(QStringLiteral("csv-tool-copying.png"))));
        progress->cancelButton()->click();
        QVERIFY(!model.isCopying());
        QVERIFY(!progress->isVisibleTo(&view));
        QTRY_COMPARE_WITH_TIMEOUT(WorkPool::instance()->activeThreadCount(), 0, 60000);
        QCoreApplication::processEvents();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));
        // The whole selection reaches the view model, from the background.
        QTRY_COMPARE_WITH_TIMEOUT(model.selection().size(), 300000, 60000);
        // Run to the end: the strip goes and the text lands.
        QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
        QVERIFY(progress->isVisibleTo(&view));
        QTRY_VERIFY_WITH_TIMEOUT(!model.isCopying(), 60000);
        QVERIFY(!progress->isVisibleTo(&view));
        QCOMPARE(model.copyRowsDone(), 300000);
        const QString copied = QApplication::clipboard()->text();
        QVERIFY(copied.startsWith(QStringLiteral("a\tb\tc\n0\tbee\tc|d\n1\tbee")));
        QVERIFY(copied.endsWith(QStringLiteral("\n299999\tbee\tc|d")));
        QCOMPARE(copied.count(u'\n'), 300000);
        // A short copy shows nothing.
        progress->setDelay(1000);
        grid->selectionModel()->select(QItemSelection(grid->model()->index(0, 0), grid->model()->index(1, 3)),
                                       QItemSelectionModel::ClearAndSelect);
        QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
        QVERIFY(!model.isCopying());
        QVERIFY(!progress->isVisibleTo(&view));
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("a\tb\tc\n0\tbee\tc|d\n1\tbee\tc|d"));
        QCOMPARE(menuShortcuts, 0);
    }

    void selectionsMadeWhileRowsArriveCoverTheLaterRows_data()
    {
        QTest::addColumn<bool>("inGrid");
        QTest::newRow("select-all in the grid") << true;
        QTest::newRow("the view model's selection") << false;
    }

    void selectionsMadeWhileRowsArriveCoverTheLaterRows()
    {
        QFETCH(bool, inGrid);
        const int rows = CSVTableModel::rowsPerTurn * 2 + 10;
        QTemporaryDir dir;
        QByteArray text = "n\n";
        for (int r = 0; r < rows; ++r)
            text += QByteArray::number(r) + '\n';
        CSVToolViewModel model;
        CSVToolView view(&model);
        CSVTableModel* table = view.table()->tableModel();
        CSVGridView* grid = view.table()->grid();
        int earlySelections = 0;
        // Selected on the turn after the first rows reach the grid, before the last ones do.
        connect(table, &QAbstractItemModel::modelReset, &view, [&] {
            QTimer::singleShot(0, &view, [&] {
                if (table->rowCount() == 0 || table->rowCount() == rows)
                    return;
                ++earlySelections;
                if (inGrid) {
                    grid->selectAll();
                } else {
                    QSet<qint64> all;
                    for (const qint32 id : table->rows())
                        all.insert(id);
                    model.setSelection(all);
                }
            });
        });
        const auto gridRows = [grid] {
            qsizetype count = 0;
            for (const QItemSelectionRange& range : grid->selectionModel()->selection())
                count += range.height();
            return count;
        };
        QVERIFY(showAndOpen(view, writeFile(dir, QStringLiteral("rows.csv"), text)));
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), rows, 60000);
        QCOMPARE(earlySelections, 1);
        QTRY_COMPARE_WITH_TIMEOUT(gridRows(), rows, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(model.selection().size(), rows, 60000);
    }

    void aByteOrderMarkInACellIsShown()
    {
        QTemporaryDir dir;
        CSVToolViewModel model;
        CSVToolView view(&model);
        model.open(writeFile(dir, QStringLiteral("bom.csv"), "k,\xEF\xBB\xBFv\n\xEF\xBB\xBFx,y\n"));
        QTRY_COMPARE(view.table()->tableModel()->rowCount(), 1);
        QCOMPARE(cellText(view, 0, 1), QString(QChar(0xFEFF)) + u'x');
        QCOMPARE(headerText(view, 2), QString(QChar(0xFEFF)) + u'v');
    }

    void sortOrderAfterClicks_data()
    {
        using D = QList<CSVSortDescriptor>;
        QTest::addColumn<D>("before");
        QTest::addColumn<int>("clicked");
        QTest::addColumn<D>("after");
        QTest::newRow("a first click sorts ascending") << D{} << 3 << D{{3, true}};
        QTest::newRow("a second click turns the key around") << D{{3, true}} << 3 << D{{3, false}};
        QTest::newRow("a secondary key clicked becomes primary, ascending")
            << D{{1, false}, {3, true}} << 3 << D{{3, true}, {1, false}};
    }
    void sortOrderAfterClicks()
    {
        QFETCH(QList<CSVSortDescriptor>, before);
        QFETCH(int, clicked);
        QFETCH(QList<CSVSortDescriptor>, after);
        QCOMPARE(CSVTableView::sortOrderAfterClick(before, clicked), after);
    }
};

QUORRIX_TEST_MAIN(CSVToolViewTest)
#include "CSVToolViewTest.moc"
