// A PostgreSQL connection's socket, through libpq.

#include "framework/Log.h"
#include "framework/StatementDeadline.h"

#include <QSqlDriver>
#include <QVariant>
#include <cerrno>
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

}  // namespace tarvelo
