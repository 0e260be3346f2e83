// Playback of an AVI file the capture service recorded: the seven buttons
// with their positions checked, a file that is no video, a second file
// replacing the first, and the window around the player.

#include "capture/device/gstreamer/GstSession.h"
#include "media/GstSupport.h"
#include "playback/FormPlayAVI.h"
#include "support/Parts.h"
#include "support/PictureDifference.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <memory>
#include <mutex>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <thread>

using namespace tarvelo;
using namespace tarvelo::test;
using namespace std::chrono_literals;

namespace {

class NoSink : public FrameSink {
public:
    void frameArrived(const QImage&, VIDEOHDR*) override {}
    void videoRecorded(VIDEOHDR*) override {}
    void audioRecorded(WAVEHDR*) override {}
    void statusChanged(int32_t, const std::string&) override {}
};

// Two seconds of the test pattern at 15 frames a second, as the console records.
void record(const QString& file, int seconds)
{
    NoSink sink;
    GstSession session({"videotestsrc is-live=true", "30/1", "", "audiotestsrc is-live=true", {}, {160, 120, "BGRx"}, {}},
                       sink);
    ASSERT_TRUE(session.start());
    RecordingRequest request;
    request.file = file;
    request.parms.dwRequestMicroSecPerFrame = 66667;
    ASSERT_TRUE(session.startRecording(request));
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    ASSERT_TRUE(session.stopRecording());
}

class PlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        files = std::make_unique<QTemporaryDir>();
        record(files->filePath("first.avi"), 2);
        record(files->filePath("second.AVI"), 1);
    }
    static void TearDownTestSuite() { files.reset(); }
    static QString file(const char* name) { return files->filePath(name); }

    static std::unique_ptr<QTemporaryDir> files;
};

std::unique_ptr<QTemporaryDir> PlayerTest::files;

}  // namespace

TEST_F(PlayerTest, TheSevenButtonsMoveThroughTheRecording)
{
    Player player;
    std::atomic<int> pictures{0};
    player.onPicture = [&](const QImage& p) { pictures += !p.isNull(); };
    player.open(file("first.avi"));
    ASSERT_TRUE(player.isOpen());
    EXPECT_NEAR(double(player.lengthMs()), 2000.0, 300.0);
    EXPECT_EQ(player.positionMs(), 0) << "opened, not playing";
    EXPECT_FALSE(player.playing());
    player.play();
    std::this_thread::sleep_for(600ms);
    EXPECT_TRUE(player.playing());
    player.pause();
    int64_t paused = player.positionMs();
    EXPECT_GT(paused, 300);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(player.positionMs(), paused) << "paused stays";
    EXPECT_GT(pictures.load(), 3);
    player.previous();
    EXPECT_EQ(player.positionMs(), 0);
    const int64_t tenth = player.lengthMs() / 10;
    player.step();
    EXPECT_NEAR(double(player.positionMs()), double(tenth), 70.0);
    player.step();
    EXPECT_NEAR(double(player.positionMs()), double(2 * tenth), 70.0);
    player.back();
    EXPECT_NEAR(double(player.positionMs()), double(tenth), 70.0);
    player.next();
    EXPECT_NEAR(double(player.positionMs()), double(player.lengthMs()), 100.0) << "the end";
    player.play();
    player.stop();
    EXPECT_FALSE(player.playing());
}

TEST_F(PlayerTest, WhatIsNoVideoLeavesNoFileOpen)
{
    TempWorkDir dir;
    QFile text(dir.file("notes.avi"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("these are notes, not a video\n");
    text.close();
    Player player;
    player.open(file("first.avi"));
    try {
        player.open(dir.file("notes.avi"));
        ADD_FAILURE() << "no error";
    } catch (const PlayerError& e) {
        EXPECT_STRNE(e.what(), "") << "the media system says why";
    }
    EXPECT_FALSE(player.isOpen()) << "the first file is closed too";
    EXPECT_THROW(player.open(dir.file("missing.avi")), PlayerError);
}

TEST_F(PlayerTest, ASecondFileReplacesTheOneThatPlays)
{
    Player player;
    player.open(file("first.avi"));
    player.play();
    std::this_thread::sleep_for(300ms);
    player.open(file("second.AVI"));
    EXPECT_TRUE(player.isOpen());
    EXPECT_NEAR(double(player.lengthMs()), 1000.0, 300.0);
    EXPECT_EQ(player.positionMs(), 0);
    EXPECT_FALSE(player.playing());
}

TEST_F(PlayerTest, TheWindowNamesTheFileAndOffersOnlyAviFiles)
{
    TfmPlayAVI window;
    EXPECT_EQ(window.windowTitle(), "视频回放");
    window.openFile(file("second.AVI"));
    EXPECT_EQ(window.windowTitle(), "视频回放-second.AVI");
    EXPECT_TRUE(window.MediaPlayer.isOpen());
    part<QToolButton>(window, "btPlay")->click();  // play
    QElapsedTimer t;
    t.start();
    while (window.shownPicture().isNull() && t.elapsed() < 3000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(window.shownPicture().size(), QSize(160, 120)) << "the picture reaches the panel";

    EXPECT_THROW(window.openFile(file("nothing-here.avi")), PlayerError);
    EXPECT_EQ(window.windowTitle(), "视频回放-nothing-here.avi") << "named all the same";
    EXPECT_FALSE(window.MediaPlayer.isOpen());

    QStringList filters;
    QTimer::singleShot(200, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            filters = dialog->nameFilters();
            dialog->reject();
        }
    });
    part<QToolButton>(window, "SpeedButton1")->click();
    EXPECT_EQ(filters, QStringList{"视频文件(*.AVI) (*.[aA][vV][iI])"});
    EXPECT_EQ(window.windowTitle(), "视频回放-nothing-here.avi") << "cancelling changes nothing";
}
