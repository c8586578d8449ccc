#pragma once

#include <QPalette>
#include <QWidget>

class QLabel;
class SymbolLabel;

// A centred symbol, title and description standing in for content that is not there. The symbol
// is dimmed text, or the colour of `symbolRole` when one is given.
class ContentUnavailableView : public QWidget {
    Q_OBJECT
public:
    ContentUnavailableView(const QString& title, const QString& symbol, const QString& description,
                           QWidget* parent = nullptr);
    ContentUnavailableView(const QString& title, const QString& symbol, const QString& description,
                           QPalette::ColorRole symbolRole, QWidget* parent = nullptr);

    QString title() const;
    QString description() const;
    SymbolLabel* symbol() const { return m_symbol; }

private:
    QLabel* m_title;
    QLabel* m_description;
    SymbolLabel* m_symbol = nullptr;
};
