#pragma once
// The ODBC connection string that reaches a SQL Server on this platform:
// FreeTDS on Linux, SQL Server's own drivers on Windows.

#include <QString>

namespace tarvelo {

struct SqlServerLogin {
    QString host;
    int port = 1433;
    QString database;
    QString userName;
    QString password;
};

QString SqlServerOdbcString(const SqlServerLogin& login);

}  // namespace tarvelo
