#pragma once

#include <QByteArray>
#include <QString>

// The size of a text as the pane footers show it: lines and UTF-8 bytes. LF, CR and CR LF each
// end one line; the empty text has no lines.
struct JSONTextMetrics {
    qint64 lines = 0;
    qint64 bytes = 0;

    JSONTextMetrics() = default;
    JSONTextMetrics(qint64 lines, qint64 bytes) : lines(lines), bytes(bytes) {}
    explicit JSONTextMetrics(const QString& text);
    explicit JSONTextMetrics(const QByteArray& utf8);

    friend bool operator==(const JSONTextMetrics&, const JSONTextMetrics&) = default;
};
