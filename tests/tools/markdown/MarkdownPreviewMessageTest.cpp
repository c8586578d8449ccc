#include "tools/markdown/MarkdownPreviewMessage.h"

#include <QJsonDocument>
#include <QtTest>

namespace {

// Bodies are written as JSON and handed over as the page's values would arrive: maps, lists,
// doubles and booleans.
QVariant body(const char* json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test JSON: %s", json);
    return document.toVariant();
}

QVariant layoutWith(const QString& field, const QVariant& value)
{
    QVariantMap map = body(R"({"kind":"layout","tops":[[0,10,1,30]],"lineCount":3,"height":300,
                                "viewport":100,"scrollY":0,"userScroll":false})")
                          .toMap();
    if (value.isValid())
        map.insert(field, value);
    else
        map.remove(field);
    return map;
}

} // namespace

class MarkdownPreviewMessageTest : public QObject {
    Q_OBJECT
private slots:
    void rejected_data();
    void rejected();
    void scroll();
    void layout();
    void layoutRows();
    void rowsInRuns_data();
    void rowsInRuns();
    void layoutWithoutRows();
    void flatLayoutRows_data();
    void flatLayoutRows();
    void jsonValues();
    void readers();
};

void MarkdownPreviewMessageTest::rejected_data()
{
    QTest::addColumn<QVariant>("message");
    QTest::newRow("string") << QVariant("layout");
    QTest::newRow("array") << body("[1,2]");
    QTest::newRow("null") << QVariant::fromValue(nullptr);
    QTest::newRow("invalid") << QVariant();
    QTest::newRow("empty dictionary") << body("{}");
    QTest::newRow("no kind") << body(R"({"y":1,"user":true})");
    QTest::newRow("kind not a string") << body(R"({"kind":1,"y":1,"user":true})");
    QTest::newRow("kind other case") << layoutWith("kind", "Layout");
    QTest::newRow("unknown kind") << body(R"({"kind":"zoom"})");
    QTest::newRow("scroll user number") << body(R"({"kind":"scroll","y":120,"user":0})");
    QTest::newRow("scroll y boolean") << body(R"({"kind":"scroll","y":true,"user":false})");
    QTest::newRow("scroll y too large") << body(R"({"kind":"scroll","y":2e9,"user":false})");
    QTest::newRow("scroll y string") << body(R"({"kind":"scroll","y":"1","user":false})");
    QTest::newRow("scroll without user") << body(R"({"kind":"scroll","y":1})");
    QTest::newRow("line count zero") << layoutWith("lineCount", 0.0);
    QTest::newRow("line count fraction") << layoutWith("lineCount", 2.5);
    QTest::newRow("line count negative") << layoutWith("lineCount", -3.0);
    QTest::newRow("line count boolean") << layoutWith("lineCount", true);
    QTest::newRow("line count missing") << layoutWith("lineCount", QVariant());
    QTest::newRow("height negative") << layoutWith("height", -1.0);
    QTest::newRow("viewport negative") << layoutWith("viewport", -0.5);
    QTest::newRow("scrollY missing") << layoutWith("scrollY", QVariant());
    QTest::newRow("userScroll number") << layoutWith("userScroll", 1.0);
    QTest::newRow("tops an object") << layoutWith("tops", QVariantMap{{"a", 1}});
    QTest::newRow("tops missing") << layoutWith("tops", QVariant());
    QTest::newRow("height infinite") << layoutWith("height", std::numeric_limits<double>::infinity());
}

void MarkdownPreviewMessageTest::rejected()
{
    QFETCH(QVariant, message);
    QVERIFY(!MarkdownPreviewMessage::decode(message).has_value());
}

void MarkdownPreviewMessageTest::scroll()
{
    const auto message = MarkdownPreviewMessage::decode(body(R"({"kind":"scroll","y":120,"user":false,"extra":"x"})"));
    QVERIFY(message.has_value());
    QCOMPARE(*message, (MarkdownPreviewMessage{MarkdownPreviewMessage::Scroll{120, false}}));
    const auto negative = MarkdownPreviewMessage::decode(body(R"({"kind":"scroll","y":-4.5,"user":true})"));
    QVERIFY(negative.has_value());
    QCOMPARE(std::get<MarkdownPreviewMessage::Scroll>(negative->value).y, -4.5);
}

void MarkdownPreviewMessageTest::layout()
{
    const auto message = MarkdownPreviewMessage::decode(layoutWith("scrollY", -40.0));
    QVERIFY(message.has_value());
    const auto* layout = std::get_if<MarkdownPreviewMessage::Layout>(&message->value);
    QVERIFY(layout);
    QCOMPARE(layout->documentHeight, 300.0);
    QCOMPARE(layout->viewportHeight, 100.0);
    QCOMPARE(layout->scrollY, -40.0);
    QCOMPARE(layout->userScroll, false);
    const MarkdownLineMap::Block row{0, 10, MarkdownLineMap::Block::End{1, 30}};
    QCOMPARE(layout->map, MarkdownLineMap({row}, 3, 300));
    QVERIFY(MarkdownPreviewMessage::decode(layoutWith("lineCount", 1.0)).has_value());
}

void MarkdownPreviewMessageTest::layoutRows()
{
    const auto message = MarkdownPreviewMessage::decode(
        layoutWith("tops", body(R"([[0,10,1,30],"x",[1,"a",2,50],[2,true,3,60],[1,5,2],[2,60,3,80]])")));
    QVERIFY(message.has_value());
    const auto& layout = std::get<MarkdownPreviewMessage::Layout>(message->value);
    const MarkdownLineMap::Block first{0, 10, MarkdownLineMap::Block::End{1, 30}};
    const MarkdownLineMap::Block last{2, 60, MarkdownLineMap::Block::End{3, 80}};
    QCOMPARE(layout.map, MarkdownLineMap({first, last}, 3, 300));
}

void MarkdownPreviewMessageTest::flatLayoutRows_data()
{
    QTest::addColumn<QVariant>("tops");
    QTest::addColumn<bool>("decodes");
    QTest::newRow("as nested") << body(R"([[0,10,1,30],[2,60,3,80]])") << true;
    QTest::newRow("flat") << body("[0,10,1,30,2,60,3,80]") << true;
    QTest::newRow("flat, a bad row dropped") << body(R"([0,10,1,30,1,"a",2,50,2,60,3,80])") << true;
    QTest::newRow("flat, rows cut short") << body("[0,10,1,30,2,60,3]") << false;
    QTest::newRow("text") << QVariant(QStringLiteral("0,10,1,30,2,60,3,80")) << true;
    QTest::newRow("text with fractions and exponents") << QVariant(QStringLiteral("0,1e1,1,30.0,2,6e+1,3,80")) << true;
    QTest::newRow("text, a bad row dropped") << QVariant(QStringLiteral("0,10,1,30,1,x,2,50,2,60,3,80")) << true;
    QTest::newRow("text, an endless number drops its row") << QVariant(QStringLiteral("0,10,1,30,1,Infinity,2,50,2,60,3,80")) << true;
    QTest::newRow("text, rows cut short") << QVariant(QStringLiteral("0,10,1,30,2,60,3")) << false;
    QTest::newRow("text, no separator") << QVariant(QStringLiteral("0,10,1,30 2,60,3,80")) << false;
}

// Rows sent as one run of numbers, four to a row, make the same map as rows of their own.
void MarkdownPreviewMessageTest::flatLayoutRows()
{
    QFETCH(QVariant, tops);
    QFETCH(bool, decodes);
    const auto message = MarkdownPreviewMessage::decode(layoutWith("tops", tops));
    QCOMPARE(message.has_value(), decodes);
    if (!decodes)
        return;
    const MarkdownLineMap::Block first{0, 10, MarkdownLineMap::Block::End{1, 30}};
    const MarkdownLineMap::Block last{2, 60, MarkdownLineMap::Block::End{3, 80}};
    QCOMPARE(std::get<MarkdownPreviewMessage::Layout>(message->value).map, MarkdownLineMap({first, last}, 3, 300));
}

void MarkdownPreviewMessageTest::rowsInRuns_data()
{
    QTest::addColumn<QVariant>("runs");
    QTest::addColumn<bool>("decodes");
    QTest::newRow("two runs") << QVariant(QStringLiteral("1,5,0,1,50,1")) << true;
    QTest::newRow("an empty run") << QVariant(QStringLiteral("1,5,0,0,7,7,1,50,1")) << true;
    QTest::newRow("too few rows counted") << QVariant(QStringLiteral("1,5,0")) << false;
    QTest::newRow("too many rows counted") << QVariant(QStringLiteral("1,5,0,2,50,1")) << false;
    QTest::newRow("a count not whole") << QVariant(QStringLiteral("0.5,5,0,1.5,50,1")) << false;
    QTest::newRow("a run cut short") << QVariant(QStringLiteral("1,5,0,1,50")) << false;
    QTest::newRow("not text") << body("[1,5,0,1,50,1]") << false;
}

// Rows whose tops are relative to their run and whose lines owe the run's shift make the same
// map as rows sent whole.
void MarkdownPreviewMessageTest::rowsInRuns()
{
    QFETCH(QVariant, runs);
    QFETCH(bool, decodes);
    QVariantMap map = layoutWith("tops", QStringLiteral("0,5,1,25,1,10,2,30")).toMap();
    map.insert(QStringLiteral("runs"), runs);
    const auto message = MarkdownPreviewMessage::decode(map);
    QCOMPARE(message.has_value(), decodes);
    if (!decodes)
        return;
    const MarkdownLineMap::Block first{0, 10, MarkdownLineMap::Block::End{1, 30}};
    const MarkdownLineMap::Block last{2, 60, MarkdownLineMap::Block::End{3, 80}};
    QCOMPARE(std::get<MarkdownPreviewMessage::Layout>(message->value).map, MarkdownLineMap({first, last}, 3, 300));
}

void MarkdownPreviewMessageTest::layoutWithoutRows()
{
    QVERIFY(MarkdownPreviewMessage::decode(layoutWith("tops", QString())).has_value());
    const auto message = MarkdownPreviewMessage::decode(layoutWith("tops", QVariantList{}));
    QVERIFY(message.has_value());
    const QList<MarkdownLineMap::Anchor> anchors{{0, 0}, {3, 300}};
    QCOMPARE(std::get<MarkdownPreviewMessage::Layout>(message->value).map.anchors(), anchors);
}

void MarkdownPreviewMessageTest::jsonValues()
{
    const QJsonDocument document = QJsonDocument::fromJson(R"({"kind":"scroll","y":7,"user":true})");
    const auto message = MarkdownPreviewMessage::decode(QVariant::fromValue(document.object()));
    QVERIFY(message.has_value());
    QCOMPARE(*message, (MarkdownPreviewMessage{MarkdownPreviewMessage::Scroll{7, true}}));
    // Integers as the bridge may deliver them.
    const auto integers = MarkdownPreviewMessage::decode(QVariantMap{{"kind", "scroll"}, {"y", qlonglong(3)}, {"user", false}});
    QVERIFY(integers.has_value());
}

void MarkdownPreviewMessageTest::readers()
{
    QCOMPARE(previewNumber(QVariant(5.5)), std::optional<double>(5.5));
    QCOMPARE(previewNumber(QVariant(1e9)), std::optional<double>(1e9));
    QVERIFY(!previewNumber(QVariant(-1e9 - 1)));
    QVERIFY(!previewNumber(QVariant(true)));
    QVERIFY(!previewNumber(QVariant()));
    QVERIFY(!previewNumber(QVariant("3")));
    QCOMPARE(previewBool(QVariant(true)), std::optional<bool>(true));
    QVERIFY(!previewBool(QVariant(1)));
    QVERIFY(!previewBool(QVariant()));
    const auto pair = previewNumberPair(body("[12, -3]"));
    QVERIFY(pair.has_value());
    QCOMPARE(pair->first, 12.0);
    QCOMPARE(pair->second, -3.0);
    QVERIFY(!previewNumberPair(body("[1]")));
    QVERIFY(!previewNumberPair(body("[1,2,3]")));
    QVERIFY(!previewNumberPair(body("[1,true]")));
    QVERIFY(!previewNumberPair(QVariant(1.0)));
}

QTEST_GUILESS_MAIN(MarkdownPreviewMessageTest)
#include "MarkdownPreviewMessageTest.moc"
