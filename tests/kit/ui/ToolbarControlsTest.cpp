#include "kit/ui/ToolbarSearchField.h"
#include "kit/ui/ToolbarSearchFocus.h"
#include "kit/ui/ToolbarSearchItem.h"
#include "kit/ui/ToolbarSegmentedPicker.h"

#include "support/QuorrixTestMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QVBoxLayout>

namespace {

// A window with the search field and a second control to take the focus.
struct SearchWindow {
    QWidget window;
    ToolbarSearchField* field = new ToolbarSearchField(QStringLiteral("Find"));
    QLineEdit* other = new QLineEdit;
    QStringList changes;
    int submits = 0;

    explicit SearchWindow(bool withSubmit = true)
    {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(field);
        layout->addWidget(other);
        field->setOnTextChange([this](const QString& text) { changes << text; });
        if (withSubmit)
            field->setOnSubmit([this] { ++submits; });
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
    }
};

QList<ToolbarSegmentedPicker::Item> threeItems()
{
    return {{QStringLiteral("Base64"), QStringLiteral("base64")},
            {QStringLiteral("URL"), QStringLiteral("url")},
            {QStringLiteral("HTML entities"), QStringLiteral("html")}};
}

QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor("#1E1E1E"));
    p.setColor(QPalette::WindowText, Qt::white);
    return p;
}

QPalette lightPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor("#F0F0F0"));
    p.setColor(QPalette::WindowText, Qt::black);
    return p;
}

// `top` painted over the opaque `base`.
QColor over(const QColor& top, const QColor& base)
{
    const qreal a = top.alphaF();
    return QColor::fromRgbF(top.redF() * a + base.redF() * (1 - a), top.greenF() * a + base.greenF() * (1 - a),
                            top.blueF() * a + base.blueF() * (1 - a));
}

bool close(const QColor& a, const QColor& b)
{
    return qAbs(a.red() - b.red()) <= 3 && qAbs(a.green() - b.green()) <= 3 && qAbs(a.blue() - b.blue()) <= 3;
}

} // namespace

class ToolbarControlsTest : public QObject {
    Q_OBJECT
private slots:
    void typingReportsEachEdit()
    {
        SearchWindow w;
        QTest::keyClicks(w.field, QStringLiteral("ab"));
        QCOMPARE(w.changes, (QStringList{"a", "ab"}));
        // Text set by the program is no edit.
        w.field->setText(QStringLiteral("xyz"));
        QCOMPARE(w.changes.size(), 2);
    }

    void returnSubmits_data()
    {
        QTest::addColumn<bool>("withSubmit");
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << true << int(Qt::Key_Return);
        QTest::newRow("Enter") << true << int(Qt::Key_Enter);
        QTest::newRow("Return without an action") << false << int(Qt::Key_Return);
    }
    void returnSubmits()
    {
        QFETCH(bool, withSubmit);
        QFETCH(int, key);
        SearchWindow w(withSubmit);
        QTest::keyClicks(w.field, QStringLiteral("q"));
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(w.field, &press);
        QVERIFY(press.isAccepted());
        QCOMPARE(w.submits, withSubmit ? 1 : 0);
        QCOMPARE(w.field->text(), QStringLiteral("q"));
        QVERIFY(w.field->hasFocus());
    }

    void escapeClears_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("reports");
        QTest::newRow("empty field") << QString() << QStringList{};
        QTest::newRow("field with text") << "json" << QStringList{"j", "js", "jso", "json", ""};
    }
    void escapeClears()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, reports);
        SearchWindow w;
        QTest::keyClicks(w.field, typed);
        QTest::keyClick(w.field, Qt::Key_Escape);
        QCOMPARE(w.field->text(), QString());
        QCOMPARE(w.changes, reports);
        QCOMPARE(w.submits, 0);
        QVERIFY(!w.field->hasFocus());
    }

    void promptChangesOnlyWhenDifferent()
    {
        ToolbarSearchField field(QStringLiteral("Find"));
        QCOMPARE(field.prompt(), QStringLiteral("Find"));
        field.setPrompt(QStringLiteral("Search all columns"));
        QCOMPARE(field.prompt(), QStringLiteral("Search all columns"));
        QVERIFY(field.placeholderText().isEmpty()); // drawn by the field itself, in its own grey
    }

    void itemBindsBothWays()
    {
        QWidget window;
        auto* item = new ToolbarSearchItem(QStringLiteral("Find"), &window);
        QString model;
        int writes = 0;
        QObject::connect(item, &ToolbarSearchItem::textEdited, [&](const QString& t) {
            model = t;
            ++writes;
            item->setText(model); // a view model echoing its new value back
        });
        window.show();
        item->field()->setFocus();
        QTest::keyClicks(item->field(), QStringLiteral("ke"));
        QCOMPARE(model, QStringLiteral("ke"));
        QCOMPARE(writes, 2);
        item->setText(QStringLiteral("from model"));
        QCOMPARE(item->text(), QStringLiteral("from model"));
        QCOMPARE(writes, 2);
        QCOMPARE(item->minimumSizeHint().width(), 100);
        QCOMPARE(item->sizeHint().width(), 325);
        QCOMPARE(item->maximumWidth(), 325);
    }

    void focusHandle()
    {
        ToolbarSearchFocus focus;
        focus.focus(); // no field yet: nothing happens
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* item = new ToolbarSearchItem(QStringLiteral("Find"));
        auto* other = new QLineEdit;
        layout->addWidget(other);
        layout->addWidget(item);
        item->setFocusHandle(&focus);
        QCOMPARE(focus.field(), item->field());
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        other->setFocus();
        focus.focus();
        QTRY_VERIFY(item->field()->hasFocus());
        delete item;
        QCOMPARE(focus.field(), nullptr);
        focus.focus();
    }

    void pickerEqualWidths_data()
    {
        QTest::addColumn<int>("given");
        QTest::newRow("ideal") << -1;
        QTest::newRow("300 wide") << 300;
        QTest::newRow("narrow") << 120;
    }
    void pickerEqualWidths()
    {
        QFETCH(int, given);
        ToolbarSegmentedPicker picker(QStringLiteral("Scheme"), threeItems());
        const QFontMetrics metrics(picker.font());
        int widest = 0;
        for (const auto& item : threeItems())
            widest = std::max(widest, metrics.horizontalAdvance(item.title));
        QCOMPARE(picker.sizeHint(), QSize((widest + 24) * 3, 24));
        picker.resize(given < 0 ? picker.sizeHint().width() : given, 24);
        picker.show();
        QCoreApplication::processEvents();
        const QList<QAbstractButton*> segments = picker.segments();
        QCOMPARE(segments.size(), 3);
        const int slot = picker.width() / 3;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(qAbs(segments.at(i)->width() - slot) <= 1);
            QCOMPARE(segments.at(i)->height(), 24);
        }
        QCOMPARE(segments.at(0)->x(), 0);
        QCOMPARE(segments.at(2)->geometry().right(), picker.width() - 1);
        if (given == 300)
            QCOMPARE(segments.at(1)->width(), 100);
    }

    void pickerEmpty()
    {
        ToolbarSegmentedPicker picker(QStringLiteral("Nothing"), {});
        QCOMPARE(picker.sizeHint(), QSize(0, 0));
        picker.show();
    }

    void pickerDividers_data()
    {
        QTest::addColumn<QVariant>("selection");
        QTest::addColumn<QList<bool>>("dividers");
        QTest::newRow("second selected") << QVariant(QStringLiteral("url")) << QList<bool>{false, false, false};
        QTest::newRow("first selected") << QVariant(QStringLiteral("base64")) << QList<bool>{false, false, true};
        QTest::newRow("no match") << QVariant(QStringLiteral("hex")) << QList<bool>{false, true, true};
    }
    void pickerDividers()
    {
        QFETCH(QVariant, selection);
        QFETCH(QList<bool>, dividers);
        ToolbarSegmentedPicker picker(QStringLiteral("Scheme"), threeItems());
        picker.setSelection(selection);
        QList<bool> shown;
        for (int i = 0; i < 3; ++i)
            shown << picker.isDividerShown(i);
        QCOMPARE(shown, dividers);
        int checked = 0;
        for (QAbstractButton* segment : picker.segments())
            checked += segment->isChecked() ? 1 : 0;
        QCOMPARE(checked, selection == QVariant(QStringLiteral("hex")) ? 0 : 1);
    }

    void pickerPressWritesValue()
    {
        ToolbarSegmentedPicker picker(QStringLiteral("Direction"),
                                      {{QStringLiteral("Encode"), 0}, {QStringLiteral("Decode"), 1}});
        picker.setSelection(0);
        picker.resize(picker.sizeHint());
        picker.show();
        QSignalSpy activated(&picker, &ToolbarSegmentedPicker::activated);
        QTest::mouseClick(picker.segments().at(1), Qt::LeftButton);
        QCOMPARE(picker.selection(), QVariant(1));
        QTest::mouseClick(picker.segments().at(1), Qt::LeftButton);
        QCOMPARE(activated.size(), 2);
        QCOMPARE(activated.at(0).at(0), QVariant(1));
        QCOMPARE(activated.at(1).at(0), QVariant(1));
        QVERIFY(picker.segments().at(1)->isChecked());
        QVERIFY(!picker.segments().at(0)->isChecked());
    }

    void pickerColours_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("active");
        QTest::addColumn<QColor>("pill");
        QTest::addColumn<QColor>("text");
        QTest::newRow("light, active") << false << true << QColor("#D94C00") << QColor(Qt::white);
        QTest::newRow("dark, active") << true << true << QColor("#FF9B47") << QColor(Qt::white);
        QTest::newRow("dark, inactive") << true << false << QColor::fromRgbF(1, 1, 1, 0.2) << QColor("#EBEBEB");
        QTest::newRow("light, inactive") << false << false << QColor::fromRgbF(0, 0, 0, 0.18) << QColor("#474747");
    }
    void pickerColours()
    {
        QFETCH(bool, dark);
        QFETCH(bool, active);
        QFETCH(QColor, pill);
        QFETCH(QColor, text);
        const QPalette palette = dark ? darkPalette() : lightPalette();
        QCOMPARE((active ? ToolbarSegmentedPicker::segmentSelectedFill()
                         : ToolbarSegmentedPicker::segmentSelectedInactiveFill())
                     .resolved(palette)
                     .rgba(),
                 pill.rgba());
        if (!(active))
            QCOMPARE(ToolbarSegmentedPicker::segmentText().resolved(palette).rgb(), text.rgb());

        // What is drawn: the pill's colour over the window, in a corner of the selected segment
        // away from its title.
        QWidget window;
        window.setPalette(palette);
        window.setAutoFillBackground(true);
        auto* picker = new ToolbarSegmentedPicker(QStringLiteral("Scheme"), threeItems(), &window);
        picker->setSelection(QStringLiteral("url"));
        picker->resize(300, 24);
        window.resize(320, 40);
        window.show();
        if (active) {
            window.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&window));
        }
        QCOMPARE(picker->isActiveLook(), active);
        const QImage image = picker->grab().toImage();
        const QAbstractButton* selected = picker->segments().at(1);
        const QColor drawn = image.pixelColor(selected->x() + 8, 12);
        const QColor window_ = palette.color(QPalette::Window);
        const QColor track = ToolbarSegmentedPicker::segmentTrackFill().resolved(palette);
        auto over = [](QColor top, QColor base) {
            const qreal a = top.alphaF();
            return QColor::fromRgbF(top.redF() * a + base.redF() * (1 - a), top.greenF() * a + base.greenF() * (1 - a),
                                    top.blueF() * a + base.blueF() * (1 - a));
        };
        const QColor expected = over(pill, over(track, window_));
        QVERIFY2(qAbs(drawn.red() - expected.red()) <= 3 && qAbs(drawn.green() - expected.green()) <= 3 &&
                     qAbs(drawn.blue() - expected.blue()) <= 3,
                 qPrintable(drawn.name() + " vs " + expected.name()));
    }

    // A disabled picker (the indent choice while minifying) keeps its selection, but its pill
    // loses the accent even in an active window and its segments fade; enabling it again
    // brings the accent back.
    void pickerDisabledLook_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void pickerDisabledLook()
    {
        QFETCH(bool, dark);
        const QPalette palette = dark ? darkPalette() : lightPalette();
        QWidget window;
        window.setPalette(palette);
        window.setAutoFillBackground(true);
        auto* picker = new ToolbarSegmentedPicker(QStringLiteral("Indent"), threeItems(), &window);
        picker->setSelection(QStringLiteral("url"));
        picker->resize(300, 24);
        window.resize(320, 40);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto pillPixel = [&] {
            const QImage image = picker->grab().toImage();
            return image.pixelColor(picker->segments().at(1)->x() + 8, 12);
        };
        const QColor base = over(ToolbarSegmentedPicker::segmentTrackFill().resolved(palette), palette.color(QPalette::Window));
        QVERIFY(close(pillPixel(), over(ToolbarSegmentedPicker::segmentSelectedFill().resolved(palette), base)));

        picker->setEnabled(false);
        QVERIFY(!picker->isActiveLook());
        QVERIFY(picker->isSegmentSelected(1));
        QColor faded = ToolbarSegmentedPicker::segmentSelectedInactiveFill().resolved(palette);
        faded.setAlphaF(faded.alphaF() * ToolbarSegmentedPicker::disabledOpacity);
        const QColor disabled = pillPixel();
        QVERIFY2(close(disabled, over(faded, base)), qPrintable(disabled.name()));
        QVERIFY(!close(disabled, over(ToolbarSegmentedPicker::segmentSelectedFill().resolved(palette), base)));
        // No title pixel is drawn in the selected title's white, nor at full strength.
        const QImage image = picker->grab().toImage();
        const QRect title = picker->segments().at(1)->geometry().adjusted(12, 4, -12, -4);
        const QColor textColour = ToolbarSegmentedPicker::segmentText().resolved(palette);
        int strongest = 0;
        for (int y = title.top(); y <= title.bottom(); ++y)
            for (int x = title.left(); x <= title.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                QVERIFY(!close(c, QColor(Qt::white)) || close(base, QColor(Qt::white)));
                strongest = std::max(strongest, qAbs(qGray(c.rgb()) - qGray(base.rgb())));
            }
        QVERIFY(strongest > 0);
        QVERIFY2(strongest < qAbs(qGray(textColour.rgb()) - qGray(base.rgb())), qPrintable(QString::number(strongest)));

        picker->setEnabled(true);
        QVERIFY(picker->isActiveLook());
        QVERIFY(close(pillPixel(), over(ToolbarSegmentedPicker::segmentSelectedFill().resolved(palette), base)));
    }

    void pickerTrackColours()
    {
        QCOMPARE(ToolbarSegmentedPicker::segmentTrackFill().resolved(lightPalette()).rgba(),
                 QColor::fromRgbF(0, 0, 0, 0.08).rgba());
        QCOMPARE(ToolbarSegmentedPicker::segmentTrackFill().resolved(darkPalette()).rgba(),
                 QColor::fromRgbF(1, 1, 1, 0.12).rgba());
        QCOMPARE(ToolbarSegmentedPicker::segmentDivider().resolved(lightPalette()).rgba(),
                 QColor::fromRgbF(0, 0, 0, 0.24).rgba());
        QCOMPARE(ToolbarSegmentedPicker::segmentDivider().resolved(darkPalette()).rgba(),
                 QColor::fromRgbF(1, 1, 1, 0.34).rgba());
    }
};

QUORRIX_TEST_MAIN(ToolbarControlsTest)
#include "ToolbarControlsTest.moc"
