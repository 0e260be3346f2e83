// Snapshots from a scripted capture driver into files and into the rows of
// CAPPICTURE on SQLite, a PostgreSQL server of the test's own and ODBC;
// every picture is read back by an independent decoder (djpeg).

#include "../capture/LoggingCaptureService.h"
#include "../capture/device/ScriptedDriver.h"
#include "capture/device/DriverRegistry.h"
#include "console/SnapshotStore.h"
#include "support/LogFile.h"
#include "support/PostgresServer.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

const QDateTime At(QDate(2004, 6, 11), QTime(17, 35, 7));

// The picture's size as djpeg reads it, "640 480"; empty when it cannot.
QString decodedSize(const QByteArray& jpeg, const QString& dir)
{
    QString path = dir + "/probe.jpg";
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(jpeg);
    file.close();
    QProcess djpeg;
    djpeg.start("djpeg", {"-pnm", path});
    djpeg.waitForFinished(10000);
    QList<QByteArray> header = djpeg.readAllStandardOutput().split('\n');
    return djpeg.exitCode() == 0 && header.size() > 1 ? QString::fromLatin1(header[1]) : QString();
}

class SnapshotStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        script.size = {640, 480};
        auto driver = std::make_shared<ScriptedDriver>(script);
        DriverRegistry::setDriverSource([driver](int32_t) { return std::vector<std::shared_ptr<CaptureDriver>>{driver}; });
        capture.setDriverIndex(0);
        ASSERT_TRUE(capture.EnsureDriverOpen());
        QDir().mkdir(dir.file("pictures"));
    }
    void TearDown() override { DriverRegistry::setDriverSource(nullptr); }

    SnapshotStore store(bool database)
    {
        SnapshotStore s(capture, query, {database, dir.file("pictures") + '/'});
        s.now = [] { return At; };
        s.showStatement = [this](const QString& text) { statements << text; };
        return s;
    }
    QStringList pictures() const { return QDir(dir.file("pictures")).entryList(QDir::Files | QDir::Hidden); }

    TempWorkDir dir;
    DriverScript script;
    TVideoCap capture;
    QueryObject query;
    QStringList statements;
};

// Sites declare the operator "not null": a snapshot the host asked for has
// an empty operator, not none.
const QString SQLiteTable =
    "create table CAPPICTURE (VIDEOPORT integer, CAPTIME datetime, OPERATOR char(10) not null, PICTURE blob)";

void createTable(QueryObject& query, const QString& connection, const QString& definition)
{
    query.setConnectionString(connection);
    query.setStatement(definition);
    query.execute();
}

}  // namespace

TEST_F(SnapshotStoreTest, FilesAreNamedByInputTimeAndOperator)
{
    SnapshotStore files = store(false);
    EXPECT_EQ(files.TakeSnapshot("", "op1", 3), "") << "a stored file says nothing";
    EXPECT_EQ(files.TakeSnapshot("", "", 0), "");
    EXPECT_EQ(files.TakeSnapshot("", "../up", 7), "");
    const QString longest(255 - int(strlen("9-20040611173507-.jpg")), 'x');  // NAME_MAX exactly
    EXPECT_EQ(files.TakeSnapshot("", longest, 9), "") << "a name at the limit, whatever its temporary name";
    EXPECT_EQ(files.TakeSnapshot("", "a:b*c?\"d<e>|", 5), "") << "Windows alone refuses these";
    EXPECT_EQ(pictures(), (QStringList{"0-20040611173507-.jpg", "3-20040611173507-op1.jpg",
                                       "5-20040611173507-a:b*c?\"d<e>|.jpg", "7-20040611173507-.._up.jpg",
                                       "9-20040611173507-" + longest + ".jpg"}))
        << "the second hyphen stays; no name leads out of the directory; nothing left beside";
    QFile stored(dir.file("pictures/3-20040611173507-op1.jpg"));
    stored.open(QIODevice::ReadOnly);
    EXPECT_EQ(decodedSize(stored.readAll(), dir.path()), "640 480");
    QFile plain(dir.file("plain"));
    plain.open(QIODevice::WriteOnly);
    EXPECT_EQ(stored.permissions(), plain.permissions()) << "readable as any new file of its owner's";
    EXPECT_TRUE(statements.isEmpty());
    EXPECT_EQ(SnapshotStore::FileName("C:/Pictures/", 3, At, "op1"), "C:/Pictures/3-20040611173507-op1.jpg");
}

TEST_F(SnapshotStoreTest, FailuresStoreNothing)
{
    SnapshotStore files = store(false);
    QDir(dir.file("pictures")).removeRecursively();
    EXPECT_EQ(files.TakeSnapshot("", "op1", 3), "文件保存失败") << "the picture directory is gone";
    QDir().mkdir(dir.file("pictures"));
    capture.CloseDriver();
    EXPECT_EQ(files.TakeSnapshot("", "op1", 3), "不能保存图片") << "no capture driver connected";
    EXPECT_TRUE(pictures().isEmpty());

    // A disk that fills up while the picture is written: the file-size limit
    // is lowered once the bitmap has been read, just before the picture goes
    // to disk, and raised again after.
    ASSERT_TRUE(capture.EnsureDriverOpen());
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    files.now = [&] {
        rlimit full{256, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &full);
        return At;
    };
    QString status = files.TakeSnapshot("", "op1", 3);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(status, "文件存盘失败") << "a full disk says so";
    EXPECT_TRUE(pictures().isEmpty()) << "and leaves no cut-off picture";
}

// A capture service whose bitmap files hold no picture.
class BrokenBitmaps : public LoggingCaptureService {
public:
    BrokenBitmaps() : LoggingCaptureService([](const std::string&) {}) {}
    bool capFileSaveDIB(HCAPWND, const QString& file) override
    {
        QFile out(file);
        return out.open(QIODevice::WriteOnly) && out.write("BM not a bitmap") > 0;
    }
};

TEST_F(SnapshotStoreTest, AnUnreadableBitmapOrAnImpossibleNameStoresNothing)
{
    BrokenBitmaps service;
    TVideoCap broken(nullptr, service);
    broken.setDriverIndex(0);
    ASSERT_TRUE(broken.EnsureDriverOpen());
    for (bool database : {false, true}) {
        SnapshotStore s(broken, query, {database, dir.file("pictures") + '/'});
        s.showStatement = [this](const QString& text) { statements << text; };
        EXPECT_EQ(s.TakeSnapshot("op1", "op1", 3), "文件保存失败") << (database ? "database mode" : "file mode");
    }
    EXPECT_TRUE(statements.isEmpty());
    SnapshotStore files = store(false);
    EXPECT_EQ(files.TakeSnapshot("", QString(300, 'x'), 3), "文件保存失败") << "a name longer than a file name can be";
    EXPECT_TRUE(pictures().isEmpty());
}

TEST_F(SnapshotStoreTest, RowsInSQLiteWithTheStatementShownFirst)
{
    createTable(query, "Provider=SQLite;Data Source=" + dir.file("pictures.db"), SQLiteTable);
    SnapshotStore rows = store(true);
    EXPECT_EQ(rows.TakeSnapshot("op1", "ignored", 3), "保存到数据库完成");
    EXPECT_EQ(rows.TakeSnapshot("o'brien", "", 4), "保存到数据库完成") << "a quote cannot change the statement";
    EXPECT_EQ(rows.TakeSnapshot(QString(), "op1", 5), "保存到数据库完成") << "the host's snapshot";
    statements.removeLast();
    EXPECT_EQ(statements, (QStringList{
                              "insert into CAPPICTURE(VIDEOPORT, CAPTIME, OPERATOR, PICTURE) "
                              "VALUES(3,'2004-06-11 17:35:07','op1',:img)",
                              "insert into CAPPICTURE(VIDEOPORT, CAPTIME, OPERATOR, PICTURE) "
                              "VALUES(4,'2004-06-11 17:35:07','o'brien',:img)",
                          }));
    query.setStatement("select * from CAPPICTURE order by VIDEOPORT");
    query.open();
    ASSERT_EQ(query.rowCount(), 3);
    EXPECT_EQ(query.field("VIDEOPORT").toInt(), 3);
    EXPECT_EQ(query.field("CAPTIME").toDateTime(), At);
    EXPECT_EQ(query.field("OPERATOR").toString().trimmed(), "op1");
    EXPECT_EQ(decodedSize(query.field("PICTURE").toByteArray(), dir.path()), "640 480");
    query.setCurrentRow(1);
    EXPECT_EQ(query.field("OPERATOR").toString().trimmed(), "o'brien");
    EXPECT_TRUE(pictures().isEmpty());
    query.setStatement("select * from CAPPICTURE where OPERATOR=''");
    query.open();
    EXPECT_EQ(query.rowCount(), 1) << "an empty operator, found as reports look for it";
}

TEST_F(SnapshotStoreTest, DatabaseFailuresComeAfterTheStatementBox)
{
    LogFile log(dir.file("tarvelo.log"));
    SnapshotStore rows = store(true);
    EXPECT_EQ(rows.TakeSnapshot("op1", "", 3), "保存到数据库失败") << "no connection string";
    query.setConnectionString("Provider=SQLite;Data Source=" + dir.file("empty.db"));
    EXPECT_EQ(rows.TakeSnapshot("op1", "", 3), "保存到数据库失败") << "table missing";
    query.setConnectionString("Provider=PostgreSQL;Data Source=127.0.0.1:1;Initial Catalog=x;User ID=x");
    EXPECT_EQ(rows.TakeSnapshot("op1", "", 3), "保存到数据库失败") << "server unreachable";
    EXPECT_EQ(statements.size(), 3) << "the box comes first each time";
    QStringList logged = log.lines();
    EXPECT_EQ(logged.size(), 3) << "one line for each failure, however many lines its reason had:\n"
                                << logged.join('\n').toStdString();
    EXPECT_TRUE(logged.filter("snapshot: the row was not stored: cannot connect: ").size() == 1);
    capture.CloseDriver();
    EXPECT_EQ(rows.TakeSnapshot("op1", "", 3), "不能保存图片");
    EXPECT_EQ(statements.size(), 3) << "no picture, no box";
}

TEST_F(SnapshotStoreTest, RowsInPostgresNativeAndThroughOdbc)
{
    PostgresServer server;
    const QString table =
        "create table CAPPICTURE (VIDEOPORT integer, CAPTIME timestamp, OPERATOR char(10) not null, PICTURE bytea)";
    createTable(query, server.connectionString(), table);
    SnapshotStore rows = store(true);
    EXPECT_EQ(rows.TakeSnapshot("op1", "", 3), "保存到数据库完成");
    EXPECT_EQ(rows.TakeSnapshot(QString(), "", 4), "保存到数据库完成") << "the host's snapshot";
    query.setConnectionString("Provider=MSDASQL;Driver={PostgreSQL Unicode};Servername=" + server.socketDirectory() +
                              ";Database=postgres;Username=tarvelo;ByteaAsLongVarBinary=1");
    EXPECT_EQ(rows.TakeSnapshot("o'brien", "", 5), "保存到数据库完成");
    EXPECT_EQ(rows.TakeSnapshot("Administrator", "", 6), "保存到数据库完成") << "a name longer than the column";
    query.setConnectionString(server.connectionString());
    query.setStatement("select * from CAPPICTURE order by VIDEOPORT");
    query.open();
    const QStringList operators{"op1", "", "o'brien", "Administra"};
    ASSERT_EQ(query.rowCount(), operators.size());
    for (int row = 0; row < query.rowCount(); ++row) {
        query.setCurrentRow(row);
        EXPECT_EQ(query.field("VIDEOPORT").toInt(), 3 + row);
        EXPECT_EQ(query.field("CAPTIME").toDateTime(), At);
        EXPECT_EQ(query.field("OPERATOR").toString().trimmed(), operators[row]);
        EXPECT_EQ(decodedSize(query.field("PICTURE").toByteArray(), dir.path()), "640 480");
    }
}

// What fits char(10): characters on most servers, bytes of GBK on SQL
// Server, where a Chinese character takes two.
TEST(StoredOperator, CutToWhatTheColumnHolds)
{
    struct Case {
        QString name;
        SqlDialect dialect;
        QString stored;
    } cases[] = {
        {QString(), SqlDialect::PostgreSQL, ""},
        {"Administrator", SqlDialect::PostgreSQL, "Administra"},
        {"Administrator", SqlDialect::SqlServer, "Administra"},
        {"值班员值班员值班员值班", SqlDialect::Unknown, "值班员值班员值班员值"},
        {"值班员值班员", SqlDialect::SQLite, "值班员值班员"},
        {"值班员值班员", SqlDialect::SqlServer, "值班员值班"},
        {"a值班员值班", SqlDialect::SqlServer, "a值班员值"},
        {"😀😀😀😀😀😀😀😀😀😀😀", SqlDialect::PostgreSQL, "😀😀😀😀😀😀😀😀😀😀"},
    };
    for (const Case& c : cases) {
        QString stored = SnapshotStore::StoredOperator(c.name, c.dialect);
        EXPECT_EQ(stored, c.stored) << c.name.toStdString();
        EXPECT_FALSE(stored.isNull()) << "never NULL";
    }
}
