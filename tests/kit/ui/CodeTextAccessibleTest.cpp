#include "kit/ui/CodeTextView.h"
#include "kit/ui/ToolPane.h"

#include <QAccessible>
#include <QApplication>
#include <QRandomGenerator>
#include <QTest>

#include <memory>

namespace {

// What a screen reader hears of an event, kept after the event is gone.
struct Heard {
    Heard(QAccessible::Event t = QAccessible::InvalidEvent, int p = -1, QString r = {}, QString i = {})
        : type(t), position(p), removed(std::move(r)), inserted(std::move(i))
    {
    }
    QAccessible::Event type;
    int position;
    QString removed;
    QString inserted;
    friend bool operator==(const Heard& a, const Heard& b)
    {
        return a.type == b.type && a.position == b.position && a.removed == b.removed && a.inserted == b.inserted;
    }
};

char* toString(const Heard& h)
{
    return QTest::toString(QStringLiteral("%1 at %2, -\"%3\" +\"%4\"")
                               .arg(int(h.type), 0, 16).arg(h.position).arg(h.removed, h.inserted));
}

QList<Heard> heard;
const QObject* listenedTo = nullptr;

void listen(QAccessibleEvent* event)
{
    if (event->object() != listenedTo)
        return;
    Heard h{event->type()};
    switch (event->type()) {
    case QAccessible::TextInserted: {
        auto* e = static_cast<QAccessibleTextInsertEvent*>(event);
        h.position = e->changePosition();
        h.inserted = e->textInserted();
        break;
    }
    case QAccessible::TextRemoved: {
        auto* e = static_cast<QAccessibleTextRemoveEvent*>(event);
        h.position = e->changePosition();
        h.removed = e->textRemoved();
        break;
    }
    case QAccessible::TextUpdated: {
        auto* e = static_cast<QAccessibleTextUpdateEvent*>(event);
        h.position = e->changePosition();
        h.removed = e->textRemoved();
        h.inserted = e->textInserted();
        break;
    }
    case QAccessible::TextCaretMoved:
    case QAccessible::TextSelectionChanged:
        h.position = static_cast<QAccessibleTextCursorEvent*>(event)->cursorPosition();
        break;
    default: return;
    }
    heard.append(h);
}

// A document whose first line is about `lineLength` units of words, then an emoji (a surrogate
// pair) and a short second line.
QString sample(int lineLength)
{
    QString text;
    while (text.size() < lineLength)
        text += QStringLiteral("word ");
    return text + QStringLiteral("\U0001F600x tail\nsecond line");
}

QAccessibleTextInterface* textOf(CodeTextView& view)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&view);
    return iface ? iface->textInterface() : nullptr;
}

} // namespace

class CodeTextAccessibleTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void describesTheView_data();
    void describesTheView();
    void readsTextByUnit_data();
    void readsTextByUnit();
    void piecesTileTheText_data();
    void piecesTileTheText();
    void readsAndSetsCaretAndSelection_data();
    void readsAndSetsCaretAndSelection();
    void editsAsTheUser_data();
    void editsAsTheUser();
    void reportsTypingAndMoves_data();
    void reportsTypingAndMoves();

private:
    std::unique_ptr<ToolPane> m_pane;
    CodeTextView* m_view = nullptr;
};

void CodeTextAccessibleTest::init()
{
    m_pane = std::make_unique<ToolPane>(QStringLiteral("Source"));
    m_view = new CodeTextView;
    m_pane->setContent(m_view);
    m_pane->resize(420, 300);
    m_pane->show();
    heard.clear();
    listenedTo = m_view;
}

void CodeTextAccessibleTest::cleanup()
{
    QAccessible::installUpdateHandler(nullptr);
    listenedTo = nullptr;
    m_pane.reset();
}

void CodeTextAccessibleTest::describesTheView_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("ownName");
    QTest::addColumn<QString>("placeholder");
    QTest::addColumn<QString>("windowTitle");
    QTest::addColumn<QString>("name");

    QTest::newRow("editable, named by its pane") << false << QString() << QString() << QString()
                                                 << QStringLiteral("Source");
    QTest::newRow("read-only, named by its pane") << true << QString() << QString() << QString()
                                                  << QStringLiteral("Source");
    QTest::newRow("its own name wins") << false << QStringLiteral("Markdown source") << QString() << QString()
                                       << QStringLiteral("Markdown source");
    QTest::newRow("placeholder as description") << false << QString() << QStringLiteral("Paste JSON here")
                                                << QString() << QStringLiteral("Source");
    QTest::newRow("outside panes, named by its window") << true << QString() << QString()
                                                        << QStringLiteral("Acknowledgements")
                                                        << QStringLiteral("Acknowledgements");
}

void CodeTextAccessibleTest::describesTheView()
{
    QFETCH(bool, readOnly);
    QFETCH(QString, ownName);
    QFETCH(QString, placeholder);
    QFETCH(QString, windowTitle);
    QFETCH(QString, name);
    CodeTextView* view = m_view;
    std::unique_ptr<QWidget> window;
    if (!windowTitle.isEmpty()) {
        window = std::make_unique<QWidget>();
        window->setWindowTitle(windowTitle);
        view = new CodeTextView(window.get());
        window->show();
        window->activateWindow();
    }
    view->setReadOnly(readOnly);
    view->setAccessibleName(ownName);
    view->setPlaceholderText(placeholder);
    view->setFocus();
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(view);
    QVERIFY(iface && iface->textInterface() && iface->editableTextInterface());
    QCOMPARE(iface->role(), QAccessible::EditableText);
    QCOMPARE(iface->text(QAccessible::Name), name);
    QCOMPARE(iface->text(QAccessible::Description), placeholder);
    const QAccessible::State state = iface->state();
    QCOMPARE(bool(state.editable), !readOnly);
    QCOMPARE(bool(state.readOnly), readOnly);
    QVERIFY(state.multiLine && state.focusable && state.selectableText);
    QTRY_VERIFY(iface->state().focused);
    // The viewport and scroll bars are the view's own business: a text has no children.
    QCOMPARE(iface->childCount(), 0);
}

void CodeTextAccessibleTest::readsTextByUnit_data()
{
    QTest::addColumn<int>("lineLength");
    QTest::addColumn<bool>("wrap");
    QTest::newRow("short line") << 10 << true;
    QTest::newRow("line over 4096 units") << 5000 << true;
    QTest::newRow("line over 16384 units") << 20000 << true;
    QTest::newRow("line over 16384 units, unwrapped") << 20000 << false;
}

void CodeTextAccessibleTest::readsTextByUnit()
{
    QFETCH(int, lineLength);
    QFETCH(bool, wrap);
    const QString text = sample(lineLength);
    m_view->setWrapEnabled(wrap);
    m_view->setText(text);
    QAccessibleTextInterface* t = textOf(*m_view);
    QVERIFY(t);
    QCOMPARE(t->characterCount(), text.size()); // UTF-16 units
    QCOMPARE(t->text(0, -1), text);
    const int emoji = int(text.indexOf(QStringLiteral("\U0001F600")));
    QCOMPARE(t->text(emoji, emoji + 3), QStringLiteral("\U0001F600x"));

    int start = -1, end = -1;
    // A character is a whole cluster: asked at either half of the pair, the pair answers.
    for (int at : {emoji, emoji + 1}) {
        QCOMPARE(t->textAtOffset(at, QAccessible::CharBoundary, &start, &end), QStringLiteral("\U0001F600"));
        QCOMPARE(start, emoji);
        QCOMPARE(end, emoji + 2);
    }
    QCOMPARE(t->textAfterOffset(emoji, QAccessible::CharBoundary, &start, &end), QStringLiteral("x"));
    QCOMPARE(t->textBeforeOffset(emoji + 2, QAccessible::CharBoundary, &start, &end), QStringLiteral("\U0001F600"));
    QCOMPARE(start, emoji);

    QCOMPARE(t->textAtOffset(emoji - 3, QAccessible::WordBoundary, &start, &end), QStringLiteral("word"));
    QCOMPARE(start, emoji - 5);
    QCOMPARE(t->textAfterOffset(emoji + 3, QAccessible::WordBoundary, &start, &end), QStringLiteral("tail"));

    const int secondLine = int(text.indexOf(QLatin1Char('\n'))) + 1;
    QCOMPARE(t->textAtOffset(3, QAccessible::ParagraphBoundary, &start, &end), text.left(secondLine));
    QCOMPARE(t->textAtOffset(int(text.size()), QAccessible::LineBoundary, &start, &end), QStringLiteral("second line"));
    QCOMPARE(start, secondLine);
    QCOMPARE(t->textAtOffset(0, QAccessible::NoBoundary, &start, &end), text);

    // Lines are the rows shown: a line wider than the view is read in several, the last of
    // them with its line feed.
    t->textAtOffset(0, QAccessible::LineBoundary, &start, &end);
    QCOMPARE(start, 0);
    QCOMPARE(end < secondLine, wrap && lineLength > 100);
    QVERIFY(t->textBeforeOffset(secondLine, QAccessible::LineBoundary, &start, &end).endsWith(QLatin1Char('\n')));
    QCOMPARE(end, secondLine);

    QCOMPARE(t->textAtOffset(-1, QAccessible::CharBoundary, &start, &end), QString());
    QCOMPARE(t->textAtOffset(int(text.size()) + 1, QAccessible::CharBoundary, &start, &end), QString());
    QCOMPARE(start, -1);
}

void CodeTextAccessibleTest::piecesTileTheText_data()
{
    QTest::addColumn<int>("boundary");
    QTest::newRow("characters") << int(QAccessible::CharBoundary);
    QTest::newRow("words") << int(QAccessible::WordBoundary);
    QTest::newRow("sentences") << int(QAccessible::SentenceBoundary);
    QTest::newRow("rows") << int(QAccessible::LineBoundary);
    QTest::newRow("lines") << int(QAccessible::ParagraphBoundary);
}

void CodeTextAccessibleTest::piecesTileTheText()
{
    // A random text of words, clusters and lines of every length, one of them over 16384 units.
    QFETCH(int, boundary);
    const auto type = QAccessible::TextBoundaryType(boundary);
    static const QStringList parts{QStringLiteral("word"), QStringLiteral(" "), QStringLiteral("\t"),
        QStringLiteral("\U0001F600"), QStringLiteral("e\u0301"), QStringLiteral("\U0001F1EB\U0001F1F7"),
        QStringLiteral("\u6F22\u5B57"), QStringLiteral("\u0645\u0631\u062D\u0628\u0627"), QStringLiteral(". "),
        QStringLiteral("\n"), QStringLiteral("x_1")};
    QRandomGenerator random(20261210 + boundary);
    QString text;
    while (text.size() < 30000) {
        const QString& part = parts.at(random.bounded(int(parts.size())));
        // Few breaks at first, so the first line grows long.
        if (part != QLatin1String("\n") || text.size() > 20000)
            text += part;
    }
    m_view->setText(text);
    QAccessibleTextInterface* t = textOf(*m_view);
    const int n = int(text.size());
    for (int i = 0; i < 300; ++i) {
        const int at = int(random.bounded(n + 1));
        int start = -1, end = -1;
        const QString piece = t->textAtOffset(at, type, &start, &end);
        QVERIFY2(start <= at && (at < end || at == n), qPrintable(QStringLiteral("%1: %2..%3").arg(at).arg(start).arg(end)));
        QCOMPARE(piece, text.mid(start, end - start));
        QVERIFY(start == 0 || !text.at(start).isLowSurrogate());
        QVERIFY(end == n || !text.at(end).isLowSurrogate());
    }
    // Read one after the other from the start, the pieces give the text back.
    QString read;
    int start = -1, end = -1;
    read += t->textAtOffset(0, type, &start, &end);
    QCOMPARE(start, 0);
    for (int steps = 0; end < n && steps <= n; ++steps) {
        const int last = end;
        read += t->textAfterOffset(start, type, &start, &end);
        QCOMPARE(start, last);
    }
    QCOMPARE(read, text);
}

void CodeTextAccessibleTest::readsAndSetsCaretAndSelection_data()
{
    QTest::addColumn<int>("lineLength");
    QTest::newRow("short line") << 10;
    QTest::newRow("line over 4096 units") << 5000;
    QTest::newRow("line over 16384 units") << 20000;
}

void CodeTextAccessibleTest::readsAndSetsCaretAndSelection()
{
    QFETCH(int, lineLength);
    const QString text = sample(lineLength);
    m_view->setText(text);
    QAccessibleTextInterface* t = textOf(*m_view);
    const int emoji = int(text.indexOf(QStringLiteral("\U0001F600")));

    m_view->setSelection(emoji + 2, 3);
    QCOMPARE(t->cursorPosition(), 3);
    QCOMPARE(t->selectionCount(), 1);
    int start = -1, end = -1;
    t->selection(0, &start, &end);
    QCOMPARE(start, 3);
    QCOMPARE(end, emoji + 2);

    t->setCursorPosition(emoji + 2);
    QCOMPARE(m_view->caretPosition(), qsizetype(emoji + 2));
    QCOMPARE(t->selectionCount(), 0);
    // The caret is brought into view, however far along the line it is.
    QVERIFY(m_view->viewport()->rect().intersects(m_view->positionRect(emoji + 2)));
    const QRect r = t->characterRect(emoji + 2);
    QVERIFY(r.isValid());
    QCOMPARE(t->offsetAtPoint(r.center()), emoji + 2);

    t->addSelection(emoji, emoji + 2);
    QCOMPARE(m_view->selectedText(), QStringLiteral("\U0001F600"));
    QCOMPARE(t->cursorPosition(), emoji + 2);
    t->removeSelection(0);
    QVERIFY(!m_view->hasSelection());
    QCOMPARE(t->cursorPosition(), emoji + 2);
}

void CodeTextAccessibleTest::editsAsTheUser_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("with");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("expected");

    const QString text = QStringLiteral("ab\U0001F600cd\nef");
    QTest::newRow("insert") << "insert" << 2 << 2 << "XY" << false << QStringLiteral("abXY\U0001F600cd\nef");
    QTest::newRow("insert emoji at the end") << "insert" << 9 << 9 << "\U0001F44D" << false
                                             << QStringLiteral("ab\U0001F600cd\nef\U0001F44D");
    QTest::newRow("delete a surrogate pair") << "delete" << 2 << 4 << "" << false << QStringLiteral("abcd\nef");
    QTest::newRow("delete, ends swapped") << "delete" << 4 << 2 << "" << false << QStringLiteral("abcd\nef");
    QTest::newRow("replace across lines") << "replace" << 5 << 8 << "-" << false
                                          << QStringLiteral("ab\U0001F600c-f");
    QTest::newRow("line breaks normalised") << "insert" << 0 << 0 << "1\r\n2\r" << false
                                            << QStringLiteral("1\n2\nab\U0001F600cd\nef");
    QTest::newRow("read-only refuses") << "replace" << 0 << 2 << "zz" << true << text;
}

void CodeTextAccessibleTest::editsAsTheUser()
{
    QFETCH(QString, operation);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(QString, with);
    QFETCH(bool, readOnly);
    QFETCH(QString, expected);
    m_view->setText(QStringLiteral("ab\U0001F600cd\nef"));
    m_view->setReadOnly(readOnly);
    QAccessibleEditableTextInterface* e = QAccessible::queryAccessibleInterface(m_view)->editableTextInterface();
    QVERIFY(e);
    if (operation == QLatin1String("insert"))
        e->insertText(start, with);
    else if (operation == QLatin1String("delete"))
        e->deleteText(start, end);
    else
        e->replaceText(start, end, with);
    QCOMPARE(m_view->text(), expected);
    // An edit by assistive technology is the user's: it can be undone.
    QCOMPARE(m_view->canUndo(), !readOnly);
    if (!readOnly) {
        m_view->undo();
        QCOMPARE(m_view->text(), QStringLiteral("ab\U0001F600cd\nef"));
    }
}

void CodeTextAccessibleTest::reportsTypingAndMoves_data()
{
    // Notices go out only while the platform's accessibility is on (under X11 with an
    // accessibility bus; the headless platform has none).
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs the X11 platform with an accessibility bus");
    QTest::addColumn<int>("lineLength");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QList<Heard>>("expected");

    for (int length : {10, 5000, 20000}) {
        const QString text = sample(length);
        const int emoji = int(text.indexOf(QStringLiteral("\U0001F600")));
        const int lineEnd = int(text.indexOf(QLatin1Char('\n')));
        const QByteArray size = QByteArray::number(length);
        QTest::newRow(size + ": typing at the line end")
            << length << "type" << QList<Heard>{{QAccessible::TextInserted, lineEnd, {}, QStringLiteral("!")},
                                                   {QAccessible::TextCaretMoved, lineEnd + 1}};
        QTest::newRow(size + ": backspace over an emoji")
            << length << "backspace" << QList<Heard>{{QAccessible::TextRemoved, emoji, QStringLiteral("\U0001F600"), {}},
                                                        {QAccessible::TextCaretMoved, emoji}};
        QTest::newRow(size + ": shift+left selects the emoji")
            << length << "select" << QList<Heard>{{QAccessible::TextSelectionChanged, emoji},
                                                     {QAccessible::TextCaretMoved, emoji}};
        if (length == 5000) {
            QTest::newRow(size + ": a paste of 100000 units is told by its start")
                << length << "paste" << QList<Heard>{{QAccessible::TextInserted, lineEnd, {}, QString(65536, QLatin1Char('a'))},
                                                        {QAccessible::TextCaretMoved, lineEnd + 100000}};
        }
        QTest::newRow(size + ": typing over a selection")
            << length << "overtype" << QList<Heard>{{QAccessible::TextSelectionChanged, emoji},
                                                       {QAccessible::TextCaretMoved, emoji},
                                                       {QAccessible::TextUpdated, emoji, QStringLiteral("\U0001F600"),
                                                           QStringLiteral("y")},
                                                       {QAccessible::TextSelectionChanged, emoji + 1},
                                                       {QAccessible::TextCaretMoved, emoji + 1}};
    }
}

void CodeTextAccessibleTest::reportsTypingAndMoves()
{
    QFETCH(int, lineLength);
    QFETCH(QString, action);
    QFETCH(QList<Heard>, expected);
    const QString text = sample(lineLength);
    m_view->setText(text);
    const qsizetype emoji = text.indexOf(QStringLiteral("\U0001F600"));
    const bool atLineEnd = action == QLatin1String("type") || action == QLatin1String("paste");
    const qsizetype caret = atLineEnd ? text.indexOf(QLatin1Char('\n')) : emoji + 2;
    m_view->setSelection(caret, caret);
    QVERIFY(QTest::qWaitFor([] { return QAccessible::isActive(); }, 5000));
    QAccessible::installUpdateHandler(listen);
    if (action == QLatin1String("type")) {
        QTest::keyClick(m_view, Qt::Key_Exclam, Qt::NoModifier);
    } else if (action == QLatin1String("paste")) {
        m_view->insertPlainText(QString(100000, QLatin1Char('a')));
    } else if (action == QLatin1String("backspace")) {
        QTest::keyClick(m_view, Qt::Key_Backspace);
    } else {
        QTest::keyClick(m_view, Qt::Key_Left, Qt::ShiftModifier);
        if (action == QLatin1String("overtype"))
            QTest::keyClick(m_view, Qt::Key_Y, Qt::NoModifier);
    }
    QCOMPARE(heard, expected);
}

QTEST_MAIN(CodeTextAccessibleTest)
#include "CodeTextAccessibleTest.moc"
