#include "kit/FindController.h"

#include <QPointer>

FindController::FindController(QObject* parent) : QObject(parent) {}

void FindController::setShowingBar(bool showing)
{
    if (m_isShowingBar == showing)
        return;
    m_isShowingBar = showing;
    emit isShowingBarChanged(showing);
}

void FindController::setQuery(const QString& query)
{
    if (m_query == query)
        return;
    m_query = query;
    emit queryChanged(query);
}

void FindController::setLastSearchMatched(std::optional<bool> matched)
{
    if (m_lastSearchMatched == matched)
        return;
    m_lastSearchMatched = matched;
    emit lastSearchMatchedChanged();
}

void FindController::search(bool forward)
{
    const quint64 generation = ++m_generation;
    if (m_query.isEmpty()) {
        setLastSearchMatched(std::nullopt);
        if (clearHighlights)
            clearHighlights();
        return;
    }
    if (!find) {
        setLastSearchMatched(false);
        return;
    }
    QPointer<FindController> self(this);
    auto isCurrent = [self, generation] { return self && self->m_generation == generation; };
    // With fast typing the page answers in order, but only the newest search may set the status.
    find(m_query, forward, isCurrent, [self, generation](bool matched) {
        if (self && self->m_generation == generation)
            self->setLastSearchMatched(matched);
    });
}

void FindController::done()
{
    ++m_generation;
    setShowingBar(false);
    setLastSearchMatched(std::nullopt);
    if (clearHighlights)
        clearHighlights();
}
