#pragma once

#include "kit/web/FileDropWebView.h"

class QMenu;

// The preview's web view: a file-drop web view whose context menu cannot reload the page.
class MarkdownPreviewWebView : public FileDropWebView {
    Q_OBJECT
public:
    using FileDropWebView::FileDropWebView;

    // Removes from `menu` what the link policy does not keep (the page's own actions are named
    // by their web action).
    void filterContextMenu(QMenu* menu) const;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
};
