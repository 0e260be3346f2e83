// The picture query and playback figures: a CAPPICTURE table of 20,000
// rows with 30 KB pictures in SQLite and in PostgreSQL; the window opened
// with its first picture, a search returning 2,000 rows, a move to the next
// row, and the memory that search costs. Then playback of a 640 x 480
// Motion-JPEG recording at 25 frames a second.

#include "BenchSupport.h"
#include "archive/FormQueryPic.h"
#include "capture/device/GstSession.h"
#include "framework/JpegImage.h"
#include "playback/FormPlayAVI.h"
#include "support/PostgresServer.h"

#include <QApplication>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
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

constexpr int Rows = 20000;
constexpr int RowsADay = 2000;

double residentMb()
{
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// A picture of about 30 KB: noise does not compress.
QByteArray thirtyKilobytes()
{
    QImage image(240, 170, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, QRandomGenerator::global()->generate());
    return EncodeJpeg(image);
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
        postgres ? QString("insert into CAPPICTURE select i %% 16, timestamp '2026-01-01' + (i / %1) * interval '1 day' + "
                           "(i %% %1) * 43 * interval '1 second', 'op', :img from generate_series(0, %2) i")
                       .arg(RowsADay)
                       .arg(Rows - 1)
                       .replace("%%", "%")
                 : QString("insert into CAPPICTURE with recursive c(i) as (select 0 union all select i + 1 from c "
                           "where i < %2) select i %% 16, datetime('2026-01-01', '+' || (i / %1) || ' days', '+' || "
                           "((i %% %1) * 43) || ' seconds'), 'op', :img from c")
                       .arg(RowsADay)
                       .arg(Rows - 1)
                       .replace("%%", "%"));
    query.setParameter("img", picture);
    query.execute();
    query.setStatement("create index CAPPICTURE_CAPTIME on CAPPICTURE (CAPTIME)");
    query.execute();
}

void measure(const QString& name, const QString& connection)
{
    TfmQueryPic window(connection);
    QElapsedTimer opening;
    opening.start();
    QTimer::singleShot(0, &window, [&] {
        double openMs = double(opening.nsecsElapsed()) / 1e6;
        double before = residentMb();
        auto* grid = window.findChild<QTableView*>(QStringLiteral("DBGrid1"));
        window.findChild<QDateEdit*>(QStringLiteral("dtpBegin"))->setDate(QDate(2026, 1, 4));
        window.findChild<QDateEdit*>(QStringLiteral("dtpEnd"))->setDate(QDate(2026, 1, 4));
        QElapsedTimer t;
        t.start();
        window.findChild<QPushButton*>(QStringLiteral("btQuery"))->click();
        pump(1);
        double searchMs = double(t.nsecsElapsed()) / 1e6;
        int found = grid->model()->rowCount();
        std::vector<double> moves;
        for (int row = 1; row <= 50; ++row) {
            t.restart();
            grid->selectRow(row);
            window.repaint();
            moves.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::sort(moves.begin(), moves.end());
        std::printf("%s: window open with its first picture %.0f ms (target < 300); search of one day, %d rows, "
                    "first row shown %.0f ms (target < 300); next row's picture median %.1f ms, max %.1f ms "
                    "(target < 30); resident memory %+.1f MB after the search (target < 64)\n",
                    qPrintable(name), openMs, found, searchMs, moves[moves.size() / 2], moves.back(),
                    residentMb() - before);
        std::fflush(stdout);
        window.reject();
    });
    window.runModal();
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
    QByteArray picture = thirtyKilobytes();
    std::printf("Picture query benchmark: %d rows, pictures of %lld bytes\n", Rows, (long long)picture.size());
    QString sqlite = "Provider=SQLite;Data Source=" + dir.filePath("pictures.db");
    fill(sqlite, false, picture);
    measure("SQLite", sqlite);
    test::PostgresServer server;
    fill(server.connectionString(), true, picture);
    measure("PostgreSQL", server.connectionString());
    playback(dir.path());
    return 0;
}
