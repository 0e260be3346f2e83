// What the GStreamer service does when things go wrong: a device that stops
// delivering in mid-stream, a full disk, a file that cannot be opened. No
// crash, no hang; the request says false and the status callback says why.

#include "capture/GstSession.h"
#include "support/TempDir.h"

#include <QFile>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

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
    bool waitFor(int32_t id, std::chrono::milliseconds limit = 5000ms)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] {
            for (auto& s : statuses)
                if (s.first == id)
                    return true;
            return false;
        });
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<int32_t, std::string>> statuses;
};

SourceSpec pattern(const std::string& afterSource = "")
{
    SourceSpec source{"videotestsrc is-live=true", "30/1", afterSource, "audiotestsrc is-live=true", {}, {160, 120, "BGRx"}};
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
    SourceSpec source{"v4l2src device=/dev/video-none", "", "", "", {}, {}};
    GstSession session(source, sink);
    EXPECT_FALSE(session.start());
}
