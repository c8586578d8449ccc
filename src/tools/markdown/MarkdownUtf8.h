#pragma once

#include <QStringView>

// UTF-16 to UTF-8 for the converter's large results, byte for byte what QString::toUtf8 writes
// (a lone surrogate becomes "?"), with wide loops over ASCII runs.
namespace MarkdownUtf8 {

qsizetype encodedLength(QStringView text);

// Writes encodedLength(text) bytes at out; answers the end.
char* encode(QStringView text, char* out);

} // namespace MarkdownUtf8
