#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

#include <optional>

// What the preview lets its web view do: the page may only be loaded by the program itself, web
// links go to the desktop's browser, and every other navigation is cancelled. Also which context
// menu items the preview keeps.
namespace MarkdownLinkPolicy {

// Schemes under which the page itself may load.
inline const QSet<QString> pageSchemes{QStringLiteral("quorrix-doc"), QStringLiteral("about")};
// Link schemes handed to the desktop's browser.
inline const QSet<QString> browserSchemes{QStringLiteral("http"), QStringLiteral("https")};

// The page's address without a document folder: the scheme's root, so the page is always served
// by the program (and relative image paths name nothing readable).
QUrl blankPage();
// The page's address for a document folder (its base URL), or blankPage() without one.
QUrl pageAddress(const QUrl& folder);

// How a navigation came about.
enum class Navigation {
    programLoad,   // a load the program started (or a script's), checked against the page address
    linkActivated, // the user clicked a link, in any frame or asking for a new window
    other,         // form submission, back or forward, reload, redirect, anything else
};

struct Decision {
    bool allow = false;
    bool openInBrowser = false; // hand the URL to the desktop's browser (the navigation is cancelled)
    friend bool operator==(const Decision&, const Decision&) = default;
};

Decision decide(const QUrl& url, Navigation navigation, bool mainFrame, const QUrl& pageAddress);

// A context menu item as the filter sees it.
struct MenuItem {
    std::optional<QString> identifier;
    bool isSeparator = false;
    friend bool operator==(const MenuItem&, const MenuItem&) = default;
};

// Items that would reload the page, or that lead nowhere in this view (source view, saving).
inline const QSet<QString> droppedMenuIdentifiers{
    QStringLiteral("reload"), QStringLiteral("viewSource"), QStringLiteral("savePage"),
    QStringLiteral("downloadLinkToDisk"), QStringLiteral("downloadImageToDisk"),
    QStringLiteral("downloadMediaToDisk")};

// Indices (ascending) of the items to keep: every item but the dropped ones, without separators
// at either end.
QList<int> keptMenuItems(const QList<MenuItem>& items);

} // namespace MarkdownLinkPolicy
