#pragma once

#include "kit/ui/ToolView.h"
#include "tools/mermaid/MermaidToolViewModel.h"

#include <QPointer>

#include <optional>

class Metric;
class MetricDivider;
class MermaidEditor;
class MermaidPreviewView;
class QLabel;
class QMenu;
class PaneSplit;
class QToolButton;
class ToolPane;


// The Mermaid tool: the source editor and the live diagram side by side, each in a pane with its
// controls and footer, a toolbar to open a file, show or hide the source and copy or export the
// diagram, the syntax-error banner over the diagram, and file drops anywhere on the tool.
// Everything it shows comes from the view model; everything it does goes to it.
class MermaidToolView : public ToolView {
    Q_OBJECT
public:
    explicit MermaidToolView(MermaidToolViewModel* model, QWidget* parent = nullptr);

    // The banner's heading for a failure that names no line.
    static inline const QString notDrawnHeading = QStringLiteral("Diagram not drawn");

    void openFile() override;
    QString title() const override;
    QString subtitle() const override { return QStringLiteral("Mermaid"); }

    MermaidToolViewModel* model() const { return m_model; }
    MermaidEditor* editor() const { return m_editor; }
    MermaidPreviewView* preview() const { return m_preview; }
    ToolPane* sourcePane() const { return m_sourcePane; }
    ToolPane* diagramPane() const { return m_diagramPane; }
    QWidget* banner() const { return m_banner; }
    QToolButton* copyButton() const { return m_copyButton; }
    void setEditorShown(bool shown);
    // The theme name the page receives now.
    QString pageTheme() const;

    // The copy menu's routine: copies, then shows "Copied" or "Nothing to copy" for 1.4 s.
    void copyDiagram(MermaidExport::Format format);
    void applyTemplate(int index);
    bool openDropped(const QList<QUrl>& urls);

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* buildToolbar();
    void buildSourcePane();
    void buildDiagramPane();
    void connectModel();
    void refreshBadges();
    void refreshSourceMetrics();
    void refreshDiagramMetrics();
    void refreshBanner();
    void refreshNotice();
    void refreshPreview();
    void refreshMinimumWidth();
    void placeBanner();
    std::optional<QString> chooseSaveLocation(const QString& suggestedName, MermaidExport::Format format);

    QPointer<MermaidToolViewModel> m_model;
    QWidget* m_toolbar = nullptr;
    QToolButton* m_openButton = nullptr;
    QToolButton* m_sourceToggle = nullptr;
    QToolButton* m_copyButton = nullptr;
    QLabel* m_notice = nullptr;
    PaneSplit* m_split = nullptr;
        ToolPane* m_sourcePane = nullptr;
    ToolPane* m_diagramPane = nullptr;
    MermaidEditor* m_editor = nullptr;
    MermaidPreviewView* m_preview = nullptr;
    QWidget* m_previewStack = nullptr;
    QWidget* m_banner = nullptr;
    QLabel* m_bannerHeading = nullptr;
    QLabel* m_bannerMessage = nullptr;
    Metric* m_typeMetric = nullptr;
    Metric* m_lineMetric = nullptr;
    Metric* m_zoomMetric = nullptr;
    MetricDivider* m_bytesDivider = nullptr;
    Metric* m_bytesMetric = nullptr;
    QToolButton* m_themeButton = nullptr;
    bool m_showEditor = true;
    quint64 m_copyFlashes = 0;
};
