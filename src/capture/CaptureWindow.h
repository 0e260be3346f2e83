#pragma once
// The capture window: a child widget that a driver is connected to. It
// paints the live picture (overlay: each frame as it arrives; preview: at
// the preview rate), holds the window's side of every capture request, and
// passes the driver's events to the installed callbacks.

#include "capture/device/CaptureDriver.h"
#include "capture/vfw.h"
#include "framework/PostedRequests.h"

#include <QImage>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <mutex>

namespace tarvelo {

class CaptureWindow final : public QWidget, public FrameSink {
    Q_OBJECT
public:
    CaptureWindow(QWidget* parent, const QString& name, int id);
    ~CaptureWindow() override;

    int id() const { return id_; }

    std::atomic<intptr_t> userData{0};
    std::atomic<CAPSTATUSCALLBACK> statusCallback{nullptr};
    std::atomic<CAPVIDEOCALLBACK> frameCallback{nullptr};
    std::atomic<CAPVIDEOCALLBACK> videoStreamCallback{nullptr};
    std::atomic<CAPWAVECALLBACK> waveStreamCallback{nullptr};

    bool connectDriver(int32_t index);
    void disconnectDriver();
    DriverSession* session() const { return session_.get(); }

    void setScale(bool scale);
    void setPreviewRate(uint32_t milliseconds);
    bool setPreview(bool on);
    bool setOverlay(bool on);
    bool grab(bool stopLive);
    bool saveCurrentFrame(const QString& file);
    bool showFormatDialog();  // modal; true when the device took the chosen mode
    CAPSTATUS status();

    // While a recording runs, this key (a virtual-key code; 27 is Escape)
    // stops it, wherever the focus is. 0 for none.
    void watchAbortKey(uint32_t virtualKey);

    QString captureFile;
    CAPTUREPARMS captureParms;
    WAVEFORMATEX audioFormat;

    // FrameSink, on the driver's threads.
    void frameArrived(const QImage& frame, VIDEOHDR* header) override;
    void videoRecorded(VIDEOHDR* header) override;
    void audioRecorded(WAVEHDR* header) override;
    void statusChanged(int32_t id, const std::string& text) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // Mouse input that nobody filters stays here, not with the parent.
    void mousePressEvent(QMouseEvent* event) override { accept(event); }
    void mouseReleaseEvent(QMouseEvent* event) override { accept(event); }
    void mouseDoubleClickEvent(QMouseEvent* event) override { accept(event); }
    void mouseMoveEvent(QMouseEvent* event) override { accept(event); }

private:
    static void accept(QEvent* event) { event->accept(); }
    void updateLive();
    void showNewestFrame();

    int id_;
    int32_t driverIndex_ = -1;
    std::unique_ptr<DriverSession> session_;
    bool scale_ = false;
    bool preview_ = false;
    bool overlay_ = false;
    QTimer previewTimer_;

    std::mutex frameMutex_;
    QImage newest_;         // guarded: written by the driver's threads
    QImage shown_;          // what is painted, on the window's thread
    bool frozen_ = false;   // a grab stopped the live picture
    std::atomic<bool> overlayRepaintPending_{false};
    PostedRequests repaints_;  // from the driver's threads to this window's
    std::atomic<bool> showingLive_{false};  // overlay or preview on, read by the driver's threads
    bool watchingAbortKey_ = false;
};

}  // namespace tarvelo
