#pragma once

#include "tools/markdown/ScrollSyncController.h"

#include "kit/ui/CodeTextView.h"

#include <QPointer>

#include <memory>
#include <optional>

class MarkdownSyntaxHighlighter;
class QuietTask;

// The Markdown source pane: the kit's text view with Markdown colours, editing the view model's
// text and taking part in scroll synchronisation. It reports its own scrolling and caret moves
// to the controller and scrolls itself when the controller applies a level from the preview.
//
// Geometry comes from the view's rows (exact for laid-out lines, estimated elsewhere): a source
// line's content height is its row count times the line height, and a content height is a row
// number times the line height below the top margin. Applying a level lays its line out first.
class MarkdownTextEditor : public CodeTextView {
    Q_OBJECT
public:
    explicit MarkdownTextEditor(ScrollSyncController* sync, QWidget* parent = nullptr);
    ~MarkdownTextEditor() override;

    // An outside change (a file opened): replaces the text, with unpaired surrogates repaired,
    // puts the caret at the start, scrolls to the top and leaves nothing to undo. Always set,
    // even when equal to the text shown.
    void setText(const QString& text);

    MarkdownSyntaxHighlighter* highlighter() const { return m_highlighter.get(); }
    // Whether long lines are still being styled off the GUI thread.
    bool isStylingPending() const;
    // Styles the lines around the visible rows that are not styled yet.
    void colourVisibleArea();

    // Source lines: a text of n line feeds has n + 1.
    qsizetype lineCount() const { return buffer().lineCount(); }

    // Distance from the top of the window's content down to the top of the visible text.
    std::optional<double> editorTop() const;
    // The fractional source line shown at a window height; the line count below the last line.
    double lineAtWindowY(double windowY) const;
    // Where a fractional source line lies, in content pixels from the top of the document.
    std::optional<double> yOfLine(double line) const;
    std::optional<ScrollSyncController::Level> caretLevel() const;
    // Content pixels scrolled, visible height, and full content height.
    double scrollY() const;
    double viewportHeight() const;
    double contentHeight() const;

    // Scrolls so that the level's source line is shown at its window height.
    void apply(const ScrollSyncController::Level& level);
    // Caret to the start, scroll to the top.
    void goToStart();


protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void rememberPosition();
    void onTextChanged(qsizetype location, qsizetype length, qsizetype changeInLength);
    void onScrollValueChanged(int value);
    void onCursorMoved();
    void caretReport(qsizetype takenTop, int takenValue);
    void resizeReport();
    void reportScroll(double delta);
    void styleLongLines(bool soon);
    void updateAppearance();

    QPointer<ScrollSyncController> m_sync;
    std::unique_ptr<MarkdownSyntaxHighlighter> m_highlighter;
    QuietTask* m_styleTask = nullptr;
    bool m_programEdit = false;
    bool m_isMovingItself = false;
    int m_lastValue = 0;
    qsizetype m_lastTop = 0;
    bool m_isSettled = false;
    bool m_caretReportPending = false;
    bool m_resizeReportPending = false;
};
