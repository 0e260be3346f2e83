// The query object's results that are listed without their binary fields.
// A search over a year holds about a million rows: kept whole with their
// pictures they cost gigabytes and many seconds to read, while the window
// shows one picture at a time.
//
// A row's key only says where a row was when it was listed: SQLite may
// renumber rowids (VACUUM on a table without an INTEGER PRIMARY KEY), and
// PostgreSQL gives the place of a deleted row to a new one once it has
// vacuumed. So a row read back by its key must still hold the fields it was
// listed with, or the row is looked for by those fields; a row found neither
// way is gone, and gives no picture rather than another row's.

#include "framework/QueryObject.h"

#include "framework/Log.h"

#include <QRegularExpression>
#include <QSqlField>
#include <QSqlRecord>

namespace tarvelo {
namespace {

// PostgreSQL's row key "(block,offset)" as one number and back; a year's
// search parses a million of them.
qint64 packTid(const QString& tid)
{
    qint64 block = 0;
    qint64 offset = 0;
    qint64* part = &block;
    for (QChar c : tid) {
        if (c.isDigit())
            *part = *part * 10 + c.digitValue();
        else if (c == QLatin1Char(','))
            part = &offset;
    }
    return (block << 16) | offset;
}

// A time as the server compares it with a column: to the millisecond, in
// the time's own zone, as the driver gave it.
QVariant comparable(const QVariant& value)
{
    if (value.metaType().id() == QMetaType::QDateTime)
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    return value;
}

}  // namespace

// "select [top N] * from TABLE ..." on SQLite or PostgreSQL: the statement
// is run for the rows' keys and fields without the binary ones, which also
// spares PostgreSQL sending the pictures as hex text, twice their size.
std::optional<QueryObject::OnDemandPlan> QueryObject::planOnDemand()
{
    static const QRegularExpression wholeTable(
        QStringLiteral("^\\s*select\\s+(top\\s+\\d+\\s+)?\\*\\s+from\\s+([A-Za-z_]\\w*)(\\s.*)?$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    if (target_.dialect != SqlDialect::SQLite && target_.dialect != SqlDialect::PostgreSQL)
        return std::nullopt;
    auto match = wholeTable.match(statement_);
    if (!match.hasMatch())
        return std::nullopt;
    OnDemandPlan plan;
    plan.table = match.captured(2);
    QSqlQuery probe;
    run(probe, QStringLiteral("select * from %1 where 1=0").arg(plan.table), {}, Resend::IfLost);
    QSqlRecord columns = probe.record();
    for (int i = 0; i < columns.count(); ++i) {
        bool binary = columns.field(i).metaType().id() == QMetaType::QByteArray;
        (binary ? plan.binaryColumns : plan.listedColumns) << columns.fieldName(i);
    }
    if (plan.binaryColumns.isEmpty() || plan.listedColumns.isEmpty())
        return std::nullopt;
    plan.keyColumns = keyColumnsOf(plan.table);
    plan.listStatement = QStringLiteral("select ") + match.captured(1) +
                         (plan.keyColumns + plan.listedColumns).join(QStringLiteral(", ")) +
                         QStringLiteral(" from ") + plan.table + match.captured(3);
    return plan;
}

// A view has no row keys; a partitioned table's ctid is a place inside one
// of its partitions, which tableoid names.
QStringList QueryObject::keyColumnsOf(const QString& table)
{
    QStringList keys = target_.dialect == SqlDialect::SQLite ? QStringList{QStringLiteral("rowid")}
                                                             : QStringList{QStringLiteral("tableoid"), QStringLiteral("ctid")};
    QSqlQuery probe;
    if (tryRun(probe, QStringLiteral("select %1 from %2 where 1=0").arg(keys.join(QStringLiteral(", ")), table), {}))
        return {};
    return keys;
}

void QueryObject::listRows(QSqlQuery& query)
{
    const int keyCount = int(plan_->keyColumns.size());
    listed_.setColumns(query.record(), keyCount);
    while (query.next()) {
        if (keyCount == 1) {
            keys_.push_back(query.value(0).toLongLong());
        } else if (keyCount == 2) {
            tables_.push_back(query.value(0).toUInt());
            keys_.push_back(packTid(query.value(1).toString()));
        }
        listed_.append(query);
    }
}

QString QueryObject::byKey(int row) const
{
    QString select = QStringLiteral("select %1, %2 from %3 where ")
                         .arg(plan_->listedColumns.join(QStringLiteral(", ")),
                              plan_->binaryColumns.join(QStringLiteral(", ")), plan_->table);
    const qint64 key = keys_[size_t(row)];
    if (tables_.empty())
        return select + QStringLiteral("rowid = %1").arg(key);
    return select + QStringLiteral("tableoid = %1 and ctid = '(%2,%3)'::tid")
                        .arg(tables_[size_t(row)])
                        .arg(key >> 16)
                        .arg(key & 0xffff);
}

QString QueryObject::byFields(int row, Parameters& parameters) const
{
    QStringList conditions;
    for (int c = 0; c < plan_->listedColumns.size(); ++c) {
        const QString& column = plan_->listedColumns[c];
        QVariant value = listed_.value(size_t(row), c);
        if (value.isNull()) {
            conditions << column + QStringLiteral(" is null");
            continue;
        }
        QString name = QStringLiteral("f%1").arg(c);
        conditions << column + QStringLiteral(" = :") + name;
        parameters.emplace_back(name, comparable(value));
    }
    return QStringLiteral("select %1, %2 from %3 where %4")
        .arg(plan_->listedColumns.join(QStringLiteral(", ")), plan_->binaryColumns.join(QStringLiteral(", ")),
             plan_->table, conditions.join(QStringLiteral(" and ")));
}

std::optional<QSqlRecord> QueryObject::sameRowIn(QSqlQuery& query, int row)
{
    while (query.next())
        if (listed_.sameAs(size_t(row), query, 0))
            return query.record();
    failIfCutShort(query);
    return std::nullopt;
}

std::optional<QSqlRecord> QueryObject::findListedRow(int row)
{
    QSqlQuery query;
    if (!plan_->keyColumns.isEmpty()) {
        run(query, byKey(row), {}, Resend::IfLost);
        if (auto found = sameRowIn(query, row))
            return found;
    }
    Parameters parameters;
    QString text = byFields(row, parameters);
    run(query, text, parameters, Resend::IfLost);
    return sameRowIn(query, row);
}

// A row found gone gives empty binary fields, as a row without a picture
// does. A read that failed is not remembered: the row is read again when it
// is shown next. A failing server is logged once, not once a row.
std::optional<QSqlRecord> QueryObject::readBinaryFields(int row)
{
    startOperation();
    try {
        std::optional<QSqlRecord> found = findListedRow(row);
        if (readsFailing_) {
            readsFailing_ = false;
            logLine("database", "the listed rows can be read again");
        }
        if (!found && goneLogged_.insert(row).second)
            logLine("database", QStringLiteral("listed row %1 is gone: it was changed or removed since it was listed")
                                    .arg(row + 1)
                                    .toStdString());
        return found.value_or(QSqlRecord());
    } catch (const DatabaseError& e) {
        if (!readsFailing_)
            logLine("database", std::string("cannot read the row's pictures: ") + e.what());
        readsFailing_ = true;
        return std::nullopt;
    }
}

QVariant QueryObject::fieldOnDemand(const QString& name)
{
    if (readRow_ != currentRow_) {
        std::optional<QSqlRecord> read = readBinaryFields(currentRow_);
        if (!read)
            return {};
        readRow_ = currentRow_;
        readFields_ = *read;
    }
    return readFields_.value(name);
}

}  // namespace tarvelo
