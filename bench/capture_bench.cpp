// Capture figures with the test-pattern driver: the CPU that a live
// overlay picture costs at 640 x 480 and 1280 x 720, frames written against
// frames expected in a 10-second recording at 25 frames a second, and the
// time a snapshot's grab and bitmap save take; and what drawing a camera
// of the virtual site costs per frame.

#include "BenchSupport.h"
#include "capture/device/DriverRegistry.h"
#include "capture/FormatDialog.h"
#include "capture/device/SystemDrivers.h"
#include "capture/site/SiteScene.h"
#include "capture/Video.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace tarvelo;
using tarvelo::bench::chooseSize;
using tarvelo::bench::pump;

namespace {

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The frames of the file's video stream and the file's length, as ffprobe reads them.
std::pair<int, double> framesAndDuration(const QString& file)
{
    auto ask = [&](const QStringList& entries) {
        QProcess p;
        p.start("ffprobe", QStringList{"-v", "error", "-count_frames", "-select_streams", "v:0"} + entries +
                               QStringList{"-of", "default=nw=1:nk=1", file});
        p.waitForFinished(60000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    };
    return {ask({"-show_entries", "stream=nb_read_frames"}).toInt(),
            ask({"-show_entries", "format=duration"}).toDouble()};
}

void overlayCost(TVideoCap& cap, const QString& size)
{
    chooseSize(cap, size);
    cap.setVideoOverlay(true);
    pump(1000);
    double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    pump(5000);
    double share = (cpuSeconds() - cpu0) / (wall.elapsed() / 1000.0);
    std::printf("overlay at 30 frames/s, %s (picture %dx%d): CPU %.1f%% of one core\n", qPrintable(size),
                cap.ImageWidth(), cap.ImageHeight(), share * 100);
}

// The virtual site paints each 640 x 480 frame of the test pattern itself.
void siteSceneCost()
{
    std::vector<uint8_t> picture(640 * 480 * 4);
    std::vector<double> ms;
    for (int i = 0; i < 60; ++i) {
        QElapsedTimer t;
        t.start();
        PaintSiteScene({7, 0.01 * i, 0, 1 + 0.02 * i}, picture.data(), 640, 480, 640 * 4);
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("virtual site camera, 640 x 480: median %.2f ms, max %.2f ms to paint a frame "
                "(%.0f%% of one core at 30 frames/s)\n",
                ms[ms.size() / 2], ms.back(), ms[ms.size() / 2] * 30 / 10);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    tarvelo::DriverRegistry::setDriverSource(tarvelo::SystemCaptureDrivers);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());

    TVideoCap cap;
    if (!tarvelo::bench::openTestPattern(cap))
        return 1;
    cap.setPreviewScaleToWindow(true);
    std::printf("Capture benchmark, test-pattern driver\n");
    overlayCost(cap, "640 x 480");
    overlayCost(cap, "1280 x 720");

    chooseSize(cap, "640 x 480");
    cap.setFrameRate(25);
    cap.VideoFileName = dir.filePath("ten.avi");
    cap.StartCapture();
    pump(10000);
    CAPSTATUS status;
    SystemCaptureService().capGetStatus(cap.CaptureWindowHandle(), &status);
    cap.StopCapture();
    std::printf("status near the end of the recording: %u frames, %u dropped\n", status.dwCurrentVideoFrame,
                status.dwCurrentVideoFramesDropped);
    auto [frames, duration] = framesAndDuration(cap.VideoFileName);
    std::printf("10 s recording at 25 frames/s: %d frames written in %.2f s of video (%.0f expected for that "
                "length, 250 for the full 10 s of wall time)\n",
                frames, duration, duration * 25);

    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        cap.GrabFrameNoStop();
        cap.SaveFrameToFile();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("GrabFrameNoStop + SaveFrameToFile (640 x 480): median %.1f ms, max %.1f ms "
                "(the grab waits for the next frame, up to 33 ms at 30 frames/s)\n",
                ms[ms.size() / 2], ms.back());
    siteSceneCost();
    return 0;
}
