#pragma once

#include <QObject>
#include <QString>

class QThread;
class TimestampSelectionReader;

// Whether the clipboard holds text, and that text, learnt without the GUI thread ever waiting
// on the clipboard's owner. Under X11 another program owns the clipboard and may never answer,
// and Qt waits seconds for it; there the questions go over a connection of our own on a
// thread of our own, and an owner that stays silent past `ownerTimeoutMs` counts as no text.
// Elsewhere Qt's clipboard answers from what it already holds.
class TimestampClipboardWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int ownerTimeoutMs = 2000;

    explicit TimestampClipboardWatch(QObject* parent = nullptr);
    ~TimestampClipboardWatch() override;

    // While on (the view is shown in a window that is not inactive), every change of the
    // clipboard is looked at; turning it on looks at once.
    void setWatching(bool watching);
    bool isWatching() const { return m_watching; }
    bool hasText() const { return m_hasText; }
    bool isReading() const { return m_reading; }

    // Asks for the clipboard's text; textRead follows when there is some.
    void readText();

signals:
    void hasTextChanged(bool hasText);
    void textRead(const QString& text);

private:
    void check();
    void applyCheck(bool hasText);
    void applyRead(bool ok, const QString& text);
    bool readsThroughX11() const;
    TimestampSelectionReader* reader();

    QThread* m_thread = nullptr;
    TimestampSelectionReader* m_reader = nullptr;
    bool m_watching = false;
    bool m_hasText = false;
    bool m_checking = false;
    bool m_checkAgain = false;
    bool m_reading = false;
};
