#pragma once

#include <QString>

class QWebEnginePage;

// What the Markdown and Mermaid previews set on their pages alike.
namespace WebPageSetup {

// A page that shows local content only: no windows, clipboard, plugins, error pages, remote or
// file URLs, navigation on drop, focus on navigation or DNS prefetch.
void restrict(QWebEnginePage* page);

// Runs `source` in the page's main world as each document is created, before its own scripts.
void addDocumentScript(QWebEnginePage* page, const QString& name, const QString& source);

} // namespace WebPageSetup
