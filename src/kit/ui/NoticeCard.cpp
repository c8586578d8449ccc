#include "kit/ui/NoticeCard.h"

#include "kit/DynamicColor.h"
#include "kit/StatusColor.h"
#include "kit/ui/PaneStyle.h"
#include "kit/ui/AccessibleElement.h"
#include "kit/ui/FontScale.h"
#include "kit/ui/PaletteBinding.h"

#include <QLabel>
#include <QVBoxLayout>

NoticeCard::NoticeCard(QWidget* parent) : RoundedPanel(parent), m_headline(new QLabel), m_message(new QLabel)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(10);
    auto* icon = new QLabel;
    PaletteBinding::follow(icon, [icon] {
        icon->setPixmap(PaneStyle::tintedSymbol(QStringLiteral("exclamationmark.triangle.fill"), 28,
                                                icon->devicePixelRatioF(), StatusColor::red().resolved(icon->palette())));
    });
    AccessibleElement::hide(icon);
    icon->setAlignment(Qt::AlignCenter);
    m_headline->setTextFormat(Qt::PlainText);
    m_headline->setAlignment(Qt::AlignCenter);
    QFont headline = m_headline->font();
    headline.setBold(true);
    headline.setPixelSize(13);
    FontScale::apply(m_headline, headline);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setContentsMargins(16, 0, 16, 0);
    QFont caption = m_message->font();
    caption.setPixelSize(11);
    FontScale::apply(m_message, caption);
    layout->addWidget(icon);
    layout->addWidget(m_headline);
    layout->addWidget(m_message);
}

void NoticeCard::dimMessage()
{
    PaletteBinding::bind(m_message, QPalette::WindowText, DynamicColor::secondary());
}
