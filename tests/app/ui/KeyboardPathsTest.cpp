#include "app/ui/AppShellView.h"
#include "app/ui/QuorrixApp.h"
#include "app/ui/SidebarView.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/FocusRing.h"
#include "kit/ui/ToolView.h"
#include "support/QuorrixTestMain.h"
#include "tools/timestamp/ui/TimestampToolView.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QToolButton>

// The window driven with the keyboard alone: Tab reaches every control of each tool and comes
// back to the sidebar, Shift+Tab walks the same way back, and choosing a tool with the arrows
// leaves the keys in the sidebar.
class KeyboardPathsTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    int m_file = 0;
    QString settingsPath() { return m_dir.filePath(QString("keys%1.ini").arg(++m_file)); }

    static QListWidget* sidebarList(AppShellView& shell)
    {
        return shell.findChild<SidebarView*>()->findChild<QListWidget*>();
    }

    // Runs the events already posted (a focus change the view queued, say): one more posted call
    // comes after them.
    static bool postedEventsRan()
    {
        bool ran = false;
        QMetaObject::invokeMethod(qApp, [&ran] { ran = true; }, Qt::QueuedConnection);
        return QTest::qWaitFor([&ran] { return ran; }, 10000);
    }

    // What a screen reader calls the widget: its own name, or for a page's render widget the
    // web view's; a text view speaks its text.
    static QString spokenName(QWidget* w)
    {
        for (QWidget* named = w; named; named = named->parentWidget()) {
            if (QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(named)) {
                QString name = iface->text(QAccessible::Name);
                if (name.isEmpty() && iface->textInterface())
                    name = iface->textInterface()->text(0, 40);
                if (!name.isEmpty())
                    return name;
            }
            if (named->focusProxy() != w && !(named->parentWidget() && named->parentWidget()->inherits("QWebEngineView")))
                break;
        }
        return {};
    }

    static QString describe(QWidget* w)
    {
        if (!w)
            return QStringLiteral("(nothing)");
        return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(w->metaObject()->className()), spokenName(w));
    }

    // The tool's controls that Tab should reach: shown, enabled, taking Tab focus, and not
    // handing their focus to another widget.
    static QSet<QWidget*> tabStops(QWidget* view)
    {
        QSet<QWidget*> stops;
        for (QWidget* w : view->findChildren<QWidget*>()) {
            if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy())
                stops.insert(w);
        }
        return stops;
    }

    // Presses Tab (or Shift+Tab) until the focus is back on `home`; an editable text view
    // takes Tab as text, so Ctrl+Tab leaves it going forwards.
    static QList<QWidget*> walk(QWidget* home, bool forwards, QString* failure)
    {
        QList<QWidget*> stops;
        for (int step = 0; step < 120; ++step) {
            QWidget* at = QApplication::focusWidget();
            auto* text = qobject_cast<CodeTextView*>(at);
            const bool editable = text && !text->isReadOnly();
            // Views that draw no focus of their own wear a ring while they have it.
            QWidget* ringed = at && at->parentWidget() && at->parentWidget()->inherits("QWebEngineView")
                ? at->parentWidget() : qobject_cast<QScrollArea*>(at);
            if (ringed) {
                FocusRing* ring = ringed->findChild<FocusRing*>(QString(), Qt::FindDirectChildrenOnly);
                if (!ring || !ring->isVisible()) {
                    *failure = describe(at) + QStringLiteral(" shows no focus");
                    return stops;
                }
            }
            if (forwards)
                QTest::keyClick(at, Qt::Key_Tab, editable ? Qt::ControlModifier : Qt::NoModifier);
            else
                QTest::keyClick(at, Qt::Key_Backtab, Qt::ShiftModifier);
            QWidget* now = QApplication::focusWidget();
            if (now == home)
                return stops;
            if (!now || now == at || stops.contains(now)) {
                *failure = QStringLiteral("the keys stay on %1 after %2").arg(describe(now), describe(at));
                return stops;
            }
            stops.append(now);
        }
        *failure = QStringLiteral("Tab never comes back to the sidebar");
        return stops;
    }

private slots:
    // First in the file: the first showing of the Timestamp view in this process.
    void choosingTheTimestampToolWithTheArrowsKeepsTheKeysInTheSidebar()
    {
        QVERIFY(!TimestampToolView::hasShownBefore);
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.setValue("selectedToolID", "csv");
        AppShellView shell(settings);
        shell.resize(1200, 800);
        shell.show();
        QVERIFY(QTest::qWaitForWindowActive(&shell));
        QVERIFY(shell.toolView());
        QListWidget* list = sidebarList(shell);
        list->setFocus();
        QTRY_VERIFY(list->hasFocus());
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(shell.selectedToolID(), QString("timestamp"));
        auto* view = qobject_cast<TimestampToolView*>(shell.toolView());
        QVERIFY(view);
        QTRY_VERIFY(view->isVisible());
        QVERIFY(postedEventsRan());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(list));
        QVERIFY(!view->inputField()->hasFocus());
    }

    void tabReachesEveryControlAndComesBack_data()
    {
        QTest::addColumn<QString>("tool");
        // The tool's controls once its sample is worked out (the results bring some).
        QTest::addColumn<int>("controls");
        QTest::newRow("Markdown") << "markdown" << 5;
        QTest::newRow("Mermaid") << "mermaid" << 11;
        QTest::newRow("JSON") << "json" << 13;
        QTest::newRow("CSV") << "csv" << 13;
        QTest::newRow("Timestamp") << "timestamp" << 22;
        QTest::newRow("Encode / Decode") << "codec" << 14;
        QTest::newRow("JWT") << "jwt" << 8;
    }
    void tabReachesEveryControlAndComesBack()
    {
        QFETCH(QString, tool);
        QFETCH(int, controls);
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.setValue("selectedToolID", tool);
        AppShellView shell(settings);
        shell.resize(1300, 850);
        shell.show();
        QVERIFY(QTest::qWaitForWindowActive(&shell));
        ToolView* view = shell.toolView();
        QVERIFY(view);
        QTRY_VERIFY(view->isVisible());
        // A page's render widget comes with its page.
        for (QWidget* web : view->findChildren<QWidget*>()) {
            if (web->inherits("QWebEngineView"))
                QTRY_VERIFY_WITH_TIMEOUT(web->focusProxy(), 60000);
        }
        // The view takes its render widget's keys a turn after it came.
        QVERIFY(postedEventsRan());
        QTRY_COMPARE_WITH_TIMEOUT(tabStops(view).size(), qsizetype(controls), 10000);
        QListWidget* list = sidebarList(shell);
        list->setFocus();
        QTRY_VERIFY(list->hasFocus());

        QString failure;
        const QList<QWidget*> forwards = walk(list, true, &failure);
        QStringList seen;
        for (QWidget* w : forwards)
            seen << describe(w);
        qInfo().noquote() << tool << "Tab order:" << seen.join(QStringLiteral(" → "));
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        // Every control of the tool is on the way, and only the sidebar's besides.
        QSet<QWidget*> reached;
        for (QWidget* w : forwards) {
            QVERIFY2(w->isVisible() && w->isEnabled(), qPrintable(describe(w)));
            QVERIFY2(view->isAncestorOf(w) || shell.findChild<SidebarView*>()->isAncestorOf(w),
                     qPrintable(describe(w) + " is neither the tool's nor the sidebar's"));
            // Text views are named by their own accessibility interface, tested with it; a page
            // speaks its content.
            const bool page = w->parentWidget() && w->parentWidget()->inherits("QWebEngineView");
            if (!qobject_cast<CodeTextView*>(w) && !page)
                QVERIFY2(!spokenName(w).isEmpty(), qPrintable(describe(w) + " has no name"));
            if (view->isAncestorOf(w))
                reached.insert(w);
        }
        QCOMPARE(reached, tabStops(view));
        QString backFailure;
        QList<QWidget*> backwards = walk(list, false, &backFailure);
        QVERIFY2(backFailure.isEmpty(), qPrintable(backFailure));
        std::reverse(backwards.begin(), backwards.end());
        QCOMPARE(backwards, forwards);
    }
};

QUORRIX_TEST_MAIN(KeyboardPathsTest)
#include "KeyboardPathsTest.moc"
