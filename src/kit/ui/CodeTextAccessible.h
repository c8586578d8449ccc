#pragma once

#include <QAccessibleWidget>
#include <QString>

#include <utility>

class CodeTextBuffer;
class CodeTextView;

// What assistive technology sees of a `CodeTextView`: an editable (or read-only) multi-line text
// with its content, caret and selection, read and edited through Qt's text interfaces. Offsets are
// the buffer's UTF-16 positions. Every answer reads only the part of the text it is about: the
// buffer's line table finds lines, the view's layout finds rows and cursor stops, and words and
// sentences are looked for in a window around the offset, so a query costs the same in a short
// text as in one of megabytes.
//
// The name is the view's accessible name or, without one, the role of the pane around it (outside
// panes, the title of its window); the placeholder is the description unless the view has one of
// its own.
class CodeTextAccessible : public QAccessibleWidget,
                           public QAccessibleTextInterface,
                           public QAccessibleEditableTextInterface {
public:
    explicit CodeTextAccessible(CodeTextView* view);

    // Registers the interface for every code view (once, however often called).
    static void install();

    // The notices a view sends as it changes; each returns at once while no assistive
    // technology listens, so that nothing is copied or sent for nobody.
    static bool listening();
    // What a notice carries of a change: all of it up to `toldLimit` units, else its start (a
    // screen reader speaks no more, and a whole new document never crosses the bus); nothing
    // while no one listens.
    static constexpr qsizetype toldLimit = 65536;
    static QString toldText(const CodeTextBuffer& buffer, qsizetype position, qsizetype length);
    // `removed` as `toldText` gave it; `inserted` is cut to `toldLimit` here.
    static void textReplaced(CodeTextView* view, qsizetype position, const QString& removed, const QString& inserted);
    static void selectionMoved(CodeTextView* view, qsizetype oldAnchor, qsizetype oldCaret);
    static void readOnlyChanged(CodeTextView* view);
    static void placeholderChanged(CodeTextView* view);

    // QAccessibleInterface
    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text type) const override;
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    // QAccessibleTextInterface
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
        int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
        int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
        int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // QAccessibleEditableTextInterface
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString& text) override;
    void replaceText(int startOffset, int endOffset, const QString& text) override;

private:
    CodeTextView* view() const;
    // The piece of the given kind that holds `offset` (0 <= offset <= length), as [start, end).
    std::pair<qsizetype, qsizetype> segmentAt(qsizetype offset, QAccessible::TextBoundaryType type) const;
    QString answer(std::pair<qsizetype, qsizetype> segment, int* startOffset, int* endOffset) const;
    // Puts the user's edit in place of [start, end), as if typed there.
    void editRange(int startOffset, int endOffset, const QString& text);
};
