#include "tools/markdown/MarkdownFolderAccess.h"

#include "support/QuorrixTestMain.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

QUrl dir(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

QString pathOf(const QUrl& url)
{
    return QDir::cleanPath(url.toLocalFile());
}

} // namespace

class MarkdownFolderAccessTest : public QObject {
    Q_OBJECT
private slots:
    void startsEmpty()
    {
        MarkdownFolderAccess access;
        QVERIFY(!access.needsAccess());
        QVERIFY(access.documentFolder().isEmpty());
        QVERIFY(access.granted().isEmpty());
        QVERIFY(access.suggestedFolder().isEmpty());
        QCOMPARE(access.generation(), 0u);
        QCOMPARE(access.opens(), 0);
    }

    void commonFolder_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<QString>("common");
        QTest::newRow("siblings") << "/Users/user/Docs/img" << "/Users/user/Pictures" << "/Users/user";
        QTest::newRow("same") << "/a/b" << "/a/b" << "/a/b";
        QTest::newRow("nested") << "/a/b/c" << "/a/b" << "/a/b";
        QTest::newRow("only root") << "/Volumes" << "/Users/user/Docs" << "/";
        QTest::newRow("prefix is not a folder") << "/a/bc" << "/a/b" << "/a";
    }
    void commonFolder()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(QString, common);
        QCOMPARE(pathOf(MarkdownFolderAccess::commonFolder(dir(a), dir(b))), common);
    }

    // The widening rule, on abstract folders (they need not exist).
    void noteRefused_data()
    {
        QTest::addColumn<QString>("document"); // empty: no document folder
        QTest::addColumn<QStringList>("refused");
        QTest::addColumn<QString>("suggested"); // empty: nothing proposed
        QTest::newRow("image in a subfolder") << "/Users/user/Docs" << QStringList{"/Users/user/Docs/img/a.png"}
                                              << "/Users/user/Docs";
        QTest::newRow("two places widen") << "/Users/user/Docs"
                                          << QStringList{"/Users/user/Docs/img/a.png", "/Users/user/Pictures/b.png"}
                                          << "/Users/user";
        QTest::newRow("root never proposed") << "/Users/user/Docs" << QStringList{"/Volumes/x.png"} << "";
        QTest::newRow("below root only as the document folder") << "/Users" << QStringList{"/Users/a.png"} << "/Users";
        QTest::newRow("below root otherwise not") << "/Users/user" << QStringList{"/Users/a.png"} << "";
        QTest::newRow("no document") << "" << QStringList{"/home/u/pics/a.png"} << "/home/u/pics";
    }
    void noteRefused()
    {
        QFETCH(QString, document);
        QFETCH(QStringList, refused);
        QFETCH(QString, suggested);
        MarkdownFolderAccess access;
        if (!document.isEmpty())
            access.setDocumentFolder(dir(document));
        QSignalSpy needs(&access, &MarkdownFolderAccess::needsAccessChanged);
        for (const QString& file : refused)
            access.noteRefused(dir(file), access.generation());
        if (suggested.isEmpty()) {
            QVERIFY(access.suggestedFolder().isEmpty());
            QVERIFY(!access.needsAccess());
            QCOMPARE(needs.count(), 0);
        } else {
            QCOMPARE(pathOf(access.suggestedFolder()), suggested);
            QVERIFY(access.needsAccess());
            QCOMPARE(needs.count(), 1);
        }
    }

    void staleRefusalIgnored()
    {
        MarkdownFolderAccess access;
        access.setDocumentFolder(dir("/Users/user/Docs"));
        const quint64 before = access.generation();
        access.grant(dir("/Users/user/Other"));
        access.noteRefused(dir("/Users/user/Docs/img/a.png"), before);
        QVERIFY(!access.needsAccess());
        QVERIFY(access.suggestedFolder().isEmpty());
    }

    void opensAndGeneration()
    {
        MarkdownFolderAccess access;
        QSignalSpy opens(&access, &MarkdownFolderAccess::opensChanged);
        access.setDocumentFolder(dir("/Users/user/Docs"));
        QCOMPARE(access.opens(), 1);
        QCOMPARE(access.generation(), 1u);
        // A second document from the same folder.
        access.setDocumentFolder(dir("/Users/user/Docs/"));
        QCOMPARE(access.opens(), 2);
        QCOMPARE(access.generation(), 1u);
        access.setDocumentFolder(dir("/Users/user/Else"));
        QCOMPARE(access.generation(), 2u);
        QCOMPARE(opens.count(), 3);
    }

    void openingClearsBanner()
    {
        MarkdownFolderAccess access;
        access.setDocumentFolder(dir("/Users/user/Docs"));
        access.noteRefused(dir("/Users/user/Docs/img/a.png"), access.generation());
        QVERIFY(access.needsAccess());
        access.setDocumentFolder(dir("/Users/user/Docs"));
        QVERIFY(!access.needsAccess());
        QVERIFY(access.suggestedFolder().isEmpty());
    }

    void grantTwiceKeepsOneEntry()
    {
        QTemporaryDir tree;
        const QString root = QFileInfo(tree.path()).canonicalFilePath();
        QVERIFY(QDir().mkpath(root + "/pics"));
        QVERIFY(QFile::link(root + "/pics", root + "/alias"));
        MarkdownFolderAccess access;
        int reloads = 0;
        access.reloadImages = [&reloads] { ++reloads; };
        access.setDocumentFolder(dir(root));
        access.noteRefused(dir(root + "/pics/a.png"), access.generation());
        QVERIFY(access.needsAccess());
        const quint64 before = access.generation();
        access.grant(dir(root + "/pics"));
        access.grant(dir(root + "/alias")); // the same folder through a link
        QCOMPARE(access.granted().size(), 1);
        QCOMPARE(pathOf(access.granted().first()), root + "/pics");
        QCOMPARE(access.generation(), before + 2);
        QCOMPARE(reloads, 2);
        QVERIFY(!access.needsAccess());
        QVERIFY(access.suggestedFolder().isEmpty());
    }

    void documentFolderResolvesLinks()
    {
        QTemporaryDir tree;
        const QString root = QFileInfo(tree.path()).canonicalFilePath();
        QVERIFY(QDir().mkpath(root + "/real"));
        QVERIFY(QFile::link(root + "/real", root + "/link"));
        MarkdownFolderAccess access;
        access.setDocumentFolder(dir(root + "/link"));
        QCOMPARE(pathOf(access.documentFolder()), root + "/real");
    }

    void bannerCanBeDismissed()
    {
        MarkdownFolderAccess access;
        QSignalSpy needs(&access, &MarkdownFolderAccess::needsAccessChanged);
        access.setNeedsAccess(true);
        access.setNeedsAccess(true);
        access.setNeedsAccess(false);
        QCOMPARE(needs.count(), 2);
    }
};

QUORRIX_TEST_MAIN(MarkdownFolderAccessTest)
#include "MarkdownFolderAccessTest.moc"
