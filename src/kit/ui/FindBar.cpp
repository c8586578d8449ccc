#include "kit/ui/FindBar.h"

#include "kit/FindController.h"
#include "kit/ui/SymbolIcon.h"
#include "kit/DynamicColor.h"
#include "kit/ui/AccessibleElement.h"
#include "kit/ui/FontScale.h"
#include "kit/ui/PaletteBinding.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QKeyEvent>
#include <QPushButton>
#include <QStyleOption>
#include <QToolButton>


FindBar::FindBar(FindController* controller, const QString& prompt, QWidget* parent)
    : QWidget(parent), m_controller(controller)
{
    setAttribute(Qt::WA_StyledBackground, true);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 6, 10, 7);
    layout->setSpacing(8);

    auto* glass = new QLabel(this);
    glass->setPixmap(symbolIcon(QStringLiteral("magnifyingglass")).pixmap(14, 14));
    AccessibleElement::hide(glass);
    layout->addWidget(glass);

    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(prompt);
    m_field->setAccessibleName(prompt);
    m_field->setFrame(false);
    m_field->setClearButtonEnabled(false);
    layout->addWidget(m_field, 1);

    m_status = new QLabel(this);
    m_status->setTextFormat(Qt::PlainText);
    PaletteBinding::bind(m_status, QPalette::WindowText, DynamicColor::secondary());
    QFont caption = m_status->font();
    caption.setPixelSize(11);
    FontScale::apply(m_status, caption);
    layout->addWidget(m_status);

    m_previous = new QToolButton(this);
    m_previous->setIcon(symbolIcon(QStringLiteral("chevron.left")));
    m_previous->setToolTip(QStringLiteral("Previous match (Ctrl+Shift+G)"));
    m_previous->setAccessibleName(QStringLiteral("Previous match"));
    m_previous->setAutoRaise(true);
    layout->addWidget(m_previous);

    m_next = new QToolButton(this);
    m_next->setIcon(symbolIcon(QStringLiteral("chevron.right")));
    m_next->setToolTip(QStringLiteral("Next match (Ctrl+G)"));
    m_next->setAccessibleName(QStringLiteral("Next match"));
    m_next->setAutoRaise(true);
    layout->addWidget(m_next);

    m_done = new QPushButton(QStringLiteral("Done"), this);
    m_done->setAutoDefault(false);
    layout->addWidget(m_done);

    if (m_controller) {
        m_field->setText(m_controller->query());
        // Only the user's edits search; the controller's own changes just show.
        connect(m_field, &QLineEdit::textEdited, this, [this](const QString& text) {
            if (!m_controller)
                return;
            m_controller->setQuery(text);
            m_controller->search(true);
        });
        connect(m_controller, &FindController::queryChanged, this, [this](const QString& query) {
            if (m_field->text() != query)
                m_field->setText(query);
            refreshStatus();
        });
        connect(m_field, &QLineEdit::returnPressed, this, [this] {
            if (m_controller)
                m_controller->search(true);
        });
        connect(m_previous, &QToolButton::clicked, this, [this] {
            if (m_controller)
                m_controller->search(false);
        });
        connect(m_next, &QToolButton::clicked, this, [this] {
            if (m_controller)
                m_controller->search(true);
        });
        connect(m_done, &QPushButton::clicked, this, [this] {
            if (m_controller)
                m_controller->done();
        });
        connect(m_controller, &FindController::lastSearchMatchedChanged, this, &FindBar::refreshStatus);
    }
    refreshStatus();
}

void FindBar::refreshStatus()
{
    const bool notFound = m_controller && m_controller->lastSearchMatched() == std::optional<bool>(false)
        && !m_controller->query().isEmpty();
    m_status->setText(notFound ? QStringLiteral("Not found") : QString());
    m_status->setVisible(notFound);
}

void FindBar::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_field->setFocus(Qt::OtherFocusReason);
}

void FindBar::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    // The divider along the bottom edge.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(0, height() - 1, width(), height() - 1);
}

void FindBar::keyPressEvent(QKeyEvent* event)
{
    // Escape from the field or a button of the bar is Done.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (m_controller)
            m_controller->done();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
