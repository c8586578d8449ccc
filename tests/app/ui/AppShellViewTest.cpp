#include "app/ui/AcknowledgementsView.h"
#include "kit/ui/CodeTextLayout.h"
#include "kit/ui/CodeTextView.h"
#include "app/ui/AppShellView.h"
#include "app/ui/QuorrixApp.h"
#include "app/ui/ShellStyle.h"
#include "app/ui/SidebarView.h"
#include "app/ui/ToolHost.h"
#include "kit/ui/ContentUnavailableView.h"
#include "kit/ui/Tool.h"
#include "kit/ui/ToolView.h"
#include "support/QuorrixTestMain.h"
#include "tools/jwt/JWTVerifierLibrary.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QListWidget>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTemporaryDir>

#include <memory>

class AppShellViewTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    int m_file = 0;
    QString settingsPath() { return m_dir.filePath(QString("shell%1.ini").arg(++m_file)); }

    static QStringList sidebarTexts(AppShellView& shell)
    {
        QStringList texts;
        auto* list = shell.findChild<SidebarView*>()->findChild<QListWidget*>();
        for (int row = 0; row < list->count(); ++row)
            texts << list->item(row)->text();
        return texts;
    }

private slots:
    // Launch arguments that name files become absolute paths; options such as the web engine's
    // are left out, up to a "--".
    void launchArgumentsBecomePaths_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("paths");
        const QString here = QDir::currentPath();
        QTest::newRow("relative file") << QStringList{"notes.md"} << QStringList{here + "/notes.md"};
        QTest::newRow("absolute file") << QStringList{"/tmp/a.json"} << QStringList{"/tmp/a.json"};
        QTest::newRow("file URL kept") << QStringList{"file:///tmp/b.csv"} << QStringList{"file:///tmp/b.csv"};
        QTest::newRow("web engine option left out")
            << QStringList{"--disable-gpu", "/tmp/d.mmd"} << QStringList{"/tmp/d.mmd"};
        QTest::newRow("after --, a name with a dash is a file")
            << QStringList{"-x", "--", "-odd.md"} << QStringList{here + "/-odd.md"};
    }
    void launchArgumentsBecomePaths()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, paths);
        QCOMPARE(QuorrixApp::absolutePaths(arguments), paths);
    }

    void startsOnMarkdownAndRemembersTheSelection()
    {
        const QString path = settingsPath();
        {
            QSettings settings(path, QSettings::IniFormat);
            AppShellView shell(settings);
            QCOMPARE(shell.selectedToolID(), QString("markdown"));
            shell.setSelectedToolID("csv");
            settings.sync();
        }
        QSettings settings(path, QSettings::IniFormat);
        AppShellView shell(settings);
        QCOMPARE(shell.selectedToolID(), QString("csv"));
        QVERIFY(shell.openAction()->isEnabled());
    }

    void sidebarSections()
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        AppShellView shell(settings);
        // Each section's title, then its tools in list order.
        QStringList sections;
        for (ToolCategory category : ToolCategories::all()) {
            sections << ToolCategories::sectionTitle(category);
            for (const Tool* tool : ToolHost::tools(category))
                sections << tool->name();
        }
        QCOMPARE(sidebarTexts(shell), sections);
        // The window shows before the tool's view is made.
        QCOMPARE(shell.windowTitle(), QString("Quorrix"));
        // The tool on screen names the window: its document, then what it is.
        QVERIFY(shell.toolView());
        QCOMPARE(shell.windowTitle(), QString("Untitled \u2014 Markdown"));
        shell.setSelectedToolID(QStringLiteral("nothing"));
        QCOMPARE(shell.windowTitle(), QString("Quorrix"));
        QVERIFY(shell.minimumSizeHint().width() >= 980 && shell.minimumSizeHint().height() >= 580);
    }

    void choosingARowSelectsTheTool()
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        AppShellView shell(settings);
        auto* list = shell.findChild<SidebarView*>()->findChild<QListWidget*>();
        list->setCurrentRow(sidebarTexts(shell).indexOf("JWT"));
        QCOMPARE(shell.selectedToolID(), QString("jwt"));
        QVERIFY(!shell.activeToolOpensFiles());
        QVERIFY(!shell.openAction()->isEnabled());
        // Section headers cannot be chosen.
        QVERIFY(!(list->item(0)->flags() & Qt::ItemIsSelectable));
    }

    void unknownSelectionShowsThePlaceholder()
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.setValue("selectedToolID", "foo");
        AppShellView shell(settings);
        auto* placeholder = qobject_cast<ContentUnavailableView*>(shell.detailView());
        QVERIFY(placeholder);
        QCOMPARE(placeholder->title(), QString("Pick a tool"));
        QCOMPARE(placeholder->description(), QString("Choose a tool from the sidebar to get started."));
        QVERIFY(!shell.activeToolOpensFiles());
        auto* list = shell.findChild<SidebarView*>()->findChild<QListWidget*>();
        QVERIFY(list->selectedItems().isEmpty());
    }

    void opensFilesPerTool_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("opens");
        for (const Tool* tool : ToolHost::allTools())
            QTest::newRow(qPrintable(tool->id())) << tool->id() << tool->acceptsFiles();
    }
    void opensFilesPerTool()
    {
        QFETCH(QString, id);
        QFETCH(bool, opens);
        QSettings settings(settingsPath(), QSettings::IniFormat);
        AppShellView shell(settings);
        shell.setSelectedToolID(id);
        QCOMPARE(shell.activeToolOpensFiles(), opens);
        QCOMPARE(shell.openAction()->isEnabled(), opens);
    }

    void openedFilesAreRouted_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("informative");
        QTest::newRow("notes.MD") << "notes.MD" << "markdown" << "" << "";
        QTest::newRow("table.tsv") << "table.tsv" << "csv" << "" << "";
        QTest::newRow("data.xyz") << "data.xyz" << "codec" << QString::fromUtf8("Quorrix cannot open “data.xyz”.")
                                  << "No tool accepts the .xyz extension.";
        QTest::newRow("notes.XYZ keeps its case")
            << "notes.XYZ" << "codec" << QString::fromUtf8("Quorrix cannot open “notes.XYZ”.")
            << "No tool accepts the .XYZ extension.";
        QTest::newRow("no extension") << "Makefile" << "codec" << QString::fromUtf8("Quorrix cannot open “Makefile”.")
                                      << "No tool accepts the . extension.";
    }
    void openedFilesAreRouted()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, selected);
        QFETCH(QString, message);
        QFETCH(QString, informative);
        QSettings settings(settingsPath(), QSettings::IniFormat);
        AppShellView shell(settings);
        shell.setSelectedToolID("codec");
        QStringList alerts;
        shell.setAlertPresenter([&](const QString& m, const QString& i) { alerts << m << i; });
        QFile file(m_dir.filePath(fileName));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# Title\n");
        file.close();
        shell.openUrl(QUrl::fromLocalFile(file.fileName()));
        QCOMPARE(shell.selectedToolID(), selected);
        if (message.isEmpty())
            QVERIFY(alerts.isEmpty());
        else
            QCOMPARE(alerts, QStringList({message, informative}));
    }

    void nonFileUrlsAreIgnored()
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        AppShellView shell(settings);
        shell.setSelectedToolID("jwt");
        bool alerted = false;
        shell.setAlertPresenter([&](const QString&, const QString&) { alerted = true; });
        shell.openUrl(QUrl("https://quorrix.example/readme.md"));
        QCOMPARE(shell.selectedToolID(), QString("jwt"));
        QVERIFY(!alerted);
    }

    // The program's style reads the bars' overflow icon only when it is drawn; drawn, it is the
    // wrapped style's own, in either direction, and every other icon passes through.
    void shellStyleIconsMatchTheStyle_data()
    {
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("direction"); // of the option; -1: no option
        QTest::newRow("menu bar overflow, no option") << int(QStyle::SP_ToolBarHorizontalExtensionButton) << -1;
        QTest::newRow("horizontal overflow, right to left")
            << int(QStyle::SP_ToolBarHorizontalExtensionButton) << int(Qt::RightToLeft);
        QTest::newRow("vertical overflow, left to right")
            << int(QStyle::SP_ToolBarVerticalExtensionButton) << int(Qt::LeftToRight);
        QTest::newRow("another icon passes through") << int(QStyle::SP_ArrowBack) << int(Qt::RightToLeft);
    }
    void shellStyleIconsMatchTheStyle()
    {
        QFETCH(int, icon);
        QFETCH(int, direction);
        const QString key = QStringLiteral("fusion");
        ShellStyle shell(key);
        std::unique_ptr<QStyle> plain(QStyleFactory::create(key));
        QStyleOption option;
        option.direction = Qt::LayoutDirection(direction);
        const QStyleOption* given = direction < 0 ? nullptr : &option;
        const auto which = QStyle::StandardPixmap(icon);
        const QImage expected = plain->standardIcon(which, given).pixmap(16, 16).toImage();
        QVERIFY(!expected.isNull());
        QCOMPARE(shell.standardIcon(which, given).pixmap(16, 16).toImage(), expected);
    }

    void shownWindowMakesItsWebToolViewAfterPainting()
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        AppShellView shell(settings);
        shell.show();
        // Nobody asks for the view: the window makes it once the web views' library has loaded.
        QTRY_COMPARE_WITH_TIMEOUT(shell.windowTitle(), QString("Untitled \u2014 Markdown"), 60000);
        QVERIFY(shell.findChild<ToolView*>());
        QCOMPARE(shell.detailView(), static_cast<QWidget*>(shell.toolView()));
    }

    void openActionPostsOpenFileLater()
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        AppShellView shell(settings);
        shell.setSelectedToolID(QStringLiteral("json"));
        shell.show();
        // The tool on screen asks for the file once the window has come forward.
        shell.openAction()->trigger();
        QVERIFY(!shell.findChild<QFileDialog*>());
        QTRY_VERIFY(shell.findChild<QFileDialog*>());
        shell.findChild<QFileDialog*>()->reject();
    }

    void acknowledgementsText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("present");
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("utf-8") << QByteArray("# Notices\n\xc2\xa9 2026") << true;
        QTest::newRow("not utf-8") << QByteArray("caf\xe9") << false;
        QTest::newRow("truncated sequence") << QByteArray("\xe2\x82") << false;
    }
    void acknowledgementsText()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, present);
        QCOMPARE(AcknowledgementsView::decodeNotices(bytes).has_value(), present);
    }

    void acknowledgementsFont()
    {
        // Monospaced at 12 pixels, regular weight, read-only, wrapped at words.
        AcknowledgementsView view;
        auto* text = view.findChild<CodeTextView*>();
        QVERIFY(text);
        QCOMPARE(text->font().pixelSize(), 12);
        QCOMPARE(text->font().weight(), QFont::Normal);
        QVERIFY(text->font().fixedPitch());
        QVERIFY(text->isReadOnly());
        QVERIFY(text->wrapEnabled());
        QCOMPARE(text->textLayout().font().pixelSize(), 12);
    }

    void bundledNoticesNameTheLibraries_data()
    {
        // A library the program links is mapped into this process, which runs the same code;
        // OpenSSL's comes with the JWT tool's signature checks, loaded at the first check.
        QTest::addColumn<QString>("library");
        QTest::addColumn<QString>("linked");
        QTest::addColumn<QString>("licence");
        QTest::newRow("Qt") << "## Qt 6" << "/libQt6Core.so" << "LGPL-3.0-only";
        QTest::newRow("OpenSSL") << "## OpenSSL 3" << "/libcrypto.so" << "Apache License";
        QTest::newRow("zlib") << "## zlib" << "/libz.so" << "Jean-loup Gailly and Mark Adler";
        QTest::newRow("ICU") << "## ICU" << "/libicuuc.so" << "Copyright \u00a9 1991-2022 Unicode, Inc.";
        QTest::newRow("ICU i18n") << "## ICU" << "/libicui18n.so" << "Permission is hereby granted";
        QTest::newRow("Mermaid, bundled") << "## Mermaid" << QString() << "MIT License";
    }
    void bundledNoticesNameTheLibraries()
    {
        QFETCH(QString, library);
        QFETCH(QString, linked);
        QFETCH(QString, licence);
        if (linked == QLatin1String("/libcrypto.so"))
            QVERIFY(JWTVerifierLibrary::checkSignature());
        if (!linked.isEmpty()) {
            QFile maps(QStringLiteral("/proc/self/maps"));
            QVERIFY(maps.open(QIODevice::ReadOnly));
            QVERIFY2(QString::fromUtf8(maps.readAll()).contains(linked), qPrintable(linked));
        }
        const auto& text = AcknowledgementsView::noticesText();
        QVERIFY(text);
        const qsizetype heading = text->indexOf(library);
        QVERIFY2(heading >= 0, qPrintable(library));
        const qsizetype next = text->indexOf(QStringLiteral("\n## "), heading + 1);
        QVERIFY2(text->sliced(heading, (next < 0 ? text->size() : next) - heading).contains(licence), qPrintable(licence));
    }
};

QUORRIX_TEST_MAIN(AppShellViewTest)
#include "AppShellViewTest.moc"
