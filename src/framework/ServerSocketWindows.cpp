// The Windows build reaches its databases through ODBC and SQLite only
// (the Qt built for it has no PostgreSQL driver), which give no socket to
// watch: the ODBC driver keeps each statement's time limit itself.

#include "framework/StatementDeadline.h"

namespace tarvelo {

int ServerSocketOf(const QSqlDatabase&)
{
    return -1;
}

std::vector<SocketIdentity> ConnectedSockets()
{
    return {};
}

bool StillOpen(const SocketIdentity&)
{
    return false;
}

bool ShutDownServerSocket(int, std::string& why)
{
    why = "no server socket on this platform";
    return false;
}

}  // namespace tarvelo
