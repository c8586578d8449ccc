#include "tools/markdown/MarkdownToolViewModel.h"

#include "formats/LineCounter.h"
#include "kit/TextHelpers.h"

#include "kit/FindController.h"
#include "tools/markdown/MarkdownFolderAccess.h"
#include "tools/markdown/MarkdownWelcome.h"
#include "tools/markdown/ScrollSyncController.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

MarkdownToolViewModel::MarkdownToolViewModel(QObject* parent)
    : QObject(parent), m_sync(new ScrollSyncController(this)), m_find(new FindController(this)),
      m_folderAccess(new MarkdownFolderAccess(this)), m_task(quietTimeMs, this)
{
    // The welcome document is rendered at once so the preview has content before any edit.
    const QString& welcome = MarkdownWelcome::document();
    m_markdownText = welcome;
    const Rendering rendering = render(welcome);
    m_renderedSource = welcome;
    m_renderedLineCount = rendering.renderedLineCount;
    m_lineCount = rendering.counts.lines;
    m_wordCount = rendering.counts.words;
    m_renderedHTML = rendering.html;
    m_renderedHTMLByteCount = rendering.htmlByteCount;
    m_rendering = rendering.made;
    m_opener.setMemoryPerFileByte(memoryPerFileByte);
    // A render that fails (memory runs out) keeps the last preview and says why it is stale.
    m_task.setFailureHandler([this](QuietTask::Failure failure) { setOpenError(QuietTask::failureSentence(failure)); });
}

MarkdownToolViewModel::~MarkdownToolViewModel() = default;

const QString& MarkdownToolViewModel::markdownText() const
{
    if (m_textFromEdit) {
        m_markdownText = TextHelpers::repairedUTF16(m_editedText.text());
        m_editedText = CodeTextSnapshot();
        m_textFromEdit = false;
    }
    return m_markdownText;
}

void MarkdownToolViewModel::editMarkdownText(const CodeTextSnapshot& snapshot)
{
    m_editedText = snapshot;
    m_textFromEdit = true;
    if (!m_opener.droppedForAnEdit())
        setOpenError(QString());
    // Typed text is never overwritten by a file still being read.
    m_opener.markEdited();
    m_task.cancel();
    m_task.schedule<Document>(
        [snapshot, before = m_rendering](const std::atomic_bool&) {
            // The whole text is made here, off the GUI thread, once typing pauses.
            Document document;
            document.text = TextHelpers::repairedUTF16(snapshot.text());
            document.rendering = render(document.text, before);
            return document;
        },
        [this](Document document) {
            // Only the latest edit's render lands, so its text is the editor's.
            m_markdownText = document.text;
            m_editedText = CodeTextSnapshot();
            m_textFromEdit = false;
            publish(document.text, document.rendering);
        });
}

void MarkdownToolViewModel::setMarkdownText(const QString& text)
{
    const QString& current = markdownText();
    const bool changed = text.size() != current.size() || text != current;
    m_markdownText = text;
    if (changed) {
        if (!m_opener.droppedForAnEdit())
            setOpenError(QString());
        // Typed text is never overwritten by a file still being read.
        m_opener.markEdited();
        emit markdownTextChanged();
    }
    scheduleRender();
}

void MarkdownToolViewModel::scheduleRender()
{
    m_task.cancel();
    // Length first: most edits differ in length, so the comparison ends at once.
    if (m_markdownText.size() == m_renderedSource.size() && m_markdownText == m_renderedSource)
        return;
    const QString text = m_markdownText;
    m_task.schedule<Rendering>([text, before = m_rendering](const std::atomic_bool&) { return render(text, before); },
                               [this, text](Rendering rendering) { publish(text, rendering); });
}

void MarkdownToolViewModel::publish(const QString& source, const Rendering& rendering)
{
    m_renderedSource = source;
    // The HTML goes last, so the preview sees the new line count together with it.
    if (m_renderedLineCount != rendering.renderedLineCount) {
        m_renderedLineCount = rendering.renderedLineCount;
        emit renderedLineCountChanged();
    }
    if (m_lineCount != rendering.counts.lines) {
        m_lineCount = rendering.counts.lines;
        emit lineCountChanged();
    }
    if (m_wordCount != rendering.counts.words) {
        m_wordCount = rendering.counts.words;
        emit wordCountChanged();
    }
    m_renderedHTML = rendering.html;
    m_renderedHTMLByteCount = rendering.htmlByteCount;
    m_rendering = rendering.made;
    emit renderedHTMLChanged();
}

void MarkdownToolViewModel::open(const QUrl& fileUrl)
{
    // A render of the old text must not land after the opened document.
    m_task.cancel();
    setOpenError(QString());
    m_opener.open<Document>(
        fileUrl,
        [](QString text, const std::atomic_bool&) {
            // The editor keeps LF only.
            Document document;
            document.text = TextHelpers::normalizedLineBreaks(text);
            document.rendering = render(document.text);
            return document;
        },
        [this, fileUrl](Document document) {
            m_task.cancel();
            m_folderAccess->setDocumentFolder(fileUrl.adjusted(QUrl::RemoveFilename | QUrl::StripTrailingSlash));
            setOpenError(QString());
            if (m_fileUrl != fileUrl) {
                m_fileUrl = fileUrl;
                emit fileUrlChanged();
            }
            m_renderedSource = document.text;
            const bool textChanged = markdownText() != document.text;
            m_markdownText = document.text;
            if (textChanged)
                emit markdownTextChanged();
            publish(document.text, document.rendering);
            m_sync->reset();
            emit documentOpened();
        },
        [this](QString sentence) { setOpenError(sentence); });
}

bool MarkdownToolViewModel::isBusy() const
{
    return m_task.isPending() || m_task.isRunning() || m_opener.isOpening();
}

void MarkdownToolViewModel::setShowEditor(bool show)
{
    if (m_showEditor == show)
        return;
    m_showEditor = show;
    emit showEditorChanged();
}

void MarkdownToolViewModel::dismissOpenError()
{
    setOpenError(QString());
}

void MarkdownToolViewModel::setOpenError(const QString& sentence)
{
    if (m_openError == sentence)
        return;
    m_openError = sentence;
    emit openErrorChanged();
}

QUrl MarkdownToolViewModel::documentFolder() const
{
    if (m_fileUrl.isEmpty())
        return {};
    return m_fileUrl.adjusted(QUrl::RemoveFilename | QUrl::StripTrailingSlash);
}

MarkdownToolViewModel::Counts MarkdownToolViewModel::countLinesAndWords(const QString& text)
{
    Counts counts;
    counts.lines = int(LineCounter::lines(text));
    bool inWord = false;
    const QChar* units = text.constData();
    const qsizetype length = text.size();
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t unit = units[i].unicode();
        switch (unit) {
        case u'\r':
        case u'\n':
        case u' ':
        case u'\t':
            inWord = false;
            break;
        default:
            if (!inWord) {
                inWord = true;
                ++counts.words;
            }
        }
    }
    return counts;
}

MarkdownToolViewModel::Rendering MarkdownToolViewModel::render(const QString& text, const MarkdownIncrementalRender& before)
{
    Rendering rendering;
    rendering.made = before.next(text);
    rendering.html = rendering.made.html();
    rendering.htmlByteCount = TextHelpers::utf8Length(rendering.html);
    rendering.renderedLineCount = int(LineCounter::lines(text, LineCounter::EmptyText::oneLine));
    rendering.counts = countLinesAndWords(text);
    return rendering;
}

const QStringList& MarkdownToolViewModel::markdownExtensions()
{
    static const QStringList extensions = {QStringLiteral("md"),  QStringLiteral("markdown"), QStringLiteral("mdown"),
                                           QStringLiteral("mkd"), QStringLiteral("mkdn"),     QStringLiteral("txt"),
                                           QStringLiteral("text")};
    return extensions;
}

const QList<QMimeType>& MarkdownToolViewModel::markdownContentTypes()
{
    static const QList<QMimeType> types = [] {
        QMimeDatabase db;
        QList<QMimeType> list;
        list.append(db.mimeTypeForName(QStringLiteral("text/plain")));
        const QMimeType byExtension = db.mimeTypeForFile(QStringLiteral("x.md"), QMimeDatabase::MatchExtension);
        if (byExtension.isValid() && !byExtension.isDefault() && !list.contains(byExtension))
            list.append(byExtension);
        const QMimeType markdown = db.mimeTypeForName(QStringLiteral("text/markdown"));
        if (markdown.isValid() && !list.contains(markdown))
            list.append(markdown);
        return list;
    }();
    return types;
}

std::optional<QUrl> MarkdownToolViewModel::markdownFile(const QList<QUrl>& urls)
{
    QList<QUrl> files;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isDir())
            files.append(url);
    }
    for (const QUrl& url : files) {
        if (markdownExtensions().contains(QFileInfo(url.path()).suffix().toLower()))
            return url;
    }
    QMimeDatabase db;
    for (const QUrl& url : files) {
        const QString name = QFileInfo(url.path()).fileName();
        if (QFileInfo(name).suffix().isEmpty())
            continue;
        const QMimeType type = db.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
        if (!type.isValid() || type.isDefault())
            continue;
        for (const QMimeType& accepted : markdownContentTypes()) {
            if (type == accepted || type.inherits(accepted.name()))
                return url;
        }
    }
    return std::nullopt;
}
