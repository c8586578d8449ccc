#include "kit/FindController.h"
#include "tools/markdown/ui/MarkdownFindBar.h"

#include "support/QuorrixTestMain.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace {

// A find hook that records its calls and answers only when told to.
struct FakePage {
    struct Call {
        QString query;
        bool forward;
        std::function<bool()> isCurrent;
        std::function<void(bool)> answer;
    };
    QList<Call> calls;
    int clears = 0;

    void install(FindController& controller)
    {
        controller.find = [this](const QString& query, bool forward, std::function<bool()> isCurrent,
                                 std::function<void(bool)> answer) {
            calls.append({query, forward, std::move(isCurrent), std::move(answer)});
        };
        controller.clearHighlights = [this] { ++clears; };
    }
};

} // namespace

class MarkdownFindControllerTest : public QObject {
    Q_OBJECT
private slots:
    void emptyQueryNeverSearches()
    {
        FindController controller;
        FakePage page;
        page.install(controller);
        controller.search(true);
        QVERIFY(page.calls.isEmpty());
        QCOMPARE(page.clears, 1);
        QCOMPARE(controller.lastSearchMatched(), std::nullopt);
    }

    void withoutHookNothingIsFound()
    {
        FindController controller;
        controller.setQuery(QStringLiteral("word"));
        controller.search(true);
        QCOMPARE(controller.lastSearchMatched(), std::optional<bool>(false));
    }

    void answers_data()
    {
        QTest::addColumn<bool>("forward");
        QTest::addColumn<bool>("matched");
        QTest::newRow("next, found") << true << true;
        QTest::newRow("next, not found") << true << false;
        QTest::newRow("previous, found") << false << true;
        QTest::newRow("previous, not found") << false << false;
    }
    void answers()
    {
        QFETCH(bool, forward);
        QFETCH(bool, matched);
        FindController controller;
        FakePage page;
        page.install(controller);
        controller.setQuery(QStringLiteral("word"));
        controller.search(forward);
        QCOMPARE(page.calls.size(), 1);
        QCOMPARE(page.calls[0].query, QStringLiteral("word"));
        QCOMPARE(page.calls[0].forward, forward);
        QCOMPARE(controller.lastSearchMatched(), std::nullopt);
        page.calls[0].answer(matched);
        QCOMPARE(controller.lastSearchMatched(), std::optional<bool>(matched));
    }

    void olderAnswerNeverReplacesNewer()
    {
        FindController controller;
        FakePage page;
        page.install(controller);
        controller.setQuery(QStringLiteral("a"));
        controller.search(true);
        controller.setQuery(QStringLiteral("ab"));
        controller.search(true);
        QVERIFY(!page.calls[0].isCurrent());
        QVERIFY(page.calls[1].isCurrent());
        page.calls[1].answer(true);
        page.calls[0].answer(false);
        QCOMPARE(controller.lastSearchMatched(), std::optional<bool>(true));
    }

    void doneDropsRunningSearch()
    {
        FindController controller;
        FakePage page;
        page.install(controller);
        controller.setShowingBar(true);
        controller.setQuery(QStringLiteral("zzz"));
        controller.search(true);
        controller.done();
        QVERIFY(!controller.isShowingBar());
        QCOMPARE(page.clears, 1);
        page.calls[0].answer(false);
        QCOMPARE(controller.lastSearchMatched(), std::nullopt);
        QCOMPARE(controller.query(), QStringLiteral("zzz"));
    }

    void barTypingSearchesForward()
    {
        FindController controller;
        FakePage page;
        page.install(controller);
        MarkdownFindBar bar(&controller);
        QTest::keyClicks(bar.field(), QStringLiteral("ab"));
        QCOMPARE(page.calls.size(), 2);
        QCOMPARE(page.calls[0].query, QStringLiteral("a"));
        QCOMPARE(page.calls[1].query, QStringLiteral("ab"));
        QVERIFY(page.calls[0].forward && page.calls[1].forward);
        QCOMPARE(controller.query(), QStringLiteral("ab"));
    }

    void barButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("forward");
        QTest::newRow("next") << "next" << true;
        QTest::newRow("previous") << "previous" << false;
        QTest::newRow("return") << "return" << true;
    }
    void barButtons()
    {
        QFETCH(QString, button);
        QFETCH(bool, forward);
        FindController controller;
        controller.setQuery(QStringLiteral("x"));
        FakePage page;
        page.install(controller);
        MarkdownFindBar bar(&controller);
        QCOMPARE(bar.field()->text(), QStringLiteral("x"));
        if (button == "next")
            bar.nextButton()->click();
        else if (button == "previous")
            bar.previousButton()->click();
        else
            QTest::keyClick(bar.field(), Qt::Key_Return);
        QCOMPARE(page.calls.size(), 1);
        QCOMPARE(page.calls[0].forward, forward);
        QVERIFY(bar.previousButton()->toolTip().contains(QStringLiteral("Ctrl+Shift+G")));
        QCOMPARE(bar.nextButton()->accessibleName(), QStringLiteral("Next match"));
    }

    void notFoundStatus()
    {
        FindController controller;
        FakePage page;
        page.install(controller);
        MarkdownFindBar bar(&controller);
        bar.show();
        QTest::keyClicks(bar.field(), QStringLiteral("q"));
        page.calls.last().answer(false);
        QCOMPARE(bar.status()->text(), QStringLiteral("Not found"));
        QVERIFY(bar.status()->isVisible());
        // Emptying the field clears it at once.
        QTest::keyClick(bar.field(), Qt::Key_Backspace);
        QCOMPARE(bar.status()->text(), QString());
        QCOMPARE(page.calls.size(), 1);
        QCOMPARE(page.clears, 1);
        QTest::keyClicks(bar.field(), QStringLiteral("q"));
        page.calls.last().answer(false);
        QCOMPARE(bar.status()->text(), QStringLiteral("Not found"));
        // Escape is Done.
        QTest::keyClick(bar.field(), Qt::Key_Escape);
        QCOMPARE(bar.status()->text(), QString());
        QCOMPARE(controller.lastSearchMatched(), std::nullopt);
    }

    void barWithoutPreviewSaysNotFound()
    {
        FindController controller;
        MarkdownFindBar bar(&controller);
        QTest::keyClicks(bar.field(), QStringLiteral("w"));
        QCOMPARE(bar.status()->text(), QStringLiteral("Not found"));
    }
};

QUORRIX_TEST_MAIN(MarkdownFindControllerTest)
#include "MarkdownFindControllerTest.moc"
