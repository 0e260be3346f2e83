#include "capture/device/painted/PaintedSession.h"

#include "framework/Log.h"

#include <algorithm>

namespace tarvelo {
namespace {

using Clock = std::chrono::steady_clock;

QSize sizeOf(const VideoMode& mode)
{
    return QSize(mode.width > 0 ? mode.width : 320, mode.height > 0 ? mode.height : 240);
}

}  // namespace

PaintedSession::PaintedSession(PaintedSource source, FrameSink& sink)
    : FrameSession(sink, source.openFile, source.openSound), source_(std::move(source)), mode_(source_.initial)
{
    painter_ = std::thread(&PaintedSession::paintFrames, this);
    if (source_.stallLimit.count() > 0)
        watchForStalls(source_.stallLimit);
}

PaintedSession::~PaintedSession()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    painter_.join();
    stopDelivering();
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
            wake_.wait_until(lock, due, [this] { return stopping_.load(); });
        }
        if (stopping_)
            break;
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        deliver(paintOne(elapsed), uint32_t(elapsed.count()));
    }
}

QImage PaintedSession::paintOne(std::chrono::milliseconds elapsed)
{
    QImage frame(expectedSize(), QImage::Format_RGB32);
    frame.fill(Qt::black);
    if (source_.paint)
        catchAndLog("capture", [&] { source_.paint(frame, elapsed); });
    return frame;
}

QSize PaintedSession::expectedSize()
{
    std::lock_guard lock(mutex_);
    return sizeOf(mode_);
}

bool PaintedSession::getCaps(CAPDRIVERCAPS& caps)
{
    caps.fHasOverlay = 1;
    caps.fHasDlgVideoFormat = source_.modes.empty() ? 0 : 1;
    caps.fCaptureInitialized = 1;
    return true;
}

// Pictures are painted from connect to disconnect: a grab never waits for
// a device to start.
bool PaintedSession::setLive(bool)
{
    return true;
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
    {
        std::lock_guard lock(mutex_);
        mode_ = mode;
    }
    forgetNewest();
    return true;
}

}  // namespace tarvelo
