#include "kit/StatusColor.h"
#include "kit/ui/Metric.h"
#include "kit/ui/MetricDivider.h"
#include "kit/ui/PaneButton.h"
#include "kit/ui/PaneFooter.h"
#include "kit/ui/PaneHeader.h"
#include "kit/ui/ToolPane.h"
#include "kit/ui/WrapLayout.h"

#include "support/QuorrixTestMain.h"

#include <QLabel>
#include <QPlainTextEdit>

#include <limits>
#include <memory>

using Row = WrapLayout::Row;

namespace {

// A subview that reports an ideal size and takes whatever frame it is given.
class Sized : public QWidget {
public:
    Sized(QSize hint, QWidget* parent) : QWidget(parent), m_hint(hint) {}
    QSize sizeHint() const override { return m_hint; }
    QSize minimumSizeHint() const override { return QSize(0, 0); }

private:
    QSize m_hint;
};

// A header's row of fixed-size items, described compactly: "T40" pinned title, "C120" config
// control, "R" group rule (5 by 14), "B60" button, "H60" hidden button; heights 20 unless "xN".
struct Bench {
    std::unique_ptr<QWidget> host = std::make_unique<QWidget>();
    WrapLayout* layout = new WrapLayout(host.get());
    QList<QWidget*> items;

    explicit Bench(const QStringList& shape, Qt::Alignment alignment = Qt::AlignRight)
    {
        layout->setHorizontalSpacing(6);
        layout->setVerticalSpacing(5);
        layout->setGroupSpacing(12);
        layout->setFlowAlignment(alignment);
        for (const QString& s : shape) {
            const QChar kind = s.at(0);
            const QStringList parts = s.mid(1).split(QLatin1Char('x'));
            int width = kind == QLatin1Char('R') ? 5 : parts.value(0).toInt();
            int height = kind == QLatin1Char('R') ? 14 : (parts.size() > 1 ? parts.at(1).toInt() : 20);
            auto* w = new Sized(QSize(width, height), host.get());
            if (kind == QLatin1Char('T'))
                w->setProperty(PinnedLeadingKey, true);
            if (kind == QLatin1Char('R'))
                w->setProperty(GroupRuleKey, true);
            layout->addWidget(w);
            items.append(w);
            if (kind == QLatin1Char('H'))
                w->hide();
        }
        host->resize(400, 200);
        host->show();
    }

    QRect place(int width)
    {
        const QRect bounds(0, 0, width, 200);
        layout->setGeometry(bounds);
        return bounds;
    }
};

QString describe(const QList<Row>& rows)
{
    QStringList out;
    for (const Row& row : rows) {
        auto list = [](const QList<int>& l) {
            QStringList s;
            for (int i : l)
                s << QString::number(i);
            return s.join(QLatin1Char(','));
        };
        out << QStringLiteral("[%1|%2|%3 w%4 h%5]")
                   .arg(list(row.pinned), list(row.flow), list(row.hidden))
                   .arg(row.width(12))
                   .arg(row.height);
    }
    return out.join(QLatin1Char(' '));
}

const QStringList workedExample = {"T40", "C120", "R", "B60", "B60"};

} // namespace

class WrapLayoutTest : public QObject {
    Q_OBJECT
private slots:
    void rows_data()
    {
        QTest::addColumn<QStringList>("shape");
        QTest::addColumn<qreal>("width");
        QTest::addColumn<QString>("rows");
        // Rows as [pinned|flow|hidden wWidth hHeight].
        QTest::newRow("worked example, 320") << workedExample << qreal(320) << "[0|1,2,3,4| w315 h20]";
        QTest::newRow("worked example, 260") << workedExample << qreal(260) << "[0|1,2,3| w249 h20] [|4| w60 h20]";
        QTest::newRow("worked example, 200") << workedExample << qreal(200) << "[0|1|2 w172 h20] [|3,4| w126 h20]";
        QTest::newRow("unbounded") << workedExample << std::numeric_limits<qreal>::infinity()
                                   << "[0|1,2,3,4| w315 h20]";
        QTest::newRow("rule last is hidden") << QStringList{"T40", "C120", "R"} << qreal(400) << "[0|1|2 w172 h20]";
        QTest::newRow("rule right after title is hidden")
            << QStringList{"T40", "R", "B60"} << qreal(400) << "[0|2|1 w112 h20]";
        QTest::newRow("hidden widget takes no part")
            << QStringList{"T40", "C120", "H60", "B60"} << qreal(400) << "[0|1,3| w238 h20]";
        QTest::newRow("rule before a hidden last control")
            << QStringList{"T40", "C120", "R", "H60"} << qreal(400) << "[0|1|2 w172 h20]";
        QTest::newRow("rule skips a hidden control")
            << QStringList{"T40", "C120", "R", "H60", "B60"} << qreal(400) << "[0|1,2,4| w249 h20]";
        QTest::newRow("first item wider than the width stays")
            << QStringList{"C300", "B60"} << qreal(100) << "[|0| w300 h20] [|1| w60 h20]";
        QTest::newRow("only a rule: no rows") << QStringList{"R"} << qreal(100) << "";
        QTest::newRow("no subviews") << QStringList{} << qreal(100) << "";
        QTest::newRow("tallest item sets the height")
            << QStringList{"T40x16", "C50x30"} << qreal(400) << "[0|1| w102 h30]";
        QTest::newRow("two pinned") << QStringList{"T40", "T30", "B60"} << qreal(400) << "[0,1|2| w148 h20]";
    }
    void rows()
    {
        QFETCH(QStringList, shape);
        QFETCH(qreal, width);
        QFETCH(QString, rows);
        Bench bench(shape);
        QCOMPARE(describe(bench.layout->rows(width)), rows);
    }

    void sizeThatFits_data()
    {
        QTest::addColumn<QStringList>("shape");
        QTest::addColumn<qreal>("width"); // negative: none proposed
        QTest::addColumn<QSizeF>("size");
        QTest::newRow("one row") << workedExample << qreal(320) << QSizeF(320, 20);
        QTest::newRow("two rows") << workedExample << qreal(260) << QSizeF(260, 45);
        QTest::newRow("no width proposed") << workedExample << qreal(-1) << QSizeF(315, 20);
        QTest::newRow("infinite width") << workedExample << std::numeric_limits<qreal>::infinity()
                                        << QSizeF(315, 20);
        QTest::newRow("nothing, no width") << QStringList{} << qreal(-1) << QSizeF(0, 0);
        QTest::newRow("nothing, a width") << QStringList{} << qreal(80) << QSizeF(80, 0);
    }
    void sizeThatFits()
    {
        QFETCH(QStringList, shape);
        QFETCH(qreal, width);
        QFETCH(QSizeF, size);
        Bench bench(shape);
        QCOMPARE(bench.layout->sizeThatFits(width < 0 ? std::nullopt : std::optional<qreal>(width)), size);
    }

    void placement_data()
    {
        QTest::addColumn<QStringList>("shape");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("trailing");
        QTest::addColumn<QList<QRect>>("frames");
        QTest::newRow("320: flow pushed right")
            << workedExample << 320 << true
            << QList<QRect>{{0, 0, 40, 20}, {57, 0, 120, 20}, {183, 3, 5, 14}, {194, 0, 60, 20}, {260, 0, 60, 20}};
        QTest::newRow("260: second button alone at the right")
            << workedExample << 260 << true
            << QList<QRect>{{0, 0, 40, 20}, {63, 0, 120, 20}, {189, 3, 5, 14}, {200, 0, 60, 20}, {200, 25, 60, 20}};
        QTest::newRow("200: rule hidden at the row's end")
            << workedExample << 200 << true
            << QList<QRect>{{0, 0, 40, 20}, {80, 0, 120, 20}, {0, 0, 0, 0}, {74, 25, 60, 20}, {140, 25, 60, 20}};
        QTest::newRow("leading: flow follows the pinned part")
            << workedExample << 400 << false
            << QList<QRect>{{0, 0, 40, 20}, {52, 0, 120, 20}, {178, 3, 5, 14}, {189, 0, 60, 20}, {255, 0, 60, 20}};
        QTest::newRow("unequal heights are centred")
            << QStringList{"T40x10", "C50x30"} << 200 << true << QList<QRect>{{0, 10, 40, 10}, {150, 0, 50, 30}};
    }
    void placement()
    {
        QFETCH(QStringList, shape);
        QFETCH(int, width);
        QFETCH(bool, trailing);
        QFETCH(QList<QRect>, frames);
        Bench bench(shape, trailing ? Qt::AlignRight : Qt::AlignLeft);
        bench.place(width);
        QList<QRect> actual;
        for (QWidget* w : bench.items)
            actual << w->geometry();
        QCOMPARE(actual, frames);
    }

    void heightForWidthFollowsRows()
    {
        Bench bench(workedExample);
        bench.layout->setContentsMargins(12, 5, 12, 5);
        QCOMPARE(bench.layout->heightForWidth(320 + 24), 30);
        QCOMPARE(bench.layout->heightForWidth(260 + 24), 55);
        QCOMPARE(bench.layout->sizeHint(), QSize(315 + 24, 30));
    }

    void headerRule_data()
    {
        QTest::addColumn<int>("config");
        QTest::addColumn<int>("actions");
        QTest::addColumn<bool>("ruleShown");
        QTest::newRow("config only") << 1 << 0 << false;
        QTest::newRow("actions only") << 0 << 2 << false;
        QTest::newRow("both") << 1 << 2 << true;
        QTest::newRow("neither") << 0 << 0 << false;
    }
    void headerRule()
    {
        QFETCH(int, config);
        QFETCH(int, actions);
        QFETCH(bool, ruleShown);
        ToolPane pane(QStringLiteral("Output"));
        for (int i = 0; i < config; ++i)
            pane.addConfigControl(new QLabel(QStringLiteral("cfg")));
        for (int i = 0; i < actions; ++i)
            pane.addActionControl(new PaneButton(QStringLiteral("Copy"), QStringLiteral("doc.on.doc"),
                                                 DynamicColor::secondary()));
        pane.resize(600, 200);
        pane.show();
        QCOMPARE(pane.header()->groupRule()->isVisible(), ruleShown);
        if (ruleShown) {
            // Exactly between the last config control and the first action control.
            const int rule = pane.header()->groupRule()->geometry().center().x();
            QVERIFY(rule > pane.header()->configControls().last()->geometry().right());
            QVERIFY(rule < pane.header()->actionControls().first()->geometry().left());
        }
    }

    void headerRuleHiddenWhenActionsWrap()
    {
        ToolPane pane(QStringLiteral("Output"));
        auto* picker = new QWidget;
        picker->setFixedSize(120, 20);
        pane.addConfigControl(picker);
        auto* button = new QWidget;
        button->setFixedSize(60, 20);
        pane.addActionControl(button);
        pane.show();
        pane.resize(200 + 24, 200);
        QCoreApplication::processEvents();
        pane.header()->layout()->activate();
        QCOMPARE(pane.header()->groupRule()->size(), QSize(0, 0));
        QVERIFY(button->geometry().top() > picker->geometry().bottom());
        QCOMPARE(pane.header()->height(), 5 + 20 + 5 + 20 + 5);
    }

    void badgeFollowsTitle()
    {
        ToolPane pane(QStringLiteral("Input"), ToolPane::Actions);
        pane.setBadge(PaneBadge(QStringLiteral("VALID"), StatusColor::green()));
        pane.resize(500, 200);
        pane.show();
        QCoreApplication::processEvents();
        const QRect title = pane.header()->titleLabel()->geometry();
        const QRect badge = pane.header()->badgeView()->geometry();
        QCOMPARE(title.left(), 12);
        QCOMPARE(badge.left(), title.right() + 1 + 6);
        pane.setBadge(std::nullopt);
        QVERIFY(!pane.header()->badgeView()->isVisible());
    }

    void footerPresence_data()
    {
        QTest::addColumn<bool>("declared");
        QTest::addColumn<int>("metrics");
        QTest::addColumn<bool>("hasFooter");
        QTest::newRow("no metrics slot") << false << 0 << false;
        QTest::newRow("declared, empty") << true << 0 << true;
        QTest::newRow("declared, two metrics") << true << 2 << true;
        QTest::newRow("metric added") << false << 1 << true;
    }
    void footerPresence()
    {
        QFETCH(bool, declared);
        QFETCH(int, metrics);
        QFETCH(bool, hasFooter);
        ToolPane pane(QStringLiteral("Source"), declared ? ToolPane::Metrics : ToolPane::NoSlots);
        pane.setContent(new QPlainTextEdit);
        for (int i = 0; i < metrics; ++i) {
            if (i > 0)
                pane.addMetric(new MetricDivider);
            pane.addMetric(new Metric(QStringLiteral("%1 lines").arg(i + 1)));
        }
        pane.resize(400, 300);
        pane.show();
        QCoreApplication::processEvents();
        QCOMPARE(pane.footer() != nullptr, hasFooter);
        if (hasFooter) {
            QCOMPARE(pane.footer()->height(), 22);
            QCOMPARE(pane.footer()->geometry().bottom(), pane.rect().bottom());
            QCOMPARE(pane.content()->geometry().bottom() + 1, pane.footer()->geometry().top());
        } else {
            QCOMPARE(pane.content()->geometry().bottom(), pane.rect().bottom());
        }
        QCOMPARE(pane.content()->geometry().top(), pane.header()->geometry().bottom() + 1);
    }

    void paneButtonRunsAction()
    {
        int runs = 0;
        PaneButton button(QStringLiteral("Clear"), QStringLiteral("trash"), DynamicColor::secondary(), [&] { ++runs; });
        button.show();
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(runs, 1);
        button.setEnabled(false);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(runs, 1);
    }
};

QUORRIX_TEST_MAIN(WrapLayoutTest)
#include "WrapLayoutTest.moc"
