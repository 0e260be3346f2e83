#pragma once
// A time limit for one ODBC statement, kept by the driver. An ODBC
// connection gives no socket to watch and its login time-out does not cover
// statements: without this a silent SQL Server holds the host's window.

#include <QSqlQuery>
#include <QVariant>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tarvelo {

// The query must be prepared, so that its statement handle exists. Whole
// seconds, no fewer than one, as ODBC counts them.
bool SetOdbcQueryTimeout(const QSqlQuery& query, std::chrono::milliseconds limit, std::string& why);

// Reads an executed statement's rows a block at a time, where every column
// is a whole number, a time or a text of a known length; Qt's driver asks
// for each value apart, which costs seconds on a year of rows. Each row's
// values go to `row`, typed as the query's record says.
enum class OdbcBlockRead { Done, NotPossible, Failed };
OdbcBlockRead ReadOdbcBlocks(const QSqlQuery& query, const std::function<void(const std::vector<QVariant>&)>& row,
                             std::string& why);

}  // namespace tarvelo
