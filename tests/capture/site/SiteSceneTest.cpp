// The virtual site as the capture side sees it: its file, the scenes of its
// cameras, and the test-pattern driver following the file while it runs.

#include "capture/device/DriverRegistry.h"
#include "capture/device/SystemDrivers.h"
#include "capture/site/SiteScene.h"
#include "capture/site/SiteView.h"
#include "capture/Video.h"
#include "support/PictureDifference.h"
#include "support/TempDir.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

constexpr int Width = 160, Height = 120;

std::vector<uint8_t> paint(const SiteView& view)
{
    std::vector<uint8_t> picture(size_t(Width) * Height * 4);
    PaintSiteScene(view, picture.data(), Width, Height, Width * 4);
    return picture;
}

// The share of pixels of `a` found `dx` pixels further right in `b`.
double sameShifted(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int dx)
{
    int same = 0, compared = 0;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x + dx < Width; ++x, ++compared)
            same += std::equal(&a[(y * Width + x + dx) * 4], &a[(y * Width + x + dx) * 4 + 4],
                               &b[(y * Width + x) * 4]);
    return double(same) / compared;
}

// The clock runs at the bottom: only the upper four fifths are compared.
double difference(const QImage& a, const QImage& b)
{
    return test::PictureDifference(a, b, 4.0 / 5);
}

void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

TEST(SiteView, TheFileRoundTripsAndRejectsWhatIsNoView)
{
    SiteView view{12, 0.25, -0.1, 1.5};
    EXPECT_EQ(FormatSiteView(view), "camera 12\npan 0.250\ntilt -0.100\nzoom 1.500\n");
    EXPECT_EQ(ParseSiteView(FormatSiteView(view)), view);
    EXPECT_EQ(ParseSiteView("camera -4\n"), (SiteView{-4, 0, 0, 1})) << "a missing line keeps its default";
    EXPECT_FALSE(ParseSiteView("pan 1\nzoom 2\n")) << "no camera";
    EXPECT_FALSE(ParseSiteView("camera x\n"));
    EXPECT_FALSE(ParseSiteView("camera 3\nzoom 0\n")) << "a zoom of nothing";
    EXPECT_FALSE(ParseSiteView("camera 3\npan 1e300\n")) << "beyond any head: no position to paint";
    EXPECT_FALSE(ParseSiteView("camera 3\nzoom 1e-9\n"));
    EXPECT_FALSE(ParseSiteView(""));

    TempWorkDir dir;
    std::string file = dir.path().toStdString() + "/site";
    EXPECT_FALSE(ReadSiteView(file));
    ASSERT_TRUE(WriteSiteView(file, view));
    EXPECT_EQ(ReadSiteView(file), view);
    EXPECT_FALSE(std::filesystem::exists(file + ".new"));
    EXPECT_FALSE(WriteSiteView(dir.path().toStdString() + "/missing/site", view));
}

TEST(SiteScene, EachCameraHasItsSceneAndTheHeadMovesTheView)
{
    auto three = paint({3, 0, 0, 1}), seven = paint({7, 0, 0, 1}), four = paint({4, 0, 0, 1});
    EXPECT_LT(sameShifted(three, seven, 0), 0.2);
    EXPECT_LT(sameShifted(three, four, 0), 0.2) << "neighbouring cameras differ too";
    EXPECT_EQ(paint({3, 0, 0, 1}), three) << "a scene is the same each time";

    // Panning right by ten pixels' worth shows what was ten pixels right.
    auto panned = paint({3, 10.0 / Width, 0, 1});
    EXPECT_GT(sameShifted(three, panned, 10), 0.98);
    EXPECT_LT(sameShifted(three, panned, 0), 0.9);

    // Zooming in twice shows the middle half, twice as large.
    auto zoomed = paint({3, 0, 0, 2});
    int same = 0;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            size_t at = (size_t(y) * Width + x) * 4;
            size_t from = (size_t(Height / 4 + y / 2) * Width + Width / 4 + x / 2) * 4;
            same += std::equal(&zoomed[at], &zoomed[at + 4], &three[from]);
        }
    EXPECT_GT(double(same) / (Width * Height), 0.9);
    EXPECT_LT(sameShifted(three, zoomed, 0), 0.9);
    EXPECT_NE(paint({3, 0, 0.1, 1}), three) << "tilt";
}

// The test-pattern driver draws the camera the site file names, follows the
// file as it changes, and shows its plain pattern while there is none.
TEST(SiteSource, TheTestPatternFollowsTheSiteFile)
{
    TempWorkDir dir;
    std::string file = dir.path().toStdString() + "/site";
    ASSERT_TRUE(WriteSiteView(file, {3, 0, 0, 1}));
    setenv(SiteFileVariable, file.c_str(), 1);
    DriverRegistry::setDriverSource(SystemCaptureDrivers);
    TVideoCap cap;
    cap.resize(320, 240);
    cap.setDriverName("Tarvelo test pattern");
    cap.SingleImageFile = dir.path() + "/frame.bmp";
    ASSERT_TRUE(cap.EnsureDriverOpen());
    auto grab = [&cap] {
        pump(300);  // the driver reads the file a few times a second
        EXPECT_TRUE(cap.GrabFrameNoStop());
        EXPECT_TRUE(cap.SaveFrameToFile());
        return QImage(cap.SingleImageFile, "BMP");
    };
    QImage camera3 = grab();
    EXPECT_LT(difference(camera3, grab()), 2) << "a still camera gives a still picture";
    ASSERT_TRUE(WriteSiteView(file, {7, 0, 0, 1}));
    QImage camera7 = grab();
    EXPECT_GT(difference(camera3, camera7), 20);
    ASSERT_TRUE(WriteSiteView(file, {7, 0.2, 0, 1}));
    EXPECT_GT(difference(camera7, grab()), 20) << "panned";
    std::filesystem::remove(file);
    QImage plain = grab();
    EXPECT_GT(difference(camera7, plain), 20) << "no simulator: the plain pattern";
    ASSERT_TRUE(WriteSiteView(file, {3, 0, 0, 1}));
    EXPECT_LT(difference(camera3, grab()), 2) << "the simulator back";
    cap.CloseDriver();
    unsetenv(SiteFileVariable);
}
