#pragma once

#include <QPointer>

#include "kit/ui/ToolbarSearchField.h"

// A tool view's handle on its toolbar search field: the search item fills in the field once it
// exists; focus() puts the keyboard focus there (nothing happens while there is no field).
class ToolbarSearchFocus {
public:
    ToolbarSearchField* field() const { return m_field; }
    void setField(ToolbarSearchField* field) { m_field = field; }
    void focus() const;

private:
    QPointer<ToolbarSearchField> m_field;
};
