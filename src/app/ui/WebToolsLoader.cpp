#include "app/ui/WebToolsLoader.h"

#include "kit/ProgramLibrary.h"
#include "kit/ui/ToolViewMakers.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QtDebug>

namespace {

struct LoaderState {
    QPointer<QThread> preloading;
    bool added = false;
};

LoaderState& state()
{
    static LoaderState loader;
    return loader;
}

QString libraryPath()
{
    return ProgramLibrary::path(QStringLiteral("quorrix-web-tools.so"));
}

QtMessageHandler& previousHandler()
{
    static QtMessageHandler previous = nullptr;
    return previous;
}

// Runs `work` without Qt's warning that context sharing is asked for after the QApplication
// exists: that is on purpose here (see install()); every other message passes on.
template <class Work>
void withLateSharing(Work&& work)
{
    previousHandler() = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type == QtWarningMsg && text.startsWith(QLatin1String("Attribute Qt::AA_ShareOpenGLContexts must be set")))
            return;
        previousHandler()(type, context, text);
    });
    work();
    qInstallMessageHandler(previousHandler());
}

} // namespace

void WebToolsLoader::install()
{
    // Asked for only now that the QApplication exists: asked before, the QApplication makes the
    // GL context the web views share as it starts, loading the GL driver before the first paint.
    // The web views' library makes that context as it adds its views; told now, the engine's
    // library does not warn, as it loads, that nobody asked.
    withLateSharing([] { QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); });
    // On Linux the web engine keeps its pages (the previews) out of the accessibility tree
    // unless told otherwise before it starts.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"))
        qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
    ToolViewMakers::setLoader([] { load(); });
}

void WebToolsLoader::preload(QObject* context, std::function<void()> done)
{
    LoaderState& loader = state();
    if (loader.added) {
        QTimer::singleShot(0, context, std::move(done));
        return;
    }
    if (!loader.preloading) {
        const QString path = libraryPath();
        // Only the loading: the makers are added on the GUI thread, which owns the views.
        loader.preloading = QThread::create([path] {
            if (!path.isEmpty())
                QLibrary(path).load();
        });
        QObject::connect(loader.preloading, &QThread::finished, loader.preloading, &QObject::deleteLater);
        // Never left loading while the program's own objects are destroyed.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, loader.preloading, [thread = loader.preloading] {
            thread->wait();
        });
        loader.preloading->start();
    }
    QObject::connect(loader.preloading, &QThread::finished, context, std::move(done));
}

bool WebToolsLoader::load()
{
    LoaderState& loader = state();
    if (loader.preloading)
        loader.preloading->wait();
    if (loader.added)
        return true;
    const QString path = libraryPath();
    // Never unloaded: its views and the engine live until the program ends.
    QLibrary library(path);
    using Add = void (*)();
    const auto add = path.isEmpty() ? nullptr : reinterpret_cast<Add>(library.resolve("quorrixAddWebToolViews"));
    if (!add) {
        qWarning().noquote() << "The web views' library did not load:"
                             << (path.isEmpty() ? QStringLiteral("quorrix-web-tools.so not found") : library.errorString());
        return false;
    }
    // The library makes the shared GL context, asking for sharing again.
    withLateSharing(add);
    loader.added = true;
    return true;
}
