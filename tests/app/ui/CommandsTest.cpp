#include "app/ui/FindCommands.h"
#include "app/ui/PlainTextView.h"
#include "kit/FindController.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/TextFinder.h"
#include "kit/ui/ToolView.h"
#include "support/QuorrixTestMain.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QVBoxLayout>

namespace {
// A tool view that records what the Find menu hands it.
class RecordingToolView : public ToolView {
public:
    explicit RecordingToolView(bool ownFind) : m_ownFind(ownFind) {}
    bool runsOwnFind() const override { return m_ownFind; }
    void findInTool(FindAction action) override { actions.append(action); }
    QList<FindAction> actions;

private:
    bool m_ownFind;
};

class FindableWidget : public QWidget, public TextFinder {
public:
    void performTextFinderAction(ToolView::FindAction action) override { actions.append(action); }
    QList<ToolView::FindAction> actions;
};
} // namespace

using FindAction = ToolView::FindAction;

class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    void openEnabling_data()
    {
        QTest::addColumn<std::optional<bool>>("opensFiles");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("tool accepts files") << std::optional<bool>(true) << true;
        QTest::newRow("tool accepts none") << std::optional<bool>(false) << false;
        QTest::newRow("no main window publishes it") << std::optional<bool>() << true;
    }
    void openEnabling()
    {
        QFETCH(std::optional<bool>, opensFiles);
        QFETCH(bool, enabled);
        QCOMPARE(FileCommands::openEnabled(opensFiles), enabled);
    }

    void toolRunningItsOwnFindGetsTheAction()
    {
        RecordingToolView tool(true);
        PlainTextView notices(QStringLiteral("text")); // a find bar in focus does not matter
        FindCommands::perform(FindAction::nextMatch, &tool, notices.textView());
        QCOMPARE(tool.actions, QList<FindAction>{FindAction::nextMatch});
        QVERIFY(!notices.isFindBarVisible());
        QCOMPARE(FindCommands::route(true, nullptr).route, FindCommands::Route::FindInTool);
    }

    void toolWithoutOwnFindLeavesItToTheTextView()
    {
        RecordingToolView tool(false);
        FindableWidget findable;
        auto* child = new QLineEdit(&findable);
        FindCommands::perform(FindAction::showFindInterface, &tool, child);
        QVERIFY(tool.actions.isEmpty());
        QCOMPARE(findable.actions, QList<FindAction>{FindAction::showFindInterface});
    }

    void routeWithoutOwnFind_data()
    {
        QTest::addColumn<std::optional<bool>>("ownFind");
        QTest::newRow("absent") << std::optional<bool>();
        QTest::newRow("false") << std::optional<bool>(false);
    }
    void routeWithoutOwnFind()
    {
        QFETCH(std::optional<bool>, ownFind);
        PlainTextView notices(QStringLiteral("alpha beta alpha"));
        // From the text itself, and climbing from a widget inside the view.
        QCOMPARE(FindCommands::route(ownFind, notices.textView()).route, FindCommands::Route::TextView);
        QCOMPARE(FindCommands::route(ownFind, notices.textView()).textView.data(), &notices);

        QWidget plainWindow;
        auto* field = new QLineEdit(&plainWindow);
        QCOMPARE(FindCommands::route(ownFind, field).route, FindCommands::Route::Beep);
        QCOMPARE(FindCommands::route(ownFind, nullptr).route, FindCommands::Route::Beep);
    }

    void climbsThroughAScrollArea()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* scroll = new QScrollArea;
        auto* document = new FindableWidget;
        scroll->setWidget(document);
        auto* container = new QWidget;
        auto* inner = new QVBoxLayout(container);
        auto* button = new QPushButton("x");
        inner->addWidget(button);
        layout->addWidget(scroll);
        layout->addWidget(container);
        // The button is not inside the scroll area: no text view.
        QCOMPARE(FindCommands::route(false, button).route, FindCommands::Route::Beep);
        // A button placed directly in a container that is the scroll area's parent chain.
        auto* nested = new QPushButton("y", scroll);
        QCOMPARE(FindCommands::route(false, nested).textView.data(), static_cast<QWidget*>(document));
    }

    void textViewFindBarActions()
    {
        PlainTextView notices(QStringLiteral("one two one two"));
        notices.show();
        QVERIFY(!notices.isFindBarVisible());
        FindCommands::perform(FindAction::showFindInterface, nullptr, notices.textView());
        QVERIFY(notices.isFindBarVisible());
        auto* field = notices.findChild<QLineEdit*>();
        QVERIFY(field);
        // Typing searches as it goes.
        QTest::keyClicks(field, QStringLiteral("two"));
        QCOMPARE(notices.textView()->selection(), (TextRange{4, 3}));
        FindCommands::perform(FindAction::nextMatch, nullptr, notices.textView());
        QCOMPARE(notices.textView()->selection().location, 12);
        FindCommands::perform(FindAction::previousMatch, nullptr, notices.textView());
        QCOMPARE(notices.textView()->selection().location, 4);
        // Past the last match it wraps around, both ways.
        FindCommands::perform(FindAction::previousMatch, nullptr, notices.textView());
        QCOMPARE(notices.textView()->selection().location, 12);
        FindCommands::perform(FindAction::nextMatch, nullptr, notices.textView());
        QCOMPARE(notices.textView()->selection().location, 4);
        // No match: the selection stays and the bar says so.
        QTest::keyClicks(field, QStringLiteral("x"));
        QCOMPARE(notices.find()->lastSearchMatched(), std::optional<bool>(false));
        QCOMPARE(notices.textView()->selection().location, 4);
        // Done (Escape) hides the bar and keeps the query for the next time.
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!notices.isFindBarVisible());
        QCOMPARE(notices.find()->query(), QStringLiteral("twox"));
    }
};

QUORRIX_TEST_MAIN(CommandsTest)
#include "CommandsTest.moc"
