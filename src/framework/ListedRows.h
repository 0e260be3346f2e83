#pragma once
// The listed fields of a search's rows (all but the pictures), copied when
// the search runs and kept column by column: a year's million rows cost
// some tens of megabytes, where a record for each row cost hundreds. What
// the grid shows is what the rows held when they were listed, whatever
// happens to the table afterwards.

#include <QDateTime>
#include <QMetaType>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace tarvelo {

class ListedRows {
public:
    // The result's columns from `first` on are the listed ones.
    void setColumns(const QSqlRecord& record, int first);
    // Keeps the query's current row, or a record's values.
    void append(const QSqlQuery& query);
    void append(const QSqlRecord& record);
    void append(const std::vector<QVariant>& values);
    // A row with no fields: one that was not found.
    void appendMissing();
    void clear();

    size_t size() const { return size_; }
    const QStringList& names() const { return names_; }
    int columnOf(const QString& name) const;
    bool isMissing(size_t row) const { return row < missing_.size() && missing_[row]; }
    QVariant value(size_t row, int column) const;
    // Whether the query's current row, from column `first` on, holds what
    // `row` held when it was listed.
    bool sameAs(size_t row, const QSqlQuery& query, int first) const;

private:
    enum class Kind { Integer, Time, Text };
    struct Column {
        Kind kind = Kind::Text;
        QMetaType type;
        std::vector<qint64> numbers;
        std::vector<qint64> times;  // wall-clock milliseconds: no time zone is looked up per row
        std::vector<char16_t> text;
        std::vector<quint32> textEnds;
        std::vector<bool> nulls;
    };

    static void store(Column& column, const QVariant& value);
    static QVariant load(const Column& column, size_t row);
    static bool equal(const Column& column, size_t row, const QVariant& value);

    QStringList names_;
    std::vector<Column> columns_;
    int first_ = 0;
    size_t size_ = 0;
    std::vector<bool> missing_;
};

}  // namespace tarvelo
