#include "kit/ByteSizeLabel.h"
#include "kit/StatusColor.h"
#include "kit/ui/Metric.h"
#include "kit/ui/MetricDivider.h"
#include "kit/ui/PaneButton.h"
#include "kit/ui/PaneFooter.h"
#include "kit/ui/PaneHeader.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/ToolPane.h"
#include "kit/ui/ToolbarSearchItem.h"
#include "kit/ui/ToolbarSegmentedPicker.h"

#include "support/QuorrixTestMain.h"

#include <QDir>
#include <QBoxLayout>
#include <QPlainTextEdit>
#include <QStyle>
#include <QStyleFactory>

#include <memory>

namespace {

QPalette lightPalette()
{
    QPalette p = std::unique_ptr<QStyle>(QStyleFactory::create(QStringLiteral("Fusion")))->standardPalette();
    return p;
}

QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor("#2B2B2B"));
    p.setColor(QPalette::WindowText, QColor("#E6E6E6"));
    p.setColor(QPalette::Base, QColor("#1E1E1E"));
    p.setColor(QPalette::AlternateBase, QColor("#262626"));
    p.setColor(QPalette::Text, QColor("#E6E6E6"));
    p.setColor(QPalette::Button, QColor("#353535"));
    p.setColor(QPalette::ButtonText, QColor("#E6E6E6"));
    p.setColor(QPalette::Highlight, QColor("#2F65CA"));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor("#8A8A8A"));
    p.setColor(QPalette::Mid, QColor("#444444"));
    return p;
}

ToolPane* makePane(const QString& role, const QString& badge, const DynamicColor& tint, const QString& content,
                   bool withPicker)
{
    auto* pane = new ToolPane(role, ToolPane::Config | ToolPane::Actions | ToolPane::Metrics);
    pane->setBadge(PaneBadge(badge, tint));
    if (withPicker) {
        auto* picker = new ToolbarSegmentedPicker(
            QStringLiteral("Indent"), {{QStringLiteral("2"), 2}, {QStringLiteral("4"), 4}, {QStringLiteral("Tab"), 0}});
        picker->setSelection(2);
        pane->addConfigControl(picker);
    }
    pane->addActionControl(new PaneButton(QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), DynamicColor::secondary()));
    pane->addActionControl(new PaneButton(QStringLiteral("Clear"), QStringLiteral("trash"), DynamicColor::secondary()));
    auto* editor = new CodeTextView;
    editor->setFrameShape(QFrame::NoFrame);
    editor->setText(content);
    editor->setPlaceholderText(QStringLiteral("Paste or drop a file here"));
    pane->setContent(editor);
    pane->addMetric(new Metric(QStringLiteral("%1 lines").arg(content.count(QLatin1Char('\n')) + 1)));
    pane->addMetric(new MetricDivider);
    pane->addMetric(new Metric(byteSizeLabel(content.toUtf8().size())));
    pane->addMetric(new MetricDivider);
    pane->addMetric(new Metric(byteSizeLabel(1572864, QStringLiteral("html"))));
    return pane;
}

struct Scene {
    QWidget window;
    QList<ToolPane*> panes;

    Scene()
    {
        auto* outer = new QVBoxLayout(&window);
        outer->setContentsMargins(0, 0, 0, 0);
        outer->setSpacing(0);
        // A toolbar strip with the search field and a segmented picker, as the tools place them.
        auto* toolbar = new QHBoxLayout;
        toolbar->setContentsMargins(8, 6, 8, 6);
        auto* scheme = new ToolbarSegmentedPicker(
            QStringLiteral("Scheme"), {{QStringLiteral("Base64"), 0}, {QStringLiteral("URL"), 1}, {QStringLiteral("HTML"), 2}, {QStringLiteral("Hex"), 3}});
        scheme->setSelection(1);
        toolbar->addWidget(scheme);
        toolbar->addStretch(1);
        toolbar->addWidget(new ToolbarSearchItem(QStringLiteral("Search all columns")));
        outer->addLayout(toolbar);
        auto* layout = new QHBoxLayout;
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(1);
        outer->addLayout(layout, 1);
        const QString json = QStringLiteral("{\n  \"name\": \"Quorrix\",\n  \"tools\": 7,\n  \"local\": true\n}");
        panes << makePane(QStringLiteral("Input"), QStringLiteral("VALID"), StatusColor::green(), json, true);
        panes << makePane(QStringLiteral("Token"), QStringLiteral("ENCRYPTED"), StatusColor::amber(), QString(), false);
        panes << makePane(QStringLiteral("Output"), QStringLiteral("INVALID"), StatusColor::red(),
                          QStringLiteral("Unexpected token at line 3"), true);
        panes.at(0)->setMinimumWidth(420);
        panes.at(1)->setMinimumWidth(300);
        panes.at(2)->setFixedWidth(210); // narrow: the actions wrap onto a second row
        for (ToolPane* pane : panes)
            layout->addWidget(pane);
        window.resize(1000, 300);
    }

    QImage render(const QPalette& palette)
    {
        window.setPalette(palette);
        window.setAutoFillBackground(true);
        window.show();
        QCoreApplication::processEvents();
        return window.grab().toImage();
    }
};

QString shotPath(const QString& name)
{
    const QString dir = qEnvironmentVariableIsSet("QUORRIX_SHOT_DIR") ? qEnvironmentVariable("QUORRIX_SHOT_DIR")
                                                                       : QDir::currentPath();
    QDir().mkpath(dir);
    return QDir(dir).filePath(name);
}

QColor over(QColor top, QColor base)
{
    const qreal a = top.alphaF();
    return QColor::fromRgbF(top.redF() * a + base.redF() * (1 - a), top.greenF() * a + base.greenF() * (1 - a),
                            top.blueF() * a + base.blueF() * (1 - a));
}

bool near(QColor a, QColor b, int tolerance = 4)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

// The colour most often drawn inside a rectangle of the image.
QColor commonest(const QImage& image, const QRect& rect)
{
    QHash<QRgb, int> counts;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb best = 0;
    int bestCount = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > bestCount) {
            best = it.key();
            bestCount = it.value();
        }
    return QColor::fromRgb(best);
}

} // namespace

class PaneScreenshotTest : public QObject {
    Q_OBJECT
private slots:
    // The application owns the style it is given by name.
    void initTestCase() { QApplication::setStyle(QStringLiteral("Fusion")); }

    void rendersLightAndDark_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void rendersLightAndDark()
    {
        QFETCH(bool, dark);
        Scene scene;
        const QPalette palette = dark ? darkPalette() : lightPalette();
        const QImage image = scene.render(palette);
        const QString path = shotPath(dark ? QStringLiteral("kit-pane-dark.png") : QStringLiteral("kit-pane-light.png"));
        QVERIFY(image.save(path));
        qInfo("wrote %s", qPrintable(path));

        const QList<const DynamicColor*> tints = {&StatusColor::green(), &StatusColor::amber(), &StatusColor::red()};
        for (int i = 0; i < scene.panes.size(); ++i) {
            ToolPane* pane = scene.panes.at(i);
            QCOMPARE(pane->footer()->height(), 22);
            // The badge's capsule: its tint at 15% over the bar.
            QWidget* badge = pane->header()->badgeView();
            const QRect inPane = QRect(badge->mapTo(&scene.window, QPoint(0, 0)), badge->size());
            const QColor fill = commonest(image, inPane.adjusted(2, 2, -2, -2));
            const QColor bar = commonest(image, QRect(pane->header()->mapTo(&scene.window, QPoint(2, 2)), QSize(6, 6)));
            QColor tint = tints.at(i)->resolved(palette);
            tint.setAlphaF(0.15);
            QVERIFY2(near(fill, over(tint, bar)), qPrintable(fill.name() + " vs " + over(tint, bar).name()));
        }
        // The narrow pane wrapped its actions under its picker and hid the rule.
        ToolPane* narrow = scene.panes.at(2);
        QVERIFY(narrow->header()->actionControls().first()->y() > narrow->header()->configControls().first()->y());
        QCOMPARE(narrow->header()->groupRule()->size(), QSize(0, 0));
        QVERIFY(scene.panes.at(0)->header()->groupRule()->width() > 0);
    }

    void paletteChangeRecolours()
    {
        Scene scene;
        QImage light = scene.render(lightPalette());
        QImage dark = scene.render(darkPalette());
        QWidget* badge = scene.panes.at(0)->header()->badgeView();
        const QRect inWindow = QRect(badge->mapTo(&scene.window, QPoint(0, 0)), badge->size()).adjusted(2, 2, -2, -2);
        QVERIFY(commonest(light, inWindow) != commonest(dark, inWindow));
        QVERIFY(commonest(dark, inWindow).lightness() < 100);
    }
};

QUORRIX_TEST_MAIN(PaneScreenshotTest)
#include "PaneScreenshotTest.moc"
