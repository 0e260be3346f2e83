// The Windows build's drivers under Wine: no video input is listed, so the
// test pattern is the only driver, as on a Linux machine without a camera;
// its recordings go through AVIFile, with the machine's sound where it has
// an input (the test run has none). The file is left for ffprobe.

#include "capture/device/painted/PaintedSession.h"
#include "capture/device/SoundInput.h"
#include "capture/device/SystemDrivers.h"

#include <QCoreApplication>
#include <QDir>
#include <gtest/gtest.h>
#include <thread>

using namespace tarvelo;

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
