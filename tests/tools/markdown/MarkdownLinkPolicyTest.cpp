#include "tools/markdown/MarkdownLinkPolicy.h"

#include "support/QuorrixTestMain.h"

using MarkdownLinkPolicy::Decision;
using MarkdownLinkPolicy::MenuItem;
using MarkdownLinkPolicy::Navigation;

Q_DECLARE_METATYPE(Navigation)

class MarkdownLinkPolicyTest : public QObject {
    Q_OBJECT
private slots:
    void decide_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<Navigation>("navigation");
        QTest::addColumn<bool>("mainFrame");
        QTest::addColumn<QString>("folder"); // empty: no document folder
        QTest::addColumn<bool>("allow");
        QTest::addColumn<bool>("browser");
        const QString docs = QStringLiteral("/Users/user/Docs");
        QTest::newRow("own load without folder") << "quorrix-doc://document/" << Navigation::programLoad << true << "" << true << false;
        QTest::newRow("own load under the document base") << "quorrix-doc://document/Users/user/Docs/" << Navigation::programLoad << true << docs << true << false;
        QTest::newRow("load of the old address after a folder change") << "quorrix-doc://document/" << Navigation::programLoad << true << docs << false << false;
        QTest::newRow("redirect to another document address") << "quorrix-doc://document/Users/user/" << Navigation::programLoad << true << docs << false << false;
        QTest::newRow("about:blank") << "about:blank" << Navigation::programLoad << true << "" << false << false;
        QTest::newRow("own address in a sub-frame") << "quorrix-doc://document/" << Navigation::programLoad << false << "" << false << false;
        QTest::newRow("web page load") << "https://example.com/" << Navigation::programLoad << true << "" << false << false;
        QTest::newRow("https link") << "https://example.com/a" << Navigation::linkActivated << true << "" << false << true;
        QTest::newRow("http link") << "http://example.com/a" << Navigation::linkActivated << true << docs << false << true;
        QTest::newRow("scheme in capitals") << "HTTPS://example.com/" << Navigation::linkActivated << true << "" << false << true;
        QTest::newRow("link in a sub-frame") << "http://example.com/" << Navigation::linkActivated << false << "" << false << true;
        QTest::newRow("mailto link") << "mailto:a@example.com" << Navigation::linkActivated << true << "" << false << false;
        QTest::newRow("javascript link") << "javascript:alert(1)" << Navigation::linkActivated << true << "" << false << false;
        QTest::newRow("fragment of the page") << "quorrix-doc://document/#top" << Navigation::linkActivated << true << "" << false << false;
        QTest::newRow("relative link") << "quorrix-doc://document/Users/user/Docs/other.md" << Navigation::linkActivated << true << docs << false << false;
        QTest::newRow("file link") << "file:///etc/passwd" << Navigation::linkActivated << true << "" << false << false;
        QTest::newRow("form, back, reload") << "https://example.com/" << Navigation::other << true << "" << false << false;
        QTest::newRow("own address as other") << "quorrix-doc://document/" << Navigation::other << true << "" << false << false;
        QTest::newRow("no scheme") << "relative/path" << Navigation::linkActivated << true << "" << false << false;
        QTest::newRow("no url") << "" << Navigation::programLoad << true << "" << false << false;
    }
    void decide()
    {
        QFETCH(QString, url);
        QFETCH(Navigation, navigation);
        QFETCH(bool, mainFrame);
        QFETCH(QString, folder);
        QFETCH(bool, allow);
        QFETCH(bool, browser);
        const QUrl address = MarkdownLinkPolicy::pageAddress(folder.isEmpty() ? QUrl() : QUrl::fromLocalFile(folder));
        const Decision decision = MarkdownLinkPolicy::decide(QUrl(url), navigation, mainFrame, address);
        QCOMPARE(decision.allow, allow);
        QCOMPARE(decision.openInBrowser, browser);
    }

    void keptMenuItems_data()
    {
        QTest::addColumn<QStringList>("items"); // "-" a separator, "" no identifier
        QTest::addColumn<QList<int>>("kept");
        QTest::newRow("only reload") << QStringList{"reload"} << QList<int>{};
        QTest::newRow("separators around reload") << QStringList{"-", "reload", "-", "copy"} << QList<int>{3};
        QTest::newRow("inner separators stay") << QStringList{"back", "-", "reload", "-", "copy"} << QList<int>{0, 1, 3, 4};
        QTest::newRow("items without identifier stay") << QStringList{"", "copy"} << QList<int>{0, 1};
        QTest::newRow("trailing separators go") << QStringList{"copy", "-", "-"} << QList<int>{0};
        QTest::newRow("source view and saving go") << QStringList{"copy", "-", "viewSource", "savePage"} << QList<int>{0};
        QTest::newRow("empty") << QStringList{} << QList<int>{};
    }
    void keptMenuItems()
    {
        QFETCH(QStringList, items);
        QFETCH(QList<int>, kept);
        QList<MenuItem> menu;
        for (const QString& item : items) {
            if (item == "-")
                menu.append(MenuItem{std::nullopt, true});
            else if (item.isEmpty())
                menu.append(MenuItem{std::nullopt, false});
            else
                menu.append(MenuItem{item, false});
        }
        QCOMPARE(MarkdownLinkPolicy::keptMenuItems(menu), kept);
    }
};

QUORRIX_TEST_MAIN(MarkdownLinkPolicyTest)
#include "MarkdownLinkPolicyTest.moc"
