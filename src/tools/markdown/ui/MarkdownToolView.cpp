#include "tools/markdown/ui/MarkdownToolView.h"

#include "kit/ByteSizeLabel.h"
#include "kit/DynamicColor.h"
#include "kit/PaneBadge.h"
#include "kit/ui/FindBar.h"
#include "kit/ui/FindableTextView.h"
#include "kit/ui/Metric.h"
#include "kit/ui/MetricDivider.h"
#include "kit/ui/OpenPanel.h"
#include "kit/ui/PaneButton.h"
#include "kit/ui/SymbolIcon.h"
#include "kit/ui/ToolPane.h"
#include "kit/FindController.h"
#include "tools/markdown/MarkdownFolderAccess.h"
#include "tools/markdown/MarkdownToolViewModel.h"
#include "tools/markdown/ScrollSyncController.h"
#include "tools/markdown/ui/MarkdownFindBar.h"
#include "tools/markdown/ui/MarkdownPreviewView.h"
#include "tools/markdown/ui/MarkdownPreviewWebView.h"
#include "tools/markdown/ui/MarkdownTextEditor.h"
#include "kit/ui/PaletteBinding.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace {

QString countText(int count, const char* singular, const char* plural)
{
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromLatin1(count == 1 ? singular : plural));
}

QWidget* banner(QWidget* parent, QLabel*& label, QWidget* button)
{
    auto* frame = new QFrame(parent);
    frame->setAutoFillBackground(true);
    frame->setFrameShape(QFrame::NoFrame);
    PaletteBinding::bind(frame, QPalette::Window, DynamicColor(QPalette::AlternateBase, 1.0));
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(10, 6, 10, 6);
    row->setSpacing(8);
    label = new QLabel(frame);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    row->addWidget(label, 1);
    if (button)
        row->addWidget(button, 0, Qt::AlignVCenter);
    frame->hide();
    return frame;
}

} // namespace

MarkdownToolView::MarkdownToolView(MarkdownToolViewModel* model, QWidget* parent) : ToolView(parent), m_model(model)
{
    acceptFileDrops([this](const QList<QUrl>& urls) { return openDropped(urls); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    buildToolbar();
    layout->addWidget(m_toolbar);

    m_split = new QSplitter(Qt::Horizontal, this);
    m_split->setChildrenCollapsible(false);
    m_split->addWidget(buildSource());
    m_split->addWidget(buildPreview());
    m_split->setStretchFactor(0, 0);
    m_split->setStretchFactor(1, 1);
    m_split->setSizes({460, 540});
    layout->addWidget(m_split, 1);

    m_sourceAnimation = new QVariantAnimation(this);
    m_sourceAnimation->setDuration(220);
    m_sourceAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_sourceAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        const int width = value.toInt();
        m_split->setSizes({width, std::max(0, m_split->width() - width)});
    });
    connect(m_sourceAnimation, &QVariantAnimation::finished, this, [this] {
        const bool show = m_model->showEditor();
        m_sourcePane->setMinimumWidth(280);
        m_sourcePane->setVisible(show);
        if (show)
            m_split->setSizes({m_sourceWidth, std::max(0, m_split->width() - m_sourceWidth)});
    });

    // Model → view.
    connect(model, &MarkdownToolViewModel::markdownTextChanged, this, &MarkdownToolView::showModelText);
    connect(model, &MarkdownToolViewModel::lineCountChanged, this, &MarkdownToolView::updateCounts);
    connect(model, &MarkdownToolViewModel::wordCountChanged, this, &MarkdownToolView::updateCounts);
    connect(model, &MarkdownToolViewModel::renderedHTMLChanged, this, &MarkdownToolView::updateSize);
    connect(model, &MarkdownToolViewModel::renderedHTMLChanged, this, &MarkdownToolView::pushContentToPreviewNow);
    connect(model, &MarkdownToolViewModel::fileUrlChanged, this, &MarkdownToolView::pushContentToPreview);
    connect(model, &MarkdownToolViewModel::fileUrlChanged, this, &MarkdownToolView::updateTitle);
    connect(model, &MarkdownToolViewModel::showEditorChanged, this, &MarkdownToolView::updateShowEditor);
    connect(model, &MarkdownToolViewModel::openErrorChanged, this, &MarkdownToolView::updateError);
    connect(model->folderAccess(), &MarkdownFolderAccess::opensChanged, this, &MarkdownToolView::pushContentToPreview);
    connect(model->folderAccess(), &MarkdownFolderAccess::needsAccessChanged, this,
            &MarkdownToolView::updateFolderAccess);
    FindController* find = model->find();
    connect(find, &FindController::isShowingBarChanged, this, &MarkdownToolView::updateFindState);
    connect(find, &FindController::queryChanged, this, &MarkdownToolView::updateFindState);
    connect(find, &FindController::lastSearchMatchedChanged, this, &MarkdownToolView::updateFindState);

    // View → model.
    connect(m_editor, &MarkdownTextEditor::textEdited, model, [this] { m_model->editMarkdownText(m_editor->snapshot()); });


    updateCounts();
    updateSize();
    updateFindState();
    updateFolderAccess();
    updateError();
    updateShowEditor();
}

MarkdownToolView::~MarkdownToolView()
{
    // The page answers searches still in flight while it is torn down, after this view's
    // widgets are gone: the controllers outlive the view and must not reach it then.
    if (m_model) {
        disconnect(m_model, nullptr, this, nullptr);
        disconnect(m_model->find(), nullptr, this, nullptr);
        disconnect(m_model->folderAccess(), nullptr, this, nullptr);
    }
}

void MarkdownToolView::buildToolbar()
{
    m_toolbar = new QToolBar(this);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toolbar->setIconSize(QSize(16, 16));
    m_toolbar->setMovable(false);

    m_openAction = m_toolbar->addAction(symbolIcon(QStringLiteral("folder")), QStringLiteral("Open"));
    m_openAction->setToolTip(QStringLiteral("Open a Markdown file (Ctrl+O)"));
    connect(m_openAction, &QAction::triggered, this, &MarkdownToolView::presentMarkdownOpenPanel);

    m_toggleSourceAction = m_toolbar->addAction(symbolIcon(QStringLiteral("chevron.left.forwardslash.chevron.right")),
                                                QStringLiteral("Hide Source"));
    m_toggleSourceAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+P")));
    m_toggleSourceAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_toggleSourceAction, &QAction::triggered, this,
            [this] { m_model->setShowEditor(!m_model->showEditor()); });

    auto* spacer = new QWidget(m_toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolbar->addWidget(spacer);

    m_findAction = m_toolbar->addAction(symbolIcon(QStringLiteral("magnifyingglass")), QStringLiteral("Find"));
    m_findAction->setToolTip(QStringLiteral("Find in the focused pane (Ctrl+F)"));
    connect(m_findAction, &QAction::triggered, this, &MarkdownToolView::showFind);
    // A tool bar's buttons take no focus by default: these are the tool's own controls, so Tab
    // reaches them.
    for (QAction* action : {m_openAction, m_toggleSourceAction, m_findAction}) {
        if (QWidget* button = m_toolbar->widgetForAction(action))
            button->setFocusPolicy(Qt::TabFocus);
    }
}

QWidget* MarkdownToolView::buildSource()
{
    m_sourcePane = new ToolPane(QStringLiteral("Source"), ToolPane::Metrics);
    m_sourcePane->setMinimumWidth(280);

    auto* content = new QWidget;
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    m_editorFind = new FindController(this);
    m_editorFindBar = new FindBar(m_editorFind, QStringLiteral("Find"), content);
    m_editorFindBar->hide();
    stack->addWidget(m_editorFindBar, 0, Qt::AlignHCenter);
    m_editor = new MarkdownTextEditor(m_model->sync(), content);
    m_editor->setText(m_model->markdownText());
    stack->addWidget(m_editor, 1);
    m_sourcePane->setContent(content);
    installEditorFind();

    m_lines = new Metric(QString());
    m_words = new Metric(QString());
    m_sourcePane->addMetric(m_lines);
    m_sourcePane->addMetric(new MetricDivider);
    m_sourcePane->addMetric(m_words);
    return m_sourcePane;
}

QWidget* MarkdownToolView::buildPreview()
{
    m_previewPane = new ToolPane(QStringLiteral("Preview"), ToolPane::Actions | ToolPane::Metrics);
    m_previewPane->setMinimumWidth(280);

    auto* content = new QWidget;
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    m_imagesButton = new PaneButton(QStringLiteral("Show Images\u2026"), QStringLiteral("photo"),
                                    DynamicColor::secondary(), [this] { requestImageFolderAccess(); });
    m_imagesButton->setToolTip(QStringLiteral("Allow Quorrix to read the folder that holds this document's images"));
    m_imagesButton->hide();
    m_previewPane->addActionControl(m_imagesButton);

    auto* dismiss = new QPushButton(QStringLiteral("Dismiss"));
    connect(dismiss, &QPushButton::clicked, this, [this] { m_model->dismissOpenError(); });
    m_errorBanner = banner(content, m_errorLabel, dismiss);
    stack->addWidget(m_errorBanner);

    m_previewFindBar = new MarkdownFindBar(m_model->find(), content);
    m_previewFindBar->hide();
    stack->addWidget(m_previewFindBar, 0, Qt::AlignHCenter);

    m_preview = new MarkdownPreviewView(m_model->renderedHTML(), m_model->renderedLineCount(),
                                        m_model->documentFolder(), m_model->folderAccess()->opens(),
                                        m_model->sync(), m_model->find(), m_model->folderAccess(), fileDrop(), content);
    stack->addWidget(m_preview, 1);
    m_previewPane->setContent(content);

    m_size = new Metric(QString());
    m_previewPane->addMetric(m_size);
    m_noMatchDivider = new MetricDivider;
    m_noMatch = new Metric(QStringLiteral("no match"));
    m_previewPane->addMetric(m_noMatchDivider);
    m_previewPane->addMetric(m_noMatch);
    return m_previewPane;
}

void MarkdownToolView::installEditorFind()
{
    // The editor's own find: searches its text, wrapping around, case-insensitively.
    QPointer<MarkdownTextEditor> editor(m_editor);
    m_editorFind->find = [editor](const QString& query, bool forward, std::function<bool()> isCurrent,
                                  std::function<void(bool)> answer) {
        if (!editor || !isCurrent()) {
            answer(false);
            return;
        }
        answer(FindableTextView::selectMatch(*editor, query, forward));
    };
    m_editorFind->clearHighlights = [editor] {
        if (!editor)
            return;
        const TextRange selection = editor->selection();
        editor->setSelection(selection.end(), selection.end());
    };
    connect(m_editorFind, &FindController::isShowingBarChanged, this, [this](bool showing) {
        // The focus leaves the bar before it hides: a hidden focus widget hands the focus on as if
        // by Tab, and the page then focuses and scrolls to its first link.
        if (!showing)
            m_editor->setFocus(Qt::OtherFocusReason);
        m_editorFindBar->setVisible(showing);
        if (showing) {
            m_editorFindBar->field()->setFocus();
            m_editorFindBar->field()->selectAll();
        }
    });
}

QString MarkdownToolView::titleText() const
{
    return QStringLiteral("%1 \u2014 %2").arg(title(), subtitle());
}

QString MarkdownToolView::title() const
{
    return m_model->fileUrl().isEmpty() ? QStringLiteral("Untitled")
                                        : QFileInfo(m_model->fileUrl().toLocalFile()).fileName();
}

void MarkdownToolView::updateTitle()
{
    emit titleChanged();
}

void MarkdownToolView::showEvent(QShowEvent* event)
{
    ToolView::showEvent(event);
}

void MarkdownToolView::showModelText()
{
    // An open publishes the text and the HTML in one go; a large text goes into the editor on
    // the next turn of the event loop, so the two halves do not add up to one long stall. The
    // model's text of that moment is shown, so an edit in between is not undone.
    constexpr qsizetype largeText = 1 << 20;
    const QString& text = m_model->markdownText();
    if (text.size() < largeText) {
        m_editorTextQueued = false;
        m_editor->setText(text);
        return;
    }
    if (m_editorTextQueued)
        return;
    m_editorTextQueued = true;
    QTimer::singleShot(0, this, [this] {
        if (!m_editorTextQueued)
            return;
        m_editorTextQueued = false;
        m_editor->setText(m_model->markdownText());
    });
}

void MarkdownToolView::pushContentToPreview()
{
    // An open publishes the folder, the file and the HTML one after another; the preview gets
    // them once, together.
    if (m_contentPushQueued)
        return;
    m_contentPushQueued = true;
    QTimer::singleShot(0, this, [this] {
        if (m_contentPushQueued)
            pushContentToPreviewNow();
    });
}

// The HTML comes last of an open's changes, and after an edit nothing else is waiting: it goes
// at once, ahead of the repaint its counts cause, and takes any queued push with it.
void MarkdownToolView::pushContentToPreviewNow()
{
    m_contentPushQueued = false;
    m_preview->setContent(m_model->renderedHTML(), m_model->renderedLineCount(), m_model->documentFolder(),
                          m_model->folderAccess()->opens(), m_model->renderedChange());
}

void MarkdownToolView::updateCounts()
{
    m_lines->setText(countText(m_model->lineCount(), "line", "lines"));
    m_words->setText(countText(m_model->wordCount(), "word", "words"));
}

void MarkdownToolView::updateSize()
{
    m_size->setText(byteSizeLabel(m_model->renderedHTMLByteCount(), QStringLiteral("html")));
}

void MarkdownToolView::updateFindState()
{
    FindController* find = m_model->find();
    const bool showing = find->isShowingBar();
    // Closing the bar hands the focus to the page without moving in it (see the editor's bar).
    if (!showing && m_previewFindBar->isAncestorOf(QApplication::focusWidget())) {
        if (QWidget* page = m_preview->webView())
            page->setFocus(Qt::OtherFocusReason);
        else
            m_preview->setFocus(Qt::OtherFocusReason);
    }
    m_previewFindBar->setVisible(showing);
    if (showing)
        m_previewPane->setBadge(PaneBadge(QStringLiteral("FIND"), DynamicColor::secondary()));
    else
        m_previewPane->setBadge(std::nullopt);
    const bool noMatch =
        showing && find->lastSearchMatched() == std::optional<bool>(false) && !find->query().isEmpty();
    m_noMatch->setVisible(noMatch);
    m_noMatchDivider->setVisible(noMatch);
}

void MarkdownToolView::updateFolderAccess()
{
    m_imagesButton->setVisible(m_model->folderAccess()->needsAccess());
}

void MarkdownToolView::updateError()
{
    m_errorLabel->setText(m_model->openError());
    m_errorBanner->setVisible(!m_model->openError().isEmpty());
}

void MarkdownToolView::updateShowEditor()
{
    const bool show = m_model->showEditor();
    animateSource(show);
    m_toggleSourceAction->setText(show ? QStringLiteral("Hide Source") : QStringLiteral("Show Source"));
    m_toggleSourceAction->setToolTip(show ? QStringLiteral("Hide the Markdown source (Ctrl+Alt+P)")
                                          : QStringLiteral("Show the Markdown source (Ctrl+Alt+P)"));
    setMinimumSize(show ? QSize(600, 400) : QSize(360, 400));
    if (!show && m_editorFind->isShowingBar())
        m_editorFind->done();
}

void MarkdownToolView::animateSource(bool show)
{
    m_sourceAnimation->stop();
    if (!isVisible()) {
        m_sourcePane->setVisible(show);
        return;
    }
    if (show == m_sourcePane->isVisible() && m_sourcePane->minimumWidth() > 0)
        return;
    const int total = m_split->width();
    const int from = m_sourcePane->isVisible() ? m_sourcePane->width() : 0;
    if (!show && from > 0)
        m_sourceWidth = from;
    const int to = show ? std::min(m_sourceWidth, std::max(0, total - m_previewPane->minimumWidth())) : 0;
    // The pane may be narrower than its minimum while it slides.
    m_sourcePane->setMinimumWidth(0);
    m_sourcePane->setVisible(true);
    m_split->setSizes({from, total - from});
    m_sourceAnimation->setStartValue(from);
    m_sourceAnimation->setEndValue(to);
    m_sourceAnimation->start();
}

bool MarkdownToolView::openDropped(const QList<QUrl>& urls)
{
    const std::optional<QUrl> url = MarkdownToolViewModel::markdownFile(urls);
    if (!url)
        return false;
    m_model->open(*url);
    return true;
}

void MarkdownToolView::presentMarkdownOpenPanel()
{
    auto* panel = new QFileDialog;
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    QStringList patterns;
    for (const QString& extension : MarkdownToolViewModel::markdownExtensions())
        patterns << QStringLiteral("*.%1").arg(extension);
    QStringList filters;
    filters << QStringLiteral("Markdown and text files (%1)").arg(patterns.join(QLatin1Char(' ')));
    QStringList mimeNames;
    for (const QMimeType& type : MarkdownToolViewModel::markdownContentTypes())
        mimeNames << type.filterString();
    filters << mimeNames;
    panel->setNameFilters(filters);
    QPointer<MarkdownToolViewModel> model(m_model);
    presentOpenPanel(panel, [model](const QUrl& url) {
        if (model)
            model->open(url);
    });
}

QString MarkdownToolView::folderPanelMessage() const
{
    const QString name = m_model->fileUrl().isEmpty() ? QStringLiteral("this document")
                                                       : QFileInfo(m_model->fileUrl().toLocalFile()).fileName();
    return QStringLiteral("To show the images in \u201C%1\u201D, allow Quorrix to read the folder they are in.").arg(name);
}

void MarkdownToolView::requestImageFolderAccess()
{
    auto* panel = new QFileDialog;
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly, true);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setLabelText(QFileDialog::Accept, QStringLiteral("Allow"));
    panel->setWindowTitle(folderPanelMessage());
    MarkdownFolderAccess* access = m_model->folderAccess();
    const QUrl start = !access->suggestedFolder().isEmpty() ? access->suggestedFolder() : access->documentFolder();
    if (!start.isEmpty())
        panel->setDirectoryUrl(start);
    QPointer<MarkdownFolderAccess> target(access);
    presentOpenPanel(panel, [target](const QUrl& url) {
        if (target)
            target->grant(url);
    });
}

void MarkdownToolView::showFind()
{
    const QWidget* focus = QApplication::focusWidget();
    const bool editorFocused = focus && (focus == m_editor || m_editor->isAncestorOf(focus) ||
                                         (m_editorFindBar->isVisible() && m_editorFindBar->isAncestorOf(focus)));
    if (m_model->showEditor() && editorFocused) {
        if (m_editorFind->isShowingBar()) {
            m_editorFindBar->field()->setFocus();
            m_editorFindBar->field()->selectAll();
        } else {
            m_editorFind->setShowingBar(true);
        }
        return;
    }
    if (m_model->find()->isShowingBar()) {
        focusPreviewFindField();
        return;
    }
    m_model->find()->setShowingBar(true);
}

void MarkdownToolView::focusPreviewFindField()
{
    m_previewFindBar->field()->setFocus(Qt::ShortcutFocusReason);
    m_previewFindBar->field()->selectAll();
}

void MarkdownToolView::handleFindInTool(ToolView::FindAction action)
{
    switch (action) {
    case FindAction::showFindInterface:
        showFind();
        break;
    case FindAction::nextMatch:
        m_model->find()->search(true);
        break;
    case FindAction::previousMatch:
        m_model->find()->search(false);
        break;
    }
}
