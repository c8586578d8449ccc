#pragma once

#include "formats/TextRange.h"

#include <QString>
#include <QStringView>

#include <utility>

// Helpers shared by the text editors and the view models that feed them. Offsets and lengths
// are UTF-16 code units.
namespace TextHelpers {

using Range = TextRange;

// 0 for the empty text, else 1 plus the line breaks, where LF, CR and CR LF each count once.
qsizetype lineCount(QStringView text);

// The number of bytes the text takes in UTF-8; a lone surrogate counts as U+FFFD (3 bytes).
qint64 utf8Length(QStringView text);

// The same text when it holds no unpaired surrogate (shared, not copied); else a copy with each
// unpaired surrogate replaced by U+FFFD, so offsets stay the same.
QString repairedUTF16(const QString& text);

// Whether the text holds a CR; a large one is read in parts side by side, since a paste waits.
bool containsCarriageReturn(QStringView text);

// The text with every CR LF and lone CR turned into LF (editors keep LF only).
QString normalizedLineBreaks(QStringView text);
// The same text, shared and not copied, when it holds no CR.
QString normalizedLineBreaks(const QString& text);

// Whether an edit (its range in the text after the edit, and its change in length) is a pure
// insertion at the start of the text or right after a line feed or paragraph separator.
bool isInsertAfterLineBreak(Range edited, qsizetype changeInLength, QStringView text);

// The range a highlighter re-examines after an edit: the edited range, one unit longer unless
// the edit is an insertion after a line break, capped at the text's end, and never splitting a
// CR LF pair.
Range lineBreakEditRange(Range edited, qsizetype changeInLength, QStringView text);

// Where two texts differ: the range replaced in the old text and the range that replaced it in
// the new one, after their common start and end (compared a few kilobytes at a time).
std::pair<Range, Range> changedRanges(const QString& oldText, const QString& newText);

// Whether the text holds a right-to-left letter or embedding, which reorders it on screen.
bool holdsRightToLeft(QStringView text);

} // namespace TextHelpers
