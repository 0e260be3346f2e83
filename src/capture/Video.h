#pragma once
// TVideoCap: a control that shows the live picture of one capture driver,
// chosen by index or name, through a capture window it owns; grabs and
// saves frames, records sequences to AVI files, and passes the capture
// service's events to its handlers.

#include "capture/AudioFormat.h"
#include "capture/vfw.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>

namespace tarvelo {

class TVideoCap : public QWidget {
    Q_OBJECT
public:
    using TCapStatusProc = std::function<void(TVideoCap* Sender)>;
    using TCapStatusCallback = std::function<void(TVideoCap* Sender, int32_t nID, const QString& status)>;
    using TVideoStream = std::function<void(TVideoCap* sender, VIDEOHDR* lpVhdr)>;
    using TAudioStream = std::function<void(TVideoCap* sender, WAVEHDR* lpWHdr)>;
    using TMouseEvent = std::function<void(TVideoCap* Sender, Qt::MouseButton button, QPoint at)>;
    using TNotifyEvent = std::function<void(TVideoCap* Sender)>;

    // Every capture request goes to `service`.
    explicit TVideoCap(QWidget* owner = nullptr, CaptureService& service = SystemCaptureService());
    ~TVideoCap() override;

    bool DriverOpen() const { return CaptureWindow != nullptr; }
    void setDriverOpen(bool open);
    int32_t DriverIndex() const { return driverIndex_; }
    void setDriverIndex(int32_t index);
    const QString& DriverName() const { return driverName_; }
    void setDriverName(const QString& name);

    bool VideoOverlay() const;
    void setVideoOverlay(bool on);
    bool VideoPreview() const;
    void setVideoPreview(bool on);
    bool PreviewScaleToWindow() const { return scaleToWindow_; }
    void setPreviewScaleToWindow(bool scale);
    bool PreviewScaleProportional() const { return scaleProportional_; }
    void setPreviewScaleProportional(bool proportional);
    uint16_t PreviewRate() const { return previewRate_; }
    void setPreviewRate(uint16_t framesPerSecond);
    uint32_t MicroSecPerFrame() const { return microSecPerFrame_; }
    void setMicroSecPerFrame(uint32_t microseconds);
    uint16_t FrameRate() const;
    void setFrameRate(uint16_t framesPerSecond);
    uint32_t CapIndexSize() const { return capIndexSize_; }
    void setCapIndexSize(uint32_t size);

    QColor color = Qt::black;  // around the capture window
    bool CapAudio = false;
    QString VideoFileName = QStringLiteral("Video.avi");
    QString SingleImageFile = QStringLiteral("Capture.bmp");
    uint16_t CapTimeLimit = 0;  // seconds, 0 for none
    bool CapToFile = true;
    TAudioFormat CapAudioFormat;

    TCapStatusProc OnStatus;
    void setOnStatusCallback(TCapStatusCallback handler);
    void setOnFrameCallback(TVideoStream handler);
    void setOnVideoStream(TVideoStream handler);
    void setOnAudioStream(TAudioStream handler);

    TMouseEvent OnMouseDown, OnMouseUp, OnMouseMove;
    TNotifyEvent OnClick, OnDblClick;

    bool OpenDriver();  // raises ENoDriverException, ENoCapWindowException, ENotConnectException
    bool TryOpenDriver();
    bool EnsureDriverOpen();
    void CloseDriver();
    void FreeDriverBuffers();
    bool ReadDriverCaps();
    bool HasOverlay();
    void UpdateStatus();
    void FitCaptureWindow();
    uint16_t ImageWidth() const;
    uint16_t ImageHeight() const;

    bool GrabFrame();
    bool GrabFrameNoStop();
    bool SaveFrameToFile();
    bool StartCapture();
    bool StopCapture();
    bool HasVideoFormatDialog();
    bool ShowVideoFormatDialog();

    HCAPWND CaptureWindowHandle() const { return CaptureWindow; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    enum class OpenFailure { None, NoDriver, NoWindow, NotConnected };
    OpenFailure openSteps();
    void installCallbacks();
    bool CaptureWindowProc(QEvent* event);

    template <typename Handler, typename Procedure>
    void assignHandler(Handler TVideoCap::*slot, Handler handler,
                       bool (CaptureService::*install)(HCAPWND, Procedure), Procedure procedure);
    template <typename Handler>
    static TVideoCap* handlerOf(HCAPWND window, Handler TVideoCap::*slot, Handler& handler);

    static int32_t StatusCallbackProc(HCAPWND window, int32_t id, const char* text);
    static int32_t FrameCallbackProc(HCAPWND window, VIDEOHDR* header);
    static int32_t VideoStreamCallbackProc(HCAPWND window, VIDEOHDR* header);
    static int32_t WaveStreamCallbackProc(HCAPWND window, WAVEHDR* header);

    CaptureService& service_;
    HCAPWND CaptureWindow = nullptr;
    std::unique_ptr<CAPDRIVERCAPS> DriverCaps;
    std::unique_ptr<CAPSTATUS> CaptureStatus;

    int32_t driverIndex_ = -1;
    QString driverName_;
    bool scaleToWindow_ = false;
    bool scaleProportional_ = false;
    uint16_t previewRate_ = 30;
    uint32_t microSecPerFrame_ = 66667;
    uint32_t capIndexSize_ = 0;

    // The four service events are read on the service's threads.
    mutable std::mutex handlersMutex_;
    TCapStatusCallback onStatusCallback_;
    TVideoStream onFrameCallback_;
    TVideoStream onVideoStream_;
    TAudioStream onAudioStream_;
};

// Rounds to the nearest integer, halves to the even neighbour.
int32_t RoundHalfEven(double value);

}  // namespace tarvelo
