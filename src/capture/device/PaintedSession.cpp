#include "capture/device/PaintedSession.h"

#include "framework/Log.h"

#include <QFile>

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
        {
            std::lock_guard recording(recorderMutex_);
            if (recorder_)
                recorder_->offer(frame);
        }
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

bool PaintedSession::startRecording(const RecordingRequest& request)
{
    if (recorder_)
        return false;
    if (!request.file.isEmpty() && !source_.openFile) {
        logLine("capture", "this driver cannot record to a file");
        return false;
    }
    if (request.parms.fCaptureAudio)
        logLine("capture", "this driver has no sound input: the recording has pictures only");
    const uint64_t id = ++recordingId_;
    auto endedByItself = [this, id] {
        owner_.post([this, id] {
            if (recordingId_ == id)
                finishRecording();
        });
    };
    std::string why;
    auto recorder = PaintedRecorder::start(request, frameSize(), source_.openFile, sink_, endedByItself, why);
    if (!recorder) {
        logLine("capture", "the recording cannot start: " + why);
        lastProgress_ = RecordingProgress{};
        lastProgress_.lastError = IDS_CAP_FILE_OPEN_ERROR;
        sink_.statusChanged(IDS_CAP_FILE_OPEN_ERROR, "Error: cannot open the capture file " + request.file.toStdString());
        return false;
    }
    {
        std::lock_guard lock(recorderMutex_);
        recorder_ = std::move(recorder);
    }
    recordingFile_ = request.file;
    sink_.statusChanged(IDS_CAP_BEGIN, "Capture Start");
    return true;
}

bool PaintedSession::stopRecording()
{
    if (!recorder_)
        return true;
    finishRecording();
    return lastProgress_.lastError == 0;
}

void PaintedSession::finishRecording()
{
    std::unique_ptr<PaintedRecorder> recorder;
    {
        std::lock_guard lock(recorderMutex_);
        recorder = std::move(recorder_);
    }
    if (!recorder)
        return;
    ++recordingId_;  // an end posted by this recording is seen to now
    RecordingEnd end = recorder->finish();
    lastProgress_ = recorder->progress();
    lastProgress_.capturing = false;
    lastProgress_.lastError = end.error;
    sink_.statusChanged(IDS_CAP_STAT_VIDEOCURRENT, RecordingSummary(lastProgress_.frames, lastProgress_.dropped, end.elapsedMs));
    sink_.statusChanged(end.error ? int32_t(end.error) : IDS_CAP_END, end.text);
}

RecordingProgress PaintedSession::progress()
{
    RecordingProgress p = recorder_ ? recorder_->progress() : lastProgress_;
    if (!recorder_)
        p.elapsedMs = 0;
    p.fileExists = !recordingFile_.isEmpty() && QFile::exists(recordingFile_);
    return p;
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
