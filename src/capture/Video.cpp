#include "capture/Video.h"

#include "capture/CaptureErrors.h"
#include "framework/ErrorGuard.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
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

bool forwardedToControl(const QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease: {
        Qt::MouseButton b = static_cast<const QMouseEvent*>(event)->button();
        return b == Qt::LeftButton || b == Qt::RightButton || b == Qt::MiddleButton;
    }
    case QEvent::MouseButtonDblClick:
        return static_cast<const QMouseEvent*>(event)->button() == Qt::LeftButton;
    default:
        return false;
    }
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

bool TVideoCap::GrabFrame()
{
    if (!DriverOpen() || !service_.capGrabFrame(CaptureWindow))
        return false;
    UpdateStatus();
    return true;
}

bool TVideoCap::GrabFrameNoStop()
{
    if (!DriverOpen() || !service_.capGrabFrameNoStop(CaptureWindow))
        return false;
    UpdateStatus();
    return true;
}

bool TVideoCap::SaveFrameToFile()
{
    return DriverOpen() && service_.capFileSaveDIB(CaptureWindow, SingleImageFile);
}

bool TVideoCap::StartCapture()
{
    if (!DriverOpen())
        return false;
    CAPTUREPARMS parms;
    service_.capCaptureGetSetup(CaptureWindow, &parms);
    service_.capFileSetCaptureFile(CaptureWindow, VideoFileName);
    parms.dwRequestMicroSecPerFrame = microSecPerFrame_;
    parms.dwIndexSize = capIndexSize_;
    parms.fLimitEnabled = CapTimeLimit != 0;
    parms.wTimeLimit = CapTimeLimit;
    parms.fCaptureAudio = CapAudio ? -1 : 0;
    parms.fMCIControl = 0;
    parms.fYield = -1;
    parms.vKeyAbort = 27;
    parms.fAbortLeftMouse = 0;
    parms.fAbortRightMouse = 0;
    service_.capCaptureSetSetup(CaptureWindow, &parms);
    if (CapAudio)
        CapAudioFormat.ApplyTo(CaptureWindow, service_);
    bool started =
        CapToFile ? service_.capCaptureSequence(CaptureWindow) : service_.capCaptureSequenceNoFile(CaptureWindow);
    UpdateStatus();
    return started;
}

bool TVideoCap::StopCapture()
{
    if (!DriverOpen())
        return false;
    bool stopped = service_.capCaptureStop(CaptureWindow);
    UpdateStatus();
    return stopped;
}

bool TVideoCap::HasVideoFormatDialog()
{
    return ReadDriverCaps() && DriverCaps->fHasDlgVideoFormat != 0;
}

bool TVideoCap::ShowVideoFormatDialog()
{
    if (driverIndex_ == -1)
        return false;
    bool wasOpen = DriverOpen();
    if (!wasOpen)
        OpenDriver();
    bool ok = service_.capDlgVideoFormat(CaptureWindow);
    if (ok)
        UpdateStatus();
    if (!wasOpen)
        CloseDriver();
    if (ok) {
        FitCaptureWindow();
        repaint();
    }
    return ok;
}

template <typename Handler, typename Procedure>
void TVideoCap::assignHandler(Handler TVideoCap::*slot, Handler handler,
                              bool (CaptureService::*install)(HCAPWND, Procedure), Procedure procedure)
{
    bool assigned = bool(handler);
    {
        std::lock_guard lock(handlersMutex_);
        this->*slot = std::move(handler);
    }
    if (DriverOpen())
        (service_.*install)(CaptureWindow, assigned ? procedure : nullptr);
}

void TVideoCap::setOnStatusCallback(TCapStatusCallback handler)
{
    assignHandler(&TVideoCap::onStatusCallback_, std::move(handler), &CaptureService::capSetCallbackOnStatus,
                  CAPSTATUSCALLBACK(StatusCallbackProc));
}

void TVideoCap::setOnFrameCallback(TVideoStream handler)
{
    assignHandler(&TVideoCap::onFrameCallback_, std::move(handler), &CaptureService::capSetCallbackOnFrame,
                  CAPVIDEOCALLBACK(FrameCallbackProc));
}

void TVideoCap::setOnVideoStream(TVideoStream handler)
{
    assignHandler(&TVideoCap::onVideoStream_, std::move(handler), &CaptureService::capSetCallbackOnVideoStream,
                  CAPVIDEOCALLBACK(VideoStreamCallbackProc));
}

void TVideoCap::setOnAudioStream(TAudioStream handler)
{
    assignHandler(&TVideoCap::onAudioStream_, std::move(handler), &CaptureService::capSetCallbackOnWaveStream,
                  CAPWAVECALLBACK(WaveStreamCallbackProc));
}

// The component whose capture window calls (the window is its child, made
// for it by whichever service it was given), and a copy of its handler,
// taken under the lock and called outside it, so a handler may itself
// assign handlers. Null when there is no component.
template <typename Handler>
TVideoCap* TVideoCap::handlerOf(HCAPWND window, Handler TVideoCap::*slot, Handler& handler)
{
    auto* self = window ? qobject_cast<TVideoCap*>(window->parentWidget()) : nullptr;
    if (self) {
        std::lock_guard lock(self->handlersMutex_);
        handler = self->*slot;
    }
    return self;
}

int32_t TVideoCap::StatusCallbackProc(HCAPWND window, int32_t id, const char* text)
{
    TCapStatusCallback handler;
    if (TVideoCap* self = handlerOf(window, &TVideoCap::onStatusCallback_, handler); self && handler)
        guardedHandler("capture", [&] { handler(self, id, text ? QString::fromLocal8Bit(text) : QString()); });
    return 1;
}

int32_t TVideoCap::FrameCallbackProc(HCAPWND window, VIDEOHDR* header)
{
    TVideoStream handler;
    if (TVideoCap* self = handlerOf(window, &TVideoCap::onFrameCallback_, handler); self && handler)
        guardedHandler("capture", [&] { handler(self, header); });
    return 1;
}

int32_t TVideoCap::VideoStreamCallbackProc(HCAPWND window, VIDEOHDR* header)
{
    TVideoStream handler;
    if (TVideoCap* self = handlerOf(window, &TVideoCap::onVideoStream_, handler); self && handler)
        guardedHandler("capture", [&] { handler(self, header); });
    return 1;
}

int32_t TVideoCap::WaveStreamCallbackProc(HCAPWND window, WAVEHDR* header)
{
    TAudioStream handler;
    if (TVideoCap* self = handlerOf(window, &TVideoCap::onAudioStream_, handler); self && handler)
        guardedHandler("capture", [&] { handler(self, header); });
    return 1;
}

void TVideoCap::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (DriverOpen() && scaleToWindow_)
        FitCaptureWindow();
}

// The capture window's mouse input is the control's: eight kinds of mouse
// message are sent on to it unchanged (the window sits at 0, 0, so the
// coordinates hold); the right and middle double-clicks are not among them.
bool TVideoCap::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == CaptureWindow)
        return CaptureWindowProc(event);
    return QWidget::eventFilter(watched, event);
}

bool TVideoCap::CaptureWindowProc(QEvent* event)
{
    if (!forwardedToControl(event))
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    QMouseEvent copy(mouse->type(), mouse->position(), mouse->scenePosition(), mouse->globalPosition(),
                     mouse->button(), mouse->buttons(), mouse->modifiers());
    QCoreApplication::sendEvent(this, &copy);
    return true;
}

// The mouse handlers run inside Qt's event dispatch, which an exception
// must not cross.
void TVideoCap::mousePressEvent(QMouseEvent* event)
{
    if (OnMouseDown)
        guarded([&] { OnMouseDown(this, event->button(), event->position().toPoint()); });
}

void TVideoCap::mouseReleaseEvent(QMouseEvent* event)
{
    if (OnMouseUp)
        guarded([&] { OnMouseUp(this, event->button(), event->position().toPoint()); });
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick)
        guarded([&] { OnClick(this); });
}

void TVideoCap::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && OnDblClick)
        guarded([&] { OnDblClick(this); });
}

void TVideoCap::mouseMoveEvent(QMouseEvent* event)
{
    if (OnMouseMove)
        guarded([&] { OnMouseMove(this, event->button(), event->position().toPoint()); });
}

void TVideoCap::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), color);
}

}  // namespace tarvelo
