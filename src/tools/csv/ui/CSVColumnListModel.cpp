#include "tools/csv/ui/CSVColumnListModel.h"

#include "tools/csv/CSVToolViewModel.h"

CSVColumnListModel::CSVColumnListModel(CSVToolViewModel* model, QObject* parent)
    : QAbstractListModel(parent), m_model(model)
{
    const auto reset = [this] {
        beginResetModel();
        m_columns = m_model->document() ? m_model->document()->columns() : QList<CSVParser::Column>();
        endResetModel();
    };
    reset();
    connect(m_model, &CSVToolViewModel::documentChanged, this, reset);
    connect(m_model, &CSVToolViewModel::hiddenColumnsChanged, this, [this] {
        if (!m_columns.isEmpty())
            emit dataChanged(index(0), index(int(m_columns.size()) - 1), {Qt::CheckStateRole});
    });
}

int CSVColumnListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant CSVColumnListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_columns.size())
        return {};
    const CSVParser::Column& column = m_columns[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        // As the menu's items: a name of a whole paragraph would make the list that wide.
        return column.name.size() > 200 ? column.name.left(200) + QChar(0x2026) : column.name;
    case Qt::CheckStateRole:
        return int(m_model->hiddenColumns().contains(column.id) ? Qt::Unchecked : Qt::Checked);
    default:
        return {};
    }
}

Qt::ItemFlags CSVColumnListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

bool CSVColumnListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= m_columns.size())
        return false;
    m_model->setColumn(m_columns[index.row()].id, Qt::CheckState(value.toInt()) != Qt::Unchecked);
    return true;
}

void CSVColumnListModel::toggle(const QModelIndex& index)
{
    if (!index.isValid() || index.row() >= m_columns.size())
        return;
    // Read from the view model, which a click on the box has not changed yet: box and name
    // clicked in one go ask for the same state twice, not for a toggle back.
    const qint64 id = m_columns[index.row()].id;
    m_model->setColumn(id, m_model->hiddenColumns().contains(id));
}
