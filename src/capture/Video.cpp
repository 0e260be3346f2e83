#include "capture/Video.h"

#include "capture/CaptureErrors.h"
#include "framework/Log.h"

#include <algorithm>
#include <cmath>

namespace tarvelo {
namespace {

constexpr int CaptureWindowId = 5001;
constexpr uint32_t MinMicroSecPerFrame = 33333;
constexpr uint32_t MinIndexSize = 1800;
constexpr uint32_t MaxIndexSize = 324000;

uint32_t previewIntervalMs(uint16_t rate)
{
    return uint32_t(RoundHalfEven(1000.0 / rate));
}

}  // namespace
int32_t RoundHalfEven(double value)
{
    return int32_t(std::nearbyint(value));  // the default rounding mode: to nearest, ties to even
}

TVideoCap::TVideoCap(QWidget* owner, CaptureService& service) : QWidget(owner), service_(service)
{
    setAutoFillBackground(false);
    setMouseTracking(true);
    resize(100, 100);
}

TVideoCap::~TVideoCap()
{
    CloseDriver();
    FreeDriverBuffers();
}

void TVideoCap::setDriverOpen(bool open)
{
    if (open == DriverOpen())
        return;
    if (open)
        OpenDriver();
    else
        CloseDriver();
}

void TVideoCap::setDriverIndex(int32_t index)
{
    if (index == driverIndex_)
        return;
    CloseDriver();
    FreeDriverBuffers();
    if (index >= 0) {
        std::string name, version;
        if (service_.capGetDriverDescription(index, name, version))
            driverName_ = QString::fromLocal8Bit(name.c_str());
        else
            index = -1;
    }
    if (index == -1)
        driverName_.clear();
    driverIndex_ = index;
}

void TVideoCap::setDriverName(const QString& name)
{
    if (name == driverName_)
        return;
    for (int32_t index = 0; index < 10; ++index) {
        std::string found, version;
        if (!service_.capGetDriverDescription(index, found, version))
            continue;
        if (QString::fromLocal8Bit(found.c_str()) == name) {
            driverName_ = name;
            setDriverIndex(index);
            return;
        }
    }
    driverName_.clear();
    setDriverIndex(-1);
}

bool TVideoCap::VideoOverlay() const
{
    return DriverOpen() && CaptureStatus && CaptureStatus->fOverlayWindow != 0;
}

void TVideoCap::setVideoOverlay(bool on)
{
    if (on == VideoOverlay())
        return;
    if (!HasOverlay())
        throw ENoOverlayException();
    if (on) {
        if (!DriverOpen())
            OpenDriver();
        GrabFrame();
    }
    service_.capOverlay(CaptureWindow, on);
    UpdateStatus();
    update();
}

bool TVideoCap::VideoPreview() const
{
    return DriverOpen() && CaptureStatus && CaptureStatus->fLiveWindow != 0;
}

void TVideoCap::setVideoPreview(bool on)
{
    if (on == VideoPreview())
        return;
    if (on && !DriverOpen())
        OpenDriver();
    service_.capPreview(CaptureWindow, on);
    UpdateStatus();
    update();
}

void TVideoCap::setPreviewScaleToWindow(bool scale)
{
    if (scale == scaleToWindow_)
        return;
    scaleToWindow_ = scale;
    if (DriverOpen()) {
        service_.capPreviewScale(CaptureWindow, scale);
        FitCaptureWindow();
    }
    repaint();
}

void TVideoCap::setPreviewScaleProportional(bool proportional)
{
    if (proportional == scaleProportional_)
        return;
    scaleProportional_ = proportional;
    if (DriverOpen())
        FitCaptureWindow();
    repaint();
}

void TVideoCap::setPreviewRate(uint16_t framesPerSecond)
{
    if (framesPerSecond == previewRate_)
        return;
    previewRate_ = std::clamp<uint16_t>(framesPerSecond, 1, 30);
    if (DriverOpen())
        service_.capPreviewRate(CaptureWindow, previewIntervalMs(previewRate_));
}

void TVideoCap::setMicroSecPerFrame(uint32_t microseconds)
{
    if (microseconds == microSecPerFrame_)
        return;
    microSecPerFrame_ = std::max(microseconds, MinMicroSecPerFrame);
}

uint16_t TVideoCap::FrameRate() const
{
    return microSecPerFrame_ == 0 ? 0 : uint16_t(RoundHalfEven(1000000.0 / microSecPerFrame_));
}

void TVideoCap::setFrameRate(uint16_t framesPerSecond)
{
    if (framesPerSecond != 0)
        microSecPerFrame_ = uint32_t(RoundHalfEven(1000000.0 / framesPerSecond));
}

void TVideoCap::setCapIndexSize(uint32_t size)
{
    capIndexSize_ = size == 0 ? 0 : std::clamp(size, MinIndexSize, MaxIndexSize);
}

// A failure is logged here, once for both ways of opening; the driver's
// own reason, where it has one, is in the log just before.
TVideoCap::OpenFailure TVideoCap::openSteps()
{
    if (driverIndex_ == -1) {
        logLine("capture", "no capture driver is selected");
        return OpenFailure::NoDriver;
    }
    CaptureWindow = service_.capCreateCaptureWindow(objectName(), WS_CHILD | WS_VISIBLE, 0, 0, width(), height(),
                                                    this, CaptureWindowId);
    if (!CaptureWindow) {
        logLine("capture", "the capture window cannot be created");
        return OpenFailure::NoWindow;
    }
    service_.capSetUserData(CaptureWindow, reinterpret_cast<intptr_t>(this));
    CaptureWindow->installEventFilter(this);
    installCallbacks();
    if (!service_.capDriverConnect(CaptureWindow, driverIndex_)) {
        logLine("capture", "capture driver " + std::to_string(driverIndex_) + " (" + driverName_.toStdString() +
                               ") cannot be connected");
        CloseDriver();
        return OpenFailure::NotConnected;
    }
    service_.capPreviewScale(CaptureWindow, scaleToWindow_);
    service_.capPreviewRate(CaptureWindow, previewIntervalMs(previewRate_));
    return OpenFailure::None;
}

bool TVideoCap::OpenDriver()
{
    if (DriverOpen())
        return true;
    switch (openSteps()) {
    case OpenFailure::NoDriver: {
        ENoDriverException error;
        UpdateStatus();
        throw error;
    }
    case OpenFailure::NoWindow: {
        ENoCapWindowException error;
        UpdateStatus();
        throw error;
    }
    case OpenFailure::NotConnected: {
        ENotConnectException error;
        UpdateStatus();
        throw error;
    }
    case OpenFailure::None:
        break;
    }
    UpdateStatus();
    FitCaptureWindow();
    return true;
}

bool TVideoCap::TryOpenDriver()
{
    if (DriverOpen())
        return true;
    if (openSteps() != OpenFailure::None)
        return false;
    UpdateStatus();
    FitCaptureWindow();
    return true;
}

bool TVideoCap::EnsureDriverOpen()
{
    return DriverOpen() || TryOpenDriver();
}

void TVideoCap::installCallbacks()
{
    std::lock_guard lock(handlersMutex_);
    if (onStatusCallback_)
        service_.capSetCallbackOnStatus(CaptureWindow, StatusCallbackProc);
    if (onFrameCallback_)
        service_.capSetCallbackOnFrame(CaptureWindow, FrameCallbackProc);
    if (onVideoStream_)
        service_.capSetCallbackOnVideoStream(CaptureWindow, VideoStreamCallbackProc);
    if (onAudioStream_)
        service_.capSetCallbackOnWaveStream(CaptureWindow, WaveStreamCallbackProc);
}

void TVideoCap::CloseDriver()
{
    if (!CaptureWindow)
        return;
    service_.capDriverDisconnect(CaptureWindow);
    CaptureWindow->removeEventFilter(this);
    service_.capDestroyCaptureWindow(CaptureWindow);
    CaptureWindow = nullptr;
}

void TVideoCap::FreeDriverBuffers()
{
    DriverCaps.reset();
    CaptureStatus.reset();
}

bool TVideoCap::ReadDriverCaps()
{
    if (DriverCaps)
        return true;
    if (driverIndex_ == -1)
        return false;
    bool wasOpen = DriverOpen();
    if (!wasOpen)
        OpenDriver();
    DriverCaps = std::make_unique<CAPDRIVERCAPS>();
    bool ok = service_.capDriverGetCaps(CaptureWindow, DriverCaps.get());
    if (!ok)
        DriverCaps.reset();
    if (!wasOpen)
        CloseDriver();
    return ok;
}

bool TVideoCap::HasOverlay()
{
    return ReadDriverCaps() && DriverCaps->fHasOverlay != 0;
}

void TVideoCap::UpdateStatus()
{
    if (CaptureWindow) {
        if (!CaptureStatus)
            CaptureStatus = std::make_unique<CAPSTATUS>();
        CAPSTATUS fresh = *CaptureStatus;
        if (service_.capGetStatus(CaptureWindow, &fresh))
            *CaptureStatus = fresh;
    }
    if (OnStatus)
        OnStatus(this);
}

void TVideoCap::FitCaptureWindow()
{
    if (!CaptureWindow)
        return;
    int w = ImageWidth(), h = ImageHeight();
    if (scaleToWindow_ && !scaleProportional_) {
        w = width();
        h = height();
    } else if (scaleToWindow_) {
        if (height() == 0 || ImageHeight() == 0)
            return;  // no ratio to keep
        float control = float(width()) / float(height());
        float picture = float(ImageWidth()) / float(ImageHeight());
        if (control > picture) {
            h = height();
            w = RoundHalfEven(double(float(h) * picture));
        } else {
            w = width();
            h = RoundHalfEven(double(float(w) / picture));
        }
    }
    CaptureWindow->setGeometry(0, 0, w, h);
    CaptureWindow->repaint();
}

uint16_t TVideoCap::ImageWidth() const
{
    return CaptureStatus ? uint16_t(CaptureStatus->uiImageWidth & 0xFFFF) : 0;
}

uint16_t TVideoCap::ImageHeight() const
{
    return CaptureStatus ? uint16_t(CaptureStatus->uiImageHeight & 0xFFFF) : 0;
}

}  // namespace tarvelo
