// The capture component's own logic over scripted drivers: the order of its
// requests and status events, its errors, its property limits and rounding.

#include "LoggingCaptureService.h"
#include "device/ScriptedDriver.h"
#include "capture/CaptureErrors.h"
#include "capture/CaptureWindow.h"
#include "capture/device/DriverRegistry.h"
#include "capture/Video.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QFile>
#include <QMouseEvent>
#include <gtest/gtest.h>
#include <thread>

using namespace tarvelo;
using namespace tarvelo::test;
using tarvelo::test::readBytes;

namespace {

using Log = std::vector<std::string>;

class VideoCapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::vector<std::shared_ptr<CaptureDriver>> drivers{std::make_shared<ScriptedDriver>(first),
                                                            std::make_shared<ScriptedDriver>(second)};
        DriverRegistry::setDriverSource([drivers](int32_t) { return drivers; });
        second.name = "Second driver";
        cap.resize(320, 238);
        cap.show();  // a hidden widget hears of its new size only when shown
        cap.OnStatus = [this](TVideoCap*) { requests.push_back("OnStatus"); };
    }
    void TearDown() override { DriverRegistry::setDriverSource(nullptr); }

    Log take() { return std::exchange(requests, {}); }

    template <typename Error>
    std::string errorOf(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const Error& e) {
            return e.what();
        }
        return "no error";
    }

    DriverScript first, second;
    Log requests;
    LoggingCaptureService service{[this](const std::string& r) { requests.push_back(r); }};
    std::thread::id mainThread = std::this_thread::get_id();
    TVideoCap cap{nullptr, service};
};

const Log OpenRequests = {"capCreateCaptureWindow", "capSetUserData", "capDriverConnect 0",
                          "capPreviewScale 0",       "capPreviewRate 33", "capGetStatus", "OnStatus"};
const Log CloseRequests = {"capDriverDisconnect", "capDestroyCaptureWindow"};

Log concat(std::initializer_list<Log> parts)
{
    Log all;
    for (const Log& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

TEST_F(VideoCapTest, OpeningAndClosing)
{
    cap.setDriverIndex(0);
    EXPECT_EQ(cap.DriverName(), "Scripted driver");
    EXPECT_EQ(take(), Log{"capGetDriverDescription 0"});
    EXPECT_TRUE(cap.OpenDriver());
    EXPECT_EQ(take(), OpenRequests);
    ASSERT_TRUE(cap.DriverOpen());
    EXPECT_EQ(cap.CaptureWindowHandle()->geometry(), QRect(0, 0, 320, 240)) << "the picture's own size";
    EXPECT_EQ(static_cast<CaptureWindow*>(cap.CaptureWindowHandle())->id(), 5001);
    EXPECT_TRUE(cap.EnsureDriverOpen());
    EXPECT_TRUE(take().empty());
    cap.CloseDriver();
    EXPECT_EQ(take(), CloseRequests) << "no status event on closing";
    EXPECT_EQ(cap.ImageWidth(), 320) << "the last status survives closing";
    cap.setDriverOpen(true);
    cap.setDriverOpen(true);
    EXPECT_EQ(take(), OpenRequests);
}

TEST_F(VideoCapTest, TheThreeOpeningErrors)
{
    EXPECT_EQ(errorOf<ENoDriverException>([&] { cap.OpenDriver(); }), "No capture driver selected");
    EXPECT_EQ(take(), Log{"OnStatus"});
    EXPECT_FALSE(cap.TryOpenDriver());
    EXPECT_TRUE(take().empty()) << "TryOpenDriver fires no status event";

    cap.setDriverIndex(0);
    take();
    service.windowCreationFails = true;
    EXPECT_EQ(errorOf<ENoCapWindowException>([&] { cap.OpenDriver(); }), "Can not create capture window");
    EXPECT_EQ(take(), (Log{"capCreateCaptureWindow", "OnStatus"}));
    service.windowCreationFails = false;

    first.refused.insert("connect");
    EXPECT_EQ(errorOf<ENotConnectException>([&] { cap.OpenDriver(); }),
              "Can not connect capture driver with capture window");
    EXPECT_EQ(take(), concat({{"capCreateCaptureWindow", "capSetUserData", "capDriverConnect 0"}, CloseRequests,
                              {"OnStatus"}}));
    EXPECT_FALSE(cap.DriverOpen());
    EXPECT_EQ(cap.DriverIndex(), 0) << "the selection is kept";
    EXPECT_FALSE(cap.EnsureDriverOpen());
}

TEST_F(VideoCapTest, OverlayFromClosedAndCachedCapabilities)
{
    cap.setDriverIndex(0);
    take();
    cap.setVideoOverlay(true);
    EXPECT_EQ(take(), concat({OpenRequests, {"capDriverGetCaps"}, CloseRequests, OpenRequests,
                              {"capGrabFrame", "capGetStatus", "OnStatus", "capOverlay 1", "capGetStatus", "OnStatus"}}));
    EXPECT_TRUE(cap.VideoOverlay());
    EXPECT_FALSE(cap.VideoPreview());
    cap.CloseDriver();
    EXPECT_FALSE(cap.VideoOverlay()) << "closed: off, whatever the last status said";
    take();
    cap.OpenDriver();
    EXPECT_TRUE(cap.HasOverlay());
    EXPECT_EQ(take(), OpenRequests) << "capabilities kept across close and open";
    cap.setDriverIndex(1);
    cap.setDriverIndex(0);
    take();
    EXPECT_TRUE(cap.HasOverlay());
    EXPECT_EQ(take(), concat({OpenRequests, {"capDriverGetCaps"}, CloseRequests})) << "a new selection asks again";
}

TEST_F(VideoCapTest, DriversWithoutOverlay)
{
    EXPECT_EQ(errorOf<ENoOverlayException>([&] { cap.setVideoOverlay(true); }), "Driver has no overlay mode");
    EXPECT_TRUE(take().empty()) << "no driver: nothing opened";
    first.hasOverlay = false;
    cap.setDriverIndex(0);
    cap.OpenDriver();
    take();
    EXPECT_THROW(cap.setVideoOverlay(true), ENoOverlayException);
    EXPECT_EQ(take(), Log{"capDriverGetCaps"}) << "no status refresh before the error";
    cap.setVideoPreview(true);
    EXPECT_EQ(take(), (Log{"capPreview 1", "capGetStatus", "OnStatus"}));
    EXPECT_TRUE(cap.VideoPreview());
}

TEST_F(VideoCapTest, SelectingByIndexAndName)
{
    cap.setDriverIndex(12);
    EXPECT_EQ(cap.DriverIndex(), -1);
    EXPECT_EQ(cap.DriverName(), "");
    cap.setDriverIndex(-5);
    EXPECT_EQ(cap.DriverIndex(), -5);
    cap.setDriverName("Second driver");
    EXPECT_EQ(cap.DriverIndex(), 1);
    cap.OpenDriver();
    cap.setDriverIndex(1);
    EXPECT_TRUE(cap.DriverOpen()) << "the same index again changes nothing";
    cap.setDriverName("No such driver");
    EXPECT_EQ(cap.DriverIndex(), -1);
    EXPECT_EQ(cap.DriverName(), "");
    EXPECT_FALSE(cap.DriverOpen());
    EXPECT_EQ(cap.ImageWidth(), 0) << "both blocks freed";
}

TEST_F(VideoCapTest, PropertyLimitsAndRounding)
{
    cap.setDriverIndex(0);
    cap.OpenDriver();
    take();
    cap.setPreviewRate(0);
    EXPECT_EQ(cap.PreviewRate(), 1);
    cap.setPreviewRate(45);
    EXPECT_EQ(cap.PreviewRate(), 30);
    cap.setPreviewRate(16);
    EXPECT_EQ(take(), (Log{"capPreviewRate 1000", "capPreviewRate 33", "capPreviewRate 62"})) << "62.5 rounds to even";
    EXPECT_EQ(cap.FrameRate(), 15);
    cap.setMicroSecPerFrame(20000);
    EXPECT_EQ(cap.MicroSecPerFrame(), 33333u);
    cap.setFrameRate(60);
    EXPECT_EQ(cap.MicroSecPerFrame(), 16667u) << "below the floor, set directly";
    cap.setFrameRate(0);
    EXPECT_EQ(cap.MicroSecPerFrame(), 16667u);
    cap.setCapIndexSize(100);
    EXPECT_EQ(cap.CapIndexSize(), 1800u);
    cap.setCapIndexSize(400000);
    EXPECT_EQ(cap.CapIndexSize(), 324000u);
    cap.setCapIndexSize(0);
    EXPECT_EQ(cap.CapIndexSize(), 0u);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
}

TEST_F(VideoCapTest, FittingTheCaptureWindow)
{
    cap.setDriverIndex(0);
    cap.OpenDriver();
    cap.setPreviewScaleToWindow(true);
    EXPECT_EQ(cap.CaptureWindowHandle()->size(), QSize(320, 238)) << "the control's size";
    cap.setPreviewScaleProportional(true);
    const std::pair<QSize, QSize> cases[] = {
        {{320, 238}, {317, 238}}, {{400, 200}, {267, 200}}, {{300, 300}, {300, 225}}, {{640, 480}, {640, 480}}};
    for (auto [control, fitted] : cases) {
        cap.resize(control);
        EXPECT_EQ(cap.CaptureWindowHandle()->geometry(), QRect(QPoint(0, 0), fitted)) << control.width();
    }
    cap.setPreviewScaleToWindow(false);
    EXPECT_EQ(cap.CaptureWindowHandle()->size(), QSize(320, 240));
    cap.resize(100, 50);
    EXPECT_EQ(cap.CaptureWindowHandle()->size(), QSize(320, 240)) << "without scaling a resize changes nothing";
    cap.setPreviewScaleToWindow(true);
    EXPECT_EQ(cap.CaptureWindowHandle()->size(), QSize(67, 50));
    cap.resize(200, 0);
    EXPECT_EQ(cap.CaptureWindowHandle()->size(), QSize(67, 50)) << "no ratio: left as it was";
}

TEST_F(VideoCapTest, FormatDialogOnClosedAndOpenDriver)
{
    bool acceptDialog = true;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            acceptDialog ? dialog->accept() : dialog->reject();
    });
    user.start(10);
    EXPECT_FALSE(cap.ShowVideoFormatDialog()) << "no driver";
    cap.setDriverIndex(0);
    take();
    EXPECT_TRUE(cap.HasVideoFormatDialog());
    take();
    EXPECT_TRUE(cap.ShowVideoFormatDialog());
    EXPECT_EQ(take(), concat({OpenRequests, {"capDlgVideoFormat", "capGetStatus", "OnStatus"}, CloseRequests}));
    EXPECT_FALSE(cap.DriverOpen());
    EXPECT_EQ(cap.ImageWidth(), 640) << "the new size shows in the status";
    first.sizeAfterDialog = {352, 288};
    cap.OpenDriver();
    take();
    EXPECT_TRUE(cap.ShowVideoFormatDialog());
    EXPECT_EQ(take(), (Log{"capDlgVideoFormat", "capGetStatus", "OnStatus"}));
    EXPECT_EQ(cap.CaptureWindowHandle()->size(), QSize(352, 288)) << "refitted";
    acceptDialog = false;
    EXPECT_FALSE(cap.ShowVideoFormatDialog()) << "cancelled";
    EXPECT_EQ(take(), Log{"capDlgVideoFormat"});
    acceptDialog = true;
    first.refused.insert("dialog");
    EXPECT_FALSE(cap.ShowVideoFormatDialog()) << "the device refuses the mode";
    EXPECT_EQ(take(), Log{"capDlgVideoFormat"});
}

TEST_F(VideoCapTest, OperationsOnAClosedDriverDoNothing)
{
    cap.setDriverIndex(0);
    take();
    EXPECT_FALSE(cap.GrabFrame());
    EXPECT_FALSE(cap.GrabFrameNoStop());
    EXPECT_FALSE(cap.SaveFrameToFile());
    EXPECT_FALSE(cap.StartCapture());
    EXPECT_FALSE(cap.StopCapture());
    EXPECT_TRUE(take().empty());
}

TEST_F(VideoCapTest, RecordingParameters)
{
    cap.setDriverIndex(0);
    cap.OpenDriver();
    take();
    cap.VideoFileName = "clip.avi";
    cap.CapTimeLimit = 60;
    cap.setCapIndexSize(5000);
    EXPECT_TRUE(cap.StartCapture());
    EXPECT_EQ(take(), (Log{"capCaptureGetSetup", "capFileSetCaptureFile clip.avi", "capCaptureSetSetup",
                           "capCaptureSequence", "capGetStatus", "OnStatus"}));
    const CAPTUREPARMS& p = first.lastRecording.parms;
    EXPECT_EQ(first.lastRecording.file, "clip.avi");
    EXPECT_EQ(p.dwRequestMicroSecPerFrame, 66667u);
    EXPECT_EQ(p.dwIndexSize, 5000u);
    EXPECT_TRUE(p.fLimitEnabled);
    EXPECT_EQ(p.wTimeLimit, 60u);
    EXPECT_EQ(p.fCaptureAudio, 0);
    EXPECT_EQ(p.fYield, -1);
    EXPECT_EQ(p.vKeyAbort, 27u);
    EXPECT_EQ(p.fAbortLeftMouse, 0);
    EXPECT_EQ(p.fAbortRightMouse, 0);
    EXPECT_EQ(p.fMCIControl, 0);

    first.refused.insert("stop");
    EXPECT_FALSE(cap.StopCapture());
    EXPECT_EQ(take(), (Log{"capCaptureStop", "capGetStatus", "OnStatus"})) << "status even when the stop fails";

    cap.CapTimeLimit = 0;
    cap.CapAudio = true;
    cap.CapToFile = false;
    cap.StartCapture();
    EXPECT_EQ(take(), (Log{"capCaptureGetSetup", "capFileSetCaptureFile clip.avi", "capCaptureSetSetup",
                           "capGetAudioFormat", "capSetAudioFormat", "capCaptureSequenceNoFile", "capGetStatus",
                           "OnStatus"}));
    EXPECT_FALSE(first.lastRecording.parms.fLimitEnabled);
    EXPECT_EQ(first.lastRecording.parms.fCaptureAudio, -1);
    EXPECT_TRUE(first.lastRecording.file.isEmpty()) << "no file";
    const WAVEFORMATEX& a = first.lastRecording.audioFormat;
    EXPECT_EQ(std::tuple(a.nChannels, a.nSamplesPerSec, a.wBitsPerSample, a.nBlockAlign, a.nAvgBytesPerSec),
              std::tuple(uint16_t(1), 8000u, uint16_t(8), uint16_t(1), 8000u));

    cap.CapAudioFormat = {TChannel::Stereo, TFrequency::f44100Hz, TResolution::r16Bit};
    cap.StartCapture();
    const WAVEFORMATEX& b = first.lastRecording.audioFormat;
    EXPECT_EQ(std::tuple(b.nChannels, b.nSamplesPerSec, b.wBitsPerSample, b.nBlockAlign, b.nAvgBytesPerSec),
              std::tuple(uint16_t(2), 44100u, uint16_t(16), uint16_t(4), 176400u));
    EXPECT_EQ(b.wFormatTag, WAVE_FORMAT_PCM);
}

TEST_F(VideoCapTest, CallbacksInstalledRemovedAndCalledFromAnotherThread)
{
    std::vector<std::tuple<int32_t, QString, bool>> statuses;
    cap.setOnStatusCallback([&](TVideoCap* sender, int32_t id, const QString& text) {
        statuses.emplace_back(id, text, sender == &cap && std::this_thread::get_id() != mainThread);
    });
    cap.setDriverIndex(0);
    take();
    cap.OpenDriver();
    EXPECT_EQ(take()[2], "capSetCallbackOnStatus set") << "installed while opening";
    std::thread driverThread([&] {
        first.sink->statusChanged(IDS_CAP_BEGIN, "Capture Start");
        static_cast<CaptureWindow*>(first.sink)->statusCallback.load()(cap.CaptureWindowHandle(), 0, nullptr);
    });
    driverThread.join();
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[0], std::make_tuple(300, QString("Capture Start"), true));
    EXPECT_EQ(statuses[1], std::make_tuple(0, QString(""), true)) << "a null text arrives empty";

    VIDEOHDR header;
    VIDEOHDR* seen = nullptr;
    cap.setOnVideoStream([&](TVideoCap*, VIDEOHDR* h) { seen = h; });
    EXPECT_EQ(take(), Log{"capSetCallbackOnVideoStream set"}) << "takes effect at once on an open driver";
    std::thread([&] { first.sink->videoRecorded(&header); }).join();
    EXPECT_EQ(seen, &header) << "the header is passed through";
    cap.setOnStatusCallback(nullptr);
    EXPECT_EQ(take(), Log{"capSetCallbackOnStatus null"});
}

// Handlers that throw: on the service's threads the error is logged and the
// thread goes on; in Qt's event dispatch the user sees the error report.
TEST_F(VideoCapTest, HandlersThatThrowNeitherEndTheirThreadNorTheHost)
{
    TempWorkDir dir;
    QByteArray log = QFile::encodeName(dir.file("tarvelo.log"));
    QByteArray messages = QFile::encodeName(dir.file("messages.log"));
    qputenv("TARVELO_LOG", log);
    qputenv("TARVELO_MESSAGE_LOG", messages);
    auto fail = [](const char* what) { throw std::runtime_error(what); };
    cap.setOnStatusCallback([&](TVideoCap*, int32_t, const QString&) { fail("status handler failed"); });
    cap.setOnFrameCallback([&](TVideoCap*, VIDEOHDR*) { fail("frame handler failed"); });
    cap.setOnVideoStream([&](TVideoCap*, VIDEOHDR*) { fail("video handler failed"); });
    cap.setOnAudioStream([&](TVideoCap*, WAVEHDR*) { fail("audio handler failed"); });
    cap.OnMouseDown = [&](TVideoCap*, Qt::MouseButton, QPoint) { fail("mouse handler failed"); };
    cap.setDriverIndex(0);
    cap.OpenDriver();
    cap.setVideoOverlay(true);
    std::thread driverThread([&] {
        VIDEOHDR video;
        WAVEHDR audio;
        QImage frame(8, 8, QImage::Format_RGB32);
        for (int i = 0; i < 2; ++i) {
            first.sink->statusChanged(IDS_CAP_BEGIN, "Capture Start");
            first.sink->frameArrived(frame, &video);
            first.sink->videoRecorded(&video);
            first.sink->audioRecorded(&audio);
        }
    });
    driverThread.join();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), cap.mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(cap.CaptureWindowHandle(), &press);
    qunsetenv("TARVELO_LOG");
    qunsetenv("TARVELO_MESSAGE_LOG");

    QString logged = QString::fromUtf8(readBytes(dir.file("tarvelo.log")));
    for (const char* what : {"status", "frame", "video", "audio"})
        EXPECT_EQ(logged.count(QString("capture: a handler failed: %1 handler failed").arg(what)), 2) << what;
    EXPECT_EQ(readBytes(dir.file("messages.log")), "mouse handler failed\n");
}

TEST_F(VideoCapTest, MouseInputOverThePictureReachesTheControl)
{
    std::vector<std::string> events;
    cap.OnMouseDown = [&](TVideoCap*, Qt::MouseButton b, QPoint at) {
        events.push_back("down " + std::to_string(int(b)) + " " + std::to_string(at.x()));
    };
    cap.OnMouseUp = [&](TVideoCap*, Qt::MouseButton b, QPoint) { events.push_back("up " + std::to_string(int(b))); };
    cap.OnDblClick = [&](TVideoCap*) { events.push_back("dblclick"); };
    cap.setDriverIndex(0);
    cap.OpenDriver();
    QWidget* window = cap.CaptureWindowHandle();
    auto send = [&](QEvent::Type type, Qt::MouseButton button) {
        QMouseEvent e(type, QPointF(10, 20), window->mapToGlobal(QPointF(10, 20)), button, button, Qt::NoModifier);
        QApplication::sendEvent(window, &e);
    };
    send(QEvent::MouseButtonPress, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::LeftButton);
    send(QEvent::MouseButtonDblClick, Qt::LeftButton);
    send(QEvent::MouseButtonDblClick, Qt::RightButton);
    send(QEvent::MouseButtonPress, Qt::BackButton);
    EXPECT_EQ(events, (std::vector<std::string>{"down 1 10", "up 1", "dblclick"}));
}
