// The Windows build's drivers under Wine: no video input is listed, so the
// test pattern is the only driver, as on a Linux machine without a camera;
// its recordings are our own OpenDML files, with the machine's sound where
// it has an input (the test run has none), and go on past 2 GB. The files
// are left for ffprobe (probe_recording.py).

#include "capture/device/painted/PaintedSession.h"
#include "framework/JpegImage.h"
#include "playback/Player.h"
#include "support/PictureDifference.h"
#include "capture/device/SoundInput.h"
#include "capture/device/SystemDrivers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <thread>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

class QuietSink final : public FrameSink {
public:
    void frameArrived(const QImage&, VIDEOHDR*) override {}
    void videoRecorded(VIDEOHDR*) override {}
    void audioRecorded(WAVEHDR* header) override { sound += header->dwBytesRecorded; }
    void statusChanged(int32_t, const std::string&) override {}
    std::atomic<uint32_t> sound{0};
};

}  // namespace

TEST(WindowsDrivers, WithoutVideoInputsTheTestPatternIsTheOnlyDriver)
{
    auto drivers = SystemCaptureDrivers(10);
    ASSERT_EQ(drivers.size(), 1u);
    EXPECT_EQ(drivers[0]->description(), "Tarvelo test pattern");
    EXPECT_TRUE(SystemCaptureDrivers(0).empty());
}

// One second at 10 frames a second, asked for with 8-bit mono sound at 11025 Hz.
TEST(WindowsDrivers, ARecordingWithTheMachinesSound)
{
    QString out = qEnvironmentVariable("TARVELO_TEST_OUTPUT", QDir::currentPath());
    QDir().mkpath(out);
    QString file = out + QStringLiteral("/录像-有声.avi");  // a Chinese name, under code page 936
    QuietSink sink;
    PaintedSource source{{}, {320, 240, "BGRx"}, 30, [](QImage& f, std::chrono::milliseconds) { f.fill(Qt::red); },
                         OpenAviRecording, OpenWaveIn};
    PaintedSession session(std::move(source), sink);
    RecordingRequest request{file, {}, {}};
    request.parms.dwRequestMicroSecPerFrame = 100000;
    request.parms.fLimitEnabled = 1;
    request.parms.wTimeLimit = 1;
    request.parms.fCaptureAudio = 1;
    ASSERT_TRUE(session.startRecording(request));
    for (int i = 0; i < 300 && session.progress().capturing; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    RecordingProgress done = session.progress();
    EXPECT_FALSE(done.capturing);
    EXPECT_EQ(done.lastError, 0u);
    EXPECT_EQ(done.frames, 10u);
    EXPECT_EQ(sink.sound.load(), done.audioSamples) << "what the input delivered is what was kept";
    EXPECT_TRUE(QFile::exists(file));
}

// Frames of noise (about 5 MB each) until the file is past 2 GB, then five
// seconds of red ones: our player shows them, a tenth back from the end.
TEST(WindowsDrivers, ARecordingGoesOnPastTwoGigabytes)
{
    QString out = qEnvironmentVariable("TARVELO_TEST_OUTPUT", QDir::currentPath());
    QDir().mkpath(out);
    QString file = out + "/long.avi";
    QImage noise(1920, 1080, QImage::Format_RGB32), red(1920, 1080, QImage::Format_RGB32);
    QRandomGenerator random(29);
    for (int y = 0; y < noise.height(); ++y)
        random.fillRange(reinterpret_cast<quint32*>(noise.scanLine(y)), noise.width());
    red.fill(Qt::red);
    const QByteArray big = EncodeJpeg(noise, 100), last = EncodeJpeg(red, 85);
    std::string why;
    auto recording = OpenAviRecording(file, {noise.size(), 40000, false, {}}, why);
    ASSERT_TRUE(recording) << why;
    int frames = 0;
    for (qint64 written = 0; written < (qint64(2) << 30) + (qint64(100) << 20); written += big.size() + 8, ++frames)
        ASSERT_TRUE(recording->addFrame(big, why)) << "frame " << frames << ": " << why;
    for (int n = 0; n < 125; ++n, ++frames)
        ASSERT_TRUE(recording->addFrame(last, why)) << why;
    ASSERT_TRUE(recording->close(why)) << why;
    EXPECT_GT(QFileInfo(file).size(), qint64(2) << 30);

    Player player;
    auto shown = std::make_shared<std::pair<std::mutex, QImage>>();
    player.onPicture = [shown](const QImage& p) {
        std::lock_guard lock(shown->first);
        shown->second = p;
    };
    ASSERT_NO_THROW(player.open(file));
    EXPECT_NEAR(double(player.lengthMs()), frames * 40.0, 80.0);
    player.next();
    player.back();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    std::lock_guard lock(shown->first);
    EXPECT_LT(PictureDifference(shown->second.scaled(red.size()).convertToFormat(QImage::Format_RGB32), red), 20.0)
        << "the last second's picture, past 2 GB, at " << player.positionMs() << " ms of " << player.lengthMs();
}
