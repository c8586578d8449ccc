#include "tools/codec/ui/CodecToolView.h"

#include "kit/ByteSizeLabel.h"
#include "kit/DynamicColor.h"
#include "kit/StatusColor.h"
#include "kit/ui/Metric.h"
#include "kit/ui/MetricDivider.h"
#include "kit/ui/PaneButton.h"
#include "kit/ui/PaneSplit.h"
#include "kit/ui/NoticeCard.h"
#include "kit/ui/SymbolIcon.h"
#include "kit/ui/ToolPane.h"
#include "kit/ui/ToolbarSegmentedPicker.h"
#include "tools/codec/CodecToolViewModel.h"
#include "kit/ui/CodeEditor.h"
#include "kit/ui/JSONColouring.h"
#include "kit/ui/FontScale.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScopedValueRollback>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Bundled toggle symbols the kit's symbol table does not name, tinted like the text.
QIcon toggleIcon(const QString& symbol, const QString& file)
{
    QIcon icon = symbolIcon(symbol);
    if (!icon.isNull())
        return icon;
    QPixmap source = QIcon(QStringLiteral(":/icons/%1.svg").arg(file)).pixmap(32, 32);
    if (source.isNull())
        return {};
    QPainter p(&source);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(source.rect(), QPalette().color(QPalette::WindowText));
    return QIcon(source);
}

QString linesText(qsizetype count)
{
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? QStringLiteral("line") : QStringLiteral("lines"));
}

} // namespace

CodecToolView::CodecToolView(CodecToolViewModel* model, QWidget* parent)
    : ToolView(parent), m_model(model), m_liveModel(model)
{
    setMinimumSize(640, 420);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(buildToolbar());

    buildInputPane();
    buildOutputPane();

    root->addWidget(new PaneSplit(m_inputPane, 280, m_outputPane, 360, {420, 580}), 1);

    connectModel();
    refreshInput();
    refreshInputMetrics();
    refreshChoices();
    refreshOutput(true);
}

QWidget* CodecToolView::buildToolbar()
{
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("codecToolbar"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(10, 6, 10, 6);
    row->setSpacing(8);
    row->addStretch(1);
    QList<ToolbarSegmentedPicker::Item> directions;
    for (Codec::Direction d : Codec::allDirections)
        directions.append({Codec::title(d), Codec::rawValue(d)});
    m_directionPicker = new ToolbarSegmentedPicker(QStringLiteral("Direction"), directions);
    m_directionPicker->setToolTip(QStringLiteral("Encode the input, or decode it"));
    connect(m_directionPicker, &ToolbarSegmentedPicker::activated, this, [this](const QVariant& value) {
        m_model->setDirection(value.toString() == QLatin1String("encode") ? Codec::Direction::encode : Codec::Direction::decode);
    });
    QList<ToolbarSegmentedPicker::Item> schemes;
    for (Codec::Scheme s : Codec::allSchemes)
        schemes.append({Codec::title(s), Codec::rawValue(s)});
    m_schemePicker = new ToolbarSegmentedPicker(QStringLiteral("Scheme"), schemes);
    m_schemePicker->setToolTip(QStringLiteral("The encoding to apply or remove"));
    connect(m_schemePicker, &ToolbarSegmentedPicker::activated, this, [this](const QVariant& value) {
        for (Codec::Scheme s : Codec::allSchemes) {
            if (Codec::rawValue(s) == value.toString())
                m_model->setScheme(s);
        }
    });
    row->addWidget(m_directionPicker);
    row->addWidget(m_schemePicker);
    return bar;
}

CodecToolView::~CodecToolView()
{
    // A model that outlives this view takes the edited input before the editor goes.
    if (m_liveModel)
        (void)m_liveModel->input();
}

void CodecToolView::buildInputPane()
{
    m_inputPane = new ToolPane(QStringLiteral("Input"), ToolPane::Actions | ToolPane::Metrics);
    CodeEditor::Options options;
    options.isEditable = true;
    // Lays out only what is in view, so pasting tens of megabytes stays responsive.
    options.largeDocument = true;
    m_inputEditor = new CodeEditor(options);
    connect(m_inputEditor, &CodeEditor::textEdited, this, [this](const TextEdit& edit) {
        // The editor already shows the user's edit: the model's echo of it is not set back.
        const QScopedValueRollback<bool> taking(m_takingInputEdit, true);
        m_model->editInput(edit, [editor = QPointer<CodeEditor>(m_inputEditor)] {
            return editor ? editor->snapshot() : CodeTextSnapshot();
        });
    });
    m_inputPane->setContent(m_inputEditor);

    m_inputCopy = new PaneButton(QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), DynamicColor::secondary(), [this] {
        CodecToolViewModel::copyToPasteboard(m_model->input());
        flash(true);
    });
    m_clear = new PaneButton(QStringLiteral("Clear"), QStringLiteral("trash"), DynamicColor::secondary(),
                             [this] { m_model->setInput(QString()); });
    m_inputPane->addActionControl(m_inputCopy);
    m_inputPane->addActionControl(m_clear);

    m_inLines = new Metric(QString());
    m_inBytes = new Metric(QString());
    m_inputPane->addMetric(m_inLines);
    m_inputPane->addMetric(new MetricDivider);
    m_inputPane->addMetric(m_inBytes);
}

void CodecToolView::buildOutputPane()
{
    m_outputPane = new ToolPane(QStringLiteral("Output"), ToolPane::Config | ToolPane::Actions | ToolPane::Metrics);
    m_outputStack = new QWidget;
    auto* stackLayout = new QVBoxLayout(m_outputStack);
    stackLayout->setContentsMargins(0, 0, 0, 0);
    makeOutputEditor(false);

    m_notice = new NoticeCard(m_outputStack);
    m_notice->dimMessage();
    m_notice->hide();
    m_outputStack->installEventFilter(this);
    m_outputPane->setContent(m_outputStack);

    struct OptionToggle {
        bool Codec::Options::*field;
        const char* symbol;
        const char* file;
        const char* title;
        const char* help;
    };
    const OptionToggle optionToggles[] = {
        {&Codec::Options::urlSafe, "link", "link", "URL-safe", "Use - and _ in place of + and /, and drop the = padding"},
        {&Codec::Options::plusForSpace, "plus", "plus", "+ as space", "Treat + as a space, as HTML forms and query strings do"},
        {&Codec::Options::inflate, "shippingbox", "shippingbox", "Unpack", "Unpack gzip or zlib data found after decoding"},
        {&Codec::Options::formatJSON, "curlybraces", "braces", "Format JSON", "Format decoded text that is a JSON object or array"},
    };
    for (const OptionToggle& option : optionToggles) {
        auto* toggle = new QToolButton;
        toggle->setCheckable(true);
        toggle->setAutoRaise(false);
        toggle->setText(QString::fromUtf8(option.title));
        toggle->setIcon(toggleIcon(QString::fromLatin1(option.symbol), QString::fromLatin1(option.file)));
        toggle->setIconSize(QSize(12, 12));
        toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        toggle->setToolTip(QString::fromUtf8(option.help));
        QFont small = toggle->font();
        small.setPixelSize(11);
        FontScale::apply(toggle, small);
        toggle->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        const auto field = option.field;
        connect(toggle, &QToolButton::toggled, this, [this, field](bool on) {
            Codec::Options options = m_model->options();
            if (options.*field == on)
                return;
            options.*field = on;
            m_model->setOptions(options);
        });
        m_outputPane->addConfigControl(toggle);
        m_toggles.append(toggle);
    }

    m_outputCopy = new PaneButton(QStringLiteral("Copy"), QStringLiteral("doc.on.clipboard"), DynamicColor::secondary(), [this] {
        m_model->copyOutput();
        flash(false);
    });
    m_swap = new PaneButton(QStringLiteral("Swap"), QStringLiteral("arrow.left.arrow.right"), DynamicColor::secondary(),
                            [this] { m_model->swap(); });
    m_swap->setToolTip(QStringLiteral("Move the output into the input and reverse the direction"));
    m_outputPane->addActionControl(m_outputCopy);
    m_outputPane->addActionControl(m_swap);

    m_outLines = new Metric(QString());
    m_outDivider = new MetricDivider;
    m_outBytes = new Metric(QString());
    m_outputPane->addMetric(m_outLines);
    m_outputPane->addMetric(m_outDivider);
    m_outputPane->addMetric(m_outBytes);
}

void CodecToolView::makeOutputEditor(bool json)
{
    // Highlighting switching on or off gets a new editor rather than an update.
    if (m_outputEditor)
        m_outputEditor->deleteLater();
    m_outputIsJSON = json;
    CodeEditor::Options options;
    options.isEditable = false;
    options.largeDocument = true;
    if (json)
        options.colouring = std::make_shared<JSONColouring>(options.largeDocument, !options.findBar);
    m_outputEditor = new CodeEditor(options, m_outputStack);
    m_outputEditor->setOnColumnsChange([this](int columns) { return m_model->fitDump(columns); });
    static_cast<QVBoxLayout*>(m_outputStack->layout())->addWidget(m_outputEditor);
    if (m_notice)
        m_notice->raise();
}

void CodecToolView::connectModel()
{
    CodecToolViewModel* m = m_model;
    connect(m, &CodecToolViewModel::inputChanged, this, [this] {
        refreshInput();
        refreshButtons();
    });
    connect(m, &CodecToolViewModel::inputMetricsChanged, this, &CodecToolView::refreshInputMetrics);
    connect(m, &CodecToolViewModel::schemeChanged, this, [this] {
        refreshChoices();
        m_model->scheduleTransform();
    });
    connect(m, &CodecToolViewModel::directionChanged, this, [this] {
        refreshChoices();
        m_model->scheduleTransform();
    });
    connect(m, &CodecToolViewModel::optionsChanged, this, [this] {
        refreshChoices();
        m_model->scheduleTransform();
    });
    connect(m, &CodecToolViewModel::shownOutputChanged, this, [this] { refreshOutput(true); });
    connect(m, &CodecToolViewModel::transformPublished, this, [this] { refreshOutput(false); });
}

QString CodecToolView::title() const
{
    return QStringLiteral("Encode / Decode");
}

QString CodecToolView::subtitle() const
{
    return Codec::title(m_model->direction()) + QStringLiteral(" \u00B7 ") + Codec::title(m_model->scheme());
}

void CodecToolView::refreshInput()
{
    // Any input but the user's own edit is set, whatever the editor shows.
    if (!m_takingInputEdit)
        m_inputEditor->setText(m_model->input());
    m_inputPane->setBadge(m_model->inputBadge());
}

void CodecToolView::refreshInputMetrics()
{
    m_inLines->setText(linesText(m_model->inputLineCount()));
    m_inBytes->setText(byteSizeLabel(m_model->inputByteSize()));
}

void CodecToolView::refreshChoices()
{
    const Codec::Scheme scheme = m_model->scheme();
    const Codec::Direction direction = m_model->direction();
    m_directionPicker->setSelection(Codec::rawValue(direction));
    m_schemePicker->setSelection(Codec::rawValue(scheme));
    const bool decode = direction == Codec::Direction::decode;
    const bool shown[] = {!decode && scheme == Codec::Scheme::base64, scheme == Codec::Scheme::url,
                          decode && Codec::supportsUnpacking(scheme), decode};
    const Codec::Options& options = m_model->options();
    const bool values[] = {options.urlSafe, options.plusForSpace, options.inflate, options.formatJSON};
    for (int i = 0; i < m_toggles.size(); ++i) {
        QSignalBlocker block(m_toggles[i]);
        m_toggles[i]->setChecked(values[i]);
        m_toggles[i]->setVisible(shown[i]);
    }
    m_inputPane->setBadge(m_model->inputBadge());
    m_outputPane->setBadge(m_model->outputBadge());
    emit titleChanged();
}

void CodecToolView::refreshOutput(bool shownChanged)
{
    const auto& output = m_model->output();
    const bool json = output && output->content == Codec::Content::json;
    const bool remade = json != m_outputIsJSON;
    if (remade)
        makeOutputEditor(json);
    m_outputEditor->setReflowID(m_model->shownBytesPerRow() ? std::optional(int(m_model->outputGeneration())) : std::nullopt);
    // The shown output is set when the model publishes a new one, and into a new editor.
    if (shownChanged || remade)
        m_outputEditor->setText(m_model->shownOutput(), [this] { return m_model->takeShownOutputBuffer(); });
    m_inputPane->setBadge(m_model->inputBadge());
    m_outputPane->setBadge(m_model->outputBadge());
    refreshOutputMetrics();
    refreshNotice();
    refreshButtons();
}

void CodecToolView::refreshOutputMetrics()
{
    const auto& output = m_model->output();
    if (!output) {
        m_outLines->hide();
        m_outDivider->hide();
        m_outBytes->setText(QStringLiteral("0 B"));
        return;
    }
    const bool binary = output->content == Codec::Content::binary;
    m_outLines->setVisible(!binary);
    m_outDivider->setVisible(!binary);
    m_outLines->setText(linesText(m_model->outputLineCount()));
    m_outBytes->setText(byteSizeLabel(output->byteCount));
}

void CodecToolView::refreshButtons()
{
    m_inputCopy->setEnabled(!m_model->isInputEmpty());
    m_clear->setEnabled(!m_model->isInputEmpty());
    const auto& output = m_model->output();
    m_outputCopy->setEnabled(output && !output->isEmpty());
    m_outputCopy->setToolTip(output && output->content == Codec::Content::binary
                                 ? QStringLiteral("Copy the hex dump with 16 bytes a row, as hexdump -C prints it")
                                 : QStringLiteral("Copy the output"));
    m_swap->setEnabled(m_model->canSwap());
}

void CodecToolView::refreshNotice()
{
    const auto& failure = m_model->failure();
    if (!failure) {
        m_notice->hide();
        return;
    }
    // The headline names the scheme of the run that failed, not a scheme chosen since.
    m_notice->headline()->setText(failure->isInputFault() ? QStringLiteral("Not ") + Codec::title(m_model->resultScheme())
                                                          : QStringLiteral("Could not unpack"));
    // The message can quote the input; the card's labels are Qt::PlainText, so it shows as typed.
    m_notice->message()->setText(failure->message());
    m_notice->show();
    placeNotice();
}

void CodecToolView::placeNotice()
{
    if (!m_notice || !m_outputStack)
        return;
    const int maxWidth = std::max(0, m_outputStack->width() - 48);
    m_notice->setMaximumWidth(maxWidth);
    const int width = std::min(maxWidth, std::max(260, m_notice->sizeHint().width()));
    const int height = m_notice->hasHeightForWidth() ? m_notice->heightForWidth(width) : m_notice->sizeHint().height();
    m_notice->setGeometry((m_outputStack->width() - width) / 2, (m_outputStack->height() - height) / 2, width,
                          std::max(height, m_notice->sizeHint().height()));
    m_notice->raise();
}

bool CodecToolView::isNoticeShown() const
{
    return m_notice && !m_notice->isHidden();
}

QString CodecToolView::noticeHeadline() const
{
    return m_notice->headline()->text();
}

QString CodecToolView::noticeMessage() const
{
    return m_notice->message()->text();
}

QStringList CodecToolView::outputMetricTexts() const
{
    QStringList texts;
    if (!m_outLines->isHidden())
        texts << m_outLines->text();
    texts << m_outBytes->text();
    return texts;
}

QStringList CodecToolView::inputMetricTexts() const
{
    return {m_inLines->text(), m_inBytes->text()};
}

void CodecToolView::flash(bool input)
{
    PaneButton* button = input ? m_inputCopy : m_outputCopy;
    ++(input ? m_inputFlashing : m_outputFlashing);
    button->setTitle(QStringLiteral("Copied"));
    button->setSystemImage(QStringLiteral("checkmark"));
    button->setTint(StatusColor::green());
    // The first confirmation to end clears the flag; a second copy does not lengthen it.
    QTimer::singleShot(copyConfirmationMs, this, [this, input] { endFlash(input); });
}

void CodecToolView::endFlash(bool input)
{
    int& count = input ? m_inputFlashing : m_outputFlashing;
    if (count == 0)
        return;
    count = 0;
    PaneButton* button = input ? m_inputCopy : m_outputCopy;
    button->setTitle(QStringLiteral("Copy"));
    button->setSystemImage(input ? QStringLiteral("doc.on.doc") : QStringLiteral("doc.on.clipboard"));
    button->setTint(DynamicColor::secondary());
}

void CodecToolView::showEvent(QShowEvent* event)
{
    ToolView::showEvent(event);
    emit titleChanged();
    refreshButtons();
    QPointer<CodecToolViewModel> model(m_model);
    QMetaObject::invokeMethod(this, [model] {
        if (model)
            model->transformIfStale();
    }, Qt::QueuedConnection);
}

bool CodecToolView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_outputStack && event->type() == QEvent::Resize)
        placeNotice();
    return ToolView::eventFilter(watched, event);
}
