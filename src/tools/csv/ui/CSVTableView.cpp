#include "tools/csv/ui/CSVTableView.h"

#include "kit/ui/ContentUnavailableView.h"
#include "tools/csv/CSVToolViewModel.h"
#include "tools/csv/ui/CSVGridView.h"
#include "tools/csv/ui/CSVHeaderView.h"
#include "tools/csv/ui/CSVTableModel.h"

#include <QFontMetrics>
#include <QItemSelectionModel>
#include <QPointer>
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
    connect(m_tableModel, &QAbstractItemModel::modelReset, this, [this] {
        // A reset empties the grid's selection: the view model's is shown again. (The selection
        // model is the same object after a reset; its connection stays.)
        m_sentSelection.clear();
        pushSelection();
    });

    syncColumns();
    syncSortMarks();
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
    // At most 200 rows, and fewer for very wide documents, so that thousands of columns are
    // measured in a moment, not in seconds.
    const qsizetype perColumnBudget = std::max<qsizetype>(5, 40000 / std::max<qsizetype>(1, document.columnCount()));
    const qsizetype sample = std::min({qsizetype(200), perColumnBudget, document.rowCount()});
    for (qsizetype r = 0; r < sample && best < 320; ++r) {
        QByteArrayView cell = document.cellUtf8(r, id);
        // Past 320 px nothing more is learnt: measure a bounded prefix.
        QString text = QString::fromUtf8(cell.first(std::min<qsizetype>(cell.size(), 400)));
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
    QHeaderView* header = m_grid->header();
    header->resizeSection(CSVTableModel::rowNumberColumn, 44);
    for (int c = 1; c < m_tableModel->columnCount(); ++c)
        header->resizeSection(c, columnWidth(c));
    syncSortMarks();
    updateEmptyState();
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
        const std::vector<qint32>& rows = m_tableModel->rows();
        const int lastColumn = m_tableModel->columnCount() - 1;
        int start = -1;
        for (int r = 0; r <= int(rows.size()); ++r) {
            const bool in = r < int(rows.size()) && wanted.contains(rows[size_t(r)]);
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

void CSVTableView::selectionMadeInGrid()
{
    if (m_syncingFromModel)
        return;
    QSet<qint64> ids;
    const QItemSelection ranges = m_grid->selectionModel()->selection();
    for (const QItemSelectionRange& range : ranges) {
        for (int r = range.top(); r <= range.bottom(); ++r) {
            if (r >= 0 && r < int(m_tableModel->rows().size()))
                ids.insert(m_tableModel->rowID(r));
        }
    }
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
    QList<qsizetype> positions;
    const QItemSelection ranges = m_grid->selectionModel()->selection();
    for (const QItemSelectionRange& range : ranges) {
        for (int r = range.top(); r <= range.bottom(); ++r)
            positions.append(r);
    }
    m_model->copyShownRowsAsTSV(positions);
}
