#include "app/ui/QuorrixApp.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    QuorrixApp::prepareProcess();
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorrix"));
    QApplication::setApplicationName(QStringLiteral("Quorrix"));
    QApplication::setApplicationVersion(QStringLiteral(QUORRIX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("quorrix"));

    QuorrixApp app;
    app.showMainWindow();
    const QStringList paths = application.arguments().mid(1);
    if (!paths.isEmpty())
        QTimer::singleShot(0, &app, [&app, paths] { app.openPaths(paths); });
    return application.exec();
}
