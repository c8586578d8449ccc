#include "tools/timestamp/ui/TimestampToolView.h"

#include "kit/DynamicColor.h"
#include "kit/Palette.h"
#include "kit/ui/FocusRing.h"
#include "kit/ui/Metric.h"
#include "kit/ui/MetricDivider.h"
#include "kit/ui/PaneButton.h"
#include "kit/ui/ToolPane.h"
#include "kit/ui/ToolbarSegmentedPicker.h"
#include "tools/timestamp/Timestamp.h"
#include "tools/timestamp/TimestampToolViewModel.h"
#include "tools/timestamp/TimestampZones.h"
#include "tools/timestamp/ui/TimestampClipboardWatch.h"
#include "tools/timestamp/ui/TimestampResultSections.h"
#include "tools/timestamp/ui/TimestampRowState.h"
#include "kit/ui/FontScale.h"
#include "kit/ui/PaletteBinding.h"
#include "kit/ui/AccessibleElement.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QResizeEvent>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace Timestamp;

bool TimestampToolView::hasShownBefore = false;

namespace {

// The latest key or mouse-button event of the application and when it came, for the focus
// rule: Qt keeps no "current event" to ask.
class LastInputEvent : public QObject {
public:
    QEvent::Type type = QEvent::None;
    Qt::MouseButton button = Qt::NoButton;
    QElapsedTimer age;

    static LastInputEvent& shared()
    {
        static LastInputEvent* recorder = [] {
            auto* r = new LastInputEvent(qApp);
            qApp->installEventFilter(r);
            return r;
        }();
        return *recorder;
    }

protected:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            type = event->type();
            button = Qt::NoButton;
            age.start();
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
            type = event->type();
            button = static_cast<QMouseEvent*>(event)->button();
            age.start();
            break;
        default:
            break;
        }
        return false;
    }
};

}  // namespace

TimestampToolView::TimestampToolView(TimestampToolViewModel* model, QWidget* parent)
    : ToolView(parent), m_model(model), m_rowState(new TimestampRowState(this)),
      m_clipboard(new TimestampClipboardWatch(this))
{
    LastInputEvent::shared();
    TimestampToolViewModel::warmZoneCatalogue();
    setMinimumSize(520, 420);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    m_pane = new ToolPane(QStringLiteral("Time"), ToolPane::Config | ToolPane::Actions | ToolPane::Metrics, this);
    root->addWidget(m_pane);

    // Header: the unit picker, then Now, Paste and Clear.
    QList<ToolbarSegmentedPicker::Item> items;
    for (UnitChoice c : allUnitChoices)
        items.append({label(c), rawValue(c)});
    m_unitPicker = new ToolbarSegmentedPicker(QStringLiteral("Unit"), items);
    m_unitPicker->setToolTip(QStringLiteral(
        "How to read a number: guessed from its size, or seconds, milliseconds, microseconds or nanoseconds since 1970"));
    m_unitPicker->setSelection(rawValue(m_model->unit()));
    connect(m_unitPicker, &ToolbarSegmentedPicker::activated, this, [this](const QVariant& v) {
        if (auto choice = unitChoiceFromRawValue(v.toString()))
            m_model->setUnit(*choice);
    });
    m_pane->addConfigControl(m_unitPicker);

    m_now = new PaneButton(QStringLiteral("Now"), QStringLiteral("clock"), DynamicColor::secondary(),
                           [this] { m_model->setNow(); });
    m_now->setToolTip(QStringLiteral("Replace the input with the current time"));
    m_paste = new PaneButton(QStringLiteral("Paste"), QStringLiteral("doc.on.clipboard"), DynamicColor::secondary(),
                             [this] { m_clipboard->readText(); });
    m_paste->setToolTip(QStringLiteral("Replace the input with the text on the clipboard"));
    m_clear = new PaneButton(QStringLiteral("Clear"), QStringLiteral("trash"), DynamicColor::secondary(), [this] {
        m_model->replaceInput(QString());
        m_input->setFocus();
    });
    m_pane->addActionControl(m_now);
    m_pane->addActionControl(m_paste);
    m_pane->addActionControl(m_clear);

    // Content: the input and its status line, a divider, the scrolling results.
    auto* content = new QWidget;
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    auto* inputArea = new QWidget(content);
    auto* inputStack = new QVBoxLayout(inputArea);
    inputStack->setContentsMargins(16, 16, 16, 16);
    inputStack->setSpacing(8);
    m_input = new QLineEdit(inputArea);
    m_input->setPlaceholderText(QStringLiteral("Unix time, ISO 8601 or RFC 2822"));
    m_input->setAccessibleName(QStringLiteral("Unix time, ISO 8601 or RFC 2822"));
    QFont inputFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    inputFont.setPixelSize(15);
    inputFont.setWeight(QFont::Medium);
    FontScale::apply(m_input, inputFont);
    PaletteBinding::bind(m_input, QPalette::PlaceholderText, Palette::prompt());
    m_input->setText(m_model->input());
    connect(m_input, &QLineEdit::textEdited, this, [this](const QString& text) { m_model->replaceInput(text); });
    inputStack->addWidget(m_input);
    m_status = new QLabel(inputArea);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);
    QFont statusFont = m_status->font();
    statusFont.setPixelSize(12);
    FontScale::apply(m_status, statusFont);
    PaletteBinding::bind(m_status, QPalette::WindowText, DynamicColor::secondary());
    inputStack->addWidget(m_status);
    stack->addWidget(inputArea);
    auto* divider = new QFrame(content);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);
    AccessibleElement::hide(divider);
    stack->addWidget(divider);

    m_scroll = new QScrollArea(content);
    m_scroll->setAccessibleName(QStringLiteral("Results"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    // A long local date in a narrow pane can be scrolled to rather than cut off.
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* results = new QWidget;
    auto* resultsStack = new QVBoxLayout(results);
    resultsStack->setContentsMargins(16, 16, 16, 16);
    m_sections = new TimestampResultSections(m_model, m_rowState, results);
    resultsStack->addWidget(m_sections);
    resultsStack->addStretch(1);
    m_scroll->setWidget(results);
    m_scroll->viewport()->installEventFilter(this);
    FocusRing::attach(m_scroll);
    stack->addWidget(m_scroll, 1);
    m_pane->setContent(content);

    // Footer: the user's zone and its offset.
    m_zoneMetric = new Metric(QString());
    m_offsetMetric = new Metric(QString());
    m_pane->addMetric(m_zoneMetric);
    m_pane->addMetric(new MetricDivider);
    m_pane->addMetric(m_offsetMetric);

    connect(m_model, &TimestampToolViewModel::inputChanged, this, [this] {
        if (m_input->text() != m_model->input())
            m_input->setText(m_model->input());
        m_clear->setEnabled(!m_model->input().isEmpty());
    });
    connect(m_model, &TimestampToolViewModel::unitChanged, this,
            [this] { m_unitPicker->setSelection(rawValue(m_model->unit())); });
    connect(m_model, &TimestampToolViewModel::parsedChanged, this,
            [this] { m_rowState->setHoveredRow(QString()); });
    // Every applied parse rebuilds the rows: the same moment may now be read in another zone.
    connect(m_model, &TimestampToolViewModel::parseApplied, this, [this] {
        refreshStatus();
        refreshFooter();
        rebuildResults();
    });
    connect(m_model, &TimestampToolViewModel::zonesChanged, this, &TimestampToolView::rebuildResults);
    m_clear->setEnabled(!m_model->input().isEmpty());

    // The paste button follows the clipboard while the view can be used; the watch never
    // waits on the clipboard's owner.
    m_paste->setEnabled(false);
    connect(m_clipboard, &TimestampClipboardWatch::hasTextChanged, m_paste, &QWidget::setEnabled);
    connect(m_clipboard, &TimestampClipboardWatch::textRead, this,
            [this](const QString& text) { m_model->replaceInput(text.trimmed()); });
    refreshStatus();
    refreshFooter();
    rebuildResults();
}

QString TimestampToolView::subtitle() const
{
    return QString::fromUtf8(m_model->currentZone().id());
}

int TimestampToolView::paneWidth() const
{
    return m_scroll->viewport()->width();
}

void TimestampToolView::rebuildResults()
{
    const int width = paneWidth();
    m_builtWide = width >= TimestampResultSections::wideWidth;
    m_builtWidth = width;
    m_sections->rebuild(m_builtWide, width);
}

void TimestampToolView::refreshStatus()
{
    m_status->setText(m_model->statusText());
    m_pane->setBadge(m_model->readingBadge());
}

void TimestampToolView::refreshFooter()
{
    const QTimeZone zone = m_model->currentZone();
    const QString id = QString::fromUtf8(zone.id());
    const QString code = zoneCountries().value(id);
    const QString flagText = code.isEmpty() ? QString() : flag(code);
    if (!flagText.isEmpty()) {
        m_zoneMetric->setText(flagText + u' ' + id);
        m_zoneMetric->setSystemImage(QString());
    } else {
        m_zoneMetric->setText(id);
        m_zoneMetric->setSystemImage(QStringLiteral("globe"));
    }
    const int offset = offsetAt(zone, QDateTime::currentSecsSinceEpoch());
    m_offsetMetric->setText(offset == 0 ? QStringLiteral("UTC") : QStringLiteral("UTC") + offsetText(offset));
    if (id != m_shownZone) {
        m_shownZone = id;
        emit titleChanged();
    }
}

void TimestampToolView::updateClipboardWatch()
{
    m_clipboard->setWatching(isVisible() && isActiveWindow());
}

void TimestampToolView::watchInputEvents() { LastInputEvent::shared(); }

void TimestampToolView::focusInputOnAppear()
{
    // The first showing takes the keyboard unless a key brought it; later ones only when a
    // click did, so moving through the sidebar with the keyboard keeps its focus.
    const LastInputEvent& last = LastInputEvent::shared();
    const bool recent = last.type != QEvent::None && last.age.isValid() && last.age.elapsed() < 1000;
    bool focus;
    if (recent) {
        const bool key = last.type == QEvent::KeyPress || last.type == QEvent::KeyRelease;
        const bool leftMouse = !key && last.button == Qt::LeftButton;
        focus = hasShownBefore ? leftMouse : !key;
    } else {
        focus = !hasShownBefore;
    }
    hasShownBefore = true;
    if (focus)
        QMetaObject::invokeMethod(m_input, qOverload<>(&QWidget::setFocus), Qt::QueuedConnection);
}

void TimestampToolView::showEvent(QShowEvent* event)
{
    ToolView::showEvent(event);
    m_model->refreshIfStale();
    refreshFooter();
    updateClipboardWatch();
    focusInputOnAppear();
}

void TimestampToolView::hideEvent(QHideEvent* event)
{
    ToolView::hideEvent(event);
    m_clipboard->setWatching(false);
}

bool TimestampToolView::event(QEvent* event)
{
    const bool handled = ToolView::event(event);
    // Qt passes these down to the window's shown widgets.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate)
        updateClipboardWatch();
    return handled;
}

bool TimestampToolView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_scroll->viewport() && event->type() == QEvent::Resize) {
        const int width = static_cast<QResizeEvent*>(event)->size().width();
        const bool wide = width >= TimestampResultSections::wideWidth;
        // The zone halves depend on the exact width only in the wide arrangement.
        if (wide != m_builtWide || (wide && width != m_builtWidth && m_model->zones().size() > 0))
            QMetaObject::invokeMethod(this, &TimestampToolView::rebuildResults, Qt::QueuedConnection);
    }
    return ToolView::eventFilter(watched, event);
}
