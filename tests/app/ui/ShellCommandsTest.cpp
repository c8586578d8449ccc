#include "app/ui/AcknowledgementsView.h"
#include "app/ui/AppShellView.h"
#include "app/ui/EditCommands.h"
#include "app/ui/QuorrixApp.h"
#include "app/ui/SidebarView.h"
#include "app/ui/ToolHost.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/ContentUnavailableView.h"
#include "kit/ui/SymbolLabel.h"
#include "kit/ui/ToolView.h"
#include "support/QuorrixTestMain.h"
#include "tools/json/JSONToolViewModel.h"
#include "kit/ui/CodeEditor.h"
#include "tools/json/ui/JSONToolView.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

// The window's menus and chrome as a user meets them.
class ShellCommandsTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_file = 0;
    QString settingsPath() { return m_dir.filePath(QString("commands%1.ini").arg(++m_file)); }

    static QMenu* menu(QMainWindow& window, const QString& title)
    {
        for (QAction* action : window.menuBar()->actions())
            if (action->text().remove(u'&') == title)
                return action->menu();
        return nullptr;
    }

    static QColor dominantColour(const QImage& image)
    {
        // The most opaque pixel of a symbol: its tint.
        QColor best;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (!best.isValid() || c.alpha() > best.alpha())
                    best = c;
            }
        best.setAlpha(255);
        return best;
    }

    static QPalette paletteWithAccent(const QColor& window, const QColor& accent)
    {
        QPalette palette = QApplication::palette();
        palette.setColor(QPalette::Window, window);
        palette.setColor(QPalette::Highlight, accent);
        return palette;
    }

private slots:
    void editMenuHoldsTheEditingGroupThenFind()
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        AppShellView shell(settings);
        QMenu* edit = menu(shell, "Edit");
        QVERIFY(edit);
        QStringList titles;
        for (QAction* action : edit->actions())
            titles << (action->isSeparator() ? QStringLiteral("|") : action->text());
        QCOMPARE(titles, QStringList({"Undo", "Redo", "|", "Cut", "Copy", "Paste", "Select All", "|", "Find"}));
        QCOMPARE(edit->actions().at(0)->shortcut(), QKeySequence(QKeySequence::Undo));
        QCOMPARE(edit->actions().at(3)->shortcut(), QKeySequence(QKeySequence::Cut));
        QCOMPARE(edit->actions().at(6)->shortcut(), QKeySequence(QKeySequence::SelectAll));
        QStringList finds;
        for (QAction* action : edit->actions().last()->menu()->actions())
            finds << action->text();
        QCOMPARE(finds, QStringList({"Find\u2026", "Find Next", "Find Previous"}));
    }

    void undoFromTheMenuReachesTheEditorWithTheFocusElsewhere()
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        AppShellView shell(settings);
        shell.setSelectedToolID(QStringLiteral("json"));
        shell.show();
        QApplication::setActiveWindow(&shell);
        auto* model = shell.host().viewModel<JSONToolViewModel>(QStringLiteral("json"));
        QVERIFY(model);
        model->setText(QStringLiteral("[1]"));
        auto* jsonView = qobject_cast<JSONToolView*>(shell.toolView());
        QVERIFY(jsonView);
        CodeTextView* editor = jsonView->inputEditor()->textView();
        QVERIFY(editor);
        editor->setFocus();
        QTRY_VERIFY(editor->hasFocus());
        editor->setSelection(3, 3);
        QTest::keyClicks(editor, QStringLiteral(" "));
        QCOMPARE(model->text(), QStringLiteral("[1] "));
        // In a field, Edit > Undo is the field's own.
        auto* search = jsonView->findChild<QLineEdit*>();
        QVERIFY(search);
        search->setFocus();
        QTRY_VERIFY(search->hasFocus());
        QVERIFY(shell.editCommands()->target(EditCommands::Action::undo) == search);
        // The focus moves to a list (no text view): Edit > Undo still undoes the typing.
        auto* list = shell.findChild<SidebarView*>()->findChild<QListWidget*>();
        list->setFocus();
        QTRY_VERIFY(list->hasFocus());
        QCOMPARE(shell.editCommands()->target(EditCommands::Action::undo), editor);
        QCOMPARE(shell.editCommands()->target(EditCommands::Action::copy), nullptr);
        shell.editCommands()->perform(EditCommands::Action::undo);
        QCOMPARE(model->text(), QStringLiteral("[1]"));
        shell.editCommands()->perform(EditCommands::Action::redo);
        QCOMPARE(model->text(), QStringLiteral("[1] "));
    }

    void openFromTheAcknowledgementsWindowBringsTheMainWindowForward()
    {
        QuorrixApp app;
        app.showMainWindow();
        AppShellView* shell = app.mainWindow();
        shell->setSelectedToolID(QStringLiteral("timestamp"));
        QApplication::setActiveWindow(shell);
        QTRY_COMPARE(QApplication::activeWindow(), shell);
        // The main window's tool takes no files.
        QVERIFY(!shell->openAction()->isEnabled());
        app.showAcknowledgements();
        QWidget* notices = QApplication::topLevelWidgets().last();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<AcknowledgementsView*>(w))
                notices = w;
        QApplication::setActiveWindow(notices);
        QTRY_COMPARE(QApplication::activeWindow(), notices);
        // No tool speaks for that window: Open… is on, and works from its keyboard.
        QTRY_VERIFY(shell->openAction()->isEnabled());
        QCOMPARE(shell->openAction()->shortcutContext(), Qt::ApplicationShortcut);
        shell->openAction()->trigger();
        QTRY_COMPARE(QApplication::activeWindow(), shell);
        QTRY_VERIFY(!shell->openAction()->isEnabled());
    }

    void donationAlertButtonsInOrder()
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        AppShellView shell(settings);
        std::unique_ptr<QMessageBox> box(shell.makeDonationAlert());
        box->show();
        QCoreApplication::processEvents();
        QList<QAbstractButton*> buttons = box->findChildren<QAbstractButton*>();
        buttons.removeIf([](QAbstractButton* b) { return !b->isVisible(); });
        std::sort(buttons.begin(), buttons.end(), [&](QAbstractButton* a, QAbstractButton* b) {
            return a->mapTo(box.get(), QPoint()).x() < b->mapTo(box.get(), QPoint()).x();
        });
        QStringList texts;
        for (QAbstractButton* b : buttons)
            texts << b->text();
        QCOMPARE(texts.size(), 3);
        QCOMPARE(texts.at(1), QStringLiteral("Not now"));
        QCOMPARE(texts.at(2), QStringLiteral("Don't show again"));
        QCOMPARE(box->textFormat(), Qt::PlainText);
    }

    void symbolsTakeTheAccentAndFollowThePalette()
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        const QPalette original = QApplication::palette();
        QApplication::setPalette(paletteWithAccent(QColor("#ECECEC"), QColor("#0A64D6")));
        AppShellView shell(settings);
        shell.setSelectedToolID(QStringLiteral("nothing"));
        shell.show();
        auto* cup = shell.findChild<SymbolLabel*>(QStringLiteral("donationCup"));
        auto* placeholder = shell.findChild<ContentUnavailableView*>();
        QVERIFY(cup && placeholder);
        QCOMPARE(dominantColour(cup->rendered()), QColor("#0A64D6"));
        QCOMPARE(dominantColour(placeholder->symbol()->rendered()), QColor("#0A64D6"));
        // A switch to dark with another accent recolours both without rebuilding them.
        QApplication::setPalette(paletteWithAccent(QColor("#1E1E1E"), QColor("#3C9BFF")));
        QCOMPARE(dominantColour(cup->rendered()), QColor("#3C9BFF"));
        QCOMPARE(dominantColour(placeholder->symbol()->rendered()), QColor("#3C9BFF"));
        QApplication::setPalette(original);
    }

    void minimumFrameIsBelowTheMenuBar()
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        AppShellView shell(settings);
        shell.show();
        QCOMPARE(shell.centralWidget()->minimumSize(), QSize(980, 580));
        shell.resize(100, 100);
        QCoreApplication::processEvents();
        QVERIFY(shell.centralWidget()->width() >= 980);
        QVERIFY(shell.centralWidget()->height() >= 580);
    }
};

QUORRIX_TEST_MAIN(ShellCommandsTest)
#include "ShellCommandsTest.moc"
