#pragma once

#include "tools/csv/CSVParser.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <utility>
#include <variant>
#include <vector>

// Rows as text for the clipboard: a JSON array of objects keyed by column name, a Markdown
// table, or tab-separated lines under a header line. Columns may leave some out (hidden ones);
// a row's cell for a column is cells[column.id], empty when the row has none.

using CSVJSONValue = std::variant<QString, double>;
// One member per distinct column name, in the order the names first occur; a later column of
// the same name gives the value.
QList<std::pair<QString, CSVJSONValue>> csvRowObject(const CSVParser::Row& row, const QList<CSVParser::Column>& columns);

QString csvRowsAsJSON(const QList<CSVParser::Row>& rows, const QList<CSVParser::Column>& columns);
QString csvRowsAsJSON(const CSVParser::Document& document, const std::vector<qint32>& rowIds,
                      const QList<CSVParser::Column>& columns);

QString csvRowsAsMarkdownTable(const QList<CSVParser::Row>& rows, const QList<CSVParser::Column>& columns);
QString csvRowsAsMarkdownTable(const CSVParser::Document& document, const std::vector<qint32>& rowIds,
                               const QList<CSVParser::Column>& columns);

// Empty when there are no rows or no columns (then nothing is to be copied).
QString csvRowsAsTSV(const QList<CSVParser::Row>& rows, const QList<CSVParser::Column>& columns);
QString csvRowsAsTSV(const CSVParser::Document& document, const std::vector<qint32>& rowIds,
                     const QList<CSVParser::Column>& columns);

enum class CSVCopyFormat { json, markdown, tsv };
// The text of csvRowsAsJSON, csvRowsAsMarkdownTable or csvRowsAsTSV as UTF-8, built from the
// document's bytes in parts side by side. `progress` hears, from any thread, how many rows are
// done; a set `cancelled` stops the work and gives an empty result.
QByteArray csvRowsAsUtf8(CSVCopyFormat format, const CSVParser::Document& document, const std::vector<qint32>& rowIds,
                         const QList<CSVParser::Column>& columns, const std::atomic_bool* cancelled = nullptr,
                         const std::function<void(qsizetype rowsDone)>& progress = {});
