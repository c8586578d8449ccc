#pragma once

#include "tools/csv/CSVParser.h"

#include <QFrame>
#include <QList>

class CSVToolViewModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

// The "Filters" popover: "Column Filters" with "Clear All", then one row per column of the
// document (hidden and numeric columns too) with its name and a "Contains…" field. It edits
// the view model's column filters directly, keystroke by keystroke, and holds nothing itself.
class CSVFiltersPopover : public QFrame {
    Q_OBJECT
public:
    explicit CSVFiltersPopover(CSVToolViewModel* model, QWidget* parent = nullptr);

    QPushButton* clearAllButton() const { return m_clearAll; }
    QLabel* emptyLabel() const { return m_emptyLabel; }
    // The field of the column with this id, if the popover has a row for it.
    QLineEdit* field(qint64 columnID);
    bool isFilterIconFilled(qint64 columnID);

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct RowWidgets {
        qint64 columnID;
        QLabel* icon;
        QLineEdit* field;
        bool filled = false;
    };
    static constexpr qsizetype rowBatch = 100;
    void rebuildRows();
    void buildMoreRows(qsizetype count);
    void refreshFilters();

    CSVToolViewModel* m_model;
    QPushButton* m_clearAll;
    QLabel* m_emptyLabel;
    QScrollArea* m_scroll;
    QWidget* m_rowsHost = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    QList<CSVParser::Column> m_columns;
    QList<RowWidgets> m_rows;
    // A new document's rows are built when the popover is next shown, not while it is closed.
    bool m_rowsStale = false;
};
