#include "framework/OdbcStatement.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <QSqlDriver>
#include <QSqlResult>
#include <QString>
#include <QVariant>
#include <algorithm>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

namespace tarvelo {

std::string OdbcDiagnostic(void* statement)
{
    SQLWCHAR state[6] = {};
    SQLWCHAR text[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, statement, 1, state, &native, text, 512, &length)))
        return "the driver gave no reason";
    auto utf8 = [](const SQLWCHAR* wide) { return QString::fromUtf16(reinterpret_cast<const char16_t*>(wide)).toStdString(); };
    return utf8(text) + " (" + utf8(state) + ")";
}

void* OdbcStatementHandle(const QSqlQuery& query)
{
    QVariant handle = query.result() ? query.result()->handle() : QVariant();
    if (!handle.isValid() || handle.metaType().sizeOf() != sizeof(SQLHANDLE))
        return nullptr;
    return *static_cast<const SQLHANDLE*>(handle.constData());
}

bool OdbcOneStatementAtATime(const QSqlDatabase& db)
{
    QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || handle.metaType().sizeOf() != sizeof(SQLHDBC))
        return true;  // not known: the careful answer
    SQLUSMALLINT most = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(*static_cast<const SQLHDBC*>(handle.constData()), SQL_MAX_CONCURRENT_ACTIVITIES,
                                  &most, sizeof most, nullptr)))
        return true;
    return most == 1;
}

bool SetOdbcQueryTimeout(const QSqlQuery& query, std::chrono::milliseconds limit, std::string& why)
{
    SQLHANDLE statement = OdbcStatementHandle(query);
    if (!statement) {
        why = "the statement has no ODBC handle";
        return false;
    }
    const SQLULEN seconds = SQLULEN(std::max<long long>(1, (limit.count() + 999) / 1000));
    SQLRETURN set = SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(seconds), 0);
    if (SQL_SUCCEEDED(set))
        return true;
    why = OdbcDiagnostic(statement);
    return false;
}

}  // namespace tarvelo
