#pragma once

#include "formats/Utf8Decoder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <atomic>
#include <memory>
#include <optional>

// Turns CSV or TSV text into a table of named columns and padded rows. Never fails: text without
// rows gives a document without columns.
//
// The table is built for files of hundreds of megabytes: the cells are read in place from the
// parsed UTF-8 text, which the document keeps, and made into strings only when someone asks.
namespace CSVParser {

struct Column {
    qint64 id = 0; // the index of the column's cell in every row
    QString name;
    bool isNumeric = false;
    bool operator==(const Column&) const = default;
};

// One data row made into strings; `cells` holds exactly one entry per column.
struct Row {
    qint64 id = 0; // position among the data rows
    QStringList cells;
    bool operator==(const Row&) const = default;
};

struct Table; // the compact cell store

// Well-formed UTF-8 as a string, a U+FEFF at its start kept: only the text's first one is a
// byte-order mark, and the parser has removed that already.
QString textFromUtf8(QByteArrayView utf8);

class Document {
public:
    Document(); // no columns, no rows, comma, no header

    const QUuid& id() const;
    const QList<Column>& columns() const;
    qsizetype columnCount() const { return columns().size(); }
    qsizetype rowCount() const;
    char32_t delimiter() const;
    bool hadHeader() const;

    // Cells of a data row; a cell past the row's stored cells (a padded one) is empty.
    QByteArrayView cellUtf8(qsizetype row, qsizetype column) const;
    QString cell(qsizetype row, qsizetype column) const { return textFromUtf8(cellUtf8(row, column)); }
    Row row(qsizetype id) const;
    // Every row made into strings: for small documents and tests.
    QList<Row> rows() const;

    bool operator==(const Document& other) const;

    // For the parser.
    explicit Document(std::shared_ptr<const Table> table);

private:
    std::shared_ptr<const Table> m_table;
};

// `text` is the file's text as UTF-8 (a leading byte-order mark is dropped, ill-formed sequences
// are replaced by U+FFFD). No delimiter: detected from a bounded sample. A set `cancelled` stops
// the work early and gives an empty document that nobody should show.
// `repaired`: the text came from repairedUtf8(), so it is not checked again and a U+FEFF at its
// start is a character, not a byte-order mark.
enum class TextState { asRead, repaired };
Document parseCSV(QByteArrayView text, std::optional<char32_t> delimiter, bool hasHeader,
                  const std::atomic_bool* cancelled = nullptr, TextState state = TextState::asRead);
Document parseCSV(const QString& text, std::optional<char32_t> delimiter, bool hasHeader);
// The document shares `text` rather than copying it; the other forms copy the text once.
Document parseCSV(const QByteArray& text, std::optional<char32_t> delimiter, bool hasHeader,
                  const std::atomic_bool* cancelled = nullptr, TextState state = TextState::asRead);

// Delimiter detection over the first five non-empty lines, however long they are.
char32_t detectDelimiter(QByteArrayView text);
QList<QByteArrayView> sampleLines(QByteArrayView text, int limit);
int countDelimiter(QByteArrayView line, char32_t delimiter);

// The rows of the text, as the parser cuts them (line breaks already made LF).
QList<QStringList> tokenizeCSV(const QString& text, char32_t delimiter);
QStringList padCells(const QStringList& cells, qsizetype width);
QString columnLetterName(qint64 index);
bool isNumericColumn(const Document& document, qint64 column);
bool isNumericColumn(const QList<QStringList>& rows, qint64 column);

// The whole text as a double by strtod's rules in the C locale: no leading blank, nothing left
// over; out of range (1e999, 1e-400) is not a number.
std::optional<double> doubleFromString(QByteArrayView utf8);
std::optional<double> doubleFromString(const QString& text);
// Whether doubleFromString() would succeed, without computing the value where it can.
bool isNumberText(QByteArrayView utf8);

// Spaces and tabs: the Unicode space separators and U+0009.
QByteArrayView trimmedBlanks(QByteArrayView utf8);
QString trimmedBlanks(const QString& text);
bool isBlank(char32_t c);

// The text as UTF-8 the parser reads: the byte-order mark dropped, ill-formed sequences replaced.
QByteArray repairedUtf8(QByteArray bytes);

} // namespace CSVParser
