#pragma once

// The focus handle keeps a guarded pointer, which needs the complete field type.
#include "kit/ui/ToolbarSearchField.h"
#include "kit/ui/ToolbarSearchFocus.h"

#include "kit/ui/NoticeCard.h"
#include "kit/ui/ToolView.h"

#include <QPointer>
#include <QWidget>

class CodeEditor;
class JSONToolViewModel;
class Metric;
class MetricDivider;
class PaneButton;
class QLabel;
class QPushButton;
class QToolButton;
class ToolPane;
class ToolbarSearchItem;
class ToolbarSegmentedPicker;

// The JSON tool's window content: input and output panes side by side, bound to the tool's view
// model, with the toolbar's Open button and search field, the search-scope bar while a query
// is typed, the invalid-JSON banner over the output, and the pane footers' counts. It answers
// the File menu's Open and runs the Find menu's actions itself.
class JSONToolView : public ToolView {
    Q_OBJECT
public:
    explicit JSONToolView(JSONToolViewModel* model, QWidget* parent = nullptr);
    ~JSONToolView() override;

    JSONToolViewModel* model() const { return m_model; }

    // The window title while this view is shown: the file's name, or "Untitled", then the tool.
    QString titleText() const;
    // Runs a text-finder action (1 show find, 2 next, 3 previous); others are ignored.
    void performFindAction(ToolView::FindAction action);

    bool runsOwnFind() const override { return true; }
    void findInTool(FindAction action) override { performFindAction(action); }
    void openFile() override { presentOpenPanel(); }
    QString title() const override;
    QString subtitle() const override { return QStringLiteral("JSON"); }
    // Shows the open dialog (nothing while another one is up).
    void presentOpenPanel();

    // Parts, for tests and screenshots.
    CodeEditor* inputEditor() const { return m_inputEditor; }
    CodeEditor* outputEditor() const { return m_outputEditor; }
    ToolPane* inputPane() const { return m_inputPane; }
    ToolPane* outputPane() const { return m_outputPane; }
    ToolbarSearchItem* searchItem() const { return m_search; }
    QWidget* scopeBar() const { return m_scopeBar; }
    QWidget* banner() const { return m_banner; }
    QLabel* bannerMessage() const { return m_banner->message(); }
    PaneButton* inputCopyButton() const { return m_inputCopy; }
    PaneButton* clearButton() const { return m_clear; }
    PaneButton* outputCopyButton() const { return m_outputCopy; }
    ToolbarSegmentedPicker* outputModePicker() const { return m_modePicker; }
    ToolbarSegmentedPicker* indentPicker() const { return m_indentPicker; }
    Metric* inputLinesMetric() const { return m_inLines; }
    Metric* inputBytesMetric() const { return m_inBytes; }
    Metric* inputKeysMetric() const { return m_inKeys; }
    Metric* outputMatchMetric() const { return m_outMatches; }
    bool isInputCopyFlashing() const { return m_inputFlashing; }
    bool isOutputCopyFlashing() const { return m_outputFlashing; }

    static constexpr int copyConfirmationMs = 1400;

protected:
    void showEvent(QShowEvent* event) override;
    // Another tool was chosen: a copy confirmation ends with the view.
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildToolbar();
    QWidget* buildScopeBar();
    void buildInputPane();
    void buildOutputPane();
    void connectModel();

    void refreshInputText();
    void refreshOutputText();
    void refreshValidation();
    void narrowTexts();
    void refreshInputMetrics();
    void refreshOutputMetrics();
    void refreshMatches();
    void refreshOptions();
    void refreshSearch();
    void refreshButtons();
    void refreshTitle();
    void placeBanner();
    void flashCopy(bool input);
    void endCopyConfirmation(bool input);

    JSONToolViewModel* m_model;
    // The model may go first when both belong to one parent.
    QPointer<JSONToolViewModel> m_liveModel;
    ToolbarSearchFocus m_searchFocus;
    // While the user's edit of the input goes to the model.
    bool m_takingInputEdit = false;
    bool m_inputFlashing = false;
    bool m_outputFlashing = false;
    // Bumped when the view is hidden, so a confirmation's timer from an earlier showing ends
    // nothing of a later one.
    int m_showing = 0;

    QToolButton* m_openButton = nullptr;
    ToolbarSearchItem* m_search = nullptr;
    QWidget* m_scopeBar = nullptr;
    ToolbarSegmentedPicker* m_scopePicker = nullptr;
    ToolPane* m_inputPane = nullptr;
    ToolPane* m_outputPane = nullptr;
    CodeEditor* m_inputEditor = nullptr;
    CodeEditor* m_outputEditor = nullptr;
    QWidget* m_outputStack = nullptr;
    NoticeCard* m_banner = nullptr;
    QLabel* m_openError = nullptr;
    PaneButton* m_inputCopy = nullptr;
    PaneButton* m_clear = nullptr;
    PaneButton* m_outputCopy = nullptr;
    ToolbarSegmentedPicker* m_modePicker = nullptr;
    QPushButton* m_sort = nullptr;
    ToolbarSegmentedPicker* m_indentPicker = nullptr;
    Metric* m_inLines = nullptr;
    Metric* m_inBytes = nullptr;
    MetricDivider* m_inKeysDivider = nullptr;
    Metric* m_inKeys = nullptr;
    MetricDivider* m_inMatchDivider = nullptr;
    Metric* m_inMatches = nullptr;
    Metric* m_outLines = nullptr;
    Metric* m_outBytes = nullptr;
    MetricDivider* m_outMatchDivider = nullptr;
    Metric* m_outMatches = nullptr;
};
