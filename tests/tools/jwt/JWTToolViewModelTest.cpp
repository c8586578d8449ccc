#include "support/QuorrixTestMain.h"
#include "kit/DynamicColor.h"
#include "kit/StatusColor.h"
#include "tools/jwt/JWTToolViewModel.h"

#include <QSignalSpy>

using JWTVerifier::Outcome;

namespace {

QString b64u(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString token(const QByteArray& header, const QByteArray& payload = "{}", const QByteArray& signature = "sig")
{
    return b64u(header) + u'.' + b64u(payload) + u'.' + b64u(signature);
}

// Runs the pending work to its end, turning the event loop without a clock.
void settle(JWTToolViewModel& model)
{
    QTRY_VERIFY_WITH_TIMEOUT(!model.isRunPending(), 10000);
}

std::optional<QString> badgeText(const std::optional<PaneBadge>& badge)
{
    return badge ? std::optional<QString>(badge->text()) : std::nullopt;
}

} // namespace

class JWTToolViewModelTest : public QObject {
    Q_OBJECT
private slots:
    void startsWithTheSampleAndRunsWhenShown()
    {
        JWTToolViewModel model(nullptr, 0);
        QCOMPARE(model.token(), JWTToolViewModel::sampleToken());
        QCOMPARE(model.token().size(), 179);
        QVERIFY(!model.decoded() && !model.failure() && !model.verification());
        QVERIFY(!model.isRunPending());
        model.refreshIfNeeded();
        settle(model);
        QVERIFY(model.decoded());
        QCOMPARE(badgeText(model.decodeBadge()), std::optional<QString>("DECODED"));
        QCOMPARE(badgeText(model.verificationBadge()), std::optional<QString>("UNCHECKED"));
        QCOMPARE(model.verificationBadge()->tint(), DynamicColor::secondary());
        QCOMPARE(model.keyHint(), "Paste the shared secret to check this HS256 signature. The sample token's secret "
                                  "is marblecat.");
        QVERIFY(!model.showsVerdict());
        // Shown again with nothing changed: nothing new is scheduled.
        model.refreshIfNeeded();
        QVERIFY(!model.isRunPending());
        model.setKey(QStringLiteral("marblecat"));
        settle(model);
        QCOMPARE(*model.verification(), Outcome::verified("HMAC secret, 9 bytes"));
        QCOMPARE(badgeText(model.verificationBadge()), std::optional<QString>("VERIFIED"));
        QCOMPARE(model.verdict(), "The signature matches this key.");
        QVERIFY(model.showsVerdict());
        model.setKey(QStringLiteral("marblecats"));
        settle(model);
        QCOMPARE(badgeText(model.verificationBadge()), std::optional<QString>("INVALID"));
        QCOMPARE(model.verificationBadge()->tint(), StatusColor::red());
    }

    void quietTimeCoalescesTyping()
    {
        JWTToolViewModel model(nullptr, 0);
        QSignalSpy results(&model, &JWTToolViewModel::resultsChanged);
        model.setToken(QStringLiteral("a"));
        model.setToken(QStringLiteral("a."));
        model.setToken(QStringLiteral("a.b"));
        settle(model);
        QCOMPARE(results.count(), 1);
        QCOMPARE(*model.failure(), JWTDecoder::Failure::segments(2));
    }

    void supersededRunsAreDropped()
    {
        JWTToolViewModel model(nullptr, 0);
        QSignalSpy results(&model, &JWTToolViewModel::resultsChanged);
        // A large token starts, and a small one replaces it before anything is published.
        model.setToken(token(R"({"alg":"HS256"})", "{\"a\":\"" + QByteArray(2'000'000, 'x') + "\"}"));
        QCoreApplication::processEvents();
        model.setToken(QStringLiteral("x.y"));
        // Settled means the superseded run has come back too, and was dropped.
        settle(model);
        QCOMPARE(results.count(), 1);
        QCOMPARE(*model.failure(), JWTDecoder::Failure::segments(2));
        QVERIFY(!model.decoded());
    }

    void sameTextSchedulesNothing()
    {
        JWTToolViewModel model(nullptr, 0);
        model.refreshIfNeeded();
        settle(model);
        QSignalSpy tokenSpy(&model, &JWTToolViewModel::tokenChanged);
        model.setToken(JWTToolViewModel::sampleToken());
        QVERIFY(!model.isRunPending());
        QCOMPARE(tokenSpy.count(), 0);
        // The generation moved on, so the next showing runs once more.
        model.refreshIfNeeded();
        QVERIFY(model.isRunPending());
        settle(model);
    }

    void base64SwitchRunsThroughRefresh()
    {
        JWTToolViewModel model(nullptr, 0);
        model.setKey(QString::fromLatin1(QByteArray("marblecat").toBase64()));
        settle(model);
        QCOMPARE(model.verification()->kind, Outcome::Kind::mismatch);
        model.setSecretIsBase64(true);
        QVERIFY(!model.isRunPending());
        model.refreshIfNeeded();
        settle(model);
        QCOMPARE(*model.verification(), Outcome::verified("HMAC secret, 9 bytes"));
    }

    void badges_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("decodeBadge");
        QTest::addColumn<QString>("signatureBadge");
        QTest::addColumn<QString>("algorithmBadge");
        QTest::addColumn<bool>("showsVerdict");
        QTest::addColumn<QString>("verdict");
        const QString none = QStringLiteral("(none)");
        QTest::newRow("empty token") << "" << "" << none << none << none << false
                                     << "Paste the key to check the signature.";
        QTest::newRow("two segments") << "a.b" << "k" << "MALFORMED" << none << none << true
                                      << "Paste the key to check the signature.";
        QTest::newRow("encrypted") << b64u(R"({"alg":"dir","enc":"A128GCM"})") + "..aXY.Y3Q.dGFn" << ""
                                   << "ENCRYPTED" << none << "dir" << true
                                   << "An encrypted token has no signature to check.";
        QTest::newRow("alg NONE") << token(R"({"alg":"NONE"})", "{}", "") << "" << "DECODED" << "UNSIGNED"
                                  << "UNSIGNED" << true
                                  << "The header's alg is none: there is no signature, so anyone could have written this "
                                     "token.";
        QTest::newRow("unsupported") << token(R"({"alg":"ES256K"})") << "" << "DECODED" << "UNSUPPORTED" << "ES256K"
                                     << true
                                     << "ES256K is not a signature this tool can check. It checks HS, RS, PS and ES "
                                        "with SHA-256, SHA-384 or SHA-512, and EdDSA on Ed25519.";
        QTest::newRow("missing alg") << token(R"({"typ":"JWT"})") << "" << "DECODED" << "UNSUPPORTED" << "NO ALG" << true
                                     << "A missing alg is not a signature this tool can check. It checks HS, RS, PS and "
                                        "ES with SHA-256, SHA-384 or SHA-512, and EdDSA on Ed25519.";
        QTest::newRow("RS256 without key") << token(R"({"alg":"RS256"})") << "" << "DECODED" << "UNCHECKED" << "RS256"
                                           << false
                                           << "Paste the public key to check this RS256 signature: a PEM, a "
                                              "certificate, a JWK, or a JWK set.";
        QTest::newRow("RS256 with a blank key") << token(R"({"alg":"RS256"})") << " " << "DECODED" << "UNCHECKED"
                                                << "RS256" << true
                                                << "Paste the public key to check this RS256 signature: a PEM, a "
                                                   "certificate, a JWK, or a JWK set.";
        QTest::newRow("RS256 with a secret") << token(R"({"alg":"RS256"})") << "secret" << "DECODED" << "BAD KEY"
                                             << "RS256" << true
                                             << "RS256 is checked with a public key: a PEM, a certificate, a JWK or a "
                                                "JWK set.";
        QTest::newRow("HS512 changed sample loses the sample sentence")
            << token(R"({"alg":"HS512"})") << "" << "DECODED" << "UNCHECKED" << "HS512" << false
            << "Paste the shared secret to check this HS512 signature.";
    }
    void badges()
    {
        QFETCH(QString, text);
        QFETCH(QString, key);
        QFETCH(QString, decodeBadge);
        QFETCH(QString, signatureBadge);
        QFETCH(QString, algorithmBadge);
        QFETCH(bool, showsVerdict);
        QFETCH(QString, verdict);
        JWTToolViewModel model(nullptr, 0);
        model.setToken(text);
        model.setKey(key);
        settle(model);
        const QString none = QStringLiteral("(none)");
        QCOMPARE(badgeText(model.decodeBadge()).value_or(none), decodeBadge);
        QCOMPARE(badgeText(model.verificationBadge()).value_or(none), signatureBadge);
        QCOMPARE(model.decoded() ? JWTToolViewModel::algorithmBadge(*model.decoded()).text() : none, algorithmBadge);
        QCOMPARE(model.showsVerdict(), showsVerdict);
        QCOMPARE(model.verdict(), verdict);
        QVERIFY(!model.decoded() || !model.failure());
        QVERIFY(!model.verification() || model.decoded());
    }

    void timeBadges_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<double>("now");
        QTest::addColumn<QString>("badge");
        QTest::newRow("array: none") << QByteArray("[1]") << 100.0 << "(none)";
        QTest::newRow("text: none") << QByteArray("hi") << 100.0 << "(none)";
        QTest::newRow("no exp") << QByteArray("{}") << 100.0 << "NO EXPIRY";
        QTest::newRow("expired") << QByteArray(R"({"exp":50})") << 100.0 << "EXPIRED";
        QTest::newRow("not expired") << QByteArray(R"({"exp":500})") << 100.0 << "NOT EXPIRED";
        QTest::newRow("not yet valid") << QByteArray(R"({"exp":500,"nbf":200})") << 100.0 << "NOT YET VALID";
        QTest::newRow("bad time claim") << QByteArray(R"({"exp":"500"})") << 100.0 << "BAD TIME CLAIM";
    }
    void timeBadges()
    {
        QFETCH(QByteArray, payload);
        QFETCH(double, now);
        QFETCH(QString, badge);
        const JWTDecoder::Result r = JWTDecoder::decode(token(R"({"alg":"HS256"})", payload));
        const auto shown = JWTToolViewModel::timeBadge(std::get<JWTDecoder::Decoded>(r), now);
        QCOMPARE(badgeText(shown).value_or(QStringLiteral("(none)")), badge);
        if (badge == u"EXPIRED")
            QCOMPARE(shown->tint(), StatusColor::red());
    }

    void failureClearsTheResults()
    {
        JWTToolViewModel model(nullptr, 0);
        model.setKey(QStringLiteral("marblecat"));
        settle(model);
        QVERIFY(model.decoded() && model.verification());
        model.setToken(QString());
        settle(model);
        QCOMPARE(*model.failure(), JWTDecoder::Failure::emptyToken());
        QVERIFY(!model.decoded() && !model.verification());
        QVERIFY(!model.decodeBadge() && !model.verificationBadge());
        QCOMPARE(model.tokenByteCount(), 0);
    }

    void tokenBytesCountUTF8()
    {
        JWTToolViewModel model(nullptr, 0);
        model.setToken(QString::fromUtf8("é.ü"));
        QCOMPARE(model.tokenByteCount(), 5);
        settle(model);
    }
};

QUORRIX_TEST_MAIN(JWTToolViewModelTest)
#include "JWTToolViewModelTest.moc"
