#pragma once

#include "kit/ui/ToolView.h"

#include <QPointer>

class CSVColumnListModel;
class CSVCopyProgress;
class CSVErrorCard;
class CSVFiltersPopover;
class CSVTableView;
class CSVToolViewModel;
class Metric;
class QLabel;
class QMenu;
class QToolButton;
class ToolPane;
class ToolbarSearchItem;
class ToolbarSegmentedPicker;

// The CSV tool's face: Open, the Copy menu and the search in the toolbar; the "Table" pane with
// its header toggle, delimiter picker, Filters, Columns and Reset; the table or its empty state
// with the error card over it; and the row and column counts. Files may be dropped on it.
class CSVToolView : public ToolView {
    Q_OBJECT
public:
    explicit CSVToolView(CSVToolViewModel* model, QWidget* parent = nullptr);
    ~CSVToolView() override;

    void openFile() override;
    QString title() const override;
    QString subtitle() const override { return QStringLiteral("CSV"); }

    // For tests and screenshots.
    CSVToolViewModel* model() const { return m_model; }
    ToolPane* pane() const { return m_pane; }
    CSVTableView* table() const { return m_table; }
    CSVCopyProgress* copyProgress() const { return m_copyProgress; }
    QMenu* copyMenu() const { return m_copyMenu; }
    QMenu* columnsMenu() const { return m_columnsMenu; }
    // Up to this many columns the Columns menu holds an item per column; past it, one list of
    // them: a menu lays out every item as it opens, which takes seconds at 50,000.
    static constexpr qsizetype columnsAsMenuItems = 40;
    CSVColumnListModel* columnList() const { return m_columnList; }
    QToolButton* filtersButton() const { return m_filtersButton; }
    QLabel* filterCount() const { return m_filterCount; }
    QToolButton* resetButton() const { return m_resetButton; }
    QToolButton* headerToggle() const { return m_headerToggle; }
    ToolbarSegmentedPicker* delimiterPicker() const { return m_delimiterPicker; }
    ToolbarSearchItem* searchItem() const { return m_search; }
    QWidget* errorCard() const;
    QString errorText() const;
    Metric* rowsMetric() const { return m_rowsMetric; }
    Metric* columnsMetric() const { return m_columnsMetric; }
    CSVFiltersPopover* showFiltersPopover();

private:
    QWidget* buildToolbar();
    void buildPane();
    void refreshBadge();
    void refreshMetrics();
    void refreshControls();
    void refreshFilterButton();
    void rebuildColumnsMenu();

    CSVToolViewModel* m_model;
    ToolPane* m_pane = nullptr;
    CSVTableView* m_table = nullptr;
    QWidget* m_tableArea = nullptr;
    CSVErrorCard* m_errorCard = nullptr;
    CSVCopyProgress* m_copyProgress = nullptr;
    QMenu* m_copyMenu = nullptr;
    QAction* m_copySelectionJSON = nullptr;
    QAction* m_copySelectionMarkdown = nullptr;
    QMenu* m_columnsMenu = nullptr;
    CSVColumnListModel* m_columnList = nullptr;
    QToolButton* m_filtersButton = nullptr;
    QLabel* m_filterCount = nullptr;
    QToolButton* m_resetButton = nullptr;
    QToolButton* m_headerToggle = nullptr;
    ToolbarSegmentedPicker* m_delimiterPicker = nullptr;
    ToolbarSearchItem* m_search = nullptr;
    Metric* m_rowsMetric = nullptr;
    Metric* m_columnsMetric = nullptr;
    QPointer<CSVFiltersPopover> m_popover;
};
