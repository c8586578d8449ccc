#include "tools/csv/ui/CSVTableView.h"

#include "kit/ui/ContentUnavailableView.h"
#include "tools/csv/CSVToolViewModel.h"
#include "tools/csv/ui/CSVGridView.h"
#include "tools/csv/ui/CSVHeaderView.h"
#include "tools/csv/ui/CSVTableModel.h"

#include <QFontMetrics>
#include <QItemSelectionModel>
#include <QPointer>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTimer>

#include <algorithm>

CSVTableView::CSVTableView(CSVToolViewModel* model, QWidget* parent)
    : QWidget(parent), m_model(model), m_tableModel(new CSVTableModel(model, this)), m_grid(new CSVGridView),
      m_empty(new ContentUnavailableView(QStringLiteral("All columns are hidden"), QStringLiteral("rectangle.split.3x1"),
                                         QStringLiteral("Use the Columns menu in the toolbar to show one.")))
{
    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->addWidget(m_grid);
    m_stack->addWidget(m_empty);
    m_grid->setModel(m_tableModel);
    m_grid->setAccessibleName(QStringLiteral("Table"));
    m_grid->setCopyAction([this] { copySelectionAsTSV(); });

    connect(m_model, &CSVToolViewModel::documentChanged, this, &CSVTableView::syncColumns);
    connect(m_model, &CSVToolViewModel::hiddenColumnsChanged, this, &CSVTableView::syncColumns);
    connect(m_model, &CSVToolViewModel::shownRowsChanged, this, &CSVTableView::syncRows);
    connect(m_model, &CSVToolViewModel::sortOrderChanged, this, &CSVTableView::syncSortMarks);
    connect(m_model, &CSVToolViewModel::selectionChanged, this, &CSVTableView::pushSelection);
    connect(m_grid->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CSVTableView::selectionMadeInGrid);
    connect(m_grid->header(), &QHeaderView::sectionClicked, this, &CSVTableView::headerClicked);
    // Data columns keep at least 60 px; the row numbers stay between 34 and 88.
    connect(m_grid->header(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        const int wanted = section == CSVTableModel::rowNumberColumn ? std::clamp(size, 34, 88) : std::max(size, 60);
        if (wanted != size)
            QTimer::singleShot(0, this, [this, section, wanted] {
                if (section < m_tableModel->columnCount())
                    m_grid->header()->resizeSection(section, wanted);
            });
    });
    connect(m_grid->horizontalScrollBar(), &QScrollBar::valueChanged, this, &CSVTableView::measureColumnsInView);
    connect(m_grid->header(), &QHeaderView::sectionMoved, this, &CSVTableView::measureColumnsInView);
    m_grid->viewport()->installEventFilter(this);
    connect(m_tableModel, &QAbstractItemModel::modelReset, this, [this] {
        // A reset empties the grid's selection: the view model's is shown again. (The selection
        // model is the same object after a reset; its connection stays.)
        m_sentSelection.clear();
        pushSelection();
    });

    connect(m_tableModel, &QAbstractItemModel::rowsInserted, this, &CSVTableView::rowsArrived);

    syncColumns();
    syncSortMarks();
}

void CSVTableView::rowsArrived(const QModelIndex&, int first, int last)
{
    // A select-all made before every row had arrived takes in the new ones, as it would have.
    QItemSelectionModel* selection = m_grid->selectionModel();
    const QItemSelection ranges = selection->selection();
    const int lastColumn = m_tableModel->columnCount() - 1;
    if (first > 0 && ranges.size() == 1 && ranges[0].top() == 0 && ranges[0].bottom() == first - 1
        && ranges[0].left() == 0 && ranges[0].right() == lastColumn) {
        selection->select(QItemSelection(m_tableModel->index(0, 0), m_tableModel->index(last, lastColumn)),
                          QItemSelectionModel::ClearAndSelect);
        return;
    }
    // The view model's selection may hold some of them.
    if (!m_model->selection().isEmpty())
        pushSelection();
}

bool CSVTableView::showsEmptyState() const { return m_stack->currentWidget() == m_empty; }

void CSVTableView::updateEmptyState()
{
    m_stack->setCurrentWidget(m_model->visibleColumns().isEmpty() ? static_cast<QWidget*>(m_empty) : m_grid);
}

int CSVTableView::columnWidth(int tableColumn) const
{
    const qint64 id = m_tableModel->columnID(tableColumn);
    if (id < 0 || !m_model->document())
        return 60;
    const CSVParser::Document& document = *m_model->document();
    const CSVParser::Column& column = document.columns().at(id);
    QFont headerFont = m_grid->header()->font();
    QFont cellFont = m_grid->font();
    const QFontMetrics header(headerFont), cells(cellFont);
    // A few pixels of slack: the title is measured and drawn with rounding of their own.
    int best = header.horizontalAdvance(column.name) + 20;
    const qsizetype sample = std::min(qsizetype(200), document.rowCount());
    for (qsizetype r = 0; r < sample && best < 320; ++r) {
        QByteArrayView cell = document.cellUtf8(r, id);
        // Past 320 px nothing more is learnt: measure a bounded prefix.
        QString text = CSVParser::textFromUtf8(cell.first(std::min<qsizetype>(cell.size(), 400)));
        text.replace(u'\n', u' ');
        best = std::max(best, cells.horizontalAdvance(text) + 2);
    }
    return std::clamp(best + 16, 60, 320);
}

void CSVTableView::syncColumns()
{
    if (!m_tableModel->syncColumns() && m_widthsSet) {
        updateEmptyState();
        return;
    }
    m_widthsSet = true;
    // Columns start at a default width and are measured as they come into view: each resize
    // of a header section costs time in proportion to the number of sections, so measuring
    // every column of a wide file would take seconds.
    QHeaderView* header = m_grid->header();
    header->setDefaultSectionSize(defaultColumnWidth);
    header->resizeSection(CSVTableModel::rowNumberColumn, 44);
    m_measured.assign(size_t(m_tableModel->columnCount()), false);
    m_measured[CSVTableModel::rowNumberColumn] = true;
    syncSortMarks();
    updateEmptyState();
    measureColumnsInView();
}

bool CSVTableView::isColumnMeasured(int tableColumn) const
{
    return tableColumn >= 0 && size_t(tableColumn) < m_measured.size() && m_measured[size_t(tableColumn)];
}

void CSVTableView::measureColumnsInView()
{
    if (m_measuring)
        return;
    m_measuring = true;
    QHeaderView* header = m_grid->header();
    const int count = header->count();
    // A measured column may widen or narrow and bring others into view: go on until none is new.
    for (bool changed = true; changed;) {
        changed = false;
        int first = header->visualIndexAt(0);
        int last = header->visualIndexAt(std::max(0, m_grid->viewport()->width() - 1));
        if (first < 0)
            first = 0;
        if (last < 0)
            last = count - 1;
        for (int visual = first; visual <= last && visual < count; ++visual) {
            const int logical = header->logicalIndex(visual);
            if (logical < 0 || size_t(logical) >= m_measured.size() || m_measured[size_t(logical)])
                continue;
            m_measured[size_t(logical)] = true;
            const int width = columnWidth(logical);
            if (width != header->sectionSize(logical)) {
                header->resizeSection(logical, width);
                changed = true;
            }
        }
    }
    m_measuring = false;
}

bool CSVTableView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_grid->viewport() && event->type() == QEvent::Resize)
        measureColumnsInView();
    return QWidget::eventFilter(watched, event);
}

void CSVTableView::syncRows()
{
    m_tableModel->syncRows();
    updateEmptyState();
}

void CSVTableView::syncSortMarks()
{
    QList<CSVHeaderView::SortMark> marks;
    for (const CSVSortDescriptor& d : m_model->sortOrder()) {
        const int section = m_tableModel->tableColumn(d.columnID);
        if (section > 0)
            marks.append({section, d.ascending});
    }
    m_grid->header()->setSortMarks(marks);
}

QList<CSVSortDescriptor> CSVTableView::sortOrderAfterClick(const QList<CSVSortDescriptor>& order, qint64 columnID)
{
    // The clicked column becomes the primary key, ascending at first; a click on the primary
    // key reverses it; the other keys follow as before.
    QList<CSVSortDescriptor> next;
    bool ascending = true;
    if (!order.isEmpty() && order.first().columnID == columnID)
        ascending = !order.first().ascending;
    next.append({columnID, ascending});
    for (const CSVSortDescriptor& d : order) {
        if (d.columnID != columnID)
            next.append(d);
    }
    return next;
}

void CSVTableView::headerClicked(int section)
{
    const qint64 id = m_tableModel->columnID(section);
    if (id < 0)
        return;
    const QList<CSVSortDescriptor> order = sortOrderAfterClick(m_model->sortOrder(), id);
    QPointer<CSVToolViewModel> model(m_model);
    QTimer::singleShot(0, this, [model, order] {
        if (model)
            model->setSortOrder(order);
    });
}

void CSVTableView::pushSelection()
{
    QItemSelectionModel* selection = m_grid->selectionModel();
    if (!selection)
        return;
    const QSet<qint64>& wanted = m_model->selection();
    if (!wanted.isEmpty() && wanted == m_sentSelection)
        return;
    // Already what the grid shows: nothing to do (the common case after a click).
    QSet<qint64> current;
    const QItemSelection ranges = selection->selection();
    for (const QItemSelectionRange& range : ranges) {
        for (int r = range.top(); r <= range.bottom(); ++r)
            current.insert(m_tableModel->rowID(r));
    }
    if (current == wanted)
        return;
    QItemSelection next;
    if (!wanted.isEmpty()) {
        // Rows still to be announced to the grid are selected when they arrive.
        const std::vector<qint32>& rows = m_tableModel->rows();
        const int count = m_tableModel->rowCount();
        const int lastColumn = m_tableModel->columnCount() - 1;
        int start = -1;
        for (int r = 0; r <= count; ++r) {
            const bool in = r < count && wanted.contains(rows[size_t(r)]);
            if (in && start < 0)
                start = r;
            if (!in && start >= 0) {
                next.select(m_tableModel->index(start, 0), m_tableModel->index(r - 1, lastColumn));
                start = -1;
            }
        }
    }
    m_syncingFromModel = true;
    selection->select(next, QItemSelectionModel::ClearAndSelect);
    m_syncingFromModel = false;
}

namespace {
// The ids of the rows at the positions the ranges cover.
QSet<qint64> rowIDsIn(const QList<std::pair<int, int>>& ranges, const std::vector<qint32>& rows,
                      const std::atomic_bool* cancelled = nullptr)
{
    QSet<qint64> ids;
    for (const auto& [top, bottom] : ranges) {
        for (int r = std::max(top, 0); r <= bottom && r < int(rows.size()); ++r) {
            if ((r & 0xFFFF) == 0 && cancelled && cancelled->load(std::memory_order_relaxed))
                return {};
            ids.insert(rows[size_t(r)]);
        }
    }
    return ids;
}
} // namespace

void CSVTableView::selectionMadeInGrid()
{
    if (m_syncingFromModel)
        return;
    QList<std::pair<int, int>> ranges;
    qsizetype count = 0;
    const QItemSelection selection = m_grid->selectionModel()->selection();
    for (const QItemSelectionRange& range : selection) {
        ranges.append({range.top(), range.bottom()});
        count += range.bottom() - range.top() + 1;
    }
    if (count <= immediateSelectionRows) {
        m_selectionTask.cancel();
        sendSelection(rowIDsIn(ranges, m_tableModel->rows()));
        return;
    }
    // A select-all of millions of rows: their set of ids takes a second to make, so it is made
    // off the GUI thread. The grid shows the selection meanwhile, and copies read the grid's.
    m_selectionTask.runNow<QSet<qint64>>(
        [ranges, rows = m_tableModel->sharedRows()](const std::atomic_bool& cancelled) {
            return rowIDsIn(ranges, *rows, &cancelled);
        },
        [this](QSet<qint64> ids) { sendSelection(ids); });
}

void CSVTableView::sendSelection(const QSet<qint64>& ids)
{
    if (ids == m_model->selection())
        return;
    m_sentSelection = ids;
    QPointer<CSVToolViewModel> model(m_model);
    QTimer::singleShot(0, this, [model, ids] {
        if (model)
            model->setSelection(ids);
    });
}

void CSVTableView::copySelectionAsTSV()
{
    // Ranges, not positions: a select-all of millions of rows is one range.
    QList<CSVToolViewModel::PositionRange> positions;
    const QItemSelection ranges = m_grid->selectionModel()->selection();
    for (const QItemSelectionRange& range : ranges)
        positions.append({range.top(), range.bottom()});
    m_model->copyShownRowsAsTSV(positions);
}
