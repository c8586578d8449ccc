#pragma once

#include "kit/FileDrop.h"
#include "tools/markdown/MarkdownToolViewModel.h"

#include <QList>
#include <QPointer>
#include <QUrl>
#include "kit/ui/ToolView.h"

#include <QWidget>

class FindBar;
class FindController;
class MarkdownFindBar;
class FindController;
class MarkdownPreviewView;
class MarkdownTextEditor;
class Metric;
class QAction;
class QLabel;
class QPushButton;
class QSplitter;
class QVariantAnimation;
class QToolBar;
class ToolPane;
class PaneButton;

// The Markdown tool on screen: the source editor and the live preview side by side, the
// toolbar (Open, Hide Source, Find), the footers, the banners for images outside the granted
// folders and for files that could not be read, and the drop ring. It answers the shell's
// "openFile" and "findInTool" notifications and opens files dropped onto it. All state lives in
// the view model; the view keeps only whether a drag hovers.
class MarkdownToolView : public ToolView {
    Q_OBJECT
public:
    explicit MarkdownToolView(MarkdownToolViewModel* model, QWidget* parent = nullptr);
    ~MarkdownToolView() override;

    MarkdownToolViewModel* model() const { return m_model; }
    MarkdownTextEditor* editor() const { return m_editor; }
    MarkdownPreviewView* preview() const { return m_preview; }
    ToolPane* sourcePane() const { return m_sourcePane; }
    ToolPane* previewPane() const { return m_previewPane; }
    MarkdownFindBar* previewFindBar() const { return m_previewFindBar; }
    FindBar* editorFindBar() const { return m_editorFindBar; }
    FindController* editorFind() const { return m_editorFind; }
    QWidget* errorBanner() const { return m_errorBanner; }
    QLabel* errorLabel() const { return m_errorLabel; }
    PaneButton* imagesButton() const { return m_imagesButton; }
    Metric* linesMetric() const { return m_lines; }
    Metric* wordsMetric() const { return m_words; }
    Metric* sizeMetric() const { return m_size; }
    Metric* noMatchMetric() const { return m_noMatch; }
    QAction* openAction() const { return m_openAction; }
    QAction* toggleSourceAction() const { return m_toggleSourceAction; }
    // Slides the source pane in and out when "Hide Source" is toggled.
    QVariantAnimation* sourceAnimation() const { return m_sourceAnimation; }

    // "<file name> — Markdown", or "Untitled — Markdown" before any file is opened.
    QString titleText() const;

    bool runsOwnFind() const override { return true; }
    void findInTool(FindAction action) override { handleFindInTool(action); }
    void openFile() override { presentMarkdownOpenPanel(); }
    QString title() const override;
    QString subtitle() const override { return QStringLiteral("Markdown"); }

    // A drop of files onto the tool: opens the Markdown file among them; false when there is none.
    bool openDropped(const QList<QUrl>& urls);
    void presentMarkdownOpenPanel();
    void requestImageFolderAccess();
    // The folder dialog's message for the open document.
    QString folderPanelMessage() const;
    void showFind();
    void handleFindInTool(ToolView::FindAction action);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildToolbar();
    QWidget* buildSource();
    QWidget* buildPreview();
    void installEditorFind();
    void updateCounts();
    void updateSize();
    void updateFindState();
    void focusPreviewFindField();
    void updateFolderAccess();
    void updateError();
    void updateShowEditor();
    void animateSource(bool show);
    void updateTitle();
    void showModelText();
    void pushContentToPreview();
    void pushContentToPreviewNow();

    QPointer<MarkdownToolViewModel> m_model;
    QToolBar* m_toolbar = nullptr;
    QSplitter* m_split = nullptr;
    ToolPane* m_sourcePane = nullptr;
    ToolPane* m_previewPane = nullptr;
    MarkdownTextEditor* m_editor = nullptr;
    MarkdownPreviewView* m_preview = nullptr;
    MarkdownFindBar* m_previewFindBar = nullptr;
    FindBar* m_editorFindBar = nullptr;
    FindController* m_editorFind = nullptr;
    QWidget* m_errorBanner = nullptr;
    QLabel* m_errorLabel = nullptr;
    PaneButton* m_imagesButton = nullptr;
    Metric* m_lines = nullptr;
    Metric* m_words = nullptr;
    Metric* m_size = nullptr;
    QWidget* m_noMatchDivider = nullptr;
    Metric* m_noMatch = nullptr;
    QAction* m_openAction = nullptr;
    QAction* m_toggleSourceAction = nullptr;
    QAction* m_findAction = nullptr;
    QVariantAnimation* m_sourceAnimation = nullptr;
    int m_sourceWidth = 460;
    bool m_contentPushQueued = false;
    bool m_editorTextQueued = false;
};
