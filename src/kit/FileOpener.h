#pragma once

#include "kit/MemoryBudget.h"
#include "kit/QuietTask.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// Opens a user's file for a view model: reads it off the GUI thread as text (UTF-8, ill-formed
// sequences replaced, a byte-order mark dropped), optionally prepares it there too, and hands the
// result back on the GUI thread.
//
// The rules, the same for every tool: the newest open wins and older ones are dropped; a failed
// read leaves the document as it was and gets a sentence; an edit made while a file is being
// read wins over the file, which is dropped with a sentence, so typed text is never lost; a file
// that would not fit in memory is refused before it is read; reading or preparing that fails
// (memory runs out) gets a sentence too.
class FileOpener : public QObject {
    Q_OBJECT
public:
    explicit FileOpener(QObject* parent = nullptr) : QObject(parent), m_task(0, this)
    {
        m_task.setFailureHandler([this](QuietTask::Failure failure) {
            if (auto failed = std::exchange(m_failed, nullptr))
                failed(failedSentence(m_fileUrl, failure));
        });
    }

    // The bytes of memory the tool holds per byte of a file it has opened, at the most.
    void setMemoryPerFileByte(double bytes) { m_memoryPerFileByte = bytes; }

    // `prepare` runs off the GUI thread on the file's text (it may poll the flag); `apply` gets
    // its result on the GUI thread; `failed` gets the sentence to show.
    template <class Document>
    void open(const QUrl& fileUrl, std::function<Document(QString text, const std::atomic_bool& cancelled)> prepare,
              std::function<void(Document)> apply, std::function<void(QString sentence)> failed)
    {
        openWith<Document, QString>(fileUrl, &FileOpener::readText, std::move(prepare), std::move(apply), std::move(failed));
    }
    // The same with the file's text as well-formed UTF-8, for a tool that reads it as bytes.
    template <class Document>
    void openUTF8(const QUrl& fileUrl, std::function<Document(QByteArray utf8, const std::atomic_bool& cancelled)> prepare,
                  std::function<void(Document)> apply, std::function<void(QString sentence)> failed)
    {
        openWith<Document, QByteArray>(fileUrl, &FileOpener::readUTF8, std::move(prepare), std::move(apply),
                                       std::move(failed));
    }
    // Opens the file's text as it is.
    void open(const QUrl& fileUrl, std::function<void(QString text)> apply, std::function<void(QString sentence)> failed)
    {
        open<QString>(
            fileUrl, [](QString text, const std::atomic_bool&) { return text; }, std::move(apply), std::move(failed));
    }

    // The user edited the document: a read in flight is dropped and says so.
    void markEdited()
    {
        if (!isOpening())
            return;
        m_task.cancel();
        m_droppedForAnEdit = true;
        if (auto failed = std::exchange(m_failed, nullptr))
            failed(editedSentence(m_fileUrl));
    }

    // Whether the last open was dropped for an edit. Its sentence is said while the user types,
    // so the next keystroke must not take it away: it stands until the next open.
    bool droppedForAnEdit() const { return m_droppedForAnEdit; }

    // Drops a read in flight without a word.
    void cancel()
    {
        m_task.cancel();
        m_failed = nullptr;
    }

    bool isOpening() const { return m_task.isRunning() && m_failed != nullptr; }

    static std::optional<QString> readText(const QUrl& fileUrl);
    static std::optional<QByteArray> readUTF8(const QUrl& fileUrl);
    static QString unreadableSentence(const QUrl& fileUrl);
    static QString editedSentence(const QUrl& fileUrl);
    static QString failedSentence(const QUrl& fileUrl, QuietTask::Failure failure);

private:
    template <class Document, class Content>
    void openWith(const QUrl& fileUrl, std::optional<Content> (*reader)(const QUrl&),
                  std::function<Document(Content text, const std::atomic_bool& cancelled)> prepare,
                  std::function<void(Document)> apply, std::function<void(QString sentence)> failed)
    {
        m_failed = failed;
        m_fileUrl = fileUrl;
        m_droppedForAnEdit = false;
        struct Read {
            std::optional<Document> document;
            std::optional<QString> refusal;
        };
        m_task.runNow<Read>(
            [fileUrl, reader, prepare = std::move(prepare), perByte = m_memoryPerFileByte](const std::atomic_bool& cancelled) {
                Read read;
                if ((read.refusal = MemoryBudget::refusalToOpen(fileUrl, perByte)))
                    return read;
                std::optional<Content> text = reader(fileUrl);
                if (text && !cancelled)
                    read.document = prepare(std::move(*text), cancelled);
                return read;
            },
            [this, fileUrl, apply = std::move(apply), failed = std::move(failed)](Read read) {
                m_failed = nullptr;
                if (read.document)
                    apply(std::move(*read.document));
                else
                    failed(read.refusal.value_or(unreadableSentence(fileUrl)));
            });
    }

    QuietTask m_task;
    QUrl m_fileUrl;
    std::function<void(QString)> m_failed;
    double m_memoryPerFileByte = 4;
    bool m_droppedForAnEdit = false;
};
