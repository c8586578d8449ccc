#pragma once

#include "kit/CodeTextBuffer.h"
#include "kit/CodeTextSnapshot.h"
#include "kit/TextEdit.h"
#include "kit/PaneBadge.h"
#include "kit/FileOpener.h"
#include "kit/QuietTask.h"
#include "kit/TextReveal.h"
#include "formats/JSONFormatter.h"
#include "formats/JSONSearch.h"
#include "formats/JSONTextMetrics.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

// Everything the JSON tool knows: the input, the options, the outputs with their verdict and
// sizes, the opened file, the search with its match lists, and the two panes' selections and
// reveal requests. Lives on the GUI thread; formatting and searching run off it after their
// quiet times, and only the latest run's result is applied. A run makes only the output on show;
// the other is made when asked for (a switch of the mode, or its accessor).
//
// With editors attached (setInputSource, setOutputSource), the texts live in their buffers only:
// the model lets go of a text once the editor has taken it and reads a snapshot when it needs
// it, so a large document is held once and the first keystroke copies nothing.
class JSONToolViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(QString searchQuery READ searchQuery WRITE setSearchQuery NOTIFY searchQueryChanged)
    Q_PROPERTY(QUrl fileUrl READ fileUrl NOTIFY fileUrlChanged)
    Q_PROPERTY(QString shownOutput READ shownOutput NOTIFY shownOutputChanged)
    Q_PROPERTY(QString openError READ openError NOTIFY openErrorChanged)

public:
    enum class OutputMode { formatted, minified };
    enum class Pane { input, output };

    static constexpr int formatQuietMs = 200;
    // The bytes of memory the tool holds per byte of an opened file, at the most (measured:
    // about 7.6 at the peak of an open, while the first format runs).
    static constexpr double memoryPerFileByte = 8;
    static constexpr int searchQuietMs = 120;

    explicit JSONToolViewModel(QObject* parent = nullptr);
    ~JSONToolViewModel() override;

    // The six-line document the tool starts with.
    static QString sampleDocument();

    // --- published state
    // Answers the editor's text as it is when called, sharing its blocks.
    using SnapshotSource = std::function<CodeTextSnapshot()>;

    // Built from the editor's snapshot when the editor holds it (shared when it is one block).
    QString text() const;
    bool isTextEmpty() const { return m_textFromEdit ? m_editedLength == 0 : storedLength() == 0; }
    // Stores the text (line breaks made LF, as the editors keep them) and schedules formatting.
    void setText(const QString& text);
    // The input editor's own change; the editor shows it already. The snapshot is taken only
    // when the text is needed: one held while the user types would make each keystroke copy
    // the block it edits (a whole minified document). `snapshot` must answer until the next
    // change of the text.
    void editText(const TextEdit& edit, SnapshotSource snapshot);
    // The input editor, showing text() when attached and each text the model sets once
    // textChanged() is handled; the model then keeps no copy. Detaching (nullptr) takes the
    // text back.
    void setInputSource(SnapshotSource source);
    // The output editor, showing shownOutput() when attached and each output once
    // shownOutputChanged() is handled; the model then keeps no copy of it. Detaching takes the
    // shown output back.
    void setOutputSource(SnapshotSource source);
    JSONFormatter::Indent indent() const { return m_indent; }
    void setIndent(JSONFormatter::Indent indent);
    JSONFormatter::SortMode sortMode() const { return m_sortMode; }
    void setSortMode(JSONFormatter::SortMode mode);
    OutputMode outputMode() const { return m_outputMode; }
    // A new mode resets the output selection and makes the output's match list out of date. Its
    // output is shown at once when it is at hand, else once it is made off the GUI thread.
    void setOutputMode(OutputMode mode);
    const JSONFormatter::Validation& validation() const { return m_validation; }
    // Made here, on the calling thread, when the last run did not make it.
    QString formattedOutput() const { return outputText(OutputMode::formatted); }
    QString minifiedOutput() const { return outputText(OutputMode::minified); }
    JSONTextMetrics inputMetrics() const { return m_inputMetrics; }
    const QUrl& fileUrl() const { return m_fileUrl; }
    const QString& searchQuery() const { return m_searchQuery; }
    // Schedules a search when the query changes.
    void setSearchQuery(const QString& query);
    JSONSearch::Scope searchScope() const { return m_searchScope; }
    void setSearchScope(JSONSearch::Scope scope);
    const std::optional<TextReveal>& inputReveal() const { return m_inputReveal; }
    const std::optional<TextReveal>& outputReveal() const { return m_outputReveal; }
    // The sentence about the last file that could not be read; empty when there is none.
    const QString& openError() const { return m_openError; }

    // --- plain state
    Pane activePane() const { return m_activePane; }
    TextRange inputSelection() const { return m_inputSelection; }
    TextRange outputSelection() const { return m_outputSelection; }
    TextRange selection(Pane pane) const { return pane == Pane::input ? m_inputSelection : m_outputSelection; }
    int textGeneration() const { return m_textGeneration; }
    int outputGeneration() const { return m_outputGeneration; }
    bool isFormatPending() const;
    bool isSearchPending() const;

    // --- derived
    // A whole copy when the output editor holds it in several blocks: for copying and tests.
    QString shownOutput() const;
    bool isShownOutputEmpty() const;
    // The shown output already split into a code view's lines off the GUI thread, for a large
    // output; handed over once (showing it again after a switch of the mode splits it anew).
    std::optional<CodeTextBuffer> takeShownOutputBuffer();
    // The text of a large opened file split into lines while it was read; handed over once.
    std::optional<CodeTextBuffer> takeInputBuffer();
    JSONTextMetrics shownMetrics() const;
    bool isInputBlank() const;
    std::optional<PaneBadge> inputBadge() const;
    JSONSearch::MatchList inputMatches() const;
    JSONSearch::MatchList outputMatches() const;
    JSONSearch::MatchList matches(Pane pane) const { return pane == Pane::input ? inputMatches() : outputMatches(); }
    // "3 of 12 matches" for the pane; nothing while the query is empty.
    std::optional<QString> matchStatus(Pane pane) const;
    // The pane's selection when it is exactly one of the pane's matches.
    std::optional<TextRange> currentMatch(Pane pane) const;

    // --- operations
    // Reads the file off the GUI thread and makes it the input; options and search stay.
    void open(const QUrl& fileUrl);
    void scheduleFormat();
    void scheduleSearch();
    // Schedules formatting only when the last request was for other inputs.
    void refreshIfStale();
    // On a later turn: the formatted output.
    void showFormattedOutput();
    // On a later turn: none -> ascending -> descending -> none.
    void cycleSortMode();
    static JSONFormatter::SortMode nextSortMode(JSONFormatter::SortMode mode);
    // Selects the next or previous match of the active pane and asks its editor to show it;
    // emits beep() when there is none.
    void revealMatch(bool forward);
    // On a later turn: records an editor's selection and makes its pane the active one.
    void selectionChanged(TextRange range, Pane pane);
    // Put the text on the clipboard; answer whether anything was copied.
    bool copyInput();
    bool copyOutput();

signals:
    void textChanged();
    void indentChanged();
    void sortModeChanged();
    void outputModeChanged();
    void validationChanged();
    void formattedOutputChanged();
    void minifiedOutputChanged();
    void shownOutputChanged();
    void inputMetricsChanged();
    void formattedMetricsChanged();
    void minifiedMetricsChanged();
    void fileUrlChanged();
    void searchQueryChanged();
    void searchScopeChanged();
    void inputRevealChanged();
    void outputRevealChanged();
    void searchResultChanged();
    void openErrorChanged();
    // The current match of a pane (and so its match counter) may have changed.
    void currentMatchChanged();
    // A formatting run published its results.
    void formatFinished();
    // Find Next or Previous had nowhere to go.
    void beep();

private:
    struct Inputs {
        int textGeneration = 0;
        JSONFormatter::Indent indent;
        JSONFormatter::SortMode sortMode = JSONFormatter::SortMode::none;
        friend bool operator==(const Inputs&, const Inputs&) = default;
    };
    struct SearchResult {
        QString query;
        JSONSearch::Scope scope = JSONSearch::Scope::all;
        int inputGeneration = -1;
        int outputGeneration = -1;
        JSONSearch::MatchList inputMatches;
        JSONSearch::MatchList outputMatches;
    };
    struct FormatRun;
    struct FormatStage;
    struct InputRead;
    struct OpenedText;
    struct OutputRead;
    // One output for the latest inputs, once made (as UTF-8, the way it is printed), with its
    // lines split for a large one until they are handed over. Once the output editor shows it,
    // only the editor holds its text.
    struct Output {
        QByteArray text;
        JSONTextMetrics metrics;
        std::shared_ptr<CodeTextBuffer> buffer;
        bool made = false;
        bool inEditor = false;
        qsizetype length = 0;
    };

    void storeText(const QString& text);
    // The input as a worker builds it: the stored text, or the editor's snapshot made whole.
    std::function<InputRead()> textMaker() const;
    // Units of the text set whole (stored as a text or as UTF-8).
    qsizetype storedLength() const { return m_utf8.isNull() ? m_text.size() : m_utf8Length; }
    // The same for a made output; nothing when the output is not made.
    std::optional<OutputRead> outputRead(OutputMode mode) const;
    QString outputText(OutputMode mode) const;
    // After textChanged(): an attached input editor now shows the text, so the model lets go.
    void leaveTextToEditor();
    // After shownOutputChanged(): the same for the output editor.
    void leaveOutputToEditor();
    void startFormat(bool now);
    void applyFormatRun(FormatRun run);
    Output& output(OutputMode mode) const { return mode == OutputMode::formatted ? m_formatted : m_minified; }
    const Output& madeOutput(OutputMode mode) const;
    // Shows the output of the chosen mode, making it (or its lines) first when needed.
    void showChosenOutput();
    void announceOutput(OutputMode mode);
    void setOpenError(const QString& message);
    void resetOutputSelection();
    JSONSearch::MatchList matchList(Pane pane) const;
    static int bumped(int generation);
    // Empties `text`, freeing a large one off the GUI thread.
    template <class Text>
    static void letGo(Text& text);

    QString m_text;
    // A large file's text as it was read, UTF-8 (m_text then stays null), of m_utf8Length units.
    // The input editor reads it in place; it stays the formatter's input until the text is edited.
    QByteArray m_utf8;
    qsizetype m_utf8Length = 0;
    // Set while the editor holds the text (after the user's edits, or once it took the text).
    SnapshotSource m_editSource;
    bool m_textFromEdit = false;
    // The user typed since the text was last set: a worker then reads a copy of its own, as the
    // next keystroke would otherwise copy the block the worker shares.
    bool m_userEdited = false;
    SnapshotSource m_inputSource;
    SnapshotSource m_outputSource;
    qsizetype m_editedLength = 0;
    // The quiet time after the user's edits, at the end of which the editor's text is taken.
    QTimer m_editQuiet;
    JSONFormatter::Indent m_indent = JSONFormatter::Indent::spaces(2);
    JSONFormatter::SortMode m_sortMode = JSONFormatter::SortMode::none;
    OutputMode m_outputMode = OutputMode::formatted;
    JSONFormatter::Validation m_validation;
    mutable Output m_formatted;
    mutable Output m_minified;
    // The mode whose output is on show: the chosen one, or the one before while it is made.
    OutputMode m_shownMode = OutputMode::formatted;
    std::shared_ptr<CodeTextBuffer> m_inputBuffer;
    JSONTextMetrics m_inputMetrics;
    QUrl m_fileUrl;
    QString m_searchQuery;
    JSONSearch::Scope m_searchScope = JSONSearch::Scope::all;
    Pane m_activePane = Pane::output;
    TextRange m_inputSelection;
    TextRange m_outputSelection;
    std::optional<TextReveal> m_inputReveal;
    std::optional<TextReveal> m_outputReveal;
    SearchResult m_searchResult;
    QString m_openError;
    int m_revealSerial = 0;
    int m_textGeneration = 0;
    int m_outputGeneration = 0;
    std::optional<Inputs> m_requestedInputs;
    QuietTask m_formatTask;
    QuietTask m_searchTask;
    QuietTask m_outputTask{0};
    FileOpener m_opener{this};
};
