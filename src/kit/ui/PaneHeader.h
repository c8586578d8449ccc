#pragma once

#include "kit/PaneBadge.h"

#include <QList>
#include <QWidget>

#include <optional>

class QLabel;
class WrapLayout;

// The bar on top of a pane: the role (title) and optional badge pinned at the left, then the
// configuration controls, a thin rule, and the action controls, wrapping onto further rows when
// the pane is narrow. The rule shows only while both groups are present. Made by ToolPane.
class PaneHeader : public QWidget {
    Q_OBJECT
public:
    explicit PaneHeader(const QString& role, QWidget* parent = nullptr);

    QString role() const;
    void setBadge(const std::optional<PaneBadge>& badge);
    std::optional<PaneBadge> badge() const { return m_badge; }

    // A group counts as present once declared or once it holds a control.
    void setConfigPresent(bool present);
    void setActionsPresent(bool present);
    void addConfigControl(QWidget* control);
    void addActionControl(QWidget* control);
    QList<QWidget*> configControls() const { return m_config; }
    QList<QWidget*> actionControls() const { return m_actions; }

    QLabel* titleLabel() const { return m_title; }
    // The badge's view (hidden without a badge) and the group rule, for layout checks.
    QWidget* badgeView() const { return m_badgeView; }
    QWidget* groupRule() const { return m_rule; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void updateRule();

    WrapLayout* m_layout;
    QLabel* m_title;
    QWidget* m_badgeView;
    QWidget* m_rule;
    std::optional<PaneBadge> m_badge;
    QList<QWidget*> m_config;
    QList<QWidget*> m_actions;
    bool m_configPresent = false;
    bool m_actionsPresent = false;
};
