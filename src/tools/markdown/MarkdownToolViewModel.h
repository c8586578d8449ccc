#pragma once

#include "kit/CodeTextSnapshot.h"
#include "kit/FileOpener.h"
#include "kit/QuietTask.h"
#include "tools/markdown/MarkdownIncrementalRender.h"

#include <QList>
#include <QMimeType>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

class ScrollSyncController;
class FindController;
class MarkdownFolderAccess;

// The Markdown tool's state for one window: the source that the editor edits, the HTML and
// counts last rendered from it, the file last opened, and the three controllers that the view,
// the editor and the preview share. An edit renders after a quiet time, off the GUI thread;
// an open reads and renders in one background step. Only the latest request ever publishes.
class MarkdownToolViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString markdownText READ markdownText WRITE setMarkdownText NOTIFY markdownTextChanged)
    Q_PROPERTY(QString renderedHTML READ renderedHTML NOTIFY renderedHTMLChanged)
    Q_PROPERTY(int renderedLineCount READ renderedLineCount NOTIFY renderedLineCountChanged)
    Q_PROPERTY(int lineCount READ lineCount NOTIFY lineCountChanged)
    Q_PROPERTY(int wordCount READ wordCount NOTIFY wordCountChanged)
    Q_PROPERTY(QUrl fileUrl READ fileUrl NOTIFY fileUrlChanged)
    Q_PROPERTY(bool showEditor READ showEditor WRITE setShowEditor NOTIFY showEditorChanged)
    Q_PROPERTY(QString openError READ openError NOTIFY openErrorChanged)

public:
    static constexpr int quietTimeMs = 180;
    // The bytes of memory the tool holds per byte of an opened file, at the most (measured:
    // about 11 at the peak of an open: the text, the editor, the HTML and the preview page).
    static constexpr double memoryPerFileByte = 12;

    explicit MarkdownToolViewModel(QObject* parent = nullptr);
    ~MarkdownToolViewModel() override;

    // After edits, taken from the editor's latest snapshot when first asked for.
    const QString& markdownText() const;
    // Every assignment, even of an equal text, reschedules the render.
    void setMarkdownText(const QString& text);
    // The editor's own change, as its text after the change: the preview is rendered from the
    // whole text, so the edited range would not spare any work. Renders after the quiet time
    // from the snapshot. The editor shows the text already, so `markdownTextChanged` is not
    // emitted back at it.
    void editMarkdownText(const CodeTextSnapshot& snapshot);

    const QString& renderedHTML() const { return m_renderedHTML; }
    // How renderedHTML differs from the one published before it, when the render after an edit
    // kept blocks of that one.
    const std::optional<MarkdownIncrementalRender::Change>& renderedChange() const { return m_rendering.change(); }
    int renderedLineCount() const { return m_renderedLineCount; }
    int lineCount() const { return m_lineCount; }
    int wordCount() const { return m_wordCount; }
    const QUrl& fileUrl() const { return m_fileUrl; }
    bool showEditor() const { return m_showEditor; }
    void setShowEditor(bool show);
    // The sentence for the last file that could not be read; empty once a file opens or the
    // text is edited.
    const QString& openError() const { return m_openError; }
    void dismissOpenError();
    // UTF-8 size of renderedHTML (the preview footer shows it).
    qsizetype renderedHTMLByteCount() const { return m_renderedHTMLByteCount; }
    // The folder of fileUrl, or an empty URL without a file.
    QUrl documentFolder() const;

    ScrollSyncController* sync() const { return m_sync; }
    FindController* find() const { return m_find; }
    MarkdownFolderAccess* folderAccess() const { return m_folderAccess; }

    // Reads the file off the GUI thread, renders it in the same step and publishes text, HTML and
    // counts together. An unreadable file leaves the document as it was and sets openError.
    void open(const QUrl& fileUrl);

    // Whether a render or an open is waiting or running.
    bool isBusy() const;

    struct Counts {
        int lines = 0;
        int words = 0;
    };
    // Lines: 0 for the empty text, else 1 + the line breaks (LF, CR and CR LF each one).
    // Words: runs between blanks, tabs and line breaks.
    static Counts countLinesAndWords(const QString& text);

    struct Rendering {
        QString html;
        qsizetype htmlByteCount = 0;
        int renderedLineCount = 1;
        Counts counts;
        // What the next render after an edit starts from.
        MarkdownIncrementalRender made;
    };
    // What a render computes; pure, run off the GUI thread. After an edit, the rendering before
    // it lends the blocks the edit did not reach.
    static Rendering render(const QString& text, const MarkdownIncrementalRender& before = {});

    struct Document {
        QString text;
        Rendering rendering;
    };
    // What an open makes of a file's decoded text, off the GUI thread: the text with LF breaks
    // only, and its rendering.
    static Document openedDocument(const QString& decoded);

    // The file to open from a drop: the first file with a Markdown or text extension, else the
    // first whose type is text; none otherwise.
    static std::optional<QUrl> markdownFile(const QList<QUrl>& urls);
    // The types the open dialog offers.
    static const QList<QMimeType>& markdownContentTypes();
    static const QStringList& markdownExtensions();

signals:
    // The program set the text (`setMarkdownText`, an open); not for `editMarkdownText`.
    void markdownTextChanged();
    void renderedHTMLChanged();
    void renderedLineCountChanged();
    void lineCountChanged();
    void wordCountChanged();
    void fileUrlChanged();
    void showEditorChanged();
    void openErrorChanged();
    // An open has published a new document (after the text and the rendering).
    void documentOpened();

private:
    void scheduleRender();
    void publish(const QString& source, const Rendering& rendering);
    void setOpenError(const QString& sentence);

    mutable QString m_markdownText;
    // The editor's text since its last edit, while `m_markdownText` lags behind it.
    mutable CodeTextSnapshot m_editedText;
    mutable bool m_textFromEdit = false;
    QString m_renderedHTML;
    int m_renderedLineCount = 1;
    int m_lineCount = 0;
    int m_wordCount = 0;
    QUrl m_fileUrl;
    bool m_showEditor = true;
    QString m_openError;
    qsizetype m_renderedHTMLByteCount = 0;
    ScrollSyncController* m_sync;
    FindController* m_find;
    MarkdownFolderAccess* m_folderAccess;
    QuietTask m_task;
    FileOpener m_opener{this};
    QString m_renderedSource;
    MarkdownIncrementalRender m_rendering;
};
