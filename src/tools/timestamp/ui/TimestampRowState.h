#pragma once

#include <QObject>
#include <QString>

// What the rows of one view share: the row under the pointer and the row whose value was just
// copied. A copy's confirmation ends 1.4 s later, unless another copy has taken its place.
class TimestampRowState : public QObject {
    Q_OBJECT
public:
    static constexpr int copiedMs = 1400;

    using QObject::QObject;

    const QString& hoveredRow() const { return m_hovered; }
    void setHoveredRow(const QString& label);
    const QString& copiedRow() const { return m_copied; }
    void markCopied(const QString& label);

signals:
    void changed();

private:
    QString m_hovered;
    QString m_copied;
};
