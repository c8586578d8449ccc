#include "tools/timestamp/ui/TimestampRowState.h"

#include <QPointer>
#include <QTimer>

void TimestampRowState::setHoveredRow(const QString& label)
{
    if (label == m_hovered)
        return;
    m_hovered = label;
    emit changed();
}

void TimestampRowState::markCopied(const QString& label)
{
    m_copied = label;
    emit changed();
    // Each copy clears only its own label, and only if it still stands.
    QPointer<TimestampRowState> self(this);
    QTimer::singleShot(copiedMs, Qt::PreciseTimer, this, [self, label] {
        if (self && self->m_copied == label) {
            self->m_copied.clear();
            emit self->changed();
        }
    });
}
