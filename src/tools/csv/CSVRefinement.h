#pragma once

#include "tools/csv/CSVParser.h"

#include <QHashFunctions>
#include <QList>
#include <QMap>
#include <QString>

#include <atomic>
#include <optional>
#include <vector>

// One sort key of the table: a column and a direction.
struct CSVSortDescriptor {
    qint64 columnID = 0;
    bool ascending = true;
    bool operator==(const CSVSortDescriptor&) const = default;
};
inline size_t qHash(const CSVSortDescriptor& d, size_t seed = 0) { return qHashMulti(seed, d.columnID, d.ascending); }

// The rows a table shows, as row ids in display order: searched, filtered and sorted. Pure
// functions of a document and the user's refinements, safe off the GUI thread; a set
// `cancelled` makes them stop early and give nothing.
namespace CSVRefinement {

// The search as it is matched: trimmed of spaces and tabs, lower-cased.
QString normalizedQuery(const QString& query);

// Rows that hold the search in any cell (hidden columns too) and every non-empty filter in its
// column, in document order.
std::optional<std::vector<qint32>> matchingRows(const CSVParser::Document& document, const QString& searchQuery,
                                                const QMap<qint64, QString>& columnFilters,
                                                const std::atomic_bool* cancelled = nullptr);

// Stable sort by the keys, most significant first; keys naming no column are ignored. Numeric
// columns put cells that are no number (blanks, text, nan) first, ordered as text, then the
// numbers by value; text compares case-insensitively by the user's locale, digit runs by value.
bool sortRows(const CSVParser::Document& document, std::vector<qint32>& rows, const QList<CSVSortDescriptor>& keys,
              const std::atomic_bool* cancelled = nullptr);

std::optional<std::vector<qint32>> visibleRows(const CSVParser::Document& document, const QString& searchQuery,
                                               const QMap<qint64, QString>& columnFilters,
                                               const QList<CSVSortDescriptor>& sortOrder,
                                               const std::atomic_bool* cancelled = nullptr);

// The text order alone: negative, 0 or positive.
int compareText(const QString& left, const QString& right);

} // namespace CSVRefinement
