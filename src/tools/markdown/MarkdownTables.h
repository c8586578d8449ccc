#pragma once

#include "tools/markdown/MarkdownText.h"

#include <QList>
#include <QString>
#include <QStringView>

// Pipe tables: a header row, a delimiter row with column alignments, body rows.
namespace MarkdownTables {

enum Alignment { None = 0, Left = 1, Center = 2, Right = 3 };

bool isTableDelimiterRow(QStringView rawLine);

// Renders the table whose header is lines[header] onto out; answers the number of lines used.
qsizetype renderTable(MarkdownText::Lines lines, const MarkdownText::TrimmedLines& trimmed, qsizetype header,
                      qint64 baseLine, MarkdownOutput& out);

} // namespace MarkdownTables
