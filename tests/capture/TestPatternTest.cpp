// The capture component on the real service with the built-in test-pattern
// driver: frames saved as bitmaps, recordings as AVI files, checked by
// independent readers (Python for BMP headers, ffprobe for AVI files).

#include "capture/device/DriverRegistry.h"
#include "capture/device/SystemDrivers.h"
#include "capture/Video.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QKeyEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <atomic>
#include <memory>
#include <gtest/gtest.h>
#include <thread>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// "codec_type=video|codec_name=mjpeg|nb_frames=45" lines, one per stream.
QStringList probe(const QString& file)
{
    return run("ffprobe", {"-v", "error", "-count_frames", "-show_entries",
                           "stream=codec_type,codec_name,nb_read_frames,sample_rate,channels,bits_per_sample",
                           "-of", "compact=p=0", file})
        .split('\n', Qt::SkipEmptyParts);
}

int framesOf(const QString& streamLine)
{
    for (const QString& field : streamLine.split('|'))
        if (field.startsWith("nb_read_frames="))
            return field.section('=', 1).toInt();
    return -1;
}

// Runs the event loop for `ms`, sleeping while nothing happens.
void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

class TestPatternTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DriverRegistry::setDriverSource(SystemCaptureDrivers);
        cap.resize(320, 240);
        cap.setDriverName("Tarvelo test pattern");
        ASSERT_NE(cap.DriverIndex(), -1) << "the test pattern is always installed";
        ASSERT_TRUE(cap.EnsureDriverOpen());
    }

    bool statusCapturing();

    TempWorkDir dir;
    TVideoCap cap;
};

bool TestPatternTest::statusCapturing()
{
    CAPSTATUS s;
    SystemCaptureService().capGetStatus(cap.CaptureWindowHandle(), &s);
    return s.fCapturingNow != 0;
}

}  // namespace

TEST_F(TestPatternTest, SavedFrameIsA24BitBitmapOfTheStatusSize)
{
    EXPECT_TRUE(cap.GrabFrameNoStop());
    EXPECT_TRUE(cap.SaveFrameToFile());
    ASSERT_TRUE(QFile::exists("Capture.bmp"));
    QString header = run("python3", {"-c",
                                     "import struct,sys\n"
                                     "d=open(sys.argv[1],'rb').read(30)\n"
                                     "w,h=struct.unpack('<ii',d[18:26])\n"
                                     "bpp=struct.unpack('<H',d[28:30])[0]\n"
                                     "print(d[:2].decode(),w,abs(h),bpp)",
                                     "Capture.bmp"});
    EXPECT_EQ(header, QString("BM %1 %2 24").arg(cap.ImageWidth()).arg(cap.ImageHeight()));
    EXPECT_EQ(cap.ImageWidth(), 320);
    cap.SingleImageFile = dir.file("no/such/dir/x.bmp");
    EXPECT_FALSE(cap.SaveFrameToFile()) << "a file that cannot be written";
}

TEST_F(TestPatternTest, ThreeSecondsAtFifteenFramesAMotionJpegAvi)
{
    cap.VideoFileName = dir.file("three.avi");
    cap.setFrameRate(15);
    ASSERT_TRUE(cap.StartCapture());
    pump(3000);
    EXPECT_TRUE(cap.StopCapture());
    QStringList streams = probe(cap.VideoFileName);
    ASSERT_EQ(streams.size(), 1) << streams.join(" / ").toStdString();
    EXPECT_TRUE(streams[0].contains("codec_name=mjpeg")) << streams[0].toStdString();
    EXPECT_NEAR(framesOf(streams[0]), 45, 4) << streams[0].toStdString();
}

TEST_F(TestPatternTest, ATimeLimitEndsTheRecordingByItself)
{
    cap.VideoFileName = dir.file("limited.avi");
    cap.CapTimeLimit = 2;
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(cap.StartCapture());
    while (statusCapturing() && t.elapsed() < 6000)
        pump(50);
    EXPECT_FALSE(statusCapturing());
    EXPECT_NEAR(double(t.elapsed()), 2000.0, 700.0);
    QStringList streams = probe(cap.VideoFileName);
    ASSERT_EQ(streams.size(), 1);
    EXPECT_NEAR(framesOf(streams[0]), 30, 4) << "2 s at 15 frames a second";
}

TEST_F(TestPatternTest, EscapeEndsTheRecording)
{
    cap.VideoFileName = dir.file("escaped.avi");
    ASSERT_TRUE(cap.StartCapture());
    pump(500);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&cap, &escape);
    EXPECT_FALSE(statusCapturing());
    QStringList streams = probe(cap.VideoFileName);
    ASSERT_EQ(streams.size(), 1) << "a complete file";
    EXPECT_GT(framesOf(streams[0]), 3);
}

TEST_F(TestPatternTest, RecordingWithStereoSound)
{
    cap.VideoFileName = dir.file("sound.avi");
    cap.CapAudio = true;
    cap.CapAudioFormat = {TChannel::Stereo, TFrequency::f44100Hz, TResolution::r16Bit};
    std::atomic<int> audioBuffers{0}, badHeaders{0};
    cap.setOnAudioStream([&](TVideoCap*, WAVEHDR* h) {
        ++audioBuffers;
        if (!h || !h->lpData || h->dwBytesRecorded == 0 || h->dwBytesRecorded % 4 != 0)
            ++badHeaders;
    });
    ASSERT_TRUE(cap.StartCapture());
    pump(1500);
    cap.StopCapture();
    cap.setOnAudioStream(nullptr);
    EXPECT_GT(audioBuffers.load(), 5);
    EXPECT_EQ(badHeaders.load(), 0) << "whole stereo 16-bit samples";
    QStringList streams = probe(cap.VideoFileName);
    ASSERT_EQ(streams.size(), 2) << streams.join(" / ").toStdString();
    QString audio = streams[0].contains("codec_type=audio") ? streams[0] : streams[1];
    EXPECT_TRUE(audio.contains("codec_name=pcm_s16le")) << audio.toStdString();
    EXPECT_TRUE(audio.contains("sample_rate=44100")) << audio.toStdString();
    EXPECT_TRUE(audio.contains("channels=2")) << audio.toStdString();
}

TEST_F(TestPatternTest, CallbacksArriveOnAnotherThreadWithValidHeaders)
{
    std::thread::id ui = std::this_thread::get_id();
    std::atomic<int> frames{0}, recorded{0}, badHeaders{0}, onUiThread{0};
    auto check = [&](VIDEOHDR* h, std::atomic<int>& count) {
        ++count;
        if (std::this_thread::get_id() == ui)
            ++onUiThread;
        if (!h || !h->lpData || h->dwBytesUsed == 0 || h->dwBytesUsed > h->dwBufferLength || !(h->dwFlags & VHDR_DONE))
            ++badHeaders;
    };
    cap.setOnFrameCallback([&](TVideoCap*, VIDEOHDR* h) { check(h, frames); });
    cap.setOnVideoStream([&](TVideoCap*, VIDEOHDR* h) { check(h, recorded); });
    cap.setVideoPreview(true);
    cap.VideoFileName = dir.file("callbacks.avi");
    ASSERT_TRUE(cap.StartCapture());
    pump(1000);
    cap.StopCapture();
    cap.setOnFrameCallback(nullptr);
    cap.setOnVideoStream(nullptr);
    EXPECT_GT(frames.load(), 10);
    EXPECT_GT(recorded.load(), 5);
    EXPECT_EQ(badHeaders.load(), 0);
    EXPECT_EQ(onUiThread.load(), 0);
}

namespace {

// Every service event counted, and those that arrive once `over` is set.
struct CallbackCounter {
    std::atomic<int> calls{0};
    std::atomic<int> late{0};
    std::atomic<bool> over{false};

    void seen()
    {
        ++calls;
        if (over)
            ++late;
    }
    void setAll(TVideoCap& component)
    {
        component.setOnStatusCallback([this](TVideoCap*, int32_t, const QString&) { seen(); });
        component.setOnFrameCallback([this](TVideoCap*, VIDEOHDR*) { seen(); });
        component.setOnVideoStream([this](TVideoCap*, VIDEOHDR*) { seen(); });
        component.setOnAudioStream([this](TVideoCap*, WAVEHDR*) { seen(); });
    }
};

void clearAll(TVideoCap& component)
{
    component.setOnStatusCallback(nullptr);
    component.setOnFrameCallback(nullptr);
    component.setOnVideoStream(nullptr);
    component.setOnAudioStream(nullptr);
}

std::unique_ptr<TVideoCap> recordingComponent(const QString& file, CallbackCounter& counter)
{
    auto component = std::make_unique<TVideoCap>();
    component->resize(320, 240);
    component->setDriverName("Tarvelo test pattern");
    counter.setAll(*component);
    EXPECT_TRUE(component->EnsureDriverOpen());
    component->setVideoOverlay(true);
    component->CapAudio = true;
    component->VideoFileName = file;
    EXPECT_TRUE(component->StartCapture());
    return component;
}

// A whole file: the index avimux writes at the end agrees with the frames
// that can be read.
void expectCompleteAvi(const QString& file)
{
    QStringList streams = run("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v", "-show_entries",
                                          "stream=nb_frames,nb_read_frames", "-of", "csv=p=0", file})
                              .split(',');
    ASSERT_EQ(streams.size(), 2) << file.toStdString();
    EXPECT_GT(streams[0].toInt(), 5);
    EXPECT_EQ(streams[0], streams[1]) << "frames in the header, frames read";
}

}  // namespace

TEST_F(TestPatternTest, HandlersSetAndClearedWhileFramesAndStatusEventsArrive)
{
    CallbackCounter counter;
    cap.setVideoOverlay(true);
    cap.CapAudio = true;
    QElapsedTimer t;
    t.start();
    int rounds = 0;
    for (int recording = 0; recording < 4; ++recording) {
        cap.VideoFileName = dir.file(QString("stress%1.avi").arg(recording));
        ASSERT_TRUE(cap.StartCapture());
        QElapsedTimer r;
        r.start();
        while (r.elapsed() < 400) {
            counter.setAll(cap);
            QCoreApplication::processEvents();
            clearAll(cap);
            ++rounds;
        }
        counter.setAll(cap);
        EXPECT_TRUE(cap.StopCapture());  // the end's status events, with every handler set
    }
    counter.over = true;
    clearAll(cap);
    pump(200);
    EXPECT_GT(rounds, 100);
    EXPECT_GT(counter.calls.load(), 20);
    EXPECT_EQ(counter.late.load(), 0) << "a cleared handler is not called";
}

TEST_F(TestPatternTest, ClosedOrDestroyedDuringARecordingWithEveryCallbackSet)
{
    CallbackCounter closedOne, destroyedOne;
    auto closing = recordingComponent(dir.file("closed.avi"), closedOne);
    auto destroying = recordingComponent(dir.file("destroyed.avi"), destroyedOne);
    pump(1000);
    closing->CloseDriver();
    closedOne.over = true;
    destroying.reset();
    destroyedOne.over = true;
    pump(300);
    closing.reset();
    EXPECT_GT(closedOne.calls.load(), 20);
    EXPECT_GT(destroyedOne.calls.load(), 20);
    EXPECT_EQ(closedOne.late.load(), 0) << "no callback after close";
    EXPECT_EQ(destroyedOne.late.load(), 0) << "no callback after destruction";
    expectCompleteAvi(dir.file("closed.avi"));
    expectCompleteAvi(dir.file("destroyed.avi"));
}
