#include "framework/OdbcStatement.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <QSqlResult>
#include <QString>
#include <QVariant>
#include <algorithm>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

namespace tarvelo {
namespace {

std::string diagnosticOf(SQLHANDLE statement)
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

}  // namespace

bool SetOdbcQueryTimeout(const QSqlQuery& query, std::chrono::milliseconds limit, std::string& why)
{
    QVariant handle = query.result() ? query.result()->handle() : QVariant();
    if (!handle.isValid() || handle.metaType().sizeOf() != sizeof(SQLHANDLE)) {
        why = "the statement has no ODBC handle";
        return false;
    }
    SQLHANDLE statement = *static_cast<const SQLHANDLE*>(handle.constData());
    const SQLULEN seconds = SQLULEN(std::max<long long>(1, (limit.count() + 999) / 1000));
    SQLRETURN set = SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(seconds), 0);
    if (SQL_SUCCEEDED(set))
        return true;
    why = diagnosticOf(statement);
    return false;
}

}  // namespace tarvelo
