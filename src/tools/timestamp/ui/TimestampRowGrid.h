#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

class QGridLayout;
class QLabel;
class QToolButton;
class TimestampRowState;

// One grid of result rows: a label cell, the selectable value, a Copy button and, for a saved
// zone, a Remove button. The buttons show while their row is under the pointer, just copied or
// focused; the row under the pointer gets a highlight. The pointer finds a row by its value's
// frame with 5 px of slack above and below; the earlier row wins where two reach.
class TimestampRowGrid : public QWidget {
    Q_OBJECT
public:
    using Copy = std::function<bool(const QString& value)>;

    TimestampRowGrid(TimestampRowState* state, Copy copy, QWidget* parent = nullptr);

    void addRow(const QString& label, const QString& value, bool isPasted = false,
                const QString& country = QString(), std::function<void()> onRemove = {});
    // A row without buttons whose value label the caller keeps current.
    QLabel* addLiveRow(const QString& label);

    QStringList ids() const { return m_ids; }
    // The value's frame of a row, in this grid's coordinates.
    QRect valueFrame(const QString& label) const;
    bool isRowActive(const QString& label) const;
    QToolButton* copyButton(const QString& label) const;
    QToolButton* removeButton(const QString& label) const;

    static QFont valueFont();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct RowWidgets {
        QLabel* value = nullptr;
        QToolButton* copy = nullptr;
        QToolButton* remove = nullptr;
    };
    QWidget* labelCell(const QString& label, bool isPasted, const QString& country);
    void track(QWidget* widget);
    void hoverAt(int y);
    void refreshButtons();

    TimestampRowState* m_state;
    Copy m_copy;
    QGridLayout* m_grid;
    QStringList m_ids;
    QHash<QString, RowWidgets> m_rows;
};
