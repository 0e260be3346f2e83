#include "capture/device/FrameSession.h"

#include "framework/Log.h"

#include <QFile>
#include <utility>

namespace tarvelo {
namespace {

constexpr uint32_t KeyFrameDone = VHDR_DONE | VHDR_KEYFRAME;
constexpr auto GrabWait = std::chrono::seconds(2);

}  // namespace

FrameSession::FrameSession(FrameSink& sink, RecordingFileOpener openFile, SoundInputOpener openSound)
    : sink_(sink), devices_{std::move(openFile), std::move(openSound)}
{
}

FrameSession::~FrameSession()
{
    stopDelivering();
}

void FrameSession::deliver(QImage frame, uint32_t timeMs)
{
    catchAndLog("capture", [&] {
        VIDEOHDR header{frame.bits(), uint32_t(frame.sizeInBytes()), uint32_t(frame.sizeInBytes()), timeMs, 0,
                        KeyFrameDone};
        sink_.frameArrived(frame, &header);
    });
    {
        std::lock_guard recording(recorderMutex_);
        if (recorder_)
            recorder_->offer(frame);
    }
    bool back = false;
    {
        std::lock_guard lock(mutex_);
        newest_ = std::move(frame);
        ++frameCount_;
        back = std::exchange(lost_, false);
        newFrame_.notify_all();
    }
    if (back)
        owner_.post([this] {
            logLine("capture", "the video source is back");
            sink_.statusChanged(IDS_CAP_CLEAR, "");
        });
}

void FrameSession::forgetNewest()
{
    std::lock_guard lock(mutex_);
    newest_ = QImage();
}

void FrameSession::stopDelivering()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        newFrame_.notify_all();
    }
    if (watch_.joinable())
        watch_.join();
}

void FrameSession::watchForStalls(std::chrono::milliseconds limit)
{
    watch_ = std::thread(&FrameSession::watch, this, limit);
}

void FrameSession::expectPictures(bool expected)
{
    std::lock_guard lock(mutex_);
    expected_ = expected;
    newFrame_.notify_all();  // the wait starts again from now
}

void FrameSession::watch(std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        uint64_t seen = frameCount_;
        bool wasExpected = expected_;
        bool changed =
            newFrame_.wait_for(lock, limit, [&] { return stopping_ || frameCount_ != seen || expected_ != wasExpected; });
        if (changed || !expected_ || lost_)
            continue;
        lock.unlock();
        sourceLost("no picture for " + std::to_string(limit.count()) + " ms");
        lock.lock();
    }
}

void FrameSession::sourceLost(const std::string& why)
{
    {
        std::lock_guard lock(mutex_);
        if (lost_ || stopping_)
            return;
        lost_ = true;
    }
    owner_.post([this, why] { reportLoss(why); });
}

bool FrameSession::sourceIsLost()
{
    std::lock_guard lock(mutex_);
    return lost_;
}

void FrameSession::reportLoss(const std::string& why)
{
    logLine("capture", "the video source was lost: " + why);
    sink_.statusChanged(IDS_CAP_VIDEO_SOURCE_LOST, "Error: the video source was lost");
    if (recorder_)
        finishRecording(IDS_CAP_VIDEO_SOURCE_LOST);
}

QSize FrameSession::frameSize()
{
    {
        std::lock_guard lock(mutex_);
        if (!newest_.isNull())
            return newest_.size();
    }
    return expectedSize();
}

bool FrameSession::grab(QImage& frame)
{
    std::unique_lock lock(mutex_);
    uint64_t seen = frameCount_;
    if (!newFrame_.wait_for(lock, GrabWait, [&] { return frameCount_ > seen || stopping_; }) || stopping_)
        return false;  // a picture from before the request is no grab
    frame = newest_;
    return !frame.isNull();
}

bool FrameSession::startRecording(const RecordingRequest& request)
{
    if (recorder_)
        return false;
    if (!request.file.isEmpty() && !devices_.openFile) {
        logLine("capture", "this driver cannot record to a file");
        return false;
    }
    const uint64_t id = ++recordingId_;
    auto endedByItself = [this, id] {
        owner_.post([this, id] {
            if (recordingId_ == id)
                finishRecording();
        });
    };
    std::string why;
    uint32_t error = 0;
    auto recorder = FrameRecorder::start(request, frameSize(), devices_, sink_, endedByItself, error, why);
    if (!recorder) {
        logLine("capture", "the recording cannot start: " + why);
        lastProgress_ = RecordingProgress{};
        lastProgress_.lastError = error;
        sink_.statusChanged(int32_t(error), error == IDS_CAP_WAVE_OPEN_ERROR
                                                ? "Error: cannot open the sound input: " + why
                                                : "Error: cannot open the capture file " + request.file.toStdString());
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

bool FrameSession::stopRecording()
{
    if (!recorder_)
        return true;
    finishRecording();
    return lastProgress_.lastError == 0;
}

void FrameSession::finishRecording(uint32_t failure)
{
    std::unique_ptr<FrameRecorder> recorder;
    {
        std::lock_guard lock(recorderMutex_);
        recorder = std::move(recorder_);
    }
    if (!recorder)
        return;
    ++recordingId_;  // an end posted by this recording is seen to now
    RecordingEnd end = recorder->finish();
    if (failure && !end.error) {
        end.error = failure;
        end.text = "Error: the video source was lost";
    }
    lastProgress_ = recorder->progress();
    lastProgress_.capturing = false;
    lastProgress_.lastError = end.error;
    sink_.statusChanged(IDS_CAP_STAT_VIDEOCURRENT,
                        RecordingSummary(lastProgress_.frames, lastProgress_.dropped, end.elapsedMs));
    sink_.statusChanged(end.error ? int32_t(end.error) : IDS_CAP_END, end.text);
}

RecordingProgress FrameSession::progress()
{
    RecordingProgress p = recorder_ ? recorder_->progress() : lastProgress_;
    if (!recorder_)
        p.elapsedMs = 0;
    p.fileExists = !recordingFile_.isEmpty() && QFile::exists(recordingFile_);
    return p;
}

}  // namespace tarvelo
