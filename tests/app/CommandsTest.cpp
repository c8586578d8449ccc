#include "app/ui/FindCommands.h"
#include "app/ui/PlainTextView.h"
#include "kit/ToolNotifications.h"
#include "support/QuorrixTestMain.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QVBoxLayout>

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

    void toolRunningItsOwnFindGetsTheNotification()
    {
        QSignalSpy spy(&ToolNotifications::instance(), &ToolNotifications::findInTool);
        QPlainTextEdit plain; // focus elsewhere does not matter
        FindCommands::perform(ToolNotifications::NextMatch, true, &plain);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().first().toInt(), int(ToolNotifications::NextMatch));
        QCOMPARE(FindCommands::route(true, nullptr).route, FindCommands::Route::FindInTool);
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
        auto* document = new QWidget;
        document->setProperty("usesFindBar", true);
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
        QCOMPARE(FindCommands::route(false, nested).textView.data(), document);
    }

    void textViewFindBarActions()
    {
        PlainTextView notices(QStringLiteral("one two one two"));
        notices.show();
        QVERIFY(!notices.isFindBarVisible());
        FindCommands::perform(ToolNotifications::ShowFindInterface, false, notices.textView());
        QVERIFY(notices.isFindBarVisible());
        auto* field = notices.findChild<QLineEdit*>();
        QVERIFY(field);
        field->setText(QStringLiteral("two"));
        FindCommands::perform(ToolNotifications::NextMatch, std::nullopt, notices.textView());
        QCOMPARE(notices.textView()->textCursor().selectionStart(), 4);
        FindCommands::perform(ToolNotifications::NextMatch, std::nullopt, notices.textView());
        QCOMPARE(notices.textView()->textCursor().selectionStart(), 12);
        FindCommands::perform(ToolNotifications::PreviousMatch, std::nullopt, notices.textView());
        QCOMPARE(notices.textView()->textCursor().selectionStart(), 4);
        // Past the last match it wraps around.
        FindCommands::perform(ToolNotifications::NextMatch, std::nullopt, notices.textView());
        FindCommands::perform(ToolNotifications::NextMatch, std::nullopt, notices.textView());
        QCOMPARE(notices.textView()->textCursor().selectionStart(), 4);
    }

    void notificationsCarryNoState()
    {
        QSignalSpy open(&ToolNotifications::instance(), &ToolNotifications::openFile);
        ToolNotifications::instance().postOpenFile();
        QCOMPARE(open.count(), 1);
    }
};

QUORRIX_TEST_MAIN(CommandsTest)
#include "CommandsTest.moc"
