#include "framework/OdbcStatement.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <QDateTime>
#include <QSqlField>
#include <QSqlRecord>
#include <QSqlResult>
#include <QString>
#include <QVariant>
#include <algorithm>
#include <optional>
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

SQLHANDLE statementOf(const QSqlQuery& query)
{
    QVariant handle = query.result() ? query.result()->handle() : QVariant();
    if (!handle.isValid() || handle.metaType().sizeOf() != sizeof(SQLHANDLE))
        return nullptr;
    return *static_cast<const SQLHANDLE*>(handle.constData());
}

constexpr SQLULEN BlockRows = 1024;

// One column's values for a block of rows, bound where the driver writes them.
struct BoundColumn {
    QMetaType type;
    SQLSMALLINT cType = 0;
    SQLLEN width = 0;  // bytes per value
    std::vector<char> values;
    std::vector<SQLLEN> lengths;

    QVariant value(SQLULEN row) const
    {
        if (lengths[row] == SQL_NULL_DATA)
            return QVariant(type);
        const char* at = values.data() + row * SQLULEN(width);
        if (cType == SQL_C_SBIGINT) {
            QVariant number(*reinterpret_cast<const qint64*>(at));
            number.convert(type);
            return number;
        }
        if (cType == SQL_C_TYPE_TIMESTAMP) {
            const auto* t = reinterpret_cast<const SQL_TIMESTAMP_STRUCT*>(at);
            return QDateTime(QDate(t->year, t->month, t->day),
                             QTime(t->hour, t->minute, t->second, int(t->fraction / 1000000)));
        }
        const qsizetype units = std::min<qsizetype>(lengths[row], width - qsizetype(sizeof(SQLWCHAR))) /
                                qsizetype(sizeof(SQLWCHAR));
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(at), units);
    }
};

bool isWholeNumber(QMetaType type)
{
    switch (type.id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

std::optional<BoundColumn> bindable(const QSqlField& field)
{
    BoundColumn column;
    column.type = field.metaType();
    if (isWholeNumber(column.type)) {
        column.cType = SQL_C_SBIGINT;
        column.width = sizeof(qint64);
    } else if (column.type.id() == QMetaType::QDateTime) {
        column.cType = SQL_C_TYPE_TIMESTAMP;
        column.width = sizeof(SQL_TIMESTAMP_STRUCT);
    } else if (column.type.id() == QMetaType::QString && field.length() > 0 && field.length() <= 1024) {
        column.cType = SQL_C_WCHAR;
        column.width = SQLLEN(field.length() + 1) * SQLLEN(sizeof(SQLWCHAR)) * 2;  // a surrogate pair per character
    } else {
        return std::nullopt;
    }
    column.values.resize(size_t(column.width) * BlockRows);
    column.lengths.resize(BlockRows);
    return column;
}

}  // namespace

OdbcBlockRead ReadOdbcBlocks(const QSqlQuery& query, const std::function<void(const std::vector<QVariant>&)>& row,
                             std::string& why)
{
    SQLHANDLE statement = statementOf(query);
    const QSqlRecord record = query.record();
    std::vector<BoundColumn> columns;
    for (int i = 0; statement && i < record.count(); ++i) {
        std::optional<BoundColumn> column = bindable(record.field(i));
        if (!column)
            return OdbcBlockRead::NotPossible;
        columns.push_back(std::move(*column));
    }
    if (!statement || columns.empty())
        return OdbcBlockRead::NotPossible;
    SQLULEN fetched = 0;
    bool bound = SQL_SUCCEEDED(SQLSetStmtAttr(statement, SQL_ATTR_ROW_BIND_TYPE, SQLPOINTER(SQL_BIND_BY_COLUMN), 0)) &&
                 SQL_SUCCEEDED(SQLSetStmtAttr(statement, SQL_ATTR_ROW_ARRAY_SIZE, SQLPOINTER(BlockRows), 0)) &&
                 SQL_SUCCEEDED(SQLSetStmtAttr(statement, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
    for (size_t c = 0; bound && c < columns.size(); ++c)
        bound = SQL_SUCCEEDED(SQLBindCol(statement, SQLUSMALLINT(c + 1), columns[c].cType, columns[c].values.data(),
                                         columns[c].width, columns[c].lengths.data()));
    if (!bound) {
        SQLFreeStmt(statement, SQL_UNBIND);
        SQLSetStmtAttr(statement, SQL_ATTR_ROW_ARRAY_SIZE, SQLPOINTER(1), 0);
        return OdbcBlockRead::NotPossible;
    }
    std::vector<QVariant> values(columns.size());
    SQLRETURN result = SQL_SUCCESS;
    while (SQL_SUCCEEDED(result = SQLFetch(statement)))
        for (SQLULEN r = 0; r < fetched; ++r) {
            for (size_t c = 0; c < columns.size(); ++c)
                values[c] = columns[c].value(r);
            row(values);
        }
    if (result != SQL_NO_DATA)
        why = diagnosticOf(statement);
    SQLFreeStmt(statement, SQL_UNBIND);
    SQLSetStmtAttr(statement, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    return result == SQL_NO_DATA ? OdbcBlockRead::Done : OdbcBlockRead::Failed;
}

bool SetOdbcQueryTimeout(const QSqlQuery& query, std::chrono::milliseconds limit, std::string& why)
{
    SQLHANDLE statement = statementOf(query);
    if (!statement) {
        why = "the statement has no ODBC handle";
        return false;
    }
    const SQLULEN seconds = SQLULEN(std::max<long long>(1, (limit.count() + 999) / 1000));
    SQLRETURN set = SQLSetStmtAttr(statement, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(seconds), 0);
    if (SQL_SUCCEEDED(set))
        return true;
    why = diagnosticOf(statement);
    return false;
}

}  // namespace tarvelo
