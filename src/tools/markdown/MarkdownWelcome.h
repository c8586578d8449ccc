#pragma once

#include <QString>

// The document the Markdown tool starts with: a short tour of what the tool does.
namespace MarkdownWelcome {
const QString& document();
}
