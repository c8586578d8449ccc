#pragma once

#include "kit/CodeTextBuffer.h"
#include "kit/CodeTextSnapshot.h"
#include "kit/TextEdit.h"
#include "kit/TextReveal.h"
#include "formats/TextRange.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class CodeEditorColouring;
class CodeTextMatchHighlighter;
class CodeTextView;

// The text pane of the JSON tool (and of the Codec and JWT panes): a monospaced plain-text view
// kept in step with a host's text, with the syntax colours its host gives it, search matches and
// a current match drawn over them, one-shot reveals, and a large-document mode that applies a
// replaced text as one minimal edit. Text set by the host cannot be
// undone; the user's edits come back through textEdited() as edits, with the text they made
// available as a snapshot, so no listener needs a copy of the whole text per keystroke.
class CodeEditor : public QWidget {
    Q_OBJECT
public:
    struct Options {
        bool isEditable = true;
        // Told of every change of the text and, if it asks, of every move of the view.
        std::shared_ptr<CodeEditorColouring> colouring;
        // The host finds through its own bar: this editor then draws no matches.
        bool findBar = false;
        bool largeDocument = false;
        std::optional<QString> placeholder;
    };

    explicit CodeEditor(const Options& options, QWidget* parent = nullptr);
    ~CodeEditor() override;

    // The host's text, set even when equal to the shown one: it replaces the shown one (in large-document mode by the
    // changed middle only), leaves an empty selection at the old caret (clamped) and clears undo.
    void setText(const QString& text);
    // The same, with `prepared` holding `text` already split into lines (built off the GUI
    // thread); it is taken when the text is shown as a new one, and ignored otherwise.
    void setText(const QString& text, std::optional<CodeTextBuffer> prepared);
    // The same, with `prepared` asked for the split text only when the text is shown as a new
    // one; `text` holds LF line breaks only (nothing is normalised, so nothing scans it here).
    void setText(const QString& text, const std::function<std::optional<CodeTextBuffer>()>& prepared);
    // Shows a text split into lines elsewhere (off the GUI thread) as a new one, never compared
    // with the text before.
    void setText(CodeTextBuffer buffer);
    // The text shown, unit for unit: a whole copy, for copying and tests.
    QString text() const;
    // The text shown, sharing the view's blocks; hold it only as long as needed.
    CodeTextSnapshot snapshot() const;
    qsizetype length() const;

    void setPlaceholder(const std::optional<QString>& placeholder);

    // Sorted, disjoint matches; the current one must be exactly one of them to show as current.
    void setHighlights(const QList<TextRange>& highlights);
    const QList<TextRange>& highlights() const { return m_appliedHighlights; }
    void setCurrent(std::optional<TextRange> current);
    std::optional<TextRange> current() const { return m_currentRange; }
    // Scrolls to and marks a range, once per distinct request; the selection stays.
    void setReveal(const std::optional<TextReveal>& reveal);
    // Takes a request as already done (a view made with a pending reveal does not scroll).
    void recordReveal(const std::optional<TextReveal>& reveal) { m_lastReveal = reveal; }

    // Told the selection when the user changes it while the editor has the focus.
    void setOnSelectionChange(std::function<void(TextRange)> action) { m_onSelectionChange = std::move(action); }
    // Told the number of columns that fit when it changes; answers whether the host re-flows its
    // text for it. A re-flowed text set with the same reflow id keeps the reading place.
    void setOnColumnsChange(std::function<bool(int)> action);
    void setReflowID(std::optional<int> id) { m_reflowID = id; }
    // Columns of 1.125 characters that fit in the text area (0 when none).
    int measuredColumns() const;

    CodeTextView* textView() const { return m_view; }
    const CodeEditorColouring* colouring() const { return m_options.colouring.get(); }

    // Lets the colouring colour the lines around the visible area, when it colours lazily.
    void colourVisibleArea();

signals:
    // The user changed the text (typing, paste, undo…): what changed; snapshot() holds the result.
    void textEdited(const TextEdit& edit);

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void clearHighlights();
    void applyCurrent(std::optional<TextRange> current);
    void applyAppearance();
    void readPlace();
    void showWhole(const QString& text, std::optional<CodeTextBuffer> prepared);
    void replaceText(const QString& text, const std::function<std::optional<CodeTextBuffer>()>& prepared);
    // What every text set by the program goes through; `show` puts the text in the view.
    template <class Show>
    void replacing(Show show);
    void onViewTextChanged(qsizetype location, qsizetype length, qsizetype change);

    CodeTextView* m_view;
    Options m_options;
    std::unique_ptr<CodeTextMatchHighlighter> m_matches;
    // The view's last edit, handed on when the view reports it as the user's.
    bool m_updating = false;
    bool m_programEdit = false;
    QList<TextRange> m_appliedHighlights;
    std::optional<TextRange> m_wantedCurrent;
    std::optional<TextRange> m_currentRange;
    std::optional<TextReveal> m_lastReveal;
    std::function<void(TextRange)> m_onSelectionChange;
    std::function<bool(int)> m_onColumnsChange;
    std::optional<int> m_reflowID;
    std::optional<int> m_reportedColumns;
    std::optional<double> m_place;
    std::optional<int> m_awaitedReflowID;
    bool m_awaitingReflow = false;
};
