#pragma once

#include "tools/csv/CSVParser.h"

#include <QAbstractTableModel>
#include <QList>
#include <QUuid>

#include <memory>
#include <vector>

class CSVToolViewModel;

// The table's rows and columns read straight from the document's compact store: a row-number
// column, then the visible columns; the shown rows in display order. Cells become strings only
// when the view asks for them, which is for the rows on screen.
class CSVTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int rowNumberColumn = 0;
    // The column id behind a table column, -1 for the row-number column.
    static constexpr int ColumnIDRole = Qt::UserRole + 1;
    static constexpr int IsNumericRole = Qt::UserRole + 2;

    explicit CSVTableModel(CSVToolViewModel* model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const QList<CSVParser::Column>& columns() const { return m_columns; }
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
    CSVToolViewModel* m_model;
    CSVParser::Document m_document;
    QList<CSVParser::Column> m_columns;
    QUuid m_columnsDocumentID;
    std::shared_ptr<const std::vector<qint32>> m_rows = std::make_shared<const std::vector<qint32>>();
    QUuid m_rowsDocumentID;
};
