#include "framework/OdbcBlockReader.h"

#include "framework/OdbcStatement.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <QDateTime>
#include <QSqlField>
#include <QSqlRecord>
#include <QString>
#include <algorithm>
#include <optional>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

namespace tarvelo {
namespace {

constexpr SQLULEN BlockRows = 1024;

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

}  // namespace

// One column's values for a block of rows, bound where the driver writes them.
struct OdbcBlockReader::BoundColumn {
    QMetaType type;
    SQLSMALLINT cType = 0;
    SQLLEN width = 0;  // bytes per value
    std::vector<char> values;
    std::vector<SQLLEN> lengths;

    static std::optional<BoundColumn> of(const QSqlField& field)
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
                             QTime(t->hour, t->minute, t->second, int(t->fraction / 1000000)), Qt::UTC);
        }
        const qsizetype units = std::min<qsizetype>(lengths[row], width - qsizetype(sizeof(SQLWCHAR))) /
                                qsizetype(sizeof(SQLWCHAR));
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(at), units);
    }
};

OdbcBlockReader::OdbcBlockReader(void* statement) : statement_(statement) {}

std::unique_ptr<OdbcBlockReader> OdbcBlockReader::bind(const QSqlQuery& query)
{
    void* statement = OdbcStatementHandle(query);
    if (!statement)
        return nullptr;
    std::unique_ptr<OdbcBlockReader> reader(new OdbcBlockReader(statement));
    const QSqlRecord record = query.record();
    for (int i = 0; i < record.count(); ++i) {
        std::optional<BoundColumn> column = BoundColumn::of(record.field(i));
        if (!column)
            return nullptr;
        reader->columns_.push_back(std::move(*column));
    }
    if (reader->columns_.empty() || !reader->bindColumns())
        return nullptr;  // the destructor unbinds whatever was bound
    reader->values_.resize(reader->columns_.size());
    return reader;
}

bool OdbcBlockReader::bindColumns()
{
    // Zeroed before each fetch: a 32-bit SQLULEN written into it reads right.
    static_assert(sizeof(fetched_) >= sizeof(SQLULEN));
    bool bound = SQL_SUCCEEDED(SQLSetStmtAttr(statement_, SQL_ATTR_ROW_BIND_TYPE, SQLPOINTER(SQL_BIND_BY_COLUMN), 0)) &&
                 SQL_SUCCEEDED(SQLSetStmtAttr(statement_, SQL_ATTR_ROW_ARRAY_SIZE, SQLPOINTER(BlockRows), 0)) &&
                 SQL_SUCCEEDED(SQLSetStmtAttr(statement_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0));
    for (size_t c = 0; bound && c < columns_.size(); ++c)
        bound = SQL_SUCCEEDED(SQLBindCol(statement_, SQLUSMALLINT(c + 1), columns_[c].cType, columns_[c].values.data(),
                                         columns_[c].width, columns_[c].lengths.data()));
    return bound;
}

// Leaves the statement as Qt's driver expects it, one row at a time.
OdbcBlockReader::~OdbcBlockReader()
{
    SQLFreeStmt(statement_, SQL_UNBIND);
    SQLSetStmtAttr(statement_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    SQLSetStmtAttr(statement_, SQL_ATTR_ROW_ARRAY_SIZE, SQLPOINTER(1), 0);
}

OdbcBlockReader::Read OdbcBlockReader::readBlock(const RowSink& row, std::string& why)
{
    fetched_ = 0;
    const SQLRETURN result = SQLFetch(statement_);
    if (result == SQL_NO_DATA)
        return Read::Done;
    if (!SQL_SUCCEEDED(result)) {
        why = OdbcDiagnostic(statement_);
        return Read::Failed;
    }
    const SQLULEN rows = SQLULEN(fetched_);
    for (SQLULEN r = 0; r < rows; ++r) {
        for (size_t c = 0; c < columns_.size(); ++c)
            values_[c] = columns_[c].value(r);
        row(values_);
    }
    return Read::More;
}

}  // namespace tarvelo
