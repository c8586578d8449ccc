#include "support/QuorrixTestMain.h"
#include "formats/JSONSearch.h"

using namespace JSONSearch;

Q_DECLARE_METATYPE(JSONSearch::Scope)

namespace {
QString ranges(const MatchList& list)
{
    QStringList parts;
    for (const TextRange& r : list)
        parts << QStringLiteral("%1+%2").arg(r.location).arg(r.length);
    return parts.join(u' ');
}
} // namespace

class JSONSearchTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void matchesByScope_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("query");
        QTest::addColumn<Scope>("scope");
        QTest::addColumn<QString>("expected");
        const QString nameDoc = QStringLiteral("{\"name\": \"name\"}");
        QTest::newRow("empty query") << "abc" << "" << Scope::all << "";
        QTest::newRow("no trimming") << "a b" << " b" << Scope::all << "1+2";
        QTest::newRow("case and accents ignored") << QString::fromUtf8("x\xC3\x89y\xC3\xA9") << "e" << Scope::all << "1+1 3+1";
        QTest::newRow("accented query matches plain") << "Eve" << QString::fromUtf8("\xC3\xA9") << Scope::all << "0+1 2+1";
        QTest::newRow("combining mark belongs to the match") << QString::fromUtf8("ae\xCC\x81z") << "e" << Scope::all << "1+2";
        QTest::newRow("upper-case query") << "Hello HELLO" << "HELLO" << Scope::all << "0+5 6+5";
        QTest::newRow("never overlapping") << "aaaa" << "aa" << Scope::all << "0+2 2+2";
        QTest::newRow("name in all") << nameDoc << "name" << Scope::all << "2+4 10+4";
        QTest::newRow("name in keys") << nameDoc << "name" << Scope::keys << "2+4";
        QTest::newRow("name in values") << nameDoc << "name" << Scope::values << "10+4";
        QTest::newRow("key with a line feed before its colon") << "{\"k\"  \n : 1}" << "k" << Scope::keys << "2+1";
        QTest::newRow("string at the very end is a value") << "[\"k\"" << "k" << Scope::values << "2+1";
        QTest::newRow("tru in values") << "[true]" << "tru" << Scope::values << "1+3";
        QTest::newRow("truth is not a value") << "truth" << "tru" << Scope::values << "";
        QTest::newRow("truth found in all") << "truth" << "tru" << Scope::all << "0+3";
        QTest::newRow("number is one value token") << "[-1.5e+3]" << "5e" << Scope::values << "4+2";
        QTest::newRow("straddling match dropped") << "{\"a\":1}" << "a\":1" << Scope::keys << "";
        QTest::newRow("straddling match dropped in values") << "{\"a\":1}" << "a\":1" << Scope::values << "";
        QTest::newRow("straddling kept in all") << "{\"a\":1}" << "a\":1" << Scope::all << "2+4";
        QTest::newRow("unterminated string stops at line end")
            << "[\"ab\n\"x\": 1]" << "x" << Scope::keys << "6+1";
        QTest::newRow("escaped quote stays inside") << "{\"a\\\"b\": 1}" << "b" << Scope::keys << "5+1";
        QTest::newRow("keys of nested objects") << "{\"a\":{\"ab\":\"ab\"}}" << "ab" << Scope::keys << "7+2";
        QTest::newRow("lone surrogate in text") << QString("a") + QChar(0xD800) + "a" << "a" << Scope::all << "0+1 2+1";
        QTest::newRow("astral characters") << QString::fromUtf8("\xF0\x9F\x98\x80x\xF0\x9F\x98\x80") << "x" << Scope::all
                                           << "2+1";
    }
    void matchesByScope()
    {
        QFETCH(QString, text);
        QFETCH(QString, query);
        QFETCH(Scope, scope);
        QFETCH(QString, expected);
        QCOMPARE(ranges(matches(query, text, scope)), expected);
    }

    void navigation_data()
    {
        QTest::addColumn<int>("selectionLocation");
        QTest::addColumn<int>("selectionLength");
        QTest::addColumn<bool>("forward");
        QTest::addColumn<int>("expected");
        QTest::newRow("next wraps") << 22 << 0 << true << 10;
        QTest::newRow("previous wraps") << 5 << 0 << false << 20;
        QTest::newRow("next from the first match") << 10 << 2 << true << 20;
        QTest::newRow("next from inside a gap") << 13 << 0 << true << 20;
        QTest::newRow("previous from the second match") << 20 << 2 << false << 10;
        QTest::newRow("previous right after a match") << 12 << 0 << false << 10;
    }
    void navigation()
    {
        QFETCH(int, selectionLocation);
        QFETCH(int, selectionLength);
        QFETCH(bool, forward);
        QFETCH(int, expected);
        const MatchList list{{10, 2}, {20, 2}};
        const auto t = target({selectionLocation, selectionLength}, list, forward);
        QVERIFY(t);
        QCOMPARE(t->location, qsizetype(expected));
        QVERIFY(!target({0, 0}, {}, true));
    }

    void status_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("currentLocation");
        QTest::addColumn<int>("currentLength");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << 0 << 0 << 0 << "No matches";
        QTest::newRow("one, selected") << 1 << 0 << 1 << "1 of 1 match";
        QTest::newRow("one, selection shorter") << 1 << 0 << 0 << "1 match";
        QTest::newRow("twelve, third selected") << 12 << 20 << 1 << "3 of 12 matches";
        QTest::newRow("twelve, none selected") << 12 << 21 << 1 << "12 matches";
        QTest::newRow("grouping") << 1234 << 12330 << 1 << "1,234 of 1,234 matches";
    }
    void status()
    {
        QFETCH(int, count);
        QFETCH(int, currentLocation);
        QFETCH(int, currentLength);
        QFETCH(QString, expected);
        MatchList list;
        for (int i = 0; i < count; ++i)
            list.append({i * 10, 1});
        QCOMPARE(statusText(list, {currentLocation, currentLength}), expected);
    }

    void counterFollowsRealSearch()
    {
        const QString text = QStringLiteral("{\"id\": 1, \"ids\": [\"id\"], \"x\": \"Id\"}");
        const MatchList list = matches(QStringLiteral("id"), text, Scope::all);
        QCOMPARE(list.size(), 4);
        QCOMPARE(statusText(list, list[1]), QStringLiteral("2 of 4 matches"));
        QCOMPARE(statusText(matches(QStringLiteral("id"), text, Scope::keys), list[1]), QStringLiteral("2 of 2 matches"));
        QCOMPARE(statusText(matches(QStringLiteral("id"), text, Scope::values), list[2]), QStringLiteral("1 of 2 matches"));
        QCOMPARE(*index(list[3], list), 3);
        QVERIFY(!index({list[3].location, 1}, list));
    }

    void segments_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("textLength");
        QTest::addColumn<bool>("isMatch");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("location");
        QTest::addColumn<int>("length");
        QTest::newRow("before the first") << 3 << 30 << false << -1 << 0 << 10;
        QTest::newRow("inside the first") << 11 << 30 << true << 0 << 10 << 2;
        QTest::newRow("between") << 12 << 30 << false << -1 << 12 << 8;
        QTest::newRow("inside the second") << 20 << 30 << true << 1 << 20 << 2;
        QTest::newRow("after the last") << 25 << 30 << false << -1 << 22 << 8;
        QTest::newRow("after the last, short text") << 25 << 5 << false << -1 << 22 << 0;
    }
    void segments()
    {
        QFETCH(int, position);
        QFETCH(int, textLength);
        QFETCH(bool, isMatch);
        QFETCH(int, index);
        QFETCH(int, location);
        QFETCH(int, length);
        const Segment s = segment(position, {{10, 2}, {20, 2}}, textLength);
        QCOMPARE(s.isMatch, isMatch);
        QCOMPARE(s.index, qsizetype(index));
        QCOMPARE(s.range, (TextRange{location, length}));
        QCOMPARE(segment(4, {}, 9).range, (TextRange{0, 9}));
        QCOMPARE(segment(4, {}, -3).range, (TextRange{0, 0}));
    }

    void scopes()
    {
        QCOMPARE(rawValue(Scope::keys), QStringLiteral("keys"));
        QCOMPARE(scopeFromRawValue(QStringLiteral("values")), std::optional<Scope>(Scope::values));
        QVERIFY(!scopeFromRawValue(QStringLiteral("Keys")));
        QCOMPARE(std::size(allScopes), size_t(3));
    }
};

QUORRIX_TEST_MAIN(JSONSearchTest)
#include "JSONSearchTest.moc"
