#include "app/ui/SidebarView.h"

#include "app/HelpLinks.h"
#include "kit/ui/Tool.h"
#include "app/ui/ToolHost.h"
#include "kit/DynamicColor.h"
#include "kit/ui/AccessibleElement.h"
#include "kit/ui/FontScale.h"
#include "kit/ui/PaletteBinding.h"
#include "kit/ui/SymbolIcon.h"
#include "kit/ui/SymbolLabel.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int toolIdRole = Qt::UserRole + 1;
constexpr int sectionRole = Qt::UserRole + 2;

QFrame* divider()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    AccessibleElement::hide(line);
    return line;
}
} // namespace

SidebarView::SidebarView(QWidget* parent) : QWidget(parent), m_list(new QListWidget)
{
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setIconSize(QSize(16, 16));
    m_list->setSpacing(1);
    m_list->setFocusPolicy(Qt::StrongFocus);
    m_list->setAccessibleName(QStringLiteral("Tools"));

    for (ToolCategory category : ToolCategories::all()) {
        const QList<const Tool*> tools = ToolHost::tools(category);
        if (tools.isEmpty())
            continue;
        auto* header = new QListWidgetItem(ToolCategories::sectionTitle(category));
        header->setFlags(Qt::NoItemFlags);
        header->setData(sectionRole, true);
        if (m_list->count() > 0)
            header->setSizeHint(QSize(0, 30));
        m_list->addItem(header);
        for (const Tool* tool : tools) {
            auto* row = new QListWidgetItem(symbolIcon(tool->symbol()), tool->name());
            row->setData(toolIdRole, tool->id());
            row->setSizeHint(QSize(0, 26));
            m_list->addItem(row);
        }
    }
    connect(m_list, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (!item)
            return;
        const QString id = item->data(toolIdRole).toString();
        if (id.isEmpty() || id == m_selection)
            return;
        m_selection = id;
        emit selectionChanged(id);
    });

    // Section headers in the secondary text colour, which reads on the sidebar in every theme,
    // and at the caption size of the desktop's font.
    auto restyleSections = [this] {
        for (int row = 0; row < m_list->count(); ++row) {
            QListWidgetItem* item = m_list->item(row);
            if (!item->data(sectionRole).toBool())
                continue;
            QFont headerFont = m_list->font();
            headerFont.setWeight(QFont::DemiBold);
            item->setFont(FontScale::sized(headerFont, 11));
            item->setForeground(DynamicColor::secondary().resolved(m_list->palette()));
        }
    };
    PaletteBinding::follow(m_list, restyleSections);
    FontScale::follow(m_list, restyleSections);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_list, 1);
    layout->addWidget(makeFooter());
}

void SidebarView::setSelection(const QString& id)
{
    m_selection = id;
    QSignalBlocker block(m_list);
    m_list->clearSelection();
    m_list->setCurrentItem(nullptr);
    for (int row = 0; row < m_list->count(); ++row) {
        QListWidgetItem* item = m_list->item(row);
        if (item->data(toolIdRole).toString() == id && !id.isEmpty()) {
            m_list->setCurrentItem(item);
            item->setSelected(true);
            break;
        }
    }
}

QString SidebarView::versionText()
{
    static const QString version = QStringLiteral(QUORRIX_VERSION);
    return version;
}

QWidget* SidebarView::makeFooter()
{
    auto* footer = new QWidget;
    auto* column = new QVBoxLayout(footer);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Donation row.
    column->addWidget(divider());
    auto* donation = new QWidget;
    auto* donationRow = new QHBoxLayout(donation);
    donationRow->setContentsMargins(14, 8, 14, 8);
    donationRow->setSpacing(8);
    // In the accent colour, drawn at paint time so it follows a switch between light and dark.
    auto* cup = new SymbolLabel(tintedSymbolIcon(QStringLiteral("cup.and.saucer.fill"), QPalette::Highlight), 14);
    cup->setObjectName(QStringLiteral("donationCup"));
    cup->setFixedSize(18, 18);
    AccessibleElement::hide(cup);
    auto* donate = new QPushButton(HelpLinks::donationServiceName);
    donate->setObjectName(QStringLiteral("donateButton"));
    QFont small = donate->font();
    small.setPixelSize(11);
    FontScale::apply(donate, small);
    donate->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(donate, &QPushButton::clicked, this, [] { HelpLinks::openAddress(HelpLinks::donationAddress); });
    donationRow->addWidget(cup);
    donationRow->addWidget(donate);
    donationRow->addStretch(1);
    column->addWidget(donation);

    // Identity row.
    column->addWidget(divider());
    auto* identity = new QWidget;
    auto* identityRow = new QHBoxLayout(identity);
    identityRow->setContentsMargins(14, 10, 14, 10);
    identityRow->setSpacing(8);
    // The icon, name and version read as one element: "Quorrix 1.2.3".
    auto* group = new QWidget;
    group->setObjectName(QStringLiteral("identityGroup"));
    AccessibleElement::combine(group);
    auto* groupRow = new QHBoxLayout(group);
    groupRow->setContentsMargins(0, 0, 0, 0);
    groupRow->setSpacing(8);
    auto* icon = new QLabel;
    icon->setPixmap(symbolIcon(QStringLiteral("app")).pixmap(18, 18));
    icon->setFixedSize(18, 18);
    AccessibleElement::hide(icon);
    auto* name = new QLabel(QStringLiteral("Quorrix"));
    QFont nameFont = name->font();
    nameFont.setPixelSize(12);
    nameFont.setWeight(QFont::DemiBold);
    FontScale::apply(name, nameFont);
    groupRow->addWidget(icon);
    groupRow->addWidget(name);
    if (!versionText().isEmpty()) {
        auto* version = new QLabel(versionText());
        version->setTextFormat(Qt::PlainText);
        version->setObjectName(QStringLiteral("versionLabel"));
        QFont caption = version->font();
        caption.setPixelSize(10);
        caption.setStyleHint(QFont::Monospace);
        FontScale::apply(version, caption);
        PaletteBinding::bind(version, QPalette::WindowText, DynamicColor::secondary());
        version->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        groupRow->addSpacing(-3);
        groupRow->addWidget(version, 1, Qt::AlignBaseline);
    }
    identityRow->addWidget(group, 1);
    identityRow->addStretch(0);

    m_feedback = new QToolButton;
    m_feedback->setAutoRaise(true);
    m_feedback->setFixedSize(20, 20);
    m_feedback->setIconSize(QSize(15, 15));
    m_feedback->setToolTip(QStringLiteral("Send Feedback (%1)").arg(HelpLinks::feedbackAddress));
    m_feedback->setAccessibleName(QStringLiteral("Send Feedback"));
    m_feedback->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_feedback, &QToolButton::clicked, this, [] {
        if (const auto link = HelpLinks::feedbackMailLink())
            HelpLinks::openLink(*link);
    });
    connect(m_feedback, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.addAction(QStringLiteral("Copy Email Address"), [] {
            QApplication::clipboard()->clear();
            QApplication::clipboard()->setText(HelpLinks::feedbackAddress);
        });
        menu.exec(m_feedback->mapToGlobal(at));
    });

    m_social = new QToolButton;
    m_social->setAutoRaise(true);
    m_social->setFixedSize(20, 20);
    m_social->setIconSize(QSize(12, 12));
    m_social->setToolTip(HelpLinks::socialHandle);
    m_social->setAccessibleName(HelpLinks::socialHandle);
    connect(m_social, &QToolButton::clicked, this, [] { HelpLinks::openLink(HelpLinks::socialProfile()); });
    identityRow->addWidget(m_feedback);
    identityRow->addSpacing(-4);
    identityRow->addWidget(m_social);
    column->addWidget(identity);
    updateLinkColours();
    return footer;
}

void SidebarView::updateLinkColours()
{
    // The tinted icons follow the palette; setting them again repaints them at once.
    if (m_feedback)
        m_feedback->setIcon(symbolIcon(QStringLiteral("envelope")));
    if (m_social)
        m_social->setIcon(symbolIcon(QStringLiteral("social")));
}

void SidebarView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        updateLinkColours();
}
