#pragma once
// The rows of a query result as the picture query's grid shows them:
// video input, capture time and operator, read-only.

#include <QAbstractTableModel>

namespace tarvelo {

class QueryObject;

class QueryResultModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit QueryResultModel(QueryObject& query, QObject* parent = nullptr);

    // Call around every change of the query's result but its rows listed
    // later, which the model follows itself.
    void beginChange() { beginResetModel(); }
    void endChange();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void showListedRows();

    QueryObject& query_;
    int shownRows_ = 0;  // the view is told of each row before it is shown
};

}  // namespace tarvelo
