#pragma once

#include <QPointer>

#include <optional>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class QLabel;
class QVBoxLayout;
class TimestampRowGrid;
class TimestampRowState;
class TimestampToolViewModel;

// The readings of the parsed moment in titled sections: the two families of forms (the one the
// input came from second), "Local time" with the live relative time, "Calendar" and "Other
// zones". Narrow panes stack the sections; wide ones set them in two columns, and the saved
// zones in two halves where those fit.
class TimestampResultSections : public QWidget {
    Q_OBJECT
public:
    static constexpr int wideWidth = 995;

    TimestampResultSections(TimestampToolViewModel* model, TimestampRowState* state, QWidget* parent = nullptr);

    // Builds the sections for the model's moment; nothing while nothing is parsed.
    void rebuild(bool wide, int paneWidth);

    bool isWide() const { return m_wide; }
    // Titles of the sections in reading order (column by column when wide).
    QStringList sectionTitles() const { return m_titles; }
    TimestampRowGrid* grid(const QString& space) const;
    QString relativeText() const;
    void openZonePicker();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* section(const QString& title, QWidget* content);
    QWidget* box(QWidget* content);
    TimestampRowGrid* makeGrid(const QString& space);
    QWidget* otherZones(bool wide, int paneWidth);
    void refreshRelative();

    TimestampToolViewModel* m_model;
    TimestampRowState* m_state;
    QVBoxLayout* m_stack;
    QPointer<QWidget> m_content;
    QPointer<QWidget> m_addZone;
    QPointer<QLabel> m_relative;
    QHash<QString, TimestampRowGrid*> m_grids;
    QStringList m_titles;
    QTimer m_relativeTimer;
    qint64 m_seconds = 0;
    qint64 m_nanoseconds = 0;
    bool m_wide = false;
    std::optional<bool> m_lastReadAsNumber;
};
