#include "framework/ListedRows.h"

#include <QSqlField>
#include <limits>
#include <optional>

namespace tarvelo {
namespace {

bool isInteger(QMetaType type)
{
    switch (type.id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

// A database's time is a wall-clock reading. Building a local QDateTime for
// each of a year's rows asks the C library for the time zone each time (a
// stat of /etc/localtime): seconds on a million rows.
constexpr qint64 MsPerDay = 86400000;

constexpr qint64 MostDays = std::numeric_limits<qint64>::max() / MsPerDay - 1;

// None for a time that is not one (a text the driver could not read as a
// time), or one beyond what milliseconds hold (Qt's dates go further).
std::optional<qint64> wallClock(const QVariant& value)
{
    const QDateTime time = value.toDateTime();
    const qint64 day = time.date().toJulianDay();
    if (!time.isValid() || day > MostDays || day < -MostDays)
        return std::nullopt;
    return day * MsPerDay + time.time().msecsSinceStartOfDay();
}

QDateTime fromWallClock(qint64 ms)
{
    const qint64 day = ms >= 0 ? ms / MsPerDay : -((-ms + MsPerDay - 1) / MsPerDay);
    return QDateTime(QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(int(ms - day * MsPerDay)));
}

}  // namespace

void ListedRows::setColumns(const QSqlRecord& record, int first)
{
    clear();
    first_ = first;
    for (int i = first; i < record.count(); ++i) {
        Column column;
        column.type = record.field(i).metaType();
        if (isInteger(column.type))
            column.kind = Kind::Integer;
        else if (column.type.id() == QMetaType::QDateTime)
            column.kind = Kind::Time;
        names_ << record.fieldName(i);
        columns_.push_back(std::move(column));
    }
}

void ListedRows::clear()
{
    names_.clear();
    columns_ = {};
    missing_ = {};
    size_ = 0;
}

void ListedRows::append(const QSqlQuery& query)
{
    for (size_t c = 0; c < columns_.size(); ++c)
        store(columns_[c], query.value(first_ + int(c)));
    ++size_;
}

void ListedRows::append(const QSqlRecord& record)
{
    for (size_t c = 0; c < columns_.size(); ++c)
        store(columns_[c], record.value(first_ + int(c)));
    missing_.resize(size_ + 1, false);
    ++size_;
}

void ListedRows::append(const std::vector<QVariant>& values)
{
    for (size_t c = 0; c < columns_.size(); ++c)
        store(columns_[c], c < values.size() ? values[c] : QVariant());
    ++size_;
}

void ListedRows::appendMissing()
{
    for (Column& column : columns_)
        store(column, QVariant());
    missing_.resize(size_ + 1, false);
    missing_[size_] = true;
    ++size_;
}

int ListedRows::columnOf(const QString& name) const
{
    for (int i = 0; i < names_.size(); ++i)
        if (names_[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QVariant ListedRows::value(size_t row, int column) const
{
    if (row >= size_ || column < 0 || size_t(column) >= columns_.size())
        return {};
    return load(columns_[size_t(column)], row);
}

bool ListedRows::sameAs(size_t row, const QSqlQuery& query, int first) const
{
    if (row >= size_)
        return false;
    for (size_t c = 0; c < columns_.size(); ++c)
        if (!equal(columns_[c], row, query.value(first + int(c))))
            return false;
    return true;
}

void ListedRows::store(Column& column, const QVariant& value)
{
    column.nulls.push_back(value.isNull());
    switch (column.kind) {
    case Kind::Integer:
        column.numbers.push_back(value.toLongLong());
        break;
    case Kind::Time: {
        const std::optional<qint64> time = wallClock(value);
        column.times.push_back(time.value_or(0));
        if (!time)
            column.nulls.back() = true;
        break;
    }
    case Kind::Text: {
        QString text = value.toString();
        column.text.insert(column.text.end(), text.utf16(), text.utf16() + text.size());
        column.textEnds.push_back(quint32(column.text.size()));
        break;
    }
    }
}

QVariant ListedRows::load(const Column& column, size_t row)
{
    if (column.nulls[row])
        return QVariant(column.type);
    switch (column.kind) {
    case Kind::Integer:
        return QVariant(column.numbers[row]);
    case Kind::Time:
        return QVariant(fromWallClock(column.times[row]));
    case Kind::Text:
        break;
    }
    const quint32 begin = row == 0 ? 0 : column.textEnds[row - 1];
    // Never a null QString for an empty text: Qt binds that as NULL, and
    // "OPERATOR = NULL" finds nothing (the host's snapshots have no operator).
    QString loaded(reinterpret_cast<const QChar*>(column.text.data() + begin), qsizetype(column.textEnds[row] - begin));
    QVariant text(loaded.isNull() ? QString(QLatin1String("")) : loaded);
    if (column.type.isValid() && column.type.id() != QMetaType::QString)
        text.convert(column.type);
    return text;
}

bool ListedRows::equal(const Column& column, size_t row, const QVariant& value)
{
    if (column.nulls[row] || value.isNull())
        return column.nulls[row] == value.isNull();
    switch (column.kind) {
    case Kind::Integer:
        return column.numbers[row] == value.toLongLong();
    case Kind::Time:
        return column.times[row] == wallClock(value);
    case Kind::Text:
        break;
    }
    return load(column, row).toString() == value.toString();
}

}  // namespace tarvelo
