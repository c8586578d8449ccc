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

    // Selects and reveals the next (or previous) case-insensitive match in a text view, wrapping
    // around; a match already selected is stepped past going forward, extended in place as the
    // query grows. False when there is none.
    static bool selectMatch(CodeTextView& view, const QString& query, bool forward);

private:

    CodeTextView* m_text;
    FindController* m_find;
    FindBar* m_bar;
};
