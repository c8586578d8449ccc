#include "support/QuorrixTestMain.h"
#include "tools/timestamp/TimestampToolViewModel.h"
#include "tools/timestamp/TimestampZones.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

using namespace Timestamp;

static QString entries(const ZoneCountries& catalogue)
{
    QStringList keys = catalogue.keys();
    std::sort(keys.begin(), keys.end());
    QStringList out;
    for (const QString& k : keys)
        out << k + u'=' + catalogue.value(k);
    return out.join(u' ');
}

static QString scalars(const QString& text)
{
    QStringList out;
    for (char32_t c : text.toUcs4())
        out << QString::number(c, 16).toUpper();
    return out.join(u' ');
}

// A small world: names of our own, so ranking does not hang on ICU's data.
static QStringList names(const QString& code)
{
    static const QHash<QString, QStringList> table{
        {"US", {"United States"}}, {"GB", {"United Kingdom"}}, {"BR", {"Brasil", "Brazil"}},
        {"NZ", {"New Zealand"}},   {"PG", {"Papua New Guinea"}}, {"CA", {"Canada"}},
        {"NC", {"New Caledonia"}}, {"XX", {"XX"}},
    };
    return table.value(code, {code});
}

class TimestampZonesTest : public QObject {
    Q_OBJECT

private slots:
    void catalogue_data()
    {
        QTest::addColumn<QString>("zoneTab");
        QTest::addColumn<QString>("tzdata");
        QTest::addColumn<QString>("expected");
        const QString xtra = "Antarctica/South_Pole=AQ Pacific/Ponape=FM Pacific/Truk=FM";
        QTest::newRow("row and alias") << "IN\t+2232+08822\tAsia/Kolkata\n" << "L Asia/Kolkata Asia/Calcutta\n"
                                       << "Asia/Calcutta=IN Asia/Kolkata=IN " + xtra;
        QTest::newRow("comment, three-letter code, two fields")
            << "# IN\t+1\tAsia/Kolkata\nIND\t+1\tAsia/Kolkata\nIN\tAsia/Kolkata\n" << "" << xtra;
        QTest::newRow("empty field kept") << "IN\t\tAsia/Kolkata\tcomment\n" << "" << "Asia/Kolkata=IN " + xtra;
        QTest::newRow("later line wins") << "IN\t+1\tAsia/Kolkata\nPK\t+1\tAsia/Kolkata\n" << ""
                                         << "Asia/Kolkata=PK " + xtra;
        QTest::newRow("extras override") << "XX\t+1\tPacific/Truk\n" << "" << xtra;
        QTest::newRow("listed alias keeps its code")
            << "IN\t+1\tAsia/Kolkata\nPK\t+1\tAsia/Calcutta\n" << "L Asia/Kolkata Asia/Calcutta\n"
            << "Asia/Calcutta=PK Asia/Kolkata=IN " + xtra;
        QTest::newRow("blanks in link, bad links") << "IN\t+1\tAsia/Kolkata\n"
                                                   << "L   Asia/Kolkata    A/One\nL Asia/Kolkata\n"
                                                      "L Asia/Kolkata A/Two extra\nl Asia/Kolkata A/Three\n"
                                                   << "A/One=IN Asia/Kolkata=IN " + xtra;
        QTest::newRow("chain of two") << "IN\t+1\tAsia/Kolkata\n" << "L Asia/Kolkata A/B\nL A/B A/C\n"
                                      << "A/B=IN A/C=IN Asia/Kolkata=IN " + xtra;
        // Five links from the zone: resolved within five tries; sorted visits resolve the rest.
        QTest::newRow("chain of five hops")
            << "IN\t+1\tZ/Zone\n" << "L Z/Zone Y/5\nL Y/5 Y/4\nL Y/4 Y/3\nL Y/3 Y/2\nL Y/2 Y/1\n"
            << "Antarctica/South_Pole=AQ Pacific/Ponape=FM Pacific/Truk=FM Y/1=IN Y/2=IN Y/3=IN Y/4=IN Y/5=IN Z/Zone=IN";
        QTest::newRow("chain of six, visited from the far end first")
            << "IN\t+1\tZ/Zone\n" << "L Z/Zone B/5\nL B/5 B/4\nL B/4 B/3\nL B/3 B/2\nL B/2 B/1\nL B/1 A/0\n"
            << "Antarctica/South_Pole=AQ Pacific/Ponape=FM Pacific/Truk=FM B/1=IN B/2=IN B/3=IN B/4=IN B/5=IN Z/Zone=IN";
        QTest::newRow("target without country") << "" << "L Etc/UTC UTC\nL Etc/UTC Zulu\n" << xtra;
        QTest::newRow("crlf and junk") << "IN\t+1\tAsia/Kolkata\r\n\n\n\x01\t\t\n" << "R x\nZ y\n"
                                       << "Asia/Kolkata\r=IN " + xtra;
    }
    void catalogue()
    {
        QFETCH(QString, zoneTab);
        QFETCH(QString, tzdata);
        QFETCH(QString, expected);
        QStringList sorted = expected.split(u' ', Qt::SkipEmptyParts);
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(entries(readZoneCountries(zoneTab, tzdata)), sorted.join(u' '));
    }

    void catalogueFromFiles()
    {
        QTemporaryDir dir;
        QVERIFY(loadZoneCountries(dir.path()).isEmpty());  // nothing to read
        QFile tzdata(dir.filePath("tzdata.zi"));
        QVERIFY(tzdata.open(QIODevice::WriteOnly));
        tzdata.write("L Asia/Kolkata Asia/Calcutta\n");
        tzdata.close();
        QVERIFY(loadZoneCountries(dir.path()).isEmpty());  // zone.tab missing: empty, no extras
        QFile zoneTab(dir.filePath("zone.tab"));
        QVERIFY(zoneTab.open(QIODevice::WriteOnly));
        zoneTab.write("IN\t+1\tAsia/Kolkata\n");
        zoneTab.close();
        QCOMPARE(loadZoneCountries(dir.path()).value("Asia/Calcutta"), QStringLiteral("IN"));
        QVERIFY(tzdata.remove());
        const ZoneCountries noLinks = loadZoneCountries(dir.path());
        QCOMPARE(noLinks.value("Asia/Kolkata"), QStringLiteral("IN"));
        QVERIFY(!noLinks.contains("Asia/Calcutta"));
        // tzdata.zi that is a folder, or not UTF-8: no links, rows kept.
        QVERIFY(QDir(dir.path()).mkdir("tzdata.zi"));
        QCOMPARE(loadZoneCountries(dir.path()).value("Asia/Kolkata"), QStringLiteral("IN"));
        // zone.tab that is not UTF-8: nothing at all.
        QVERIFY(zoneTab.open(QIODevice::WriteOnly));
        zoneTab.write("IN\t+1\tAsia/Kolkata\n\xff\xfe\n");
        zoneTab.close();
        QVERIFY(loadZoneCountries(dir.path()).isEmpty());
        // zone.tab that is a folder: nothing at all.
        QVERIFY(zoneTab.remove());
        QVERIFY(QDir(dir.path()).mkdir("zone.tab"));
        QVERIFY(loadZoneCountries(dir.path()).isEmpty());
    }

    void systemCatalogue()
    {
        QVERIFY(QFile::exists("/usr/share/zoneinfo/zone.tab"));
        const ZoneCountries& c = zoneCountries();
        QCOMPARE(&c, &zoneCountries());
        QCOMPARE(c.value("Asia/Kolkata"), QStringLiteral("IN"));
        QCOMPARE(c.value("Asia/Calcutta"), QStringLiteral("IN"));
        QCOMPARE(c.value("Europe/Paris"), QStringLiteral("FR"));
        QCOMPARE(c.value("Pacific/Truk"), QStringLiteral("FM"));
        QVERIFY(!c.contains("UTC"));
    }

    void flags_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("expected");
        QTest::newRow("FM") << "FM" << "1F1EB 1F1F2";
        QTest::newRow("lower case") << "fm" << "";
        QTest::newRow("one letter") << "F" << "";
        QTest::newRow("three letters") << "FMX" << "";
        QTest::newRow("digit") << "F1" << "";
        QTest::newRow("empty") << "" << "";
    }
    void flags()
    {
        QFETCH(QString, code);
        QFETCH(QString, expected);
        QCOMPARE(scalars(flag(code)), expected);
    }

    void countryNamesInEnglish()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(countryNames("FR"), QStringList{"France"});
        QCOMPARE(countryNames("QQ"), QStringList{"QQ"});
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(countryNames("FR"), (QStringList{"Frankreich", "France"}));
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void search_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty lists all available") << "" << QStringList{"America/New_York", "America/Sao_Paulo",
                                                                         "America/Toronto", "Asia/Kolkata", "Europe/London",
                                                                         "Pacific/Auckland", "Pacific/Noumea",
                                                                         "Pacific/Port_Moresby"};
        QTest::newRow("blank") << "  " << QStringList{"America/New_York", "America/Sao_Paulo", "America/Toronto",
                                                      "Asia/Kolkata", "Europe/London", "Pacific/Auckland",
                                                      "Pacific/Noumea", "Pacific/Port_Moresby"};
        QTest::newRow("abbreviation first") << "ist" << QStringList{"Asia/Kolkata"};
        QTest::newRow("abbreviation of an excluded zone") << "utc" << QStringList{};
        QTest::newRow("accent folds") << "são" << QStringList{"America/Sao_Paulo"};
        QTest::newRow("blank reads as underscore") << "new york" << QStringList{"America/New_York"};
        QTest::newRow("underscore") << "new_york" << QStringList{"America/New_York"};
        QTest::newRow("new: city, then countries by name")
            << "new" << QStringList{"America/New_York", "Pacific/Noumea", "Pacific/Auckland", "Pacific/Port_Moresby"};
        QTest::newRow("english name") << "brazil" << QStringList{"America/Sao_Paulo"};
        QTest::newRow("later word") << "kingdom" << QStringList{"Europe/London"};
        QTest::newRow("mid-word: identifier only") << "ondon" << QStringList{"Europe/London"};
        QTest::newRow("region") << "america"
                                << QStringList{"America/New_York", "America/Sao_Paulo", "America/Toronto"};
        QTest::newRow("code is not searched") << "us" << QStringList{};
        QTest::newRow("nothing") << "zzz" << QStringList{};
    }
    void search()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        const QStringList candidates{"America/New_York", "America/Sao_Paulo", "America/Toronto", "Asia/Kolkata",
                                     "Europe/London", "Pacific/Auckland", "Pacific/Noumea", "Pacific/Port_Moresby",
                                     "UTC", "Europe/Paris"};
        const QHash<QString, QString> abbreviations{{"IST", "Asia/Kolkata"}, {"UTC", "UTC"}};
        const ZoneCountries countries{{"America/New_York", "US"}, {"America/Sao_Paulo", "BR"},
                                      {"America/Toronto", "CA"},  {"Europe/London", "GB"},
                                      {"Pacific/Auckland", "NZ"}, {"Pacific/Noumea", "NC"},
                                      {"Pacific/Port_Moresby", "PG"}};
        const QSet<QString> excluded{"UTC", "Europe/Paris"};
        QCOMPARE(TimestampToolViewModel::searchZones(query, excluded, candidates, abbreviations, countries, names),
                 expected);
    }

    void systemSearch()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        const QStringList& candidates = TimestampToolViewModel::zoneCandidates();
        QVERIFY(candidates.size() > 300);
        QVERIFY(std::is_sorted(candidates.begin(), candidates.end()));
        auto search = [&](const QString& q) {
            return TimestampToolViewModel::searchZones(q, {"UTC", "GMT"}, candidates, abbreviationDictionary(),
                                                       zoneCountries(), countryNames);
        };
        QCOMPARE(search("jst").value(0), QStringLiteral("Asia/Tokyo"));
        QVERIFY(search("são").mid(0, 2).contains("America/Sao_Paulo"));
        QVERIFY(search("germany").contains("Europe/Berlin"));
        QVERIFY(!search("").contains("UTC"));
        // Every abbreviation names a zone this system knows.
        for (const QString& zone : abbreviationDictionary())
            QVERIFY2(QTimeZone(zone.toUtf8()).isValid(), qPrintable(zone));
    }

    // Each abbreviation names a zone that goes by it in the system's zone data, at the offset the
    // abbreviation stands for. Where the data writes no zone with it (numbers such as "+03"
    // instead), the zone has that offset and no other zone claims the letters.
    void abbreviationsAgreeWithTheZoneData_data()
    {
        QTest::addColumn<QString>("abbreviation");
        QTest::addColumn<int>("offsetMinutes");
        const QList<std::pair<const char*, int>> reference{
            {"ACDT", 630}, {"ACST", 570},  {"AEDT", 660}, {"AEST", 600}, {"AKDT", -480}, {"AKST", -540},
            {"ADT", -180}, {"AST", -240},  {"ART", -180}, {"AWST", 480}, {"BDT", 360},   {"BRT", -180},
            {"BST", 60},   {"CAT", 120},   {"CDT", -300}, {"CEST", 120}, {"CET", 60},    {"CLT", -240},
            {"COT", -300}, {"CST", -360},  {"EAT", 180},  {"EDT", -240}, {"EEST", 180},  {"EET", 120},
            {"EST", -300}, {"GMT", 0},     {"GST", 240},  {"HKT", 480},  {"HST", -600},  {"ICT", 420},
            {"IRST", 210}, {"IST", 330},   {"JST", 540},  {"KST", 540},  {"MDT", -360},  {"MSK", 180},
            {"MST", -420}, {"NPT", 345},   {"NZDT", 780}, {"NZST", 720}, {"PDT", -420},  {"PET", -300},
            {"PHT", 480},  {"PKT", 300},   {"PST", -480}, {"SAST", 120}, {"SGT", 480},   {"TRT", 180},
            {"UTC", 0},    {"WAT", 60},    {"WET", 0},    {"WIB", 420},
        };
        QStringList unchecked = abbreviationDictionary().keys();
        for (const auto& [abbreviation, minutes] : reference) {
            QTest::newRow(abbreviation) << QString::fromLatin1(abbreviation) << minutes;
            unchecked.removeAll(QString::fromLatin1(abbreviation));
        }
        QVERIFY2(unchecked.isEmpty(), qPrintable(unchecked.join(u' ') + QStringLiteral(" has no reference offset here")));
    }
    void abbreviationsAgreeWithTheZoneData()
    {
        QFETCH(QString, abbreviation);
        QFETCH(int, offsetMinutes);
        // Mid-winter and mid-summer of recent years, both hemispheres.
        QList<QDateTime> moments;
        for (int year = 2019; year <= 2026; ++year)
            for (int month : {1, 7})
                moments << QDateTime(QDate(year, month, 15), QTime(12, 0), QTimeZone::utc());
        const QString zone = abbreviationDictionary().value(abbreviation);
        const QTimeZone named(zone.toUtf8());
        QVERIFY2(named.isValid(), qPrintable(zone));
        bool goesByIt = false;
        bool hasTheOffset = false;
        for (const QDateTime& moment : moments) {
            const bool offsetAgrees = named.offsetFromUtc(moment) == offsetMinutes * 60;
            hasTheOffset = hasTheOffset || offsetAgrees;
            if (named.abbreviation(moment) == abbreviation) {
                goesByIt = true;
                QVERIFY2(offsetAgrees, qPrintable(QStringLiteral("%1 is %2 at %3")
                                                      .arg(zone)
                                                      .arg(named.offsetFromUtc(moment))
                                                      .arg(moment.toString(Qt::ISODate))));
            }
        }
        QVERIFY2(hasTheOffset, qPrintable(zone + QStringLiteral(" never has the offset of ") + abbreviation));
        if (goesByIt)
            return;
        QStringList users;
        for (const QByteArray& id : QTimeZone::availableTimeZoneIds()) {
            const QTimeZone other(id);
            for (const QDateTime& moment : moments) {
                if (other.abbreviation(moment) == abbreviation && other.offsetFromUtc(moment) == offsetMinutes * 60) {
                    users << QString::fromUtf8(id);
                    break;
                }
            }
        }
        QVERIFY2(users.isEmpty(), qPrintable(abbreviation + QStringLiteral(" names ") + zone + QStringLiteral(", which does not go by it; ")
                                             + users.join(u", ") + QStringLiteral(" do")));
    }

    void loadZones_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("nothing") << QVariant() << QStringList{};
        QTest::newRow("one") << QVariant(QStringList{"Asia/Tokyo"}) << QStringList{"Asia/Tokyo"};
        QTest::newRow("several") << QVariant(QStringList{"Asia/Tokyo", "Europe/Paris", "America/New_York"})
                                 << QStringList{"Asia/Tokyo", "Europe/Paris", "America/New_York"};
        QTest::newRow("unknown and repeated dropped")
            << QVariant(QStringList{"Asia/Tokyo", "Mars/Olympus", "Asia/Tokyo"}) << QStringList{"Asia/Tokyo"};
        QTest::newRow("a number inside") << QVariant(QVariantList{"Asia/Tokyo", 5}) << QStringList{};
        QTest::newRow("a number") << QVariant(42) << QStringList{};
        QTest::newRow("a map") << QVariant(QVariantMap{{"a", "Asia/Tokyo"}}) << QStringList{};
        QTest::newRow("empty text") << QVariant(QString()) << QStringList{};
    }
    // Written to an INI file and read back by a new settings object, as at the next start.
    void loadZones()
    {
        QFETCH(QVariant, stored);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath("settings.ini");
        {
            QSettings s(path, QSettings::IniFormat);
            if (stored.isValid())
                s.setValue(TimestampToolViewModel::zonesKey, stored);
        }
        QSettings s(path, QSettings::IniFormat);
        QCOMPARE(TimestampToolViewModel::loadZones(s), expected);
    }
};

QUORRIX_TEST_MAIN(TimestampZonesTest)
#include "TimestampZonesTest.moc"
