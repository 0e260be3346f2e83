#pragma once
// Reads an executed ODBC statement's rows a block at a time, where every
// column is a whole number, a time or a text of a known length. Qt's driver
// asks for each value apart, which costs seconds on a year of rows. Each
// row's values are typed as the query's record says; a time is the wall
// clock the server gave, in Qt::UTC so that no time zone is looked up for
// each value.

#include <QSqlQuery>
#include <QVariant>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvelo {

class OdbcBlockReader {
public:
    // Binds the query's columns, or gives none where one cannot be bound;
    // the query is then left as it was, to be read row by row. The reader
    // must go before the query does.
    static std::unique_ptr<OdbcBlockReader> bind(const QSqlQuery& query);
    ~OdbcBlockReader();
    OdbcBlockReader(const OdbcBlockReader&) = delete;
    OdbcBlockReader& operator=(const OdbcBlockReader&) = delete;

    enum class Read { More, Done, Failed };
    using RowSink = std::function<void(const std::vector<QVariant>&)>;
    // The next block's rows go to `row`; `why` says what failed.
    Read readBlock(const RowSink& row, std::string& why);

private:
    struct BoundColumn;
    explicit OdbcBlockReader(void* statement);
    bool bindColumns();

    void* statement_;
    std::vector<BoundColumn> columns_;
    std::vector<QVariant> values_;
    unsigned long long fetched_ = 0;
};

}  // namespace tarvelo
