// Playback of an AVI file the capture service recorded: the seven buttons
// with their positions checked, a file that is no video, a second file
// replacing the first, and the window around the player.

#include "capture/device/GstSession.h"
#include "media/GstSupport.h"
#include "playback/FormPlayAVI.h"
#include "support/Parts.h"
#include "support/PictureDifference.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QProcess>
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

namespace {

// A recording another program made: ffmpeg's test picture (a moving
// counter and colours), two seconds at 10 frames a second, with a tone.
QString madeByFfmpeg(const QString& dir, const QString& name, const QStringList& codecs)
{
    QString file = dir + '/' + name;
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList{"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=10:duration=2",
                                       "-f", "lavfi", "-i", "sine=frequency=440:duration=2"} +
                               codecs + QStringList{"-shortest", file});
    ffmpeg.waitForFinished(60000);
    EXPECT_EQ(ffmpeg.exitCode(), 0) << name.toStdString() << ffmpeg.readAllStandardError().toStdString();
    return file;
}

// What the panel would show: the newest picture the player handed over.
// The picture is shared with the handler, which may outlive the panel
// until the player closes.
class Panel {
public:
    explicit Panel(Player& player) : shown_(std::make_shared<Shown>())
    {
        player.onPicture = [shown = shown_](const QImage& p) {
            std::lock_guard lock(shown->mutex);
            shown->picture = p;
        };
    }
    QImage picture()
    {
        std::lock_guard lock(shown_->mutex);
        return shown_->picture;
    }
    // The picture once it has settled (a move while paused arrives a moment later).
    QImage settled()
    {
        std::this_thread::sleep_for(250ms);
        return picture();
    }

private:
    struct Shown {
        std::mutex mutex;
        QImage picture;
    };
    std::shared_ptr<Shown> shown_;
};

}  // namespace

// Recordings of the codecs that Windows-era capture programs and DVR exports
// wrote: each shows its first picture when opened, moves while playing,
// stands still when paused, and shows the new position after a move.
TEST(PlayerFormats, RecordingsOthersMade)
{
    QTemporaryDir dir;
    struct Format {
        const char* name;
        QStringList codecs;
    } formats[] = {
        {"dib-rgb.avi", {"-c:v", "rawvideo", "-pix_fmt", "bgr24", "-c:a", "pcm_s16le"}},
        {"dib-yuv.avi", {"-c:v", "rawvideo", "-pix_fmt", "yuv420p", "-c:a", "pcm_s16le"}},
        {"mjpeg.avi", {"-c:v", "mjpeg", "-c:a", "pcm_s16le"}},
        {"xvid.avi", {"-c:v", "mpeg4", "-vtag", "XVID", "-c:a", "libmp3lame"}},
        {"divx.avi", {"-c:v", "mpeg4", "-vtag", "DX50", "-c:a", "adpcm_ms"}},
        {"h264.avi", {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "libmp3lame"}},
        {"msvideo1.avi", {"-c:v", "msvideo1", "-c:a", "pcm_s16le"}},
        {"cinepak.avi", {"-c:v", "cinepak", "-c:a", "adpcm_ms"}},
        {"msmpeg4v2.avi", {"-c:v", "msmpeg4v2", "-c:a", "pcm_s16le"}},
        {"wmv2.avi", {"-c:v", "wmv2", "-c:a", "libmp3lame"}},
    };
    QString upright = madeByFfmpeg(dir.path(), "first.png", {"-frames:v", "1"});
    QImage reference(upright);
    for (const Format& format : formats) {
        SCOPED_TRACE(format.name);
        Player player;
        Panel panel(player);
        ASSERT_NO_THROW(player.open(madeByFfmpeg(dir.path(), format.name, format.codecs)));
        QImage first = panel.settled();
        ASSERT_EQ(first.size(), QSize(160, 120)) << "the first picture, when opened";
        EXPECT_LT(PictureDifference(first, reference), 12.0) << "upright, in its colours";
        player.play();
        std::this_thread::sleep_for(700ms);
        player.pause();
        QImage paused = panel.settled();
        EXPECT_GT(PictureDifference(paused, first), 1.0) << "it moved while playing";
        std::this_thread::sleep_for(300ms);
        EXPECT_LT(PictureDifference(panel.picture(), paused), 0.5) << "it stands still when paused";
        player.previous();
        EXPECT_LT(PictureDifference(panel.settled(), first), 3.0) << "previous shows the start";
        player.step();
        player.step();
        EXPECT_GT(PictureDifference(panel.settled(), first), 1.0) << "step shows the new position";
    }
}

// ffmpeg's Motion-JPEG from an RGB source is 4:4:4, which only libav's
// decoder gets right; the player picks it inside its own pipeline and
// leaves every rank in the host's registry as it was.
TEST(PlayerFormats, MotionJpeg444RightWithoutTouchingTheHostsRegistry)
{
    QTemporaryDir dir;
    ASSERT_TRUE(EnsureGstreamer());
    auto ranks = [] {
        std::vector<guint> seen;
        for (const char* name : {"avdec_mjpeg", "jpegdec"}) {
            GstPluginFeature* feature = gst_registry_lookup_feature(gst_registry_get(), name);
            seen.push_back(feature ? gst_plugin_feature_get_rank(feature) : 0);
            if (feature)
                gst_object_unref(feature);
        }
        return seen;
    };
    QImage reference(madeByFfmpeg(dir.path(), "first.png", {"-frames:v", "1"}));
    QString file = madeByFfmpeg(dir.path(), "mjpeg444.avi", {"-c:v", "mjpeg", "-pix_fmt", "yuvj444p", "-q:v", "2"});
    const std::vector<guint> before = ranks();
    Player player;
    Panel panel(player);
    ASSERT_NO_THROW(player.open(file));
    EXPECT_LT(PictureDifference(panel.settled(), reference), 3.0);
    player.close();
    EXPECT_EQ(ranks(), before);
}

// A codec nothing here decodes is refused when opened, by name; a recording
// cut short when its recorder died plays what it holds or says why.
TEST(PlayerFormats, WhatCannotBeDecodedSaysSo)
{
    QTemporaryDir dir;
    Player player;
    // ffmpeg writes only FourCCs it knows: the codec's name is changed afterwards.
    QString unknown = madeByFfmpeg(dir.path(), "unknown.avi", {"-c:v", "mjpeg", "-c:a", "pcm_s16le"});
    QFile renamed(unknown);
    ASSERT_TRUE(renamed.open(QIODevice::ReadWrite));
    QByteArray bytes = renamed.readAll().replace("MJPG", "ABCD");
    renamed.seek(0);
    renamed.write(bytes);
    renamed.close();
    try {
        player.open(unknown);
        ADD_FAILURE() << "opened into a black panel";
    } catch (const PlayerError& e) {
        EXPECT_NE(std::string(e.what()).find("ABCD"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(player.isOpen());

    QString cut = madeByFfmpeg(dir.path(), "cut.avi", {"-c:v", "mjpeg", "-c:a", "pcm_s16le"});
    QFile file(cut);
    ASSERT_TRUE(file.resize(file.size() * 6 / 10));  // no index, a partial last chunk
    QElapsedTimer t;
    t.start();
    try {
        Panel panel(player);
        player.open(cut);
        player.play();
        std::this_thread::sleep_for(500ms);
        player.pause();
        EXPECT_EQ(panel.settled().size(), QSize(160, 120)) << "what it holds plays";
    } catch (const PlayerError& e) {
        EXPECT_STRNE(e.what(), "") << "refused with a reason";
    }
    EXPECT_LT(t.elapsed(), 8000) << "never hangs";
    ASSERT_NO_THROW(player.open(madeByFfmpeg(dir.path(), "next.avi", {"-c:v", "mjpeg"}))) << "the next file opens";
}

