#include "support/QuorrixTestMain.h"
#include "tools/mermaid/MermaidPageProtocol.h"
#include "tools/mermaid/MermaidTheme.h"
#include "tools/mermaid/MermaidViewportController.h"

#include <QSignalSpy>

#include <cmath>
#include <limits>

using namespace MermaidPageProtocol;


namespace {

// 0 to 255 three times over: every byte value at every place in a group of three.
QByteArray allBytes()
{
    QByteArray bytes;
    for (int i = 0; i < 768; ++i)
        bytes += char(i & 0xFF);
    return bytes;
}

QVariantMap map(std::initializer_list<std::pair<QString, QVariant>> entries)
{
    QVariantMap m;
    for (const auto& [k, v] : entries)
        m.insert(k, v);
    return m;
}
} // namespace

class MermaidPageProtocolTest : public QObject {
    Q_OBJECT
private slots:
    void boot()
    {
        QVERIFY(bootReady(true));
        QVERIFY(!bootReady(false));
        QVERIFY(!bootReady(1));
        QVERIFY(!bootReady(QStringLiteral("true")));
        QVERIFY(!bootReady(QVariant()));
    }

    // Rows of (name, call answered, answer, expected outcome).
    void render()
    {
        using O = std::optional<Outcome>;
        struct Row {
            const char* name;
            bool ok;
            QVariant answer;
            O expected;
        };
        const Row rows[] = {
            {"ok with bytes", true, map({{"ok", true}, {"svgBytes", 1234.0}}), Rendered{1234}},
            {"ok without bytes", true, map({{"ok", true}}), Rendered{0}},
            {"ok with fractional bytes", true, map({{"ok", true}, {"svgBytes", 1.5}}), Rendered{0}},
            {"ok with ignored settings", true,
             map({{"ok", true}, {"svgBytes", 9.0}, {"ignored", QVariantList{"themeCSS", 3, "", "primaryColor"}}}),
             Rendered{9, {"themeCSS", "primaryColor"}}},
            {"ignored settings not a list", true, map({{"ok", true}, {"ignored", "themeCSS"}}), Rendered{0}},
            {"failed, nothing else", true, map({{"ok", false}}), Failed{unknownErrorMessage, {}}},
            {"failed with message and line", true, map({{"ok", false}, {"message", "Parse error"}, {"line", 3.0}}),
             Failed{"Parse error", 3}},
            {"ok not a Boolean", true, map({{"ok", 1}, {"message", "m"}}), Failed{"m", {}}},
            {"line not a number", true, map({{"ok", false}, {"message", "m"}, {"line", "3"}}), Failed{"m", {}}},
            {"bare text", true, QVariant("svg"), Failed{noResultMessage, {}}},
            {"nothing", true, QVariant(), Failed{noResultMessage, {}}},
            {"call failed", false, QVariant("boom"), Failed{"boom", {}}},
            {"call failed silently", false, QVariant(), Failed{unknownErrorMessage, {}}},
            {"superseded", true, map({{"ok", false}, {"superseded", true}}), O()},
        };
        for (const Row& row : rows) {
            if (renderOutcome(row.ok, row.answer) != row.expected)
                QFAIL(row.name);
        }
    }

    void png_data()
    {
        QTest::addColumn<QVariant>("answer");
        QTest::addColumn<QByteArray>("expected"); // empty: nothing
        QTest::newRow("good") << QVariant(pngPrefix + "iVBORw0KGgo=") << QByteArray::fromHex("89504e470d0a1a0a");
        QTest::newRow("no padding needed") << QVariant(pngPrefix + "QUJD") << QByteArray("ABC");
        QTest::newRow("one padding character") << QVariant(pngPrefix + "QUJDQUI=") << QByteArray("ABCAB");
        QTest::newRow("two padding characters") << QVariant(pngPrefix + "QUJDQQ==") << QByteArray("ABCA");
        QTest::newRow("every byte value")
            << QVariant(pngPrefix + QString::fromLatin1(allBytes().toBase64())) << allBytes();
        QTest::newRow("three padding characters") << QVariant(pngPrefix + "QUJDQ===") << QByteArray();
        QTest::newRow("padding alone") << QVariant(pngPrefix + "====") << QByteArray();
        QTest::newRow("URL-safe digits") << QVariant(pngPrefix + "ab-_") << QByteArray();
        QTest::newRow("letter beyond ASCII") << QVariant(pngPrefix + QStringLiteral("QUJ\u00C4")) << QByteArray();
        QTest::newRow("character whose low byte is a digit") << QVariant(pngPrefix + QStringLiteral("QUJ\u0144"))
                                                             << QByteArray();
        QTest::newRow("wrong prefix") << QVariant(QStringLiteral("data:image/jpeg;base64,QUJD")) << QByteArray();
        QTest::newRow("line break inside") << QVariant(pngPrefix + "QU\nJD") << QByteArray();
        QTest::newRow("blank inside") << QVariant(pngPrefix + "QU JD") << QByteArray();
        QTest::newRow("bad length") << QVariant(pngPrefix + "QUJ") << QByteArray();
        QTest::newRow("not text") << QVariant(12) << QByteArray();
        QTest::newRow("padding in the middle") << QVariant(pngPrefix + "QU=DQUJD") << QByteArray();
    }
    void png()
    {
        QFETCH(QVariant, answer);
        QFETCH(QByteArray, expected);
        const std::optional<QByteArray> bytes = pngBytes(true, answer);
        if (expected.isEmpty())
            QVERIFY(!bytes);
        else
            QCOMPARE(bytes, std::optional<QByteArray>(expected));
        QVERIFY(!pngBytes(false, answer));
    }

    void svg()
    {
        QCOMPARE(svgText(true, QStringLiteral("<svg/>")), std::optional<QString>("<svg/>"));
        QVERIFY(!svgText(true, 3));
        QVERIFY(!svgText(false, QStringLiteral("<svg/>")));
    }

    void viewState()
    {
        QCOMPARE(viewStateScale(1.25), std::optional<double>(1.25));
        QCOMPARE(viewStateScale(2), std::optional<double>(2));
        QVERIFY(!viewStateScale(std::numeric_limits<double>::quiet_NaN()));
        QVERIFY(!viewStateScale(std::numeric_limits<double>::infinity()));
        QVERIFY(!viewStateScale(QStringLiteral("1.0")));
        QVERIFY(!viewStateScale(QVariant()));
    }

    void shellPage_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<bool>("expected");
        QTest::newRow("itself") << QUrl("qrc:/mermaid/mermaid-shell.html") << true;
        QTest::newRow("dotted path") << QUrl("qrc:/mermaid/./x/../mermaid-shell.html") << true;
        QTest::newRow("fragment") << QUrl("qrc:/mermaid/mermaid-shell.html#a") << false;
        QTest::newRow("query") << QUrl("qrc:/mermaid/mermaid-shell.html?x=1") << false;
        QTest::newRow("host") << QUrl("qrc://h/mermaid/mermaid-shell.html") << false;
        QTest::newRow("other file") << QUrl("qrc:/mermaid/shell.js") << false;
        QTest::newRow("file scheme") << QUrl("file:///mermaid/mermaid-shell.html") << false;
        QTest::newRow("web") << QUrl("https://example.com/mermaid/mermaid-shell.html") << false;
        QTest::newRow("empty") << QUrl() << false;
    }
    void shellPage()
    {
        QFETCH(QUrl, url);
        QFETCH(bool, expected);
        QCOMPARE(isShellPage(url, QUrl("qrc:/mermaid/mermaid-shell.html")), expected);
    }

    void navigation_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("mainFrame");
        QTest::addColumn<bool>("allow");
        QTest::addColumn<bool>("browser");
        const QUrl shell("qrc:/mermaid/mermaid-shell.html");
        const int link = int(Navigation::linkActivated), other = int(Navigation::other), reload = int(Navigation::reload),
                  typed = int(Navigation::typed), form = int(Navigation::formSubmitted),
                  back = int(Navigation::backForward);
        QTest::newRow("https link") << QUrl("https://example.com/") << link << true << false << true;
        QTest::newRow("HTTP link, upper case") << QUrl("HTTP://example.com/") << link << true << false << true;
        QTest::newRow("link in a sub-frame") << QUrl("http://example.com/") << link << false << false << true;
        QTest::newRow("mailto link") << QUrl("mailto:a@b.c") << link << true << false << false;
        QTest::newRow("javascript link") << QUrl("javascript:alert(1)") << link << true << false << false;
        QTest::newRow("file link") << QUrl("file:///etc/passwd") << link << true << false << false;
        QTest::newRow("anchor on the page") << QUrl("qrc:/mermaid/mermaid-shell.html#x") << link << true << false << false;
        QTest::newRow("first load") << shell << typed << true << true << false;
        QTest::newRow("load, other") << shell << other << true << true << false;
        QTest::newRow("reload") << shell << reload << true << true << false;
        QTest::newRow("page in a sub-frame") << shell << other << false << false << false;
        QTest::newRow("script moves away") << QUrl("https://example.com/") << other << true << false << false;
        QTest::newRow("form") << shell << form << true << false << false;
        QTest::newRow("back") << shell << back << true << false << false;
        QTest::newRow("no scheme") << QUrl("mermaid-shell.html") << other << true << false << false;
    }
    void navigation()
    {
        QFETCH(QUrl, url);
        QFETCH(int, kind);
        QFETCH(bool, mainFrame);
        QFETCH(bool, allow);
        QFETCH(bool, browser);
        const Decision d = decide(url, Navigation(kind), mainFrame, QUrl("qrc:/mermaid/mermaid-shell.html"));
        QCOMPARE(d.allow, allow);
        QCOMPARE(d.openInBrowser, browser);
    }

    void zoomLabel_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<QString>("label");
        QTest::newRow("100") << 1.0 << "100%";
        QTest::newRow("125") << 1.25 << "125%";
        QTest::newRow("80") << 0.8 << "80%";
        QTest::newRow("half rounds away from zero") << 0.125 << "13%";
        QTest::newRow("tiny") << 0.001 << "0%";
        QTest::newRow("huge") << 1e300 << "—";
    }
    void zoomLabel()
    {
        QFETCH(double, scale);
        QFETCH(QString, label);
        QCOMPARE(MermaidViewportController::zoomLabel(scale), label);
    }

    void viewportScale()
    {
        MermaidViewportController viewport;
        QSignalSpy spy(&viewport, &MermaidViewportController::scaleChanged);
        viewport.setScale(1.0);
        QCOMPARE(spy.count(), 0);
        viewport.setScale(1.25);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(viewport.zoomLabel(), QStringLiteral("125%"));
        viewport.setScale(std::numeric_limits<double>::quiet_NaN());
        viewport.setScale(std::numeric_limits<double>::infinity());
        QCOMPARE(spy.count(), 1);
        QCOMPARE(viewport.scale(), 1.25);
        MermaidViewportController::call(viewport.applyFit); // absent: nothing happens
    }

    void themes()
    {
        QStringList raws, labels;
        for (MermaidTheme t : MermaidThemes::all()) {
            raws << MermaidThemes::rawValue(t);
            labels << MermaidThemes::label(t);
            QCOMPARE(MermaidThemes::fromRawValue(MermaidThemes::rawValue(t)), std::optional<MermaidTheme>(t));
        }
        QCOMPARE(raws, (QStringList{"system", "standard", "dark", "forest", "neutral"}));
        QCOMPARE(labels, (QStringList{"Match System", "Default", "Dark", "Forest", "Neutral"}));
        QCOMPARE(MermaidThemes::fromRawValue("default"), std::nullopt);
        QCOMPARE(MermaidThemes::pageThemeName(MermaidTheme::system, true), QStringLiteral("dark"));
        QCOMPARE(MermaidThemes::pageThemeName(MermaidTheme::system, false), QStringLiteral("default"));
        QCOMPARE(MermaidThemes::pageThemeName(MermaidTheme::standard, true), QStringLiteral("default"));
        QCOMPARE(MermaidThemes::pageThemeName(MermaidTheme::forest, true), QStringLiteral("forest"));
    }
};

QUORRIX_TEST_MAIN(MermaidPageProtocolTest)
#include "MermaidPageProtocolTest.moc"
