// The query object's results that keep only their rows' keys. A search over
// a year holds about a million rows: kept whole they cost hundreds of
// megabytes and seconds to read, while a grid shows a few dozen of them.

#include "framework/QueryObject.h"

#include "framework/Log.h"

#include <QRegularExpression>
#include <QSqlField>
#include <QSqlRecord>
#include <algorithm>
#include <unordered_map>

namespace tarvelo {
namespace {

constexpr int PageRows = 64;
constexpr size_t PagesKept = 8;  // a screenful of rows astride two pages, and the pages around it

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

}  // namespace

// "select [top N] * from TABLE ..." on SQLite or PostgreSQL, whose rows have
// a key of their own: the statement is run for its keys alone, which also
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
    plan.rowKey = target_.dialect == SqlDialect::SQLite ? QStringLiteral("rowid") : QStringLiteral("ctid");
    QSqlQuery probe;
    run(probe, QStringLiteral("select * from %1 where 1=0").arg(plan.table), {});
    QSqlRecord columns = probe.record();
    for (int i = 0; i < columns.count(); ++i) {
        bool binary = columns.field(i).metaType().id() == QMetaType::QByteArray;
        (binary ? plan.binaryColumns : plan.listedColumns) << columns.fieldName(i);
    }
    if (plan.binaryColumns.isEmpty())
        return std::nullopt;
    plan.listStatement =
        QStringLiteral("select ") + match.captured(1) + plan.rowKey + QStringLiteral(" from ") + plan.table + match.captured(3);
    return plan;
}

void QueryObject::listKeys(QSqlQuery& query)
{
    while (query.next())
        keys_.push_back(keyOf(query.value(0)));
}

qint64 QueryObject::keyOf(const QVariant& listed) const
{
    return plan_->rowKey == QLatin1String("ctid") ? packTid(listed.toString()) : listed.toLongLong();
}

QString QueryObject::keyLiteral(qint64 key) const
{
    if (plan_->rowKey == QLatin1String("ctid"))
        return QStringLiteral("'(%1,%2)'::tid").arg(key >> 16).arg(key & 0xffff);
    return QString::number(key);
}

// A row changed or removed since it was listed shows empty fields.
const QSqlRecord& QueryObject::listedOnDemand(int row)
{
    const int page = row / PageRows;
    auto kept = std::find_if(pages_.begin(), pages_.end(), [page](const auto& p) { return p.first == page; });
    if (kept == pages_.end()) {
        if (pages_.size() == PagesKept)
            pages_.pop_back();
        pages_.emplace(pages_.begin(), page, readPage(page));
    } else if (kept != pages_.begin()) {
        std::rotate(pages_.begin(), kept, kept + 1);
    }
    return pages_.front().second[size_t(row % PageRows)];
}

// One statement for the page's rows, by their keys; a failure is logged once
// and leaves the page empty until the next search.
QueryObject::Page QueryObject::readPage(int page)
{
    const size_t first = size_t(page) * PageRows;
    const size_t end = std::min(keys_.size(), first + PageRows);
    std::unordered_map<qint64, size_t> placeOf;
    QStringList literals;
    for (size_t i = first; i < end; ++i) {
        placeOf.emplace(keys_[i], i - first);
        literals << keyLiteral(keys_[i]);
    }
    Page rows(PageRows);
    QString text = QStringLiteral("select %1, %2 from %3 where %1 in (%4)")
                       .arg(plan_->rowKey, plan_->listedColumns.join(QStringLiteral(", ")), plan_->table,
                            literals.join(QLatin1Char(',')));
    QSqlQuery query;
    try {
        run(query, text, {});
        while (query.next()) {
            if (auto place = placeOf.find(keyOf(query.value(0))); place != placeOf.end())
                rows[place->second] = query.record();
        }
    } catch (const DatabaseError& e) {
        logLine("database", std::string("cannot read the listed rows: ") + e.what());
    }
    return rows;
}

// A failed read leaves the field empty, as a row without a picture is.
QVariant QueryObject::fieldOnDemand(const QString& name)
{
    if (readRow_ != currentRow_) {
        readRow_ = currentRow_;
        readFields_ = QSqlRecord();
        QString text = QStringLiteral("select %1 from %2 where %3 = %4")
                           .arg(plan_->binaryColumns.join(QStringLiteral(", ")), plan_->table, plan_->rowKey,
                                keyLiteral(keys_[size_t(currentRow_)]));
        QSqlQuery query;
        try {
            run(query, text, {});
            if (query.next())
                readFields_ = query.record();
            else
                logLine("database", "the row's pictures are gone: it was changed or removed since it was listed");
        } catch (const DatabaseError& e) {
            logLine("database", std::string("cannot read the row's pictures: ") + e.what());
        }
    }
    return readFields_.value(name);
}

}  // namespace tarvelo
