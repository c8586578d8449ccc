#include "support/BadgeText.h"
#include "support/QuorrixTestMain.h"
#include "kit/CodeTextBuffer.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/ContentUnavailableView.h"
#include "kit/ui/Metric.h"
#include "kit/ui/PaneButton.h"
#include "kit/ui/ToolPane.h"
#include "kit/ui/CodeEditor.h"
#include "tools/jwt/JWTToolViewModel.h"
#include "tools/jwt/ui/JWTPayloadPane.h"
#include "tools/jwt/ui/JWTTokenHighlighter.h"
#include "tools/jwt/ui/JWTTool.h"
#include "tools/jwt/ui/JWTToolView.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <QStackedWidget>
#include <QToolButton>

#include <ctime>

namespace {

QString b64u(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString token(const QByteArray& header, const QByteArray& payload = "{}", const QByteArray& signature = "sig")
{
    return b64u(header) + u'.' + b64u(payload) + u'.' + b64u(signature);
}

QString fixture(const QString& name)
{
    QFile file(qEnvironmentVariable("QUORRIX_SOURCE_DIR") + QStringLiteral("/tests/tools/jwt/fixtures/") + name);
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll());
}

std::optional<QString> badge(const ToolPane* pane)
{
    const auto b = pane->badge();
    return b ? std::optional<QString>(b->text()) : std::nullopt;
}

struct Fixture {
    JWTToolViewModel model{nullptr, 0};
    JWTToolView view{&model};
    Fixture()
    {
        view.resize(1000, 700);
        view.show();
        settle();
    }
    void settle() { QTRY_VERIFY_WITH_TIMEOUT(!model.isRunPending(), 10000); }
    // Saved for a look when a folder is given.
    void screenshot(const QString& name)
    {
        const QString dir = qEnvironmentVariable("QUORRIX_SCREENSHOT_DIR");
        if (dir.isEmpty())
            return;
        QDir().mkpath(dir);
        view.grab().save(dir + u'/' + name + QStringLiteral(".png"));
    }
};

} // namespace

class JWTToolViewTest : public QObject {
    Q_OBJECT
private slots:
    void toolRecord()
    {
        const JWTTool tool;
        QCOMPARE(tool.id(), "jwt");
        QCOMPARE(tool.name(), "JWT");
        QCOMPARE(tool.symbol(), "key.horizontal");
        QCOMPARE(tool.category(), ToolCategory::encoding);
        QVERIFY(!tool.acceptsFiles());
        QSettings settings;
        QObject parent;
        QObject* model = tool.makeViewModel(settings, &parent);
        QVERIFY(qobject_cast<JWTToolViewModel*>(model));
        std::unique_ptr<ToolView> view(tool.makeView(model));
        QCOMPARE(view->title(), "JWT");
        QCOMPARE(view->subtitle(), "Decoded on this computer");
    }

    void sampleVerifiedWithItsSecret()
    {
        Fixture f;
        QCOMPARE(f.view.resultSide()->currentWidget()->metaObject()->className(), "QSplitter");
        QCOMPARE(badge(f.view.tokenPane()), std::optional<QString>("DECODED"));
        QCOMPARE(badge(f.view.signaturePane()), std::optional<QString>("UNCHECKED"));
        QCOMPARE(badge(f.view.headerPane()), std::optional<QString>("HS256"));
        QCOMPARE(badge(f.view.payloadPane()), std::optional<QString>("NO EXPIRY"));
        QVERIFY(!f.view.verdictLabel()->isVisible());
        QVERIFY(f.view.base64Toggle()->isEnabled());
        QCOMPARE(f.view.partsMetric()->text(), "3 parts");
        QCOMPARE(f.view.signatureSizeMetric()->text(), "32 B signature");
        QCOMPARE(f.view.tokenSizeMetric()->text(), "179 B");
        QCOMPARE(f.view.keyMetric()->text(), "No key");
        QCOMPARE(f.view.tokenEditor()->text(), JWTToolViewModel::sampleToken());
        QVERIFY(f.view.headerEditor()->text().startsWith("{\n  \"alg\" : \"HS256\""));
        QCOMPARE(f.view.payloadPane()->claimsMetric()->text(), "4 claims");
        QVERIFY(f.view.payloadPane()->timeTable()->isVisible());

        f.view.keyEditor()->textView()->insertPlainText(QStringLiteral("marblecat"));
        QCOMPARE(f.model.key(), "marblecat");
        f.settle();
        QCOMPARE(badge(f.view.signaturePane()), std::optional<QString>("VERIFIED"));
        QVERIFY(f.view.verdictLabel()->isVisible());
        QCOMPARE(f.view.verdictLabel()->text(), "The signature matches this key.");
        QCOMPARE(f.view.verdictLabel()->textFormat(), Qt::PlainText);
        QCOMPARE(f.view.keyMetric()->text(), "HMAC secret, 9 bytes");
        f.screenshot("jwt-sample-verified");

        f.view.keyClearButton()->click();
        f.settle();
        QCOMPARE(f.view.keyMetric()->text(), "No key");
        QVERIFY(!f.view.keyClearButton()->isEnabled());
    }

    void rs256VerifiedWithPEM()
    {
        Fixture f;
        QString rs;
        const QString list = fixture("tokens.json");
        const qsizetype at = list.indexOf("\"RS256 rsa2048\"");
        const qsizetype start = list.indexOf("\"token\": \"", at) + 10;
        rs = list.mid(start, list.indexOf(u'"', start) - start);
        f.model.setToken(rs);
        f.settle();
        QVERIFY(!f.view.base64Toggle()->isEnabled());
        QCOMPARE(f.view.tokenEditor()->text(), rs);
        f.model.setKey(fixture("rsa2048.pub.pem"));
        f.settle();
        QCOMPARE(badge(f.view.signaturePane()), std::optional<QString>("VERIFIED"));
        QCOMPARE(f.view.keyMetric()->text(), "RSA public key, 2048 bits");
        f.screenshot("jwt-rs256-pem-verified");
        f.model.setKey(fixture("ec256.pub.pem"));
        f.settle();
        QCOMPARE(badge(f.view.signaturePane()), std::optional<QString>("BAD KEY"));
        QCOMPARE(f.view.verdictLabel()->text(), "Not an RSA public key, which RS256 needs.");
    }

    void expiredToken()
    {
        Fixture f;
        f.view.payloadPane()->setClock([] { return 1800000000.0; });
        f.model.setToken(token(R"({"alg":"HS512","typ":"JWT"})", R"({"sub":"x","exp":1700000000,"iat":"soon"})"));
        f.settle();
        QVERIFY(f.view.base64Toggle()->isEnabled());
        QCOMPARE(badge(f.view.payloadPane()), std::optional<QString>("EXPIRED"));
        QWidget* table = f.view.payloadPane()->timeTable();
        QStringList texts;
        for (QLabel* label : table->findChildren<QLabel*>()) {
            QCOMPARE(label->textFormat(), Qt::PlainText);
            texts << label->text();
        }
        QVERIFY(texts.contains("Expires"));
        QVERIFY(texts.contains("Issued"));
        QVERIFY(texts.contains("Not a number of seconds"));
        f.screenshot("jwt-expired");
    }

    // The date is the user's wall time at that moment, daylight saving included; the tooltip
    // keeps the moment in UTC. Local times in the morning read the same on 12- and 24-hour clocks.
    void timeClaimsInTheUserZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<qint64>("exp");
        QTest::addColumn<QString>("wallTime");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("New York, standard time") << QByteArray("America/New_York") << qint64(1768488767)
                                                 << "9:52:47" << "exp: 2026-01-15T14:52:47Z";
        QTest::newRow("New York, daylight saving") << QByteArray("America/New_York") << qint64(1784123567)
                                                   << "9:52:47" << "exp: 2026-07-15T13:52:47Z";
        QTest::newRow("Kolkata, half-hour offset") << QByteArray("Asia/Kolkata") << qint64(1784089367)
                                                   << "9:52:47" << "exp: 2026-07-15T04:22:47Z";
        QTest::newRow("Kolkata, next day there") << QByteArray("Asia/Kolkata") << qint64(1784060567)
                                                 << "1:52:47" << "exp: 2026-07-14T20:22:47Z";
        QTest::newRow("UTC") << QByteArray("UTC") << qint64(1784109167) << "9:52:47"
                             << "exp: 2026-07-15T09:52:47Z";
    }
    void timeClaimsInTheUserZone()
    {
        QFETCH(QByteArray, zone);
        QFETCH(qint64, exp);
        QFETCH(QString, wallTime);
        QFETCH(QString, toolTip);
        const QByteArray savedZone = qgetenv("TZ");
        const bool hadZone = qEnvironmentVariableIsSet("TZ");
        const auto restore = qScopeGuard([&] {
            if (hadZone)
                qputenv("TZ", savedZone);
            else
                qunsetenv("TZ");
            tzset();
        });
        qputenv("TZ", zone);
        tzset();
        Fixture f;
        f.model.setToken(token(R"({"alg":"HS256"})", "{\"exp\":" + QByteArray::number(exp) + "}"));
        f.settle();
        QLabel* date = nullptr;
        for (QLabel* label : f.view.payloadPane()->timeTable()->findChildren<QLabel*>())
            if (label->toolTip().startsWith(u"exp: "))
                date = label;
        QVERIFY(date);
        QCOMPARE(date->toolTip(), toolTip);
        QVERIFY2(date->text().contains(wallTime), qPrintable(date->text()));
    }

    void notAJWTAndEmpty()
    {
        Fixture f;
        f.model.setToken(QStringLiteral("a.b"));
        f.settle();
        QCOMPARE(f.view.resultSide()->currentWidget()->findChild<ContentUnavailableView*>()->title(), "Not a JWT");
        QCOMPARE(f.view.notice()->description(),
                 "A JWT has three parts separated by dots, or five when it is encrypted. This has 2 parts.");
        QCOMPARE(badge(f.view.tokenPane()), std::optional<QString>("MALFORMED"));
        QCOMPARE(badge(f.view.signaturePane()), std::nullopt);
        QVERIFY(!f.view.partsMetric()->isVisibleTo(&f.view));
        f.screenshot("jwt-not-a-jwt");

        f.view.tokenClearButton()->click();
        f.settle();
        QCOMPARE(f.view.notice()->title(), "Paste a JWT");
        QCOMPARE(badge(f.view.tokenPane()), std::nullopt);
        QVERIFY(!f.view.tokenClearButton()->isEnabled());
        QCOMPARE(f.view.tokenSizeMetric()->text(), "0 B");
        QVERIFY(!f.view.signatureSizeMetric()->isVisibleTo(&f.view));
    }

    void payloadKinds()
    {
        Fixture f;
        JWTPayloadPane* pane = f.view.payloadPane();
        f.model.setToken(token(R"({"alg":"HS256"})", "\xff\xfe"));
        f.settle();
        QCOMPARE(qobject_cast<ContentUnavailableView*>(pane->notice())->description(),
                 "2 bytes that are neither JSON nor UTF-8 text.");
        QVERIFY(!pane->copyButton()->isVisibleTo(pane));
        QCOMPARE(pane->sizeMetric()->text(), "2 B");
        f.model.setToken(token(R"({"alg":"HS256"})", ""));
        f.settle();
        QCOMPARE(qobject_cast<ContentUnavailableView*>(pane->notice())->title(), "Detached payload");
        f.model.setToken(b64u(R"({"alg":"dir","enc":"A128GCM"})") + "..aXY." + b64u("ciphertext") + ".dGFn");
        f.settle();
        QCOMPARE(qobject_cast<ContentUnavailableView*>(pane->notice())->title(), "Encrypted payload");
        QCOMPARE(pane->sizeMetric()->text(), "10 B");
        QCOMPARE(f.view.partsMetric()->text(), "5 parts");
        QVERIFY(!f.view.signatureSizeMetric()->isVisibleTo(&f.view));
        f.model.setToken(token(R"({"alg":"HS256"})", "plain words"));
        f.settle();
        QCOMPARE(pane->stack()->currentWidget(), pane->textEditor());
        QCOMPARE(pane->textEditor()->text(), "plain words");
        QVERIFY(pane->copyButton()->isVisibleTo(pane));
        QVERIFY(!pane->claimsMetric()->isVisibleTo(pane));
        pane->copyButton()->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), "plain words");
        QCOMPARE(pane->copyButton()->title(), "Copied");
        QTRY_COMPARE_WITH_TIMEOUT(pane->copyButton()->title(), QStringLiteral("Copy"), 5000);
        f.model.setToken(token(R"({"alg":"HS256"})", "[1]"));
        f.settle();
        QCOMPARE(badge(pane), std::nullopt);
        QVERIFY(!pane->timeTable()->isVisibleTo(pane));
        f.model.setToken(token(R"({"alg":"HS256"})", "{\"exp\":1700000000000}"));
        f.settle();
        QCOMPARE(pane->claimsMetric()->text(), "1 claim");
        bool warned = false;
        for (QLabel* label : pane->timeTable()->findChildren<QLabel*>())
            warned |= label->toolTip() == "This looks like milliseconds. RFC 7519 wants seconds since 1970.";
        QVERIFY(warned);
    }

    void tokenSegmentsColoured()
    {
        JWTTokenHighlighter highlighter;
        const CodeTextBuffer buffer(u"a.b..c.d.e.f");
        QList<CodeTextRun> runs;
        highlighter.runs(buffer, 0, buffer.length(), runs);
        auto colourAt = [&](qsizetype position) {
            QColor colour;
            for (const CodeTextRun& run : runs)
                if (run.from <= position && position < run.to)
                    colour = run.foreground;
            return colour;
        };
        QCOMPARE(colourAt(0), JWTTokenHighlighter::segmentColour(0, false));
        QCOMPARE(colourAt(1), JWTTokenHighlighter::dotColour(false));
        QCOMPARE(colourAt(2), JWTTokenHighlighter::segmentColour(1, false));
        QCOMPARE(colourAt(4), JWTTokenHighlighter::dotColour(false));
        QCOMPARE(colourAt(5), JWTTokenHighlighter::segmentColour(3, false));
        QCOMPARE(colourAt(11), JWTTokenHighlighter::segmentColour(4, false));
        QCOMPARE(JWTTokenHighlighter::segmentColour(0, false), QColor(0xD0, 0x2B, 0x30));
        QCOMPARE(JWTTokenHighlighter::dotColour(true), QColor(0x8A, 0x8A, 0x8A));
        // A slice after the fifth segment starts in the fifth colour.
        runs.clear();
        highlighter.runs(buffer, 10, buffer.length(), runs);
        QCOMPARE(colourAt(11), JWTTokenHighlighter::segmentColour(4, false));
        // Starting with a dot: the text after it takes the second colour.
        JWTTokenHighlighter other;
        runs.clear();
        other.runs(CodeTextBuffer(u".x"), 0, 2, runs);
        QCOMPARE(colourAt(0), JWTTokenHighlighter::dotColour(false));
        QCOMPARE(colourAt(1), JWTTokenHighlighter::segmentColour(1, false));
    }

    void hugeQuotedTextIsShortened()
    {
        Fixture f;
        const QByteArray kid(3'000'000, 'k');
        f.model.setToken(token("{\"alg\":\"" + QByteArray(1'000'000, 'A') + "\"}"));
        f.settle();
        QCOMPARE(badgeText(f.view.headerPane()).size(), 2001);
        f.model.setToken(token("{\"alg\":\"HS256\",\"kid\":\"" + kid + "\"}"));
        f.model.setKey(QStringLiteral("{\"keys\":[]}"));
        f.settle();
        QVERIFY(f.model.verdict().size() > kid.size());
        QCOMPARE(f.view.verdictLabel()->text().size(), 2001);
        QVERIFY(f.view.verdictLabel()->text().endsWith(QChar(0x2026)));
    }

    void typedTokenReachesTheModelRepaired()
    {
        Fixture f;
        f.view.tokenEditor()->selectAll();
        f.view.tokenEditor()->insertPlainText(QString(QChar(0xD800)) + QStringLiteral("x"));
        QCOMPARE(f.model.token(), QString(QChar(0xFFFD)) + QStringLiteral("x"));
        f.settle();
    }
    void modelFollowsTheEditors_data()
    {
        QTest::addColumn<bool>("key");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("set");
        QTest::newRow("token, another text") << false << QStringLiteral("a.b.c") << QStringLiteral("x.y.z");
        QTest::newRow("token, the typed text again") << false << QStringLiteral("a.b") << QStringLiteral("a.b");
        QTest::newRow("token, an empty text") << false << QStringLiteral("a") << QString();
        QTest::newRow("key, another text") << true << QStringLiteral("secret") << QStringLiteral("other");
        QTest::newRow("key, the typed text again") << true << QStringLiteral("k\ney") << QStringLiteral("k\ney");
        QTest::newRow("key, an empty text") << true << QStringLiteral("k") << QString();
    }

    void modelFollowsTheEditors()
    {
        QFETCH(bool, key);
        QFETCH(QString, typed);
        QFETCH(QString, set);
        Fixture f;
        CodeTextView* editor = key ? f.view.keyEditor()->textView() : f.view.tokenEditor();
        const auto modelText = [&] { return key ? f.model.key() : f.model.token(); };
        editor->setFocus();
        editor->selectAll();
        editor->insertPlainText(typed);
        QCOMPARE(editor->text(), typed);
        QCOMPARE(modelText(), editor->text());

        // Everything typed is taken away again: the model holds the empty text too.
        editor->selectAll();
        QTest::keyClick(editor, Qt::Key_Delete);
        QCOMPARE(editor->text(), QString());
        QCOMPARE(modelText(), QString());
        f.settle();

        editor->insertPlainText(typed);
        QCOMPARE(modelText(), typed);
        // The user's edit stays undoable; a changed text from the program is set anew (the model
        // reports no change for an equal one).
        QVERIFY(editor->canUndo());
        if (key)
            f.model.setKey(set);
        else
            f.model.setToken(set);
        QCOMPARE(editor->canUndo(), set == typed);
        QCOMPARE(editor->text(), set);
        QCOMPARE(modelText(), set);
        f.settle();
    }

    void repairedTokenIsShown()
    {
        Fixture f;
        CodeTextView* editor = f.view.tokenEditor();
        editor->selectAll();
        editor->insertPlainText(QStringLiteral("a.") + QChar(0xD800));
        const QString repaired = QStringLiteral("a.") + QChar(0xFFFD);
        QCOMPARE(f.model.token(), repaired);
        QCOMPARE(editor->text(), repaired);
        f.settle();
    }
};

QUORRIX_TEST_MAIN(JWTToolViewTest)
#include "JWTToolViewTest.moc"
