#include "app/InstanceChannel.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// A launch sends one message: a marker, then the list of paths.
constexpr quint32 kMagic = 0x51524958; // "QRIX"
constexpr qint64 kMaxMessage = 1 << 20;
constexpr quint32 kMaxPaths = 10000;
// The frame around the message: its length in four bytes, big-endian, as a stream writes it.
constexpr qsizetype kLengthSize = 4;
constexpr quint32 kNullLength = 0xffffffff;

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
std::optional<uint> peerUserId(int descriptor)
{
    struct ucred credentials {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0
        || length != sizeof credentials)
        return std::nullopt;
    return uint(credentials.uid);
}

// The socket's file: the name itself when it is a path, else the name in the temporary folder.
QByteArray socketPath(const QString& name)
{
    return QFile::encodeName(name.startsWith(u'/') ? name : QDir::tempPath() + u'/' + name);
}

// False for a path too long for a socket address.
bool socketAddress(const QByteArray& path, sockaddr_un* address)
{
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, path.constData(), size_t(path.size()));
    return true;
}

int newSocket()
{
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

// Waits until `descriptor` is ready for `events` or the deadline passes.
bool waitFor(int descriptor, short events, const QDeadlineTimer& deadline)
{
    for (;;) {
        pollfd entry{descriptor, events, 0};
        const int ready = ::poll(&entry, 1, int(deadline.remainingTime()));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

struct Descriptor {
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};
} // namespace

InstanceChannel::InstanceChannel(QString name, QObject* parent)
    : QObject(parent), m_name(std::move(name)), m_peerUid(uint(::getuid()))
{
}

InstanceChannel::~InstanceChannel()
{
    for (QSocketNotifier* connection : std::as_const(m_connections)) {
        connection->setEnabled(false);
        ::close(int(connection->socket()));
    }
    if (m_listener) {
        m_listener->setEnabled(false);
        ::close(int(m_listener->socket()));
        // The name is free again once this program no longer answers on it.
        ::unlink(m_boundPath.constData());
    }
}

QString InstanceChannel::defaultName()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/') && isPrivateFolder(runtime))
        return QFile::decodeName(runtime) + QStringLiteral("/quorrix");
    // mkdir fails on a name someone else holds; the check below then refuses it. Earlier
    // versions kept their socket at this very name: one of ours makes way for the folder.
    const QByteArray own = QFile::encodeName(QDir::tempPath() + QStringLiteral("/quorrix-%1").arg(::getuid()));
    struct stat info {};
    if (::lstat(own.constData(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == ::getuid())
        ::unlink(own.constData());
    ::mkdir(own.constData(), S_IRWXU);
    if (!isPrivateFolder(own))
        return {};
    return QFile::decodeName(own) + QStringLiteral("/instance");
}

bool InstanceChannel::sendToRunning(const QStringList& paths, int timeoutMs) const
{
    sockaddr_un address;
    if (m_name.isEmpty() || !socketAddress(socketPath(m_name), &address))
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    const Descriptor socket{newSocket()};
    if (socket.fd < 0)
        return false;
    // A running program whose queue of launches is full answers "try again".
    while (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN || deadline.hasExpired())
            return false;
        ::poll(nullptr, 0, 5);
    }
    // The paths go to a program of this user only.
    if (peerUserId(socket.fd) != m_peerUid)
        return false;
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << kMagic << paths;
    QByteArray framed;
    QDataStream frame(&framed, QIODevice::WriteOnly);
    frame << message;
    for (qsizetype sent = 0; sent < framed.size();) {
        const ssize_t written = ::send(socket.fd, framed.constData() + sent, size_t(framed.size() - sent), MSG_NOSIGNAL);
        if (written > 0) {
            sent += written;
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && errno == EAGAIN) {
            if (!waitFor(socket.fd, POLLOUT, deadline))
                return false;
        } else {
            return false;
        }
    }
    // The running program closes the connection once it has the message.
    char discard[256];
    while (waitFor(socket.fd, POLLIN, deadline)) {
        const ssize_t got = ::read(socket.fd, discard, sizeof discard);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
            break;
    }
    return true;
}

bool InstanceChannel::listen()
{
    if (m_listener)
        return true;
    const QByteArray path = m_name.isEmpty() ? QByteArray() : socketPath(m_name);
    sockaddr_un address;
    if (!socketAddress(path, &address))
        return false;
    Descriptor socket{newSocket()};
    if (socket.fd < 0)
        return false;
    const auto bind = [&] { return ::bind(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0; };
    if (!bind()) {
        // A socket left by a program that crashed: nobody answered sendToRunning().
        if (errno != EADDRINUSE)
            return false;
        ::unlink(path.constData());
        if (!bind())
            return false;
    }
    // Only this user may connect; connections are checked again by their peer's user id.
    ::chmod(path.constData(), S_IRWXU);
    if (::listen(socket.fd, 50) != 0) {
        ::unlink(path.constData());
        return false;
    }
    m_boundPath = path;
    m_listener = new QSocketNotifier(socket.fd, QSocketNotifier::Read, this);
    socket.fd = -1;
    connect(m_listener, &QSocketNotifier::activated, this, &InstanceChannel::acceptPending);
    return true;
}

void InstanceChannel::acceptPending()
{
    for (;;) {
        const int client = ::accept4(int(m_listener->socket()), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        if (peerUserId(client) != m_peerUid) {
            ::close(client);
            continue;
        }
        auto* connection = new QSocketNotifier(client, QSocketNotifier::Read, this);
        m_connections.append(connection);
        auto received = std::make_shared<QByteArray>();
        connect(connection, &QSocketNotifier::activated, this,
                [this, connection, received] { readFrom(connection, *received); });
    }
}

void InstanceChannel::readFrom(QSocketNotifier* connection, QByteArray& received)
{
    bool ended = false;
    char chunk[16384];
    while (received.size() <= kMaxMessage) {
        const ssize_t got = ::read(int(connection->socket()), chunk, sizeof chunk);
        if (got > 0) {
            received.append(chunk, got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        ended = got == 0 || errno != EAGAIN;
        break;
    }
    if (received.size() > kMaxMessage) {
        closeConnection(connection);
        return;
    }
    if (received.size() < kLengthSize) {
        if (ended)
            closeConnection(connection);
        return;
    }
    const quint32 length = qFromBigEndian<quint32>(received.constData());
    const qsizetype body = length == kNullLength ? 0 : qsizetype(length);
    if (received.size() - kLengthSize < body) {
        if (ended || body > kMaxMessage)
            closeConnection(connection);
        return; // not all there yet
    }
    const QByteArray message = received.mid(kLengthSize, body);
    closeConnection(connection);
    if (const std::optional<QStringList> paths = decode(message))
        emit pathsReceived(*paths);
}

void InstanceChannel::closeConnection(QSocketNotifier* connection)
{
    m_connections.removeOne(connection);
    connection->setEnabled(false);
    ::close(int(connection->socket()));
    connection->deleteLater();
}
