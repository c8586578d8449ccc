#pragma once

#include <QDateTime>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QStackedWidget;
class TimestampToolViewModel;

// The pop-up in which a zone is found by city, country, identifier or abbreviation and added
// to the saved zones. Each row shows the flag, the identifier, the country and the offset at the
// moment being shown.
class TimestampZonePicker : public QWidget {
    Q_OBJECT
public:
    TimestampZonePicker(TimestampToolViewModel* model, qint64 momentSeconds, QWidget* parent = nullptr);

    QLineEdit* searchField() const { return m_field; }
    QListWidget* list() const { return m_list; }
    QString emptyText() const;
    QStringList shownZones() const;
    // Adds the zone and closes the picker.
    void choose(const QString& zone);

    // "UTC", "UTC+05:30", or nothing for a zone this system does not know.
    static QString offsetLabel(const QString& zone, qint64 seconds);

signals:
    void dismissed();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refresh();

    TimestampToolViewModel* m_model;
    qint64 m_moment;
    QLineEdit* m_field;
    QStackedWidget* m_stack;
    QListWidget* m_list;
    QLabel* m_empty;
};
