#pragma once
// A query object over the host's connection string: a statement text with
// named parameters, run without a result or opened as a static result whose
// current row can be moved and whose fields are read by name. Failures
// throw DatabaseError with the database's own text, for the caller to log.
//
// Each object has a connection of its own, opened at the first statement,
// opened afresh when a statement finds it lost, and closed with the object;
// use it on the user-interface thread.

#include "framework/ConnectionString.h"

#include <QObject>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>
#include <stdexcept>
#include <vector>

namespace tarvelo {

class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class QueryObject : public QObject {
    Q_OBJECT
public:
    explicit QueryObject(QObject* parent = nullptr);
    ~QueryObject() override;

    // Takes effect at the next statement; an open connection is closed.
    void setConnectionString(const QString& adoString);
    const QString& connectionString() const { return connectionString_; }

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

    int rowCount() const { return int(plan_ ? keys_.size() : rows_.size()); }
    bool setCurrentRow(int row);
    // A field of the current row; an invalid QVariant where there is none.
    // Where the statement selects a whole table of SQLite or PostgreSQL, only
    // the rows' keys are kept: the other fields are read, a page of rows at
    // a time, when a row is shown, and binary fields (pictures) only for the
    // current row.
    QVariant field(const QString& name);
    // A field of any row; binary fields read on demand are not here.
    QVariant listed(int row, const QString& name);

signals:
    void currentRowChanged(int row);

private:
    // How a result is listed by its rows' keys, and its fields read later.
    struct OnDemandPlan {
        QString table;
        QString rowKey;  // rowid, ctid
        QStringList listedColumns;
        QStringList binaryColumns;
        QString listStatement;
    };
    using Page = std::vector<QSqlRecord>;

    using Parameters = std::vector<std::pair<QString, QVariant>>;
    struct Failure {
        QString what;
        QString why;
    };

    void connect();
    void reconnect();
    bool connectionLost();
    void run(QSqlQuery& query, const QString& text, const Parameters& parameters);
    std::optional<Failure> tryRun(QSqlQuery& query, const QString& text, const Parameters& parameters);
    std::optional<OnDemandPlan> planOnDemand();
    void listKeys(QSqlQuery& query);
    qint64 keyOf(const QVariant& listed) const;
    QString keyLiteral(qint64 key) const;
    const QSqlRecord& listedOnDemand(int row);
    Page readPage(int page);
    QVariant fieldOnDemand(const QString& name);
    [[noreturn]] void fail(const QString& what, const QString& why);

    QString connectionName_;
    QString connectionString_;
    SqlConnectionTarget target_;
    bool connected_ = false;
    QString statement_;
    Parameters parameters_;
    bool open_ = false;
    std::vector<QSqlRecord> rows_;  // a result copied whole
    std::vector<qint64> keys_;      // a result listed by key
    int currentRow_ = -1;
    std::optional<OnDemandPlan> plan_;
    std::vector<std::pair<int, Page>> pages_;  // the most recently shown first
    int readRow_ = -1;     // the row whose binary fields are in readFields_
    QSqlRecord readFields_;
};

}  // namespace tarvelo
