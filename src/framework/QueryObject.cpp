#include "framework/QueryObject.h"

#include "framework/Log.h"
#include "framework/OdbcStatement.h"
#include "framework/StatementDeadline.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>
#include <algorithm>
#include <atomic>

namespace tarvelo {
namespace {

QString newConnectionName()
{
    static std::atomic<int> next{0};
    return QStringLiteral("tarvelo-query-%1").arg(next++);
}

// The server ends a statement (one blocked on a lock, say) a few seconds
// before the client would give up on it, so that its end, and with it the
// statement's outcome, still reaches the client.
std::chrono::milliseconds serverLimit(std::chrono::milliseconds limit)
{
    return std::max(limit - std::chrono::seconds(3), std::min(limit, std::chrono::milliseconds(1000)));
}

// A server that does not answer must not hang the user interface: the
// connection gives up after a few seconds, the link is probed when idle, and
// the server ends a statement that runs past the operation's time limit.
QString connectOptionsFor(const QString& driver, std::chrono::milliseconds limit,
                          std::chrono::milliseconds connectLimit = std::chrono::seconds(5))
{
    // libpq counts whole seconds, and no fewer than two.
    const long long connectSeconds = std::clamp<long long>(connectLimit.count() / 1000, 2, 5);
    if (driver == QLatin1String("QPSQL"))
        return QStringLiteral("connect_timeout=%1;keepalives=1;keepalives_idle=10;keepalives_interval=3;"
                              "keepalives_count=3;tcp_user_timeout=%2;options='-c statement_timeout=%3'")
            .arg(connectSeconds)
            .arg(limit.count())
            .arg(serverLimit(limit).count());
    if (driver == QLatin1String("QODBC"))
        return QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%1").arg(connectSeconds);
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

// A statement ended at its limit by the driver or the server: ODBC's
// "timeout expired" and PostgreSQL's "canceling statement due to statement
// timeout".
bool odbcTimedOut(const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    return code.contains(QLatin1String("HYT00")) || code.contains(QLatin1String("57014"));
}

QString errorText(const QSqlError& error)
{
    QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("no reason given") : text;
}

}  // namespace

QueryObject::QueryObject(QObject* parent) : QObject(parent), connectionName_(newConnectionName())
{
    listingTimer_.setSingleShot(true);
    QObject::connect(&listingTimer_, &QTimer::timeout, this, &QueryObject::continueListing);
}

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
    db.setConnectOptions(connectOptionsFor(target_.driver, timeLimit_));
    if (!openWatched(db)) {
        QString why = errorText(db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName_);
        fail(QStringLiteral("cannot connect"), why);
    }
    if (target_.dialect == SqlDialect::Unknown)
        target_.dialect = dialectOf(db.driver()->dbmsType());  // an ODBC source says what it is once connected
    oneStatementAtATime_ = throughOdbc() && OdbcOneStatementAtATime(db);
    connected_ = true;
}

void QueryObject::startOperation()
{
    operationEnd_ = std::chrono::steady_clock::now() + timeLimit_;
}

std::chrono::milliseconds QueryObject::timeLeft() const
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(operationEnd_ - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

// A statement that reads, and fails because the connection went (the server
// restarted, failed over or dropped an idle connection), is run once more
// on a fresh connection. One that changes rows goes out only on a
// connection that has just answered, and only once: a connection lost
// while it ran leaves its outcome unknown, and a second run could store the
// row twice.
void QueryObject::run(QSqlQuery& query, const QString& statement, const Parameters& parameters, Resend resend)
{
    connect();
    if (resend == Resend::Never)
        reconnectIfLost();
    std::optional<Failure> failure = tryRun(query, statement, parameters);
    if (failure && !failure->outOfTime && resend == Resend::IfLost && connectionLost()) {
        logLine("database", ("the connection was lost: " + failure->why + "; connecting again").toStdString());
        query = QSqlQuery();
        reconnect();
        logLine("database", "connected again");
        failure = tryRun(query, statement, parameters);
    }
    if (failure && resend == Resend::Never && (failure->outOfTime || connectionLost()))
        throw OutcomeUnknown((failure->what + QStringLiteral(": ") + failure->why).toStdString());
    if (failure)
        fail(failure->what, failure->why);
}

// A statement with parameters is prepared and bound; one without is run as
// it stands (PostgreSQL prepares no table definitions).
std::optional<QueryObject::Failure> QueryObject::tryRun(QSqlQuery& query, const QString& statement,
                                                        const Parameters& parameters)
{
    QSqlDatabase db = QSqlDatabase::database(connectionName_, false);
    query = QSqlQuery(db);
    query.setForwardOnly(true);
    QString text = RewriteForDialect(statement, target_.dialect);
    const bool odbc = throughOdbc();
    StatementDeadline deadline(serverSocket(), timeLeft());
    std::optional<Failure> failure;
    if (parameters.empty() && !odbc) {
        if (!query.exec(text))
            failure = Failure{QStringLiteral("the statement failed"), errorText(query.lastError())};
    } else if (!query.prepare(text)) {
        failure = Failure{QStringLiteral("the statement is refused"), errorText(query.lastError())};
    } else {
        if (odbc)
            limitOdbcStatement(query);
        for (const auto& [name, value] : parameters)
            query.bindValue(':' + name, value);
        if (!query.exec())
            failure = Failure{QStringLiteral("the statement failed"), errorText(query.lastError())};
    }
    if (failure && deadline.expired()) {
        failure->outOfTime = true;
        failure->why = QStringLiteral("the server gave no answer within %1 s; the connection is closed (%2)")
                           .arg(timeLimit_.count() / 1000.0)
                           .arg(failure->why);
    } else if (failure && odbc && odbcTimedOut(query.lastError())) {
        // The statement was ended at its limit, and that end came back: its
        // outcome, not done, is known.
        failure->why = QStringLiteral("the statement was ended at its time limit (%1)").arg(failure->why);
    } else if (failure && odbc && timeLeft().count() == 0) {
        failure->outOfTime = true;
        failure->why = QStringLiteral("the server gave no answer within %1 s (%2)")
                           .arg(timeLimit_.count() / 1000.0)
                           .arg(failure->why);
    }
    return failure;
}

// ODBC gives no socket to watch: the driver keeps the time limit on each
// statement itself, a few seconds inside the operation's, so that the
// statement's end comes back before the operation gives up on it.
void QueryObject::limitOdbcStatement(const QSqlQuery& query)
{
    std::string why;
    if (!SetOdbcQueryTimeout(query, serverLimit(timeLeft()), why) && !odbcLimitRefusedLogged_) {
        odbcLimitRefusedLogged_ = true;
        logLine("database", "the ODBC driver keeps no time limit on its statements: " + why);
    }
}

// Qt's PostgreSQL driver reads a result row by row: an error after the
// first row (the server went away, a statement time-out) only ends it early.
void QueryObject::failIfCutShort(const QSqlQuery& query)
{
    if (query.lastError().type() != QSqlError::NoError)
        fail(QStringLiteral("the result was cut short"), errorText(query.lastError()));
}

// A file cannot go away as a server can; elsewhere a connection that cannot
// answer the simplest question is gone.
int QueryObject::serverSocket() const
{
    int socket = ServerSocketOf(QSqlDatabase::database(connectionName_, false));
    if (socket < 0 && odbcSocket_.socket >= 0 && StillOpen(odbcSocket_))
        socket = odbcSocket_.socket;
    return socket;
}

// An ODBC driver's statement time limit may be kept by the server alone
// (psqlODBC sets PostgreSQL's), which a silent link never lets end: its
// socket, the one that appears while it connects, is watched as libpq's is.
bool QueryObject::openWatched(QSqlDatabase& db)
{
    odbcSocket_ = {};
    if (!throughOdbc())
        return db.open();
    std::vector<SocketIdentity> before = ConnectedSockets();
    if (!db.open())
        return false;
    std::vector<SocketIdentity> opened;
    for (const SocketIdentity& socket : ConnectedSockets())
        if (std::none_of(before.begin(), before.end(),
                         [&](const SocketIdentity& old) { return old.inode == socket.inode; }))
            opened.push_back(socket);
    if (opened.size() == 1)
        odbcSocket_ = opened.front();
    return true;
}

bool QueryObject::connectionLost()
{
    if (target_.dialect == SqlDialect::SQLite)
        return false;
    QSqlQuery probe;
    return tryRun(probe, QStringLiteral("select 1"), {}).has_value();
}

void QueryObject::reconnectIfLost()
{
    if (!connectionLost())
        return;
    logLine("database", "the connection was lost; connecting again before the statement is sent");
    reconnect();
    logLine("database", "connected again");
}

// Within what is left of the operation's time.
void QueryObject::reconnect()
{
    if (timeLeft().count() == 0)
        fail(QStringLiteral("cannot connect again"),
             QStringLiteral("the server gave no answer within %1 s").arg(timeLimit_.count() / 1000.0));
    QSqlDatabase db = QSqlDatabase::database(connectionName_, false);
    db.close();
    db.setConnectOptions(connectOptionsFor(target_.driver, timeLimit_, timeLeft()));
    if (!openWatched(db))
        fail(QStringLiteral("cannot connect again"), errorText(db.lastError()));
}

void QueryObject::execute()
{
    close();
    startOperation();
    QSqlQuery query;
    run(query, statement_, parameters_, Resend::Never);
}

// Without a plan the rows are copied, as a static result is: not every ODBC
// driver can move back through a result.
void QueryObject::open()
{
    close();
    startOperation();
    retryAfter_ = {};  // the user asked: the server is tried again at once
    connect();
    plan_ = planOnDemand();
    ReadTransaction snapshot(*this);  // the listing and what says its keys still hold
    const auto started = std::chrono::steady_clock::now();
    QSqlQuery query;
    run(query, plan_ ? plan_->listStatement : statement_, parameters_, Resend::IfLost);
    if (!query.isSelect())
        fail(QStringLiteral("the statement gave no result"), QStringLiteral("it selects nothing"));
    StatementDeadline deadline(serverSocket(), timeLeft());  // the rows come after the statement
    try {
        if (plan_) {
            listRows(query, started);  // which may keep the query to list the rest later
        } else {
            while (query.next())
                rows_.push_back(query.record());
            failIfCutShort(query);
        }
    } catch (...) {
        close();
        throw;
    }
    open_ = true;
    if (listing_)
        listingTimer_.start();
    else
        logIfLong(started);
    if (rowCount() > 0)
        setCurrentRow(0);
}

void QueryObject::close()
{
    listingTimer_.stop();
    listing_.reset();
    rows_ = {};  // a year of rows is worth giving back
    listed_.clear();
    keys_ = {};
    tables_ = {};
    versions_ = {};
    fileNodes_.clear();
    rowidCheck_.reset();
    keysHold_ = true;
    pages_.clear();
    open_ = false;
    currentRow_ = -1;
    plan_.reset();
    readRow_ = -1;
    readFields_ = QSqlRecord();
    goneLogged_.clear();
    ambiguousLogged_.clear();
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
    return listed(currentRow_, name);
}

QVariant QueryObject::listed(int row, const QString& name)
{
    if (row < 0 || row >= rowCount())
        return {};
    if (!plan_)
        return rows_[size_t(row)].value(name);
    if (plan_->keyColumns.isEmpty())
        return listed_.value(size_t(row), listed_.columnOf(name));
    if (!pages_.count(row / PageRows))
        startOperation();  // a page to read for the grid
    const ListedRows* page = listedPage(row / PageRows);
    return page ? page->value(size_t(row % PageRows), page->columnOf(name)) : QVariant();
}

}  // namespace tarvelo
