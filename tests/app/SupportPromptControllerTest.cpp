#include "app/SupportPromptController.h"
#include "support/QuorrixTestMain.h"

#include <QTemporaryDir>

namespace {
const QTimeZone berlin("Europe/Berlin");

QDateTime at(int year, int month, int day, int hour = 12, int minute = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute), berlin);
}

// Records `count` distinct days starting at 1 March 2026.
void recordDays(SupportPromptController& prompt, int count)
{
    for (int i = 0; i < count; ++i)
        prompt.recordLaunch(at(2026, 3, 1).addDays(i));
}
} // namespace

class SupportPromptControllerTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    int m_file = 0;
    std::unique_ptr<QSettings> freshSettings()
    {
        return std::make_unique<QSettings>(m_dir.filePath(QString("s%1.ini").arg(++m_file)), QSettings::IniFormat);
    }

private slots:
    void daysNeededBeforeTheFirstPrompt_data()
    {
        QTest::addColumn<int>("days");
        QTest::addColumn<bool>("shows");
        QTest::newRow("none") << 0 << false;
        QTest::newRow("thirteen") << 13 << false;
        QTest::newRow("fourteen") << 14 << true;
        QTest::newRow("twenty") << 20 << true;
    }
    void daysNeededBeforeTheFirstPrompt()
    {
        QFETCH(int, days);
        QFETCH(bool, shows);
        auto settings = freshSettings();
        SupportPromptController prompt(*settings, berlin);
        recordDays(prompt, days);
        QCOMPARE(prompt.launchDays().size(), qMin(days, 14));
        QCOMPARE(prompt.shouldShowSupportPrompt(at(2026, 6, 1)), shows);
    }

    void sameDayCountsOnce()
    {
        auto settings = freshSettings();
        SupportPromptController prompt(*settings, berlin);
        prompt.recordLaunch(at(2026, 3, 1, 8));
        prompt.recordLaunch(at(2026, 3, 1, 18));
        QCOMPARE(prompt.launchDays(), QStringList{"2026-03-01"});
    }

    void localMidnightSeparatesDays()
    {
        auto settings = freshSettings();
        SupportPromptController prompt(*settings, berlin);
        prompt.recordLaunch(at(2026, 3, 1, 23, 59));
        prompt.recordLaunch(at(2026, 3, 2, 0, 1));
        QCOMPARE(prompt.launchDays(), QStringList({"2026-03-01", "2026-03-02"}));
        // The same two instants are one UTC day apart differently: the zone decides.
        auto utcSettings = freshSettings();
        SupportPromptController utc(*utcSettings, QTimeZone::utc());
        utc.recordLaunch(at(2026, 3, 1, 23, 59));
        utc.recordLaunch(at(2026, 3, 2, 0, 1));
        QCOMPARE(utc.launchDays(), QStringList({"2026-03-01"}));
    }

    void fourteenDaysAreFinal()
    {
        auto settings = freshSettings();
        SupportPromptController prompt(*settings, berlin);
        recordDays(prompt, 14);
        const QStringList days = prompt.launchDays();
        prompt.recordLaunch(at(2027, 1, 1));
        QCOMPARE(prompt.launchDays(), days);
    }

    void oneElementListSurvivesTheSettingsFile()
    {
        const QString path = m_dir.filePath("roundtrip.ini");
        {
            QSettings settings(path, QSettings::IniFormat);
            SupportPromptController prompt(settings, berlin);
            prompt.recordLaunch(at(2026, 3, 1));
            settings.sync();
        }
        QSettings reread(path, QSettings::IniFormat);
        SupportPromptController prompt(reread, berlin);
        QCOMPARE(prompt.launchDays(), QStringList{"2026-03-01"});
        prompt.recordLaunch(at(2026, 3, 2));
        QCOMPARE(prompt.launchDays(), QStringList({"2026-03-01", "2026-03-02"}));
    }

    void interval_data()
    {
        QTest::addColumn<qint64>("secondsSinceShown");
        QTest::addColumn<bool>("shows");
        QTest::newRow("one second short") << qint64(2591999) << false;
        QTest::newRow("exactly thirty days") << qint64(2592000) << true;
        QTest::newRow("long ago") << qint64(90LL * 86400) << true;
        QTest::newRow("just shown") << qint64(0) << false;
        QTest::newRow("an hour ahead of the clock") << qint64(-3600) << false;
    }
    void interval()
    {
        QFETCH(qint64, secondsSinceShown);
        QFETCH(bool, shows);
        auto settings = freshSettings();
        SupportPromptController prompt(*settings, berlin);
        recordDays(prompt, 14);
        const QDateTime now = at(2026, 8, 1);
        prompt.markShown(now.addSecs(-secondsSinceShown));
        QCOMPARE(prompt.shouldShowSupportPrompt(now), shows);
    }

    void lastShownSurvivesTheSettingsFile()
    {
        const QString path = m_dir.filePath("lastshown.ini");
        const QDateTime now = at(2026, 8, 1);
        {
            QSettings settings(path, QSettings::IniFormat);
            SupportPromptController prompt(settings, berlin);
            recordDays(prompt, 14);
            prompt.markShown(now.addSecs(-10));
            settings.sync();
        }
        QSettings reread(path, QSettings::IniFormat);
        SupportPromptController prompt(reread, berlin);
        QVERIFY(!prompt.shouldShowSupportPrompt(now));
        QVERIFY(prompt.shouldShowSupportPrompt(now.addSecs(2592000)));
    }

    void malformedValuesReadAsDefaults()
    {
        auto settings = freshSettings();
        SupportPromptController prompt(*settings, berlin);
        recordDays(prompt, 14);
        settings->setValue(SupportPromptController::lastShownKey, QStringLiteral("yesterday"));
        QVERIFY(prompt.shouldShowSupportPrompt(at(2026, 8, 1)));
        settings->setValue(SupportPromptController::launchDaysKey, 42);
        QCOMPARE(prompt.launchDays(), QStringList());
        QVERIFY(!prompt.shouldShowSupportPrompt(at(2026, 8, 1)));
    }

    void optOutIsFinal()
    {
        auto settings = freshSettings();
        SupportPromptController prompt(*settings, berlin);
        recordDays(prompt, 14);
        prompt.optOut();
        QVERIFY(!prompt.shouldShowSupportPrompt(at(2026, 8, 1)));
        QVERIFY(!prompt.shouldShowSupportPrompt(at(2030, 8, 1)));
    }
};

QUORRIX_TEST_MAIN(SupportPromptControllerTest)
#include "SupportPromptControllerTest.moc"
