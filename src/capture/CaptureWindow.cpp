#include "capture/CaptureWindow.h"

#include "capture/device/DriverRegistry.h"
#include "capture/FormatDialog.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>

namespace tarvelo {

CaptureWindow::CaptureWindow(QWidget* parent, const QString& name, int id) : QWidget(parent), id_(id)
{
    setObjectName(name);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    previewTimer_.setTimerType(Qt::PreciseTimer);
    connect(&previewTimer_, &QTimer::timeout, this, &CaptureWindow::showNewestFrame);
}

CaptureWindow::~CaptureWindow()
{
    disconnectDriver();
}

bool CaptureWindow::connectDriver(int32_t index)
{
    disconnectDriver();
    std::shared_ptr<CaptureDriver> driver = DriverRegistry::driver(index);
    if (!driver)
        return false;
    session_ = driver->connect(*this);
    if (!session_)
        return false;
    driverIndex_ = index;
    return true;
}

void CaptureWindow::watchAbortKey(uint32_t virtualKey)
{
    bool watch = virtualKey == 27;  // the only abort key Tarvelo asks for
    if (watch == watchingAbortKey_)
        return;
    watchingAbortKey_ = watch;
    if (watch)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
}

bool CaptureWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape)
        return QWidget::eventFilter(watched, event);
    watchAbortKey(0);
    if (!session_ || !session_->progress().capturing)
        return false;  // the recording has ended already: the key is someone else's
    session_->stopRecording();
    return true;
}

void CaptureWindow::disconnectDriver()
{
    watchAbortKey(0);
    previewTimer_.stop();
    preview_ = overlay_ = false;
    showingLive_ = false;
    if (session_) {
        session_->stopRecording();
        session_->setLive(false);
    }
    session_.reset();  // joins the driver's threads: no callback after this
    driverIndex_ = -1;
}

void CaptureWindow::setScale(bool scale)
{
    scale_ = scale;
    update();
}

void CaptureWindow::setPreviewRate(uint32_t milliseconds)
{
    previewTimer_.setInterval(int(std::max<uint32_t>(milliseconds, 1)));
}

bool CaptureWindow::setPreview(bool on)
{
    if (!session_)
        return false;
    preview_ = on;
    if (on)
        overlay_ = false;  // the service shows one or the other
    updateLive();
    return true;
}

bool CaptureWindow::setOverlay(bool on)
{
    if (!session_)
        return false;
    overlay_ = on;
    if (on)
        preview_ = false;
    updateLive();
    return true;
}

void CaptureWindow::updateLive()
{
    {
        std::lock_guard lock(frameMutex_);
        frozen_ = false;
    }
    showingLive_ = preview_ || overlay_;
    if (preview_)
        previewTimer_.start();
    else
        previewTimer_.stop();
    session_->setLive(preview_ || overlay_ || session_->progress().capturing);
}

bool CaptureWindow::grab(bool stopLive)
{
    if (!session_)
        return false;
    QImage frame;
    if (!session_->grab(frame))
        return false;
    {
        std::lock_guard lock(frameMutex_);
        newest_ = frame;
        frozen_ = stopLive;
    }
    if (stopLive && (preview_ || overlay_)) {
        preview_ = overlay_ = false;
        showingLive_ = false;
        previewTimer_.stop();
        session_->setLive(session_->progress().capturing);
    }
    shown_ = frame;
    update();
    return true;
}

bool CaptureWindow::saveCurrentFrame(const QString& file)
{
    QImage frame;
    {
        std::lock_guard lock(frameMutex_);
        frame = newest_;
    }
    if (!session_ || frame.isNull())
        return false;
    return frame.convertToFormat(QImage::Format_RGB888).save(file, "BMP");
}

bool CaptureWindow::showFormatDialog()
{
    if (!session_ || session_->progress().capturing)
        return false;
    std::vector<VideoMode> modes = session_->modes();
    if (modes.empty())
        return false;
    FormatDialog dialog(modes, session_->mode(), this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    return session_->setMode(dialog.chosen());
}

CAPSTATUS CaptureWindow::status()
{
    CAPSTATUS s;
    if (!session_)
        return s;
    QSize size = session_->frameSize();
    s.uiImageWidth = uint32_t(size.width());
    s.uiImageHeight = uint32_t(size.height());
    s.fLiveWindow = preview_;
    s.fOverlayWindow = overlay_;
    s.fScale = scale_;
    s.fAudioHardware = session_->hasAudio();
    RecordingProgress p = session_->progress();
    s.fCapturingNow = p.capturing;
    s.dwCurrentVideoFrame = p.frames;
    s.dwCurrentVideoFramesDropped = p.dropped;
    s.dwCurrentWaveSamples = p.audioSamples;
    s.dwCurrentTimeElapsedMS = p.elapsedMs;
    s.dwReturn = p.lastError;
    s.fCapFileExists = p.fileExists;
    return s;
}

void CaptureWindow::frameArrived(const QImage& frame, VIDEOHDR* header)
{
    {
        std::lock_guard lock(frameMutex_);
        if (frozen_)
            return;
        newest_ = frame;
    }
    // The frame callback hears of the frames the live picture shows.
    if (CAPVIDEOCALLBACK callback = frameCallback.load(); callback && showingLive_)
        callback(this, header);
    // Overlay shows every frame; at most one repaint waits at a time.
    if (!overlayRepaintPending_.exchange(true))
        repaints_.post([this] {
            overlayRepaintPending_ = false;
            if (overlay_)
                showNewestFrame();
        });
}

void CaptureWindow::videoRecorded(VIDEOHDR* header)
{
    if (CAPVIDEOCALLBACK callback = videoStreamCallback.load())
        callback(this, header);
}

void CaptureWindow::audioRecorded(WAVEHDR* header)
{
    if (CAPWAVECALLBACK callback = waveStreamCallback.load())
        callback(this, header);
}

void CaptureWindow::statusChanged(int32_t id, const std::string& text)
{
    if (CAPSTATUSCALLBACK callback = statusCallback.load())
        callback(this, id, text.c_str());
}

void CaptureWindow::showNewestFrame()
{
    std::lock_guard lock(frameMutex_);
    shown_ = newest_;
    update();
}

void CaptureWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (shown_.isNull())
        return;
    if (scale_)
        painter.drawImage(rect(), shown_);
    else
        painter.drawImage(QPoint(0, 0), shown_);
}

}  // namespace tarvelo
