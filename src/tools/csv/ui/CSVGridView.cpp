#include "tools/csv/ui/CSVGridView.h"

#include "tools/csv/ui/CSVCellDelegate.h"
#include "tools/csv/ui/CSVHeaderView.h"
#include "kit/ui/FontScale.h"

#include <QKeyEvent>

CSVGridView::CSVGridView(QWidget* parent) : QTableView(parent), m_header(new CSVHeaderView(this))
{
    setHorizontalHeader(m_header);
    setItemDelegate(new CSVCellDelegate(this));
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(24);
    FontScale::follow(this, [this] { verticalHeader()->setDefaultSectionSize(FontScale::pixels(24)); });
    m_header->setFixedHeight(26);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setShowGrid(true);
    setGridStyle(Qt::SolidLine);
    setAlternatingRowColors(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    // Tab leaves the grid; the arrows move between cells.
    setTabKeyNavigation(false);
    setAccessibleName(QStringLiteral("Table"));
    m_header->setAccessibleName(QStringLiteral("Column headers"));
    QFont cells = font();
    cells.setPixelSize(13);
    FontScale::apply(this, cells);
}

bool CSVGridView::event(QEvent* event)
{
    // The window's Edit menu holds Copy and Select All as shortcuts for text views; on the grid
    // the keys are the grid's own.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key == QKeySequence::Copy || key == QKeySequence::SelectAll) {
            event->accept();
            return true;
        }
    }
    return QTableView::event(event);
}

void CSVGridView::keyPressEvent(QKeyEvent* event)
{
    if (event == QKeySequence::Copy) {
        if (m_copy && selectionModel() && selectionModel()->hasSelection())
            m_copy();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}
