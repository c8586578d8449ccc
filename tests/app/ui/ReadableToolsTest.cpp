#include "app/ui/AppShellView.h"
#include "app/ui/SidebarView.h"
#include "kit/DynamicColor.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/FontScale.h"
#include "kit/ui/ToolView.h"
#include "kit/ui/ToolbarSegmentedPicker.h"
#include "support/DesktopPalettes.h"
#include "tools/csv/ui/CSVFiltersPopover.h"
#include "tools/csv/ui/CSVToolView.h"
#include "support/QuorrixTestMain.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>

// What assistive technology and the eye get from every tool: named controls, texts that read in
// light and dark desktop palettes, colours that follow a switch while running, sizes that follow
// the desktop's font.
class ReadableToolsTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    int m_file = 0;
    QPalette m_startPalette;
    QFont m_startFont;

    std::unique_ptr<QSettings> settings()
    {
        return std::make_unique<QSettings>(m_dir.filePath(QString("readable%1.ini").arg(++m_file)), QSettings::IniFormat);
    }

    static QStringList tools() { return {"markdown", "mermaid", "json", "csv", "timestamp", "codec", "jwt"}; }

    static void addToolRows()
    {
        QTest::addColumn<QString>("tool");
        for (const QString& tool : tools())
            QTest::newRow(qPrintable(tool)) << tool;
    }

    // Focusable, shown elements under `face` that a screen reader would announce without a name.
    static void collectNameless(QAccessibleInterface* face, QStringList& nameless, int depth = 0)
    {
        if (!face || depth > 40)
            return;
        const QAccessible::State state = face->state();
        if (state.invisible)
            return;
        auto* widget = qobject_cast<QWidget*>(face->object());
        // The editor's own interface and the web content are other work's subject.
        if (widget && (widget->inherits("CodeTextView") || widget->inherits("QWebEngineView")))
            return;
        const QAccessible::Role role = face->role();
        const bool control = state.focusable || role == QAccessible::PushButton || role == QAccessible::RadioButton
            || role == QAccessible::CheckBox || role == QAccessible::ButtonMenu || role == QAccessible::ButtonDropDown;
        // A control that is a bare "filler", or has no name, says nothing to a screen reader.
        const bool filler = role == QAccessible::Client && !(widget && widget->inherits("QAbstractScrollArea"));
        if (control && (face->text(QAccessible::Name).trimmed().isEmpty() || filler))
            nameless << QStringLiteral("%1 (%2, role %3)")
                            .arg(face->object() ? QString::fromLatin1(face->object()->metaObject()->className()) : "?")
                            .arg(face->object() ? face->object()->objectName() : QString())
                            .arg(int(face->role()));
        for (int i = 0; i < face->childCount(); ++i)
            collectNameless(face->child(i), nameless, depth + 1);
    }

    // The application tells its widgets of a new palette or font only while its event loop runs,
    // which a test's does not: they are told here as the running program tells them.
    static void switchPalette(const QPalette& palette)
    {
        QApplication::setPalette(palette);
        for (QWidget* widget : QApplication::allWidgets()) {
            QEvent change(QEvent::ApplicationPaletteChange);
            QCoreApplication::sendEvent(widget, &change);
        }
    }
    static void switchFont(const QFont& font)
    {
        QApplication::setFont(font);
        for (QWidget* widget : QApplication::allWidgets()) {
            QEvent change(QEvent::ApplicationFontChange);
            QCoreApplication::sendEvent(widget, &change);
        }
    }

    static QList<QLabel*> shownTexts(QWidget* root)
    {
        QList<QLabel*> labels;
        for (QLabel* label : root->findChildren<QLabel*>())
            if (label->isVisibleTo(root->window()) && !label->text().trimmed().isEmpty() && label->pixmap().isNull())
                labels << label;
        return labels;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_startPalette = QApplication::palette();
        m_startFont = QApplication::font();
    }
    void cleanup()
    {
        switchPalette(m_startPalette);
        switchFont(m_startFont);
    }

    void everyControlIsNamed_data() { addToolRows(); }
    void everyControlIsNamed()
    {
        QFETCH(QString, tool);
        auto store = settings();
        AppShellView shell(*store);
        shell.setSelectedToolID(tool);
        shell.resize(1300, 850);
        shell.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shell));
        QVERIFY(shell.toolView());
        QStringList nameless;
        collectNameless(QAccessible::queryAccessibleInterface(&shell), nameless);
        QVERIFY2(nameless.isEmpty(), qPrintable(nameless.join("; ")));
    }

    // A segment is a choice among several: a radio button, checked and selected when chosen,
    // named in words where its title is a glyph; the picker holds them directly.
    void segmentsReadAsChoices_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("picker");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("csv delimiter") << "csv" << "Delimiter" << QStringList{"Auto", "Comma", "Semicolon", "Tab", "Pipe"};
        QTest::newRow("json indent") << "json" << "Indent" << QStringList{"2 spaces", "4 spaces", "Tabs"};
    }
    void segmentsReadAsChoices()
    {
        QFETCH(QString, tool);
        QFETCH(QString, picker);
        QFETCH(QStringList, names);
        auto store = settings();
        AppShellView shell(*store);
        shell.setSelectedToolID(tool);
        ToolbarSegmentedPicker* found = nullptr;
        for (auto* candidate : shell.toolView()->findChildren<ToolbarSegmentedPicker*>())
            if (candidate->label() == picker)
                found = candidate;
        QVERIFY(found);
        QAccessibleInterface* group = QAccessible::queryAccessibleInterface(found);
        QCOMPARE(group->text(QAccessible::Name), picker);
        QCOMPARE(group->childCount(), int(names.size()));
        for (int i = 0; i < names.size(); ++i) {
            QAccessibleInterface* segment = group->child(i);
            QCOMPARE(segment->text(QAccessible::Name), names.at(i));
            QCOMPARE(segment->role(), QAccessible::RadioButton);
            QCOMPARE(segment->parent()->object(), found);
            QCOMPARE(bool(segment->state().checked), found->isSegmentSelected(i));
            QCOMPARE(bool(segment->state().selected), found->isSegmentSelected(i));
        }
        const int other = found->isSegmentSelected(1) ? 2 : 1;
        group->child(other)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_VERIFY(group->child(other)->state().checked);
        QVERIFY(!group->child(other == 1 ? 2 : 1)->state().checked);
    }

    // Every filter field has the same prompt, so each is named after its column.
    void filterFieldsAreNamedAfterTheirColumns()
    {
        QFile file(m_dir.filePath("people.csv"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("name,city,,age\nAda,London,x,36\n");
        file.close();
        auto store = settings();
        AppShellView shell(*store);
        shell.setSelectedToolID("csv");
        shell.show();
        auto* view = qobject_cast<CSVToolView*>(shell.toolView());
        QVERIFY(view);
        shell.openUrl(QUrl::fromLocalFile(file.fileName()));
        CSVFiltersPopover* popover = nullptr;
        QStringList names, prompts;
        auto read = [&] {
            popover = view->showFiltersPopover();
            names.clear();
            prompts.clear();
            for (QLineEdit* field : popover->findChildren<QLineEdit*>()) {
                names << QAccessible::queryAccessibleInterface(field)->text(QAccessible::Name);
                prompts << field->placeholderText();
            }
            return names;
        };
        QTRY_COMPARE_WITH_TIMEOUT(read(), (QStringList{"name", "city", "C", "age"}), 30000);
        QCOMPARE(prompts, QStringList(4, QStringLiteral("Contains\u2026")));
        popover->close();
    }

    // Decoration beside a text is skipped; the program's icon, name and version are one element.
    void sidebarFooterReadsAsOneIdentity()
    {
        auto store = settings();
        AppShellView shell(*store);
        auto* cup = shell.findChild<QWidget*>("donationCup");
        QVERIFY(cup);
        QVERIFY(QAccessible::queryAccessibleInterface(cup)->state().invisible);
        auto* identity = shell.findChild<QWidget*>("identityGroup");
        QVERIFY(identity);
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(identity);
        QCOMPARE(face->childCount(), 0);
        const QString expected = SidebarView::versionText().isEmpty()
            ? QStringLiteral("Quorrix")
            : QStringLiteral("Quorrix ") + SidebarView::versionText();
        QCOMPARE(face->text(QAccessible::Name), expected);
    }

    // Every text on screen, section headers included, reads at 4.5:1 on its background in light
    // and dark desktop palettes; the texts the program colours itself keep their own values.
    void textsReadInEveryPalette_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QPalette>("palette");
        for (const auto& [name, palette] : desktopPalettes())
            for (const QString& tool : {QStringLiteral("timestamp"), QStringLiteral("jwt"), QStringLiteral("json")})
                QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(tool, name))) << tool << palette;
    }
    void textsReadInEveryPalette()
    {
        QFETCH(QString, tool);
        QFETCH(QPalette, palette);
        QApplication::setPalette(palette);
        auto store = settings();
        AppShellView shell(*store);
        shell.setSelectedToolID(tool);
        shell.resize(1300, 850);
        shell.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shell));
        QVERIFY(shell.toolView());
        QStringList faint;
        for (QLabel* label : shownTexts(&shell)) {
            const QPalette& pal = label->palette();
            const qreal ratio = DynamicColor::contrast(pal.color(label->foregroundRole()), pal.color(QPalette::Window));
            if (ratio < 4.5)
                faint << QStringLiteral("\"%1\" %2:1").arg(label->text().left(30)).arg(ratio, 0, 'f', 2);
        }
        auto* list = shell.findChild<SidebarView*>()->findChild<QListWidget*>();
        for (int row = 0; row < list->count(); ++row) {
            QListWidgetItem* item = list->item(row);
            if (item->flags() != Qt::NoItemFlags)
                continue;
            const qreal ratio = DynamicColor::contrast(item->foreground().color(), list->palette().color(QPalette::Base));
            if (ratio < 4.5)
                faint << QStringLiteral("header \"%1\" %2:1").arg(item->text()).arg(ratio, 0, 'f', 2);
        }
        QVERIFY2(faint.isEmpty(), qPrintable(faint.join("; ")));
    }

    // A switch between light and dark while running re-colours the texts made before it.
    void paletteSwitchRecoloursTexts_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::newRow("timestamp") << "timestamp";
        QTest::newRow("jwt") << "jwt";
        QTest::newRow("csv") << "csv";
    }
    void paletteSwitchRecoloursTexts()
    {
        QFETCH(QString, tool);
        const auto palettes = desktopPalettes();
        QApplication::setPalette(palettes.at(0).second);
        auto store = settings();
        AppShellView shell(*store);
        shell.setSelectedToolID(tool);
        shell.resize(1300, 850);
        shell.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shell));
        QVERIFY(shell.toolView());
        const QPalette dark = palettes.at(3).second;
        switchPalette(dark);
        for (QLabel* label : shownTexts(&shell)) {
            const QColor shown = label->palette().color(label->foregroundRole());
            // Light text on the dark window: nothing kept the light palette's dark grey.
            QVERIFY2(DynamicColor::contrast(shown, dark.color(QPalette::Window)) >= 4.5,
                     qPrintable(QStringLiteral("\"%1\" %2:1")
                                    .arg(label->text().left(30))
                                    .arg(DynamicColor::contrast(shown, dark.color(QPalette::Window)), 0, 'f', 2)));
        }
    }

    // The Markdown preview follows the window into dark and back.
    void markdownPreviewFollowsTheAppearance()
    {
        auto store = settings();
        AppShellView shell(*store);
        shell.setSelectedToolID("markdown");
        shell.resize(1300, 850);
        shell.show();
        QVERIFY(QTest::qWaitForWindowExposed(&shell));
        QVERIFY(shell.toolView());
        auto* web = shell.toolView()->findChild<QWebEngineView*>();
        QVERIFY(web);
        // The body's computed style property, as the page answers.
        auto bodyStyle = [web](const QString& property) -> QString {
            QVariant result;
            bool done = false;
            web->page()->runJavaScript(QStringLiteral("getComputedStyle(document.body).") + property,
                                       [&](const QVariant& value) {
                                           result = value;
                                           done = true;
                                       });
            if (!QTest::qWaitFor([&] { return done; }, 30000))
                return QStringLiteral("(no answer)");
            return result.toString();
        };
        auto background = [&] { return bodyStyle(QStringLiteral("backgroundColor")); };
        QTRY_COMPARE_WITH_TIMEOUT(background(), QString("rgb(255, 255, 255)"), 60000);
        switchPalette(desktopPalettes().at(3).second);
        QTRY_COMPARE_WITH_TIMEOUT(background(), QString("rgb(30, 30, 30)"), 30000);
        switchPalette(desktopPalettes().at(0).second);
        QTRY_COMPARE_WITH_TIMEOUT(background(), QString("rgb(255, 255, 255)"), 30000);
        // Its text follows the desktop font as the program's does: 16 px at 10 pt.
        auto textSize = [&] { return bodyStyle(QStringLiteral("fontSize")); };
        QFont desktop = m_startFont;
        desktop.setPointSizeF(16);
        switchFont(desktop);
        QTRY_COMPARE_WITH_TIMEOUT(textSize(), QString("25.6px"), 30000);
        desktop.setPointSizeF(10);
        switchFont(desktop);
        QTRY_COMPARE_WITH_TIMEOUT(textSize(), QString("16px"), 30000);
    }

    // Pixel sizes are the design's at the desktop's default font and grow with a larger one,
    // also when the font changes while running.
    void sizesFollowTheDesktopFont_data()
    {
        QTest::addColumn<qreal>("points");
        QTest::addColumn<int>("editorPixels");
        QTest::addColumn<int>("versionPixels");
        QTest::newRow("smaller than the default") << 9.0 << 13 << 10;
        QTest::newRow("the default") << 10.0 << 13 << 10;
        QTest::newRow("16 pt") << 16.0 << 21 << 16;
        QTest::newRow("20 pt") << 20.0 << 26 << 20;
    }
    void sizesFollowTheDesktopFont()
    {
        QFETCH(qreal, points);
        QFETCH(int, editorPixels);
        QFETCH(int, versionPixels);
        QFont base = m_startFont;
        base.setPointSizeF(10);
        QApplication::setFont(base);
        auto store = settings();
        AppShellView shell(*store);
        shell.setSelectedToolID("json");
        QVERIFY(shell.toolView());
        QFont desktop = m_startFont;
        desktop.setPointSizeF(points);
        switchFont(desktop);
        QCOMPARE(FontScale::pixels(13), editorPixels);
        const auto editors = shell.toolView()->findChildren<CodeTextView*>();
        QVERIFY(!editors.isEmpty());
        for (CodeTextView* editor : editors)
            QCOMPARE(editor->font().pixelSize(), editorPixels);
        if (auto* version = shell.findChild<QLabel*>("versionLabel"))
            QCOMPARE(version->font().pixelSize(), versionPixels);
    }
};

QUORRIX_TEST_MAIN(ReadableToolsTest)
#include "ReadableToolsTest.moc"
