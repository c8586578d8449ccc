#include "tools/csv/ui/CSVErrorCard.h"

#include "kit/StatusColor.h"
#include "kit/ui/SymbolIcon.h"
#include "kit/ui/AccessibleElement.h"
#include "kit/ui/PaletteBinding.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

CSVErrorCard::CSVErrorCard(QWidget* parent) : RoundedPanel(parent)
{
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(10);
    m_symbol = new QLabel;
    m_symbol->setAlignment(Qt::AlignHCenter);
    stack->addWidget(m_symbol, 0, Qt::AlignHCenter);
    m_text = new QLabel;
    m_text->setTextFormat(Qt::PlainText);
    m_text->setAlignment(Qt::AlignHCenter);
    m_text->setWordWrap(true);
    QFont headline = m_text->font();
    headline.setBold(true);
    m_text->setFont(headline);
    stack->addWidget(m_text);
    // The warning symbol in the status red, whatever the palette's text colour; the text says it.
    AccessibleElement::hide(m_symbol);
    PaletteBinding::follow(m_symbol, [this] {
        QPixmap pix = symbolIcon(QStringLiteral("exclamationmark.triangle.fill")).pixmap(28, 28);
        if (!pix.isNull()) {
            QPainter p(&pix);
            p.setCompositionMode(QPainter::CompositionMode_SourceIn);
            p.fillRect(pix.rect(), StatusColor::red().resolved(m_symbol->palette()));
        }
        m_symbol->setPixmap(pix);
    });
}

void CSVErrorCard::setText(const QString& text)
{
    m_text->setText(text);
    adjustSize();
}

QString CSVErrorCard::text() const { return m_text->text(); }
