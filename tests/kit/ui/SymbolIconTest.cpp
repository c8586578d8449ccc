#include "kit/ui/SymbolIcon.h"
#include "support/QuorrixTestMain.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

// Every symbol name the program's sources ask for by name has a drawing.
class SymbolIconTest : public QObject {
    Q_OBJECT
private slots:
    void everyNamedSymbolDraws()
    {
        const QString root = qEnvironmentVariable("QUORRIX_SOURCE_DIR") + QStringLiteral("/src");
        const QRegularExpression named(
            QStringLiteral("(?:symbolIcon|tintedSymbolIcon|csvSymbolIcon|mermaidSymbolIcon|setSystemImage)\\(QStringLiteral\\(\"([^\"]+)\"\\)"));
        QSet<QString> names;
        QDirIterator files(root, {QStringLiteral("*.cpp")}, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(file.readAll());
            for (const QRegularExpressionMatch& m : named.globalMatch(text))
                names.insert(m.captured(1));
        }
        QVERIFY(names.size() > 10);
        QStringList missing;
        for (const QString& name : names) {
            const QIcon icon = symbolIcon(name);
            if (icon.isNull() || icon.pixmap(16, 16).isNull())
                missing << name;
        }
        missing.sort();
        QCOMPARE(missing, QStringList());
    }
};

QUORRIX_TEST_MAIN(SymbolIconTest)
#include "SymbolIconTest.moc"
