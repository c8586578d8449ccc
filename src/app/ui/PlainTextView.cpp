#include "app/ui/PlainTextView.h"

#include "kit/ui/CodeTextView.h"
#include "kit/ui/FontScale.h"

PlainTextView::PlainTextView(const QString& text, QWidget* parent) : FindableTextView(parent)
{
    CodeTextView* view = textView();
    QFont font = CodeTextView::defaultFont();
    font.setPixelSize(12);
    font.setWeight(QFont::Normal);
    FontScale::apply(view, font);
    view->setReadOnly(true);
    view->setWrapEnabled(true);
    view->setTextMargins(QMargins(12, 12, 12, 12));
    view->setAcceptDrops(false);
    view->setFrameShape(QFrame::NoFrame);
    view->setText(text);
}
