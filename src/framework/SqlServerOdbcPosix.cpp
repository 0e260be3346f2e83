#include "framework/SqlServerOdbc.h"

namespace tarvelo {

// FreeTDS finds a named instance (SERVER=host\\instance) through the
// server's browser service, and takes 1433 where nothing else is named.
QString SqlServerOdbcString(const SqlServerLogin& login)
{
    QString port = login.port > 0 ? QStringLiteral("PORT=%1;").arg(login.port) : QString();
    return QStringLiteral("DRIVER={FreeTDS};SERVER=%1;%2DATABASE=%3;UID=%4;PWD=%5;TDS_Version=7.4")
        .arg(OdbcValue(login.host), port, OdbcValue(login.database), OdbcValue(login.userName),
             OdbcValue(login.password));
}

}  // namespace tarvelo
