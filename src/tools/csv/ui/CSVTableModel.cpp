#include "tools/csv/ui/CSVTableModel.h"

#include "tools/csv/CSVToolViewModel.h"
#include "kit/ui/FontScale.h"

#include <QColor>
#include <QFont>
#include <QTimer>

#include <algorithm>

namespace {
// A cell is drawn on one truncated line; a multi-megabyte cell must not be laid out whole.
constexpr qsizetype shownCharacters = 2000;
constexpr qsizetype tooltipCharacters = 4000;

QString capped(QByteArrayView utf8, qsizetype limit)
{
    // Four bytes at most per character: cut the bytes first, on a character boundary.
    if (utf8.size() > limit * 4) {
        qsizetype end = limit * 4;
        while (end > 0 && (uchar(utf8[end]) & 0xC0) == 0x80)
            --end;
        utf8 = utf8.first(end);
    }
    QString text = CSVParser::textFromUtf8(utf8);
    if (text.size() > limit) {
        text.truncate(limit);
        text.append(QChar(0x2026));
    }
    return text;
}
} // namespace

CSVTableModel::CSVTableModel(CSVToolViewModel* model, QObject* parent) : QAbstractTableModel(parent), m_model(model)
{
    m_announce.setSingleShot(true);
    m_announce.setInterval(0);
    connect(&m_announce, &QTimer::timeout, this, &CSVTableModel::announceMoreRows);
    syncColumns();
    syncRows();
}

int CSVTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_announced;
}

int CSVTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size()) + 1;
}

qint64 CSVTableModel::columnID(int tableColumn) const
{
    if (tableColumn <= 0 || tableColumn > m_columns.size())
        return -1;
    return m_columns[tableColumn - 1].id;
}

int CSVTableModel::tableColumn(qint64 columnID) const
{
    for (qsizetype i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].id == columnID)
            return int(i) + 1;
    }
    return -1;
}

QVariant CSVTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_announced)
        return {};
    const int column = index.column();
    if (column == rowNumberColumn) {
        switch (role) {
        case Qt::DisplayRole:
            return QString::number(index.row() + 1);
        case Qt::TextAlignmentRole:
            return int(Qt::AlignRight | Qt::AlignVCenter);
        case Qt::BackgroundRole:
            return QColor(128, 128, 128, 28);
        case Qt::FontRole: {
            QFont font;
            font.setPixelSize(FontScale::pixels(12));
            font.setWeight(QFont::DemiBold);
            return font;
        }
        case ColumnIDRole:
            return -1;
        default:
            return {};
        }
    }
    if (column > m_columns.size())
        return {};
    const CSVParser::Column& c = m_columns[column - 1];
    switch (role) {
    case Qt::DisplayRole: {
        QString text = capped(m_document.cellUtf8((*m_rows)[size_t(index.row())], c.id), shownCharacters);
        text.replace(u'\n', u' ');
        return text;
    }
    case Qt::ToolTipRole: {
        const QByteArrayView cell = m_document.cellUtf8((*m_rows)[size_t(index.row())], c.id);
        return cell.isEmpty() ? QVariant() : QVariant(capped(cell, tooltipCharacters));
    }
    case Qt::EditRole:
        return m_document.cell((*m_rows)[size_t(index.row())], c.id);
    case Qt::TextAlignmentRole:
        return int((c.isNumeric ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    case ColumnIDRole:
        return c.id;
    case IsNumericRole:
        return c.isNumeric;
    default:
        return {};
    }
}

QVariant CSVTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section > m_columns.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    const bool rowNumbers = section == rowNumberColumn;
    switch (role) {
    case Qt::DisplayRole:
        return rowNumbers ? QString() : m_columns[section - 1].name;
    case Qt::AccessibleTextRole:
        // The row numbers' header shows nothing; a screen reader still names the column.
        return rowNumbers ? QStringLiteral("Row number") : m_columns[section - 1].name;
    case Qt::TextAlignmentRole:
        return int((!rowNumbers && m_columns[section - 1].isNumeric ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    case ColumnIDRole:
        return rowNumbers ? qint64(-1) : m_columns[section - 1].id;
    case IsNumericRole:
        return !rowNumbers && m_columns[section - 1].isNumeric;
    default:
        return {};
    }
}

bool CSVTableModel::syncColumns()
{
    const QList<CSVParser::Column> columns = m_model->visibleColumns();
    const CSVParser::Document document = m_model->document().value_or(CSVParser::Document());
    const QUuid id = m_model->document() ? document.id() : QUuid();
    if (columns == m_columns && id == m_columnsDocumentID)
        return false;
    beginResetModel();
    m_columns = columns;
    m_columnsDocumentID = id;
    m_document = document;
    resetRows(m_model->sharedShownRows());
    m_rowsDocumentID = id;
    endResetModel();
    return true;
}

void CSVTableModel::syncRows()
{
    const QUuid id = m_model->document() ? m_model->document()->id() : QUuid();
    const auto& shown = m_model->sharedShownRows();
    if (id == m_rowsDocumentID && (shown == m_rows || *shown == *m_rows))
        return;
    if (id != m_columnsDocumentID) {
        syncColumns();
        return;
    }
    beginResetModel();
    resetRows(m_model->sharedShownRows());
    m_rowsDocumentID = id;
    endResetModel();
}

void CSVTableModel::resetRows(const std::shared_ptr<const std::vector<qint32>>& rows)
{
    m_rows = rows;
    m_announced = int(std::min(m_rows->size(), size_t(rowsPerTurn)));
    m_announce.stop();
    announceLater();
}

void CSVTableModel::announceLater()
{
    if (size_t(m_announced) >= m_rows->size())
        return;
    m_announce.start();
}

void CSVTableModel::announceMoreRows()
{
    // A turn's cost is its rows plus every row's position worked out again, so turns grow with
    // the rows already shown, more slowly than that work.
    const size_t turn = std::max(size_t(rowsPerTurn), size_t(m_announced) / 32);
    const int next = int(std::min(m_rows->size(), size_t(m_announced) + turn));
    if (next <= m_announced)
        return;
    beginInsertRows({}, m_announced, next - 1);
    m_announced = next;
    endInsertRows();
    announceLater();
}
