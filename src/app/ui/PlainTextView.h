#pragma once

#include <QWidget>

class QLineEdit;
class QPlainTextEdit;
class QWidget;

// Read-only monospaced text that can be selected, copied and searched with a find bar.
class PlainTextView : public QWidget {
    Q_OBJECT
public:
    explicit PlainTextView(const QString& text, QWidget* parent = nullptr);

    QPlainTextEdit* textView() const { return m_text; }
    bool isFindBarVisible() const;

    // 1 shows the find bar, 2 finds the next match, 3 the previous one.
    Q_INVOKABLE void performTextFinderAction(int action);

private:
    void findNext(bool forward);

    QPlainTextEdit* m_text;
    QWidget* m_bar;
    QLineEdit* m_field;
};
