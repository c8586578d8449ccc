#include "app/InstanceChannel.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <optional>

#include <sys/socket.h>
#include <sys/stat.h>
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

// A real folder (no link) of this user's that no one else may enter.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid()
        && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// The user id at the other end of a connected local socket; none when the system does not say.
std::optional<uint> peerUserId(const QLocalSocket& socket)
{
    const qintptr descriptor = socket.socketDescriptor();
    if (descriptor < 0)
        return std::nullopt;
    struct ucred credentials {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0
        || length != sizeof credentials)
        return std::nullopt;
    return uint(credentials.uid);
}
} // namespace

InstanceChannel::InstanceChannel(QString name, QObject* parent)
    : QObject(parent), m_name(std::move(name)), m_peerUid(uint(::getuid()))
{
}

InstanceChannel::~InstanceChannel() = default;

QString InstanceChannel::defaultName()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/') && isPrivateFolder(runtime))
        return QFile::decodeName(runtime) + QStringLiteral("/quorrix");
    // mkdir fails on a name someone else holds; the check below then refuses it.
    const QByteArray own = QFile::encodeName(QDir::tempPath() + QStringLiteral("/quorrix-%1").arg(::getuid()));
    ::mkdir(own.constData(), S_IRWXU);
    if (!isPrivateFolder(own))
        return {};
    return QFile::decodeName(own) + QStringLiteral("/instance");
}

bool InstanceChannel::sendToRunning(const QStringList& paths, int timeoutMs) const
{
    if (m_name.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // The paths go to a program of this user only.
    if (peerUserId(socket) != m_peerUid)
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
    if (m_name.isEmpty())
        return false;
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
            if (peerUserId(*socket) != m_peerUid) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
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
