#include "tools/markdown/ui/MarkdownPreviewWebView.h"

#include "tools/markdown/MarkdownLinkPolicy.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QWebEnginePage>

#include <utility>

namespace {

const std::pair<QWebEnginePage::WebAction, const char*> namedActions[] = {
    {QWebEnginePage::Back, "back"},
    {QWebEnginePage::Forward, "forward"},
    {QWebEnginePage::Reload, "reload"},
    {QWebEnginePage::ReloadAndBypassCache, "reload"},
    {QWebEnginePage::ViewSource, "viewSource"},
    {QWebEnginePage::SavePage, "savePage"},
    {QWebEnginePage::DownloadLinkToDisk, "downloadLinkToDisk"},
    {QWebEnginePage::DownloadImageToDisk, "downloadImageToDisk"},
    {QWebEnginePage::DownloadMediaToDisk, "downloadMediaToDisk"},
    {QWebEnginePage::Copy, "copy"},
    {QWebEnginePage::SelectAll, "selectAll"},
    {QWebEnginePage::CopyLinkToClipboard, "copyLink"},
    {QWebEnginePage::CopyImageToClipboard, "copyImage"},
    {QWebEnginePage::OpenLinkInNewWindow, "openLinkInNewWindow"},
    {QWebEnginePage::OpenLinkInNewTab, "openLinkInNewTab"},
    {QWebEnginePage::InspectElement, "inspectElement"},
};

} // namespace

void MarkdownPreviewWebView::filterContextMenu(QMenu* menu) const
{
    const QList<QAction*> actions = menu->actions();
    QList<MarkdownLinkPolicy::MenuItem> items;
    items.reserve(actions.size());
    for (QAction* action : actions) {
        MarkdownLinkPolicy::MenuItem item;
        item.isSeparator = action->isSeparator();
        for (const auto& [webAction, name] : namedActions) {
            if (page() && action == page()->action(webAction)) {
                item.identifier = QString::fromLatin1(name);
                break;
            }
        }
        items.append(item);
    }
    const QList<int> kept = MarkdownLinkPolicy::keptMenuItems(items);
    for (qsizetype i = actions.size() - 1; i >= 0; --i) {
        if (!kept.contains(int(i)))
            menu->removeAction(actions[i]);
    }
}

void MarkdownPreviewWebView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu();
    filterContextMenu(menu);
    if (menu->actions().isEmpty()) {
        delete menu;
        return;
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
