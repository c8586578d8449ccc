#include "kit/ui/ContentUnavailableView.h"

#include "kit/ui/SymbolIcon.h"
#include "kit/ui/SymbolLabel.h"
#include "kit/DynamicColor.h"
#include "kit/ui/FontScale.h"
#include "kit/ui/PaletteBinding.h"

#include <QLabel>
#include <QVBoxLayout>

ContentUnavailableView::ContentUnavailableView(const QString& title, const QString& symbol,
                                               const QString& description, QWidget* parent)
    : ContentUnavailableView(title, symbol, description, QPalette::NoRole, parent)
{
}

ContentUnavailableView::ContentUnavailableView(const QString& title, const QString& symbol,
                                               const QString& description, QPalette::ColorRole symbolRole,
                                               QWidget* parent)
    : QWidget(parent), m_title(new QLabel(title)), m_description(new QLabel(description))
{
    // Drawn at paint time, so the tint follows a switch between light and dark.
    const bool dimmed = symbolRole == QPalette::NoRole;
    m_symbol = new SymbolLabel(tintedSymbolIcon(symbol, dimmed ? QPalette::WindowText : symbolRole), 44);
    m_symbol->setEnabled(!dimmed);

    QFont titleFont = m_title->font();
    titleFont.setPixelSize(20);
    titleFont.setWeight(QFont::DemiBold);
    FontScale::apply(m_title, titleFont);
    for (QLabel* label : {m_title, m_description}) {
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
    }
    PaletteBinding::bind(m_description, QPalette::WindowText, DynamicColor::secondary());

    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(m_symbol, 0, Qt::AlignHCenter);
    layout->addSpacing(6);
    layout->addWidget(m_title);
    layout->addWidget(m_description);
    layout->addStretch(1);
}

QString ContentUnavailableView::title() const
{
    return m_title->text();
}

QString ContentUnavailableView::description() const
{
    return m_description->text();
}
