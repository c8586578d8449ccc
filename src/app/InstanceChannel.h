#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>

class QSocketNotifier;

// One running program per user: a later launch hands the files it was given to the running one
// over a local socket and ends, as the desktop's open event would. Plain system sockets: the
// channel is opened before the window appears, and Qt's network module would bring a dozen
// libraries along only for this.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    // `name` is the socket's name; by default one per user. A name that is not a path lies in
    // the temporary folder.
    explicit InstanceChannel(QString name = defaultName(), QObject* parent = nullptr);
    ~InstanceChannel() override;

    // A path in the user's runtime folder ($XDG_RUNTIME_DIR), else in a folder of the user's own
    // with mode 0700 under the temporary folder; empty when neither is safe to use, so no other
    // user can take the name first.
    static QString defaultName();
    // Only a peer running as this user is talked to; the process's own by default.
    void setPeerUserId(uint uid) { m_peerUid = uid; }

    // Sends the paths to a running program; false when none answers (then this one runs).
    bool sendToRunning(const QStringList& paths, int timeoutMs = 1000) const;
    // Starts listening for later launches; false when the socket cannot be made.
    bool listen();

signals:
    // Paths, absolute, sent by a later launch (possibly none: it only wants the window).
    void pathsReceived(const QStringList& paths);

private:
    void acceptPending();
    void readFrom(QSocketNotifier* connection, QByteArray& received);
    void closeConnection(QSocketNotifier* connection);

    QString m_name;
    uint m_peerUid;
    QSocketNotifier* m_listener = nullptr;
    QByteArray m_boundPath;
    QList<QSocketNotifier*> m_connections;
};
