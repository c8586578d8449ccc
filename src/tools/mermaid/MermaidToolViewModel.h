#pragma once

#include "kit/CodeTextSnapshot.h"
#include "kit/FileOpener.h"
#include "kit/PaneBadge.h"
#include "kit/QuietTask.h"
#include "tools/mermaid/MermaidEditorController.h"
#include "tools/mermaid/MermaidExportController.h"
#include "tools/mermaid/MermaidPageProtocol.h"
#include "tools/mermaid/MermaidSourceMetrics.h"
#include "tools/mermaid/MermaidTheme.h"
#include "tools/mermaid/MermaidViewportController.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// What a copy or an export produces.
namespace MermaidExport {
enum class Format { svg, png, source };
}

// The Mermaid tool's one document: the source the user edits, the source the preview renders
// (it follows the source after 0.18 s of quiet), the result of the last render, the theme and
// the file the source came from. It opens files, picks the file to take from a drop, computes the
// two pane badges, and copies or exports the rendered diagram through the export controller.
// GUI thread only.
class MermaidToolViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(QString renderSource READ renderSource NOTIFY renderSourceChanged)
    Q_PROPERTY(qint64 renderedBytes READ renderedBytes NOTIFY renderedBytesChanged)
    Q_PROPERTY(bool engineReady READ engineReady NOTIFY engineReadyChanged)
    Q_PROPERTY(QUrl fileURL READ fileURL NOTIFY fileURLChanged)
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)
public:
    struct Diagnostic {
        QString message;
        std::optional<qint64> line;
        friend bool operator==(const Diagnostic&, const Diagnostic&) = default;
    };

    static constexpr int quietMs = 180;
    // The bytes of memory the tool holds per byte of an opened file, at the most (measured:
    // about 15 at the peak of an open: the text, the editor and the diagram page).
    static constexpr double memoryPerFileByte = 16;
    static const QString starterFlowchart;

    explicit MermaidToolViewModel(QObject* parent = nullptr);

    // The wait after the last edit before the source is rendered (tests use 0).
    void setQuietTime(int ms) { m_renderTask.setQuietTime(ms); }

    // After the editor's edits, taken from its latest snapshot when first asked for.
    const QString& source() const;
    // The user's edit: the metrics follow at once, the render after the quiet time; a file still
    // being read is dropped (the edit wins).
    void setSource(const QString& source);
    // The same for the editor's own change, as its text after it: `sourceChanged` is not
    // emitted back at the editor (`sourceMetricsChanged` is), and the text is made from the
    // snapshot once the quiet time is over. A diagram is parsed and drawn whole, so the edited
    // range would not spare any work.
    void editSource(const CodeTextSnapshot& snapshot);
    const MermaidSourceMetrics& sourceMetrics() const { return m_metrics; }
    const QString& renderSource() const { return m_renderSource; }
    const std::optional<Diagnostic>& diagnostic() const { return m_diagnostic; }
    qint64 renderedBytes() const { return m_renderedBytes; }
    bool engineReady() const { return m_engineReady; }
    const QUrl& fileURL() const { return m_fileURL; }
    MermaidTheme theme() const { return m_theme; }
    void setTheme(MermaidTheme theme);
    // The last sentence for the user about an open or an export; empty when there is none.
    const QString& notice() const { return m_notice; }

    MermaidViewportController* viewport() const { return m_viewport; }
    MermaidEditorController* editor() const { return m_editor; }
    MermaidExportController* exporter() const { return m_export; }

    // The preview's report of readiness or of the newest render. A render that went without
    // some of the settings its source asked for says so in the notice.
    void applyOutcome(const MermaidPageProtocol::Outcome& outcome);
    // The notice for settings a render ignored; empty for none.
    static QString ignoredSettingsNotice(const QStringList& keys);

    // Reads the file off the GUI thread; the newest open wins, and an edit made meanwhile wins
    // over the file. A file that cannot be read leaves everything as it was and gets a sentence.
    void open(const QUrl& fileUrl);
    bool isOpening() const { return m_opener.isOpening(); }
    // Of dropped URLs, the one the tool takes: the first .mmd or .mermaid file, else the first
    // text file by its extension.
    static std::optional<QUrl> acceptedFile(const QList<QUrl>& urls);
    // Name filters for the open dialog.
    static const QStringList& openPanelFilters();

    std::optional<PaneBadge> sourceBadge() const;
    std::optional<PaneBadge> diagramBadge() const;

    // Puts the diagram (fetched from the page) or the source on the clipboard; `done` learns
    // whether anything was copied.
    void copy(MermaidExport::Format format, std::function<void(bool)> done = {});
    // Fetches the diagram, asks `chooseSaveLocation` where to save it and writes it atomically;
    // `done` learns whether a file was written. A failure the user should know of (the page's
    // own sentence, a failed write) becomes the notice.
    void exportDiagram(MermaidExport::Format format, std::function<void(bool)> done = {});
    // The file name offered for an export: the opened file's base name or "diagram".
    QString suggestedExportName(MermaidExport::Format format) const;
    // Asks the user for a file to write (the suggested name, the format); nothing on cancel.
    std::function<std::optional<QString>(const QString& suggestedName, MermaidExport::Format format)> chooseSaveLocation;

    // Writes `data` to `path` through a temporary file; the sentence for the user on failure.
    static std::optional<QString> writeFile(const QString& path, const QByteArray& data);

signals:
    // The program set the source (`setSource`, an open); not for `editSource`.
    void sourceChanged();
    // After `editSource`: the metrics or the blankness behind the source badge changed.
    void sourceMetricsChanged();
    void renderSourceChanged();
    void diagnosticChanged();
    void renderedBytesChanged();
    void engineReadyChanged();
    void fileURLChanged();
    void themeChanged();
    void noticeChanged();

private:
    void sourceDidChange();
    bool isSourceBlank() const;
    void scheduleRender();
    void setRenderSource(const QString& source);
    void setDiagnostic(const std::optional<Diagnostic>& diagnostic);
    void setNotice(const QString& notice);
    void dismissNoticeOnEdit();

    mutable QString m_source;
    // The editor's text since its last edit, while `m_source` lags behind it.
    mutable CodeTextSnapshot m_editedSource;
    mutable bool m_sourceFromEdit = false;
    bool m_editedSourceBlank = false;
    MermaidSourceMetrics m_metrics;
    QString m_renderSource;
    std::optional<Diagnostic> m_diagnostic;
    qint64 m_renderedBytes = 0;
    bool m_engineReady = false;
    bool m_hasRendered = false;
    QUrl m_fileURL;
    MermaidTheme m_theme = MermaidTheme::system;
    QString m_notice;
    // The notice the last render gave about its settings, empty for none.
    QString m_settingsNotice;
    MermaidViewportController* m_viewport;
    MermaidEditorController* m_editor;
    MermaidExportController* m_export;
    QuietTask m_renderTask{quietMs, this};
    FileOpener m_opener{this};
    bool m_noticeFromOpen = false;
};
