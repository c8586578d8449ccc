#pragma once

#include <QString>

// The preview page: one HTML document, built once from the bundled template, style sheet and
// script, with a Content-Security-Policy that admits exactly the embedded script (by digest).
namespace MarkdownPageDocument {

// The page script, exactly the text between the opening and closing script tags.
const QString& markdownPreviewScript();
// "sha256-" and the Base64 SHA-256 of the script's UTF-8 bytes.
const QString& markdownPreviewScriptDigest();
// The policy text, directives joined by "; ".
const QString& markdownPreviewPolicy();
// The whole page document.
const QString& markdownPreviewPage();
// The page as served: its root marked "dark" when the window is dark, so it never shows light first.
QString markdownPreviewPage(bool dark);
// The call that switches a loaded page's appearance.
QString appearanceScript(bool dark, qreal textScale);
// The script run in a world of its own beside the page: the web channel client, the bridge that
// carries the page's messages to the program, and the links the user clicks.
const QString& bridgeScript();
// The script given to the page's own world before its script: the "sync" handler.
const QString& handlerScript();

} // namespace MarkdownPageDocument
