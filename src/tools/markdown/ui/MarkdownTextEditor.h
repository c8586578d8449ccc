#pragma once

#include "tools/markdown/ScrollSyncController.h"

#include "kit/ui/TextDropTextView.h"

#include <QPointer>

#include <optional>

class MarkdownSyntaxHighlighter;

// The Markdown source pane: a plain-text editor with syntax colours that edits the view model's
// text and takes part in scroll synchronisation. It reports its own scrolling and caret moves to
// the controller and scrolls itself when the controller applies a level from the preview.
//
// Scroll positions here are in the editor's own units: QPlainTextEdit scrolls by visual lines,
// so a content height is a visual line number times the line height.
class MarkdownTextEditor : public TextDropTextView {
    Q_OBJECT
public:
    explicit MarkdownTextEditor(ScrollSyncController* sync, QWidget* parent = nullptr);
    ~MarkdownTextEditor() override;

    // The text as the user sees it: LF line breaks, unpaired surrogates repaired.
    QString text() const;
    // An outside change (a file opened): replaces the text, puts the caret at the start, scrolls
    // to the top and leaves nothing to undo. The same text again does nothing.
    void setText(const QString& text);

    MarkdownSyntaxHighlighter* highlighter() const { return m_highlighter; }

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

    // Whether the editor has been aligned after it was made (reports start then).
    bool isSettled() const { return m_isSettled; }

signals:
    // The user changed the text (typing, paste, drop, undo); carries the new text.
    void textEdited(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct TopText {
        int block = 0;
        double offset = 0;
        friend bool operator==(const TopText&, const TopText&) = default;
    };
    TopText topText() const;
    void rememberPosition();
    void onTextChanged();
    void onScrollValueChanged(int value);
    void onCursorMoved();
    void caretReport(TopText takenTop, int takenValue);
    void resizeReport();
    void reportScroll(double delta);
    double lineHeight() const;
    // Viewport y of the top of `block`, walking from the first visible block.
    std::optional<double> blockTopInViewport(const QTextBlock& block) const;
    void updateAppearance();

    QPointer<ScrollSyncController> m_sync;
    MarkdownSyntaxHighlighter* m_highlighter = nullptr;
    QString m_lastText;
    bool m_isMovingItself = false;
    int m_lastValue = 0;
    TopText m_lastTopText;
    bool m_isSettled = false;
    bool m_caretReportPending = false;
    bool m_resizeReportPending = false;
};
