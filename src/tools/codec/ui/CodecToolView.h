#pragma once

#include "kit/ui/ToolView.h"
#include "tools/codec/Codec.h"

#include <QPointer>

class CodecToolViewModel;
class CodeEditor;
class Metric;
class MetricDivider;
class NoticeCard;
class PaneButton;
class QLabel;
class QToolButton;
class ToolPane;
class ToolbarSegmentedPicker;

// The Encode / Decode view: the toolbar's direction and scheme pickers, the editable Input pane
// and the read-only Output pane with its option toggles, and the failure notice over it.
class CodecToolView : public ToolView {
    Q_OBJECT
public:
    explicit CodecToolView(CodecToolViewModel* model, QWidget* parent = nullptr);
    ~CodecToolView() override;

    QString title() const override;
    QString subtitle() const override;

    static constexpr int copyConfirmationMs = 1400;

    // For tests and the screenshot bench.
    CodecToolViewModel* model() const { return m_model; }
    ToolbarSegmentedPicker* directionPicker() const { return m_directionPicker; }
    ToolbarSegmentedPicker* schemePicker() const { return m_schemePicker; }
    CodeEditor* inputEditor() const { return m_inputEditor; }
    CodeEditor* outputEditor() const { return m_outputEditor; }
    ToolPane* inputPane() const { return m_inputPane; }
    ToolPane* outputPane() const { return m_outputPane; }
    PaneButton* inputCopyButton() const { return m_inputCopy; }
    PaneButton* clearButton() const { return m_clear; }
    PaneButton* outputCopyButton() const { return m_outputCopy; }
    PaneButton* swapButton() const { return m_swap; }
    // The toggles in their fixed order: URL-safe, plus as space, Unpack, Format JSON.
    QList<QToolButton*> optionToggles() const { return m_toggles; }
    bool isNoticeShown() const;
    QString noticeHeadline() const;
    QString noticeMessage() const;
    QStringList outputMetricTexts() const;
    QStringList inputMetricTexts() const;
    bool isInputCopyFlashing() const { return m_inputFlashing > 0; }
    bool isOutputCopyFlashing() const { return m_outputFlashing > 0; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildToolbar();
    void buildInputPane();
    void buildOutputPane();
    void makeOutputEditor(bool json);
    void connectModel();
    void refreshInput();
    void refreshInputMetrics();
    // Sets the shown output into the editor when `shownChanged` (or the editor is new).
    void refreshOutput(bool shownChanged);
    void refreshOutputMetrics();
    void refreshChoices();
    void refreshButtons();
    void refreshNotice();
    void placeNotice();
    void flash(bool input);
    void endFlash(bool input);

    CodecToolViewModel* m_model;
    // The model may go first when both belong to one parent.
    QPointer<CodecToolViewModel> m_liveModel;
    ToolbarSegmentedPicker* m_directionPicker = nullptr;
    ToolbarSegmentedPicker* m_schemePicker = nullptr;
    ToolPane* m_inputPane = nullptr;
    ToolPane* m_outputPane = nullptr;
    CodeEditor* m_inputEditor = nullptr;
    CodeEditor* m_outputEditor = nullptr;
    // While the user's edit of the input goes to the model.
    bool m_takingInputEdit = false;
    bool m_outputIsJSON = false;
    QWidget* m_outputStack = nullptr;
    NoticeCard* m_notice = nullptr;
    PaneButton* m_inputCopy = nullptr;
    PaneButton* m_clear = nullptr;
    PaneButton* m_outputCopy = nullptr;
    PaneButton* m_swap = nullptr;
    QList<QToolButton*> m_toggles;
    Metric* m_inLines = nullptr;
    Metric* m_inBytes = nullptr;
    Metric* m_outLines = nullptr;
    MetricDivider* m_outDivider = nullptr;
    Metric* m_outBytes = nullptr;
    // Confirmations still running per pane; each copy ends its own after 1.4 s.
    int m_inputFlashing = 0;
    int m_outputFlashing = 0;
};
