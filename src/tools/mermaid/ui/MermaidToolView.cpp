#include "tools/mermaid/ui/MermaidToolView.h"

#include "kit/ByteSizeLabel.h"
#include "kit/DynamicColor.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/Metric.h"
#include "kit/ui/MetricDivider.h"
#include "kit/ui/OpenPanel.h"
#include "kit/ui/PaneSplit.h"
#include "kit/ui/RoundedPanel.h"
#include "kit/ui/ToolPane.h"
#include "tools/mermaid/MermaidTemplates.h"
#include "tools/mermaid/MermaidToolViewModel.h"
#include "tools/mermaid/ui/MermaidEditor.h"
#include "tools/mermaid/ui/MermaidPreviewView.h"
#include "tools/mermaid/ui/MermaidSymbols.h"
#include "kit/ui/FontScale.h"
#include "kit/ui/PaletteBinding.h"
#include "kit/ui/AccessibleElement.h"

#include <QActionGroup>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QShortcut>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

using MermaidExport::Format;

namespace {

constexpr int bannerIconSize = 16;

// The first `count` lines of `text` as a label `width` wide in `font` wraps it, the last of them
// ending in an ellipsis when more of the text follows.
QString firstLines(const QString& text, const QFont& font, int width, int count)
{
    // A message may quote a whole source; three lines never need more than its start, and laying
    // out megabytes would stall the window.
    constexpr qsizetype enough = 4096;
    const bool cut = text.size() > enough;
    const QStringList paragraphs = (cut ? text.left(enough) : text).split(u'\n');
    const QFontMetrics metrics(font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QStringList kept;
    for (qsizetype p = 0; p < paragraphs.size(); ++p) {
        const QString& paragraph = paragraphs[p];
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(1, width));
            const qsizetype end = line.textStart() + line.textLength();
            const bool last = kept.size() + 1 == count;
            const bool beyond = p + 1 < paragraphs.size() || cut;
            if (last && (end < paragraph.size() || beyond)) {
                QString rest = paragraph.mid(line.textStart());
                if (beyond)
                    rest += QChar(0x2026);
                kept << metrics.elidedText(rest, Qt::ElideRight, std::max(1, width));
                layout.endLayout();
                return kept.join(u'\n');
            }
            // The line's text without the blanks it broke at; leading ones stay, as they may
            // set a marker under a column of the line above.
            QString shown = paragraph.mid(line.textStart(), line.textLength());
            while (!shown.isEmpty() && shown.back().isSpace())
                shown.chop(1);
            kept << shown;
        }
        layout.endLayout();
        if (kept.size() >= count)
            break;
    }
    if (cut && !kept.isEmpty())
        kept.last() += QChar(0x2026);
    return kept.join(u'\n');
}

QToolButton* headerButton(const QString& title, const QString& symbol, QWidget* parent = nullptr)
{
    auto* button = new QToolButton(parent);
    button->setText(title);
    button->setIcon(mermaidSymbolIcon(symbol));
    button->setIconSize(QSize(14, 14));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setToolTip(title);
    QFont font = button->font();
    font.setPixelSize(11);
    FontScale::apply(button, font);
    return button;
}

QString lineCountText(qsizetype lines)
{
    return QString::number(lines) + (lines == 1 ? QStringLiteral(" line") : QStringLiteral(" lines"));
}

const QString sourceShortcut = QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_P).toString(QKeySequence::NativeText);

} // namespace

MermaidToolView::MermaidToolView(MermaidToolViewModel* model, QWidget* parent) : ToolView(parent), m_model(model)
{
    acceptFileDrops([this](const QList<QUrl>& urls) { return openDropped(urls); });
    setMinimumHeight(420);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(buildToolbar());

    m_notice = new QLabel;
    m_notice->setTextFormat(Qt::PlainText);
    m_notice->setWordWrap(true);
    m_notice->setContentsMargins(12, 5, 12, 5);
    m_notice->hide();
    root->addWidget(m_notice);

    buildSourcePane();
    buildDiagramPane();

    m_split = new PaneSplit(m_sourcePane, 280, m_diagramPane, 320, {420, 600});
    m_split->setStretchFactor(0, 0);
    m_split->setStretchFactor(1, 1);
    m_split->setSizes({420, 600});
    root->addWidget(m_split, 1);

    auto* toggle = new QShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_P), this);
    toggle->setContext(Qt::WidgetWithChildrenShortcut);
    connect(toggle, &QShortcut::activated, this, [this] { setEditorShown(!m_showEditor); });

    m_model->chooseSaveLocation = [self = QPointer(this)](const QString& name, Format format) -> std::optional<QString> {
        if (!self)
            return std::nullopt;
        return self->chooseSaveLocation(name, format);
    };

    connectModel();
    refreshBadges();
    refreshSourceMetrics();
    refreshDiagramMetrics();
    refreshBanner();
    refreshNotice();
    refreshMinimumWidth();
}

QWidget* MermaidToolView::buildToolbar()
{
    m_toolbar = new QWidget;
    m_toolbar->setObjectName(QStringLiteral("mermaidToolbar"));
    auto* row = new QHBoxLayout(m_toolbar);
    row->setContentsMargins(10, 6, 10, 6);

    m_openButton = new QToolButton;
    m_openButton->setText(QStringLiteral("Open"));
    m_openButton->setIcon(mermaidSymbolIcon(QStringLiteral("folder")));
    m_openButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_openButton->setToolTip(
        QStringLiteral("Open a Mermaid file (%1)").arg(QKeySequence(QKeySequence::Open).toString(QKeySequence::NativeText)));
    connect(m_openButton, &QToolButton::clicked, this, &MermaidToolView::openFile);
    row->addWidget(m_openButton);

    m_sourceToggle = new QToolButton;
    m_sourceToggle->setIcon(mermaidSymbolIcon(QStringLiteral("chevron.left.forwardslash.chevron.right")));
    m_sourceToggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    connect(m_sourceToggle, &QToolButton::clicked, this, [this] { setEditorShown(!m_showEditor); });
    row->addWidget(m_sourceToggle);
    row->addStretch(1);

    m_copyButton = new QToolButton;
    m_copyButton->setText(QStringLiteral("Copy"));
    m_copyButton->setIcon(mermaidSymbolIcon(QStringLiteral("doc.on.doc")));
    m_copyButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_copyButton->setPopupMode(QToolButton::InstantPopup);
    m_copyButton->setToolTip(QStringLiteral("Copy or export the diagram"));
    auto* menu = new QMenu(m_copyButton);
    menu->addAction(QStringLiteral("Copy Diagram as PNG"), this, [this] { copyDiagram(Format::png); });
    menu->addAction(QStringLiteral("Copy Diagram as SVG"), this, [this] { copyDiagram(Format::svg); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Copy Mermaid Source"), this, [this] { copyDiagram(Format::source); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Export as PNG…"), this, [this] {
        if (m_model)
            m_model->exportDiagram(Format::png);
    });
    menu->addAction(QStringLiteral("Export as SVG…"), this, [this] {
        if (m_model)
            m_model->exportDiagram(Format::svg);
    });
    m_copyButton->setMenu(menu);
    row->addWidget(m_copyButton);
    return m_toolbar;
}

void MermaidToolView::buildSourcePane()
{
    m_sourcePane = new ToolPane(QStringLiteral("Source"), ToolPane::Config | ToolPane::Metrics);

    auto* templates = headerButton(QStringLiteral("Templates"), QStringLiteral("plus.rectangle.on.rectangle"));
    templates->setPopupMode(QToolButton::InstantPopup);
    templates->setAutoRaise(true);
    templates->setToolTip(QStringLiteral("Replace the document with a starter diagram (%1 to undo)")
                              .arg(QKeySequence(QKeySequence::Undo).toString(QKeySequence::NativeText)));
    auto* menu = new QMenu(templates);
    const auto& all = MermaidTemplates::all();
    for (int i = 0; i < all.size(); ++i) {
        QAction* action = menu->addAction(mermaidSymbolIcon(all[i].symbol), all[i].name, this, [this, i] { applyTemplate(i); });
        action->setData(all[i].id);
    }
    templates->setMenu(menu);
    m_sourcePane->addConfigControl(templates);

    m_editor = new MermaidEditor(m_model->source(), m_model->editor());
    connect(m_editor, &MermaidEditor::textEdited, this, [this] {
        if (m_model)
            m_model->editSource(m_editor->textView()->snapshot());
    });
    m_sourcePane->setContent(m_editor);

    m_typeMetric = new Metric(QString());
    m_lineMetric = new Metric(QString());
    m_sourcePane->addMetric(m_typeMetric);
    m_sourcePane->addMetric(new MetricDivider);
    m_sourcePane->addMetric(m_lineMetric);
}

void MermaidToolView::buildDiagramPane()
{
    m_diagramPane = new ToolPane(QStringLiteral("Diagram"), ToolPane::Config | ToolPane::Metrics);

    m_themeButton = headerButton(QString(), QStringLiteral("paintpalette"));
    m_themeButton->setPopupMode(QToolButton::InstantPopup);
    m_themeButton->setAutoRaise(true);
    m_themeButton->setToolTip(QStringLiteral("Diagram theme"));
    auto* themeMenu = new QMenu(m_themeButton);
    auto* group = new QActionGroup(themeMenu);
    for (MermaidTheme theme : MermaidThemes::all()) {
        QAction* action = themeMenu->addAction(MermaidThemes::label(theme));
        action->setCheckable(true);
        action->setData(MermaidThemes::rawValue(theme));
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, theme] {
            if (m_model)
                m_model->setTheme(theme);
        });
    }
    m_themeButton->setMenu(themeMenu);
    m_diagramPane->addConfigControl(m_themeButton);

    struct Zoom {
        const char* title;
        const char* symbol;
        std::function<void()> MermaidViewportController::*action;
    };
    const Zoom zooms[] = {
        {"Zoom Out", "minus.magnifyingglass", &MermaidViewportController::applyZoomOut},
        {"Zoom In", "plus.magnifyingglass", &MermaidViewportController::applyZoomIn},
        {"Fit", "arrow.up.left.and.arrow.down.right", &MermaidViewportController::applyFit},
        {"100%", "1.magnifyingglass", &MermaidViewportController::applyActualSize},
    };
    for (const Zoom& zoom : zooms) {
        auto* button = headerButton(QString::fromUtf8(zoom.title), QString::fromLatin1(zoom.symbol));
        const auto member = zoom.action;
        connect(button, &QToolButton::clicked, this, [this, member] {
            if (m_model)
                MermaidViewportController::call(m_model->viewport()->*member);
        });
        m_diagramPane->addConfigControl(button);
    }

    m_previewStack = new QWidget;
    auto* stackLayout = new QVBoxLayout(m_previewStack);
    stackLayout->setContentsMargins(0, 0, 0, 0);
    m_preview = new MermaidPreviewView(m_model->renderSource(), pageTheme(), m_model->viewport(), m_model->exporter(),
                                       fileDrop(), m_previewStack);
    stackLayout->addWidget(m_preview);
    connect(m_preview, &MermaidPreviewView::outcome, this, [this](const MermaidPageProtocol::Outcome& outcome) {
        if (m_model)
            m_model->applyOutcome(outcome);
    });

    auto* banner = new RoundedPanel(m_previewStack);
    QColor edge(0xFF, 0x95, 0x00);
    edge.setAlphaF(0.35f);
    banner->setEdge(edge, 1);
    banner->setRadius(10);
    m_banner = banner;
    auto* bannerRow = new QHBoxLayout(banner);
    bannerRow->setContentsMargins(12, 12, 12, 12);
    bannerRow->setSpacing(8);
    auto* icon = new QLabel;
    icon->setPixmap(mermaidSymbolIcon(QStringLiteral("exclamationmark.triangle.fill")).pixmap(bannerIconSize, bannerIconSize));
    {
        // The warning sign in orange, whatever the palette.
        QPixmap pix = icon->pixmap(Qt::ReturnByValue);
        QPainter p(&pix);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(pix.rect(), QColor(0xFF, 0x95, 0x00));
        p.end();
        icon->setPixmap(pix);
    }
    // The heading beside it says what the sign shows.
    AccessibleElement::hide(icon);
    bannerRow->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_bannerHeading = new QLabel;
    m_bannerHeading->setTextFormat(Qt::PlainText);
    QFont heading = m_bannerHeading->font();
    heading.setPixelSize(11);
    heading.setWeight(QFont::DemiBold);
    FontScale::apply(m_bannerHeading, heading);
    m_bannerMessage = new QLabel;
    m_bannerMessage->setTextFormat(Qt::PlainText);
    m_bannerMessage->setWordWrap(true);
    QFont caption = m_bannerMessage->font();
    caption.setPixelSize(11);
    FontScale::apply(m_bannerMessage, caption);
    PaletteBinding::bind(m_bannerMessage, QPalette::WindowText, DynamicColor::secondary());
    texts->addWidget(m_bannerHeading);
    texts->addWidget(m_bannerMessage);
    bannerRow->addLayout(texts, 1);
    banner->hide();

    m_diagramPane->setContent(m_previewStack);
    m_previewStack->installEventFilter(this);

    m_zoomMetric = new Metric(QString());
    m_bytesDivider = new MetricDivider;
    m_bytesMetric = new Metric(QString());
    m_diagramPane->addMetric(m_zoomMetric);
    m_diagramPane->addMetric(m_bytesDivider);
    m_diagramPane->addMetric(m_bytesMetric);
}

void MermaidToolView::connectModel()
{
    MermaidToolViewModel* m = m_model;
    connect(m, &MermaidToolViewModel::sourceChanged, this, [this] {
        m_editor->setText(m_model->source());
        refreshBadges();
        refreshSourceMetrics();
    });
    connect(m, &MermaidToolViewModel::sourceMetricsChanged, this, [this] {
        refreshBadges();
        refreshSourceMetrics();
    });
    connect(m, &MermaidToolViewModel::renderSourceChanged, this, &MermaidToolView::refreshPreview);
    connect(m, &MermaidToolViewModel::themeChanged, this, [this] {
        refreshPreview();
        refreshDiagramMetrics();
    });
    connect(m, &MermaidToolViewModel::diagnosticChanged, this, [this] {
        refreshBadges();
        refreshBanner();
    });
    connect(m, &MermaidToolViewModel::engineReadyChanged, this, &MermaidToolView::refreshBadges);
    connect(m, &MermaidToolViewModel::renderedBytesChanged, this, [this] {
        refreshBadges();
        refreshDiagramMetrics();
    });
    connect(m, &MermaidToolViewModel::fileURLChanged, this, &ToolView::titleChanged);
    connect(m, &MermaidToolViewModel::noticeChanged, this, &MermaidToolView::refreshNotice);
    connect(m->viewport(), &MermaidViewportController::scaleChanged, this, &MermaidToolView::refreshDiagramMetrics);
}

QString MermaidToolView::title() const
{
    if (!m_model || m_model->fileURL().isEmpty())
        return QStringLiteral("Untitled");
    return m_model->fileURL().fileName();
}

QString MermaidToolView::pageTheme() const
{
    return MermaidThemes::pageThemeName(m_model ? m_model->theme() : MermaidTheme::system, DynamicColor::isDark(palette()));
}

void MermaidToolView::refreshPreview()
{
    if (m_model && m_preview)
        m_preview->update(m_model->renderSource(), pageTheme());
}

void MermaidToolView::refreshBadges()
{
    if (!m_model)
        return;
    m_sourcePane->setBadge(m_model->sourceBadge());
    m_diagramPane->setBadge(m_model->diagramBadge());
}

void MermaidToolView::refreshSourceMetrics()
{
    if (!m_model)
        return;
    m_typeMetric->setText(m_model->sourceMetrics().diagramType);
    m_lineMetric->setText(lineCountText(m_model->sourceMetrics().lines));
}

void MermaidToolView::refreshDiagramMetrics()
{
    if (!m_model)
        return;
    m_zoomMetric->setText(m_model->viewport()->zoomLabel());
    const bool bytes = m_model->renderedBytes() > 0;
    m_bytesDivider->setVisible(bytes);
    m_bytesMetric->setVisible(bytes);
    if (bytes)
        m_bytesMetric->setText(byteSizeLabel(m_model->renderedBytes(), QStringLiteral("svg")));
    const MermaidTheme theme = m_model->theme();
    m_themeButton->setText(MermaidThemes::label(theme));
    for (QAction* action : m_themeButton->menu()->actions())
        action->setChecked(action->data().toString() == MermaidThemes::rawValue(theme));
}

void MermaidToolView::refreshBanner()
{
    if (!m_model)
        return;
    const auto& diagnostic = m_model->diagnostic();
    if (!diagnostic) {
        m_banner->hide();
        return;
    }
    // Without a line the failure need not be one of syntax (too slow, too many links, an image).
    m_bannerHeading->setText(diagnostic->line ? QStringLiteral("Line %1").arg(*diagnostic->line)
                                              : notDrawnHeading);
    m_banner->show();
    m_banner->raise();
    placeBanner();
}

void MermaidToolView::placeBanner()
{
    if (!m_banner || !m_previewStack || !m_banner->isVisible())
        return;
    const int width = std::max(0, m_previewStack->width() - 24);
    // The message is cut to whole lines here: a label limited in height would show the middle of
    // a long message with its first and last lines sliced.
    if (m_model && m_model->diagnostic()) {
        const int textWidth = width - 2 * 12 - bannerIconSize - 8;
        m_bannerMessage->setText(firstLines(m_model->diagnostic()->message, m_bannerMessage->font(), textWidth, 3));
        // The inner column keeps its old height for a width until the banner's layout runs again.
        m_banner->layout()->activate();
    }
    const int height = std::min(m_banner->heightForWidth(width) > 0 ? m_banner->heightForWidth(width)
                                                                       : m_banner->sizeHint().height(),
                                std::max(0, m_previewStack->height() - 12));
    m_banner->setGeometry(12, m_previewStack->height() - 12 - height, width, height);
}

void MermaidToolView::refreshNotice()
{
    if (!m_model)
        return;
    m_notice->setText(m_model->notice());
    m_notice->setVisible(!m_model->notice().isEmpty());
}

void MermaidToolView::refreshMinimumWidth()
{
    setMinimumWidth(m_showEditor ? 600 : 400);
    m_sourceToggle->setText(m_showEditor ? QStringLiteral("Hide Source") : QStringLiteral("Show Source"));
    m_sourceToggle->setToolTip((m_showEditor ? QStringLiteral("Hide the Mermaid source (%1)")
                                             : QStringLiteral("Show the Mermaid source (%1)"))
                                   .arg(sourceShortcut));
}

void MermaidToolView::setEditorShown(bool shown)
{
    if (shown == m_showEditor)
        return;
    m_showEditor = shown;
    m_split->leadingColumn()->setVisible(shown);
    refreshMinimumWidth();
}

void MermaidToolView::openFile()
{
    auto* panel = new QFileDialog(this, QStringLiteral("Open"));
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setNameFilters(MermaidToolViewModel::openPanelFilters());
    QPointer<MermaidToolViewModel> model(m_model);
    presentOpenPanel(panel, [model](const QUrl& url) {
        if (model)
            model->open(url);
    });
}

std::optional<QString> MermaidToolView::chooseSaveLocation(const QString& suggestedName, Format format)
{
    const bool png = format == Format::png;
    QFileDialog panel(this, png ? QStringLiteral("Export as PNG") : QStringLiteral("Export as SVG"));
    panel.setAcceptMode(QFileDialog::AcceptSave);
    panel.setFileMode(QFileDialog::AnyFile);
    panel.setNameFilter(png ? QStringLiteral("PNG images (*.png)") : QStringLiteral("SVG images (*.svg)"));
    panel.setDefaultSuffix(png ? QStringLiteral("png") : QStringLiteral("svg"));
    panel.selectFile(suggestedName);
    if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
        return std::nullopt;
    return panel.selectedFiles().constFirst();
}

void MermaidToolView::copyDiagram(Format format)
{
    if (!m_model)
        return;
    QPointer<MermaidToolView> self(this);
    m_model->copy(format, [self](bool copied) {
        if (!self)
            return;
        self->m_copyButton->setText(copied ? QStringLiteral("Copied") : QStringLiteral("Nothing to copy"));
        self->m_copyButton->setIcon(mermaidSymbolIcon(copied ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc")));
        QTimer::singleShot(1400, self, [self] {
            if (!self)
                return;
            self->m_copyButton->setText(QStringLiteral("Copy"));
            self->m_copyButton->setIcon(mermaidSymbolIcon(QStringLiteral("doc.on.doc")));
        });
    });
}

void MermaidToolView::applyTemplate(int index)
{
    const auto& all = MermaidTemplates::all();
    if (!m_model || index < 0 || index >= all.size())
        return;
    MermaidViewportController::call(m_model->viewport()->requestAutoFit);
    if (m_model->editor()->replaceAll)
        m_model->editor()->replaceAll(all[index].source + QLatin1Char('\n'));
}

bool MermaidToolView::openDropped(const QList<QUrl>& urls)
{
    const std::optional<QUrl> url = MermaidToolViewModel::acceptedFile(urls);
    if (!url || !m_model)
        return false;
    m_model->open(*url);
    return true;
}

void MermaidToolView::changeEvent(QEvent* event)
{
    ToolView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        // "Match System" follows the appearance.
        refreshPreview();
    }
}

bool MermaidToolView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_previewStack && event->type() == QEvent::Resize)
        placeBanner();
    return ToolView::eventFilter(watched, event);
}

void MermaidToolView::resizeEvent(QResizeEvent* event)
{
    ToolView::resizeEvent(event);
    placeBanner();
}
