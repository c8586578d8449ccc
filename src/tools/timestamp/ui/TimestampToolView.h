#pragma once

#include "kit/ui/ToolView.h"

#include <QPointer>

class Metric;
class PaneButton;
class QLabel;
class QLineEdit;
class QScrollArea;
class TimestampClipboardWatch;
class TimestampResultSections;
class TimestampRowState;
class TimestampToolViewModel;
class ToolPane;
class ToolbarSegmentedPicker;

// The Timestamp tool: one "Time" pane whose header holds the reading badge, the unit picker and
// Now, Paste and Clear; the input line and its status over the scrolling results; and a footer
// naming the user's zone and its offset.
class TimestampToolView : public ToolView {
    Q_OBJECT
public:
    explicit TimestampToolView(TimestampToolViewModel* model, QWidget* parent = nullptr);

    QString title() const override { return QStringLiteral("Timestamp"); }
    // The user's time zone.
    QString subtitle() const override;

    QLineEdit* inputField() const { return m_input; }
    QLabel* statusLabel() const { return m_status; }
    ToolPane* pane() const { return m_pane; }
    TimestampResultSections* sections() const { return m_sections; }
    PaneButton* pasteButton() const { return m_paste; }
    PaneButton* clearButton() const { return m_clear; }
    TimestampClipboardWatch* clipboardWatch() const { return m_clipboard; }
    QList<Metric*> zoneMetrics() const { return {m_zoneMetric, m_offsetMetric}; }
    // The width the results have to lay out in.
    int paneWidth() const;

    // Whether any Timestamp view was shown before in this process (the focus rule).
    static bool hasShownBefore;
    // Starts noting the key and mouse events that may bring the view, before the first one is made.
    static void watchInputEvents();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuildResults();
    void refreshStatus();
    void refreshFooter();
    void updateClipboardWatch();
    void focusInputOnAppear();

    TimestampToolViewModel* m_model;
    TimestampRowState* m_rowState;
    TimestampClipboardWatch* m_clipboard;
    ToolPane* m_pane;
    ToolbarSegmentedPicker* m_unitPicker;
    QLineEdit* m_input;
    QLabel* m_status;
    QScrollArea* m_scroll;
    TimestampResultSections* m_sections;
    PaneButton* m_now;
    PaneButton* m_paste;
    PaneButton* m_clear;
    Metric* m_zoneMetric;
    Metric* m_offsetMetric;
    QString m_shownZone;
    int m_builtWidth = -1;
    bool m_builtWide = false;
};
