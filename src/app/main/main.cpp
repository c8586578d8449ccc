#include "app/FontConfiguration.h"
#include "app/InstanceChannel.h"
#include "app/ui/QuorrixApp.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    FontConfiguration::load();
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorrix"));
    QApplication::setApplicationName(QStringLiteral("Quorrix"));
    QApplication::setApplicationVersion(QStringLiteral(QUORRIX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("example.quorrix.Quorrix"));

    const QStringList paths = QuorrixApp::absolutePaths(application.arguments().mid(1));
    // A program already running takes the files, as the desktop's open event would.
    InstanceChannel channel;
    if (channel.sendToRunning(paths))
        return 0;

    QuorrixApp app;
    app.showMainWindow();
    channel.listen();
    QObject::connect(&channel, &InstanceChannel::pathsReceived, &app,
                     [&app](const QStringList& received) { app.openPaths(received); });
    if (!paths.isEmpty())
        QTimer::singleShot(0, &app, [&app, paths] { app.openPaths(paths); });
    return application.exec();
}
