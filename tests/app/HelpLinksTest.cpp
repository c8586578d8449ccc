#include "app/HelpLinks.h"
#include "support/QuorrixTestMain.h"

#include <QUrlQuery>

class HelpLinksTest : public QObject {
    Q_OBJECT
private slots:
    void feedbackMail_data()
    {
        QTest::addColumn<std::optional<QString>>("version");
        QTest::addColumn<std::optional<QString>>("build");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        const QString system = QStringLiteral("Debian GNU/Linux 12 (bookworm)");
        QTest::newRow("both") << std::optional<QString>("1.4") << std::optional<QString>("57")
                              << "Quorrix 1.4 feedback" << "\n\n\nQuorrix 1.4 (57)\n" + system;
        QTest::newRow("no build") << std::optional<QString>("1.4") << std::optional<QString>()
                                  << "Quorrix 1.4 feedback" << "\n\n\nQuorrix 1.4 (unknown)\n" + system;
        QTest::newRow("nothing") << std::optional<QString>() << std::optional<QString>()
                                 << "Quorrix unknown feedback" << "\n\n\nQuorrix unknown (unknown)\n" + system;
        QTest::newRow("characters to encode") << std::optional<QString>("2.0 beta&1") << std::optional<QString>("7#")
                                              << "Quorrix 2.0 beta&1 feedback"
                                              << "\n\n\nQuorrix 2.0 beta&1 (7#)\n" + system;
    }
    void feedbackMail()
    {
        QFETCH(std::optional<QString>, version);
        QFETCH(std::optional<QString>, build);
        QFETCH(QString, subject);
        QFETCH(QString, body);
        const auto link = HelpLinks::feedbackMailLink({version, build}, "Debian GNU/Linux 12 (bookworm)");
        QVERIFY(link);
        QCOMPARE(link->scheme(), QString("mailto"));
        QCOMPARE(link->path(), HelpLinks::feedbackAddress);
        const QUrlQuery query(*link);
        const auto items = query.queryItems(QUrl::FullyDecoded);
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0].first, QString("subject"));
        QCOMPARE(items[1].first, QString("body"));
        QCOMPARE(QUrl::fromPercentEncoding(items[0].second.toUtf8()), subject);
        QCOMPARE(QUrl::fromPercentEncoding(items[1].second.toUtf8()), body);
        // A mail program reads the encoded text: nothing that would split the query stays raw.
        const QString encoded = link->toString(QUrl::FullyEncoded);
        QVERIFY(!encoded.contains('\n'));
        QCOMPARE(encoded.count('&'), 1);
        QVERIFY(!encoded.contains('#'));
    }

    void fixedAddressesAreValid()
    {
        QVERIFY(HelpLinks::supportPage().isValid());
        QCOMPARE(HelpLinks::supportPage().path(), QString("/support"));
        QCOMPARE(QUrl(HelpLinks::privacyAddress).path(), QString("/privacy"));
        QVERIFY(HelpLinks::socialProfile().isValid());
        QVERIFY(QUrl(HelpLinks::donationAddress).isValid());
    }
};

QUORRIX_TEST_MAIN(HelpLinksTest)
#include "HelpLinksTest.moc"
