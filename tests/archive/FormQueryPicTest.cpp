// The picture query window on SQLite and on a PostgreSQL server the test
// starts: the initial rows, day ranges, the input filter, the pictures
// shown for each row, and a database error.

#include "archive/FormQueryPic.h"
#include "framework/JpegImage.h"
#include "framework/SpinEdit.h"
#include "support/LogFile.h"
#include "support/PostgresServer.h"
#include "support/TcpProxy.h"
#include "support/TempDir.h"
#include "support/Parts.h"

#include <QApplication>
#include <QDateEdit>
#include <QDateTime>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

QByteArray picture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    return EncodeJpeg(image);
}

struct Row {
    int port;
    QDateTime time;
    const char* op;
    QByteArray picture;
};

class QueryWindowTest : public ::testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() { server = std::make_unique<PostgresServer>(); }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override
    {
        qputenv("TARVELO_MESSAGE_LOG", QFile::encodeName(dir.file("messages.log")));
        bool postgres = GetParam();
        connection = postgres ? server->connectionString()
                              : "Provider=SQLite;Data Source=" + dir.file("pictures.db");
        run(postgres ? "create table CAPPICTURE (VIDEOPORT integer, CAPTIME timestamp, OPERATOR char(10), "
                       "PICTURE bytea)"
                     : "create table CAPPICTURE (VIDEOPORT integer, CAPTIME datetime, OPERATOR char(10), "
                       "PICTURE blob)");
    }
    void TearDown() override
    {
        for (const char* drop : {"drop view CAPPICTURE", "drop table CAPPICTURE", "drop table CAPROWS"}) {
            try {
                run(drop);
            } catch (const DatabaseError&) {
                // not made by this test
            }
        }
        qunsetenv("TARVELO_MESSAGE_LOG");
    }
    QString tableType() const { return GetParam() ? "timestamp" : "datetime"; }
    QString blobType() const { return GetParam() ? "bytea" : "blob"; }
    // CAPPICTURE as a view over the table CAPROWS, with `port` in place of
    // VIDEOPORT.
    void makeView(const QString& port = "VIDEOPORT")
    {
        run("drop table CAPPICTURE");
        run(QString("create table CAPROWS (VIDEOPORT integer, CAPTIME %1, OPERATOR char(10), PICTURE %2)")
                .arg(tableType(), blobType()));
        run("create view CAPPICTURE as select " + port + " as VIDEOPORT, CAPTIME, OPERATOR, PICTURE from CAPROWS");
        table = "CAPROWS";
    }

    void run(const QString& statement, const QByteArray& bytes = {})
    {
        QueryObject query;
        query.setConnectionString(connection);
        query.setStatement(statement);
        if (statement.contains(":img"))
            query.setParameter("img", bytes);
        query.execute();
    }
    void insert(const Row& row)
    {
        run(QString("insert into %1(VIDEOPORT, CAPTIME, OPERATOR, PICTURE) VALUES(%2,'%3','%4',:img)")
                .arg(table)
                .arg(row.port)
                .arg(row.time.toString("yyyy-MM-dd hh:mm:ss"), row.op),
            row.picture);
    }
    // The window with its first rows read, as FormShow leaves it.
    std::unique_ptr<TfmQueryPic> window()
    {
        auto w = std::make_unique<TfmQueryPic>(connection);
        QTimer::singleShot(0, w.get(), [raw = w.get()] { raw->reject(); });
        w->runModal();
        return w;
    }
    // The grid's rows from `first` to `end` (all of them where it is -1).
    QStringList listed(TfmQueryPic& w, int first = 0, int end = -1)
    {
        QStringList rows;
        QAbstractItemModel* model = part<QTableView>(w, "DBGrid1")->model();
        for (int r = first; r < (end < 0 ? model->rowCount() : end); ++r)
            rows << model->index(r, 0).data().toString() + " " + model->index(r, 1).data().toString() + " " +
                        model->index(r, 2).data().toString();
        return rows;
    }
    QSize shownPicture(TfmQueryPic& w)
    {
        QPixmap shown = part<QLabel>(w, "picImage")->pixmap();
        return shown.isNull() ? QSize() : shown.size();
    }
    void search(TfmQueryPic& w, QDate begin, QDate end, int port)
    {
        part<QDateEdit>(w, "dtpBegin")->setDate(begin);
        part<QDateEdit>(w, "dtpEnd")->setDate(end);
        part<SpinEdit>(w, "sePort")->setValue(port);
        part<QPushButton>(w, "btQuery")->click();
    }

    static std::unique_ptr<PostgresServer> server;
    TempWorkDir dir;
    QString connection;
    QString table = "CAPPICTURE";
};

std::unique_ptr<PostgresServer> QueryWindowTest::server;

const QDate June11(2004, 6, 11);

}  // namespace

TEST(QueryWindow, SearchStatements)
{
    EXPECT_EQ(TfmQueryPic::SearchStatement(June11, June11.addDays(1), 3),
              "select * from CAPPICTURE where (CAPTIME between '2004-06-11 00:00:00' and '2004-06-12 23:59:59') "
              "and VIDEOPORT=3");
    EXPECT_EQ(TfmQueryPic::SearchStatement(June11, June11.addDays(1), 0),
              "select * from CAPPICTURE where (CAPTIME between '2004-06-11 00:00:00' and '2004-06-12 23:59:59')");
}

// Rows come to the grid a page at a time, and a page is found by the rows'
// keys: 600 rows inserted newest first take ten pages, more than are kept,
// and every listed row must still show its own fields.
TEST_P(QueryWindowTest, TheFirstHundredOldestRowsWithTheFirstPictureThenEveryRow)
{
    QDateTime start(June11, QTime(8, 0));
    QStringList values;
    for (int i = 599; i >= 1; --i)
        values << QString("(%1,'%2','%3')").arg(i % 4).arg(start.addSecs(i).toString("yyyy-MM-dd hh:mm:ss")).arg(i);
    run("insert into CAPPICTURE(VIDEOPORT, CAPTIME, OPERATOR) VALUES" + values.join(','));
    insert({0, start, "0", picture(200, 150)});
    auto w = window();
    auto expected = [&](int i) {
        return QString("%1 %2 %3").arg(i % 4).arg(start.addSecs(i).toString("yyyy-MM-dd hh:mm:ss")).arg(i);
    };
    QStringList rows = listed(*w);
    ASSERT_EQ(rows.size(), 100);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(rows[i], expected(i)) << "the oldest first";
    EXPECT_EQ(shownPicture(*w), QSize(200, 150)) << "the first row's picture";
    EXPECT_EQ(part<QDateEdit>(w, "dtpBegin")->date(), QDate::currentDate());
    EXPECT_EQ(part<QTableView>(w, "DBGrid1")->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(part<QTableView>(w, "DBGrid1")->model()->flags(part<QTableView>(w, "DBGrid1")->model()->index(0, 0)) & Qt::ItemIsEditable)
        << "the grid refuses edits";

    search(*w, June11, June11, 0);
    rows = listed(*w);
    rows.sort();
    QStringList all;
    for (int i = 0; i < 600; ++i)
        all << expected(i);
    all.sort();
    EXPECT_EQ(rows, all) << "each row with its own fields, none twice";
}

TEST_P(QueryWindowTest, DayRangesAndTheInputFilter)
{
    insert({1, QDateTime(June11.addDays(-1), QTime(23, 59, 59)), "a", {}});
    insert({3, QDateTime(June11, QTime(0, 0, 0)), "b", {}});
    insert({1, QDateTime(June11, QTime(23, 59, 59)), "c", {}});
    insert({3, QDateTime(June11.addDays(1), QTime(12, 0)), "d", {}});
    insert({3, QDateTime(June11.addDays(2), QTime(0, 0)), "e", {}});
    auto w = window();
    auto operators = [&] {
        QStringList ops;
        for (const QString& row : listed(*w))
            ops << row.section(' ', -1);
        ops.sort();
        return ops.join(',');
    };
    search(*w, June11, June11.addDays(1), 0);
    EXPECT_EQ(operators(), "b,c,d");
    search(*w, June11, June11, 0);
    EXPECT_EQ(operators(), "b,c") << "one day, from 00:00:00 to 23:59:59";
    search(*w, June11, June11.addDays(1), 3);
    EXPECT_EQ(operators(), "b,d") << "input 3 only";
    search(*w, June11.addDays(1), June11, 0);
    EXPECT_EQ(operators(), "") << "a reversed range finds nothing";
}

TEST_P(QueryWindowTest, EachRowShowsItsOwnPictureClippedNotScaled)
{
    QByteArray corrupt = picture(100, 100).left(20);
    QImage big(640, 480, QImage::Format_RGB32);
    big.fill(Qt::blue);
    QPainter(&big).fillRect(QRect(0, 0, 160, 120), Qt::red);
    insert({1, QDateTime(June11, QTime(1, 0)), "big", EncodeJpeg(big)});
    insert({1, QDateTime(June11, QTime(2, 0)), "empty", QByteArray()});
    insert({1, QDateTime(June11, QTime(3, 0)), "corrupt", "not a picture at all"});
    insert({1, QDateTime(June11, QTime(4, 0)), "small", picture(160, 120)});
    auto w = window();
    EXPECT_EQ(shownPicture(*w), QSize(320, 240)) << "the box's corner of it";
    QImage shown = part<QLabel>(w, "picImage")->pixmap().toImage();
    EXPECT_GT(qRed(shown.pixel(150, 110)), 225) << "at its own size, not scaled";
    EXPECT_LT(qRed(shown.pixel(170, 130)), 30);
    part<QTableView>(w, "DBGrid1")->selectRow(1);
    EXPECT_EQ(shownPicture(*w), QSize()) << "an empty picture clears the box";
    part<QTableView>(w, "DBGrid1")->selectRow(3);
    EXPECT_EQ(shownPicture(*w), QSize(160, 120));
    part<QTableView>(w, "DBGrid1")->selectRow(2);
    EXPECT_EQ(shownPicture(*w), QSize()) << "a corrupt picture clears the box";
}

// Only the close box closes it: Esc and Enter do nothing of their own.
TEST_P(QueryWindowTest, KeysDoNotCloseIt)
{
    TfmQueryPic w(connection);
    bool openAfterKeys = false;
    QTimer::singleShot(0, &w, [&] {
        for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(part<QTableView>(w, "DBGrid1"), &press);
        }
        openAfterKeys = w.isVisible();
        w.close();
    });
    w.runModal();
    EXPECT_TRUE(openAfterKeys);
}

// Another program changes the table while a search is shown: a retention
// delete, VACUUM (SQLite then renumbers the rowids of a table without an
// INTEGER PRIMARY KEY; PostgreSQL gives the freed places to new rows), new
// rows. Each listed row keeps its fields and shows its own picture, or
// none once it is gone, never another row's.
TEST_P(QueryWindowTest, ListedRowsShowWhatTheyHeldOrNothingWhateverHappensToTheTable)
{
    LogFile log(dir.file("tarvelo.log"));
    QDateTime start(June11, QTime(8, 0));
    for (int i = 0; i < 40; ++i)
        insert({i < 20 ? 1 : 2, start.addSecs(60 * i), qPrintable(QString("op%1").arg(i)), picture(100 + i, 60)});
    auto w = window();
    search(*w, June11, June11, 0);
    const QStringList before = listed(*w);
    QStringList stored;
    for (int i = 0; i < 40; ++i)
        stored << QString("%1 %2 op%3").arg(i < 20 ? 1 : 2).arg(start.addSecs(60 * i).toString("yyyy-MM-dd hh:mm:ss")).arg(i);
    ASSERT_EQ(before, stored) << "in the order they were stored";
    run("delete from CAPPICTURE where VIDEOPORT = 1");
    run(GetParam() ? "vacuum full" : "vacuum");
    for (int i = 0; i < 20; ++i)
        insert({9, start.addDays(3).addSecs(i), "new", picture(300 + i, 60)});
    EXPECT_EQ(listed(*w), stored);
    auto* grid = part<QTableView>(w, "DBGrid1");
    for (int r = 39; r >= 0; --r) {
        grid->selectRow(r);
        const int i = before[r].section("op", 1).toInt();
        EXPECT_EQ(shownPicture(*w), i < 20 ? QSize() : QSize(100 + i, 60)) << before[r].toStdString();
    }
    grid->selectRow(1);
    EXPECT_EQ(log.lines().filter("is gone").size(), 20) << "each gone row logged once";
}

// Rows on pages not read yet are read by their keys, which another program
// can give to other rows: SQLite's REPLACE with a rowid, or a new row taking
// a deleted newest row's number; PostgreSQL's VACUUM FULL moving rows that
// one statement wrote (one xmin) into the places of deleted ones. A row
// read back is its own or nothing.
TEST_P(QueryWindowTest, RowsNotYetShownAreNeverAnotherRow)
{
    QDateTime start(June11, QTime(8, 0));
    auto stored = [&](int i) { return QString("1 %1 op%2").arg(start.addSecs(i).toString("yyyy-MM-dd hh:mm:ss")).arg(i); };
    QStringList values;
    for (int i = 0; i < 256; ++i)
        values << QString("(1,'%1','op%2')").arg(start.addSecs(i).toString("yyyy-MM-dd hh:mm:ss")).arg(i);
    run("insert into CAPPICTURE(VIDEOPORT, CAPTIME, OPERATOR) VALUES" + values.join(','));
    auto w = window();
    search(*w, June11, June11, 1);
    auto ownOrNothing = [&](int first, int end) {
        QStringList rows = listed(*w, first, end);
        for (int r = 0; r < rows.size(); ++r)
            if (rows[r] != stored(first + r) && rows[r] != "  ")
                return rows[r];
        return QString("each its own or nothing");
    };
    if (GetParam()) {
        run("delete from CAPPICTURE where CAPTIME < '2004-06-11 08:02:08'");  // the first half
        run("vacuum full CAPPICTURE");
        EXPECT_EQ(ownOrNothing(64, 256), "each its own or nothing");
        return;
    }
    run("replace into CAPPICTURE(rowid, VIDEOPORT, CAPTIME, OPERATOR) VALUES(100, 9, '2030-01-01 00:00:00', 'intruder')");
    EXPECT_EQ(ownOrNothing(64, 128), "each its own or nothing") << "a row the search would not find";
    run("delete from CAPPICTURE where rowid = 256");
    run("insert into CAPPICTURE(VIDEOPORT, CAPTIME, OPERATOR) VALUES(1, '2004-06-11 09:00:00', 'intruder')");
    EXPECT_EQ(ownOrNothing(128, 256), "each its own or nothing") << "a new row under the newest row's number";
}

// CAPPICTURE as a view has no row keys: its rows are found by their fields,
// the host's snapshots (no operator) too.
TEST_P(QueryWindowTest, AViewNamedCappicture)
{
    makeView();
    insert({1, QDateTime(June11, QTime(1, 0)), "", picture(120, 90)});
    insert({2, QDateTime(June11, QTime(2, 0)), "", picture(130, 90)});
    // Snapshots queued in one second: equal in every listed field.
    insert({3, QDateTime(June11, QTime(3, 0)), "", picture(140, 90)});
    insert({3, QDateTime(June11, QTime(3, 0)), "", picture(150, 90)});
    insert({4, QDateTime(June11, QTime(4, 0)), "", picture(160, 90)});
    insert({4, QDateTime(June11, QTime(4, 0)), "", picture(160, 90)});
    auto w = window();
    EXPECT_EQ(listed(*w, 0, 2), QStringList({"1 2004-06-11 01:00:00 ", "2 2004-06-11 02:00:00 "}));
    EXPECT_EQ(shownPicture(*w), QSize(120, 90));
    const QSize shown[] = {{120, 90}, {130, 90}, {}, {}, {160, 90}, {160, 90}};
    for (int r : {1, 2, 3, 4, 5}) {
        part<QTableView>(w, "DBGrid1")->selectRow(r);
        EXPECT_EQ(shownPicture(*w), shown[r]) << "row " << r << ": its own picture, or none where equals differ";
    }
}

INSTANTIATE_TEST_SUITE_P(SQLiteAndPostgres, QueryWindowTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "PostgreSQL" : "SQLite"; });

TEST(QueryWindow, ADatabaseErrorEndsTheShowingWithItsText)
{
    TempWorkDir dir;
    qputenv("TARVELO_MESSAGE_LOG", QFile::encodeName(dir.file("messages.log")));
    auto w = std::make_unique<TfmQueryPic>("Provider=SQLite;Data Source=" + dir.file("empty.db"));
    w->runModal();  // returns at once: the table is missing
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(QString::fromUtf8(readBytes(dir.file("messages.log"))).contains("no such table"));
    w.reset();
    qunsetenv("TARVELO_MESSAGE_LOG");
}

class QueryWindowOnPostgres : public QueryWindowTest {};

// A ctid is a place inside one partition: each year's first row has the
// same one.
TEST_P(QueryWindowOnPostgres, APartitionedTable)
{
    run("drop table CAPPICTURE");
    run("create table CAPPICTURE (VIDEOPORT integer, CAPTIME timestamp, OPERATOR char(10), PICTURE bytea) "
        "partition by range (CAPTIME)");
    run("create table CAP2024 partition of CAPPICTURE for values from ('2024-01-01') to ('2025-01-01')");
    run("create table CAP2025 partition of CAPPICTURE for values from ('2025-01-01') to ('2026-01-01')");
    insert({1, QDateTime(QDate(2024, 6, 11), QTime(8, 0)), "a", picture(110, 60)});
    insert({1, QDateTime(QDate(2025, 6, 11), QTime(8, 0)), "b", picture(220, 60)});
    auto w = window();
    search(*w, QDate(2025, 6, 11), QDate(2025, 6, 11), 1);
    EXPECT_EQ(listed(*w), QStringList{"1 2025-06-11 08:00:00 b"});
    EXPECT_EQ(shownPicture(*w), QSize(220, 60));
    search(*w, QDate(2024, 6, 11), QDate(2024, 6, 11), 1);
    EXPECT_EQ(shownPicture(*w), QSize(110, 60));
}

// A foreign table's ctid is a place on the other server, which that server
// gives to its next row: such a table is listed by its rows' fields.
TEST_P(QueryWindowOnPostgres, AForeignTable)
{
    makeView();
    run("drop view CAPPICTURE");
    run("create extension if not exists postgres_fdw");
    run("create server loopback foreign data wrapper postgres_fdw options (host '" + server->socketDirectory() +
        "', dbname 'postgres')");
    run("create user mapping for current_user server loopback options (user 'tarvelo')");
    run("create foreign table CAPPICTURE (VIDEOPORT integer, CAPTIME timestamp, OPERATOR char(10), PICTURE bytea) "
        "server loopback options (table_name 'caprows')");
    QStringList values;
    for (int i = 0; i < 100; ++i)
        values << QString("(1,'2004-06-11 08:00:%1','op%2')").arg(i % 60, 2, 10, QChar('0')).arg(i);
    run("insert into CAPROWS(VIDEOPORT, CAPTIME, OPERATOR) VALUES" + values.join(','));
    auto w = window();
    search(*w, June11, June11, 1);
    run("delete from CAPROWS where OPERATOR = 'op90'");
    run("vacuum CAPROWS");
    run("insert into CAPROWS(VIDEOPORT, CAPTIME, OPERATOR) VALUES(1, '2004-06-11 09:00:00', 'intruder')");
    EXPECT_EQ(listed(*w, 90, 91), QStringList{"1 2004-06-11 08:00:30 op90"});
    run("drop foreign table CAPPICTURE");
    run("drop server loopback cascade");
}

// Qt's driver reads a result row by row: an error after the first rows
// (here a row the view cannot compute; a server gone, a statement time-out)
// must fail the search, not shorten it.
TEST_P(QueryWindowOnPostgres, ASearchCutShortIsAFailedSearch)
{
    run("create function fail_on_99(port integer) returns integer language plpgsql volatile as "
        "$$ begin if port = 99 and current_query() like '%between%' then raise exception 'row 99 cannot be read'; "
        "end if; return port; end $$");
    makeView("fail_on_99(VIDEOPORT)");
    QStringList values;
    QDateTime start(June11, QTime(8, 0));
    for (int i = 0; i < 2000; ++i)
        values << QString("(%1,'%2','x')").arg(i == 1999 ? 99 : 1).arg(start.addSecs(i).toString("yyyy-MM-dd hh:mm:ss"));
    run("insert into CAPROWS(VIDEOPORT, CAPTIME, OPERATOR) VALUES" + values.join(','));
    LogFile log(dir.file("tarvelo.log"));
    auto w = window();
    ASSERT_EQ(listed(*w).size(), 100);
    search(*w, June11, June11, 0);
    EXPECT_EQ(listed(*w).size(), 0) << "the grid empty";
    EXPECT_TRUE(QString::fromUtf8(readBytes(dir.file("messages.log"))).contains("row 99 cannot be read"))
        << "the error box";
    EXPECT_EQ(log.lines().filter("cut short").size(), 1);
    run("drop view CAPPICTURE");
    run("drop function fail_on_99");
}

// A server gone silent (the link up, no answer) while the rows are shown:
// the first read waits its time limit, and every other read fails at once
// for a while, so that the window keeps answering; a page that could not be
// read is not rows that are gone, and is read once the server is back.
TEST_P(QueryWindowOnPostgres, AServerGoneSilentForAWhile)
{
    using namespace std::chrono_literals;
    TcpProxy proxy(server->socketPath());
    connection = QString("Provider=PostgreSQL;Data Source=127.0.0.1:%1;Initial Catalog=postgres;User ID=tarvelo")
                     .arg(proxy.port());
    QStringList values;
    for (int i = 0; i < 150; ++i)
        values << QString("(1,'2004-06-11 08:%1:00','op%2')").arg(i % 60, 2, 10, QChar('0')).arg(i);
    run("insert into CAPPICTURE(VIDEOPORT, CAPTIME, OPERATOR) VALUES" + values.join(','));
    insert({2, QDateTime(June11, QTime(7, 0)), "first", picture(120, 90)});
    insert({2, QDateTime(June11, QTime(7, 1)), "second", picture(130, 90)});
    LogFile log(dir.file("tarvelo.log"));
    auto w = window();
    w->adoQuery.setTimeLimit(2s);
    w->adoQuery.setRetryPause(4s);
    search(*w, June11, June11, 0);
    auto* grid = part<QTableView>(w, "DBGrid1");
    proxy.stall();
    QElapsedTimer t;
    t.start();
    grid->selectRow(151);
    EXPECT_EQ(shownPicture(*w), QSize());
    EXPECT_EQ(listed(*w, 0, 1), QStringList{"1 2004-06-11 08:00:00 op0"}) << "the fields shown need no server";
    listed(*w);
    grid->selectRow(150);
    EXPECT_LT(t.elapsed(), 3500) << "one wait, then failures at once";
    proxy.resume();
    std::this_thread::sleep_for(4s);
    grid->selectRow(151);
    EXPECT_EQ(shownPicture(*w), QSize(130, 90)) << "read again once the server is back";
    EXPECT_EQ(listed(*w, 150, 152), QStringList({"2 2004-06-11 07:00:00 first", "2 2004-06-11 07:01:00 second"}));
    QStringList logged = log.lines();
    EXPECT_EQ(logged.filter("is gone").size(), 0) << "a failed read is not a removed row";
    EXPECT_EQ(logged.filter("cannot read").size(), 1) << "once for the outage";
    EXPECT_EQ(logged.filter("can be read again").size(), 1);
}

INSTANTIATE_TEST_SUITE_P(PostgreSQL, QueryWindowOnPostgres, ::testing::Values(true));
