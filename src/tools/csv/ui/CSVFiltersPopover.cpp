#include "tools/csv/ui/CSVFiltersPopover.h"

#include "kit/DynamicColor.h"
#include "kit/Palette.h"
#include "tools/csv/CSVToolViewModel.h"
#include "tools/csv/ui/CSVSymbols.h"
#include "kit/ui/AccessibleElement.h"
#include "kit/ui/PaletteBinding.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <QVBoxLayout>

namespace {
const QString activeSymbol = QStringLiteral("line.3.horizontal.decrease.circle.fill");
const QString idleSymbol = QStringLiteral("line.3.horizontal.decrease.circle");
} // namespace

CSVFiltersPopover::CSVFiltersPopover(CSVToolViewModel* model, QWidget* parent) : QFrame(parent), m_model(model)
{
    setFrameShape(QFrame::StyledPanel);
    setMinimumWidth(420);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(16, 16, 16, 16);
    stack->setSpacing(12);

    auto* header = new QHBoxLayout;
    auto* title = new QLabel(QStringLiteral("Column Filters"));
    title->setTextFormat(Qt::PlainText);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    header->addWidget(title);
    header->addStretch(1);
    m_clearAll = new QPushButton(QStringLiteral("Clear All"));
    connect(m_clearAll, &QPushButton::clicked, this, [this] { m_model->setColumnFilters({}); });
    header->addWidget(m_clearAll);
    stack->addLayout(header);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    stack->addWidget(divider);

    m_emptyLabel = new QLabel(QStringLiteral("Open a file to set filters."));
    m_emptyLabel->setTextFormat(Qt::PlainText);
    m_emptyLabel->setContentsMargins(0, 12, 0, 12);
    PaletteBinding::bind(m_emptyLabel, QPalette::WindowText, DynamicColor::secondary());
    stack->addWidget(m_emptyLabel);

    m_scroll = new QScrollArea;
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setMinimumHeight(200);
    m_scroll->setMaximumHeight(360);
    stack->addWidget(m_scroll);
    // Rows are made a batch at a time as the list is scrolled: a document of thousands of
    // columns would otherwise take seconds to show its popover.
    connect(m_scroll->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value >= m_scroll->verticalScrollBar()->maximum() - 400)
            buildMoreRows(rowBatch);
    });

    connect(m_model, &CSVToolViewModel::documentChanged, this, [this] {
        if (isVisible())
            rebuildRows();
        else
            m_rowsStale = true;
    });
    connect(m_model, &CSVToolViewModel::columnFiltersChanged, this, &CSVFiltersPopover::refreshFilters);
    rebuildRows();
}

void CSVFiltersPopover::showEvent(QShowEvent* event)
{
    if (m_rowsStale)
        rebuildRows();
    // The keys go to the first column's field, not to the header's button.
    if (!m_rows.isEmpty())
        m_rows.first().field->setFocus(Qt::PopupFocusReason);
    QFrame::showEvent(event);
}

QLineEdit* CSVFiltersPopover::field(qint64 columnID)
{
    if (m_rowsStale)
        rebuildRows();
    while (m_rows.size() < m_columns.size() && std::none_of(m_rows.begin(), m_rows.end(), [columnID](const RowWidgets& r) {
               return r.columnID == columnID;
           }))
        buildMoreRows(rowBatch);
    for (const RowWidgets& row : m_rows) {
        if (row.columnID == columnID)
            return row.field;
    }
    return nullptr;
}

bool CSVFiltersPopover::isFilterIconFilled(qint64 columnID)
{
    if (m_rowsStale)
        rebuildRows();
    for (const RowWidgets& row : m_rows) {
        if (row.columnID == columnID)
            return row.filled;
    }
    return false;
}

void CSVFiltersPopover::rebuildRows()
{
    m_rowsStale = false;
    m_rows.clear();
    delete m_scroll->takeWidget();
    m_rowsHost = nullptr;
    m_rowsLayout = nullptr;
    m_columns.clear();
    const bool hasColumns = m_model->document() && m_model->document()->columnCount() > 0;
    m_emptyLabel->setVisible(!hasColumns);
    m_scroll->setVisible(hasColumns);
    if (hasColumns) {
        m_columns = m_model->document()->columns();
        m_rowsHost = new QWidget;
        m_rowsLayout = new QVBoxLayout(m_rowsHost);
        m_rowsLayout->setContentsMargins(0, 0, 4, 0);
        m_rowsLayout->setSpacing(8);
        m_rowsLayout->addStretch(1);
        m_scroll->setWidget(m_rowsHost);
        buildMoreRows(rowBatch);
    }
    refreshFilters();
}

void CSVFiltersPopover::buildMoreRows(qsizetype count)
{
    if (!m_rowsLayout)
        return;
    const qsizetype end = std::min(m_columns.size(), m_rows.size() + count);
    for (qsizetype i = m_rows.size(); i < end; ++i) {
        const CSVParser::Column& column = m_columns[i];
        auto* line = new QHBoxLayout;
        line->setSpacing(8);
        auto* icon = new QLabel;
        icon->setTextFormat(Qt::PlainText);
        icon->setFixedSize(16, 16);
        AccessibleElement::hide(icon);
        line->addWidget(icon);
        auto* name = new QLabel;
        name->setTextFormat(Qt::PlainText);
        name->setFixedWidth(140);
        name->setText(name->fontMetrics().elidedText(column.name, Qt::ElideRight, 140));
        name->setToolTip(column.name.size() > 200 ? column.name.left(200) + QChar(0x2026) : column.name);
        line->addWidget(name);
        auto* field = new QLineEdit;
        field->setPlaceholderText(QStringLiteral("Contains\u2026"));
        // Named after its column: every field has the same prompt.
        field->setAccessibleName(column.name.size() > 200 ? column.name.left(200) + QChar(0x2026) : column.name);
        field->setAccessibleDescription(QStringLiteral("Contains\u2026"));
        PaletteBinding::bind(field, QPalette::PlaceholderText, Palette::prompt());
        const qint64 id = column.id;
        connect(field, &QLineEdit::textEdited, this, [this, id](const QString& text) { m_model->setColumnFilter(id, text); });
        line->addWidget(field, 1);
        // Before the closing stretch.
        m_rowsLayout->insertLayout(m_rowsLayout->count() - 1, line);
        m_rows.append({id, icon, field, false});
    }
    refreshFilters();
}

void CSVFiltersPopover::refreshFilters()
{
    const QMap<qint64, QString>& filters = m_model->columnFilters();
    for (RowWidgets& row : m_rows) {
        const QString text = filters.value(row.columnID);
        if (row.field->text() != text)
            row.field->setText(text);
        const bool filled = !text.isEmpty();
        if (filled != row.filled || row.icon->pixmap().isNull()) {
            row.filled = filled;
            row.icon->setPixmap(csvSymbolIcon(filled ? activeSymbol : idleSymbol, filled).pixmap(16, 16));
        }
    }
    m_clearAll->setEnabled(m_model->activeFilterCount() > 0);
}
