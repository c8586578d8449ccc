// A Widgets-only main window, linked against nothing but Qt Widgets: the floor bench-startup
// measures the program's first paint against.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QMainWindow window;
    window.resize(1180, 740);
    window.show();
    return application.exec();
}
