// The picture query and playback figures. A year of snapshots: a
// CAPPICTURE table of 1,000,000 rows over 365 days with pictures of about
// 2 KB, in SQLite and in PostgreSQL; the window opened with its first
// picture, a one-day search, a search returning every row, moving to its
// last row, the next row's picture across the result and the memory the
// whole result costs. Then playback of a 640 x 480 Motion-JPEG recording at
// 25 frames a second.

#include "BenchSupport.h"
#include "YearOfSnapshots.h"
#include "capture/device/gstreamer/GstSession.h"
#include "framework/ConnectionString.h"
#include "playback/FormPlayAVI.h"
#include "support/PostgresServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <thread>

using namespace tarvelo;
using namespace tarvelo::bench;

namespace {

// The baseline: the year's rows copied whole as records, their pictures
// left out, as the window kept them before.
void copyBaseline(const QString& connection, int year)
{
    SqlConnectionTarget target = MapConnectionString(connection);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(target.driver, QStringLiteral("baseline"));
        db.setDatabaseName(target.databaseName);
        db.setHostName(target.hostName);
        db.setUserName(target.userName);
        db.open();
        double before = residentMb();
        QElapsedTimer t;
        t.start();
        std::vector<QSqlRecord> rows;
        {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            query.exec(QString("select %1 as tarvelo_row, VIDEOPORT, CAPTIME, OPERATOR from CAPPICTURE where "
                               "(CAPTIME between '%2-01-01 00:00:00' and '%2-12-31 23:59:59')")
                           .arg(target.dialect == SqlDialect::SQLite ? "rowid" : "ctid")
                           .arg(year));
            while (query.next())
                rows.push_back(query.record());
        }
        std::printf("  baseline, every row copied whole as before: %zu rows in %.0f ms, resident memory %+.0f MB\n",
                    rows.size(), msSince(t), residentMb() - before);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("baseline"));
}

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

class NoSink : public FrameSink {
public:
    void frameArrived(const QImage&, VIDEOHDR*) override {}
    void videoRecorded(VIDEOHDR*) override {}
    void audioRecorded(WAVEHDR*) override {}
    void statusChanged(int32_t, const std::string&) override {}
};

void playback(const QString& dir)
{
    QString file = dir + "/playback.avi";
    {
        NoSink sink;
        SourceSpec source{"videotestsrc is-live=true pattern=ball", "25/1", "", "", {}, {640, 480, "BGRx"}, {}};
        GstSession session(std::move(source), sink);
        session.start();
        RecordingRequest request;
        request.file = file;
        request.parms.dwRequestMicroSecPerFrame = 40000;
        session.startRecording(request);
        std::this_thread::sleep_for(std::chrono::seconds(8));
        session.stopRecording();
    }
    TfmPlayAVI window;
    window.show();
    window.openFile(file);
    window.MediaPlayer.play();
    pump(500);
    double cpu = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    pump(5000);
    double share = (cpuSeconds() - cpu) / (double(wall.elapsed()) / 1000.0);
    std::printf("playback of 640 x 480 Motion-JPEG at 25 frames/s into the panel: CPU %.1f%% of one core "
                "(target < 15%%)\n",
                share * 100);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QByteArray picture = smallPicture();
    const int year = QDate::currentDate().year();
    const QDate day(year, 3, 1);
    std::printf("Picture query benchmark: %d rows over the 365 days of %d, pictures of %lld bytes\n", YearRows, year,
                (long long)picture.size());
    std::fflush(stdout);
    // "--odbc": the year in PostgreSQL through psqlODBC only, listed without
    // row keys, as SQL Server's database is listed.
    const bool odbcOnly = argc > 1 && qstrcmp(argv[1], "--odbc") == 0;
    if (odbcOnly) {
        test::PostgresServer server;
        fillYear(server.connectionString(), true, year, picture);
        measureQueryWindow("PostgreSQL through ODBC (psqlODBC), without row keys",
                           "Provider=MSDASQL;Driver={PostgreSQL Unicode};Servername=" + server.socketDirectory() +
                               ";Database=postgres;Username=tarvelo;ByteaAsLongVarBinary=1",
                           year, day, false);
        return 0;
    }
    QString sqlite = "Provider=SQLite;Data Source=" + dir.filePath("pictures.db");
    fillYear(sqlite, false, year, picture);
    measureQueryWindow("SQLite", sqlite, year, day);
    copyBaseline(sqlite, year);
    QFile::remove(dir.filePath("pictures.db"));
    test::PostgresServer server;
    fillYear(server.connectionString(), true, year, picture);
    measureQueryWindow("PostgreSQL", server.connectionString(), year, day);
    copyBaseline(server.connectionString(), year);
    measureQueryWindow("PostgreSQL through ODBC (psqlODBC), without row keys",
                       "Provider=MSDASQL;Driver={PostgreSQL Unicode};Servername=" + server.socketDirectory() +
                           ";Database=postgres;Username=tarvelo;ByteaAsLongVarBinary=1",
                       year, day, false);
    playback(dir.path());
    return 0;
}
