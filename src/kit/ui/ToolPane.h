#pragma once

#include "kit/PaneBadge.h"

#include <QWidget>

#include <optional>

class PaneFooter;
class PaneHeader;
class QVBoxLayout;

// The standard pane of every tool view: a header (role, optional badge, configuration and
// action controls), the content taking all remaining space, and a 22 px footer of metrics.
// Slots are declared when the pane is built; a pane declared with Metrics keeps its footer
// even with no metric in it, and one without has no footer (adding a metric makes one).
class ToolPane : public QWidget {
    Q_OBJECT
public:
    enum Slot { NoSlots = 0x0, Config = 0x1, Actions = 0x2, Metrics = 0x4 };
    Q_DECLARE_FLAGS(Slots, Slot)

    explicit ToolPane(const QString& role, Slots paneSlots = NoSlots, QWidget* parent = nullptr);

    QString role() const;
    void setBadge(const std::optional<PaneBadge>& badge);
    std::optional<PaneBadge> badge() const;

    // The pane takes ownership; a previous content is deleted.
    void setContent(QWidget* content);
    QWidget* content() const { return m_content; }

    void addConfigControl(QWidget* control);
    void addActionControl(QWidget* control);
    void addMetric(QWidget* metric);

    PaneHeader* header() const { return m_header; }
    PaneFooter* footer() const { return m_footer; }

private:
    void ensureFooter();

    QVBoxLayout* m_stack;
    PaneHeader* m_header;
    QWidget* m_content = nullptr;
    PaneFooter* m_footer = nullptr;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(ToolPane::Slots)
