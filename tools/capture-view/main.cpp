// capture-view: the capture component in a window of its own, showing the
// live picture of a driver (the test pattern unless another is named) with
// overlay, scaled to the window. It prints the frame rate it receives and,
// when asked, saves screenshots of the screen a second apart.
//
//   capture-view [--driver NAME] [--seconds N] [--screenshots PREFIX]

#include "capture/device/DriverRegistry.h"
#include "capture/device/SystemDrivers.h"
#include "capture/Video.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <atomic>
#include <cstdio>

using tarvelo::TVideoCap;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    tarvelo::DriverRegistry::setDriverSource(tarvelo::SystemCaptureDrivers);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption driver("driver", "The capture driver to show.", "name", "Tarvelo test pattern");
    QCommandLineOption seconds("seconds", "Quit after this many seconds (0: stay).", "n", "0");
    QCommandLineOption shots("screenshots", "Save two screenshots a second apart as PREFIX-1.png, PREFIX-2.png.",
                             "prefix");
    parser.addOptions({driver, seconds, shots});
    parser.process(app);

    TVideoCap cap;
    cap.setWindowTitle(QStringLiteral("capture-view: ") + parser.value(driver));
    cap.resize(640, 480);
    std::atomic<int> frames{0};
    cap.setOnFrameCallback([&](TVideoCap*, tarvelo::VIDEOHDR*) { ++frames; });
    cap.setDriverName(parser.value(driver));
    if (cap.DriverIndex() < 0 || !cap.EnsureDriverOpen()) {
        std::fprintf(stderr, "capture-view: no driver named %s\n", qPrintable(parser.value(driver)));
        return 1;
    }
    cap.setPreviewScaleToWindow(true);
    cap.setVideoOverlay(true);
    cap.show();

    QElapsedTimer clock;
    clock.start();
    auto* report = new QTimer(&app);
    int last = 0;
    QObject::connect(report, &QTimer::timeout, [&] {
        int now = frames.load();
        std::printf("%.1f s: %d frames/s, picture %dx%d in a %dx%d window\n", clock.elapsed() / 1000.0,
                    now - last, cap.ImageWidth(), cap.ImageHeight(), cap.width(), cap.height());
        std::fflush(stdout);
        last = now;
    });
    report->start(1000);

    if (parser.isSet(shots)) {
        QString prefix = parser.value(shots);
        auto shoot = [prefix](int n) {
            QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
            screen.save(QStringLiteral("%1-%2.png").arg(prefix).arg(n));
        };
        QTimer::singleShot(2000, [=] { shoot(1); });
        QTimer::singleShot(3000, [=] {
            shoot(2);
            QImage a(QStringLiteral("%1-1.png").arg(prefix)), b(QStringLiteral("%1-2.png").arg(prefix));
            std::printf("screenshots %s: the picture %s\n", qPrintable(prefix), a == b ? "did NOT change" : "moved");
            std::fflush(stdout);
        });
    }
    if (int limit = parser.value(seconds).toInt(); limit > 0)
        QTimer::singleShot(limit * 1000, &app, &QApplication::quit);
    return QApplication::exec();
}
