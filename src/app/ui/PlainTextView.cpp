#include "app/ui/PlainTextView.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

PlainTextView::PlainTextView(const QString& text, QWidget* parent)
    : QWidget(parent), m_text(new QPlainTextEdit), m_bar(new QWidget), m_field(new QLineEdit)
{
    m_text->setPlainText(text);
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    mono.setPixelSize(12);
    m_text->setFont(mono);
    m_text->setReadOnly(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setAcceptDrops(false);
    m_text->document()->setDocumentMargin(12);
    m_text->setFrameShape(QFrame::NoFrame);

    auto* barLayout = new QHBoxLayout(m_bar);
    barLayout->setContentsMargins(8, 4, 8, 4);
    m_field->setPlaceholderText(QStringLiteral("Find"));
    m_field->setClearButtonEnabled(true);
    auto* previous = new QPushButton(QStringLiteral("<"));
    auto* next = new QPushButton(QStringLiteral(">"));
    auto* done = new QPushButton(QStringLiteral("Done"));
    for (QPushButton* button : {previous, next})
        button->setFixedWidth(28);
    barLayout->addWidget(m_field, 1);
    barLayout->addWidget(previous);
    barLayout->addWidget(next);
    barLayout->addWidget(done);
    m_bar->hide();
    connect(m_field, &QLineEdit::returnPressed, this, [this] { findNext(true); });
    connect(next, &QPushButton::clicked, this, [this] { findNext(true); });
    connect(previous, &QPushButton::clicked, this, [this] { findNext(false); });
    connect(done, &QPushButton::clicked, this, [this] {
        m_bar->hide();
        m_text->setFocus();
    });
    auto* escape = new QAction(m_field);
    escape->setShortcut(Qt::Key_Escape);
    escape->setShortcutContext(Qt::WidgetShortcut);
    m_field->addAction(escape);
    connect(escape, &QAction::triggered, done, &QPushButton::click);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_bar);
    layout->addWidget(m_text, 1);
}

bool PlainTextView::isFindBarVisible() const
{
    return !m_bar->isHidden();
}

void PlainTextView::performTextFinderAction(ToolView::FindAction action)
{
    switch (action) {
    case ToolView::FindAction::showFindInterface:
        m_bar->show();
        m_field->setFocus();
        m_field->selectAll();
        break;
    case ToolView::FindAction::nextMatch:
        findNext(true);
        break;
    case ToolView::FindAction::previousMatch:
        findNext(false);
        break;
    }
}

void PlainTextView::findNext(bool forward)
{
    const QString needle = m_field->text();
    if (needle.isEmpty()) {
        performTextFinderAction(ToolView::FindAction::showFindInterface);
        return;
    }
    const QTextDocument::FindFlags flags = forward ? QTextDocument::FindFlags() : QTextDocument::FindBackward;
    if (m_text->find(needle, flags))
        return;
    // Wrap around once.
    QTextCursor cursor = m_text->textCursor();
    cursor.movePosition(forward ? QTextCursor::Start : QTextCursor::End);
    m_text->setTextCursor(cursor);
    if (!m_text->find(needle, flags))
        QApplication::beep();
}
