#include "tools/csv/ui/CSVToolView.h"

#include "kit/ui/Metric.h"
#include "kit/ui/OpenPanel.h"
#include "kit/ui/SymbolIcon.h"
#include "kit/ui/ToolPane.h"
#include "kit/ui/ToolbarSearchItem.h"
#include "kit/ui/ToolbarSegmentedPicker.h"
#include "tools/csv/CSVToolViewModel.h"
#include "tools/csv/ui/CSVColumnListModel.h"
#include "tools/csv/ui/CSVCopyProgress.h"
#include "tools/csv/ui/CSVErrorCard.h"
#include "tools/csv/ui/CSVFiltersPopover.h"
#include "tools/csv/ui/CSVSymbols.h"
#include "tools/csv/ui/CSVTableView.h"
#include "kit/ui/FontScale.h"

#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidgetAction>

using DelimiterChoice = CSVToolViewModel::DelimiterChoice;

namespace {

QString choiceValue(DelimiterChoice choice) { return QString::number(int(choice)); }

QToolButton* toolButton(const QString& text, const QIcon& icon, const QString& help)
{
    auto* button = new QToolButton;
    button->setText(text);
    button->setIcon(icon);
    button->setToolTip(help);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(false);
    return button;
}

// Keeps the error card in the middle of the table area, above the table.
class CentredOverlay : public QObject {
public:
    CentredOverlay(QWidget* area, QWidget* card) : QObject(area), m_area(area), m_card(card)
    {
        area->installEventFilter(this);
    }
    void place()
    {
        m_card->adjustSize();
        const int margin = 24;
        QSize size = m_card->sizeHint().boundedTo(m_area->size() - QSize(2 * margin, 2 * margin));
        size = size.expandedTo(QSize(0, 0));
        m_card->setGeometry(QRect(QPoint((m_area->width() - size.width()) / 2, (m_area->height() - size.height()) / 2), size));
        m_card->raise();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_area && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
            place();
        return false;
    }

private:
    QWidget* m_area;
    QWidget* m_card;
};

} // namespace

CSVToolView::CSVToolView(CSVToolViewModel* model, QWidget* parent) : ToolView(parent), m_model(model)
{
    setMinimumSize(560, 400);
    acceptFileDrops([this](const QList<QUrl>& urls) {
        if (urls.isEmpty())
            return false;
        m_model->open(urls.first());
        return true;
    });
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(buildToolbar());
    buildPane();
    root->addWidget(m_pane, 1);

    connect(m_model, &CSVToolViewModel::parseErrorChanged, this, [this] {
        refreshBadge();
        m_errorCard->setVisible(m_model->parseError().has_value());
        m_errorCard->setText(m_model->parseError().value_or(QString()));
        static_cast<CentredOverlay*>(m_tableArea->findChild<QObject*>(QStringLiteral("errorOverlay"),
                                                                       Qt::FindDirectChildrenOnly))
            ->place();
    });
    connect(m_model, &CSVToolViewModel::documentChanged, this, [this] {
        refreshBadge();
        refreshMetrics();
        refreshControls();
    });
    connect(m_model, &CSVToolViewModel::shownRowsChanged, this, &CSVToolView::refreshMetrics);
    connect(m_model, &CSVToolViewModel::hiddenColumnsChanged, this, &CSVToolView::refreshMetrics);
    connect(m_model, &CSVToolViewModel::fileUrlChanged, this, &ToolView::titleChanged);
    connect(m_model, &CSVToolViewModel::searchQueryChanged, this, [this] {
        if (m_search->text() != m_model->searchQuery())
            m_search->setText(m_model->searchQuery());
        refreshControls();
    });
    connect(m_model, &CSVToolViewModel::columnFiltersChanged, this, [this] {
        refreshFilterButton();
        refreshControls();
    });
    connect(m_model, &CSVToolViewModel::sortOrderChanged, this, &CSVToolView::refreshControls);
    connect(m_model, &CSVToolViewModel::selectionChanged, this, &CSVToolView::refreshControls);
    connect(m_model, &CSVToolViewModel::delimiterChoiceChanged, this, &CSVToolView::refreshControls);
    connect(m_model, &CSVToolViewModel::treatFirstRowAsHeaderChanged, this, &CSVToolView::refreshControls);

    m_search->setText(m_model->searchQuery());
    m_errorCard->setVisible(m_model->parseError().has_value());
    m_errorCard->setText(m_model->parseError().value_or(QString()));
    refreshBadge();
    refreshMetrics();
    refreshControls();
    refreshFilterButton();
}

QWidget* CSVToolView::buildToolbar()
{
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("csvToolbar"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(10, 6, 10, 6);
    auto* open = toolButton(QStringLiteral("Open"), symbolIcon(QStringLiteral("folder")),
                            QStringLiteral("Open a CSV or TSV file (%1)")
                                .arg(QKeySequence(QKeySequence::Open).toString(QKeySequence::NativeText)));
    connect(open, &QToolButton::clicked, this, &CSVToolView::openFile);
    row->addWidget(open);

    auto* copy = toolButton(QStringLiteral("Copy"), symbolIcon(QStringLiteral("doc.on.doc")),
                            QStringLiteral("Copy rows to clipboard"));
    copy->setPopupMode(QToolButton::InstantPopup);
    m_copyMenu = new QMenu(copy);
    m_copyMenu->addAction(QStringLiteral("Copy Visible as JSON"), this, [this] { m_model->copyVisible(false); });
    m_copyMenu->addAction(QStringLiteral("Copy Visible as Markdown"), this, [this] { m_model->copyVisible(true); });
    m_copyMenu->addSeparator();
    m_copySelectionJSON =
        m_copyMenu->addAction(QStringLiteral("Copy Selection as JSON"), this, [this] { m_model->copySelection(false); });
    m_copySelectionMarkdown = m_copyMenu->addAction(QStringLiteral("Copy Selection as Markdown"), this,
                                                    [this] { m_model->copySelection(true); });
    copy->setMenu(m_copyMenu);
    row->addWidget(copy);
    row->addStretch(1);

    m_search = new ToolbarSearchItem(QStringLiteral("Search all columns"));
    connect(m_search, &ToolbarSearchItem::textEdited, this, [this](const QString& text) { m_model->setSearchQuery(text); });
    row->addWidget(m_search);
    return bar;
}

void CSVToolView::buildPane()
{
    m_pane = new ToolPane(QStringLiteral("Table"), ToolPane::Config | ToolPane::Metrics);

    m_headerToggle = toolButton(QStringLiteral("Header"), csvSymbolIcon(QStringLiteral("rectangle.topthird.inset.filled")),
                                QStringLiteral("Treat the first row as the header"));
    m_headerToggle->setCheckable(true);
    connect(m_headerToggle, &QToolButton::toggled, this, [this](bool on) {
        if (on == m_model->treatFirstRowAsHeader())
            return;
        m_model->setTreatFirstRowAsHeader(on);
        m_model->reparse();
    });
    m_pane->addConfigControl(m_headerToggle);

    m_delimiterPicker = new ToolbarSegmentedPicker(
        QStringLiteral("Delimiter"), {
            {QStringLiteral("Auto"), choiceValue(DelimiterChoice::automatic)},
            // The glyphs get words for a screen reader.
            {QStringLiteral(","), choiceValue(DelimiterChoice::comma), QStringLiteral("Comma")},
            {QStringLiteral(";"), choiceValue(DelimiterChoice::semicolon), QStringLiteral("Semicolon")},
            {QStringLiteral("\u21E5"), choiceValue(DelimiterChoice::tab), QStringLiteral("Tab")},
            {QStringLiteral("|"), choiceValue(DelimiterChoice::pipe), QStringLiteral("Pipe")},
        });
    m_delimiterPicker->setToolTip(QStringLiteral("Field delimiter"));
    connect(m_delimiterPicker, &ToolbarSegmentedPicker::activated, this, [this](const QVariant& value) {
        const auto choice = DelimiterChoice(value.toString().toInt());
        if (choice == m_model->delimiterChoice())
            return;
        m_model->setDelimiterChoice(choice);
        m_model->reparse();
    });
    m_pane->addConfigControl(m_delimiterPicker);

    auto* filters = new QWidget;
    auto* filtersRow = new QHBoxLayout(filters);
    filtersRow->setContentsMargins(0, 0, 0, 0);
    filtersRow->setSpacing(4);
    m_filtersButton = toolButton(QStringLiteral("Filters"), QIcon(), QStringLiteral("Per-column filters"));
    connect(m_filtersButton, &QToolButton::clicked, this, [this] { showFiltersPopover(); });
    filtersRow->addWidget(m_filtersButton);
    m_filterCount = new QLabel;
    m_filterCount->setTextFormat(Qt::PlainText);
    m_filterCount->setContentsMargins(4, 0, 4, 0);
    QFont caption = m_filterCount->font();
    caption.setPixelSize(11);
    caption.setBold(true);
    FontScale::apply(m_filterCount, caption);
    m_filterCount->setStyleSheet(QStringLiteral("QLabel { background: rgba(10, 132, 255, 64); border-radius: 7px; }"));
    filtersRow->addWidget(m_filterCount);
    m_pane->addConfigControl(filters);

    auto* columns = toolButton(QStringLiteral("Columns"), csvSymbolIcon(QStringLiteral("rectangle.split.3x1")),
                               QStringLiteral("Show or hide columns"));
    columns->setPopupMode(QToolButton::InstantPopup);
    columns->setAutoRaise(true);
    m_columnsMenu = new QMenu(columns);
    m_columnList = new CSVColumnListModel(m_model, this);
    connect(m_columnsMenu, &QMenu::aboutToShow, this, &CSVToolView::rebuildColumnsMenu);
    columns->setMenu(m_columnsMenu);
    m_pane->addConfigControl(columns);

    m_resetButton = toolButton(QStringLiteral("Reset"), csvSymbolIcon(QStringLiteral("arrow.counterclockwise")),
                               QStringLiteral("Reset filters, search, and sort"));
    connect(m_resetButton, &QToolButton::clicked, this, [this] { m_model->resetRefinements(); });
    m_pane->addConfigControl(m_resetButton);

    m_tableArea = new QWidget;
    auto* areaLayout = new QVBoxLayout(m_tableArea);
    areaLayout->setContentsMargins(0, 0, 0, 0);
    m_table = new CSVTableView(m_model);
    areaLayout->addWidget(m_table);
    m_copyProgress = new CSVCopyProgress(m_model);
    areaLayout->addWidget(m_copyProgress);
    m_errorCard = new CSVErrorCard(m_tableArea);
    auto* overlay = new CentredOverlay(m_tableArea, m_errorCard);
    overlay->setObjectName(QStringLiteral("errorOverlay"));
    m_pane->setContent(m_tableArea);

    m_rowsMetric = new Metric(QString());
    m_columnsMetric = new Metric(QString());
    m_pane->addMetric(m_rowsMetric);
    m_pane->addMetric(m_columnsMetric);
}

CSVToolView::~CSVToolView() = default;

QWidget* CSVToolView::errorCard() const { return m_errorCard; }
QString CSVToolView::errorText() const { return m_errorCard->isVisibleTo(const_cast<CSVToolView*>(this)) ? m_errorCard->text() : QString(); }

QString CSVToolView::title() const
{
    return m_model->fileUrl().isEmpty() ? QStringLiteral("Untitled") : QFileInfo(m_model->fileUrl().toLocalFile()).fileName();
}

void CSVToolView::refreshBadge() { m_pane->setBadge(m_model->delimiterBadge()); }

void CSVToolView::refreshMetrics()
{
    const qsizetype totalRows = m_model->rowCount().value_or(0);
    const qsizetype totalColumns = m_model->columnCount().value_or(0);
    const qsizetype shownRows = m_model->document() ? qsizetype(m_model->shownRows().size()) : 0;
    const QLocale locale;
    m_rowsMetric->setText(QStringLiteral("%1 of %2 rows").arg(locale.toString(shownRows), locale.toString(totalRows)));
    m_columnsMetric->setText(QStringLiteral("%1 of %2 cols")
                                 .arg(locale.toString(m_model->visibleColumns().size()), locale.toString(totalColumns)));
}

void CSVToolView::refreshControls()
{
    {
        const QSignalBlocker block(m_headerToggle);
        m_headerToggle->setChecked(m_model->treatFirstRowAsHeader());
    }
    m_delimiterPicker->setSelection(choiceValue(m_model->delimiterChoice()));
    m_resetButton->setEnabled(m_model->hasRefinements());
    const bool selected = !m_model->selection().isEmpty();
    m_copySelectionJSON->setEnabled(selected);
    m_copySelectionMarkdown->setEnabled(selected);
}

void CSVToolView::refreshFilterButton()
{
    const int count = m_model->activeFilterCount();
    m_filtersButton->setIcon(csvSymbolIcon(count > 0 ? QStringLiteral("line.3.horizontal.decrease.circle.fill")
                                                     : QStringLiteral("line.3.horizontal.decrease.circle"),
                                           count > 0));
    m_filterCount->setText(QString::number(count));
    m_filterCount->setVisible(count > 0);
}

void CSVToolView::rebuildColumnsMenu()
{
    m_columnsMenu->clear();
    const std::optional<CSVParser::Document>& document = m_model->document();
    if (document && document->columnCount() > columnsAsMenuItems) {
        auto* list = new QListView;
        list->setAccessibleName(QStringLiteral("Columns"));
        list->setToolTip(QStringLiteral("Show or hide columns"));
        list->setUniformItemSizes(true);
        list->setSelectionMode(QAbstractItemView::NoSelection);
        list->setFocusPolicy(Qt::StrongFocus);
        list->setModel(m_columnList);
        // A click anywhere on a row toggles it, as on a menu item; the box handles its own.
        connect(list, &QListView::clicked, m_columnList, &CSVColumnListModel::toggle);
        const int rows = int(std::min<qsizetype>(document->columnCount(), 16));
        list->setFixedSize(300, rows * list->sizeHintForRow(0) + 2 * list->frameWidth());
        list->setCurrentIndex(m_columnList->index(0));
        auto* item = new QWidgetAction(m_columnsMenu);
        item->setDefaultWidget(list);
        m_columnsMenu->addAction(item);
    } else if (document) {
        for (const CSVParser::Column& column : document->columns()) {
            QAction* toggle = m_columnsMenu->addAction(column.name.size() > 200 ? column.name.left(200) + QChar(0x2026)
                                                                               : column.name);
            toggle->setCheckable(true);
            toggle->setChecked(!m_model->hiddenColumns().contains(column.id));
            const qint64 id = column.id;
            connect(toggle, &QAction::toggled, this, [this, id](bool on) { m_model->setColumn(id, on); });
        }
    }
    m_columnsMenu->addSeparator();
    m_columnsMenu->addAction(QStringLiteral("Show All"), this, [this] { m_model->showAllColumns(); });
    QAction* hideAll = m_columnsMenu->addAction(QStringLiteral("Hide All"), this, [this] { m_model->hideAllColumns(); });
    hideAll->setEnabled(document && document->columnCount() > 0);
}

CSVFiltersPopover* CSVToolView::showFiltersPopover()
{
    if (!m_popover) {
        m_popover = new CSVFiltersPopover(m_model, this);
        m_popover->setWindowFlags(Qt::Popup);
        m_popover->setAutoFillBackground(true);
    }
    m_popover->adjustSize();
    const QPoint below = m_filtersButton->mapToGlobal(QPoint(0, m_filtersButton->height() + 2));
    m_popover->move(below);
    m_popover->show();
    return m_popover;
}

void CSVToolView::openFile()
{
    auto* panel = new QFileDialog(this, QStringLiteral("Open"));
    panel->setFileMode(QFileDialog::ExistingFile);
    panel->setNameFilters({QStringLiteral("CSV and TSV files (*.csv *.tsv *.txt)"), QStringLiteral("All files (*)")});
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    QPointer<CSVToolViewModel> model(m_model);
    ::presentOpenPanel(panel, [model](const QUrl& url) {
        if (model)
            model->open(url);
    });
}

