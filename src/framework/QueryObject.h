#pragma once
// A query object over the host's connection string: a statement text with
// named parameters, run without a result or opened as a static result whose
// current row can be moved and whose fields are read by name. Failures
// throw DatabaseError with the database's own text, for the caller to log.
//
// Each object has a connection of its own, opened at the first statement
// and closed with the object; use it on the user-interface thread. A
// statement that reads is run once more on a fresh connection when it finds
// its connection lost. One that changes rows is sent only on a connection
// that has just answered, and never twice: once sent, its outcome may be
// unknown. No operation waits for a server longer than its time limit.

#include "framework/ConnectionString.h"
#include "framework/ListedRows.h"
#include "framework/StatementDeadline.h"

#include <QObject>
#include <QTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <chrono>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <stdexcept>
#include <vector>

namespace tarvelo {

class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A statement that changes rows was sent, and neither its success nor its
// failure came back (no answer in time, the connection gone): it may have
// taken effect.
class OutcomeUnknown : public DatabaseError {
public:
    using DatabaseError::DatabaseError;
};

class OdbcBlockReader;

class QueryObject : public QObject {
    Q_OBJECT
public:
    explicit QueryObject(QObject* parent = nullptr);
    ~QueryObject() override;

    // Takes effect at the next statement; an open connection is closed.
    void setConnectionString(const QString& adoString);
    const QString& connectionString() const { return connectionString_; }
    // How long one operation (execute, open, a picture read) may wait for
    // the server, its reconnection included.
    void setTimeLimit(std::chrono::milliseconds limit) { timeLimit_ = limit; }
    static constexpr std::chrono::milliseconds DefaultTimeLimit{25000};
    // After a failed read of the listed rows, how long further reads fail at
    // once instead of waiting for the server again; a new search tries at once.
    void setRetryPause(std::chrono::milliseconds pause) { retryPause_ = pause; }
    static constexpr std::chrono::milliseconds DefaultRetryPause{10000};
    // Whether rows may be listed by their keys where the database has them;
    // without, every source is listed as SQL Server's is, by its fields.
    void setRowKeysUsed(bool used) { rowKeysUsed_ = used; }

    // The database's dialect; connects to learn it where the connection
    // string does not say (ODBC).
    SqlDialect dialect();

    // Forgets the parameters given for the previous text.
    void setStatement(const QString& text);
    const QString& statement() const { return statement_; }
    // `name` without its colon, as the marker ":img" is given as "img".
    void setParameter(const QString& name, const QVariant& value);

    void execute();  // a statement that returns no rows
    void open();     // a statement whose rows are kept; the first becomes current
    void close();
    bool isOpen() const { return open_; }
    // Whether rows are still being listed after open() returned. A search
    // through ODBC shows its first rows at once and lists the rest a slice
    // at a time between the window's events, where the driver can run other
    // statements meanwhile (not SQL Server without MARS: there it is read
    // whole). Each slice that lists rows signals rowsListed; one that fails
    // closes the result and signals listingFailed.
    bool isListing() const { return listing_ != nullptr; }

    int rowCount() const { return int(rows_.size() + listed_.size() + keys_.size()); }
    bool setCurrentRow(int row);
    // A field of the current row; an invalid QVariant where there is none.
    // Where the statement selects a whole table, its binary fields (pictures)
    // are read for the current row only, each only from the very row that
    // was listed. Of a plain table of SQLite or PostgreSQL only the rows'
    // keys are kept, and the other fields are read a page of rows at a time
    // when a row is shown; other sources (views, ODBC) keep those fields from
    // the listing. A row gone since, or no longer told apart from its equals,
    // gives none.
    QVariant field(const QString& name);
    // A field of any row; binary fields read on demand are not here.
    QVariant listed(int row, const QString& name);

signals:
    void currentRowChanged(int row);
    void rowsListed();
    void listingFailed(const QString& why);

private:
    // How a result is listed by its rows' keys, or by its fields where the
    // rows have no keys, and the binary fields read later.
    struct OnDemandPlan {
        QString table;
        QStringList keyColumns;  // rowid; tableoid, ctid, xmin, file node; none for a view
        QStringList listedColumns;
        QStringList binaryColumns;
        QString listStatement;
        QString condition;       // the search's own, which every row read back must meet
        QStringList conditionParameters;
    };
    // What a row's read found: the row, nothing (it is gone), or several
    // rows it cannot be told from.
    struct Lookup {
        std::optional<QSqlRecord> row;
        bool ambiguous = false;
    };
    // What says that SQLite's rowids still name the rows they named when
    // they were listed: no VACUUM since (it renumbers them), and the newest
    // row then still there, so no new row took a listed row's number.
    struct RowidCheck {
        qint64 schemaVersion = 0;
        qint64 newest = -1;
        ListedRows newestFields;
    };
    using Parameters = std::vector<std::pair<QString, QVariant>>;
    struct Failure {
        QString what;
        QString why;
        bool outOfTime = false;
    };
    enum class Resend { IfLost, Never };
    static constexpr int PageRows = 64;
    // A result still being listed; the reader goes before the query.
    struct Listing {
        QSqlQuery query;
        std::unique_ptr<OdbcBlockReader> reader;
        std::chrono::steady_clock::time_point started;
        std::chrono::steady_clock::time_point shown = started;  // when the view was last told of new rows
        ~Listing();
    };
    // How long one slice of a listing holds the window; a listing that
    // takes longer than a long one is logged, for a site whose searches are slow.
    static constexpr std::chrono::milliseconds ListingSlice{40};
    static constexpr std::chrono::milliseconds LongListing{500};
    // How often the view is told of the rows listed meanwhile: often enough
    // to keep its scroll bar current, not after every slice.
    static constexpr std::chrono::milliseconds ShowListedEvery{500};

    // SQLite's schema version, its newest row and the rows read under them
    // are read in one snapshot, so that no write can fall between them; the
    // other databases need none.
    class ReadTransaction {
    public:
        explicit ReadTransaction(QueryObject& query);
        ~ReadTransaction();
        ReadTransaction(const ReadTransaction&) = delete;
        ReadTransaction& operator=(const ReadTransaction&) = delete;

    private:
        QueryObject& query_;
        bool begun_ = false;
    };

    void connect();
    bool throughOdbc() const { return target_.driver == QLatin1String("QODBC"); }
    bool openWatched(QSqlDatabase& db);
    void reconnect();
    void reconnectIfLost();
    bool connectionLost();
    void startOperation();
    std::chrono::milliseconds timeLeft() const;
    int serverSocket() const;
    void run(QSqlQuery& query, const QString& text, const Parameters& parameters, Resend resend);
    std::optional<Failure> tryRun(QSqlQuery& query, const QString& text, const Parameters& parameters);
    void failIfCutShort(const QSqlQuery& query);
    void limitOdbcStatement(const QSqlQuery& query);
    std::optional<OnDemandPlan> planOnDemand();
    QStringList keyColumnsOf(const QString& table);
    void listRows(QSqlQuery& query, std::chrono::steady_clock::time_point started);
    void logIfLong(std::chrono::steady_clock::time_point started) const;
    void listSome(std::chrono::milliseconds slice);
    void continueListing();
    void listKeys(QSqlQuery& query);
    std::optional<RowidCheck> rowidCheck();
    bool keysStillHold();
    const ListedRows* listedPage(int page);
    ListedRows readPage(int page);
    ListedRows unfoundPage(int page) const;
    QString keyLiteral(size_t row) const;
    bool sameKey(size_t row, const QSqlQuery& query) const;
    QString byKey(int row) const;
    QString byFields(int row, Parameters& parameters);
    const ListedRows& fieldsOf(int row, size_t& index);
    Lookup findListedRow(int row);
    std::optional<QSqlRecord> sameRowByKey(QSqlQuery& query, int row);
    Lookup sameRowByFields(QSqlQuery& query, int row);
    const ListedRows& readListedPage(int page);
    Parameters conditionParameters() const;
    QString withCondition(const QString& select) const;
    bool backingOff() const;
    bool fileNodesHold();
    std::optional<QSqlRecord> readBinaryFields(int row);
    QVariant fieldOnDemand(const QString& name);
    void readsSucceeded();
    void readFailed(const char* what, const DatabaseError& error);
    [[noreturn]] void fail(const QString& what, const QString& why);

    QString connectionName_;
    QString connectionString_;
    SqlConnectionTarget target_;
    bool connected_ = false;
    bool oneStatementAtATime_ = false;
    bool oneStatementLogged_ = false;
    bool odbcLimitRefusedLogged_ = false;
    SocketIdentity odbcSocket_;
    std::chrono::milliseconds timeLimit_ = DefaultTimeLimit;
    std::chrono::steady_clock::time_point operationEnd_;
    QString statement_;
    Parameters parameters_;
    bool open_ = false;
    std::vector<QSqlRecord> rows_;  // a result copied whole
    std::optional<OnDemandPlan> plan_;
    ListedRows listed_;             // a result listed by its fields
    std::unique_ptr<Listing> listing_;
    QTimer listingTimer_;
    std::vector<qint64> keys_;      // rowid, or ctid as (block << 16) | offset
    std::vector<quint32> tables_;   // tableoid: a ctid is a place in one partition only
    std::vector<quint32> versions_; // xmin: a new row may take a deleted row's place
    // Each table's file node at the listing: VACUUM FULL and CLUSTER move
    // rows to new places and keep their xmin, and a bulk load gives many rows
    // one xmin, so a place with its xmin names a row only in the same file.
    std::unordered_map<quint32, quint32> fileNodes_;
    std::optional<RowidCheck> rowidCheck_;
    bool keysHold_ = true;
    bool rowKeysUsed_ = true;
    bool inReadTransaction_ = false;
    std::unordered_map<int, ListedRows> pages_;  // the fields of the pages shown
    int currentRow_ = -1;
    int readRow_ = -1;  // the row whose binary fields are in readFields_
    QSqlRecord readFields_;
    bool readsFailing_ = false;          // logged once, until a read succeeds again
    std::chrono::milliseconds retryPause_ = DefaultRetryPause;
    std::chrono::steady_clock::time_point retryAfter_;
    std::unordered_set<int> ambiguousLogged_;
    std::unordered_set<int> goneLogged_;  // rows found gone, each logged once
};

}  // namespace tarvelo
