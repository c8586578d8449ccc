#pragma once

#include "kit/QuietTask.h"
#include "tools/csv/CSVRefinement.h"

#include <QSet>
#include <QWidget>

#include <vector>

class CSVGridView;
class CSVTableModel;
class CSVToolViewModel;
class ContentUnavailableView;
class QStackedLayout;

// The table area: the grid over the view model's shown rows and visible columns, or "All
// columns are hidden" when no column is visible. Keeps grid and view model in step: the user's
// selection and header clicks reach the view model on a later turn of the event loop, and the
// view model's own changes pushed into the grid are not echoed back.
class CSVTableView : public QWidget {
    Q_OBJECT
public:
    explicit CSVTableView(CSVToolViewModel* model, QWidget* parent = nullptr);

    CSVGridView* grid() const { return m_grid; }
    CSVTableModel* tableModel() const { return m_tableModel; }
    ContentUnavailableView* emptyState() const { return m_empty; }
    bool showsEmptyState() const;

    // The initial width of a data column: its name and the first 200 rows' cells, 60 to 320 px.
    // A column gets it when it first comes into view; until then it is `defaultColumnWidth` wide.
    int columnWidth(int tableColumn) const;
    bool isColumnMeasured(int tableColumn) const;
    static constexpr int defaultColumnWidth = 120;
    // The sort order after a click on a column's header.
    static QList<CSVSortDescriptor> sortOrderAfterClick(const QList<CSVSortDescriptor>& order, qint64 columnID);

    void copySelectionAsTSV();
    // Selections of more rows reach the view model from a background task.
    static constexpr qsizetype immediateSelectionRows = 100000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void measureColumnsInView();
    void syncColumns();
    void syncRows();
    void syncSortMarks();
    void pushSelection();
    void rowsArrived(const QModelIndex& parent, int first, int last);
    void selectionMadeInGrid();
    void sendSelection(const QSet<qint64>& ids);
    void headerClicked(int section);
    void updateEmptyState();

    CSVToolViewModel* m_model;
    CSVTableModel* m_tableModel;
    CSVGridView* m_grid;
    ContentUnavailableView* m_empty;
    QStackedLayout* m_stack;
    bool m_syncingFromModel = false;
    bool m_widthsSet = false;
    bool m_measuring = false;
    QuietTask m_selectionTask{0, this};
    std::vector<bool> m_measured; // per table column
    // The last selection the grid handed to the view model: when it comes back unchanged (it
    // shares its data), the grid already shows it and nothing is measured.
    QSet<qint64> m_sentSelection;
};
