#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A CSV file's bytes as opening reads them. Nothing when the file cannot be read.
namespace CSVFileBytes {

// The whole file, read into memory whose first writes are cheap: a large file lands in huge
// pages, where fresh small pages would each cost a fault when the file is read into them and
// again when the parser first looks at them (tens of milliseconds per 10 MB on some virtual
// machines). A file that grows while it is read gives what it has by the end.
std::optional<QByteArray> read(const QString& path);

} // namespace CSVFileBytes
