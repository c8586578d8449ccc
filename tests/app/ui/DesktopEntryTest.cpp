#include "app/ui/ToolList.h"
#include "kit/ui/Tool.h"
#include "support/QuorrixTestMain.h"

#include <QFile>
#include <QMimeDatabase>
#include <QSet>
#include <QXmlStreamReader>

namespace {

QString sourceFile(const QString& path)
{
    return qEnvironmentVariable("QUORRIX_SOURCE_DIR") + u'/' + path;
}

// The globs the program's own MIME package adds, by type.
QHash<QString, QStringList> packageGlobs()
{
    QHash<QString, QStringList> globs;
    QFile file(sourceFile(QStringLiteral("resources/desktop/quorrix-mime.xml")));
    if (!file.open(QIODevice::ReadOnly))
        return globs;
    QXmlStreamReader xml(&file);
    QString type;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"mime-type")
            type = xml.attributes().value(QStringLiteral("type")).toString();
        else if (xml.name() == u"glob")
            globs[type] << xml.attributes().value(QStringLiteral("pattern")).toString();
    }
    return globs;
}

QStringList claimedTypes()
{
    QFile file(sourceFile(QStringLiteral("resources/desktop/example.quorrix.Quorrix.desktop")));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("MimeType="))
            return QString::fromUtf8(line.mid(9)).split(u';', Qt::SkipEmptyParts);
    return {};
}

} // namespace

// The desktop entry offers the program for exactly the files its tools open.
class DesktopEntryTest : public QObject {
    Q_OBJECT
private slots:
    void claimedTypesAreTheToolsExtensions()
    {
        const QHash<QString, QStringList> ownGlobs = packageGlobs();
        QVERIFY(!ownGlobs.isEmpty());
        QSet<QString> accepted;
        for (const Tool* tool : toolList())
            accepted.unite(tool->acceptedExtensions());
        QVERIFY(!accepted.isEmpty());

        const QMimeDatabase database;
        auto typeOf = [&](const QString& extension) {
            for (auto it = ownGlobs.cbegin(); it != ownGlobs.cend(); ++it)
                if (it.value().contains(QStringLiteral("*.") + extension))
                    return it.key();
            return database.mimeTypeForFile(QStringLiteral("x.") + extension, QMimeDatabase::MatchExtension).name();
        };
        // text/plain is the parent of every source file's type: claiming it offers the program for
        // .py and .c files, which no tool opens. Extensions with no type of their own are left out.
        const QSet<QString> generic{QStringLiteral("text/plain"), QStringLiteral("application/octet-stream")};
        QSet<QString> expected;
        for (const QString& extension : accepted)
            if (!generic.contains(typeOf(extension)))
                expected.insert(typeOf(extension));

        const QStringList claimed = claimedTypes();
        QCOMPARE(QSet<QString>(claimed.cbegin(), claimed.cend()), expected);
        QCOMPARE(claimed.size(), expected.size());
        // And no claimed type brings files of an extension that no tool opens.
        for (const QString& type : claimed) {
            QStringList globs = ownGlobs.value(type);
            if (const QMimeType known = database.mimeTypeForName(type); known.isValid())
                globs += known.globPatterns();
            for (const QString& glob : globs)
                QVERIFY2(glob.startsWith(u"*.") && accepted.contains(glob.mid(2).toLower()),
                         qPrintable(type + QStringLiteral(": ") + glob));
        }
    }
};

QUORRIX_TEST_MAIN(DesktopEntryTest)
#include "DesktopEntryTest.moc"
