#pragma once
// What Tarvelo asks of an ODBC driver beyond Qt's driver: a time limit for
// one statement, kept by the driver, and whether the connection can run a
// second statement while a result is still being read. An ODBC connection
// gives no socket to watch and its login time-out does not cover
// statements: without a statement limit a silent SQL Server holds the
// host's window.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <chrono>
#include <string>

namespace tarvelo {

// The query must be prepared, so that its statement handle exists. Whole
// seconds, no fewer than one, as ODBC counts them.
bool SetOdbcQueryTimeout(const QSqlQuery& query, std::chrono::milliseconds limit, std::string& why);

// SQL Server without MARS answers one statement at a time: a result not yet
// read to its end keeps every other statement out. True where not known.
bool OdbcOneStatementAtATime(const QSqlDatabase& db);

// The query's ODBC statement handle, or null; and the driver's reason for
// the last failure on a statement handle.
void* OdbcStatementHandle(const QSqlQuery& query);
std::string OdbcDiagnostic(void* statement);

}  // namespace tarvelo
