#include "kit/ui/FindableTextView.h"

#include "kit/FindController.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/FindBar.h"

#include <QLineEdit>
#include <QVBoxLayout>

FindableTextView::FindableTextView(QWidget* parent)
    : QWidget(parent), m_text(new CodeTextView), m_find(new FindController(this)),
      m_bar(new FindBar(m_find, QStringLiteral("Find"), this))
{
    m_bar->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_bar);
    layout->addWidget(m_text, 1);
    setFocusProxy(m_text);

    m_find->find = [this](const QString& query, bool forward, std::function<bool()> isCurrent,
                          std::function<void(bool)> answer) {
        if (!isCurrent()) {
            answer(false);
            return;
        }
        answer(selectMatch(*m_text, query, forward));
    };
    m_find->clearHighlights = [this] {
        const TextRange selection = m_text->selection();
        m_text->setSelection(selection.end(), selection.end());
    };
    connect(m_find, &FindController::isShowingBarChanged, this, [this](bool showing) {
        m_bar->setVisible(showing);
        if (showing) {
            m_bar->field()->setFocus();
            m_bar->field()->selectAll();
        } else {
            m_text->setFocus();
        }
    });
}

bool FindableTextView::isFindBarVisible() const
{
    return !m_bar->isHidden();
}

void FindableTextView::performTextFinderAction(ToolView::FindAction action)
{
    switch (action) {
    case ToolView::FindAction::showFindInterface:
        if (m_find->isShowingBar()) {
            m_bar->field()->setFocus();
            m_bar->field()->selectAll();
        } else {
            m_find->setShowingBar(true);
        }
        break;
    case ToolView::FindAction::nextMatch:
    case ToolView::FindAction::previousMatch:
        if (m_find->query().isEmpty()) {
            performTextFinderAction(ToolView::FindAction::showFindInterface);
            return;
        }
        m_find->search(action == ToolView::FindAction::nextMatch);
        break;
    }
}

bool FindableTextView::selectMatch(CodeTextView& view, const QString& query, bool forward)
{
    const QString& text = view.text();
    const TextRange selection = view.selection();
    const bool onMatch = selection.length == query.size()
        && QStringView(text).mid(selection.location, selection.length).compare(query, Qt::CaseInsensitive) == 0;
    qsizetype found = -1;
    if (forward) {
        // Typing extends the match in place; Next steps past it.
        const qsizetype from = onMatch ? selection.location + 1 : selection.location;
        found = text.indexOf(query, from, Qt::CaseInsensitive);
        if (found < 0)
            found = text.indexOf(query, 0, Qt::CaseInsensitive);
    } else {
        const qsizetype from = selection.location - 1;
        found = from >= 0 ? text.lastIndexOf(query, from, Qt::CaseInsensitive) : -1;
        if (found < 0)
            found = text.lastIndexOf(query, -1, Qt::CaseInsensitive);
    }
    if (found < 0)
        return false;
    const TextRange match{found, query.size()};
    view.setSelection(match);
    view.revealRange(match);
    return true;
}
