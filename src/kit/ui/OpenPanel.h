#pragma once

#include <QFileDialog>
#include <QUrl>

#include <functional>

// Shows a caller-configured open dialog on the active window, else the main window, else free.
// Only one is up at a time in the whole program: a request while one shows is dropped.
// `completion` runs at most once, and only when the user confirmed a file.
void presentOpenPanel(QFileDialog* panel, std::function<void(const QUrl&)> completion);

// Whether an open dialog of the program is showing now.
bool isOpenPanelShowing();
