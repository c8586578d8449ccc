#include "support/QuorrixTestMain.h"
#include "tools/csv/CSVParser.h"
#include "tools/csv/CSVRefinement.h"

#include <QLocale>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

using namespace CSVParser;
using namespace CSVRefinement;

namespace {
using Ids = std::vector<qint32>;
using Filters = QMap<qint64, QString>;
using Keys = QList<CSVSortDescriptor>;

Ids shown(const Document& d, const QString& query, const Filters& filters = {}, const Keys& keys = {})
{
    return *visibleRows(d, query, filters, keys);
}
// The first column's cells of the shown rows.
QStringList firstCells(const Document& d, const Ids& ids, qint64 column = 0)
{
    QStringList out;
    for (qint32 id : ids)
        out.append(d.cell(id, column));
    return out;
}
Document doc(const char* text) { return parseCSV(QString::fromUtf8(text), U',', true); }
} // namespace

Q_DECLARE_METATYPE(Ids)

class CSVRefinementTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void search_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<Ids>("expected");
        QTest::newRow("empty shows every row") << "" << Ids{0, 1, 2, 3, 4};
        QTest::newRow("only blanks shows every row") << " \t " << Ids{0, 1, 2, 3, 4};
        QTest::newRow("capitals find lower case") << "ALICE" << Ids{0};
        QTest::newRow("trimmed") << "  bob  " << Ids{1};
        QTest::newRow("any column") << "pending" << Ids{1, 3};
        QTest::newRow("inner blanks kept") << "a b" << Ids{2};
        QTest::newRow("non-ASCII lower-cased") << QString::fromUtf8("\xC3\x89MILE") << Ids{3};
        QTest::newRow("a combining accent matches the precomposed letter") << QString::fromUtf8("e\xCC\x81mi") << Ids{3};
        QTest::newRow("no match") << "zzz" << Ids{};
        QTest::newRow("not across cells") << "alice,active" << Ids{};
        QTest::newRow("a Kelvin sign lower-cases to k") << "kel" << Ids{4};
        QTest::newRow("ASCII query among non-ASCII text") << "mile" << Ids{3};
    }
    void search()
    {
        QFETCH(QString, query);
        QFETCH(Ids, expected);
        const Document d = doc("Name,Status,Note\nAlice,active,x\nBob,pending,y\nCarol,inactive,a b\n\xC3\xA9mile,pending,z\n"
                               "\xE2\x84\xAA" "elvin,\xC3\xBC,w");
        QCOMPARE(shown(d, query), expected);
    }

    void searchFindsHiddenColumnsToo()
    {
        // The table hides columns; the search looks at every cell all the same.
        const Document d = doc("a,b\n1,secret\n2,open");
        QCOMPARE(shown(d, QStringLiteral("secret")), (Ids{0}));
    }

    void filters_data()
    {
        QTest::addColumn<Filters>("filters");
        QTest::addColumn<Ids>("expected");
        QTest::newRow("empty filter ignored") << Filters{{0, ""}} << Ids{0, 1, 2, 3};
        QTest::newRow("case-insensitive") << Filters{{1, "ACT"}} << Ids{0, 2};
        QTest::newRow("a single space is a filter, untrimmed") << Filters{{2, " "}} << Ids{2};
        QTest::newRow("two filters: both must hold") << Filters{{1, "act"}, {0, "c"}} << Ids{0, 2};
        QTest::newRow("two filters, one fails") << Filters{{1, "inact"}, {0, "a"}} << Ids{2};
        QTest::newRow("column beyond the cells removes every row") << Filters{{7, "x"}} << Ids{};
        QTest::newRow("non-ASCII filter") << Filters{{0, QString::fromUtf8("\xC3\x89")}} << Ids{3};
        QTest::newRow("decomposed filter") << Filters{{0, QString::fromUtf8("E\xCC\x81")}} << Ids{3};
        QTest::newRow("filter on another column than the text") << Filters{{0, "pending"}} << Ids{};
        QTest::newRow("a long s folds to s") << Filters{{2, "s"}} << Ids{3};
    }
    void filters()
    {
        QFETCH(Filters, filters);
        QFETCH(Ids, expected);
        const Document d = doc("Name,Status,Note\nAlice,active,x\nBob,pending,y\nCarol,inactive,a b\n\xC3\xA9mile,pending,\xC5\xBF");
        QCOMPARE(shown(d, QString(), filters), expected);
    }

    void searchAndFiltersTogether()
    {
        const Document d = doc("Name,Status\nAlice,active\nBob,pending\nCarl,pending");
        QCOMPARE(shown(d, QStringLiteral("c"), Filters{{1, "pend"}}), (Ids{2}));
    }

    void sorting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Keys>("keys");
        QTest::addColumn<QStringList>("expected"); // first column of the shown rows
        QTest::newRow("numbers by value") << "n\n10\n9\n-1\n2.5" << Keys{{0, true}} << QStringList{"-1", "2.5", "9", "10"};
        QTest::newRow("numbers descending") << "n\n10\n9\n-1" << Keys{{0, false}} << QStringList{"10", "9", "-1"};
        QTest::newRow("digit runs by value") << "t\nitem10\nitem2\nitem1" << Keys{{0, true}}
                                             << QStringList{"item1", "item2", "item10"};
        QTest::newRow("text ignores case first") << "t\nb\nA\na\nB" << Keys{{0, true}} << QStringList{"a", "A", "b", "B"};
        QTest::newRow("blanks first ascending in a numeric column")
            << "n,i\n3,a\n,b\n1,c\n ,d" << Keys{{0, true}} << QStringList{"", " ", "1", "3"};
        QTest::newRow("blanks last descending in a numeric column")
            << "n,i\n3,a\n,b\n1,c" << Keys{{0, false}} << QStringList{"3", "1", ""};
        QTest::newRow("nan is no number and sorts with the text")
            << "n\n2\nnan\n1\ninf\n-inf" << Keys{{0, true}} << QStringList{"nan", "-inf", "1", "2", "inf"};
        QTest::newRow("-0 and 0 are equal: order kept") << "n,i\n0,a\n-0,b\n0.0,c" << Keys{{0, false}}
                                                         << QStringList{"0", "-0", "0.0"};
        QTest::newRow("unknown column ignored") << "n\nb\na" << Keys{{5, true}} << QStringList{"b", "a"};
        QTest::newRow("accents after the plain letter") << QString::fromUtf8("t\n\xC3\xA9\nf\ne") << Keys{{0, true}}
                                                        << QStringList{"e", QString::fromUtf8("\xC3\xA9"), "f"};
    }
    void sorting()
    {
        QFETCH(QString, text);
        QFETCH(Keys, keys);
        QFETCH(QStringList, expected);
        const Document d = parseCSV(text, U',', true);
        QCOMPARE(firstCells(d, shown(d, QString(), {}, keys)), expected);
    }

    void stableInBothDirections()
    {
        const Document d = doc("k,id\nb,1\na,2\nb,3\na,4\nb,5");
        QCOMPARE(firstCells(d, shown(d, QString(), {}, {{0, true}}), 1), (QStringList{"2", "4", "1", "3", "5"}));
        QCOMPARE(firstCells(d, shown(d, QString(), {}, {{0, false}}), 1), (QStringList{"1", "3", "5", "2", "4"}));
    }

    void severalKeys()
    {
        const Document d = doc("g,n,id\nx,2,a\ny,1,b\nx,1,c\ny,2,d\nx,10,e");
        QCOMPARE(firstCells(d, shown(d, QString(), {}, {{0, true}, {1, false}}), 2),
                 (QStringList{"e", "a", "c", "d", "b"}));
        QCOMPARE(firstCells(d, shown(d, QString(), {}, {{1, true}, {0, false}}), 2),
                 (QStringList{"b", "c", "d", "a", "e"}));
    }

    void sortAfterSearchKeepsOnlyMatches()
    {
        const Document d = doc("n,t\n3,keep\n1,drop\n2,keep");
        QCOMPARE(firstCells(d, shown(d, QStringLiteral("keep"), {}, {{0, true}})), (QStringList{"2", "3"}));
    }

    // Random documents sorted side by side with a plain model: a stable sort by the rule of the
    // Parts, with the mended order for cells that are no number.
    void randomAgainstPlainModel()
    {
        QRandomGenerator rng(7);
        const QStringList pool{"", " ", "1", "01", "2", "10", "-3", "1e2", "x", "X", "item2", "item10", "nan",
                               "2.50", QString::fromUtf8("\xC3\xA9t\xC3\xA9"), "b", "B1", "0x10"};
        for (int round = 0; round < 40; ++round) {
            const int rows = 1 + rng.bounded(300);
            QString text = QStringLiteral("a,b\n");
            for (int r = 0; r < rows; ++r) {
                const bool numericOnly = round % 3 == 0;
                auto pick = [&] {
                    const QString v = pool[rng.bounded(pool.size())];
                    return numericOnly && (v == "x" || v == "X" || v.startsWith("item") || v == "b" || v == "B1"
                                           || v.startsWith(QChar(0xE9)))
                        ? QStringLiteral("5")
                        : v;
                };
                text += u'"' + pick() + QStringLiteral("\",\"") + pick() + QStringLiteral("\"\n");
            }
            const Document d = parseCSV(text, U',', true);
            const Keys keys{{0, rng.bounded(2) == 0}, {1, rng.bounded(2) == 0}};
            std::vector<qint32> expected(size_t(d.rowCount()));
            for (qint32 i = 0; i < qint32(expected.size()); ++i)
                expected[size_t(i)] = i;
            auto keyCompare = [&](const CSVSortDescriptor& k, qint32 a, qint32 b) {
                const QString ca = d.cell(a, k.columnID), cb = d.cell(b, k.columnID);
                if (d.columns()[k.columnID].isNumeric) {
                    auto num = [](const QString& s) -> std::optional<double> {
                        const auto v = doubleFromString(trimmedBlanks(s));
                        return v && !std::isnan(*v) ? v : std::nullopt;
                    };
                    const auto na = num(ca), nb = num(cb);
                    if (na && nb)
                        return (*na == *nb) ? 0 : (*na < *nb ? -1 : 1);
                    if (na || nb)
                        return na ? 1 : -1;
                }
                return compareText(ca, cb);
            };
            std::stable_sort(expected.begin(), expected.end(), [&](qint32 a, qint32 b) {
                for (const CSVSortDescriptor& k : keys) {
                    const int r = keyCompare(k, a, b);
                    if (r)
                        return k.ascending ? r < 0 : r > 0;
                }
                return false;
            });
            QCOMPARE(shown(d, QString(), {}, keys), expected);
        }
    }

    void largeSortUsesEveryRow()
    {
        QByteArray text = "n,t\n";
        QRandomGenerator rng(3);
        for (int i = 0; i < 200000; ++i)
            text += QByteArray::number(rng.bounded(1000)) + ",w" + QByteArray::number(rng.bounded(5000)) + "\n";
        const Document d = parseCSV(text, U',', true);
        for (const Keys& keys : {Keys{{0, true}}, Keys{{1, false}}}) {
            const Ids ids = shown(d, QString(), {}, keys);
            QCOMPARE(qsizetype(ids.size()), d.rowCount());
            for (size_t i = 1; i < ids.size(); ++i) {
                const qint64 col = keys.first().columnID;
                if (col == 0)
                    QVERIFY(d.cell(ids[i - 1], 0).toInt() <= d.cell(ids[i], 0).toInt());
                else
                    QVERIFY(compareText(d.cell(ids[i - 1], 1), d.cell(ids[i], 1)) >= 0);
            }
        }
    }

    // Many rows, long shared beginnings and repeated values, over several threads: ordered by
    // the text rule, and equal values keep their file order in both directions.
    void largeTextSortIsStable()
    {
        QByteArray text = "t\n";
        QRandomGenerator rng(5);
        for (int i = 0; i < 120000; ++i)
            text += "a-long-shared-beginning-" + QByteArray::number(rng.bounded(300)) + (rng.bounded(2) ? "x" : "X") + "\n";
        const Document d = parseCSV(text, U',', true);
        for (bool ascending : {true, false}) {
            const Ids ids = shown(d, QString(), {}, {{0, ascending}});
            QCOMPARE(qsizetype(ids.size()), d.rowCount());
            for (size_t i = 1; i < ids.size(); ++i) {
                const int r = compareText(d.cell(ids[i - 1], 0), d.cell(ids[i], 0));
                QVERIFY(ascending ? r <= 0 : r >= 0);
                if (r == 0)
                    QVERIFY(ids[i - 1] < ids[i]);
            }
        }
    }

    void cancelledWorkGivesNothing()
    {
        std::atomic_bool cancelled{true};
        QByteArray text = "a\n";
        for (int i = 0; i < 100000; ++i)
            text += "x\n";
        const Document d = parseCSV(text, U',', true);
        QVERIFY(!visibleRows(d, QStringLiteral("x"), {}, {}, &cancelled).has_value());
        QVERIFY(!visibleRows(d, QString(), {}, {{0, true}}, &cancelled).has_value());
    }

    void withoutADocumentNothingShows()
    {
        QVERIFY(shown(Document(), QStringLiteral("x")).empty());
        QVERIFY(shown(Document(), QString()).empty());
    }
};

QUORRIX_TEST_MAIN(CSVRefinementTest)
#include "CSVRefinementTest.moc"
