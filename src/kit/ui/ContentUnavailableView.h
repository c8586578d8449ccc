#pragma once

#include <QWidget>

class QLabel;

// A centred symbol, title and description standing in for content that is not there.
class ContentUnavailableView : public QWidget {
    Q_OBJECT
public:
    ContentUnavailableView(const QString& title, const QString& symbol, const QString& description,
                           QWidget* parent = nullptr);

    QString title() const;
    QString description() const;

private:
    QLabel* m_title;
    QLabel* m_description;
};
