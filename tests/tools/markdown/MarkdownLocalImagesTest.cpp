#include "tools/markdown/MarkdownLocalImages.h"

#include "support/QuorrixTestMain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using MarkdownLocalImages::Read;

namespace {

QByteArray pngBytes()
{
    return QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QUrl dir(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

} // namespace

class MarkdownLocalImagesTest : public QObject {
    Q_OBJECT
private slots:
    void baseURL_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("url");
        QTest::newRow("plain") << "/Users/user/Docs" << "quorrix-doc://document/Users/user/Docs/";
        QTest::newRow("trailing slash kept once") << "/Users/user/Docs/" << "quorrix-doc://document/Users/user/Docs/";
        QTest::newRow("spaces encoded") << "/home/a b/c" << "quorrix-doc://document/home/a%20b/c/";
        QTest::newRow("hash and question mark encoded") << "/home/x#y?z" << "quorrix-doc://document/home/x%23y%3Fz/";
        QTest::newRow("root") << "/" << "quorrix-doc://document/";
    }
    void baseURL()
    {
        QFETCH(QString, folder);
        QFETCH(QString, url);
        QCOMPARE(MarkdownLocalImages::baseURL(dir(folder)).toString(QUrl::FullyEncoded), url);
    }

    void baseURLOfNothing()
    {
        QVERIFY(MarkdownLocalImages::baseURL(QUrl()).isEmpty());
        QVERIFY(MarkdownLocalImages::baseURL(QUrl(QStringLiteral("https://example.com/"))).isEmpty());
    }

    void fileURL_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("file"); // empty: no mapping
        QTest::newRow("image") << "quorrix-doc://document/Users/user/Docs/a.png" << "/Users/user/Docs/a.png";
        QTest::newRow("scheme in capitals") << "QUORRIX-DOC://document/Users/a.png" << "/Users/a.png";
        QTest::newRow("spaces decoded") << "quorrix-doc://document/home/a%20b/c.jpg" << "/home/a b/c.jpg";
        QTest::newRow("dot dot standardized") << "quorrix-doc://document/Users/user/Docs/a/../b.png" << "/Users/user/Docs/b.png";
        QTest::newRow("encoded dot dot standardized") << "quorrix-doc://document/Users/user/Docs/%2E%2E/%2E%2E/x.png" << "/Users/x.png";
        QTest::newRow("climbing above root") << "quorrix-doc://document/../../etc/x.png" << "/etc/x.png";
        QTest::newRow("svg") << "quorrix-doc://document/d/logo.svg" << "/d/logo.svg";
        QTest::newRow("upper-case extension") << "quorrix-doc://document/d/A.PNG" << "/d/A.PNG";
        QTest::newRow("other host") << "quorrix-doc://elsewhere/d/a.png" << "";
        QTest::newRow("other scheme") << "file:///d/a.png" << "";
        QTest::newRow("folder path") << "quorrix-doc://document/d/" << "";
        QTest::newRow("text file") << "quorrix-doc://document/d/notes.txt" << "";
        QTest::newRow("no extension") << "quorrix-doc://document/d/picture" << "";
        QTest::newRow("html page") << "quorrix-doc://document/d/page.html" << "";
        QTest::newRow("nul byte") << "quorrix-doc://document/d/a%00.png" << "";
    }
    void fileURL()
    {
        QFETCH(QString, request);
        QFETCH(QString, file);
        const QUrl mapped = MarkdownLocalImages::fileURL(QUrl(request));
        if (file.isEmpty())
            QVERIFY2(mapped.isEmpty(), qPrintable(mapped.toString()));
        else
            QCOMPARE(mapped.toLocalFile(), file);
    }

    void baseAndFileRoundTrip()
    {
        const QUrl base = MarkdownLocalImages::baseURL(dir(QStringLiteral("/home/a b/ü")));
        const QUrl image = base.resolved(QUrl(QStringLiteral("img/x y.png")));
        QCOMPARE(MarkdownLocalImages::fileURL(image).toLocalFile(), QStringLiteral("/home/a b/ü/img/x y.png"));
    }

    void isInside_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<bool>("inside");
        QTest::newRow("child") << "/a/b/c.png" << QStringList{"/a/b"} << true;
        QTest::newRow("two levels below") << "/a/b/c/d.png" << QStringList{"/a/b"} << true;
        QTest::newRow("folder itself") << "/a/b" << QStringList{"/a/b"} << false;
        QTest::newRow("sibling with common prefix") << "/a/bc/d.png" << QStringList{"/a/b"} << false;
        QTest::newRow("second folder") << "/x/y.png" << QStringList{"/a", "/x"} << true;
        QTest::newRow("none") << "/x/y.png" << QStringList{} << false;
        QTest::newRow("trailing slash on folder") << "/a/b/c.png" << QStringList{"/a/b/"} << true;
    }
    void isInside()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, folders);
        QFETCH(bool, inside);
        QList<QUrl> urls;
        for (const QString& f : folders)
            urls.append(dir(f));
        QCOMPARE(MarkdownLocalImages::isInside(dir(file), urls), inside);
    }

    void mimeType_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("type");
        QTest::newRow("png") << "/a/b.png" << "image/png";
        QTest::newRow("jpeg") << "/a/b.jpg" << "image/jpeg";
        QTest::newRow("svg") << "/a/b.svg" << "image/svg+xml";
        QTest::newRow("unknown extension") << "/a/b.qqqzzz" << "application/octet-stream";
        QTest::newRow("no extension") << "/a/b" << "application/octet-stream";
    }
    void mimeType()
    {
        QFETCH(QString, file);
        QFETCH(QString, type);
        QCOMPARE(MarkdownLocalImages::mimeType(dir(file)), type);
    }

    void permissionFailure()
    {
        QVERIFY(MarkdownLocalImages::isPermissionFailure(EACCES));
        QVERIFY(MarkdownLocalImages::isPermissionFailure(EPERM));
        QVERIFY(!MarkdownLocalImages::isPermissionFailure(ENOENT));
        QVERIFY(!MarkdownLocalImages::isPermissionFailure(0));
    }

    // Reads against a real tree: docs/ (the document's folder), granted/, outside/.
    void read_data()
    {
        QTest::addColumn<QString>("file"); // relative to the tree
        QTest::addColumn<QString>("outcome"); // image, refused, unavailable
        QTest::addColumn<QString>("target"); // refused: the resolved file, relative
        QTest::newRow("in document folder") << "docs/a.png" << "image" << "";
        QTest::newRow("in subfolder") << "docs/img/b.png" << "image" << "";
        QTest::newRow("in granted folder") << "granted/c.png" << "image" << "";
        QTest::newRow("outside, exists") << "outside/d.png" << "refused" << "outside/d.png";
        QTest::newRow("outside, missing") << "outside/none.png" << "unavailable" << "";
        QTest::newRow("missing in document folder") << "docs/none.png" << "unavailable" << "";
        QTest::newRow("dot dot escape") << "docs/../outside/d.png" << "refused" << "outside/d.png";
        QTest::newRow("symlink escaping") << "docs/link-out.png" << "refused" << "outside/d.png";
        QTest::newRow("symlink to a folder outside") << "docs/outdir/d.png" << "refused" << "outside/d.png";
        QTest::newRow("symlink staying inside") << "docs/link-in.png" << "image" << "";
        QTest::newRow("dangling symlink") << "docs/dangling.png" << "unavailable" << "";
        QTest::newRow("symlink to a text file") << "docs/link-text.png" << "unavailable" << "";
        QTest::newRow("folder named like an image") << "docs/folder.png" << "unavailable" << "";
        QTest::newRow("fifo named like an image") << "docs/pipe.png" << "unavailable" << "";
    }
    void read()
    {
        QFETCH(QString, file);
        QFETCH(QString, outcome);
        QFETCH(QString, target);
        QTemporaryDir tree;
        QVERIFY(tree.isValid());
        const QString root = QFileInfo(tree.path()).canonicalFilePath();
        writeFile(root + "/docs/a.png", pngBytes());
        writeFile(root + "/docs/img/b.png", pngBytes());
        writeFile(root + "/granted/c.png", pngBytes());
        writeFile(root + "/outside/d.png", pngBytes());
        writeFile(root + "/outside/notes.txt", "text");
        QVERIFY(QFile::link(root + "/outside/d.png", root + "/docs/link-out.png"));
        QVERIFY(QFile::link(root + "/outside", root + "/docs/outdir"));
        QVERIFY(QFile::link(root + "/docs/a.png", root + "/docs/link-in.png"));
        QVERIFY(QFile::link(root + "/docs/gone.png", root + "/docs/dangling.png"));
        QVERIFY(QFile::link(root + "/outside/notes.txt", root + "/docs/link-text.png"));
        QVERIFY(QDir().mkpath(root + "/docs/folder.png"));
        QCOMPARE(::mkfifo(QFile::encodeName(root + "/docs/pipe.png").constData(), 0600), 0);

        const QList<QUrl> granted{dir(root + "/granted")};
        const QList<QUrl> readable{dir(root + "/granted"), dir(root + "/docs")};
        const QUrl request = MarkdownLocalImages::baseURL(dir(root)).resolved(QUrl(file));
        const QUrl mapped = MarkdownLocalImages::fileURL(request);
        QVERIFY2(!mapped.isEmpty(), qPrintable(request.toString()));
        const Read result = MarkdownLocalImages::read(mapped, readable, granted);
        if (outcome == "image") {
            QCOMPARE(result.kind, Read::Kind::image);
            QCOMPARE(result.bytes, pngBytes());
            QCOMPARE(result.mimeType, QStringLiteral("image/png"));
        } else if (outcome == "refused") {
            QCOMPARE(result.kind, Read::Kind::refused);
            QCOMPARE(result.target.toLocalFile(), root + "/" + target);
        } else {
            QCOMPARE(result.kind, Read::Kind::unavailable);
        }
    }

    void unreadableFile_data()
    {
        QTest::addColumn<bool>("inGrantedFolder");
        QTest::addColumn<bool>("refused");
        QTest::newRow("document folder only: refused") << false << true;
        QTest::newRow("granted folder: unavailable") << true << false;
    }
    void unreadableFile()
    {
        QFETCH(bool, inGrantedFolder);
        QFETCH(bool, refused);
        if (::geteuid() == 0)
            QSKIP("root reads files whatever their permissions");
        QTemporaryDir tree;
        const QString root = QFileInfo(tree.path()).canonicalFilePath();
        const QString path = root + "/docs/locked.png";
        writeFile(path, pngBytes());
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        const QList<QUrl> granted = inGrantedFolder ? QList<QUrl>{dir(root + "/docs")} : QList<QUrl>{};
        const Read result = MarkdownLocalImages::read(dir(path), {dir(root + "/docs")}, granted);
        QCOMPARE(result.kind, refused ? Read::Kind::refused : Read::Kind::unavailable);
    }
};

QUORRIX_TEST_MAIN(MarkdownLocalImagesTest)
#include "MarkdownLocalImagesTest.moc"
