// The query object's results that are listed without their binary fields.
// A search over a year holds about a million rows: kept whole they cost
// hundreds of megabytes and seconds to read, while the window shows a few
// dozen rows and one picture.
//
// A row's key only says where a row was when it was listed: SQLite may
// renumber rowids (VACUUM on a table without an INTEGER PRIMARY KEY) or
// give a deleted newest row's number to a new one, and PostgreSQL gives the
// place of a deleted row to a new one once it has vacuumed. So PostgreSQL's
// rows are listed with the version that wrote them (xmin) and must still
// have it, and SQLite's rowids are used only while nothing can have
// renumbered them. A row read back must still hold the fields it was shown
// with; where its key no longer says, it is looked for by those fields, and
// a row found neither way is gone: it shows nothing, never another row.

#include "framework/QueryObject.h"

#include "framework/Log.h"
#include "framework/StatementDeadline.h"

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
// is run for the rows' keys, or for their fields without the binary ones,
// which also spares PostgreSQL sending the pictures as hex text.
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
    const QStringList listed = plan.keyColumns.isEmpty() ? plan.listedColumns : plan.keyColumns;
    plan.listStatement = QStringLiteral("select ") + match.captured(1) + listed.join(QStringLiteral(", ")) +
                         QStringLiteral(" from ") + plan.table + match.captured(3);
    return plan;
}

// A view has no row keys; a partitioned table's ctid is a place inside one
// of its partitions, which tableoid names.
QStringList QueryObject::keyColumnsOf(const QString& table)
{
    QStringList keys = target_.dialect == SqlDialect::SQLite
                           ? QStringList{QStringLiteral("rowid")}
                           : QStringList{QStringLiteral("tableoid"), QStringLiteral("ctid"), QStringLiteral("xmin")};
    QSqlQuery probe;
    if (tryRun(probe, QStringLiteral("select %1 from %2 where 1=0").arg(keys.join(QStringLiteral(", ")), table), {}))
        return {};
    // SQLite answers a view's rowid with NULL.
    if (target_.dialect == SqlDialect::SQLite &&
        (tryRun(probe, QStringLiteral("select 1 from sqlite_master where type = 'table' and name = '%1' collate nocase")
                           .arg(table),
                {}) ||
         !probe.next()))
        return {};
    return keys;
}

void QueryObject::listRows(QSqlQuery& query)
{
    if (!plan_->keyColumns.isEmpty()) {
        listKeys(query);
        return;
    }
    listed_.setColumns(query.record(), 0);
    while (query.next())
        listed_.append(query);
}

void QueryObject::listKeys(QSqlQuery& query)
{
    const bool rowid = plan_->keyColumns.size() == 1;
    std::optional<RowidCheck> check;
    if (rowid)
        check = rowidCheck();  // before the listing: a VACUUM during it shows
    while (query.next()) {
        if (rowid) {
            keys_.push_back(query.value(0).toLongLong());
            continue;
        }
        tables_.push_back(query.value(0).toUInt());
        keys_.push_back(packTid(query.value(1).toString()));
        versions_.push_back(query.value(2).toUInt());
    }
    failIfCutShort(query);
    if (rowid) {
        QSqlQuery newest;
        run(newest,
            QStringLiteral("select rowid, %1 from %2 where rowid = (select max(rowid) from %2)")
                .arg(plan_->listedColumns.join(QStringLiteral(", ")), plan_->table),
            {}, Resend::IfLost);
        check->newestFields.setColumns(newest.record(), 1);
        if (newest.next()) {
            check->newest = newest.value(0).toLongLong();
            check->newestFields.append(newest);
        }
        rowidCheck_ = std::move(check);
    }
}

std::optional<QueryObject::RowidCheck> QueryObject::rowidCheck()
{
    QSqlQuery version;
    run(version, QStringLiteral("pragma schema_version"), {}, Resend::IfLost);
    RowidCheck check;
    check.schemaVersion = version.next() ? version.value(0).toLongLong() : -1;
    return check;
}

// Once keys may have been renumbered they stay untrusted: the rows already
// shown are then found by their fields, the others cannot be found again.
bool QueryObject::keysStillHold()
{
    if (!keysHold_ || !rowidCheck_)
        return keysHold_;
    QSqlQuery probe;
    run(probe, QStringLiteral("pragma schema_version"), {}, Resend::IfLost);
    bool hold = probe.next() && probe.value(0).toLongLong() == rowidCheck_->schemaVersion;
    if (hold && rowidCheck_->newest >= 0) {
        run(probe,
            QStringLiteral("select %1 from %2 where rowid = %3")
                .arg(plan_->listedColumns.join(QStringLiteral(", ")), plan_->table)
                .arg(rowidCheck_->newest),
            {}, Resend::IfLost);
        hold = probe.next() && rowidCheck_->newestFields.sameAs(0, probe, 0);
    }
    if (!hold) {
        keysHold_ = false;
        logLine("database", "the table was rebuilt or its newest rows replaced since the search: rows not yet "
                            "shown cannot be found again; search again to see them");
    }
    return hold;
}

void QueryObject::readsSucceeded()
{
    if (!readsFailing_)
        return;
    readsFailing_ = false;
    logLine("database", "the listed rows can be read again");
}

void QueryObject::readFailed(const char* what, const DatabaseError& error)
{
    if (!readsFailing_)
        logLine("database", what + std::string(error.what()));
    readsFailing_ = true;
}

// A page that cannot be read is not remembered: it is read again when it is
// shown next. A failing server is logged once, not once a page.
const ListedRows* QueryObject::listedPage(int page)
{
    if (auto kept = pages_.find(page); kept != pages_.end())
        return &kept->second;
    try {
        if (!keysStillHold())
            return nullptr;
        ListedRows read = readPage(page);
        readsSucceeded();
        return &pages_.emplace(page, std::move(read)).first->second;
    } catch (const DatabaseError& e) {
        readFailed("cannot read the listed rows: ", e);
        return nullptr;
    }
}

QString QueryObject::keyLiteral(size_t row) const
{
    if (tables_.empty())
        return QString::number(keys_[row]);
    return QStringLiteral("'(%1,%2)'::tid").arg(keys_[row] >> 16).arg(keys_[row] & 0xffff);
}

// The first columns of the query are the row's key columns.
bool QueryObject::sameKey(size_t row, const QSqlQuery& query) const
{
    if (tables_.empty())
        return query.value(0).toLongLong() == keys_[row];
    return query.value(0).toUInt() == tables_[row] && packTid(query.value(1).toString()) == keys_[row] &&
           query.value(2).toUInt() == versions_[row];
}

// One statement for the page's rows, by their keys; a row not found is gone.
ListedRows QueryObject::readPage(int page)
{
    const size_t first = size_t(page) * PageRows;
    const size_t end = std::min(keys_.size(), first + PageRows);
    QStringList literals;
    for (size_t row = first; row < end; ++row)
        literals << keyLiteral(row);
    const QString key = tables_.empty() ? QStringLiteral("rowid") : QStringLiteral("ctid");
    QSqlQuery query;
    run(query,
        QStringLiteral("select %1, %2 from %3 where %4 in (%5)")
            .arg(plan_->keyColumns.join(QStringLiteral(", ")), plan_->listedColumns.join(QStringLiteral(", ")),
                 plan_->table, key, literals.join(QLatin1Char(','))),
        {}, Resend::IfLost);
    std::vector<QSqlRecord> found(end - first);
    StatementDeadline deadline(serverSocket(), timeLeft());
    while (query.next())
        for (size_t row = first; row < end; ++row)
            if (found[row - first].isEmpty() && sameKey(row, query)) {
                found[row - first] = query.record();
                break;
            }
    failIfCutShort(query);
    ListedRows rows;
    rows.setColumns(query.record(), int(plan_->keyColumns.size()));
    for (const QSqlRecord& record : found) {
        if (record.isEmpty()) {
            rows.appendMissing();
            continue;
        }
        rows.append(record);
    }
    return rows;
}

QString QueryObject::byKey(int row) const
{
    QString select = QStringLiteral("select %1, %2, %3 from %4 where ")
                         .arg(plan_->keyColumns.join(QStringLiteral(", ")),
                              plan_->listedColumns.join(QStringLiteral(", ")),
                              plan_->binaryColumns.join(QStringLiteral(", ")), plan_->table);
    if (tables_.empty())
        return select + QStringLiteral("rowid = %1").arg(keys_[size_t(row)]);
    return select + QStringLiteral("tableoid = %1 and ctid = %2").arg(tables_[size_t(row)]).arg(keyLiteral(size_t(row)));
}

QString QueryObject::byFields(int row, Parameters& parameters)
{
    size_t index = 0;
    const ListedRows* fields = fieldsOf(row, index);
    QStringList conditions;
    for (int c = 0; c < plan_->listedColumns.size(); ++c) {
        const QString& column = plan_->listedColumns[c];
        QVariant value = fields ? fields->value(index, c) : QVariant();
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

// The fields a row was shown with: its page's, or the listing's.
const ListedRows* QueryObject::fieldsOf(int row, size_t& index)
{
    if (plan_->keyColumns.isEmpty()) {
        index = size_t(row);
        return &listed_;
    }
    index = size_t(row % PageRows);
    return listedPage(row / PageRows);
}

std::optional<QSqlRecord> QueryObject::sameRowIn(QSqlQuery& query, int row, bool checkKey)
{
    size_t index = 0;
    const ListedRows* fields = fieldsOf(row, index);
    const int first = checkKey ? int(plan_->keyColumns.size()) : 0;
    StatementDeadline deadline(serverSocket(), timeLeft());
    while (fields && query.next())
        if ((!checkKey || sameKey(size_t(row), query)) && fields->sameAs(index, query, first))
            return query.record();
    failIfCutShort(query);
    return std::nullopt;
}

std::optional<QSqlRecord> QueryObject::findListedRow(int row)
{
    size_t index = 0;
    const ListedRows* fields = fieldsOf(row, index);
    if (!fields || fields->isMissing(index))
        return std::nullopt;  // gone when its page was read, or never shown and no longer to be found
    QSqlQuery query;
    if (!plan_->keyColumns.isEmpty() && keysStillHold()) {
        run(query, byKey(row), {}, Resend::IfLost);
        return sameRowIn(query, row, true);
    }
    Parameters parameters;
    QString text = byFields(row, parameters);
    run(query, text, parameters, Resend::IfLost);
    return sameRowIn(query, row, false);
}

// A row found gone gives empty binary fields, as a row without a picture
// does. A read that failed is not remembered: the row is read again when it
// is shown next. A failing server is logged once, not once a row.
std::optional<QSqlRecord> QueryObject::readBinaryFields(int row)
{
    startOperation();
    try {
        std::optional<QSqlRecord> found = findListedRow(row);
        readsSucceeded();
        if (!found && goneLogged_.insert(row).second)
            logLine("database", QStringLiteral("listed row %1 is gone: it was changed or removed since it was listed")
                                    .arg(row + 1)
                                    .toStdString());
        return found.value_or(QSqlRecord());
    } catch (const DatabaseError& e) {
        readFailed("cannot read the row's pictures: ", e);
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
