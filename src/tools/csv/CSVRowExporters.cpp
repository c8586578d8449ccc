#include "tools/csv/CSVRowExporters.h"

#include "formats/RunParts.h"
#include "formats/Utf8Encoder.h"

#include <QHash>
#include <QLocale>

#include <array>
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
        buffer = Utf8Encoder::toUtf8(cells.at(column));
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

// Appends the text with the bytes `escape` names replaced; runs without one are copied whole.
template <class Escape>
void appendEscaped(QByteArray& out, QByteArrayView text, const Escape& escape)
{
    const char* s = text.data();
    const qsizetype n = text.size();
    qsizetype run = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const QByteArrayView replacement = escape(uchar(s[i]));
        if (replacement.isNull())
            continue;
        out.append(s + run, i - run);
        out.append(replacement);
        run = i + 1;
    }
    out.append(s + run, n - run);
}

void appendJSONString(QByteArray& out, QByteArrayView text)
{
    static const auto table = [] {
        std::array<std::array<char, 7>, 0x60> t{};
        static const char hex[] = "0123456789abcdef";
        for (int c = 0; c < 0x20; ++c)
            t[c] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15], 0};
        t['\b'] = {'\\', 'b'};
        t['\f'] = {'\\', 'f'};
        t['\n'] = {'\\', 'n'};
        t['\r'] = {'\\', 'r'};
        t['\t'] = {'\\', 't'};
        t['"'] = {'\\', '"'};
        t['/'] = {'\\', '/'};
        t['\\'] = {'\\', '\\'};
        return t;
    }();
    out += '"';
    appendEscaped(out, text, [](uchar c) {
        return c < table.size() && table[c][0] ? QByteArrayView(table[c].data()) : QByteArrayView();
    });
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
        plan.names.append(Utf8Encoder::toUtf8(columns[c].name));
        plan.source.append(c);
    }
    return plan;
}

void appendMarkdownCell(QByteArray& out, QByteArrayView text)
{
    appendEscaped(out, text, [](uchar c) {
        return c == '|' ? QByteArrayView("\\|") : c == '\n' ? QByteArrayView(" ") : QByteArrayView();
    });
}

void appendTSVValue(QByteArray& out, QByteArrayView text)
{
    appendEscaped(out, text, [](uchar c) { return c == '\t' || c == '\n' ? QByteArrayView(" ") : QByteArrayView(); });
}

// One format's text in three pieces: what comes before the rows, the rows from `begin` to `end`
// (each with its separator, so pieces built apart join into the whole), and what follows.
class CopyWriter {
public:
    CopyWriter(CSVCopyFormat format, const QList<CSVParser::Column>& columns)
        : m_format(format), m_columns(columns), m_plan(format == CSVCopyFormat::json ? memberPlan(columns) : MemberPlan())
    {
    }

    // Nothing at all is written (the TSV of nothing, the Markdown of no columns).
    bool writesNothing(qsizetype rows) const
    {
        switch (m_format) {
        case CSVCopyFormat::json: return false;
        case CSVCopyFormat::markdown: return m_columns.isEmpty();
        case CSVCopyFormat::tsv: return m_columns.isEmpty() || rows == 0;
        }
        return true;
    }

    void head(QByteArray& out, qsizetype rows) const
    {
        switch (m_format) {
        case CSVCopyFormat::json:
            out += rows == 0 ? "[]" : "[\n";
            break;
        case CSVCopyFormat::markdown:
            out += "| ";
            for (qsizetype c = 0; c < m_columns.size(); ++c) {
                if (c)
                    out += " | ";
                appendMarkdownCell(out, Utf8Encoder::toUtf8(m_columns[c].name));
            }
            out += " |\n| ";
            for (qsizetype c = 0; c < m_columns.size(); ++c)
                out += c ? " | ---" : "---";
            out += " |\n";
            break;
        case CSVCopyFormat::tsv:
            for (qsizetype c = 0; c < m_columns.size(); ++c) {
                if (c)
                    out += '\t';
                appendTSVValue(out, Utf8Encoder::toUtf8(m_columns[c].name));
            }
            break;
        }
    }

    template <class Cells>
    void rows(QByteArray& out, Cells& cells, qsizetype begin, qsizetype end, const std::atomic_bool* cancelled) const
    {
        for (qsizetype i = begin; i < end; ++i) {
            if ((i & 1023) == 0 && cancelled && cancelled->load(std::memory_order_relaxed))
                return;
            switch (m_format) {
            case CSVCopyFormat::json: jsonRow(out, cells, i); break;
            case CSVCopyFormat::markdown: markdownRow(out, cells, i); break;
            case CSVCopyFormat::tsv: tsvRow(out, cells, i); break;
            }
        }
    }

    void tail(QByteArray& out, qsizetype rows) const
    {
        if (m_format == CSVCopyFormat::json && rows > 0)
            out += "\n]";
    }

private:
    template <class Cells>
    void jsonRow(QByteArray& out, Cells& cells, qsizetype i) const
    {
        if (i)
            out += ",\n";
        if (m_plan.names.isEmpty()) {
            out += "  {}";
            return;
        }
        out += "  {\n";
        for (qsizetype m = 0; m < m_plan.names.size(); ++m) {
            if (m)
                out += ",\n";
            const CSVParser::Column& column = m_columns[m_plan.source[m]];
            out += "    ";
            appendJSONString(out, m_plan.names[m]);
            out += " : ";
            const QByteArrayView cell = cells(i, column.id);
            if (const std::optional<double> number = jsonNumber(column, cell))
                appendJSONNumber(out, *number);
            else
                appendJSONString(out, cell);
        }
        out += "\n  }";
    }

    template <class Cells>
    void markdownRow(QByteArray& out, Cells& cells, qsizetype i) const
    {
        out += "| ";
        for (qsizetype c = 0; c < m_columns.size(); ++c) {
            if (c)
                out += " | ";
            appendMarkdownCell(out, cells(i, m_columns[c].id));
        }
        out += " |\n";
    }

    template <class Cells>
    void tsvRow(QByteArray& out, Cells& cells, qsizetype i) const
    {
        out += '\n';
        for (qsizetype c = 0; c < m_columns.size(); ++c) {
            if (c)
                out += '\t';
            appendTSVValue(out, cells(i, m_columns[c].id));
        }
    }

    CSVCopyFormat m_format;
    const QList<CSVParser::Column>& m_columns;
    MemberPlan m_plan;
};

// Rows are written in parts of this many, side by side; each part's text is joined into the
// whole as soon as every part is done, so the work never holds more than twice the result.
constexpr qsizetype rowsPerPart = 8192;

template <class MakeCells>
QByteArray buildCopy(CSVCopyFormat format, qsizetype rowCount, const MakeCells& makeCells,
                     const QList<CSVParser::Column>& columns, const std::atomic_bool* cancelled,
                     const std::function<void(qsizetype)>& progress, bool parallel)
{
    const CopyWriter writer(format, columns);
    if (writer.writesNothing(rowCount))
        return QByteArray();
    QByteArray head;
    writer.head(head, rowCount);
    const qsizetype partCount = (rowCount + rowsPerPart - 1) / rowsPerPart;
    std::vector<QByteArray> parts(size_t(std::max<qsizetype>(partCount, 0)));
    std::atomic<qsizetype> done{0};
    runParts(
        partCount,
        [&](qsizetype p) {
            if (cancelled && cancelled->load(std::memory_order_relaxed))
                return;
            auto cells = makeCells();
            const qsizetype begin = p * rowsPerPart;
            const qsizetype end = std::min(rowCount, begin + rowsPerPart);
            writer.rows(parts[size_t(p)], cells, begin, end, cancelled);
            const qsizetype finished = done.fetch_add(end - begin, std::memory_order_relaxed) + (end - begin);
            if (progress)
                progress(finished);
        },
        parallel ? WorkPool::workers() : 1);
    if (cancelled && cancelled->load())
        return QByteArray();
    QByteArray tail;
    writer.tail(tail, rowCount);
    qsizetype total = head.size() + tail.size();
    for (const QByteArray& part : parts)
        total += part.size();
    QByteArray out;
    out.reserve(total);
    out += head;
    for (QByteArray& part : parts) {
        out += part;
        part = QByteArray();
    }
    out += tail;
    return out;
}

} // namespace

QList<std::pair<QString, CSVJSONValue>> csvRowObject(const CSVParser::Row& row, const QList<CSVParser::Column>& columns)
{
    QList<std::pair<QString, CSVJSONValue>> object;
    QHash<QString, qsizetype> index;
    for (const CSVParser::Column& column : columns) {
        const QString cell = column.id >= 0 && column.id < row.cells.size() ? row.cells.at(column.id) : QString();
        CSVJSONValue value = cell;
        if (const std::optional<double> number = jsonNumber(column, Utf8Encoder::toUtf8(cell)))
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

namespace {
QByteArray rowListCopy(CSVCopyFormat format, const QList<CSVParser::Row>& rows, const QList<CSVParser::Column>& columns)
{
    return buildCopy(
        format, rows.size(), [&rows] { return RowListCells{rows, {}}; }, columns, nullptr, {}, false);
}
} // namespace

QByteArray csvRowsAsUtf8(CSVCopyFormat format, const CSVParser::Document& document, const std::vector<qint32>& rowIds,
                         const QList<CSVParser::Column>& columns, const std::atomic_bool* cancelled,
                         const std::function<void(qsizetype rowsDone)>& progress)
{
    return buildCopy(
        format, qsizetype(rowIds.size()), [&] { return DocumentCells{document, rowIds}; }, columns, cancelled,
        progress, true);
}

QString csvRowsAsJSON(const QList<CSVParser::Row>& rows, const QList<CSVParser::Column>& columns)
{
    return CSVParser::textFromUtf8(rowListCopy(CSVCopyFormat::json, rows, columns));
}

QString csvRowsAsJSON(const CSVParser::Document& document, const std::vector<qint32>& rowIds,
                      const QList<CSVParser::Column>& columns)
{
    return CSVParser::textFromUtf8(csvRowsAsUtf8(CSVCopyFormat::json, document, rowIds, columns));
}

QString csvRowsAsMarkdownTable(const QList<CSVParser::Row>& rows, const QList<CSVParser::Column>& columns)
{
    return CSVParser::textFromUtf8(rowListCopy(CSVCopyFormat::markdown, rows, columns));
}

QString csvRowsAsMarkdownTable(const CSVParser::Document& document, const std::vector<qint32>& rowIds,
                               const QList<CSVParser::Column>& columns)
{
    return CSVParser::textFromUtf8(csvRowsAsUtf8(CSVCopyFormat::markdown, document, rowIds, columns));
}

QString csvRowsAsTSV(const QList<CSVParser::Row>& rows, const QList<CSVParser::Column>& columns)
{
    return CSVParser::textFromUtf8(rowListCopy(CSVCopyFormat::tsv, rows, columns));
}

QString csvRowsAsTSV(const CSVParser::Document& document, const std::vector<qint32>& rowIds,
                     const QList<CSVParser::Column>& columns)
{
    return CSVParser::textFromUtf8(csvRowsAsUtf8(CSVCopyFormat::tsv, document, rowIds, columns));
}
