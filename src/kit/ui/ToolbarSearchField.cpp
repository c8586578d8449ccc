#include "kit/ui/ToolbarSearchField.h"

#include "kit/DynamicColor.h"
#include "kit/Palette.h"
#include "kit/ui/PaneStyle.h"
#include "kit/ui/AccessibleElement.h"

#include <QAction>
#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionFrame>

ToolbarSearchField::ToolbarSearchField(const QString& prompt, QWidget* parent) : QLineEdit(parent), m_prompt(prompt)
{
    setClearButtonEnabled(true);
    m_glass = addAction(QIcon(), QLineEdit::LeadingPosition);
    // The glass is decoration; the clear button says what it does.
    for (QObject* button : m_glass->associatedObjects())
        if (auto* widget = qobject_cast<QWidget*>(button); widget && widget != this)
            AccessibleElement::hide(widget);
    if (auto* clear = findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction")))
        clear->setText(QStringLiteral("Clear"));
    updateGlass();
    setAccessibleName(prompt);
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_onTextChange)
            m_onTextChange(text);
    });
}

void ToolbarSearchField::updateGlass()
{
    const QPixmap glass = PaneStyle::tintedSymbol(QStringLiteral("magnifyingglass"), 14, devicePixelRatioF(),
                                                  DynamicColor::secondary().resolved(palette()));
    m_glass->setIcon(QIcon(glass));
}

void ToolbarSearchField::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        updateGlass();
    QLineEdit::changeEvent(event);
}

void ToolbarSearchField::setPrompt(const QString& prompt)
{
    if (prompt == m_prompt)
        return;
    m_prompt = prompt;
    setAccessibleName(prompt);
    update();
}

void ToolbarSearchField::clear()
{
    if (!text().isEmpty()) {
        setText(QString());
        if (m_onTextChange)
            m_onTextChange(QString());
    }
    clearFocus();
}

void ToolbarSearchField::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_onSubmit)
            m_onSubmit();
        event->accept();
        return;
    case Qt::Key_Escape:
        clear();
        event->accept();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void ToolbarSearchField::paintEvent(QPaintEvent* event)
{
    QLineEdit::paintEvent(event);
    if (!text().isEmpty() || m_prompt.isEmpty())
        return;
    // Where the caret stands in the empty field is where the prompt's text begins.
    const QRect caret = cursorRect();
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    const int left = caret.center().x() + 1;
    QPainter p(this);
    QFont prompt = font();
    prompt.setWeight(QFont::Medium);
    p.setFont(prompt);
    p.setPen(Palette::searchPrompt().resolved(palette()));
    const QRect area(left, contents.top(), std::max(0, contents.right() - left), contents.height());
    p.drawText(area, Qt::AlignVCenter | Qt::AlignLeft,
               QFontMetrics(prompt).elidedText(m_prompt, Qt::ElideRight, area.width()));
}
