// A PostgreSQL connection's socket, through libpq; an ODBC connection's,
// among the process's open descriptors.

#include "framework/Log.h"
#include "framework/StatementDeadline.h"

#include <QSqlDriver>
#include <QVariant>
#include <optional>
#include <QDir>
#include <cerrno>
#include <sys/stat.h>
#include <libpq-fe.h>
#include <sys/socket.h>

namespace tarvelo {

int ServerSocketOf(const QSqlDatabase& db)
{
    QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // Qt names the handle's type after libpq's struct.
    if (!handle.isValid() || (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        return -1;
    auto* connection = *static_cast<PGconn* const*>(handle.constData());
    return connection ? PQsocket(connection) : -1;
}

bool ShutDownServerSocket(int socket, std::string& why)
{
    if (::shutdown(socket, SHUT_RDWR) == 0)
        return true;
    why = systemErrorText(errno);
    return false;
}

namespace {

std::optional<SocketIdentity> connectedStream(int fd)
{
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode))
        return std::nullopt;
    int type = 0;
    socklen_t length = sizeof type;
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM ||
        getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
        return std::nullopt;
    return SocketIdentity{fd, static_cast<unsigned long long>(status.st_ino)};
}

}  // namespace

std::vector<SocketIdentity> ConnectedSockets()
{
    std::vector<SocketIdentity> sockets;
    const QStringList open = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : open) {
        bool number = false;
        const int fd = name.toInt(&number);
        if (number)
            if (auto socket = connectedStream(fd))
                sockets.push_back(*socket);
    }
    return sockets;
}

bool StillOpen(const SocketIdentity& socket)
{
    auto now = connectedStream(socket.socket);
    return now && now->inode == socket.inode;
}

}  // namespace tarvelo
