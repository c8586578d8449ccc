#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// What the process may still allocate, and whether a file a tool is about to read would fit.
// A tool holds several times a file's size once it has read it (the text, its copies for the
// views, what is made from it); a file that needs more than there is would end the whole
// program, taking the other tools' unsaved text with it, so it is refused before it is read.
class MemoryBudget {
public:
    MemoryBudget() = delete;

    // The least of: the system's available memory, the room left under the process's address-space
    // limit, and the room left under its control group's memory limit. A test may set the figure.
    static qint64 availableBytes();
    static void setAvailableBytesForTesting(std::optional<qint64> bytes);

    // Nothing when a file of `fileBytes` fits at `bytesPerFileByte`; else the sentence that says
    // why it was not opened.
    static std::optional<QString> refusal(const QString& fileName, qint64 fileBytes, double bytesPerFileByte);
    // The same for a local file, judged from its size on disk; nothing for anything else (the
    // read then says what is wrong).
    static std::optional<QString> refusalToOpen(const QUrl& fileUrl, double bytesPerFileByte);
};
