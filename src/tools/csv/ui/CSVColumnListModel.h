#pragma once

#include "tools/csv/CSVParser.h"

#include <QAbstractListModel>
#include <QList>

class CSVToolViewModel;

// The Columns menu's toggles of a wide document, as one list: a checkable row per column of the
// document, in its order, checked while the column is shown. A list view draws only the rows on
// screen, where a menu lays out every item it holds: a hundred thousand columns cost what ten do.
class CSVColumnListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit CSVColumnListModel(CSVToolViewModel* model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // The check state shows or hides the row's column (on a later turn, as the menu's items do).
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Hides the row's column when it is shown, shows it when hidden.
    void toggle(const QModelIndex& index);

private:
    CSVToolViewModel* m_model;
    QList<CSVParser::Column> m_columns;
};
