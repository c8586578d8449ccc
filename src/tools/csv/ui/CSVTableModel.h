#pragma once

#include "tools/csv/CSVParser.h"

#include <QAbstractTableModel>
#include <QList>
#include <QTimer>
#include <QUuid>

#include <memory>
#include <vector>

class CSVToolViewModel;

// The table's rows and columns read straight from the document's compact store: a row-number
// column, then the visible columns; the shown rows in display order. Cells become strings only
// when the view asks for them, which is for the rows on screen. Millions of rows reach the grid
// over several turns of the event loop: the grid's row header allocates per row, and doing it
// for all of them in one turn stalls the GUI thread for half a second on fresh memory. The header
// also works out every row's position again at the next paint, so input gets a turn between two.
class CSVTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int rowNumberColumn = 0;
    // The column id behind a table column, -1 for the row-number column.
    static constexpr int ColumnIDRole = Qt::UserRole + 1;
    static constexpr int IsNumericRole = Qt::UserRole + 2;
    // Rows announced to the grid per turn of the event loop.
    static constexpr int rowsPerTurn = 1 << 18;

    explicit CSVTableModel(CSVToolViewModel* model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const QList<CSVParser::Column>& columns() const { return m_columns; }
    // Every shown row, including those not announced to the grid yet (rowCount() is how many are).
    const std::vector<qint32>& rows() const { return *m_rows; }
    const std::shared_ptr<const std::vector<qint32>>& sharedRows() const { return m_rows; }
    qint64 columnID(int tableColumn) const;
    int tableColumn(qint64 columnID) const;
    // Row ids at table positions, and back.
    qint32 rowID(int position) const { return (*m_rows)[size_t(position)]; }

    // Brings columns and rows in line with the view model; resets only what changed. True when
    // the columns were built again.
    bool syncColumns();
    void syncRows();

private:
    void resetRows(const std::shared_ptr<const std::vector<qint32>>& rows);
    void announceLater();
    void announceMoreRows();

    CSVToolViewModel* m_model;
    CSVParser::Document m_document;
    QList<CSVParser::Column> m_columns;
    QUuid m_columnsDocumentID;
    std::shared_ptr<const std::vector<qint32>> m_rows = std::make_shared<const std::vector<qint32>>();
    QUuid m_rowsDocumentID;
    int m_announced = 0;
    // A timer of the event loop, not a queued call: queued calls run back to back within one
    // turn, and input waits behind all of them.
    QTimer m_announce;
};
