#include "kit/ui/TextViewPlaceholder.h"

#include "kit/Palette.h"

#include <QEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTextOption>

TextViewPlaceholder* TextViewPlaceholder::of(const QPlainTextEdit* editor)
{
    if (!editor)
        return nullptr;
    return editor->viewport()->findChild<TextViewPlaceholder*>(QString(), Qt::FindDirectChildrenOnly);
}

void TextViewPlaceholder::setPlaceholder(QPlainTextEdit* editor, const std::optional<QString>& text)
{
    if (!editor)
        return;
    TextViewPlaceholder* view = of(editor);
    const QString description = text.value_or(QString());
    if (editor->accessibleDescription() != description)
        editor->setAccessibleDescription(description);
    if (!text) {
        delete view;
        return;
    }
    if (!view)
        view = new TextViewPlaceholder(editor);
    view->setText(*text);
}

TextViewPlaceholder::TextViewPlaceholder(QPlainTextEdit* editor) : QWidget(editor->viewport()), m_editor(editor)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(editor->viewport()->rect());
    lower();
    editor->viewport()->installEventFilter(this);
    // The document may be replaced; follow whichever one the editor shows.
    auto watch = [this] {
        connect(m_editor->document(), &QTextDocument::contentsChanged, this, &TextViewPlaceholder::syncVisibility,
                Qt::UniqueConnection);
        syncVisibility();
    };
    connect(editor, &QPlainTextEdit::textChanged, this, &TextViewPlaceholder::syncVisibility);
    watch();
    show();
    syncVisibility();
}

void TextViewPlaceholder::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

void TextViewPlaceholder::syncVisibility()
{
    setVisible(m_editor->document()->isEmpty());
}

bool TextViewPlaceholder::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_editor->viewport() && event->type() == QEvent::Resize)
        setGeometry(m_editor->viewport()->rect());
    return QWidget::eventFilter(watched, event);
}

void TextViewPlaceholder::paintEvent(QPaintEvent*)
{
    if (m_text.isEmpty())
        return;
    QPainter p(this);
    const qreal margin = m_editor->document()->documentMargin();
    const QRectF area(margin, margin, std::max<qreal>(0, width() - 2 * margin), std::max<qreal>(0, height() - margin));
    p.setFont(m_editor->font());
    p.setPen(Palette::placeholder().resolved(m_editor->palette()));
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    p.drawText(area, m_text, option);
}
