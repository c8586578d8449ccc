#include "kit/ui/OpenPanel.h"

#include <QApplication>
#include <QMainWindow>
#include <QPointer>

namespace {
bool panelShowing = false;

QWidget* panelHost()
{
    if (QWidget* active = QApplication::activeWindow())
        return active;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMainWindow*>(top) && top->isVisible())
            return top;
    }
    return nullptr;
}
} // namespace

bool isOpenPanelShowing()
{
    return panelShowing;
}

void presentOpenPanel(QFileDialog* panel, std::function<void(const QUrl&)> completion)
{
    if (!panel)
        return;
    if (panelShowing) {
        panel->deleteLater();
        return;
    }
    panelShowing = true;
    if (QWidget* host = panelHost()) {
        host->activateWindow();
        panel->setParent(host, panel->windowFlags() | Qt::Sheet);
        panel->setWindowModality(Qt::WindowModal);
    }
    panel->setAttribute(Qt::WA_DeleteOnClose, false);
    QObject::connect(panel, &QDialog::finished, panel, [panel, completion = std::move(completion)](int result) {
        panelShowing = false;
        const QList<QUrl> urls = panel->selectedUrls();
        panel->deleteLater();
        if (result == QDialog::Accepted && !urls.isEmpty() && completion)
            completion(urls.first());
    });
    panel->open();
}
