#include "capture/device/PaintedSession.h"

#include "framework/Log.h"

#include <algorithm>

namespace tarvelo {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t KeyFrameDone = VHDR_DONE | VHDR_KEYFRAME;
constexpr auto GrabWait = std::chrono::seconds(2);

QSize sizeOf(const VideoMode& mode)
{
    return QSize(mode.width > 0 ? mode.width : 320, mode.height > 0 ? mode.height : 240);
}

}  // namespace

PaintedSession::PaintedSession(PaintedSource source, FrameSink& sink)
    : source_(std::move(source)), sink_(sink), mode_(source_.initial)
{
    painter_ = std::thread(&PaintedSession::paintFrames, this);
}

PaintedSession::~PaintedSession()
{
    stopping_ = true;
    newFrame_.notify_all();
    painter_.join();
}

// Each frame is due at its own time from the start, so the rate holds
// however long a picture takes to paint; one that is late is painted at
// once and the next keeps its time.
void PaintedSession::paintFrames()
{
    const auto period = std::chrono::microseconds(1000000 / std::max(1, source_.framesPerSecond));
    const Clock::time_point start = Clock::now();
    for (uint64_t n = 0; !stopping_; ++n) {
        Clock::time_point due = start + n * period;
        {
            std::unique_lock lock(mutex_);
            newFrame_.wait_until(lock, due, [this] { return stopping_.load(); });
        }
        if (stopping_)
            break;
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        QImage frame = paintOne(elapsed);
        catchAndLog("capture", [&] {
            VIDEOHDR header{frame.bits(), uint32_t(frame.sizeInBytes()), uint32_t(frame.sizeInBytes()),
                            uint32_t(elapsed.count()), 0, KeyFrameDone};
            sink_.frameArrived(frame, &header);
        });
        std::lock_guard lock(mutex_);
        newest_ = std::move(frame);
        ++frameCount_;
        newFrame_.notify_all();
    }
}

QImage PaintedSession::paintOne(std::chrono::milliseconds elapsed)
{
    QSize size;
    {
        std::lock_guard lock(mutex_);
        size = sizeOf(mode_);
    }
    QImage frame(size, QImage::Format_RGB32);
    frame.fill(Qt::black);
    if (source_.paint)
        catchAndLog("capture", [&] { source_.paint(frame, elapsed); });
    return frame;
}

bool PaintedSession::getCaps(CAPDRIVERCAPS& caps)
{
    caps.fHasOverlay = 1;
    caps.fHasDlgVideoFormat = source_.modes.empty() ? 0 : 1;
    caps.fCaptureInitialized = 1;
    return true;
}

QSize PaintedSession::frameSize()
{
    std::lock_guard lock(mutex_);
    return newest_.isNull() ? sizeOf(mode_) : newest_.size();
}

// Pictures are painted from connect to disconnect: a grab never waits for
// a device to start.
bool PaintedSession::setLive(bool)
{
    return true;
}

bool PaintedSession::grab(QImage& frame)
{
    std::unique_lock lock(mutex_);
    uint64_t seen = frameCount_;
    if (!newFrame_.wait_for(lock, GrabWait, [&] { return frameCount_ > seen || stopping_; }) || stopping_)
        return false;  // a picture from before the request is no grab
    frame = newest_;
    return !frame.isNull();
}

// Recording needs the platform's file writer, which this session has not.
bool PaintedSession::startRecording(const RecordingRequest&)
{
    logLine("capture", "this driver cannot record yet");
    return false;
}

bool PaintedSession::stopRecording()
{
    return false;
}

RecordingProgress PaintedSession::progress()
{
    return {};
}

VideoMode PaintedSession::mode()
{
    std::lock_guard lock(mutex_);
    return mode_;
}

// Any size the dialog offers can be painted; the next picture has it.
bool PaintedSession::setMode(const VideoMode& mode)
{
    if (source_.modes.empty())
        return false;
    std::lock_guard lock(mutex_);
    mode_ = mode;
    newest_ = QImage();
    return true;
}

}  // namespace tarvelo
