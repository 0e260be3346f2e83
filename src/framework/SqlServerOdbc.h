#pragma once
// The ODBC connection string that reaches a SQL Server on this platform:
// FreeTDS on Linux, SQL Server's own drivers on Windows.

#include <QString>

namespace tarvelo {

struct SqlServerLogin {
    QString host;  // as the host gave it: a name, "(local)", "name\\instance"
    int port = 0;  // 0: none given; a named instance finds its own
    QString database;
    QString userName;
    QString password;
};

QString SqlServerOdbcString(const SqlServerLogin& login);

// A value of an ODBC connection string in braces, with "}" doubled, so that
// a ";" or "}" in a password stays part of it.
inline QString OdbcValue(QString value)
{
    return '{' + value.replace('}', QStringLiteral("}}")) + '}';
}

}  // namespace tarvelo
