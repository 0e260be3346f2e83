#pragma once
// The host's ADO connection string ("Provider=...;Data Source=...;...") as
// a Qt SQL connection. Statements are written in SQL Server's dialect;
// where the database speaks another one, the few constructs the library
// uses are rewritten.

#include <QString>

namespace tarvelo {

enum class SqlDialect { SqlServer, SQLite, PostgreSQL, Unknown };

struct SqlConnectionTarget {
    QString driver;        // a Qt SQL driver: "QSQLITE", "QPSQL", "QODBC"; empty on error
    QString databaseName;  // a file, a database, or a whole ODBC connection string
    QString hostName;
    int port = -1;
    QString userName;
    QString password;
    SqlDialect dialect = SqlDialect::Unknown;
    QString error;  // why the string cannot be used; empty when it can
};

// Provider=SQLite (or no provider) with Data Source=FILE: SQLite.
// Provider=PostgreSQL: Data Source (host or socket directory, "host:port"
// or "host,port"), Port, Initial Catalog, User ID, Password.
// Provider=MSDASQL: every other key, as the ODBC connection string; the
// dialect follows the ODBC driver named, if any.
// Provider=SQLOLEDB, SQLNCLI*, MSOLEDBSQL: SQL Server through ODBC and
// FreeTDS (SQL Server's own ODBC driver on Windows). Keys are matched without regard to case; a value may be quoted.
SqlConnectionTarget MapConnectionString(const QString& adoString);

// "select top N ..." becomes "select ... limit N" for SQLite and PostgreSQL.
QString RewriteForDialect(const QString& statement, SqlDialect dialect);

}  // namespace tarvelo
