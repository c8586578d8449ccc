#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>

// Which folders the preview may read images from: the open document's folder and the folders
// the user granted during this run. When images are refused, it proposes a folder to grant and
// raises `needsAccess`, which the tool view shows as a banner.
//
// File URLs are local-file QUrls; an empty QUrl means "none". GUI thread only.
class MarkdownFolderAccess : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool needsAccess READ needsAccess WRITE setNeedsAccess NOTIFY needsAccessChanged)
    Q_PROPERTY(qint64 opens READ opens NOTIFY opensChanged)
public:
    explicit MarkdownFolderAccess(QObject* parent = nullptr);

    bool needsAccess() const { return m_needsAccess; }
    void setNeedsAccess(bool needsAccess);

    // The open document's folder, symbolic links resolved; empty without a document file.
    const QUrl& documentFolder() const { return m_documentFolder; }
    // Granted folders, symbolic links resolved, each once, in grant order.
    const QList<QUrl>& granted() const { return m_granted; }
    // Where the grant panel should start; empty when nothing is proposed.
    const QUrl& suggestedFolder() const { return m_suggestedFolder; }
    // Raised when the document folder changes and on every grant: refusals of requests that
    // started under an older generation are ignored.
    quint64 generation() const { return m_generation; }
    // Raised every time a document folder is set (each opened document).
    qint64 opens() const { return m_opens; }

    // Installed by the preview: asks the page to request its failed images again.
    std::function<void()> reloadImages;

    // The parent folder of each document that is opened.
    void setDocumentFolder(const QUrl& folder);
    // An image request that started under `generation` was refused for `target`.
    void noteRefused(const QUrl& target, quint64 generation);
    // The user chose `folder` in the grant panel.
    void grant(const QUrl& folder);

    // The deepest folder holding both file URLs (at least the root), as a directory URL.
    static QUrl commonFolder(const QUrl& a, const QUrl& b);

signals:
    void needsAccessChanged(bool needsAccess);
    void opensChanged(qint64 opens);

private:
    bool m_needsAccess = false;
    QUrl m_documentFolder;
    QList<QUrl> m_granted;
    QUrl m_suggestedFolder;
    quint64 m_generation = 0;
    qint64 m_opens = 0;
};
