#include "support/QuorrixTestMain.h"
#include "tools/timestamp/TimestampToolViewModel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace Timestamp;
Q_DECLARE_METATYPE(Timestamp::UnitChoice)

class TimestampToolViewModelTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_files = 0;

    std::unique_ptr<QSettings> freshSettings()
    {
        return std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("s%1.ini").arg(++m_files)),
                                           QSettings::IniFormat);
    }
    static void waitForParse(TimestampToolViewModel& m)
    {
        QSignalSpy spy(&m, &TimestampToolViewModel::parseApplied);
        QVERIFY(spy.wait(5000));
    }

private slots:
    void startsWithNowAndNoResult()
    {
        auto s = freshSettings();
        TimestampToolViewModel m(*s);
        QVERIFY(isDigits(m.input()) && !m.input().isEmpty());
        QCOMPARE(m.unit(), UnitChoice::automatic);
        QVERIFY(!m.parsed() && !m.failure());
        QCOMPARE(m.statusText(), QStringLiteral(" "));
        QVERIFY(!m.readingBadge());
        QVERIFY(!m.isParsePending());
        m.refreshIfStale();  // the first showing
        waitForParse(m);
        QVERIFY(m.parsed());
        QCOMPARE(m.matchingRowLabel().value_or(QString()), QStringLiteral("Unix seconds"));
        QCOMPARE(m.statusText(),
                 QStringLiteral("Read as seconds since 1970, judged by its size. Choose a unit to read it otherwise."));
        // Nothing changed: showing the view again parses nothing.
        m.refreshIfStale();
        QVERIFY(!m.isParsePending());
        // Another zone since the last parse: parses again.
        m.setZoneOverride(QTimeZone("Asia/Tokyo"));
        m.refreshIfStale();
        QVERIFY(m.isParsePending());
    }

    // A burst of typing parses only its last text; earlier results never show.
    void quietTimeAndSupersededParses()
    {
        auto s = freshSettings();
        TimestampToolViewModel m(*s);
        m.setQuietTime(0);
        m.setZoneOverride(utc());
        QSignalSpy applied(&m, &TimestampToolViewModel::parseApplied);
        for (const char* text : {"1", "17", "179", "not a date", "1790380800"})
            m.replaceInput(QString::fromLatin1(text));
        QCOMPARE(m.inputGeneration(), 5);
        QTRY_VERIFY(!m.isParsePending());
        QTRY_COMPARE(applied.size(), 1);
        QCOMPARE(m.parsed()->instant, (Instant{1790380800, 0}));
        QCoreApplication::processEvents();
        QCOMPARE(applied.size(), 1);
    }

    void quietTimeDefault()
    {
        auto s = freshSettings();
        TimestampToolViewModel m(*s);
        m.replaceInput(QStringLiteral("12"));
        QVERIFY(m.isParsePending());
        QVERIFY(!m.parsed());  // nothing yet: the quiet time has not passed
        waitForParse(m);
        QCOMPARE(m.parsed()->instant.seconds, 12);
    }

    void status_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<UnitChoice>("unit");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("badge");
        QTest::addColumn<QString>("matching");
        QTest::newRow("empty") << "" << UnitChoice::automatic << "Paste a Unix timestamp or a date, or choose Now."
                               << "" << "";
        QTest::newRow("out of range") << "99999999999999999999" << UnitChoice::automatic
                                      << "Outside the years 1 to 9999, which is as far as ISO 8601 and RFC 2822 go."
                                      << "OUT OF RANGE" << "";
        QTest::newRow("unrecognised") << "soon" << UnitChoice::automatic
                                      << "Not a timestamp or a date this tool reads. Try Unix time (1790380800), ISO "
                                         "8601 (2026-09-26T12:00:00Z) or RFC 2822 (Sat, 26 Sep 2026 12:00:00 GMT)."
                                      << "UNREADABLE" << "";
        QTest::newRow("chosen unit") << "1790380800000" << UnitChoice::milliseconds
                                     << "Read as milliseconds since 1970." << "MILLISECONDS" << "Unix milliseconds";
        QTest::newRow("guessed unit") << "1790380800000" << UnitChoice::automatic
                                      << "Read as milliseconds since 1970, judged by its size. Choose a unit to read it "
                                         "otherwise."
                                      << "MILLISECONDS" << "Unix milliseconds";
        QTest::newRow("iso with offset") << "2026-09-26T12:00:00Z" << UnitChoice::automatic << "Read as ISO 8601."
                                         << "ISO 8601" << "ISO 8601, UTC";
        QTest::newRow("iso local") << "2026-09-26 12:00" << UnitChoice::automatic
                                   << "Read as ISO 8601. It gives no offset, so it is read as local time in "
                                      "America/Havana."
                                   << "ISO 8601" << "";
        QTest::newRow("rfc with zone") << "Sat, 26 Sep 2026 12:00:00 GMT" << UnitChoice::automatic
                                       << "Read as RFC 2822." << "RFC 2822" << "HTTP date";
        QTest::newRow("rfc local") << "26 Sep 2026 12:00" << UnitChoice::automatic
                                   << "Read as RFC 2822. It gives no zone, so it is read as local time in "
                                      "America/Havana."
                                   << "RFC 2822" << "";
    }
    void status()
    {
        QFETCH(QString, input);
        QFETCH(UnitChoice, unit);
        QFETCH(QString, status);
        QFETCH(QString, badge);
        QFETCH(QString, matching);
        auto s = freshSettings();
        TimestampToolViewModel m(*s);
        m.setQuietTime(0);
        m.setZoneOverride(QTimeZone("America/Havana"));
        m.setUnit(unit);
        m.replaceInput(input);
        m.scheduleParse();
        waitForParse(m);
        QCOMPARE(m.statusText(), status);
        QCOMPARE(m.readingBadge() ? m.readingBadge()->text() : QString(), badge);
        QCOMPARE(m.matchingRowLabel().value_or(QString()), matching);
        QCOMPARE(m.parsed().has_value(), !m.failure().has_value());
    }

    // The status line names the zone the moment was read in, even after the system's changed.
    void statusNamesTheZoneOfTheParse()
    {
        auto s = freshSettings();
        TimestampToolViewModel m(*s);
        m.setQuietTime(0);
        m.setZoneOverride(QTimeZone("Asia/Tokyo"));
        m.replaceInput(QStringLiteral("2026-09-26"));
        waitForParse(m);
        m.setZoneOverride(QTimeZone("Europe/Paris"));
        QVERIFY(m.statusText().endsWith(QStringLiteral("Asia/Tokyo.")));
    }

    void nowResetsTheUnit()
    {
        auto s = freshSettings();
        TimestampToolViewModel m(*s);
        m.setQuietTime(0);
        m.setUnit(UnitChoice::nanoseconds);
        m.replaceInput(QStringLiteral("x"));
        m.setNow();
        QCOMPARE(m.unit(), UnitChoice::automatic);
        QTRY_VERIFY(m.parsed().has_value());
        QTRY_VERIFY(!m.isParsePending());
        QCOMPARE(m.statusText(),
                 QStringLiteral("Read as seconds since 1970, judged by its size. Choose a unit to read it otherwise."));
    }

    void zonesRoundTrip_data()
    {
        QTest::addColumn<QStringList>("zones");
        QTest::newRow("one zone") << QStringList{"Asia/Tokyo"};
        QTest::newRow("several zones") << QStringList{"Asia/Tokyo", "Europe/Paris", "America/St_Johns"};
    }
    // Saved zones come back, in order, in a new window after a restart.
    void zonesRoundTrip()
    {
        QFETCH(QStringList, zones);
        const QString path = m_dir.filePath(QStringLiteral("round%1.ini").arg(++m_files));
        {
            QSettings s(path, QSettings::IniFormat);
            TimestampToolViewModel m(s);
            for (const QString& z : zones)
                m.addZone(z);
            m.addZone(zones.first());           // twice: no change
            m.addZone(QStringLiteral("Nowhere/Land"));  // no such zone: no change
            QCOMPARE(m.zones(), zones);
        }
        QSettings s(path, QSettings::IniFormat);
        TimestampToolViewModel m(s);
        QCOMPARE(m.zones(), zones);
        for (const QString& z : zones)
            m.removeZone(z);
        QVERIFY(m.zones().isEmpty());
        QSettings again(path, QSettings::IniFormat);
        QCOMPARE(TimestampToolViewModel::loadZones(again), QStringList{});
    }

    // Two windows share one store: an add in one survives a remove in the other.
    void twoWindows()
    {
        auto s = freshSettings();
        TimestampToolViewModel a(*s), b(*s);
        a.addZone(QStringLiteral("Asia/Tokyo"));
        b.addZone(QStringLiteral("Europe/Paris"));
        a.addZone(QStringLiteral("America/Lima"));
        b.removeZone(QStringLiteral("Europe/Paris"));
        QCOMPARE(b.zones(), (QStringList{"Asia/Tokyo", "America/Lima"}));
    }

    void otherZoneRowsAndSuggestions()
    {
        auto s = freshSettings();
        s->setValue(TimestampToolViewModel::zonesKey, QStringList{"Asia/Kolkata", "Gone/Zone", "America/St_Johns"});
        TimestampToolViewModel m(*s);
        QCOMPARE(m.zones(), (QStringList{"Asia/Kolkata", "America/St_Johns"}));
        QVERIFY(m.otherZoneRows().isEmpty());
        m.setQuietTime(0);
        m.setZoneOverride(QTimeZone("Europe/Paris"));
        m.replaceInput(QStringLiteral("1790380800"));
        waitForParse(m);
        const QList<Row> rows = m.otherZoneRows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0], (Row{"Asia/Kolkata", "2026-09-26T05:30:00+05:30"}));
        QCOMPARE(rows[1], (Row{"America/St_Johns", "2026-09-25T21:30:00-02:30"}));
        const QStringList all = m.zoneSuggestions(QString());
        for (const char* excluded : {"Asia/Kolkata", "America/St_Johns", "Europe/Paris", "UTC", "GMT"})
            QVERIFY(!all.contains(QString::fromLatin1(excluded)));
        QCOMPARE(m.zoneSuggestions(QStringLiteral("jst")).value(0), QStringLiteral("Asia/Tokyo"));
        QVERIFY(m.zoneSuggestions(QStringLiteral("new")).contains(QStringLiteral("America/New_York")));
    }

    void copyEmptyLeavesTheClipboard()
    {
        auto s = freshSettings();
        TimestampToolViewModel m(*s);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QVERIFY(!m.copy(QString()));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        QVERIFY(m.copy(QStringLiteral("1790380800")));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("1790380800"));
    }
};

QUORRIX_TEST_MAIN(TimestampToolViewModelTest)
#include "TimestampToolViewModelTest.moc"
