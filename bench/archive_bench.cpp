// The picture query and playback figures. A year of snapshots: a
// CAPPICTURE table of 1,000,000 rows over 365 days with pictures of about
// 2 KB, in SQLite and in PostgreSQL; the window opened with its first
// picture, a one-day search, a search returning every row, moving to its
// last row, the next row's picture across the result and the memory the
// whole result costs. Then playback of a 640 x 480 Motion-JPEG recording at
// 25 frames a second.

#include "BenchSupport.h"
#include "archive/FormQueryPic.h"
#include "capture/device/GstSession.h"
#include "framework/ConnectionString.h"
#include "framework/JpegImage.h"
#include "playback/FormPlayAVI.h"
#include "support/PostgresServer.h"

#include <QApplication>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <thread>

using namespace tarvelo;
using tarvelo::bench::pump;

namespace {

constexpr int Rows = 1000000;
constexpr double SecondsApart = 365.0 * 86400 / Rows;  // about 2,740 snapshots a day

double residentMb()
{
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// A picture of about 2 KB, noise, which does not compress: just over what
// PostgreSQL keeps inside a table's row, so that it is stored apart as
// every real snapshot is, and the table itself stays small.
QByteArray smallPicture()
{
    QByteArray encoded;
    for (int width = 40; encoded.size() < 2100; width += 4) {
        QImage image(width, 32, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, QRandomGenerator::global()->generate());
        encoded = EncodeJpeg(image);
    }
    return encoded;
}

void fill(const QString& connection, bool postgres, const QByteArray& picture)
{
    QueryObject query;
    query.setConnectionString(connection);
    query.setStatement(postgres ? "create table CAPPICTURE (VIDEOPORT integer, CAPTIME timestamp, OPERATOR char(10), "
                                  "PICTURE bytea)"
                                : "create table CAPPICTURE (VIDEOPORT integer, CAPTIME datetime, OPERATOR char(10), "
                                  "PICTURE blob)");
    query.execute();
    query.setStatement(
        postgres ? QString("insert into CAPPICTURE select i %% 16, timestamp '2026-01-01' + (i * %1) * interval "
                           "'1 second', 'op', :img from generate_series(0, %2) i")
                       .arg(SecondsApart)
                       .arg(Rows - 1)
                       .replace("%%", "%")
                 : QString("insert into CAPPICTURE with recursive c(i) as (select 0 union all select i + 1 from c "
                           "where i < %2) select i %% 16, datetime('2026-01-01', '+' || cast(i * %1 as integer) || "
                           "' seconds'), 'op', :img from c")
                       .arg(SecondsApart)
                       .arg(Rows - 1)
                       .replace("%%", "%"));
    query.setParameter("img", picture);
    query.execute();
    query.setStatement("create index CAPPICTURE_CAPTIME on CAPPICTURE (CAPTIME)");
    query.execute();
}

double msSince(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

struct QueryWindow {
    TfmQueryPic& window;
    QTableView* grid = window.findChild<QTableView*>(QStringLiteral("DBGrid1"));

    // Runs a search as the user does, and gives the time to its first row
    // and picture on the screen.
    double search(QDate begin, QDate end)
    {
        window.findChild<QDateEdit*>(QStringLiteral("dtpBegin"))->setDate(begin);
        window.findChild<QDateEdit*>(QStringLiteral("dtpEnd"))->setDate(end);
        QElapsedTimer t;
        t.start();
        window.findChild<QPushButton*>(QStringLiteral("btQuery"))->click();
        window.repaint();
        return msSince(t);
    }

    double press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QElapsedTimer t;
        t.start();
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(grid, &event);
        window.repaint();
        return msSince(t);
    }

    int rows() const { return grid->model()->rowCount(); }
    int current() const { return grid->currentIndex().row(); }
    bool pictureShown() const
    {
        return !window.findChild<QLabel*>(QStringLiteral("picImage"))->pixmap().isNull();
    }
};

// The next row's picture (the down arrow) at the start, the middle and the
// end of the result: the median and the slowest of 60 moves.
std::pair<double, double> nextRowMoves(QueryWindow& w)
{
    std::vector<double> moves;
    for (int place : {0, w.rows() / 2, w.rows() - 21}) {
        w.grid->setCurrentIndex(w.grid->model()->index(place, 0));
        for (int i = 0; i < 20; ++i)
            moves.push_back(w.press(Qt::Key_Down));
    }
    std::sort(moves.begin(), moves.end());
    return {moves[moves.size() / 2], moves.back()};
}

// The baseline: the year's rows copied whole as records, their pictures
// left out, as the window kept them before.
void copyBaseline(const QString& connection)
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
                               "(CAPTIME between '2026-01-01 00:00:00' and '2026-12-31 23:59:59')")
                           .arg(target.dialect == SqlDialect::SQLite ? "rowid" : "ctid"));
            while (query.next())
                rows.push_back(query.record());
        }
        std::printf("  baseline, every row copied whole as before: %zu rows in %.0f ms, resident memory %+.0f MB\n",
                    rows.size(), msSince(t), residentMb() - before);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("baseline"));
}

void measure(const QString& name, const QString& connection)
{
    TfmQueryPic window(connection);
    QElapsedTimer opening;
    opening.start();
    QTimer::singleShot(0, &window, [&] {
        double openMs = msSince(opening);
        QueryWindow w{window};
        bool openedWithPicture = w.pictureShown();
        double dayMs = w.search(QDate(2026, 3, 1), QDate(2026, 3, 1));
        int dayRows = w.rows();
        double before = residentMb();
        double yearMs = w.search(QDate(2026, 1, 1), QDate(2026, 12, 31));
        int yearRows = w.rows();
        double grown = residentMb() - before;
        double lastMs = w.press(Qt::Key_End, Qt::ControlModifier);
        bool atLast = w.current() == yearRows - 1 && w.pictureShown();
        auto [nextMedian, nextMax] = nextRowMoves(w);
        std::printf("%s:\n"
                    "  window open with its first picture%s: %.0f ms (target < 300)\n"
                    "  one day, %d rows: first row shown %.0f ms (target < 300)\n"
                    "  every row, %d rows: first row shown %.0f ms (target < 1000); resident memory %+.0f MB "
                    "(target < +256)\n"
                    "  to the last row (Ctrl+End)%s: %.1f ms (target < 1000)\n"
                    "  next row's picture at the start, middle and end: median %.1f ms, max %.1f ms (target < 30)\n",
                    qPrintable(name), openedWithPicture ? "" : " (NO PICTURE)", openMs, dayRows, dayMs, yearRows,
                    yearMs, grown, atLast ? "" : " (NOT REACHED)", lastMs, nextMedian, nextMax);
        std::fflush(stdout);
        window.reject();
    });
    window.runModal();
    copyBaseline(connection);
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
    std::printf("Picture query benchmark: %d rows over 365 days, pictures of %lld bytes\n", Rows,
                (long long)picture.size());
    std::fflush(stdout);
    QString sqlite = "Provider=SQLite;Data Source=" + dir.filePath("pictures.db");
    fill(sqlite, false, picture);
    measure("SQLite", sqlite);
    QFile::remove(dir.filePath("pictures.db"));
    test::PostgresServer server;
    fill(server.connectionString(), true, picture);
    measure("PostgreSQL", server.connectionString());
    playback(dir.path());
    return 0;
}
