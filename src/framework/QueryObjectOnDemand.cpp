// The query object's results that are listed without their binary fields.
// A search over a year holds about a million rows: kept whole they cost
// hundreds of megabytes and seconds to read, while the window shows a few
// dozen rows and one picture.
//
// A row's key only says where a row was when it was listed: SQLite may
// renumber rowids (VACUUM on a table without an INTEGER PRIMARY KEY) or
// give a deleted newest row's number to a new one, and PostgreSQL gives the
// place of a deleted row to a new one once it has vacuumed. So PostgreSQL's
// rows are listed with the version that wrote them (xmin) and the file they
// are in, and must still have both, and SQLite's rowids are used only while
// nothing can have renumbered them. Every row read back must meet the
// search's own condition and still hold the fields it was shown with; where
// its key no longer says, it is looked for by those fields, and a row found
// neither way is gone: it shows nothing, never another row. Neither does a
// row whose equals (same fields, other pictures) it cannot be told from.

#include "framework/QueryObject.h"

#include "framework/Log.h"
#include "framework/OdbcBlockReader.h"
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

// "select [top N] * from TABLE [where CONDITION] [order by ...]": the
// statement is run for the rows' keys, or for their fields without the
// binary ones, which also spares PostgreSQL sending the pictures as hex
// text and keeps a year of a SQL Server's pictures out of memory.
std::optional<QueryObject::OnDemandPlan> QueryObject::planOnDemand()
{
    static const QRegularExpression wholeTable(
        QStringLiteral("^\\s*select\\s+(top\\s+\\d+\\s+)?\\*\\s+from\\s+([A-Za-z_]\\w*)(\\s.*)?$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression condition(
        QStringLiteral("^\\s*where\\s+(.*?)\\s*(\\border\\s+by\\b.*)?$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
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
    if (auto where = condition.match(match.captured(3)); where.hasMatch())
        plan.condition = where.captured(1);
    for (const auto& [name, value] : parameters_)
        if (plan.condition.contains(':' + name))
            plan.conditionParameters << name;
    return plan;
}

// Keys are kept for plain tables only. A view has none; a foreign table's
// ctid is a place on another server, which that server reuses, and its xmin
// is 0. A partitioned table's ctid is a place inside one of its partitions,
// which tableoid names.
QStringList QueryObject::keyColumnsOf(const QString& table)
{
    if (!rowKeysUsed_)
        return {};
    QSqlQuery probe;
    if (target_.dialect == SqlDialect::SQLite) {
        // SQLite answers a view's rowid with NULL.
        if (tryRun(probe,
                   QStringLiteral("select 1 from sqlite_master where type = 'table' and name = '%1' collate nocase")
                       .arg(table),
                   {}) ||
            !probe.next())
            return {};
        return {QStringLiteral("rowid")};
    }
    if (target_.dialect != SqlDialect::PostgreSQL)
        return {};
    if (tryRun(probe,
               QStringLiteral("select c.relkind in ('r', 'p') and not exists (select 1 from pg_partition_tree(c.oid) t "
                              "join pg_class p on p.oid = t.relid where p.relkind = 'f') "
                              "from pg_class c where c.oid = to_regclass('%1')")
                   .arg(table),
               {}) ||
        !probe.next() || !probe.value(0).toBool())
        return {};
    return {QStringLiteral("tableoid"), QStringLiteral("ctid"), QStringLiteral("xmin"),
            QStringLiteral("pg_relation_filenode(tableoid)")};
}

QueryObject::ReadTransaction::ReadTransaction(QueryObject& query) : query_(query)
{
    if (query.target_.dialect != SqlDialect::SQLite || !query.plan_ || query.plan_->keyColumns.isEmpty() ||
        query.inReadTransaction_)
        return;
    query.connect();
    begun_ = QSqlDatabase::database(query.connectionName_, false).transaction();
    query.inReadTransaction_ = begun_;
}

// It only read: there is nothing to keep or lose.
QueryObject::ReadTransaction::~ReadTransaction()
{
    if (!begun_)
        return;
    QSqlDatabase::database(query_.connectionName_, false).rollback();
    query_.inReadTransaction_ = false;
}

void QueryObject::listRows(QSqlQuery& query, std::chrono::steady_clock::time_point started)
{
    if (!plan_->keyColumns.isEmpty()) {
        listKeys(query);
        return;
    }
    listed_.setColumns(query.record(), 0);
    if (throughOdbc()) {
        if (std::unique_ptr<OdbcBlockReader> reader = OdbcBlockReader::bind(query)) {
            listing_.reset(new Listing{std::move(query), std::move(reader), started});
            if (oneStatementAtATime_ && !oneStatementLogged_) {
                oneStatementLogged_ = true;
                logLine("database", "the ODBC driver runs one statement at a time: a search's rows are all read "
                                    "before they show");
            }
            listSome(oneStatementAtATime_ ? std::chrono::milliseconds::max() : std::chrono::milliseconds(0));
            return;
        }
    }
    while (query.next())
        listed_.append(query);
    failIfCutShort(query);
}

QueryObject::Listing::~Listing() = default;

// A block at least; the listing ends at the result's end, or fails.
void QueryObject::listSome(std::chrono::milliseconds slice)
{
    const auto end = slice == std::chrono::milliseconds::max() ? std::chrono::steady_clock::time_point::max()
                                                               : std::chrono::steady_clock::now() + slice;
    const OdbcBlockReader::RowSink append = [this](const std::vector<QVariant>& row) { listed_.append(row); };
    std::string why;
    OdbcBlockReader::Read read = OdbcBlockReader::Read::More;
    do
        read = listing_->reader->readBlock(append, why);
    while (read == OdbcBlockReader::Read::More && std::chrono::steady_clock::now() < end);
    if (read == OdbcBlockReader::Read::More)
        return;
    listing_.reset();
    if (read == OdbcBlockReader::Read::Failed)
        fail(QStringLiteral("the result was cut short"), QString::fromStdString(why));
}

// For a site whose searches are slow: how many rows, and how long.
void QueryObject::logIfLong(std::chrono::steady_clock::time_point started) const
{
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    if (took >= LongListing)
        logLine("database", QStringLiteral("a search listed %1 rows in %2 s")
                                .arg(rowCount())
                                .arg(double(took.count()) / 1000.0, 0, 'f', 1)
                                .toStdString());
}

// A slot: nothing may leave it. A listing that fails leaves no result, as a
// search that fails does, rather than some of its rows shown as if all.
void QueryObject::continueListing()
{
    if (!listing_)
        return;
    const auto started = listing_->started;
    try {
        startOperation();
        StatementDeadline deadline(serverSocket(), timeLeft());
        listSome(ListingSlice);
    } catch (const std::exception& error) {
        const QString why = QString::fromUtf8(error.what());
        close();
        emit listingFailed(why);
        return;
    }
    if (!listing_) {
        logIfLong(started);
        emit rowsListed();
        return;
    }
    listingTimer_.start();
    const auto now = std::chrono::steady_clock::now();
    if (now - listing_->shown < ShowListedEvery)
        return;
    listing_->shown = now;
    emit rowsListed();
}

void QueryObject::listKeys(QSqlQuery& query)
{
    const bool rowid = plan_->keyColumns.size() == 1;
    std::optional<RowidCheck> check;
    if (rowid)
        check = rowidCheck();
    while (query.next()) {
        if (rowid) {
            keys_.push_back(query.value(0).toLongLong());
            continue;
        }
        const quint32 table = query.value(0).toUInt();
        tables_.push_back(table);
        keys_.push_back(packTid(query.value(1).toString()));
        versions_.push_back(query.value(2).toUInt());
        fileNodes_.try_emplace(table, query.value(3).toUInt());
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

bool QueryObject::fileNodesHold()
{
    QStringList tables;
    for (const auto& [table, node] : fileNodes_)
        tables << QString::number(table);
    if (tables.isEmpty())
        return true;
    QSqlQuery probe;
    run(probe,
        QStringLiteral("select oid, pg_relation_filenode(oid) from pg_class where oid in (%1)")
            .arg(tables.join(QLatin1Char(','))),
        {}, Resend::IfLost);
    size_t same = 0;
    while (probe.next()) {
        auto listed = fileNodes_.find(probe.value(0).toUInt());
        same += listed != fileNodes_.end() && listed->second == probe.value(1).toUInt();
    }
    failIfCutShort(probe);
    return same == fileNodes_.size();
}

// Once keys may have been renumbered they stay untrusted: the rows already
// shown are then found by their fields, the others cannot be found again.
bool QueryObject::keysStillHold()
{
    if (!keysHold_)
        return false;
    bool hold = true;
    if (rowidCheck_) {
        QSqlQuery probe;
        run(probe, QStringLiteral("pragma schema_version"), {}, Resend::IfLost);
        hold = probe.next() && probe.value(0).toLongLong() == rowidCheck_->schemaVersion;
        if (hold && rowidCheck_->newest >= 0) {
            run(probe,
                QStringLiteral("select %1 from %2 where rowid = %3")
                    .arg(plan_->listedColumns.join(QStringLiteral(", ")), plan_->table)
                    .arg(rowidCheck_->newest),
                {}, Resend::IfLost);
            hold = probe.next() && rowidCheck_->newestFields.sameAs(0, probe, 0);
        }
    } else if (!fileNodes_.empty()) {
        hold = fileNodesHold();
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

// A server that failed is not asked again for a while: a repaint asks for
// dozens of cells, and each would wait for it in vain.
void QueryObject::readFailed(const char* what, const DatabaseError& error)
{
    if (!readsFailing_)
        logLine("database", what + std::string(error.what()));
    readsFailing_ = true;
    retryAfter_ = std::chrono::steady_clock::now() + retryPause_;
}

bool QueryObject::backingOff() const
{
    return readsFailing_ && std::chrono::steady_clock::now() < retryAfter_;
}

// A page that cannot be read is not remembered: it is read again when it is
// shown next. A failing server is logged once, not once a page.
const ListedRows* QueryObject::listedPage(int page)
{
    if (auto kept = pages_.find(page); kept != pages_.end())
        return &kept->second;
    if (backingOff())
        return nullptr;
    try {
        return &readListedPage(page);
    } catch (const DatabaseError& e) {
        readFailed("cannot read the listed rows: ", e);
        return nullptr;
    }
}

// Throws where the page cannot be read, so that a failure to read is never
// taken for rows that are gone.
const ListedRows& QueryObject::readListedPage(int page)
{
    if (auto kept = pages_.find(page); kept != pages_.end())
        return kept->second;
    ReadTransaction snapshot(*this);
    ListedRows read = keysStillHold() ? readPage(page) : unfoundPage(page);
    readsSucceeded();
    return pages_.emplace(page, std::move(read)).first->second;
}

// Rows not shown before the keys went untrusted: they cannot be found again.
ListedRows QueryObject::unfoundPage(int page) const
{
    ListedRows rows;
    const size_t first = size_t(page) * PageRows;
    for (size_t row = first; row < std::min(keys_.size(), first + PageRows); ++row)
        rows.appendMissing();
    return rows;
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
    auto node = fileNodes_.find(tables_[row]);
    return query.value(0).toUInt() == tables_[row] && packTid(query.value(1).toString()) == keys_[row] &&
           query.value(2).toUInt() == versions_[row] && node != fileNodes_.end() &&
           query.value(3).toUInt() == node->second;
}

QueryObject::Parameters QueryObject::conditionParameters() const
{
    Parameters parameters;
    for (const auto& [name, value] : parameters_)
        if (plan_->conditionParameters.contains(name))
            parameters.emplace_back(name, value);
    return parameters;
}

// A row that took a listed row's key, but that the search would not have
// found, is not that row.
QString QueryObject::withCondition(const QString& select) const
{
    return plan_->condition.isEmpty() ? select : select + QStringLiteral(" and (") + plan_->condition + ')';
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
        withCondition(QStringLiteral("select %1, %2 from %3 where %4 in (%5)")
                          .arg(plan_->keyColumns.join(QStringLiteral(", ")),
                               plan_->listedColumns.join(QStringLiteral(", ")), plan_->table, key,
                               literals.join(QLatin1Char(',')))),
        conditionParameters(), Resend::IfLost);
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
        return withCondition(select + QStringLiteral("rowid = %1").arg(keys_[size_t(row)]));
    return withCondition(select + QStringLiteral("tableoid = %1 and ctid = %2")
                                      .arg(tables_[size_t(row)])
                                      .arg(keyLiteral(size_t(row))));
}

QString QueryObject::byFields(int row, Parameters& parameters)
{
    size_t index = 0;
    const ListedRows& fields = fieldsOf(row, index);
    QStringList conditions;
    for (int c = 0; c < plan_->listedColumns.size(); ++c) {
        const QString& column = plan_->listedColumns[c];
        QVariant value = fields.value(index, c);
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
const ListedRows& QueryObject::fieldsOf(int row, size_t& index)
{
    if (plan_->keyColumns.isEmpty()) {
        index = size_t(row);
        return listed_;
    }
    index = size_t(row % PageRows);
    return readListedPage(row / PageRows);
}

std::optional<QSqlRecord> QueryObject::sameRowByKey(QSqlQuery& query, int row)
{
    size_t index = 0;
    const ListedRows& fields = fieldsOf(row, index);
    const int first = int(plan_->keyColumns.size());
    StatementDeadline deadline(serverSocket(), timeLeft());
    while (query.next())
        if (sameKey(size_t(row), query) && fields.sameAs(index, query, first))
            return query.record();
    failIfCutShort(query);
    return std::nullopt;
}

// Snapshots queued in one second by one operator on one input are equal in
// every listed field: found by those fields, their pictures are told apart
// by nothing, and none is shown rather than another one's.
QueryObject::Lookup QueryObject::sameRowByFields(QSqlQuery& query, int row)
{
    size_t index = 0;
    const ListedRows& fields = fieldsOf(row, index);
    Lookup found;
    StatementDeadline deadline(serverSocket(), timeLeft());
    while (query.next()) {
        if (!fields.sameAs(index, query, 0))
            continue;
        QSqlRecord record = query.record();
        if (!found.row) {
            found.row = std::move(record);
            continue;
        }
        for (const QString& column : plan_->binaryColumns)
            if (record.value(column).toByteArray() != found.row->value(column).toByteArray())
                return Lookup{std::nullopt, true};
    }
    failIfCutShort(query);
    return found;
}

QueryObject::Lookup QueryObject::findListedRow(int row)
{
    size_t index = 0;
    ReadTransaction snapshot(*this);
    if (fieldsOf(row, index).isMissing(index))
        return {};  // gone when its page was read, or never shown and no longer to be found
    QSqlQuery query;
    if (!plan_->keyColumns.isEmpty() && keysStillHold()) {
        run(query, byKey(row), conditionParameters(), Resend::IfLost);
        return Lookup{sameRowByKey(query, row)};
    }
    Parameters parameters;
    QString text = byFields(row, parameters);
    run(query, text, parameters, Resend::IfLost);
    return sameRowByFields(query, row);
}

// A row found gone gives empty binary fields, as a row without a picture
// does. A read that failed is not remembered: the row is read again when it
// is shown next. A failing server is logged once, not once a row.
std::optional<QSqlRecord> QueryObject::readBinaryFields(int row)
{
    if (backingOff())
        return std::nullopt;
    startOperation();
    try {
        Lookup found = findListedRow(row);
        readsSucceeded();
        if (found.ambiguous && ambiguousLogged_.insert(row).second)
            logLine("database", QStringLiteral("listed row %1 has the same fields as other rows with other pictures: "
                                               "its own cannot be told apart")
                                    .arg(row + 1)
                                    .toStdString());
        else if (!found.row && !found.ambiguous && goneLogged_.insert(row).second)
            logLine("database", QStringLiteral("listed row %1 is gone: it was changed or removed since it was listed")
                                    .arg(row + 1)
                                    .toStdString());
        return found.row.value_or(QSqlRecord());
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
