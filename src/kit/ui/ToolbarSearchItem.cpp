#include "kit/ui/ToolbarSearchItem.h"

#include "kit/ui/ToolbarSearchField.h"
#include "kit/ui/ToolbarSearchFocus.h"

#include <QHBoxLayout>

ToolbarSearchItem::ToolbarSearchItem(const QString& prompt, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_field = new ToolbarSearchField(prompt, this);
    layout->addWidget(m_field);
    m_field->setOnTextChange([this](const QString& text) { emit textEdited(text); });
    setMinimumWidth(100);
    setMaximumWidth(325);
    // The first toolbar item to shrink when room is short.
    setSizePolicy(QSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed));
}

QString ToolbarSearchItem::text() const
{
    return m_field->text();
}

void ToolbarSearchItem::setText(const QString& text)
{
    if (m_field->text() != text)
        m_field->setText(text);
}

void ToolbarSearchItem::setPrompt(const QString& prompt)
{
    m_field->setPrompt(prompt);
}

void ToolbarSearchItem::setOnSubmit(std::function<void()> action)
{
    m_field->setOnSubmit(std::move(action));
}

void ToolbarSearchItem::setFocusHandle(ToolbarSearchFocus* focus)
{
    if (focus)
        focus->setField(m_field);
}

QSize ToolbarSearchItem::sizeHint() const
{
    return QSize(325, m_field->sizeHint().height());
}

QSize ToolbarSearchItem::minimumSizeHint() const
{
    return QSize(100, m_field->sizeHint().height());
}
