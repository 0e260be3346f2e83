#pragma once
// A time limit for one ODBC statement, kept by the driver. An ODBC
// connection gives no socket to watch and its login time-out does not cover
// statements: without this a silent SQL Server holds the host's window.

#include <QSqlQuery>
#include <chrono>
#include <string>

namespace tarvelo {

// The query must be prepared, so that its statement handle exists. Whole
// seconds, no fewer than one, as ODBC counts them.
bool SetOdbcQueryTimeout(const QSqlQuery& query, std::chrono::milliseconds limit, std::string& why);

}  // namespace tarvelo
