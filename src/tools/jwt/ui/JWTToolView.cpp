#include "tools/jwt/ui/JWTToolView.h"

#include "kit/ByteSizeLabel.h"
#include "kit/DynamicColor.h"
#include "kit/StatusColor.h"
#include "kit/TextHelpers.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/ContentUnavailableView.h"
#include "kit/ui/FindableTextView.h"
#include "kit/ui/Metric.h"
#include "kit/ui/MetricDivider.h"
#include "kit/ui/PaneButton.h"
#include "kit/ui/SymbolIcon.h"
#include "kit/ui/ToolPane.h"
#include "kit/ui/CodeEditor.h"
#include "kit/ui/JSONColouring.h"
#include "tools/jwt/JWTToolViewModel.h"
#include "tools/jwt/ui/JWTPayloadPane.h"
#include "tools/jwt/ui/JWTTokenHighlighter.h"
#include "kit/ui/FontScale.h"
#include "kit/ui/PaletteBinding.h"
#include "kit/ui/AccessibleElement.h"

#include <QClipboard>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScopedValueRollback>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Whether the units around an edit hold a surrogate without its partner; reads only those.
bool leavesUnpairedSurrogate(const CodeTextBuffer& buffer, const TextEdit& edit)
{
    const qsizetype from = std::max<qsizetype>(0, edit.position - 2);
    const qsizetype to = std::min(buffer.length(), edit.position + edit.insertedLength() + 2);
    const QString window = buffer.mid(from, to - from);
    const qsizetype first = std::max<qsizetype>(0, edit.position - 1 - from);
    const qsizetype last = std::min(window.size(), edit.position + edit.insertedLength() + 1 - from);
    for (qsizetype i = first; i < last; ++i) {
        const QChar c = window.at(i);
        // The window reaches one unit past what is checked, except at the ends of the text.
        if (c.isHighSurrogate() && (i + 1 >= window.size() || !window.at(i + 1).isLowSurrogate()))
            return true;
        if (c.isLowSurrogate() && (i == 0 || !window.at(i - 1).isHighSurrogate()))
            return true;
    }
    return false;
}
constexpr int copyConfirmationMs = 1400;

// A sentence or label can quote token text (a kid, an alg) of any length; one line of megabytes
// would stall the layout, so what is shown stops after a few thousand characters.
QString shown(const QString& text)
{
    constexpr qsizetype limit = 2000;
    return text.size() <= limit ? text : text.left(limit) + QChar(0x2026);
}

std::optional<PaneBadge> shownBadge(const std::optional<PaneBadge>& badge)
{
    if (!badge)
        return badge;
    return PaneBadge(shown(badge->text()), badge->tint());
}
} // namespace

JWTToolView::JWTToolView(JWTToolViewModel* model, QWidget* parent)
    : ToolView(parent), m_model(model), m_highlighter(std::make_unique<JWTTokenHighlighter>())
{
    setMinimumSize(640, 420);

    auto* left = new QSplitter(Qt::Vertical);
    left->setChildrenCollapsible(false);
    left->addWidget(buildTokenPane());
    left->addWidget(buildSignaturePane());
    left->setMinimumWidth(280);
    left->setSizes({240, 400});

    m_right = new QStackedWidget;
    m_right->setMinimumWidth(360);
    m_noticePage = new QWidget;
    auto* noticeLayout = new QVBoxLayout(m_noticePage);
    noticeLayout->setContentsMargins(0, 0, 0, 0);
    m_right->addWidget(m_noticePage);
    auto* decoded = new QSplitter(Qt::Vertical);
    decoded->setChildrenCollapsible(false);
    decoded->addWidget(buildHeaderPane());
    m_payloadPane = new JWTPayloadPane;
    decoded->addWidget(m_payloadPane);
    decoded->setSizes({150, 400});
    m_decodedPage = decoded;
    m_right->addWidget(m_decodedPage);

    auto* split = new QSplitter(Qt::Horizontal);
    split->setChildrenCollapsible(false);
    split->addWidget(left);
    split->addWidget(m_right);
    split->setSizes({380, 600});
    split->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);

    connect(m_model, &JWTToolViewModel::tokenChanged, this, &JWTToolView::showToken);
    connect(m_model, &JWTToolViewModel::keyChanged, this, &JWTToolView::showKey);
    connect(m_model, &JWTToolViewModel::resultsChanged, this, &JWTToolView::showResults);
    connect(m_model, &JWTToolViewModel::secretIsBase64Changed, this, [this] {
        m_base64->setChecked(m_model->secretIsBase64());
        // The switch's change (not its first value) runs the check again.
        m_model->refresh();
    });

    m_tokenEditor->setText(m_model->token());
    m_keyEditor->setText(m_model->key());
    m_base64->setChecked(m_model->secretIsBase64());
    applyAppearance();
    showToken();
    showKey();
    showResults();
}

JWTToolView::~JWTToolView()
{
    // The editor holds the highlighter by pointer only.
    if (m_tokenEditor)
        m_tokenEditor->setHighlighters({});
}

QWidget* JWTToolView::buildTokenPane()
{
    m_tokenPane = new ToolPane(QStringLiteral("Token"), ToolPane::Actions | ToolPane::Metrics);
    m_tokenPane->setMinimumHeight(140);
    // The kit's find bar over the editor: the Find menu reaches it through the focus.
    auto* findable = new FindableTextView;
    m_tokenEditor = findable->textView();
    m_tokenEditor->setPlaceholderText(QStringLiteral("Paste a JWT"));
    m_tokenEditor->setHighlighters({m_highlighter.get()});
    connect(m_tokenEditor, &CodeTextView::textChanged, this, [this] { m_highlighter->invalidate(); });
    connect(m_tokenEditor, &CodeTextView::textEdited, this, [this](const TextEdit& edit) {
        if (leavesUnpairedSurrogate(m_tokenEditor->buffer(), edit)) {
            // The model takes a repaired text, which the editor is then given.
            m_model->setToken(TextHelpers::repairedUTF16(m_tokenEditor->text()));
            return;
        }
        // The editor already shows the user's edit: the model's echo of it is not set back.
        const QScopedValueRollback<bool> taking(m_takingEdit, true);
        m_model->editToken(m_tokenEditor->snapshot());
    });
    m_tokenPane->setContent(findable);
    m_tokenClear = new PaneButton(QStringLiteral("Clear"), QStringLiteral("trash"), DynamicColor::secondary(),
                                  [this] { m_model->setToken(QString()); });
    m_tokenPane->addActionControl(m_tokenClear);
    m_parts = new Metric(QString());
    m_partsDivider = new MetricDivider;
    m_signatureSize = new Metric(QString());
    m_signatureDivider = new MetricDivider;
    m_tokenSize = new Metric(QString());
    m_tokenPane->addMetric(m_parts);
    m_tokenPane->addMetric(m_partsDivider);
    m_tokenPane->addMetric(m_signatureSize);
    m_tokenPane->addMetric(m_signatureDivider);
    m_tokenPane->addMetric(m_tokenSize);
    return m_tokenPane;
}

QWidget* JWTToolView::buildSignaturePane()
{
    m_signaturePane = new ToolPane(QStringLiteral("Signature"), ToolPane::Config | ToolPane::Actions | ToolPane::Metrics);
    m_signaturePane->setMinimumHeight(160);
    auto* content = new QWidget;
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    CodeEditor::Options options;
    options.isEditable = true;
    options.findBar = true;
    options.placeholder = m_model->keyHint();
    m_keyEditor = new CodeEditor(options);
    connect(m_keyEditor, &CodeEditor::textEdited, this, [this] {
        const QScopedValueRollback<bool> taking(m_takingEdit, true);
        m_model->editKey(m_keyEditor->snapshot());
    });
    stack->addWidget(m_keyEditor, 1);
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    PaletteBinding::bind(divider, QPalette::WindowText, DynamicColor::separator());
    AccessibleElement::hide(divider);
    m_verdictDivider = divider;
    stack->addWidget(divider);
    m_verdict = new QLabel;
    // Refusal sentences quote key text (a kid, a PEM label): never rich text.
    m_verdict->setTextFormat(Qt::PlainText);
    m_verdict->setWordWrap(true);
    m_verdict->setContentsMargins(12, 8, 12, 8);
    QFont callout = m_verdict->font();
    callout.setPixelSize(12);
    FontScale::apply(m_verdict, callout);
    PaletteBinding::bind(m_verdict, QPalette::WindowText, DynamicColor::secondary());
    m_verdict->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stack->addWidget(m_verdict);
    m_signaturePane->setContent(content);

    m_base64 = new QToolButton;
    m_base64->setCheckable(true);
    m_base64->setText(QStringLiteral("Base64"));
    m_base64->setIcon(symbolIcon(QStringLiteral("character.textbox")));
    m_base64->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_base64->setToolTip(QStringLiteral("Read an HMAC secret as Base64 rather than as text"));
    connect(m_base64, &QToolButton::toggled, this, [this](bool on) { m_model->setSecretIsBase64(on); });
    m_signaturePane->addConfigControl(m_base64);

    m_keyClear = new PaneButton(QStringLiteral("Clear"), QStringLiteral("trash"), DynamicColor::secondary(),
                                [this] { m_model->setKey(QString()); });
    m_signaturePane->addActionControl(m_keyClear);
    m_keyMetric = new Metric(QStringLiteral("No key"));
    m_signaturePane->addMetric(m_keyMetric);
    return m_signaturePane;
}

QWidget* JWTToolView::buildHeaderPane()
{
    m_headerPane = new ToolPane(QStringLiteral("Header"), ToolPane::Actions);
    m_headerPane->setMinimumHeight(100);
    CodeEditor::Options options;
    options.isEditable = false;
    options.findBar = true;
    options.colouring = std::make_shared<JSONColouring>(options.largeDocument, !options.findBar);
    m_headerEditor = new CodeEditor(options);
    m_headerPane->setContent(m_headerEditor);
    m_headerCopy = new PaneButton(QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), DynamicColor::secondary());
    m_headerCopy->setAction([this] {
        const QString text = m_model->decoded() ? m_model->decoded()->header : QString();
        // Nothing copied, nothing confirmed.
        if (text.isEmpty())
            return;
        QGuiApplication::clipboard()->setText(text);
        m_headerCopy->setTitle(QStringLiteral("Copied"));
        m_headerCopy->setSystemImage(QStringLiteral("checkmark"));
        m_headerCopy->setTint(StatusColor::green());
        QTimer::singleShot(copyConfirmationMs, this, [this] {
            m_headerCopy->setTitle(QStringLiteral("Copy"));
            m_headerCopy->setSystemImage(QStringLiteral("doc.on.doc"));
            m_headerCopy->setTint(DynamicColor::secondary());
        });
    });
    m_headerPane->addActionControl(m_headerCopy);
    return m_headerPane;
}

void JWTToolView::showToken()
{
    // Any token but the user's own edit is set, whatever the editor shows.
    if (!m_takingEdit) {
        const QString& token = m_model->token();
        // Replaced from outside: the caret stays where it was, or at the end when that is nearer.
        const qsizetype caret = std::min(m_tokenEditor->caretPosition(), token.size());
        m_tokenEditor->setText(token);
        m_tokenEditor->setSelection(std::min(caret, m_tokenEditor->length()), std::min(caret, m_tokenEditor->length()));
    }
    m_tokenClear->setEnabled(!m_model->isTokenEmpty());
    m_tokenSize->setText(byteSizeLabel(m_model->tokenByteCount()));
    // The hint names the sample's secret only while the sample is untouched.
    m_keyEditor->setPlaceholder(m_model->keyHint());
}

void JWTToolView::showKey()
{
    if (!m_takingEdit)
        m_keyEditor->setText(m_model->key());
    m_keyClear->setEnabled(!m_model->isKeyEmpty());
    const bool shows = m_model->showsVerdict();
    m_verdictDivider->setVisible(shows);
    m_verdict->setVisible(shows);
    m_verdict->setText(shown(m_model->verdict()));
}

void JWTToolView::showNotice(const QString& title, const QString& symbol, const QString& description)
{
    const QString key = title + u'\n' + description;
    if (key != m_noticeKey || !m_notice) {
        m_noticeKey = key;
        delete m_notice;
        m_notice = new ContentUnavailableView(title, symbol, description);
        m_noticePage->layout()->addWidget(m_notice);
    }
    m_right->setCurrentWidget(m_noticePage);
}

void JWTToolView::showResults()
{
    const auto& decoded = m_model->decoded();
    const auto& failure = m_model->failure();
    m_tokenPane->setBadge(m_model->decodeBadge());
    m_signaturePane->setBadge(m_model->verificationBadge());
    m_parts->setVisible(decoded.has_value());
    m_partsDivider->setVisible(decoded.has_value());
    const bool signatureShown = decoded && decoded->signatureByteCount;
    m_signatureSize->setVisible(signatureShown);
    m_signatureDivider->setVisible(signatureShown);
    if (decoded)
        m_parts->setText(QStringLiteral("%1 parts").arg(decoded->segmentCount));
    if (signatureShown)
        m_signatureSize->setText(byteSizeLabel(*decoded->signatureByteCount, QStringLiteral("signature")));
    m_tokenSize->setText(byteSizeLabel(m_model->tokenByteCount()));

    const auto& outcome = m_model->verification();
    const bool described = outcome && (outcome->kind == JWTVerifier::Outcome::Kind::verified
                                       || outcome->kind == JWTVerifier::Outcome::Kind::mismatch);
    m_keyMetric->setText(described ? shown(outcome->text) : QStringLiteral("No key"));
    const auto algorithm = m_model->headerAlgorithm();
    m_base64->setEnabled(algorithm && algorithm->family == JWTVerifier::Algorithm::Family::hs);
    m_keyEditor->setPlaceholder(m_model->keyHint());
    showKey();

    if (decoded) {
        m_headerPane->setBadge(shownBadge(JWTToolViewModel::algorithmBadge(*decoded)));
        m_headerEditor->setText(decoded->header);
        m_payloadPane->setDecoded(*decoded);
        m_right->setCurrentWidget(m_decodedPage);
    } else if (failure && failure->kind != JWTDecoder::Failure::Kind::empty) {
        showNotice(QStringLiteral("Not a JWT"), QStringLiteral("exclamationmark.triangle"), failure->message());
    } else {
        showNotice(QStringLiteral("Paste a JWT"), QStringLiteral("key.horizontal"),
                   QStringLiteral("Its header and claims are decoded here, on this computer. The token is never sent "
                                  "anywhere."));
    }
}

void JWTToolView::applyAppearance()
{
    m_highlighter->setDark(DynamicColor::isDark(palette()));
    m_tokenEditor->refreshHighlighting();
}

void JWTToolView::showEvent(QShowEvent* event)
{
    ToolView::showEvent(event);
    m_model->refreshIfNeeded();
}

void JWTToolView::changeEvent(QEvent* event)
{
    ToolView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        applyAppearance();
}
