#pragma once
// TfmQueryPic: the picture query window. It lists the snapshots of
// CAPPICTURE for a range of days and, if given, one video input, and shows
// the picture of the selected row. It only reads.

#include "framework/QueryObject.h"

#include <QDate>
#include "framework/FormDialog.h"

class QDateEdit;
class QLabel;
class QPushButton;
class QTableView;

namespace tarvelo {

class SpinEdit;
class QueryResultModel;

class TfmQueryPic final : public FormDialog {
    Q_OBJECT
public:
    explicit TfmQueryPic(const QString& adoString, QWidget* parent = nullptr);
    ~TfmQueryPic() override;

    // Shows the window modally. A database error while the first rows are
    // read goes to the error report and ends the showing.
    void runModal();

    // The search statement for a day range and an input (0: every input).
    static QString SearchStatement(const QDate& begin, const QDate& end, int32_t port);

    QueryObject adoQuery;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QDateEdit* dtpBegin = nullptr;
    QDateEdit* dtpEnd = nullptr;
    SpinEdit* sePort = nullptr;
    QPushButton* btQuery = nullptr;
    QLabel* picImage = nullptr;
    QTableView* DBGrid1 = nullptr;

    void buildSearchPanel();
    void buildPicturePanel();
    void buildGrid();
    void FormShow();
    void btQueryClick();
    void openResult();
    void adoQueryAfterScroll();
    void adoQueryListingFailed(const QString& why);

    QueryResultModel* model_ = nullptr;
};

}  // namespace tarvelo
