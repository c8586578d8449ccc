#pragma once

#include "kit/ui/TextFinder.h"

#include <QWidget>

class QLineEdit;
class QPlainTextEdit;
class QWidget;

// Read-only monospaced text that can be selected, copied and searched with a find bar.
class PlainTextView : public QWidget, public TextFinder {
    Q_OBJECT
public:
    explicit PlainTextView(const QString& text, QWidget* parent = nullptr);

    QPlainTextEdit* textView() const { return m_text; }
    bool isFindBarVisible() const;

    void performTextFinderAction(ToolView::FindAction action) override;

private:
    void findNext(bool forward);

    QPlainTextEdit* m_text;
    QWidget* m_bar;
    QLineEdit* m_field;
};
