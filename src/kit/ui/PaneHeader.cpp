#include "kit/ui/PaneHeader.h"

#include "kit/ui/PaneStyle.h"
#include "kit/ui/WrapLayout.h"
#include "kit/ui/FontScale.h"

#include <QLabel>
#include <QPainter>

namespace {

// The badge: caption-2 semibold text in the tint, padded 6 by 2, on a capsule of the tint at 15%.
class BadgeView : public QWidget {
public:
    explicit BadgeView(QWidget* parent) : QWidget(parent)
    {
        FontScale::apply(this, PaneStyle::caption2(font(), QFont::DemiBold));
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    void setBadge(const std::optional<PaneBadge>& badge)
    {
        m_badge = badge;
        setAccessibleName(badge ? badge->text() : QString());
        setVisible(badge.has_value());
        updateGeometry();
        update();
    }

    QSize sizeHint() const override
    {
        if (!m_badge)
            return QSize(0, 0);
        const QFontMetrics metrics = fontMetrics();
        return QSize(metrics.horizontalAdvance(m_badge->text()) + 12, metrics.height() + 4);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!m_badge)
            return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor tint = m_badge->tint().resolved(palette());
        QColor fill = tint;
        fill.setAlphaF(tint.alphaF() * 0.15);
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        const QRectF r = rect();
        p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
        p.setPen(tint);
        p.drawText(rect(), Qt::AlignCenter, m_badge->text());
    }

private:
    std::optional<PaneBadge> m_badge;
};

// The thin vertical rule between the configuration and the action group: 1 by 14 with 2 px
// either side.
class GroupRuleView : public QWidget {
public:
    explicit GroupRuleView(QWidget* parent) : QWidget(parent)
    {
        setProperty(GroupRuleKey, true);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    QSize sizeHint() const override { return QSize(5, 14); }
    QSize minimumSizeHint() const override { return QSize(0, 0); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (width() < 3 || height() < 1)
            return;
        QPainter p(this);
        p.fillRect(QRect(2, 0, 1, height()), PaneStyle::separatorColor(palette()));
    }
};

} // namespace

PaneHeader::PaneHeader(const QString& role, QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_layout = new WrapLayout(this);
    m_layout->setHorizontalSpacing(6);
    m_layout->setVerticalSpacing(5);
    m_layout->setGroupSpacing(12);
    m_layout->setFlowAlignment(Qt::AlignRight);
    m_layout->setContentsMargins(12, 5, 12, 5);

    m_title = new QLabel(this);
    m_title->setTextFormat(Qt::PlainText);
    m_title->setText(role);
    FontScale::apply(m_title, PaneStyle::caption(font(), QFont::DemiBold));
    m_title->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_title->setProperty(PinnedLeadingKey, true);
    m_layout->addWidget(m_title);

    auto* badge = new BadgeView(this);
    badge->setProperty(PinnedLeadingKey, true);
    badge->setVisible(false);
    m_badgeView = badge;
    m_layout->addWidget(m_badgeView);

    m_rule = new GroupRuleView(this);
    m_rule->setVisible(false);
    m_layout->addWidget(m_rule);
}

QString PaneHeader::role() const
{
    return m_title->text();
}

void PaneHeader::setBadge(const std::optional<PaneBadge>& badge)
{
    if (badge == m_badge)
        return;
    m_badge = badge;
    static_cast<BadgeView*>(m_badgeView)->setBadge(badge);
}

void PaneHeader::setConfigPresent(bool present)
{
    m_configPresent = present || !m_config.isEmpty();
    updateRule();
}

void PaneHeader::setActionsPresent(bool present)
{
    m_actionsPresent = present || !m_actions.isEmpty();
    updateRule();
}

void PaneHeader::addConfigControl(QWidget* control)
{
    // Title, badge, the config controls so far, then the rule.
    m_layout->insertWidget(2 + int(m_config.size()), control);
    m_config.append(control);
    m_configPresent = true;
    updateRule();
}

void PaneHeader::addActionControl(QWidget* control)
{
    m_layout->addWidget(control);
    m_actions.append(control);
    m_actionsPresent = true;
    updateRule();
}

void PaneHeader::updateRule()
{
    m_rule->setVisible(m_configPresent && m_actionsPresent);
}

void PaneHeader::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    PaneStyle::paintBar(p, rect(), palette(), Qt::BottomEdge);
}
