#include "framework/QueryObject.h"

#include "framework/Log.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
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
    logLine("database", (what + QStringLiteral(": ") + why).toStdString());
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

// A statement with parameters is prepared and bound; one without is run as
// it stands (PostgreSQL prepares no table definitions).
void QueryObject::run(QSqlQuery& query)
{
    connect();
    query = QSqlQuery(QSqlDatabase::database(connectionName_, false));
    query.setForwardOnly(true);
    QString text = RewriteForDialect(statement_, target_.dialect);
    if (parameters_.empty()) {
        if (!query.exec(text))
            fail(QStringLiteral("the statement failed"), errorText(query.lastError()));
        return;
    }
    if (!query.prepare(text))
        fail(QStringLiteral("the statement is refused"), errorText(query.lastError()));
    for (const auto& [name, value] : parameters_)
        query.bindValue(':' + name, value);
    if (!query.exec())
        fail(QStringLiteral("the statement failed"), errorText(query.lastError()));
}

void QueryObject::execute()
{
    close();
    QSqlQuery query;
    run(query);
}

// The rows are copied, as a static result is: not every ODBC driver can
// move back through a result.
void QueryObject::open()
{
    close();
    QSqlQuery query;
    run(query);
    if (!query.isSelect())
        fail(QStringLiteral("the statement gave no result"), QStringLiteral("it selects nothing"));
    while (query.next())
        rows_.push_back(query.record());
    open_ = true;
    if (!rows_.empty())
        setCurrentRow(0);
}

void QueryObject::close()
{
    rows_.clear();
    open_ = false;
    currentRow_ = -1;
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

QVariant QueryObject::field(const QString& name) const
{
    if (currentRow_ < 0)
        return {};
    return rows_[size_t(currentRow_)].value(name);
}

}  // namespace tarvelo
