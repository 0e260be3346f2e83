// What the GStreamer service does when things go wrong: a device that stops
// delivering in mid-stream, a full disk, a file that cannot be opened. No
// crash, no hang; the request says false and the status callback says why.

#include "capture/device/gstreamer/GstSession.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
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

// Memory in use, in KB: the sanitizers' count of live allocations where a
// sanitizer runs (its quarantine keeps freed memory resident), else what
// is resident.
extern "C" size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));
long memoryInUseKb()
{
    if (__sanitizer_get_current_allocated_bytes)
        return long(__sanitizer_get_current_allocated_bytes() / 1024);
    QFile status("/proc/self/statm");
    status.open(QIODevice::ReadOnly);
    return status.readAll().split(' ').value(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

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

// A network share reports a failed last write only when the file closes:
// the sink's fclose of a file named "*-close-fails.avi" closes it and says
// EIO, once armed.
static std::atomic<bool> closeFails{false};
extern "C" int fclose(FILE* file)
{
    static auto real = reinterpret_cast<int (*)(FILE*)>(dlsym(RTLD_NEXT, "fclose"));
    char path[512] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fileno(file));
    const bool target = closeFails && readlink(link.c_str(), path, sizeof path - 1) > 0 &&
                        QByteArray(path).endsWith("-close-fails.avi");
    const int closed = real(file);
    if (!target)
        return closed;
    errno = EIO;
    return EOF;
}

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

// A file whose last writes fail when the recording ends (the disk filled
// meanwhile) is a failed recording, not a finished one.
TEST(GstSessionFaults, LastWritesThatFailEndTheRecordingAsFailed)
{
    test::TempWorkDir dir;
    RecordingSink sink;
    GstSession session(pattern(), sink);
    ASSERT_TRUE(session.start());
    QString file = dir.file("full.avi");
    ASSERT_TRUE(session.startRecording(toFile(file)));
    std::this_thread::sleep_for(500ms);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit full{rlim_t(QFileInfo(file).size()) + 64, saved.rlim_max};  // what is written so far, and no more
    setrlimit(RLIMIT_FSIZE, &full);
    bool finished = session.stopRecording();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(finished);
    EXPECT_EQ(session.progress().lastError, uint32_t(IDS_CAP_WRITEERROR));
}

TEST(GstSessionFaults, AFileThatFailsToCloseIsAFailedRecording)
{
    test::TempWorkDir dir;
    RecordingSink sink;
    GstSession session(pattern(), sink);
    ASSERT_TRUE(session.start());
    ASSERT_TRUE(session.startRecording(toFile(dir.file("share-close-fails.avi"))));
    std::this_thread::sleep_for(300ms);
    closeFails = true;
    EXPECT_FALSE(session.stopRecording());
    closeFails = false;
    EXPECT_EQ(session.progress().lastError, uint32_t(IDS_CAP_WRITEERROR));
    EXPECT_TRUE(sink.waitFor(IDS_CAP_WRITEERROR)) << "the status says so, not \"Capture End\"";
}

// A disk or network share that stops taking bytes: about a second of frames
// waits for it, the rest are dropped and counted, and memory stays bounded.
TEST(GstSessionFaults, ARecordingThatCannotKeepUpDropsFrames)
{
    test::TempWorkDir dir;
    QString fifo = dir.file("stalled.avi");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    int reader = open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);  // never reads
    auto previousHandler = signal(SIGPIPE, SIG_IGN);
    RecordingSink sink;
    SourceSpec source = pattern();
    source.initial = {640, 480, "BGRx"};
    GstSession session(source, sink);
    ASSERT_TRUE(session.start());
    ASSERT_TRUE(session.startRecording(toFile(fifo)));
    std::this_thread::sleep_for(500ms);
    const long before = memoryInUseKb();
    std::this_thread::sleep_for(4s);  // 120 frames of 1.2 MB come meanwhile
    EXPECT_LT(memoryInUseKb() - before, 60 * 1024) << "no pile of frames";
    EXPECT_GT(session.progress().dropped, 60u) << "counted where dropped frames are";
    close(reader);
    session.stopRecording();
    signal(SIGPIPE, previousHandler);
    QImage frame;
    EXPECT_TRUE(session.grab(frame));
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

    SourceSpec deaf = pattern();
    deaf.audio = "filesrc location=/no/such/sound/device";  // a sound input that cannot be opened
    GstSession withoutSound(deaf, sink);
    ASSERT_TRUE(withoutSound.start());
    EXPECT_FALSE(withoutSound.startRecording(request));
    EXPECT_TRUE(sink.waitFor(IDS_CAP_WAVE_OPEN_ERROR, 100ms)) << "the sound's error, not the file's";
    EXPECT_FALSE(QFile::exists(request.file)) << "no empty recording left behind";
    EXPECT_TRUE(withoutSound.grab(frame));

    EXPECT_FALSE(session.setMode(source.modes[1]));
    EXPECT_EQ(session.mode(), source.modes[0]) << "back to the mode that works";
    EXPECT_TRUE(session.grab(frame)) << "live after a mode the device refused";
    EXPECT_EQ(frame.size(), QSize(160, 120));
}
