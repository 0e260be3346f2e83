#include "archive/FormQueryPic.h"

#include "archive/QueryResultModel.h"
#include "framework/Application.h"
#include "framework/ErrorGuard.h"
#include "framework/JpegImage.h"
#include "framework/SpinEdit.h"
#include "framework/WindowFont.h"
#include "framework/WindowParts.h"

#include <QCloseEvent>
#include <QDateEdit>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableView>

namespace tarvelo {
namespace {

const QString InitialStatement = QStringLiteral("select top 100 * from CAPPICTURE order by CAPTIME");

// The labels' design positions are of their text; this font draws it two
// pixels below the label's top.
constexpr int LabelRaise = 2;

QDateEdit* datePicker(QWidget* parent, const QRect& geometry)
{
    auto* picker = new QDateEdit(parent);
    picker->setGeometry(geometry);
    picker->setCalendarPopup(true);
    picker->setDisplayFormat(QStringLiteral("yyyy年M月d日"));  // the long date of a Chinese desktop
    return picker;
}

}  // namespace

TfmQueryPic::TfmQueryPic(const QString& adoString, QWidget* parent)
    : FormDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("fmQueryPic"));
    setWindowTitle(QStringLiteral("抓拍图片查询"));
    setFont(ConsoleFont());
    setFixedSize(607, 329);
    buildSearchPanel();
    buildPicturePanel();
    buildGrid();
    adoQuery.setConnectionString(adoString);  // FormCreate
    connect(&adoQuery, &QueryObject::currentRowChanged, this, [this] { guarded([this] { adoQueryAfterScroll(); }); });
    connect(&adoQuery, &QueryObject::listingFailed, this, &TfmQueryPic::adoQueryListingFailed);
    Application::adopt(this);
}

TfmQueryPic::~TfmQueryPic() = default;

void TfmQueryPic::buildSearchPanel()
{
    QFrame* top = MakePanel(this, QRect(0, 0, 607, 49), QFrame::Raised);
    MakeLabel(top, QStringLiteral("起始时间"), 9, 19 - LabelRaise);
    dtpBegin = datePicker(top, QRect(60, 15, 111, 20));
    MakeLabel(top, QStringLiteral("结束时间"), 184, 19 - LabelRaise);
    dtpEnd = datePicker(top, QRect(238, 15, 109, 20));
    MakeLabel(top, QStringLiteral("视频源"), 370, 19 - LabelRaise);
    sePort = new SpinEdit(0, 100000, 0, top);
    sePort->setGeometry(413, 15, 57, 21);
    btQuery = new QPushButton(QStringLiteral("查询(&Q)"), top);
    btQuery->setGeometry(510, 13, 75, 25);
    connect(btQuery, &QPushButton::clicked, this, [this] { guarded([this] { btQueryClick(); }); });
    dtpBegin->setObjectName(QStringLiteral("dtpBegin"));
    dtpEnd->setObjectName(QStringLiteral("dtpEnd"));
    sePort->setObjectName(QStringLiteral("sePort"));
    btQuery->setObjectName(QStringLiteral("btQuery"));
}

void TfmQueryPic::buildPicturePanel()
{
    QFrame* right = MakePanel(this, QRect(251, 49, 356, 280), QFrame::Raised);
    MakeLabel(right, QStringLiteral("图片"), 18, 7 - LabelRaise);
    picImage = new QLabel(right);
    picImage->setObjectName(QStringLiteral("picImage"));
    picImage->setGeometry(18, 28, 320, 240);
    picImage->setAlignment(Qt::AlignLeft | Qt::AlignTop);  // its own size, clipped, not scaled
}

void TfmQueryPic::buildGrid()
{
    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setGeometry(0, 49, 251, 280);
    model_ = new QueryResultModel(adoQuery, DBGrid1);
    DBGrid1->setModel(model_);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setTabKeyNavigation(true);
    DBGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    DBGrid1->setColumnWidth(0, 40);
    // A time column as wide as its text, as a field's display width makes it.
    DBGrid1->setColumnWidth(1, DBGrid1->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 10);
    DBGrid1->verticalHeader()->setDefaultSectionSize(18);
    // A row indicator as narrow for a year of rows as for one: row numbers
    // would widen it until the operator column left the grid.
    DBGrid1->verticalHeader()->setFixedWidth(12);
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { adoQuery.setCurrentRow(current.row()); });
}

void TfmQueryPic::runModal()
{
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    if (!guarded([this] { FormShow(); }))
        return;  // the first rows could not be read: the window is not shown
    exec();
}

void TfmQueryPic::FormShow()
{
    dtpBegin->setDate(QDate::currentDate());
    dtpEnd->setDate(QDate::currentDate());
    adoQuery.setStatement(InitialStatement);
    openResult();
}

QString TfmQueryPic::SearchStatement(const QDate& begin, const QDate& end, int32_t port)
{
    QString statement = QStringLiteral("select * from CAPPICTURE where (CAPTIME between '%1' and '%2')")
                            .arg(begin.toString(QStringLiteral("yyyy-MM-dd 00:00:00")),
                                 end.toString(QStringLiteral("yyyy-MM-dd 23:59:59")));
    if (port != 0)
        statement += QStringLiteral(" and VIDEOPORT=") + QString::number(port);
    return statement;
}

// An error leaves the result closed and the grid empty until the next
// search; it goes on to the caller's error report.
void TfmQueryPic::btQueryClick()
{
    adoQuery.setStatement(SearchStatement(dtpBegin->date(), dtpEnd->date(), sePort->number()));
    openResult();
}

void TfmQueryPic::openResult()
{
    model_->beginChange();
    try {
        adoQuery.open();
    } catch (...) {
        model_->endChange();
        throw;
    }
    model_->endChange();
    if (adoQuery.rowCount() > 0) {
        DBGrid1->selectRow(0);
        adoQueryAfterScroll();
    }
}

// The rows listed so far are not the search's result: the grid is left
// empty, as a search that fails leaves it, and the error is reported.
void TfmQueryPic::adoQueryListingFailed(const QString& why)
{
    model_->beginChange();
    model_->endChange();
    picImage->clear();
    reportError(std::make_exception_ptr(DatabaseError(why.toStdString())));
}

void TfmQueryPic::adoQueryAfterScroll()
{
    QImage picture = DecodeJpeg(adoQuery.field(QStringLiteral("PICTURE")).toByteArray(), picImage->size());
    if (picture.isNull())
        picImage->clear();
    else
        picImage->setPixmap(QPixmap::fromImage(picture));
}

void TfmQueryPic::closeEvent(QCloseEvent* event)
{
    adoQuery.close();  // FormClose
    QDialog::closeEvent(event);
}

}  // namespace tarvelo
