// The Windows build reaches its databases through ODBC and SQLite only
// (the Qt built for it has no PostgreSQL driver), which give no socket to
// watch: as with ODBC on Linux, no deadline is kept for them.

#include "framework/StatementDeadline.h"

namespace tarvelo {

int ServerSocketOf(const QSqlDatabase&)
{
    return -1;
}

bool ShutDownServerSocket(int, std::string& why)
{
    why = "no server socket on this platform";
    return false;
}

}  // namespace tarvelo
