// A Widgets-only main window, linked against nothing but Qt Widgets: the floor bench-startup
// measures the program's first paint against.
#include "FirstPaintReport.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>

namespace {

class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!m_seen && event->type() == QEvent::Paint && watched->isWidgetType()) {
            m_seen = true;
            // Reported once this paint has been delivered.
            QTimer::singleShot(0, qApp, [] {
                reportFirstPaint(0);
                QApplication::exit(0);
            });
        }
        return false;
    }

private:
    bool m_seen = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    FirstPaint watcher;
    QMainWindow window;
    window.resize(1180, 740);
    window.installEventFilter(&watcher);
    window.show();
    return application.exec();
}
