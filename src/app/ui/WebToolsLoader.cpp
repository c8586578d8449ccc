#include "app/ui/WebToolsLoader.h"

#include "kit/ui/ToolViewMakers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QtDebug>

void WebToolsLoader::install()
{
    ToolViewMakers::setLoader([] { load(); });
}

bool WebToolsLoader::load()
{
    const QString name = QStringLiteral("quorrix-web-tools");
    const QString here = QCoreApplication::applicationDirPath();
    const QStringList folders = {here, QDir(here).filePath(QStringLiteral(QUORRIX_WEB_TOOLS_INSTALLED)),
                                 QStringLiteral(QUORRIX_WEB_TOOLS_BUILT)};
    QString errors;
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(name + QStringLiteral(".so"));
        if (!QFileInfo::exists(path))
            continue;
        // Never unloaded: its views and the engine live until the program ends.
        QLibrary library(path);
        using Add = void (*)();
        if (const auto add = reinterpret_cast<Add>(library.resolve("quorrixAddWebToolViews"))) {
            add();
            return true;
        }
        errors += library.errorString() + u'\n';
    }
    qWarning().noquote() << "The web views' library did not load:" << (errors.isEmpty() ? name : errors.trimmed());
    return false;
}
