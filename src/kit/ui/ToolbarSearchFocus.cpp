#include "kit/ui/ToolbarSearchFocus.h"

#include "kit/ui/ToolbarSearchField.h"

void ToolbarSearchFocus::focus() const
{
    if (!m_field || !m_field->window())
        return;
    m_field->activateWindow();
    m_field->setFocus(Qt::ShortcutFocusReason);
}
