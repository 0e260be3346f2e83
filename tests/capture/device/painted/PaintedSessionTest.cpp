// The in-process test pattern (the Windows build's): pictures at their rate
// on the session's own thread, grabs newer than the request, a new size
// taken at once, and the virtual site's camera while its file names one.

#include "capture/device/painted/PaintedPictures.h"
#include "capture/device/painted/PaintedSession.h"
#include "capture/site/SiteScene.h"
#include "framework/JpegImage.h"
#include "support/PictureDifference.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <atomic>
#include <mutex>
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
    void videoRecorded(VIDEOHDR*) override { ++recorded; }
    void audioRecorded(WAVEHDR*) override {}
    void statusChanged(int32_t id, const std::string& text) override
    {
        std::lock_guard lock(mutex);
        statuses.push_back(std::to_string(id) + " " + text);
    }
    std::vector<std::string> statusesNow()
    {
        std::lock_guard lock(mutex);
        return statuses;
    }
    std::atomic<int> frames{0};
    std::atomic<int> recorded{0};
    std::mutex mutex;
    std::vector<std::string> statuses;
};

// A recording kept in memory; it refuses frames past `room`.
struct MemoryRecording {
    std::mutex mutex;
    std::vector<QByteArray> frames;
    QByteArray sound;
    int opened = 0;
    bool closed = false;
    size_t room = 1000;
};

RecordingFileOpener memoryFile(std::shared_ptr<MemoryRecording> kept)
{
    return [kept](const QString& path, const RecordingFormat&, std::string& why) -> std::unique_ptr<RecordingFile> {
        class File final : public RecordingFile {
        public:
            explicit File(std::shared_ptr<MemoryRecording> k) : kept_(std::move(k)) {}
            bool addFrame(const QByteArray& jpeg, std::string& why) override
            {
                std::lock_guard lock(kept_->mutex);
                if (kept_->frames.size() >= kept_->room)
                    return why = "the disk is full", false;
                kept_->frames.push_back(jpeg);
                return true;
            }
            bool addSound(const QByteArray& samples, std::string&) override
            {
                std::lock_guard lock(kept_->mutex);
                kept_->sound += samples;
                return true;
            }
            bool close(std::string&) override { return kept_->closed = true; }

        private:
            std::shared_ptr<MemoryRecording> kept_;
        };
        if (path.contains("missing/"))
            return why = "no such folder", nullptr;
        ++kept->opened;
        return std::make_unique<File>(kept);
    };
}

// A sound input that delivers a block of 441 two-byte samples every 20 ms
// on its own thread, counting what it delivered.
class FakeSoundInput final : public SoundInput {
public:
    FakeSoundInput(SoundHandler handler, std::atomic<size_t>& delivered) : handler_(std::move(handler)), delivered_(delivered) {}
    ~FakeSoundInput() override
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    void start() override
    {
        thread_ = std::thread([this] {
            const QByteArray block(882, 'x');
            while (!stop_) {
                handler_(block.constData(), size_t(block.size()));
                delivered_ += size_t(block.size());
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }

private:
    SoundHandler handler_;
    std::atomic<size_t>& delivered_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

RecordingRequest recordingFor(const QString& file, uint16_t timeLimit)
{
    RecordingRequest request{file, {}, {}};
    request.parms.dwRequestMicroSecPerFrame = 100000;  // 10 frames a second
    request.parms.fLimitEnabled = timeLimit > 0;
    request.parms.wTimeLimit = timeLimit;
    return request;
}

bool waitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 400 && !done(); ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

PaintedSource source(std::function<void(QImage&, std::chrono::milliseconds)> paint)
{
    return {{{160, 120, "BGRx"}, {320, 240, "BGRx"}}, {160, 120, "BGRx"}, 30, std::move(paint), {}, {}, {}};
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
    EXPECT_FALSE(session.startRecording(recordingFor("x.avi", 0)));  // no file writer was given
}

// A time limit ends the recording by itself, at its frame rate; a full disk
// ends it with its error; a file that cannot be made is never begun.
TEST(PaintedSession, RecordingsKeepTheirRateEndAtTheLimitAndSayWhyTheyFailed)
{
    CountingSink sink;
    auto kept = std::make_shared<MemoryRecording>();
    PaintedSource painted = source([](QImage& frame, std::chrono::milliseconds) { frame.fill(Qt::blue); });
    painted.openFile = memoryFile(kept);
    PaintedSession session(std::move(painted), sink);

    ASSERT_TRUE(session.startRecording(recordingFor("limited.avi", 1)));
    EXPECT_FALSE(session.startRecording(recordingFor("second.avi", 0)));
    ASSERT_TRUE(waitFor([&] { return !session.progress().capturing; }));
    EXPECT_TRUE(kept->closed);
    ASSERT_EQ(kept->frames.size(), 10u);  // one second at 10 a second, gaps repeated
    EXPECT_EQ(sink.recorded.load(), 10);
    QImage first = DecodeJpeg(kept->frames.front());
    EXPECT_EQ(first.size(), QSize(160, 120));
    QImage blue(160, 120, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    EXPECT_LT(PictureDifference(first, blue), 3.0);  // the picture as painted
    std::vector<std::string> statuses = sink.statusesNow();
    ASSERT_EQ(statuses.size(), 3u);
    EXPECT_EQ(statuses[0], "300 Capture Start");
    EXPECT_EQ(statuses[1].rfind("503 Captured 10 frames (", 0), 0u) << statuses[1];
    EXPECT_EQ(statuses[2], "301 Capture End");

    kept->frames.clear();
    kept->room = 3;
    ASSERT_TRUE(session.startRecording(recordingFor("full.avi", 0)));
    ASSERT_TRUE(waitFor([&] { return !session.progress().capturing; }));
    EXPECT_EQ(session.progress().lastError, uint32_t(IDS_CAP_WRITEERROR));
    EXPECT_EQ(sink.statusesNow().back(), "434 Error: cannot write the capture file (disk full?)");

    EXPECT_FALSE(session.startRecording(recordingFor("missing/x.avi", 0)));
    EXPECT_EQ(sink.statusesNow().back(), "419 Error: cannot open the capture file missing/x.avi");
    EXPECT_EQ(session.progress().lastError, uint32_t(IDS_CAP_FILE_OPEN_ERROR));
}

TEST(PaintedSession, TheSitesCameraWhileItsFileNamesOneElseTheTestPattern)
{
    TempWorkDir dir;
    std::string file = dir.file("site").toStdString();
    CountingSink sink;
    PaintedSession session(source(SitePainter(QString::fromStdString(file))), sink);

    QImage pattern;
    ASSERT_TRUE(session.grab(pattern));
    EXPECT_EQ(pattern.pixel(2, 2), 0xFFC0C0C0);  // the first, grey bar

    ASSERT_TRUE(WriteSiteView(file, {3, 0.1, 0, 1}));
    QImage camera, expected(160, 120, QImage::Format_RGB32);
    PaintSiteScene({3, 0.1, 0, 1}, expected.bits(), 160, 120, int(expected.bytesPerLine()));
    // Below the camera's caption the picture is the scene itself, once the
    // file has been read again (every 50 ms).
    EXPECT_TRUE(waitFor([&] {
        return session.grab(camera) &&
               PictureDifference(camera.copy(0, 60, 160, 60), expected.copy(0, 60, 160, 60)) < 0.5;
    }));
    EXPECT_GT(PictureDifference(camera.copy(0, 0, 160, 30), expected.copy(0, 0, 160, 30)), 1.0);  // the caption
}

// A source that stops (a device unplugged, a painter that hangs) is told in
// the status, ends the recording as failed instead of repeating its last
// picture, and is back with its first new picture.
TEST(PaintedSession, ASourceThatStopsIsLostAndEndsTheRecording)
{
    CountingSink sink;
    auto kept = std::make_shared<MemoryRecording>();
    std::atomic<bool> stalled{false};
    PaintedSource painted = source([&](QImage& frame, std::chrono::milliseconds) {
        while (stalled)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        frame.fill(Qt::blue);
    });
    painted.openFile = memoryFile(kept);
    painted.stallLimit = std::chrono::milliseconds(300);
    PaintedSession session(std::move(painted), sink);
    ASSERT_TRUE(session.startRecording(recordingFor("lost.avi", 0)));
    ASSERT_TRUE(waitFor([&] { return sink.recorded > 3; }));

    stalled = true;
    ASSERT_TRUE(waitFor([&] { return !session.progress().capturing; }));
    EXPECT_EQ(session.progress().lastError, uint32_t(IDS_CAP_VIDEO_SOURCE_LOST));
    std::vector<std::string> statuses = sink.statusesNow();
    EXPECT_EQ(statuses.back(), "440 Error: the video source was lost");
    EXPECT_TRUE(kept->closed) << "what was recorded before the loss is kept";
    int recorded = sink.recorded;
    QImage frame;
    EXPECT_FALSE(session.grab(frame));

    stalled = false;
    ASSERT_TRUE(waitFor([&] { return sink.statusesNow().back() == "0 "; })) << "the status clears when it is back";
    EXPECT_TRUE(session.grab(frame));
    EXPECT_EQ(sink.recorded, recorded) << "no picture was repeated into the ended recording";
}

// Sound from the machine's input goes into the recording, every block it
// delivered; an input that cannot be opened stops the recording before its
// file is made; a machine without one records pictures only.
TEST(PaintedSession, SoundIsRecordedWhereThereIsAnInput)
{
    CountingSink sink;
    auto kept = std::make_shared<MemoryRecording>();
    std::atomic<size_t> delivered{0};
    std::string soundProblem;
    PaintedSource painted = source([](QImage& frame, std::chrono::milliseconds) { frame.fill(Qt::blue); });
    painted.openFile = memoryFile(kept);
    painted.openSound = [&](const WAVEFORMATEX&, SoundHandler handler, std::string& why) -> std::unique_ptr<SoundInput> {
        if (soundProblem == "none")
            return why.clear(), nullptr;
        if (!soundProblem.empty())
            return why = soundProblem, nullptr;
        return std::make_unique<FakeSoundInput>(std::move(handler), delivered);
    };
    PaintedSession session(std::move(painted), sink);
    RecordingRequest request = recordingFor("sound.avi", 0);
    request.parms.fCaptureAudio = 1;
    request.audioFormat.nBlockAlign = 2;

    ASSERT_TRUE(session.startRecording(request));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(session.stopRecording());
    EXPECT_GT(delivered.load(), 0u);
    EXPECT_EQ(size_t(kept->sound.size()), delivered.load()) << "every block, the last ones too";
    EXPECT_EQ(session.progress().audioSamples, delivered.load() / 2);

    soundProblem = "the device is busy";
    EXPECT_FALSE(session.startRecording(request));
    EXPECT_EQ(sink.statusesNow().back(), "422 Error: cannot open the sound input: the device is busy");
    EXPECT_EQ(kept->opened, 1) << "no file for a recording that cannot start";

    soundProblem = "none";
    kept->sound.clear();
    ASSERT_TRUE(session.startRecording(request));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(session.stopRecording());
    EXPECT_TRUE(kept->sound.isEmpty());
    EXPECT_GT(kept->frames.size(), 1u) << "pictures only";
}
