// What the GStreamer service does when things go wrong: a device that stops
// delivering in mid-stream, a full disk, a file that cannot be opened. No
// crash, no hang; the request says false and the status callback says why.

#include "capture/device/GstSession.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QFile>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace tarvelo;
using namespace std::chrono_literals;

namespace {

class RecordingSink : public FrameSink {
public:
    void frameArrived(const QImage&, VIDEOHDR*) override {}
    void videoRecorded(VIDEOHDR*) override {}
    void audioRecorded(WAVEHDR*) override {}
    void statusChanged(int32_t id, const std::string& text) override
    {
        std::lock_guard lock(mutex);
        statuses.emplace_back(id, text);
        changed.notify_all();
    }
    // Runs the owning thread's events meanwhile: the session acts there on
    // what its bus thread saw.
    bool waitFor(int32_t id, std::chrono::milliseconds limit = 5000ms)
    {
        auto deadline = std::chrono::steady_clock::now() + limit;
        do {
            QCoreApplication::processEvents();
            std::unique_lock lock(mutex);
            bool seen = changed.wait_for(lock, 10ms, [&] {
                for (auto& s : statuses)
                    if (s.first == id)
                        return true;
                return false;
            });
            if (seen)
                return true;
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<int32_t, std::string>> statuses;
};

SourceSpec pattern(const std::string& afterSource = "")
{
    SourceSpec source{"videotestsrc is-live=true", "30/1", afterSource, "audiotestsrc is-live=true", {},
                      {160, 120, "BGRx"},  {}};
    return source;
}

RecordingRequest toFile(const QString& file)
{
    RecordingRequest r;
    r.file = file;
    r.parms.dwRequestMicroSecPerFrame = 66667;
    return r;
}

}  // namespace

TEST(GstSessionFaults, ASourceThatFailsInMidStream)
{
    ASSERT_TRUE(EnsureGstreamer());
    test::TempWorkDir dir;
    RecordingSink sink;
    GstSession session(pattern("identity error-after=20"), sink);
    ASSERT_TRUE(session.start());
    ASSERT_TRUE(session.startRecording(toFile(dir.file("lost.avi"))));
    EXPECT_TRUE(sink.waitFor(IDS_CAP_PIPELINE_ERROR)) << "the status callback says what happened";
    EXPECT_FALSE(session.progress().capturing);
    EXPECT_NE(session.progress().lastError, 0u);
    EXPECT_TRUE(session.stopRecording()) << "nothing left to stop";
}

TEST(GstSessionFaults, AFullDiskEndsTheRecordingWithAWriteError)
{
    RecordingSink sink;
    GstSession session(pattern(), sink);
    ASSERT_TRUE(session.start());
    ASSERT_TRUE(session.startRecording(toFile("/dev/full")));
    EXPECT_TRUE(sink.waitFor(IDS_CAP_WRITEERROR));
    EXPECT_FALSE(session.progress().capturing);
    EXPECT_EQ(session.progress().lastError, uint32_t(IDS_CAP_WRITEERROR));
    QImage frame;
    EXPECT_TRUE(session.grab(frame)) << "the live picture came back";
}

TEST(GstSessionFaults, ACaptureFileThatCannotBeOpened)
{
    RecordingSink sink;
    GstSession session(pattern(), sink);
    ASSERT_TRUE(session.start());
    EXPECT_FALSE(session.startRecording(toFile("/no/such/dir/x.avi")));
    EXPECT_TRUE(sink.waitFor(IDS_CAP_FILE_OPEN_ERROR, 100ms));
    QImage frame;
    EXPECT_TRUE(session.grab(frame));
}

TEST(GstSessionFaults, AMissingDeviceRefusesToConnect)
{
    RecordingSink sink;
    SourceSpec source{"v4l2src device=/dev/video-none", "", "", "", {}, {}, {}};
    GstSession session(source, sink);
    EXPECT_FALSE(session.start());
}

TEST(GstSessionFaults, AGrabThatSeesNoNewFrameFails)
{
    RecordingSink sink;
    SourceSpec source = pattern();
    source.video = "videotestsrc is-live=true num-buffers=5";
    GstSession session(source, sink);
    ASSERT_TRUE(session.start());
    std::this_thread::sleep_for(500ms);  // the five frames are long gone
    QImage frame;
    EXPECT_FALSE(session.grab(frame)) << "an old frame is no answer";
}

// Whatever fails to start, the live picture goes on: a recording whose
// pipeline cannot be built, a mode the device cannot deliver.
TEST(GstSessionFaults, TheLivePictureSurvivesWhatFailsToStart)
{
    test::TempWorkDir dir;
    RecordingSink sink;
    SourceSpec source = pattern();
    source.audio = "nosuchaudiosource";
    source.modes = {{160, 120, "BGRx"}, {160, 120, "NOSUCHFORMAT"}};
    GstSession session(source, sink);
    ASSERT_TRUE(session.start());
    RecordingRequest request = toFile(dir.file("sound.avi"));
    request.parms.fCaptureAudio = -1;
    EXPECT_FALSE(session.startRecording(request));
    QImage frame;
    EXPECT_TRUE(session.grab(frame)) << "live after a recording that could not be built";

    EXPECT_FALSE(session.setMode(source.modes[1]));
    EXPECT_EQ(session.mode(), source.modes[0]) << "back to the mode that works";
    EXPECT_TRUE(session.grab(frame)) << "live after a mode the device refused";
    EXPECT_EQ(frame.size(), QSize(160, 120));
}
