#include "tools/mermaid/MermaidToolViewModel.h"

#include "kit/StatusColor.h"
#include "kit/TextHelpers.h"
#include "kit/TextUnits.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPointer>
#include <QSaveFile>

const QString MermaidToolViewModel::starterFlowchart = QStringLiteral(
    "flowchart TD\n"
    "    A[Open a .mmd file] --> B{Valid syntax?}\n"
    "    B -- yes --> C[Render diagram]\n"
    "    B -- no --> D[Keep last good render]\n"
    "    D --> E[Show the error inline]\n"
    "    C --> F[Pan and zoom]");

MermaidToolViewModel::MermaidToolViewModel(QObject* parent)
    : QObject(parent), m_source(starterFlowchart), m_metrics(starterFlowchart), m_renderSource(starterFlowchart),
      m_viewport(new MermaidViewportController(this)), m_editor(new MermaidEditorController(this)),
      m_export(new MermaidExportController(this))
{
    m_opener.setMemoryPerFileByte(memoryPerFileByte);
    m_renderTask.setFailureHandler([this](QuietTask::Failure failure) { setNotice(QuietTask::failureSentence(failure)); });
}

const QString& MermaidToolViewModel::source() const
{
    if (m_sourceFromEdit) {
        m_source = m_editedSource.text();
        m_editedSource = CodeTextSnapshot();
        m_sourceFromEdit = false;
    }
    return m_source;
}

bool MermaidToolViewModel::isSourceBlank() const
{
    if (!m_sourceFromEdit)
        return m_source.trimmed().isEmpty();
    return m_editedSourceBlank;
}

void MermaidToolViewModel::setSource(const QString& source)
{
    dismissNoticeOnEdit();
    m_opener.markEdited();
    if (TextUnits(source) == TextUnits(this->source()))
        return;
    m_source = source;
    sourceDidChange();
}

void MermaidToolViewModel::editSource(const CodeTextSnapshot& snapshot)
{
    dismissNoticeOnEdit();
    m_opener.markEdited();
    const bool wasBlank = isSourceBlank();
    m_editedSource = snapshot;
    m_sourceFromEdit = true;
    // Blank as `QString::trimmed` sees it, read in place.
    bool blank = true;
    snapshot.forEachPart([&blank](QStringView part) {
        for (const QChar c : part) {
            if (!c.isSpace()) {
                blank = false;
                return false;
            }
        }
        return true;
    });
    m_editedSourceBlank = blank;
    const MermaidSourceMetrics metrics(snapshot);
    if (!(metrics == m_metrics) || wasBlank != blank) {
        m_metrics = metrics;
        emit sourceMetricsChanged();
    }
    m_renderTask.cancel();
    m_renderTask.schedule<QString>([snapshot](const std::atomic_bool&) { return snapshot.text(); },
                                   [this](QString text) {
                                       // Only the latest edit's task lands: its text is the editor's.
                                       m_source = text;
                                       m_editedSource = CodeTextSnapshot();
                                       m_sourceFromEdit = false;
                                       if (TextUnits(text) != TextUnits(m_renderSource))
                                           setRenderSource(text);
                                   });
}

void MermaidToolViewModel::sourceDidChange()
{
    m_metrics = MermaidSourceMetrics(m_source);
    emit sourceChanged();
    scheduleRender();
}

void MermaidToolViewModel::scheduleRender()
{
    m_renderTask.cancel();
    if (TextUnits(source()) == TextUnits(m_renderSource))
        return;
    m_renderTask.schedule<QString>([text = m_source](const std::atomic_bool&) { return text; },
                                   [this](QString text) { setRenderSource(text); });
}

void MermaidToolViewModel::setRenderSource(const QString& source)
{
    m_renderSource = source;
    emit renderSourceChanged();
}

void MermaidToolViewModel::setTheme(MermaidTheme theme)
{
    if (theme == m_theme)
        return;
    m_theme = theme;
    emit themeChanged();
}

void MermaidToolViewModel::setDiagnostic(const std::optional<Diagnostic>& diagnostic)
{
    if (diagnostic == m_diagnostic)
        return;
    m_diagnostic = diagnostic;
    emit diagnosticChanged();
}

void MermaidToolViewModel::setNotice(const QString& notice)
{
    m_noticeFromOpen = false;
    if (notice == m_notice)
        return;
    m_notice = notice;
    emit noticeChanged();
}

void MermaidToolViewModel::applyOutcome(const MermaidPageProtocol::Outcome& outcome)
{
    if (const auto* engine = std::get_if<MermaidPageProtocol::EngineReady>(&outcome)) {
        if (engine->ready != m_engineReady) {
            m_engineReady = engine->ready;
            emit engineReadyChanged();
        }
    } else if (const auto* rendered = std::get_if<MermaidPageProtocol::Rendered>(&outcome)) {
        m_hasRendered = true;
        setDiagnostic(std::nullopt);
        // Each render says afresh which settings it went without; another notice (an open's, an
        // export's) stays unless there is something to say.
        const QString settings = ignoredSettingsNotice(rendered->ignoredSettings);
        if (!settings.isEmpty() || (!m_notice.isEmpty() && m_notice == m_settingsNotice))
            setNotice(settings);
        m_settingsNotice = settings;
        if (rendered->bytes != m_renderedBytes) {
            m_renderedBytes = rendered->bytes;
            emit renderedBytesChanged();
        }
    } else if (const auto* failed = std::get_if<MermaidPageProtocol::Failed>(&outcome)) {
        setDiagnostic(Diagnostic{failed->message, failed->line});
    }
}

QString MermaidToolViewModel::ignoredSettingsNotice(const QStringList& keys)
{
    if (keys.isEmpty())
        return {};
    constexpr qsizetype named = 12;
    QString list = keys.mid(0, named).join(QStringLiteral(", "));
    if (keys.size() > named)
        list += QStringLiteral(" and %1 more").arg(keys.size() - named);
    return QStringLiteral("The diagram was drawn without these settings: %1. A diagram may set plain colours, "
                          "numbers and font names, but not CSS, addresses or security settings.")
        .arg(list);
}

void MermaidToolViewModel::open(const QUrl& fileUrl)
{
    if (m_noticeFromOpen)
        setNotice(QString());
    m_opener.open(
        fileUrl,
        [this, fileUrl](QString text) {
            // The editor keeps LF only.
            if (text.contains(u'\r'))
                text = TextHelpers::normalizedLineBreaks(text);
            MermaidViewportController::call(m_viewport->requestAutoFit);
            setNotice(QString());
            if (fileUrl != m_fileURL) {
                m_fileURL = fileUrl;
                emit fileURLChanged();
            }
            // Rendered at once, without the quiet time.
            m_renderTask.cancel();
            setRenderSource(text);
            if (TextUnits(text) != TextUnits(source())) {
                m_source = text;
                sourceDidChange();
            }
        },
        [this](QString sentence) {
            setNotice(sentence);
            m_noticeFromOpen = true;
        });
}

void MermaidToolViewModel::dismissNoticeOnEdit()
{
    // An edit dismisses an earlier notice, except the one about a read an edit dropped.
    if (!(m_noticeFromOpen && m_opener.droppedForAnEdit()))
        setNotice(QString());
}

std::optional<QUrl> MermaidToolViewModel::acceptedFile(const QList<QUrl>& urls)
{
    QList<QUrl> files;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isDir())
            files << url;
    }
    for (const QUrl& url : files) {
        const QString suffix = QFileInfo(url.toLocalFile()).suffix().toLower();
        if (suffix == u"mmd" || suffix == u"mermaid")
            return url;
    }
    static const QMimeDatabase mimes;
    for (const QUrl& url : files) {
        const QString suffix = QFileInfo(url.toLocalFile()).suffix();
        if (suffix.isEmpty())
            continue;
        const QMimeType type = mimes.mimeTypeForFile(QStringLiteral("file.") + suffix, QMimeDatabase::MatchExtension);
        if (type.isValid() && !type.isDefault() && type.inherits(QStringLiteral("text/plain")))
            return url;
    }
    return std::nullopt;
}

const QStringList& MermaidToolViewModel::openPanelFilters()
{
    static const QStringList filters{QStringLiteral("Mermaid diagrams (*.mmd *.mermaid)"),
                                     QStringLiteral("Text files (*.txt *.text)"), QStringLiteral("All files (*)")};
    return filters;
}

std::optional<PaneBadge> MermaidToolViewModel::sourceBadge() const
{
    if (isSourceBlank())
        return std::nullopt;
    if (m_diagnostic)
        return PaneBadge(QStringLiteral("INVALID"), StatusColor::red());
    // Nothing has been checked before the engine has drawn anything.
    if (!m_engineReady || !m_hasRendered)
        return std::nullopt;
    return PaneBadge(QStringLiteral("VALID"), StatusColor::green());
}

std::optional<PaneBadge> MermaidToolViewModel::diagramBadge() const
{
    if (!m_engineReady)
        return PaneBadge(QStringLiteral("LOADING"), DynamicColor::secondary());
    if (m_diagnostic)
        return PaneBadge(QStringLiteral("STALE"), StatusColor::amber());
    return std::nullopt;
}

void MermaidToolViewModel::copy(MermaidExport::Format format, std::function<void(bool)> done)
{
    auto finish = [done](bool copied) {
        if (done)
            done(copied);
    };
    QClipboard* clipboard = QGuiApplication::clipboard();
    switch (format) {
    case MermaidExport::Format::source:
        clipboard->setText(source());
        return finish(true);
    case MermaidExport::Format::svg:
        if (!m_export->fetchSVG)
            return finish(false);
        m_export->fetchSVG([self = QPointer(this), finish](MermaidExportController::Fetched<QString> fetched) {
            if (!fetched.data) {
                if (self && !fetched.failure.isEmpty())
                    self->setNotice(fetched.failure);
                return finish(false);
            }
            QGuiApplication::clipboard()->setText(*fetched.data);
            finish(true);
        });
        return;
    case MermaidExport::Format::png:
        if (!m_export->fetchPNG)
            return finish(false);
        m_export->fetchPNG([self = QPointer(this), finish](MermaidExportController::Fetched<QByteArray> fetched) {
            if (!fetched.data) {
                if (self && !fetched.failure.isEmpty())
                    self->setNotice(fetched.failure);
                return finish(false);
            }
            auto* mime = new QMimeData;
            mime->setData(QStringLiteral("image/png"), *fetched.data);
            QGuiApplication::clipboard()->setMimeData(mime);
            finish(true);
        });
        return;
    }
}

QString MermaidToolViewModel::suggestedExportName(MermaidExport::Format format) const
{
    QString base = m_fileURL.isEmpty() ? QString() : QFileInfo(m_fileURL.fileName()).completeBaseName();
    if (base.isEmpty())
        base = QStringLiteral("diagram");
    return base + (format == MermaidExport::Format::png ? QStringLiteral(".png") : QStringLiteral(".svg"));
}

std::optional<QString> MermaidToolViewModel::writeFile(const QString& path, const QByteArray& data)
{
    QSaveFile file(path);
    const QString name = QFileInfo(path).fileName();
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        const QString reason = file.errorString();
        return reason.isEmpty() ? QStringLiteral("“%1” could not be saved.").arg(name)
                                : QStringLiteral("“%1” could not be saved: %2.").arg(name, reason);
    }
    return std::nullopt;
}

void MermaidToolViewModel::exportDiagram(MermaidExport::Format format, std::function<void(bool)> done)
{
    auto finish = [done](bool written) {
        if (done)
            done(written);
    };
    if (format == MermaidExport::Format::source)
        return finish(false);
    QPointer<MermaidToolViewModel> self(this);
    // Asks where to save once the data is there, and writes it.
    auto save = [self, format, finish](const QByteArray& data) {
        if (!self || !self->chooseSaveLocation)
            return finish(false);
        const std::optional<QString> path = self->chooseSaveLocation(self->suggestedExportName(format), format);
        if (!self || !path || path->isEmpty())
            return finish(false);
        if (std::optional<QString> failure = writeFile(*path, data)) {
            self->setNotice(*failure);
            return finish(false);
        }
        finish(true);
    };
    auto failed = [self, finish](const QString& failure) {
        if (self && !failure.isEmpty())
            self->setNotice(failure);
        finish(false);
    };
    if (format == MermaidExport::Format::png) {
        if (!m_export->fetchPNG)
            return finish(false);
        m_export->fetchPNG([save, failed](MermaidExportController::Fetched<QByteArray> fetched) {
            if (!fetched.data)
                return failed(fetched.failure);
            save(*fetched.data);
        });
        return;
    }
    if (!m_export->fetchSVG)
        return finish(false);
    m_export->fetchSVG([save, failed](MermaidExportController::Fetched<QString> fetched) {
        if (!fetched.data)
            return failed(fetched.failure);
        save(fetched.data->toUtf8());
    });
}
