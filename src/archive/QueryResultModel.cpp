#include "archive/QueryResultModel.h"

#include "framework/QueryObject.h"

#include <QDateTime>

namespace tarvelo {
namespace {

struct Column {
    const char* field;
    const char* title;
};
const Column Columns[] = {{"VIDEOPORT", "视频源"}, {"CAPTIME", "抓拍时间"}, {"OPERATOR", "操作员"}};

}  // namespace

QueryResultModel::QueryResultModel(QueryObject& query, QObject* parent) : QAbstractTableModel(parent), query_(query)
{
    connect(&query_, &QueryObject::rowsListed, this, &QueryResultModel::showListedRows);
}

void QueryResultModel::endChange()
{
    shownRows_ = query_.rowCount();
    endResetModel();
}

void QueryResultModel::showListedRows()
{
    const int listed = query_.rowCount();
    if (listed <= shownRows_)
        return;
    beginInsertRows({}, shownRows_, listed - 1);
    shownRows_ = listed;
    endInsertRows();
}

int QueryResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : shownRows_;
}

int QueryResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(std::size(Columns));
}

QVariant QueryResultModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    QVariant value = query_.listed(index.row(), QString::fromLatin1(Columns[index.column()].field));
    if (value.isNull())
        return QString();  // a NULL, or a row gone: not a port 0
    if (value.metaType().id() == QMetaType::QDateTime || index.column() == 1)
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    return value.toString().trimmed();
}

QVariant QueryResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::DisplayRole && orientation == Qt::Vertical)
        return QString();  // the row indicator marks the current row, it does not count rows
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(Columns[section].title);
}

Qt::ItemFlags QueryResultModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

}  // namespace tarvelo
