#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>

struct xcb_connection_t;

// Reads the X11 clipboard over an X connection of its own, meant to live on a thread of its
// own: every wait for the clipboard's owner ends after a deadline, or at once on stop().
class TimestampSelectionReader : public QObject {
    Q_OBJECT
public:
    explicit TimestampSelectionReader(int ownerTimeoutMs);
    ~TimestampSelectionReader() override;

    // From any thread: ends the current wait and every later one.
    void stop();

public slots:
    // Answers checked(): whether the owner offers text.
    void check();
    // Answers finishedReading(): the text, when the owner gives some.
    void read();

signals:
    void checked(bool hasText);
    void finishedReading(bool ok, const QString& text);

private:
    struct Converted {
        uint32_t type = 0;
        QByteArray data;
    };

    bool connectOnce();
    void disconnect();
    std::optional<QList<uint32_t>> targets();
    std::optional<Converted> convert(uint32_t target);
    std::optional<Converted> takeProperty();
    bool ownerPresent();
    // The next SelectionNotify for `atom` (its property) or new value of property `atom`.
    std::optional<uint32_t> waitFor(int type, uint32_t atom, const QDeadlineTimer& deadline);
    std::optional<uint32_t> textTarget(const QList<uint32_t>& offered) const;

    const int m_timeoutMs;
    std::atomic<bool> m_stopped = false;
    int m_wake = -1;
    xcb_connection_t* m_connection = nullptr;
    uint32_t m_window = 0;
    uint32_t m_clipboard = 0, m_targets = 0, m_utf8 = 0, m_text = 0, m_plainUtf8 = 0, m_plain = 0, m_incr = 0,
             m_property = 0;
};
