#include "kit/ui/ToolPane.h"

#include "kit/ui/PaneFooter.h"
#include "kit/ui/PaneHeader.h"

#include <QVBoxLayout>

ToolPane::ToolPane(const QString& role, Slots paneSlots, QWidget* parent) : QWidget(parent)
{
    m_stack = new QVBoxLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->setSpacing(0);
    m_header = new PaneHeader(role, this);
    m_header->setConfigPresent(paneSlots.testFlag(Config));
    m_header->setActionsPresent(paneSlots.testFlag(Actions));
    m_stack->addWidget(m_header);
    m_content = new QWidget(this);
    m_stack->addWidget(m_content, 1);
    if (paneSlots.testFlag(Metrics))
        ensureFooter();
}

QString ToolPane::role() const
{
    return m_header->role();
}

void ToolPane::setBadge(const std::optional<PaneBadge>& badge)
{
    m_header->setBadge(badge);
}

std::optional<PaneBadge> ToolPane::badge() const
{
    return m_header->badge();
}

void ToolPane::setContent(QWidget* content)
{
    if (content == m_content)
        return;
    if (!content)
        content = new QWidget;
    // The layout hands back the item it held for the old content; it is ours to free.
    delete m_stack->replaceWidget(m_content, content);
    delete m_content;
    m_content = content;
    m_stack->setStretchFactor(m_content, 1);
    m_content->show();
}

void ToolPane::addConfigControl(QWidget* control)
{
    m_header->addConfigControl(control);
}

void ToolPane::addActionControl(QWidget* control)
{
    m_header->addActionControl(control);
}

void ToolPane::addMetric(QWidget* metric)
{
    ensureFooter();
    m_footer->addMetric(metric);
}

void ToolPane::ensureFooter()
{
    if (m_footer)
        return;
    m_footer = new PaneFooter(this);
    m_stack->addWidget(m_footer);
}
