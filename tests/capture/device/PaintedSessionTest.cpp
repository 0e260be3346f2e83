// The in-process test pattern (the Windows build's): pictures at their rate
// on the session's own thread, grabs newer than the request, a new size
// taken at once, and the virtual site's camera while its file names one.

#include "capture/device/PaintedPictures.h"
#include "capture/device/PaintedSession.h"
#include "capture/site/SiteScene.h"
#include "support/PictureDifference.h"
#include "support/TempDir.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

class CountingSink final : public FrameSink {
public:
    void frameArrived(const QImage& frame, VIDEOHDR* header) override
    {
        if (header->dwBytesUsed == uint32_t(frame.sizeInBytes()))
            ++frames;
    }
    void videoRecorded(VIDEOHDR*) override {}
    void audioRecorded(WAVEHDR*) override {}
    void statusChanged(int32_t, const std::string&) override {}
    std::atomic<int> frames{0};
};

PaintedSource source(std::function<void(QImage&, std::chrono::milliseconds)> paint)
{
    return {{{160, 120, "BGRx"}, {320, 240, "BGRx"}}, {160, 120, "BGRx"}, 30, std::move(paint)};
}

}  // namespace

TEST(PaintedSession, PicturesFlowGrabsAreNewAndANewSizeIsTakenAtOnce)
{
    CountingSink sink;
    std::atomic<int> painted{0};
    PaintedSession session(source([&](QImage& frame, std::chrono::milliseconds) {
                               frame.fill(QColor(painted++ % 256, 0, 0));
                           }),
                           sink);
    QImage first, second;
    ASSERT_TRUE(session.grab(first));
    ASSERT_TRUE(session.grab(second));
    EXPECT_EQ(first.size(), QSize(160, 120));
    EXPECT_NE(first.pixel(0, 0), second.pixel(0, 0));  // the second is a newer picture

    ASSERT_TRUE(session.setMode({320, 240, "BGRx"}));
    QImage resized;
    ASSERT_TRUE(session.grab(resized));
    EXPECT_EQ(resized.size(), QSize(320, 240));
    EXPECT_EQ(session.frameSize(), QSize(320, 240));

    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GE(sink.frames.load(), 5);  // 15 are due: the rate is kept, give or take a slow machine
    EXPECT_FALSE(session.startRecording({}));
}

TEST(PaintedSession, TheSitesCameraWhileItsFileNamesOneElseTheTestPattern)
{
    TempWorkDir dir;
    std::string file = dir.file("site").toStdString();
    CountingSink sink;
    PaintedSession session(source(SitePainter(file)), sink);

    QImage pattern;
    ASSERT_TRUE(session.grab(pattern));
    EXPECT_EQ(pattern.pixel(2, 2), 0xFFC0C0C0);  // the first, grey bar

    ASSERT_TRUE(WriteSiteView(file, {3, 0.1, 0, 1}));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // four reads of the file
    QImage camera, expected(160, 120, QImage::Format_RGB32);
    ASSERT_TRUE(session.grab(camera));
    PaintSiteScene({3, 0.1, 0, 1}, expected.bits(), 160, 120, int(expected.bytesPerLine()));
    // Below the camera's caption the picture is the scene itself.
    EXPECT_LT(PictureDifference(camera.copy(0, 60, 160, 60), expected.copy(0, 60, 160, 60)), 0.5);
    EXPECT_GT(PictureDifference(camera.copy(0, 0, 160, 30), expected.copy(0, 0, 160, 30)), 1.0);  // the caption
}
