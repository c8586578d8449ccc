#include "tools/json/ui/JSONToolView.h"

#include "kit/ByteSizeLabel.h"
#include "kit/DynamicColor.h"
#include "kit/StatusColor.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/Metric.h"
#include "kit/ui/MetricDivider.h"
#include "kit/ui/OpenPanel.h"
#include "kit/ui/PaneButton.h"
#include "kit/ui/PaneSplit.h"
#include "kit/ui/NoticeCard.h"
#include "kit/ui/SymbolIcon.h"
#include "kit/ui/ToolPane.h"
#include "kit/ui/ToolbarSearchField.h"
#include "kit/ui/ToolbarSearchItem.h"
#include "kit/ui/ToolbarSegmentedPicker.h"
#include "tools/json/JSONToolViewModel.h"
#include "kit/ui/CodeEditor.h"
#include "kit/ui/JSONColouring.h"
#include "kit/ui/AccessibleElement.h"
#include "kit/ui/PaletteBinding.h"
#include "kit/ui/FontScale.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QScopedValueRollback>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>

using JSONFormatter::Indent;
using JSONFormatter::SortMode;
using Pane = JSONToolViewModel::Pane;

namespace {

QString countText(qint64 n, const char* one, const char* many)
{
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

QVariant indentValue(Indent indent)
{
    return indent.kind == Indent::Kind::tabs ? QStringLiteral("tabs") : QString::number(indent.count);
}

const QStringList& openFilters()
{
    // Built once per process.
    static const QStringList filters = {QStringLiteral("JSON files (*.json)"), QStringLiteral("Text files (*.txt)"),
                                        QStringLiteral("All files (*)")};
    return filters;
}

} // namespace

JSONToolView::JSONToolView(JSONToolViewModel* model, QWidget* parent)
    : ToolView(parent), m_model(model), m_liveModel(model)
{
    setMinimumSize(640, 420);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(buildToolbar());
    root->addWidget(buildScopeBar());

    m_openError = new QLabel;
    m_openError->setTextFormat(Qt::PlainText);
    m_openError->setWordWrap(true);
    m_openError->setContentsMargins(12, 5, 12, 5);
    PaletteBinding::bind(m_openError, QPalette::WindowText, StatusColor::red());
    m_openError->hide();
    root->addWidget(m_openError);

    buildInputPane();
    buildOutputPane();

    root->addWidget(new PaneSplit(m_inputPane, 320, m_outputPane, 320, {460, 540}), 1);

    auto* formatShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), this);
    formatShortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(formatShortcut, &QShortcut::activated, this, [this] { m_model->showFormattedOutput(); });


    connectModel();
    refreshInputText();
    refreshOutputText();
    refreshValidation();
    refreshInputMetrics();
    refreshOutputMetrics();
    refreshOptions();
    refreshSearch();
    m_inputEditor->recordReveal(m_model->inputReveal());
    m_outputEditor->recordReveal(m_model->outputReveal());
    // The editors now show the model's texts, which it need not keep.
    m_model->setInputSource([editor = QPointer<CodeEditor>(m_inputEditor)] {
        return editor ? editor->snapshot() : CodeTextSnapshot();
    });
    m_model->setOutputSource([editor = QPointer<CodeEditor>(m_outputEditor)] {
        return editor ? editor->snapshot() : CodeTextSnapshot();
    });
}

QWidget* JSONToolView::buildToolbar()
{
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("jsonToolbar"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(10, 6, 10, 6);
    m_openButton = new QToolButton;
    m_openButton->setText(QStringLiteral("Open"));
    m_openButton->setIcon(symbolIcon(QStringLiteral("folder")));
    m_openButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_openButton->setToolTip(QStringLiteral("Open a JSON file (%1)").arg(QKeySequence(QKeySequence::Open).toString()));
    connect(m_openButton, &QToolButton::clicked, this, &JSONToolView::presentOpenPanel);
    row->addWidget(m_openButton);
    row->addStretch(1);
    m_search = new ToolbarSearchItem(QStringLiteral("Find"));
    m_search->setFocusHandle(&m_searchFocus);
    connect(m_search, &ToolbarSearchItem::textEdited, this, [this](const QString& text) { m_model->setSearchQuery(text); });
    m_search->setOnSubmit([this] {
        const bool backward = QGuiApplication::keyboardModifiers().testFlag(Qt::ShiftModifier);
        m_model->revealMatch(!backward);
    });
    row->addWidget(m_search);
    return bar;
}

QWidget* JSONToolView::buildScopeBar()
{
    m_scopeBar = new QWidget;
    m_scopeBar->setObjectName(QStringLiteral("jsonScopeBar"));
    m_scopeBar->setAutoFillBackground(true);
    auto* row = new QHBoxLayout(m_scopeBar);
    row->setContentsMargins(12, 5, 12, 5);
    row->setSpacing(8);
    auto* label = new QLabel(QStringLiteral("Search in:"));
    label->setTextFormat(Qt::PlainText);
    PaletteBinding::bind(label, QPalette::WindowText, DynamicColor::secondary());
    // The picker's own label says it.
    AccessibleElement::hide(label);
    row->addWidget(label);
    m_scopePicker = new ToolbarSegmentedPicker(
        QStringLiteral("Search in"),
        {{QStringLiteral("All text"), JSONSearch::rawValue(JSONSearch::Scope::all)},
         {QStringLiteral("Keys"), JSONSearch::rawValue(JSONSearch::Scope::keys)},
         {QStringLiteral("Values"), JSONSearch::rawValue(JSONSearch::Scope::values)}});
    m_scopePicker->setToolTip(QStringLiteral("Search all text, only keys, or only values"));
    connect(m_scopePicker, &ToolbarSegmentedPicker::activated, this, [this](const QVariant& value) {
        if (const auto scope = JSONSearch::scopeFromRawValue(value.toString()); scope && *scope != m_model->searchScope()) {
            m_model->setSearchScope(*scope);
            m_model->scheduleSearch();
        }
    });
    row->addWidget(m_scopePicker);
    row->addStretch(1);
    m_scopeBar->hide();
    return m_scopeBar;
}

JSONToolView::~JSONToolView()
{
    // A model that outlives this view takes its texts back before the editors go.
    if (m_liveModel) {
        m_liveModel->setInputSource(nullptr);
        m_liveModel->setOutputSource(nullptr);
    }
}

void JSONToolView::buildInputPane()
{
    m_inputPane = new ToolPane(QStringLiteral("Input"), ToolPane::Actions | ToolPane::Metrics);
    CodeEditor::Options options;
    options.isEditable = true;
    options.largeDocument = true;
    m_inputEditor = new CodeEditor(options);
    m_inputEditor->setOnSelectionChange([this](TextRange r) { m_model->selectionChanged(r, Pane::input); });
    connect(m_inputEditor, &CodeEditor::textEdited, this, [this](const TextEdit& edit) {
        // The editor already shows the user's edit: the model's echo of it is not set back.
        const QScopedValueRollback<bool> taking(m_takingInputEdit, true);
        m_model->editText(edit, [editor = QPointer<CodeEditor>(m_inputEditor)] {
            return editor ? editor->snapshot() : CodeTextSnapshot();
        });
    });
    m_inputPane->setContent(m_inputEditor);

    m_inputCopy = new PaneButton(QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), DynamicColor::secondary(),
                                 [this] {
                                     if (m_model->copyInput())
                                         flashCopy(true);
                                 });
    m_clear = new PaneButton(QStringLiteral("Clear"), QStringLiteral("trash"), DynamicColor::secondary(), [this] {
        m_model->setText(QString());
        m_model->scheduleFormat();
    });
    m_inputPane->addActionControl(m_inputCopy);
    m_inputPane->addActionControl(m_clear);

    m_inLines = new Metric(QString());
    m_inBytes = new Metric(QString());
    m_inKeysDivider = new MetricDivider;
    m_inKeys = new Metric(QString());
    m_inMatchDivider = new MetricDivider;
    m_inMatches = new Metric(QString());
    m_inputPane->addMetric(m_inLines);
    m_inputPane->addMetric(new MetricDivider);
    m_inputPane->addMetric(m_inBytes);
    m_inputPane->addMetric(m_inKeysDivider);
    m_inputPane->addMetric(m_inKeys);
    m_inputPane->addMetric(m_inMatchDivider);
    m_inputPane->addMetric(m_inMatches);
}

void JSONToolView::buildOutputPane()
{
    m_outputPane = new ToolPane(QStringLiteral("Output"), ToolPane::Config | ToolPane::Actions | ToolPane::Metrics);
    CodeEditor::Options options;
    options.isEditable = false;
    options.largeDocument = true;
    options.colouring = std::make_shared<JSONColouring>(options.largeDocument, !options.findBar);
    m_outputEditor = new CodeEditor(options);
    m_outputEditor->setOnSelectionChange([this](TextRange r) { m_model->selectionChanged(r, Pane::output); });

    m_outputStack = new QWidget;
    auto* stackLayout = new QVBoxLayout(m_outputStack);
    stackLayout->setContentsMargins(0, 0, 0, 0);
    stackLayout->addWidget(m_outputEditor);

    m_banner = new NoticeCard(m_outputStack);
    m_banner->headline()->setText(QStringLiteral("Invalid JSON"));
    m_banner->hide();
    m_outputStack->installEventFilter(this);
    m_outputPane->setContent(m_outputStack);

    m_modePicker = new ToolbarSegmentedPicker(QStringLiteral("Output Mode"),
                                              {{QStringLiteral("Format"), int(JSONToolViewModel::OutputMode::formatted)},
                                               {QStringLiteral("Minify"), int(JSONToolViewModel::OutputMode::minified)}});
    m_modePicker->setToolTip(QStringLiteral("Toggle between formatted and minified output"));
    connect(m_modePicker, &ToolbarSegmentedPicker::activated, this,
            [this](const QVariant& v) { m_model->setOutputMode(JSONToolViewModel::OutputMode(v.toInt())); });

    m_sort = new QPushButton;
    m_sort->setFlat(false);
    QFont small = m_sort->font();
    small.setPixelSize(11);
    FontScale::apply(m_sort, small);
    connect(m_sort, &QPushButton::clicked, this, [this] { m_model->cycleSortMode(); });

    m_indentPicker = new ToolbarSegmentedPicker(
        QStringLiteral("Indent"), {{QStringLiteral("2"), QStringLiteral("2"), QStringLiteral("2 spaces")},
                                   {QStringLiteral("4"), QStringLiteral("4"), QStringLiteral("4 spaces")},
                                   {QStringLiteral("\u21E5"), QStringLiteral("tabs"), QStringLiteral("Tabs")}});
    m_indentPicker->setToolTip(QStringLiteral("Indentation (Format only)"));
    connect(m_indentPicker, &ToolbarSegmentedPicker::activated, this, [this](const QVariant& v) {
        const QString raw = v.toString();
        const Indent indent = raw == QLatin1String("tabs") ? Indent::tabs() : Indent::spaces(raw.toInt());
        if (indent == m_model->indent())
            return;
        m_model->setIndent(indent);
        m_model->scheduleFormat();
    });
    m_outputPane->addConfigControl(m_modePicker);
    m_outputPane->addConfigControl(m_sort);
    m_outputPane->addConfigControl(m_indentPicker);

    m_outputCopy = new PaneButton(QStringLiteral("Copy"), QStringLiteral("doc.on.clipboard"), DynamicColor::secondary(),
                                  [this] {
                                      if (m_model->copyOutput())
                                          flashCopy(false);
                                  });
    m_outputPane->addActionControl(m_outputCopy);

    m_outLines = new Metric(QString());
    m_outBytes = new Metric(QString());
    m_outMatchDivider = new MetricDivider;
    m_outMatches = new Metric(QString());
    m_outputPane->addMetric(m_outLines);
    m_outputPane->addMetric(new MetricDivider);
    m_outputPane->addMetric(m_outBytes);
    m_outputPane->addMetric(m_outMatchDivider);
    m_outputPane->addMetric(m_outMatches);
}

void JSONToolView::connectModel()
{
    JSONToolViewModel* m = m_model;
    connect(m, &JSONToolViewModel::textChanged, this, [this] {
        refreshInputText();
        refreshValidation();
        refreshButtons();
    });
    connect(m, &JSONToolViewModel::shownOutputChanged, this, [this] {
        refreshOutputText();
        refreshOutputMetrics();
        refreshButtons();
        narrowTexts();
    });
    connect(m, &JSONToolViewModel::validationChanged, this, [this] {
        refreshValidation();
        refreshInputMetrics();
    });
    // An opened file's text is parsed by then: its editor may keep it as Latin-1 now.
    connect(m, &JSONToolViewModel::formatFinished, this, &JSONToolView::narrowTexts);
    connect(m, &JSONToolViewModel::inputMetricsChanged, this, &JSONToolView::refreshInputMetrics);
    connect(m, &JSONToolViewModel::formattedMetricsChanged, this, &JSONToolView::refreshOutputMetrics);
    connect(m, &JSONToolViewModel::minifiedMetricsChanged, this, &JSONToolView::refreshOutputMetrics);
    connect(m, &JSONToolViewModel::outputModeChanged, this, [this] {
        refreshOptions();
        refreshOutputMetrics();
        m_model->scheduleSearch();
    });
    connect(m, &JSONToolViewModel::indentChanged, this, &JSONToolView::refreshOptions);
    connect(m, &JSONToolViewModel::sortModeChanged, this, [this] {
        refreshOptions();
        m_model->scheduleFormat();
    });
    connect(m, &JSONToolViewModel::searchQueryChanged, this, &JSONToolView::refreshSearch);
    connect(m, &JSONToolViewModel::searchScopeChanged, this, &JSONToolView::refreshSearch);
    connect(m, &JSONToolViewModel::searchResultChanged, this, &JSONToolView::refreshMatches);
    connect(m, &JSONToolViewModel::currentMatchChanged, this, &JSONToolView::refreshMatches);
    connect(m, &JSONToolViewModel::inputRevealChanged, this, [this] {
        refreshMatches();
        m_inputEditor->setReveal(m_model->inputReveal());
    });
    connect(m, &JSONToolViewModel::outputRevealChanged, this, [this] {
        refreshMatches();
        m_outputEditor->setReveal(m_model->outputReveal());
    });
    connect(m, &JSONToolViewModel::fileUrlChanged, this, &JSONToolView::refreshTitle);
    connect(m, &JSONToolViewModel::openErrorChanged, this, [this] {
        m_openError->setText(m_model->openError());
        m_openError->setVisible(!m_model->openError().isEmpty());
    });
    connect(m, &JSONToolViewModel::beep, this, [] { QApplication::beep(); });
}

QString JSONToolView::titleText() const
{
    return QStringLiteral("%1 \u2014 %2").arg(title(), subtitle());
}

QString JSONToolView::title() const
{
    return m_model->fileUrl().isEmpty() ? QStringLiteral("Untitled")
                                        : QFileInfo(m_model->fileUrl().toLocalFile()).fileName();
}

void JSONToolView::refreshTitle()
{
    emit titleChanged();
}

void JSONToolView::refreshInputText()
{
    // A large text comes split into lines already, and is shown without being read here.
    if (!m_takingInputEdit) {
        if (std::optional<CodeTextBuffer> prepared = m_model->takeInputBuffer())
            m_inputEditor->setText(std::move(*prepared));
        else
            m_inputEditor->setText(m_model->text());
    }
    refreshMatches();
}

void JSONToolView::refreshOutputText()
{
    if (std::optional<CodeTextBuffer> prepared = m_model->takeShownOutputBuffer())
        m_outputEditor->setText(std::move(*prepared));
    else
        m_outputEditor->setText(m_model->shownOutput());
    refreshMatches();
}

void JSONToolView::narrowTexts()
{
    // Large texts shown read in place are kept as Latin-1 from now on, their copies made off the
    // GUI thread one text after the other, the input's first, as applying them frees the more.
    // Called once an output is made: the input is no longer being parsed.
    m_inputEditor->textView()->narrowTextLater();
    m_outputEditor->textView()->narrowTextLater();
}

void JSONToolView::refreshValidation()
{
    m_inputPane->setBadge(m_model->inputBadge());
    const auto& error = m_model->validation().error;
    const bool show = !m_model->isInputBlank() && error && !error->isEmpty();
    if (show)
        m_banner->message()->setText(*error);
    m_banner->setVisible(show);
    if (show)
        placeBanner();
}

void JSONToolView::refreshInputMetrics()
{
    const JSONTextMetrics metrics = m_model->inputMetrics();
    m_inLines->setText(countText(metrics.lines, "line", "lines"));
    m_inBytes->setText(byteSizeLabel(metrics.bytes));
    const auto keys = m_model->validation().topLevelKeyCount;
    m_inKeysDivider->setVisible(keys.has_value());
    m_inKeys->setVisible(keys.has_value());
    if (keys)
        m_inKeys->setText(countText(*keys, "key", "keys"));
}

void JSONToolView::refreshOutputMetrics()
{
    const JSONTextMetrics metrics = m_model->shownMetrics();
    m_outLines->setText(countText(metrics.lines, "line", "lines"));
    m_outBytes->setText(byteSizeLabel(metrics.bytes));
}

void JSONToolView::refreshMatches()
{
    m_inputEditor->setHighlights(m_model->inputMatches());
    m_inputEditor->setCurrent(m_model->currentMatch(Pane::input));
    m_outputEditor->setHighlights(m_model->outputMatches());
    m_outputEditor->setCurrent(m_model->currentMatch(Pane::output));
    const auto inStatus = m_model->matchStatus(Pane::input);
    const auto outStatus = m_model->matchStatus(Pane::output);
    m_inMatchDivider->setVisible(inStatus.has_value());
    m_inMatches->setVisible(inStatus.has_value());
    m_inMatches->setText(inStatus.value_or(QString()));
    m_outMatchDivider->setVisible(outStatus.has_value());
    m_outMatches->setVisible(outStatus.has_value());
    m_outMatches->setText(outStatus.value_or(QString()));
}

void JSONToolView::refreshOptions()
{
    const bool minified = m_model->outputMode() == JSONToolViewModel::OutputMode::minified;
    m_outputPane->setBadge(PaneBadge(minified ? QStringLiteral("MINIFIED") : QStringLiteral("FORMATTED"),
                                     DynamicColor::secondary()));
    m_modePicker->setSelection(int(m_model->outputMode()));
    m_indentPicker->setSelection(indentValue(m_model->indent()));
    m_indentPicker->setEnabled(!minified);
    switch (m_model->sortMode()) {
    case SortMode::none:
        m_sort->setIcon(symbolIcon(QStringLiteral("arrow.up.arrow.down")));
        m_sort->setText(QStringLiteral("Sort"));
        m_sort->setToolTip(QStringLiteral("Sort keys \u2014 click to cycle (off \u2192 asc \u2192 desc \u2192 off)"));
        break;
    case SortMode::ascending:
        m_sort->setIcon(symbolIcon(QStringLiteral("arrow.up")));
        m_sort->setText(QStringLiteral("Asc"));
        m_sort->setToolTip(QStringLiteral("Keys A \u2192 Z. Click for descending."));
        break;
    case SortMode::descending:
        m_sort->setIcon(symbolIcon(QStringLiteral("arrow.down")));
        m_sort->setText(QStringLiteral("Desc"));
        m_sort->setToolTip(QStringLiteral("Keys Z \u2192 A. Click to clear."));
        break;
    }
}

void JSONToolView::refreshSearch()
{
    if (m_search->text() != m_model->searchQuery())
        m_search->setText(m_model->searchQuery());
    m_scopePicker->setSelection(JSONSearch::rawValue(m_model->searchScope()));
    m_scopeBar->setVisible(!m_model->searchQuery().isEmpty());
    refreshMatches();
}

void JSONToolView::refreshButtons()
{
    m_inputCopy->setEnabled(!m_model->isTextEmpty());
    m_clear->setEnabled(!m_model->isTextEmpty());
    m_outputCopy->setEnabled(!m_model->isShownOutputEmpty());
}

void JSONToolView::flashCopy(bool input)
{
    PaneButton* button = input ? m_inputCopy : m_outputCopy;
    (input ? m_inputFlashing : m_outputFlashing) = true;
    button->setTitle(QStringLiteral("Copied"));
    button->setSystemImage(QStringLiteral("checkmark"));
    button->setTint(StatusColor::green());
    // Each click has its own reset; a second click does not extend the first one's.
    QTimer::singleShot(copyConfirmationMs, this, [this, input, showing = m_showing] {
        if (showing == m_showing)
            endCopyConfirmation(input);
    });
}

void JSONToolView::endCopyConfirmation(bool input)
{
    PaneButton* button = input ? m_inputCopy : m_outputCopy;
    (input ? m_inputFlashing : m_outputFlashing) = false;
    button->setTitle(QStringLiteral("Copy"));
    button->setSystemImage(input ? QStringLiteral("doc.on.doc") : QStringLiteral("doc.on.clipboard"));
    button->setTint(DynamicColor::secondary());
}

void JSONToolView::performFindAction(ToolView::FindAction action)
{
    switch (action) {
    case FindAction::showFindInterface:
        if (ToolbarSearchField* field = m_searchFocus.field(); field && field->window() && field->isVisible())
            m_searchFocus.focus();
        break;
    case FindAction::nextMatch:
        m_model->revealMatch(true);
        break;
    case FindAction::previousMatch:
        m_model->revealMatch(false);
        break;
    }
}

void JSONToolView::presentOpenPanel()
{
    auto* panel = new QFileDialog(this, QStringLiteral("Open"));
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setNameFilters(openFilters());
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    QPointer<JSONToolViewModel> model(m_model);
    ::presentOpenPanel(panel, [model](const QUrl& url) {
        if (model)
            model->open(url);
    });
}

void JSONToolView::placeBanner()
{
    if (!m_banner || !m_outputStack)
        return;
    const int maxWidth = std::max(0, m_outputStack->width() - 48);
    m_banner->setMaximumWidth(maxWidth);
    const int width = std::min(maxWidth, std::max(260, m_banner->sizeHint().width()));
    const int height = m_banner->heightForWidth(width) > 0 ? m_banner->heightForWidth(width) : m_banner->sizeHint().height();
    m_banner->setGeometry((m_outputStack->width() - width) / 2, (m_outputStack->height() - height) / 2, width, height);
    m_banner->raise();
}

void JSONToolView::showEvent(QShowEvent* event)
{
    ToolView::showEvent(event);
    refreshTitle();
    refreshButtons();
    QMetaObject::invokeMethod(this, [this] { m_model->refreshIfStale(); }, Qt::QueuedConnection);
}

void JSONToolView::hideEvent(QHideEvent* event)
{
    ToolView::hideEvent(event);
    // A minimised window hides its views too (spontaneously); only leaving the tool counts.
    if (event->spontaneous())
        return;
    ++m_showing;
    if (m_inputFlashing)
        endCopyConfirmation(true);
    if (m_outputFlashing)
        endCopyConfirmation(false);
}

void JSONToolView::resizeEvent(QResizeEvent* event)
{
    ToolView::resizeEvent(event);
    placeBanner();
}

bool JSONToolView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_outputStack && event->type() == QEvent::Resize)
        placeBanner();
    return QWidget::eventFilter(watched, event);
}
