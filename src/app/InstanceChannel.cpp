#include "app/InstanceChannel.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <optional>

#include <unistd.h>

namespace {
// A launch sends one message: a marker, then the list of paths.
constexpr quint32 kMagic = 0x51524958; // "QRIX"
constexpr qint64 kMaxMessage = 1 << 20;
constexpr quint32 kMaxPaths = 10000;

// The paths of a message, or nothing for one that is not ours. The count is read by hand: a
// stream would reserve whatever count a stranger wrote.
std::optional<QStringList> decode(const QByteArray& message)
{
    QDataStream body(message);
    quint32 magic = 0, count = 0;
    body >> magic >> count;
    if (body.status() != QDataStream::Ok || magic != kMagic || count > kMaxPaths)
        return std::nullopt;
    QStringList paths;
    for (quint32 i = 0; i < count; ++i) {
        QString path;
        body >> path;
        if (body.status() != QDataStream::Ok)
            return std::nullopt;
        paths << path;
    }
    return paths;
}
} // namespace

InstanceChannel::InstanceChannel(QString name, QObject* parent) : QObject(parent), m_name(std::move(name)) {}

InstanceChannel::~InstanceChannel() = default;

QString InstanceChannel::defaultName()
{
    return QStringLiteral("quorrix-%1").arg(::getuid());
}

bool InstanceChannel::sendToRunning(const QStringList& paths, int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << kMagic << paths;
    QByteArray framed;
    QDataStream frame(&framed, QIODevice::WriteOnly);
    frame << message;
    socket.write(framed);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The running program closes the connection once it has the message.
    socket.waitForDisconnected(timeoutMs);
    return true;
}

bool InstanceChannel::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        // A socket left by a program that crashed: nobody answered sendToRunning().
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name))
            return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->bytesAvailable() > kMaxMessage) {
                    socket->abort();
                    return;
                }
                QDataStream in(socket);
                in.startTransaction();
                QByteArray message;
                in >> message;
                if (!in.commitTransaction())
                    return; // not all there yet
                socket->disconnectFromServer();
                if (const std::optional<QStringList> paths = decode(message))
                    emit pathsReceived(*paths);
            });
        }
    });
    return true;
}
