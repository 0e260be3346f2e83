#include "framework/QueryObject.h"

#include "framework/Log.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>
#include <atomic>

namespace tarvelo {
namespace {

QString newConnectionName()
{
    static std::atomic<int> next{0};
    return QStringLiteral("tarvelo-query-%1").arg(next++);
}

// A server that does not answer must not hang the user interface.
QString connectOptionsFor(const QString& driver)
{
    if (driver == QLatin1String("QPSQL"))
        return QStringLiteral("connect_timeout=5");
    if (driver == QLatin1String("QODBC"))
        return QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=5;SQL_ATTR_CONNECTION_TIMEOUT=5");
    return {};
}

SqlDialect dialectOf(QSqlDriver::DbmsType type)
{
    switch (type) {
    case QSqlDriver::MSSqlServer: return SqlDialect::SqlServer;
    case QSqlDriver::SQLite: return SqlDialect::SQLite;
    case QSqlDriver::PostgreSQL: return SqlDialect::PostgreSQL;
    default: return SqlDialect::Unknown;
    }
}

QString errorText(const QSqlError& error)
{
    QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("no reason given") : text;
}

}  // namespace

QueryObject::QueryObject(QObject* parent) : QObject(parent), connectionName_(newConnectionName()) {}

QueryObject::~QueryObject()
{
    close();
    if (QSqlDatabase::contains(connectionName_)) {
        QSqlDatabase::database(connectionName_, false).close();
        QSqlDatabase::removeDatabase(connectionName_);
    }
}

void QueryObject::setConnectionString(const QString& adoString)
{
    close();
    connectionString_ = adoString;
    connected_ = false;
    if (QSqlDatabase::contains(connectionName_)) {
        QSqlDatabase::database(connectionName_, false).close();
        QSqlDatabase::removeDatabase(connectionName_);
    }
}

SqlDialect QueryObject::dialect()
{
    connect();
    return target_.dialect;
}

void QueryObject::setStatement(const QString& text)
{
    statement_ = text;
    parameters_.clear();
}

void QueryObject::setParameter(const QString& name, const QVariant& value)
{
    for (auto& [known, bound] : parameters_)
        if (known == name) {
            bound = value;
            return;
        }
    parameters_.emplace_back(name, value);
}

void QueryObject::fail(const QString& what, const QString& why)
{
    throw DatabaseError((what + QStringLiteral(": ") + why).toStdString());
}

void QueryObject::connect()
{
    if (connected_)
        return;
    target_ = MapConnectionString(connectionString_);
    if (!target_.error.isEmpty())
        fail(QStringLiteral("cannot use the connection string"), target_.error);
    if (!QSqlDatabase::isDriverAvailable(target_.driver))
        fail(QStringLiteral("cannot connect"), QStringLiteral("the Qt driver %1 is not installed").arg(target_.driver));
    QSqlDatabase db = QSqlDatabase::addDatabase(target_.driver, connectionName_);
    db.setDatabaseName(target_.databaseName);
    db.setHostName(target_.hostName);
    if (target_.port > 0)
        db.setPort(target_.port);
    db.setUserName(target_.userName);
    db.setPassword(target_.password);
    db.setConnectOptions(connectOptionsFor(target_.driver));
    if (!db.open()) {
        QString why = errorText(db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName_);
        fail(QStringLiteral("cannot connect"), why);
    }
    if (target_.dialect == SqlDialect::Unknown)
        target_.dialect = dialectOf(db.driver()->dbmsType());  // an ODBC source says what it is once connected
    connected_ = true;
}

// A statement that fails because the connection went (the server
// restarted, failed over or dropped an idle connection) is run once more
// on a fresh connection; any other failure is the caller's.
void QueryObject::run(QSqlQuery& query, const QString& statement, const Parameters& parameters)
{
    connect();
    std::optional<Failure> failure = tryRun(query, statement, parameters);
    if (failure && connectionLost()) {
        logLine("database", ("the connection was lost: " + failure->why + "; connecting again").toStdString());
        query = QSqlQuery();
        reconnect();
        logLine("database", "connected again");
        failure = tryRun(query, statement, parameters);
    }
    if (failure)
        fail(failure->what, failure->why);
}

// A statement with parameters is prepared and bound; one without is run as
// it stands (PostgreSQL prepares no table definitions).
std::optional<QueryObject::Failure> QueryObject::tryRun(QSqlQuery& query, const QString& statement,
                                                        const Parameters& parameters)
{
    query = QSqlQuery(QSqlDatabase::database(connectionName_, false));
    query.setForwardOnly(true);
    QString text = RewriteForDialect(statement, target_.dialect);
    if (parameters.empty()) {
        if (!query.exec(text))
            return Failure{QStringLiteral("the statement failed"), errorText(query.lastError())};
        return std::nullopt;
    }
    if (!query.prepare(text))
        return Failure{QStringLiteral("the statement is refused"), errorText(query.lastError())};
    for (const auto& [name, value] : parameters)
        query.bindValue(':' + name, value);
    if (!query.exec())
        return Failure{QStringLiteral("the statement failed"), errorText(query.lastError())};
    return std::nullopt;
}

// A file cannot go away as a server can; elsewhere a connection that cannot
// answer the simplest question is gone.
bool QueryObject::connectionLost()
{
    if (target_.dialect == SqlDialect::SQLite)
        return false;
    QSqlQuery probe(QSqlDatabase::database(connectionName_, false));
    return !probe.exec(QStringLiteral("select 1"));
}

void QueryObject::reconnect()
{
    QSqlDatabase db = QSqlDatabase::database(connectionName_, false);
    db.close();
    if (!db.open())
        fail(QStringLiteral("cannot connect again"), errorText(db.lastError()));
}

void QueryObject::execute()
{
    close();
    QSqlQuery query;
    run(query, statement_, parameters_);
}

// Without a plan the rows are copied, as a static result is: not every ODBC
// driver can move back through a result.
void QueryObject::open()
{
    close();
    connect();
    plan_ = planOnDemand();
    QSqlQuery query;
    run(query, plan_ ? plan_->listStatement : statement_, parameters_);
    if (!query.isSelect())
        fail(QStringLiteral("the statement gave no result"), QStringLiteral("it selects nothing"));
    if (plan_)
        listKeys(query);
    else
        while (query.next())
            rows_.push_back(query.record());
    open_ = true;
    if (rowCount() > 0)
        setCurrentRow(0);
}

void QueryObject::close()
{
    rows_ = {};  // a year of rows is worth giving back
    keys_ = {};
    pages_.clear();
    open_ = false;
    currentRow_ = -1;
    plan_.reset();
    readRow_ = -1;
    readFields_ = QSqlRecord();
}

bool QueryObject::setCurrentRow(int row)
{
    if (row < 0 || row >= rowCount())
        return false;
    if (row != currentRow_) {
        currentRow_ = row;
        emit currentRowChanged(row);
    }
    return true;
}

QVariant QueryObject::field(const QString& name)
{
    if (currentRow_ < 0)
        return {};
    if (!plan_)
        return rows_[size_t(currentRow_)].value(name);
    if (plan_->binaryColumns.contains(name, Qt::CaseInsensitive))
        return fieldOnDemand(name);
    return listedOnDemand(currentRow_).value(name);
}

QVariant QueryObject::listed(int row, const QString& name)
{
    if (row < 0 || row >= rowCount())
        return {};
    return plan_ ? listedOnDemand(row).value(name) : rows_[size_t(row)].value(name);
}

}  // namespace tarvelo
