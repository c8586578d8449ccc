#include "tools/csv/CSVRowExporters.h"

#include <QHash>
#include <QLocale>

#include <cmath>

namespace {

// Reads cell (i, column id) of a row list or of a document's rows as UTF-8; the view is good
// until the next call.
struct RowListCells {
    const QList<CSVParser::Row>& rows;
    QByteArray buffer;
    qsizetype count() const { return rows.size(); }
    QByteArrayView operator()(qsizetype i, qint64 column)
    {
        const QStringList& cells = rows.at(i).cells;
        if (column < 0 || column >= cells.size())
            return {};
        buffer = cells.at(column).toUtf8();
        return buffer;
    }
};

struct DocumentCells {
    const CSVParser::Document& document;
    const std::vector<qint32>& ids;
    qsizetype count() const { return qsizetype(ids.size()); }
    QByteArrayView operator()(qsizetype i, qint64 column) const { return document.cellUtf8(ids[size_t(i)], column); }
};

// A finite number for a numeric column's cell; nothing for text, blanks, and the words nan and
// inf, whose values JSON cannot carry (they are written as their text instead).
std::optional<double> jsonNumber(const CSVParser::Column& column, QByteArrayView cell)
{
    if (!column.isNumeric)
        return std::nullopt;
    const std::optional<double> value = CSVParser::doubleFromString(CSVParser::trimmedBlanks(cell));
    if (!value || !std::isfinite(*value))
        return std::nullopt;
    return value;
}

void appendJSONString(QByteArray& out, QByteArrayView text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (const char ch : text) {
        const uchar c = uchar(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '/': out += "\\/"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += ch;
            }
        }
    }
    out += '"';
}

void appendJSONNumber(QByteArray& out, double value)
{
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        out += QByteArray::number(qint64(value));
        return;
    }
    out += QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

// Members in the order their names first occur; the last column of a name gives the value.
struct MemberPlan {
    QList<QByteArray> names;
    QList<qsizetype> source; // per member: index into columns of the column that gives the value
};

MemberPlan memberPlan(const QList<CSVParser::Column>& columns)
{
    MemberPlan plan;
    QHash<QString, qsizetype> index;
    for (qsizetype c = 0; c < columns.size(); ++c) {
        const auto it = index.constFind(columns[c].name);
        if (it != index.constEnd()) {
            plan.source[*it] = c;
            continue;
        }
        index.insert(columns[c].name, plan.names.size());
        plan.names.append(columns[c].name.toUtf8());
        plan.source.append(c);
    }
    return plan;
}

template <class Cells>
QString rowsAsJSON(Cells& cells, const QList<CSVParser::Column>& columns)
{
    if (cells.count() == 0)
        return QStringLiteral("[]");
    const MemberPlan plan = memberPlan(columns);
    QByteArray out;
    out += "[\n";
    for (qsizetype i = 0; i < cells.count(); ++i) {
        if (i)
            out += ",\n";
        if (plan.names.isEmpty()) {
            out += "  {}";
            continue;
        }
        out += "  {\n";
        for (qsizetype m = 0; m < plan.names.size(); ++m) {
            if (m)
                out += ",\n";
            const CSVParser::Column& column = columns[plan.source[m]];
            out += "    ";
            appendJSONString(out, plan.names[m]);
            out += " : ";
            const QByteArrayView cell = cells(i, column.id);
            if (const std::optional<double> number = jsonNumber(column, cell))
                appendJSONNumber(out, *number);
            else
                appendJSONString(out, cell);
        }
        out += "\n  }";
    }
    out += "\n]";
    return QString::fromUtf8(out);
}

void appendMarkdownCell(QByteArray& out, QByteArrayView text)
{
    for (const char c : text) {
        if (c == '|')
            out += "\\|";
        else if (c == '\n')
            out += ' ';
        else
            out += c;
    }
}

template <class Cells>
QString rowsAsMarkdown(Cells& cells, const QList<CSVParser::Column>& columns)
{
    if (columns.isEmpty())
        return QString();
    QByteArray out;
    out += "| ";
    for (qsizetype c = 0; c < columns.size(); ++c) {
        if (c)
            out += " | ";
        appendMarkdownCell(out, columns[c].name.toUtf8());
    }
    out += " |\n| ";
    for (qsizetype c = 0; c < columns.size(); ++c)
        out += c ? " | ---" : "---";
    out += " |\n";
    for (qsizetype i = 0; i < cells.count(); ++i) {
        out += "| ";
        for (qsizetype c = 0; c < columns.size(); ++c) {
            if (c)
                out += " | ";
            appendMarkdownCell(out, cells(i, columns[c].id));
        }
        out += " |\n";
    }
    return QString::fromUtf8(out);
}

void appendTSVValue(QByteArray& out, QByteArrayView text)
{
    for (const char c : text)
        out += (c == '\t' || c == '\n') ? ' ' : c;
}

template <class Cells>
QString rowsAsTSV(Cells& cells, const QList<CSVParser::Column>& columns)
{
    if (columns.isEmpty() || cells.count() == 0)
        return QString();
    QByteArray out;
    for (qsizetype c = 0; c < columns.size(); ++c) {
        if (c)
            out += '\t';
        appendTSVValue(out, columns[c].name.toUtf8());
    }
    for (qsizetype i = 0; i < cells.count(); ++i) {
        out += '\n';
        for (qsizetype c = 0; c < columns.size(); ++c) {
            if (c)
                out += '\t';
            appendTSVValue(out, cells(i, columns[c].id));
        }
    }
    return QString::fromUtf8(out);
}

} // namespace

QList<std::pair<QString, CSVJSONValue>> csvRowObject(const CSVParser::Row& row, const QList<CSVParser::Column>& columns)
{
    QList<std::pair<QString, CSVJSONValue>> object;
    QHash<QString, qsizetype> index;
    for (const CSVParser::Column& column : columns) {
        const QString cell = column.id >= 0 && column.id < row.cells.size() ? row.cells.at(column.id) : QString();
        CSVJSONValue value = cell;
        if (const std::optional<double> number = jsonNumber(column, cell.toUtf8()))
            value = *number;
        const auto it = index.constFind(column.name);
        if (it != index.constEnd()) {
            object[*it].second = value;
        } else {
            index.insert(column.name, object.size());
            object.append({column.name, value});
        }
    }
    return object;
}

QString csvRowsAsJSON(const QList<CSVParser::Row>& rows, const QList<CSVParser::Column>& columns)
{
    RowListCells cells{rows, {}};
    return rowsAsJSON(cells, columns);
}

QString csvRowsAsJSON(const CSVParser::Document& document, const std::vector<qint32>& rowIds,
                      const QList<CSVParser::Column>& columns)
{
    DocumentCells cells{document, rowIds};
    return rowsAsJSON(cells, columns);
}

QString csvRowsAsMarkdownTable(const QList<CSVParser::Row>& rows, const QList<CSVParser::Column>& columns)
{
    RowListCells cells{rows, {}};
    return rowsAsMarkdown(cells, columns);
}

QString csvRowsAsMarkdownTable(const CSVParser::Document& document, const std::vector<qint32>& rowIds,
                               const QList<CSVParser::Column>& columns)
{
    DocumentCells cells{document, rowIds};
    return rowsAsMarkdown(cells, columns);
}

QString csvRowsAsTSV(const QList<CSVParser::Row>& rows, const QList<CSVParser::Column>& columns)
{
    RowListCells cells{rows, {}};
    return rowsAsTSV(cells, columns);
}

QString csvRowsAsTSV(const CSVParser::Document& document, const std::vector<qint32>& rowIds,
                     const QList<CSVParser::Column>& columns)
{
    DocumentCells cells{document, rowIds};
    return rowsAsTSV(cells, columns);
}
