#include "kit/ui/CodeTextAccessible.h"

#include "kit/ui/CodeTextLayout.h"
#include "kit/ui/CodeTextView.h"
#include "kit/ui/ToolPane.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <climits>

namespace {

// Words and sentences are looked for this far on either side of an offset: a longer one is
// answered in pieces, and a long line is never read whole.
constexpr qsizetype kWindow = 4096;

int toInt(qsizetype value) { return int(std::clamp<qsizetype>(value, INT_MIN, INT_MAX)); }

QAccessibleInterface* makeInterface(const QString&, QObject* object)
{
    if (auto* view = qobject_cast<CodeTextView*>(object))
        return new CodeTextAccessible(view);
    return nullptr;
}

void send(QAccessibleEvent& event) { QAccessible::updateAccessibility(&event); }

} // namespace

CodeTextAccessible::CodeTextAccessible(CodeTextView* view) : QAccessibleWidget(view, QAccessible::EditableText) {}

void CodeTextAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    (void)installed;
}

CodeTextView* CodeTextAccessible::view() const { return static_cast<CodeTextView*>(widget()); }

// ---------------------------------------------------------------- notices

bool CodeTextAccessible::listening() { return QAccessible::isActive(); }

QString CodeTextAccessible::toldText(const CodeTextBuffer& buffer, qsizetype position, qsizetype length)
{
    return listening() ? buffer.mid(position, std::min(length, toldLimit)) : QString();
}

void CodeTextAccessible::textReplaced(CodeTextView* view, qsizetype position, const QString& removed,
    const QString& came)
{
    if (!listening())
        return;
    const int at = toInt(position);
    const QString inserted = came.size() > toldLimit ? came.left(toldLimit) : came;
    if (!removed.isEmpty() && !inserted.isEmpty()) {
        QAccessibleTextUpdateEvent event(view, at, removed, inserted);
        send(event);
    } else if (!removed.isEmpty()) {
        QAccessibleTextRemoveEvent event(view, at, removed);
        send(event);
    } else if (!inserted.isEmpty()) {
        QAccessibleTextInsertEvent event(view, at, inserted);
        send(event);
    }
}

void CodeTextAccessible::selectionMoved(CodeTextView* view, qsizetype oldAnchor, qsizetype oldCaret)
{
    if (!listening())
        return;
    const qsizetype caret = view->caretPosition();
    if (oldAnchor != oldCaret || view->hasSelection()) {
        const TextRange sel = view->selection();
        QAccessibleTextSelectionEvent event(view, toInt(sel.location), toInt(sel.end()));
        event.setCursorPosition(toInt(caret));
        send(event);
    }
    if (caret != oldCaret) {
        QAccessibleTextCursorEvent event(view, toInt(caret));
        send(event);
    }
}

void CodeTextAccessible::readOnlyChanged(CodeTextView* view)
{
    if (!listening())
        return;
    QAccessible::State changed;
    changed.readOnly = true;
    changed.editable = true;
    QAccessibleStateChangeEvent event(view, changed);
    send(event);
}

void CodeTextAccessible::placeholderChanged(CodeTextView* view)
{
    if (!listening())
        return;
    QAccessibleEvent event(view, QAccessible::DescriptionChanged);
    send(event);
}

// ---------------------------------------------------------------- the object

void* CodeTextAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    if (type == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::Role CodeTextAccessible::role() const { return QAccessible::EditableText; }

QAccessible::State CodeTextAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    const bool readOnly = view()->isReadOnly();
    s.editable = !readOnly;
    s.readOnly = readOnly;
    s.multiLine = true;
    s.selectableText = true;
    s.focusable = view()->focusPolicy() != Qt::NoFocus;
    return s;
}

QString CodeTextAccessible::text(QAccessible::Text type) const
{
    QString answer = QAccessibleWidget::text(type);
    if (!answer.isEmpty())
        return answer;
    if (type == QAccessible::Name) {
        for (QWidget* w = view()->parentWidget(); w; w = w->parentWidget()) {
            if (auto* pane = qobject_cast<ToolPane*>(w))
                return pane->role();
        }
        // A view that is all of a window of its own (the acknowledgements) goes by its title.
        if (QWidget* window = view()->window(); window != view())
            return window->windowTitle();
    } else if (type == QAccessible::Description) {
        return view()->placeholderText();
    }
    return answer;
}

// ---------------------------------------------------------------- selection and caret

void CodeTextAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || !view()->hasSelection())
        return;
    // Asked while an edit is told, the selection may not have been moved into the text yet.
    const TextRange sel = view()->selection();
    const qsizetype n = view()->length();
    *startOffset = toInt(std::min(sel.location, n));
    *endOffset = toInt(std::min(sel.end(), n));
}

int CodeTextAccessible::selectionCount() const { return view()->hasSelection() ? 1 : 0; }

void CodeTextAccessible::addSelection(int startOffset, int endOffset) { setSelection(0, startOffset, endOffset); }

void CodeTextAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex != 0 || !view()->hasSelection())
        return;
    const qsizetype caret = view()->caretPosition();
    view()->setSelection(caret, caret);
}

void CodeTextAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex != 0)
        return;
    view()->setSelection(startOffset, endOffset);
    view()->revealRange({view()->caretPosition(), 0}, false);
}

int CodeTextAccessible::cursorPosition() const
{
    return toInt(std::min(view()->caretPosition(), view()->length()));
}

void CodeTextAccessible::setCursorPosition(int position)
{
    view()->setSelection(position, position);
    view()->revealRange({view()->caretPosition(), 0}, false);
}

// ---------------------------------------------------------------- text

int CodeTextAccessible::characterCount() const { return toInt(view()->length()); }

QString CodeTextAccessible::text(int startOffset, int endOffset) const
{
    const qsizetype n = view()->length();
    const qsizetype from = std::clamp<qsizetype>(startOffset, 0, n);
    // An end of -1 (or past the text) means the end of the text.
    const qsizetype to = endOffset < 0 ? n : std::clamp<qsizetype>(endOffset, from, n);
    return view()->textInRange({from, to - from});
}

std::pair<qsizetype, qsizetype> CodeTextAccessible::segmentAt(qsizetype offset, QAccessible::TextBoundaryType type) const
{
    const CodeTextBuffer& buffer = view()->buffer();
    const qsizetype n = buffer.length();
    if (type == QAccessible::NoBoundary)
        return {0, n};
    const qsizetype line = buffer.lineAt(offset);
    const qsizetype lineStart = buffer.lineStart(line), lineEnd = buffer.lineEnd(line);
    const qsizetype lineBreakEnd = line + 1 < buffer.lineCount() ? lineEnd + 1 : lineEnd;
    CodeTextLayout& layout = view()->textLayout();
    switch (type) {
    case QAccessible::CharBoundary: {
        if (offset >= n)
            return {n, n};
        // The cursor's own stops, so that no cluster (nor surrogate pair) is ever split.
        const qsizetype next = layout.nextCursorPosition(offset);
        return {std::min(offset, layout.previousCursorPosition(next)), next};
    }
    case QAccessible::LineBoundary: {
        // The row shown; the last row of a line takes its line feed.
        const auto [start, end] = layout.rowRange(line, layout.rowOfPosition(offset, false));
        return {start, end >= lineEnd ? lineBreakEnd : end};
    }
    case QAccessible::ParagraphBoundary:
        return {lineStart, lineBreakEnd};
    case QAccessible::WordBoundary:
    case QAccessible::SentenceBoundary: {
        if (offset >= lineEnd)
            return {offset, lineBreakEnd};
        qsizetype from = std::max(lineStart, offset - kWindow);
        qsizetype to = std::min(lineEnd, offset + kWindow);
        if (from > lineStart && buffer.at(from).isLowSurrogate())
            ++from;
        if (to < lineEnd && buffer.at(to - 1).isHighSurrogate())
            ++to;
        const QString window = buffer.mid(from, to - from);
        QTextBoundaryFinder finder(
            type == QAccessible::WordBoundary ? QTextBoundaryFinder::Word : QTextBoundaryFinder::Sentence, window);
        finder.setPosition(int(offset - from));
        qsizetype start = finder.isAtBoundary() ? finder.position() : finder.toPreviousBoundary();
        if (start < 0)
            start = 0;
        finder.setPosition(int(start));
        qsizetype end = finder.toNextBoundary();
        if (end < 0)
            end = window.size();
        return {from + start, from + end};
    }
    case QAccessible::NoBoundary: break;
    }
    return {0, n};
}

QString CodeTextAccessible::answer(std::pair<qsizetype, qsizetype> segment, int* startOffset, int* endOffset) const
{
    *startOffset = toInt(segment.first);
    *endOffset = toInt(segment.second);
    return view()->textInRange({segment.first, segment.second - segment.first});
}

QString CodeTextAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
    int* endOffset) const
{
    *startOffset = *endOffset = -1;
    if (offset < 0 || offset > view()->length())
        return QString();
    return answer(segmentAt(offset, type), startOffset, endOffset);
}

QString CodeTextAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
    int* endOffset) const
{
    *startOffset = *endOffset = -1;
    if (offset < 0 || offset > view()->length())
        return QString();
    const qsizetype start = segmentAt(offset, type).first;
    if (start <= 0) {
        *startOffset = *endOffset = 0;
        return QString();
    }
    return answer(segmentAt(start - 1, type), startOffset, endOffset);
}

QString CodeTextAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
    int* endOffset) const
{
    *startOffset = *endOffset = -1;
    const qsizetype n = view()->length();
    if (offset < 0 || offset > n)
        return QString();
    const qsizetype end = segmentAt(offset, type).second;
    if (end >= n) {
        *startOffset = *endOffset = toInt(n);
        return QString();
    }
    return answer(segmentAt(end, type), startOffset, endOffset);
}

QString CodeTextAccessible::attributes(int, int* startOffset, int* endOffset) const
{
    // Colours are the highlighters' and say nothing the text does not: one plain run.
    *startOffset = 0;
    *endOffset = characterCount();
    return QString();
}

// ---------------------------------------------------------------- geometry

QRect CodeTextAccessible::characterRect(int offset) const
{
    CodeTextView* v = view();
    if (offset < 0 || offset > v->length())
        return QRect();
    QRect r = v->positionRect(offset);
    if (offset < v->length()) {
        const QRect next = v->positionRect(v->textLayout().nextCursorPosition(offset));
        if (next.top() == r.top() && next.left() > r.left())
            r.setWidth(next.left() - r.left());
    }
    return QRect(v->viewport()->mapToGlobal(r.topLeft()), r.size());
}

int CodeTextAccessible::offsetAtPoint(const QPoint& point) const
{
    CodeTextView* v = view();
    const QPoint local = v->viewport()->mapFromGlobal(point);
    if (!v->viewport()->rect().contains(local))
        return -1;
    return toInt(v->positionAt(local));
}

void CodeTextAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    const qsizetype from = std::clamp<qsizetype>(std::min(startIndex, endIndex), 0, view()->length());
    const qsizetype to = std::clamp<qsizetype>(std::max(startIndex, endIndex), from, view()->length());
    view()->revealRange({from, to - from}, false);
}

// ---------------------------------------------------------------- edits

void CodeTextAccessible::editRange(int startOffset, int endOffset, const QString& text)
{
    CodeTextView* v = view();
    if (v->isReadOnly())
        return;
    const qsizetype n = v->length();
    const qsizetype from = std::clamp<qsizetype>(std::min(startOffset, endOffset), 0, n);
    const qsizetype to = std::clamp<qsizetype>(std::max(startOffset, endOffset), from, n);
    v->setSelection(from, to);
    v->insertPlainText(text);
}

void CodeTextAccessible::deleteText(int startOffset, int endOffset) { editRange(startOffset, endOffset, QString()); }

void CodeTextAccessible::insertText(int offset, const QString& text) { editRange(offset, offset, text); }

void CodeTextAccessible::replaceText(int startOffset, int endOffset, const QString& text)
{
    editRange(startOffset, endOffset, text);
}
