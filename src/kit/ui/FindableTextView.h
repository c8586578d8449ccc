#pragma once

#include "kit/ui/TextFinder.h"

#include <QWidget>

class CodeTextView;
class FindBar;
class FindController;

// A text view with the kit's find bar along its top: the Find menu reaches it through the focus,
// and it searches its own text, case-insensitively, wrapping around.
class FindableTextView : public QWidget, public TextFinder {
    Q_OBJECT
public:
    explicit FindableTextView(QWidget* parent = nullptr);

    CodeTextView* textView() const { return m_text; }
    FindBar* findBar() const { return m_bar; }
    FindController* find() const { return m_find; }
    bool isFindBarVisible() const;

    void performTextFinderAction(ToolView::FindAction action) override;

private:
    void search(const QString& query, bool forward, std::function<void(bool)> answer);

    CodeTextView* m_text;
    FindController* m_find;
    FindBar* m_bar;
};
