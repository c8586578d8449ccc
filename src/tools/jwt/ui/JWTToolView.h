#pragma once

#include "kit/TextEdit.h"
#include "kit/ui/ToolView.h"

#include <memory>

class CodeTextView;
class ContentUnavailableView;
class CodeEditor;
class JWTPayloadPane;
class JWTTokenHighlighter;
class JWTToolViewModel;
class Metric;
class MetricDivider;
class PaneButton;
class QLabel;
class QStackedWidget;
class QToolButton;
class ToolPane;

// The JWT tool's window content: the Token pane over the Signature pane on the left; on the
// right the Header pane over the Payload pane while a decoded token is published, else a notice
// ("Paste a JWT", or "Not a JWT" with the decoder's sentence). Everything shown comes from the
// view model; edits go back to it.
class JWTToolView : public ToolView {
    Q_OBJECT
public:
    explicit JWTToolView(JWTToolViewModel* model, QWidget* parent = nullptr);
    ~JWTToolView() override;

    QString title() const override { return QStringLiteral("JWT"); }
    QString subtitle() const override { return QStringLiteral("Decoded on this computer"); }

    JWTToolViewModel* model() const { return m_model; }
    // Parts, for tests and screenshots.
    CodeTextView* tokenEditor() const { return m_tokenEditor; }
    CodeEditor* keyEditor() const { return m_keyEditor; }
    CodeEditor* headerEditor() const { return m_headerEditor; }
    ToolPane* tokenPane() const { return m_tokenPane; }
    ToolPane* signaturePane() const { return m_signaturePane; }
    ToolPane* headerPane() const { return m_headerPane; }
    JWTPayloadPane* payloadPane() const { return m_payloadPane; }
    QStackedWidget* resultSide() const { return m_right; }
    ContentUnavailableView* notice() const { return m_notice; }
    QLabel* verdictLabel() const { return m_verdict; }
    QToolButton* base64Toggle() const { return m_base64; }
    PaneButton* tokenClearButton() const { return m_tokenClear; }
    PaneButton* keyClearButton() const { return m_keyClear; }
    Metric* partsMetric() const { return m_parts; }
    Metric* signatureSizeMetric() const { return m_signatureSize; }
    Metric* tokenSizeMetric() const { return m_tokenSize; }
    Metric* keyMetric() const { return m_keyMetric; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* buildTokenPane();
    QWidget* buildSignaturePane();
    QWidget* buildHeaderPane();
    void showToken();
    void showKey();
    void showResults();
    void showNotice(const QString& title, const QString& symbol, const QString& description);
    void applyAppearance();

    JWTToolViewModel* m_model;
    std::unique_ptr<JWTTokenHighlighter> m_highlighter;
    CodeTextView* m_tokenEditor = nullptr;
    CodeEditor* m_keyEditor = nullptr;
    // While the user's edit of the token or key goes to the model.
    bool m_takingEdit = false;
    // The token editor's last edit, handed on when the editor reports it as the user's.
    CodeEditor* m_headerEditor = nullptr;
    ToolPane* m_tokenPane = nullptr;
    ToolPane* m_signaturePane = nullptr;
    ToolPane* m_headerPane = nullptr;
    JWTPayloadPane* m_payloadPane = nullptr;
    QStackedWidget* m_right = nullptr;
    QWidget* m_noticePage = nullptr;
    ContentUnavailableView* m_notice = nullptr;
    QWidget* m_decodedPage = nullptr;
    QLabel* m_verdict = nullptr;
    QWidget* m_verdictDivider = nullptr;
    QToolButton* m_base64 = nullptr;
    PaneButton* m_tokenClear = nullptr;
    PaneButton* m_keyClear = nullptr;
    PaneButton* m_headerCopy = nullptr;
    Metric* m_parts = nullptr;
    MetricDivider* m_partsDivider = nullptr;
    Metric* m_signatureSize = nullptr;
    MetricDivider* m_signatureDivider = nullptr;
    Metric* m_tokenSize = nullptr;
    Metric* m_keyMetric = nullptr;
    QString m_noticeKey;
};
