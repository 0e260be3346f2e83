// Snapshot figures with the test-pattern driver: from the button to the
// stored file at 640 x 480 and 1920 x 1080, beside the lower bound measured
// in the same run (write the bitmap, read it back, encode at quality 80,
// write the JPEG); the grab's wait for a fresh frame on its own, beside the
// frame interval; and a snapshot into SQLite and PostgreSQL rows with the
// statement box answered at once.

#include "BenchSupport.h"
#include "capture/device/DriverRegistry.h"
#include "capture/device/SystemDrivers.h"
#include "console/SnapshotStore.h"
#include "framework/FileBeside.h"
#include "framework/JpegImage.h"
#include "support/PostgresServer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <fcntl.h>
#include <unistd.h>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace tarvelo;
using tarvelo::bench::chooseSize;
using tarvelo::bench::pump;

namespace {

constexpr int Samples = 20;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double mean(const std::vector<double>& v)
{
    double sum = 0;
    for (double x : v)
        sum += x;
    return sum / double(v.size());
}

// Milliseconds each call of `step` took, each started at a random moment
// of the frame interval, as a user's click is.
template <typename Step>
std::vector<double> timed(Step step, double frameIntervalMs)
{
    std::vector<double> ms;
    for (int i = 0; i < Samples; ++i) {
        pump(1 + int(QRandomGenerator::global()->bounded(frameIntervalMs)));
        QElapsedTimer t;
        t.start();
        step();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    return ms;
}

double frameIntervalMs(TVideoCap& cap)
{
    std::atomic<int> frames{0};
    cap.setOnFrameCallback([&](TVideoCap*, VIDEOHDR*) { ++frames; });
    pump(300);
    frames = 0;
    QElapsedTimer t;
    t.start();
    pump(2000);
    cap.setOnFrameCallback(nullptr);
    return double(t.elapsed()) / std::max(1, frames.load());
}

// Write the bitmap, read it back, encode, write the JPEG and flush it to the
// disk: what any snapshot that survives a power cut costs. Its samples are spaced by the event loop as the snapshots' are: the
// same work run back to back, with caches and clocks warm, takes a third
// less time than one run now and then.
double lowerBoundMs(const QImage& frame, const QString& dir, double frameIntervalMs)
{
    return median(timed(
        [&] {
            frame.convertToFormat(QImage::Format_RGB888).save(dir + "/bound.bmp", "BMP");
            QImage back(dir + "/bound.bmp", "BMP");
            QByteArray jpeg = EncodeJpeg(back);
            QFile out(dir + "/bound.jpg");
            out.open(QIODevice::WriteOnly);
            out.write(jpeg);
            out.flush();
            ::fdatasync(out.handle());
            out.close();
            // a snapshot is a new name in its directory
            int directory = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
            ::fsync(directory);
            ::close(directory);
        },
        frameIntervalMs));
}

// Where the time after the grab goes: each step of a file snapshot alone,
// the median of its samples.
void breakdown(const QImage& frame, const QString& dir)
{
    std::vector<double> save, load, encode, plain, beside, saveFresh;
    // A snapshot's frame is new, written by the capture thread: copies
    // enough to leave the processor's caches stand in for that.
    std::vector<QImage> fresh(Samples);
    for (QImage& copy : fresh)
        copy = frame.copy();
    for (int i = 0; i < Samples; ++i) {
        QElapsedTimer t;
        t.start();
        fresh[size_t(i)].convertToFormat(QImage::Format_RGB888).save(dir + "/step.bmp", "BMP");
        saveFresh.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        frame.convertToFormat(QImage::Format_RGB888).save(dir + "/step.bmp", "BMP");
        save.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        QImage back(dir + "/step.bmp", "BMP");
        load.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        QByteArray jpeg = EncodeJpeg(back);
        encode.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        QFile out(dir + "/plain.jpg");
        out.open(QIODevice::WriteOnly);
        out.write(jpeg);
        out.close();
        plain.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        std::string why;
        WriteBeside(dir + "/beside.jpg", jpeg, why);
        beside.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("  steps: bitmap written %.2f ms (from a frame not in the cache %.2f ms), read back %.2f ms, "
                "JPEG encoded %.2f ms, written plainly %.2f ms, written beside, flushed, renamed and its directory "
                "flushed (as stored) %.2f ms\n",
                median(save), median(saveFresh), median(load), median(encode), median(plain), median(beside));
}

void fileSnapshots(TVideoCap& cap, QueryObject& query, const QString& dir, const QString& size)
{
    chooseSize(cap, size);
    cap.setVideoOverlay(true);
    pump(500);
    double interval = frameIntervalMs(cap);
    SnapshotStore store(cap, query, {false, dir + '/'});
    // The grab ends where the component refreshes its status.
    QElapsedTimer clock;
    std::vector<double> grab, rest;
    cap.OnStatus = [&](TVideoCap*) { grab.push_back(double(clock.nsecsElapsed()) / 1e6); };
    std::vector<double> whole = timed(
        [&] {
            clock.start();
            store.TakeSnapshot("", "bench", 1);
        },
        interval);
    cap.OnStatus = nullptr;
    for (size_t i = 0; i < whole.size() && i < grab.size(); ++i)
        rest.push_back(whole[i] - grab[i]);
    // The frame as the capture window holds it (32 bits a pixel): writing
    // the 24-bit bitmap converts it, in any snapshot.
    QImage frame = QImage(cap.SingleImageFile, "BMP").convertToFormat(QImage::Format_RGB32);
    double bound = lowerBoundMs(frame, dir, interval);
    std::printf("%s: frame interval %.1f ms; grab waits %.1f ms on average (target <= %.1f, half an interval), "
                "median %.1f\n",
                qPrintable(size), interval, mean(grab), interval / 2, median(grab));
    std::printf("%s: button to stored file median %.1f ms, of which %.1f ms after the grab; lower bound %.1f ms "
                "(ratio %.2f, target <= 1.3)\n",
                qPrintable(size), median(whole), median(rest), bound, median(rest) / bound);
    breakdown(frame, dir);
}

void databaseSnapshots(TVideoCap& cap, QueryObject& query, const QString& name, const QString& connection,
                       const QString& table)
{
    query.setConnectionString(connection);
    query.setStatement(table);
    query.execute();
    SnapshotStore store(cap, query, {true, QString()});
    store.showStatement = [](const QString&) {};  // answered at once
    QString status;
    std::vector<double> ms = timed([&] { status = store.TakeSnapshot("bench", "", 1); }, 33);
    std::printf("database snapshot into %s (%dx%d): median %.1f ms, max %.1f ms (%s)\n", qPrintable(name),
                cap.ImageWidth(), cap.ImageHeight(), median(ms), *std::max_element(ms.begin(), ms.end()),
                qPrintable(status));
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    DriverRegistry::setDriverSource(SystemCaptureDrivers);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    TVideoCap cap;
    if (!tarvelo::bench::openTestPattern(cap))
        return 1;
    QueryObject query;
    std::printf("Snapshot benchmark, test-pattern driver (%d samples each)\n", Samples);
    fileSnapshots(cap, query, dir.path(), "640 x 480");
    fileSnapshots(cap, query, dir.path(), "1920 x 1080");
    chooseSize(cap, "640 x 480");
    pump(500);
    databaseSnapshots(cap, query, "SQLite", "Provider=SQLite;Data Source=" + dir.filePath("bench.db"),
                      "create table CAPPICTURE (VIDEOPORT integer, CAPTIME datetime, OPERATOR char(10), PICTURE blob)");
    test::PostgresServer server;
    databaseSnapshots(cap, query, "PostgreSQL", server.connectionString(),
                      "create table CAPPICTURE (VIDEOPORT integer, CAPTIME timestamp, OPERATOR char(10), "
                      "PICTURE bytea)");
    return 0;
}
