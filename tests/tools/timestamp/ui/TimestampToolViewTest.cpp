#include "support/BadgeText.h"
#include "support/QuorrixTestMain.h"
#include "kit/ui/Metric.h"
#include "kit/ui/PaneButton.h"
#include "kit/ui/ToolPane.h"
#include "tools/timestamp/TimestampToolViewModel.h"
#include "tools/timestamp/ui/TimestampResultSections.h"
#include "tools/timestamp/ui/TimestampRowGrid.h"
#include "tools/timestamp/ui/TimestampTool.h"
#include "tools/timestamp/ui/TimestampToolView.h"
#include "tools/timestamp/ui/TimestampZonePicker.h"

#include <QApplication>
#include <QClipboard>
#include <QAbstractAnimation>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPropertyAnimation>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>

#include <algorithm>

using namespace Timestamp;

class TimestampToolViewTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;

    std::unique_ptr<QSettings> freshSettings()
    {
        return std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("v%1.ini").arg(++m_files)),
                                           QSettings::IniFormat);
    }
    static void enter(TimestampToolViewModel& model, const QString& text)
    {
        QSignalSpy applied(&model, &TimestampToolViewModel::parseApplied);
        model.replaceInput(text);
        QVERIFY(applied.wait(5000));
        QCoreApplication::processEvents();
    }
    static void shoot(QWidget& w, const char* name)
    {
        const QByteArray dir = qgetenv("QUORRIX_SCREENSHOTS");
        if (dir.isEmpty())
            return;
        QDir().mkpath(QString::fromUtf8(dir));
        // Let every move end before the picture.
        QTRY_VERIFY_WITH_TIMEOUT(std::ranges::none_of(w.findChildren<QAbstractAnimation*>(),
                                                      [](const QAbstractAnimation* a) {
                                                          return a->state() == QAbstractAnimation::Running;
                                                      }),
                                 10000);

        w.grab().save(QString::fromUtf8(dir) + u'/' + QString::fromLatin1(name) + QStringLiteral(".png"));
    }

private slots:
    void registration()
    {
        TimestampTool tool;
        QCOMPARE(tool.id(), QStringLiteral("timestamp"));
        QCOMPARE(tool.name(), QStringLiteral("Timestamp"));
        QCOMPARE(tool.symbol(), QStringLiteral("clock"));
        QCOMPARE(tool.category(), ToolCategory::data);
        QVERIFY(tool.acceptedExtensions().isEmpty());
    }

    // A number puts "Date strings" first; a date text puts "Unix time" first, marked "IN".
    void sectionsFollowTheKindOfInput()
    {
        auto s = freshSettings();
        s->setValue(TimestampToolViewModel::zonesKey,
                    QStringList{"Asia/Kolkata", "America/New_York", "Europe/Paris"});
        TimestampToolViewModel model(*s);
        model.setQuietTime(0);
        model.setZoneOverride(QTimeZone("Europe/Berlin"));
        TimestampToolView view(&model);
        view.resize(700, 900);
        view.show();
        enter(model, QStringLiteral("1790380800"));
        TimestampResultSections* sections = view.sections();
        QCOMPARE(sections->isWide(), false);
        QCOMPARE(sections->sectionTitles(),
                 (QStringList{"Date strings", "Unix time", "Local time", "Calendar", "Other zones"}));
        QCOMPARE(view.statusLabel()->text(),
                 QStringLiteral("Read as seconds since 1970, judged by its size. Choose a unit to read it otherwise."));
        QCOMPARE(badgeText(view.pane()), QStringLiteral("SECONDS"));
        QCOMPARE(sections->grid("Other zones")->ids(), (QStringList{"Asia/Kolkata", "America/New_York", "Europe/Paris"}));
        QVERIFY(!sections->relativeText().isEmpty());
        shoot(view, "narrow-unix-time");

        enter(model, QStringLiteral("Sat, 26 Sep 2026 12:00:00 GMT"));
        QCOMPARE(sections->sectionTitles(),
                 (QStringList{"Unix time", "Date strings", "Local time", "Calendar", "Other zones"}));
        QCOMPARE(model.matchingRowLabel().value_or(QString()), QStringLiteral("HTTP date"));
        // The families trade places with a move, not a jump.
        QWidget* unixSection = sections->findChild<QWidget*>(QStringLiteral("Unix time"));
        QVERIFY(unixSection);
        QVERIFY(unixSection->findChild<QPropertyAnimation*>());
        QCOMPARE(badgeText(view.pane()), QStringLiteral("RFC 2822"));
        shoot(view, "narrow-rfc2822-with-zones");
        view.resize(520, 700);
        QCoreApplication::processEvents();
        shoot(view, "narrowest");

        // Wide: two columns, and the zones in halves.
        view.resize(1300, 900);
        QTRY_VERIFY(sections->isWide());
        QCOMPARE(sections->sectionTitles(),
                 (QStringList{"Unix time", "Local time", "Date strings", "Calendar", "Other zones"}));
        QCOMPARE(sections->grid("Other zones, left")->ids(), (QStringList{"Asia/Kolkata", "Europe/Paris"}));
        QCOMPARE(sections->grid("Other zones, right")->ids(), (QStringList{"America/New_York"}));
        enter(model, QStringLiteral("1790380800"));
        shoot(view, "wide-unix-time");
    }

    void emptyInputAndClear()
    {
        auto s = freshSettings();
        TimestampToolViewModel model(*s);
        model.setQuietTime(0);
        TimestampToolView view(&model);
        view.show();
        QVERIFY(view.clearButton()->isEnabled());
        QSignalSpy applied(&model, &TimestampToolViewModel::parseApplied);
        view.clearButton()->click();
        QVERIFY(applied.wait(5000));
        QVERIFY(!view.clearButton()->isEnabled());
        QCOMPARE(view.inputField()->text(), QString());
        QCOMPARE(view.statusLabel()->text(), QStringLiteral("Paste a Unix timestamp or a date, or choose Now."));
        QVERIFY(!view.pane()->badge());
        QVERIFY(view.sections()->sectionTitles().isEmpty());
        QTest::keyClicks(view.inputField(), QStringLiteral("1"));
        QVERIFY(view.clearButton()->isEnabled());
    }

    void pasteTrimsAndKeepsTheUnit()
    {
        auto s = freshSettings();
        TimestampToolViewModel model(*s);
        model.setQuietTime(0);
        model.setUnit(UnitChoice::milliseconds);
        TimestampToolView view(&model);
        view.show();
        QGuiApplication::clipboard()->setText(QStringLiteral("  1790380800000\n"));
        QTRY_VERIFY(view.pasteButton()->isEnabled());
        view.pasteButton()->click();
        QCOMPARE(model.input(), QStringLiteral("1790380800000"));
        QCOMPARE(view.inputField()->text(), QStringLiteral("1790380800000"));
        QCOMPARE(model.unit(), UnitChoice::milliseconds);
    }

    void footerNamesTheZone()
    {
        auto s = freshSettings();
        TimestampToolViewModel model(*s);
        model.setZoneOverride(QTimeZone("UTC"));
        TimestampToolView view(&model);
        view.show();
        QCOMPARE(view.zoneMetrics()[0]->text(), QStringLiteral("UTC"));
        QCOMPARE(view.zoneMetrics()[0]->systemImage(), QStringLiteral("globe"));
        QCOMPARE(view.zoneMetrics()[1]->text(), QStringLiteral("UTC"));
        QCOMPARE(view.subtitle(), QStringLiteral("UTC"));
    }

    void copyShowsTheCheckmarkOnlyForAValue()
    {
        auto s = freshSettings();
        TimestampToolViewModel model(*s);
        model.setQuietTime(0);
        TimestampToolView view(&model);
        view.show();
        enter(model, QStringLiteral("1790380800"));
        TimestampRowGrid* grid = view.sections()->grid("Unix time");
        QVERIFY(!grid->isRowActive("Unix seconds"));
        grid->copyButton("Unix seconds")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("1790380800"));
        QVERIFY(grid->isRowActive("Unix seconds"));
        QTRY_VERIFY_WITH_TIMEOUT(!grid->isRowActive("Unix seconds"), 5000);
    }

    void zonePickerSearchesAndAdds()
    {
        auto s = freshSettings();
        s->setValue(TimestampToolViewModel::zonesKey, QStringList{"Asia/Kolkata", "America/New_York", "Europe/Paris"});
        TimestampToolViewModel model(*s);
        model.setQuietTime(0);
        model.setZoneOverride(QTimeZone("Europe/Berlin"));
        TimestampToolView view(&model);
        view.resize(760, 900);
        view.show();
        enter(model, QStringLiteral("1790380800"));
        TimestampZonePicker picker(&model, 1790380800);
        picker.setAttribute(Qt::WA_DeleteOnClose, false);  // it lives on this stack
        picker.setWindowFlags(Qt::Widget);
        picker.show();
        QVERIFY(picker.shownZones().size() > 300);
        QVERIFY(!picker.shownZones().contains("Europe/Berlin"));
        QTest::keyClicks(picker.searchField(), QStringLiteral("new"));
        QVERIFY(!picker.shownZones().contains("America/New_York"));  // already saved
        QVERIFY(picker.shownZones().contains("America/North_Dakota/New_Salem"));
        shoot(picker, "zone-picker-new");
        picker.searchField()->setText(QStringLiteral("  zzzz\t"));
        QCOMPARE(picker.emptyText(), QStringLiteral("No zone matches \u201Czzzz\u201D."));
        QSignalSpy dismissed(&picker, &TimestampZonePicker::dismissed);
        QTest::keyClick(picker.searchField(), Qt::Key_Return);
        QCOMPARE(dismissed.size(), 0);
        QCOMPARE(TimestampZonePicker::offsetLabel("Asia/Kolkata", 1790380800), QStringLiteral("UTC+05:30"));
        QCOMPARE(TimestampZonePicker::offsetLabel("Africa/Abidjan", 1790380800), QStringLiteral("UTC"));
        QCOMPARE(TimestampZonePicker::offsetLabel("No/Zone", 1790380800), QString());
        picker.searchField()->setText(QStringLiteral("tokyo"));
        QTest::keyClick(picker.searchField(), Qt::Key_Return);
        QCOMPARE(dismissed.size(), 1);
        QCOMPARE(model.zones().last(), QStringLiteral("Asia/Tokyo"));
        QTRY_VERIFY(view.sections()->grid("Other zones")->ids().contains("Asia/Tokyo"));

        // Remove, clicked on its own row: the row goes, the list is saved without it.
        TimestampRowGrid* zones = view.sections()->grid("Other zones");
        QToolButton* remove = zones->removeButton("America/New_York");
        QVERIFY(remove);
        remove->setAttribute(Qt::WA_TransparentForMouseEvents, false);
        QTest::mouseClick(remove, Qt::LeftButton);
        QCoreApplication::processEvents();
        QCOMPARE(model.zones(), (QStringList{"Asia/Kolkata", "Europe/Paris", "Asia/Tokyo"}));
        QTRY_COMPARE(view.sections()->grid("Other zones")->ids(),
                     (QStringList{"Asia/Kolkata", "Europe/Paris", "Asia/Tokyo"}));
    }
};

QUORRIX_TEST_MAIN(TimestampToolViewTest)
#include "TimestampToolViewTest.moc"
