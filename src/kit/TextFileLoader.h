#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUrl>

#include <optional>

// Reads a user-chosen file as text: UTF-8, with every ill-formed sequence replaced by U+FFFD.
// Nothing when the file cannot be read. Never throws, keeps no state.
namespace TextFileLoader {

// The bytes as UTF-8, each ill-formed sequence replaced by U+FFFD. Keeps a byte-order mark.
QString decodeUTF8Repairing(QByteArrayView bytes);

// The same text kept as UTF-8: the bytes themselves when they are well-formed, a leading
// byte-order mark dropped as above.
QByteArray repairedUTF8(QByteArray bytes);

// The file's bytes. Regular files only: a pipe or a device could block or never end. Blocking
// read, like the one below.
std::optional<QByteArray> readBytes(const QString& path);

// Blocking read; call it off the GUI thread (FileOpener does).
std::optional<QString> loadTextFileNow(const QString& path);
std::optional<QString> loadTextFileNow(const QUrl& fileUrl);
// The same text as UTF-8 (repairedUTF8 of the bytes).
std::optional<QByteArray> loadUTF8FileNow(const QUrl& fileUrl);

} // namespace TextFileLoader
