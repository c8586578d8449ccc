#pragma once

#include <QLayout>
#include <QList>

#include <optional>

// Per-widget flags read by WrapLayout (dynamic properties, false unless set):
// widget->setProperty(PinnedLeadingKey, true).
inline constexpr char PinnedLeadingKey[] = "PinnedLeadingKey"; // sits at the start of its row
inline constexpr char GroupRuleKey[] = "GroupRuleKey";         // a rule between two control groups

// A flow layout for pane headers. Items go left to right at their size hints and wrap onto
// further rows; pinned items open their row, the others flow after them and, with trailing
// alignment, against the right edge. A group rule travels with the item after it and is hidden
// (placed at zero size) where it would stand at a row's start or end. Hidden widgets take no
// part. Keeps no state between passes.
class WrapLayout : public QLayout {
    Q_OBJECT
public:
    // One row of the arrangement; indices are those of itemAt().
    struct Row {
        QList<int> pinned;
        QList<int> flow;
        QList<int> hidden;
        qreal pinnedWidth = 0;
        qreal flowWidth = 0;
        qreal height = 0;

        bool isEmpty() const { return pinned.isEmpty() && flow.isEmpty(); }
        qreal width(qreal groupSpacing) const
        {
            return pinnedWidth + flowWidth + (!pinned.isEmpty() && !flow.isEmpty() ? groupSpacing : 0);
        }
        void add(int index, QSizeF size, bool isPinned, qreal horizontalSpacing);
    };

    explicit WrapLayout(QWidget* parent = nullptr);
    ~WrapLayout() override;

    void setHorizontalSpacing(qreal spacing);
    qreal horizontalSpacing() const { return m_horizontalSpacing; }
    void setVerticalSpacing(qreal spacing);
    void setGroupSpacing(qreal spacing);
    qreal groupSpacing() const { return m_groupSpacing; }
    // Only Qt::AlignRight (trailing) changes anything: the flowing part then ends at the right edge.
    void setFlowAlignment(Qt::Alignment alignment);

    void insertWidget(int index, QWidget* widget);

    // The rows for a maximum width (infinity for unbounded), without margins.
    QList<Row> rows(qreal maxWidth) const;
    // Width and height of the arrangement, without margins: the proposed width when finite, else
    // the widest row's.
    QSizeF sizeThatFits(std::optional<qreal> width) const;

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    Qt::Orientations expandingDirections() const override { return {}; }
    void setGeometry(const QRect& rect) override;

private:
    bool takesPart(int index) const;
    bool flag(int index, const char* key) const;
    QSizeF idealSize(int index) const;

    QList<QLayoutItem*> m_items;
    qreal m_horizontalSpacing = 6;
    qreal m_verticalSpacing = 5;
    qreal m_groupSpacing = 12;
    Qt::Alignment m_alignment = Qt::AlignRight;
};
