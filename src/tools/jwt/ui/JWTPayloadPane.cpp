#include "tools/jwt/ui/JWTPayloadPane.h"

#include "kit/ByteSizeLabel.h"
#include "kit/DynamicColor.h"
#include "kit/StatusColor.h"
#include "kit/ui/ContentUnavailableView.h"
#include "kit/ui/Metric.h"
#include "kit/ui/MetricDivider.h"
#include "kit/ui/PaneButton.h"
#include "kit/ui/SymbolIcon.h"
#include "kit/ui/CodeEditor.h"
#include "kit/ui/JSONColouring.h"
#include "tools/jwt/JWTToolViewModel.h"
#include "tools/jwt/ui/JWTTimeText.h"
#include "kit/ui/FontScale.h"
#include "kit/ui/PaletteBinding.h"
#include "kit/ui/AccessibleElement.h"

#include <QClipboard>
#include <QDateTime>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

constexpr int copyConfirmationMs = 1400;

CodeEditor* readOnlyEditor(bool highlight)
{
    CodeEditor::Options options;
    options.isEditable = false;
    options.findBar = true;
    if (highlight)
        options.colouring = std::make_shared<JSONColouring>(options.largeDocument, !options.findBar);
    return new CodeEditor(options);
}

QLabel* plainLabel(const QString& text, bool secondary)
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    if (secondary)
        PaletteBinding::bind(label, QPalette::WindowText, DynamicColor::secondary());
    return label;
}

QLabel* warningSymbol(const QString& tooltip)
{
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    // The warning sign in amber, as a multicolour symbol draws it.
    PaletteBinding::follow(label, [label] {
        QPixmap pixmap = tintedSymbolIcon(QStringLiteral("exclamationmark.triangle.fill"), QPalette::WindowText)
                             .pixmap(14, 14, QIcon::Normal);
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), StatusColor::amber().resolved(label->palette()));
        painter.end();
        label->setPixmap(pixmap);
    });
    label->setToolTip(tooltip);
    label->setAccessibleName(tooltip);
    return label;
}

QString claimLabel(JWTDecoder::TimeClaim::Name name)
{
    switch (name) {
    case JWTDecoder::TimeClaim::Name::exp: return QStringLiteral("Expires");
    case JWTDecoder::TimeClaim::Name::nbf: return QStringLiteral("Not before");
    case JWTDecoder::TimeClaim::Name::iat: return QStringLiteral("Issued");
    }
    return QString();
}

} // namespace

JWTPayloadPane::JWTPayloadPane(QWidget* parent)
    : ToolPane(QStringLiteral("Payload"), ToolPane::Actions | ToolPane::Metrics, parent),
      m_clock([] { return QDateTime::currentMSecsSinceEpoch() / 1000.0; })
{
    setMinimumHeight(180);
    m_stack = new QStackedWidget;

    m_jsonPage = new QWidget;
    auto* jsonLayout = new QVBoxLayout(m_jsonPage);
    jsonLayout->setContentsMargins(0, 0, 0, 0);
    jsonLayout->setSpacing(0);
    m_json = readOnlyEditor(true);
    jsonLayout->addWidget(m_json, 1);
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    PaletteBinding::bind(divider, QPalette::WindowText, DynamicColor::separator());
    AccessibleElement::hide(divider);
    m_tableDivider = divider;
    jsonLayout->addWidget(divider);
    m_table = new QWidget;
    m_grid = new QGridLayout(m_table);
    m_grid->setContentsMargins(12, 8, 12, 8);
    m_grid->setHorizontalSpacing(12);
    m_grid->setVerticalSpacing(4);
    QFont callout = m_table->font();
    callout.setPixelSize(12);
    FontScale::apply(m_table, callout);
    jsonLayout->addWidget(m_table);
    m_stack->addWidget(m_jsonPage);

    m_text = readOnlyEditor(false);
    m_stack->addWidget(m_text);
    setContent(m_stack);

    m_copy = new PaneButton(QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), DynamicColor::secondary(),
                            [this] { copyPayload(); });
    addActionControl(m_copy);
    m_claims = new Metric(QString());
    m_claimsDivider = new MetricDivider;
    m_size = new Metric(QString());
    addMetric(m_claims);
    addMetric(m_claimsDivider);
    addMetric(m_size);

    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &JWTPayloadPane::tick);
}

void JWTPayloadPane::setClock(std::function<double()> clock)
{
    m_clock = std::move(clock);
    tick();
}

void JWTPayloadPane::setDecoded(const JWTDecoder::Decoded& decoded)
{
    using Kind = JWTDecoder::Payload::Kind;
    m_decoded = decoded;
    const JWTDecoder::Payload& payload = decoded.payload;
    if (m_notice) {
        m_stack->removeWidget(m_notice);
        m_notice->deleteLater();
        m_notice = nullptr;
    }
    switch (payload.kind) {
    case Kind::json:
        m_json->setText(payload.text);
        m_stack->setCurrentWidget(m_jsonPage);
        break;
    case Kind::text:
        m_text->setText(payload.text);
        m_stack->setCurrentWidget(m_text);
        break;
    case Kind::binary:
        m_notice = new ContentUnavailableView(
            QStringLiteral("Binary payload"), QStringLiteral("questionmark.square.dashed"),
            QStringLiteral("%1 bytes that are neither JSON nor UTF-8 text.").arg(payload.byteCount));
        break;
    case Kind::detached:
        m_notice = new ContentUnavailableView(
            QStringLiteral("Detached payload"), QStringLiteral("link"),
            QStringLiteral("The payload part is empty. The signed content travels separately from the token."));
        break;
    case Kind::encrypted:
        m_notice = new ContentUnavailableView(
            QStringLiteral("Encrypted payload"), QStringLiteral("lock"),
            QStringLiteral("This is a JWE. Its claims cannot be read without the recipient's key, so only the header "
                           "is shown."));
        break;
    }
    if (m_notice) {
        m_stack->addWidget(m_notice);
        m_stack->setCurrentWidget(m_notice);
    }
    m_copy->setVisible(payload.kind == Kind::json || payload.kind == Kind::text);
    const bool counted = payload.kind == Kind::json && payload.claimCount;
    m_claims->setVisible(counted);
    m_claimsDivider->setVisible(counted);
    if (counted)
        m_claims->setText(QStringLiteral("%1 %2").arg(*payload.claimCount).arg(
            *payload.claimCount == 1 ? QStringLiteral("claim") : QStringLiteral("claims")));
    m_size->setText(byteSizeLabel(decoded.payloadByteCount));
    rebuildTable();
    tick();
}

void JWTPayloadPane::rebuildTable()
{
    // Rows go at once, so a new token never shows beside the old one's rows.
    while (QLayoutItem* item = m_grid->takeAt(0)) {
        if (QLayout* l = item->layout()) {
            while (QLayoutItem* inner = l->takeAt(0)) {
                delete inner->widget();
                delete inner;
            }
        }
        delete item->widget();
        delete item;
    }
    m_rows.clear();
    const bool shown = m_decoded.payload.kind == JWTDecoder::Payload::Kind::json && !m_decoded.timeClaims.isEmpty();
    m_tableDivider->setVisible(shown);
    m_table->setVisible(shown);
    if (!shown)
        return;
    int row = 0;
    for (const JWTDecoder::TimeClaim& claim : m_decoded.timeClaims) {
        m_grid->addWidget(plainLabel(claimLabel(claim.name), true), row, 0, Qt::AlignLeading);
        if (claim.date) {
            QLabel* date = plainLabel(JWTTimeText::date(*claim.date), false);
            date->setToolTip(JWTDecoder::TimeClaim::rawValue(claim.name) + QStringLiteral(": ")
                             + JWTTimeText::iso8601(*claim.date));
            m_grid->addWidget(date, row, 1, Qt::AlignLeading);
            auto* cell = new QHBoxLayout;
            cell->setSpacing(4);
            QLabel* relative = plainLabel(QString(), true);
            cell->addWidget(relative);
            if (*claim.date >= JWTTimeText::millisecondsThreshold)
                cell->addWidget(warningSymbol(
                    QStringLiteral("This looks like milliseconds. RFC 7519 wants seconds since 1970.")));
            cell->addStretch(1);
            m_grid->addLayout(cell, row, 2);
            m_rows.append(Row{relative, *claim.date});
        } else {
            auto* cell = new QHBoxLayout;
            cell->setSpacing(4);
            cell->addWidget(warningSymbol(QStringLiteral("RFC 7519 wants a number of seconds since 1970 here.")));
            cell->addWidget(plainLabel(QStringLiteral("Not a number of seconds"), true));
            cell->addStretch(1);
            m_grid->addLayout(cell, row, 1, 1, 2);
        }
        ++row;
    }
    m_grid->setColumnStretch(2, 1);
}

void JWTPayloadPane::tick()
{
    const double now = m_clock();
    setBadge(JWTToolViewModel::timeBadge(m_decoded, now));
    for (const Row& row : m_rows)
        row.relative->setText(JWTTimeText::relative(row.date, now));
}

void JWTPayloadPane::copyPayload()
{
    const QString& text = m_decoded.payload.text;
    // Nothing copied, nothing confirmed.
    if (text.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(text);
    m_copy->setTitle(QStringLiteral("Copied"));
    m_copy->setSystemImage(QStringLiteral("checkmark"));
    m_copy->setTint(StatusColor::green());
    const int flash = ++m_flashes;
    QTimer::singleShot(copyConfirmationMs, this, [this, flash] {
        Q_UNUSED(flash);
        m_copy->setTitle(QStringLiteral("Copy"));
        m_copy->setSystemImage(QStringLiteral("doc.on.doc"));
        m_copy->setTint(DynamicColor::secondary());
    });
}

void JWTPayloadPane::showEvent(QShowEvent* event)
{
    ToolPane::showEvent(event);
    tick();
    m_timer.start();
}

void JWTPayloadPane::hideEvent(QHideEvent* event)
{
    ToolPane::hideEvent(event);
    m_timer.stop();
}
