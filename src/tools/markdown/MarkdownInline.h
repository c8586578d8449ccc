#pragma once

#include "tools/markdown/MarkdownOutput.h"

#include <QString>
#include <QStringView>

// Inline formatting of one block's text: code spans, images, links, bare web addresses, strong,
// emphasis and strike-through. All other text, raw HTML included, is escaped. Line breaks pass
// through unchanged. The text must not hold U+0000 or U+0001 (the converter's entry replaces them).
namespace MarkdownInline {

void appendInline(QStringView text, MarkdownOutput& out);

// "&", "<", ">" to entities; double quotes stay.
QString escapeHTML(QStringView text);
void appendEscapedHTML(QStringView text, MarkdownOutput& out);

// Whether an escaped attribute value may be a link's href (forImage false) or an image's src.
bool isAllowedURL(QStringView attributeText, bool forImage);

} // namespace MarkdownInline
