#include "capture/device/FrameRecorder.h"

#include "framework/JpegImage.h"
#include "framework/Log.h"

#include <algorithm>

namespace tarvelo {

using namespace std::chrono;

namespace {

constexpr uint32_t KeyFrameDone = VHDR_DONE | VHDR_KEYFRAME;
constexpr int RecordingQuality = 85;

microseconds periodOf(const CAPTUREPARMS& parms)
{
    return microseconds(std::max<uint32_t>(parms.dwRequestMicroSecPerFrame, 1000));
}

uint64_t slotLimitOf(const CAPTUREPARMS& parms)
{
    if (!parms.fLimitEnabled || parms.wTimeLimit == 0)
        return 0;
    return uint64_t(seconds(parms.wTimeLimit) / periodOf(parms));
}

}  // namespace

FrameRecorder::FrameRecorder(const RecordingRequest& request, FrameSink& sink,
                                 std::function<void()> endedByItself)
    : period_(periodOf(request.parms)),
      slotLimit_(slotLimitOf(request.parms)),
      allowedWaiting_(std::max<size_t>(2, size_t(seconds(1) / period_))),
      toFile_(!request.file.isEmpty()),
      sink_(sink),
      endedByItself_(std::move(endedByItself))
{
}

std::unique_ptr<FrameRecorder> FrameRecorder::start(const RecordingRequest& request, QSize frameSize,
                                                        const RecordingFileOpener& open, FrameSink& sink,
                                                        std::function<void()> endedByItself, std::string& why)
{
    std::unique_ptr<FrameRecorder> recorder(new FrameRecorder(request, sink, std::move(endedByItself)));
    std::promise<std::string> opened;
    std::future<std::string> outcome = opened.get_future();
    RecordingFormat format{frameSize, uint32_t(recorder->period_.count())};
    recorder->writer_ = std::thread(&FrameRecorder::run, recorder.get(), open, request.file, format,
                                    std::move(opened));
    why = outcome.get();
    if (why.empty())
        return recorder;
    recorder->writer_.join();
    return nullptr;
}

FrameRecorder::~FrameRecorder()
{
    if (writer_.joinable())
        finish();
}

// The file is made here, on the thread that writes it, which some platforms'
// writers need.
void FrameRecorder::run(RecordingFileOpener open, QString path, RecordingFormat format,
                          std::promise<std::string> opened)
{
    std::unique_ptr<RecordingFile> file;
    if (toFile_) {
        std::string why;
        if (!(file = open(path, format, why))) {
            opened.set_value(why.empty() ? "the file cannot be made" : why);
            return;
        }
    }
    opened.set_value({});
    for (;;) {
        Slot slot;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !waiting_.empty() || inputEnded_; });
            if (waiting_.empty())
                break;
            slot = std::move(waiting_.front());
            waiting_.pop_front();
        }
        if (!write(file.get(), slot))
            break;
    }
    std::string why;
    if (file && !file->close(why)) {
        logLine("capture", "the recording cannot be finished: " + why);
        std::lock_guard lock(mutex_);
        end_.error = IDS_CAP_WRITEERROR;
    }
}

// A slot after a gap first repeats the last picture through the gap, so the
// recording keeps its length.
bool FrameRecorder::write(RecordingFile* file, const Slot& slot)
{
    while (!lastPicture_.isNull() && lastSlotWritten_ + 1 < int64_t(slot.number)) {
        if (!writeOne(file, lastPicture_, lastSlotWritten_ + 1))
            return false;
        ++dropped_;
    }
    try {
        lastJpeg_ = toFile_ ? EncodeJpeg(slot.picture, RecordingQuality) : QByteArray();
    } catch (const JpegError& e) {
        logLine("capture", std::string("a recorded picture cannot be encoded: ") + e.what());
        return true;  // the slot is repeated from the picture before
    }
    lastPicture_ = slot.picture;
    return writeOne(file, lastPicture_, slot.number);
}

bool FrameRecorder::writeOne(RecordingFile* file, const QImage& picture, uint64_t number)
{
    std::string why;
    if (file && !file->addFrame(lastJpeg_, why)) {
        logLine("capture", "the recording cannot be written: " + why);
        {
            std::lock_guard lock(mutex_);
            end_.error = IDS_CAP_WRITEERROR;
        }
        endInput();
        return false;
    }
    lastSlotWritten_ = int64_t(number);
    ++frames_;
    uint32_t atMs = uint32_t(duration_cast<milliseconds>(number * period_).count());
    const uchar* bits = picture.constBits();
    VIDEOHDR header{const_cast<uchar*>(bits), uint32_t(picture.sizeInBytes()), uint32_t(picture.sizeInBytes()),
                    atMs, 0, KeyFrameDone};
    catchAndLog("capture", [&] { sink_.videoRecorded(&header); });
    return true;
}

void FrameRecorder::offer(const QImage& picture)
{
    const uint64_t slot = uint64_t((steady_clock::now() - start_) / period_);
    {
        std::lock_guard lock(mutex_);
        if (inputEnded_ || int64_t(slot) <= lastSlotOffered_)
            return;  // more pictures than the recording's rate takes
        if (slotLimit_ == 0 || slot < slotLimit_) {
            if (waiting_.size() < allowedWaiting_)
                waiting_.push_back({slot, picture});  // else the encoder or disk is behind: the slot is repeated
            lastSlotOffered_ = int64_t(slot);
            changed_.notify_all();
            return;
        }
    }
    endInput();
}

// The input ends once, by the owner, the time limit or a failed write; an
// end the owner did not ask for is told to it.
void FrameRecorder::endInput()
{
    {
        std::lock_guard lock(mutex_);
        if (inputEnded_)
            return;
        inputEnded_ = true;
        inputEndedAt_ = steady_clock::now();
    }
    changed_.notify_all();
    if (!finished_)
        endedByItself_();
}

RecordingEnd FrameRecorder::finish()
{
    finished_ = true;
    endInput();
    if (writer_.joinable())
        writer_.join();
    std::lock_guard lock(mutex_);
    RecordingEnd end = end_;
    end.text = end.error ? "Error: cannot write the capture file (disk full?)" : "Capture End";
    end.elapsedMs = uint32_t(duration_cast<milliseconds>(inputEndedAt_ - start_).count());
    return end;
}

RecordingProgress FrameRecorder::progress()
{
    RecordingProgress p;
    p.capturing = true;
    p.frames = frames_;
    p.dropped = dropped_;
    std::lock_guard lock(mutex_);
    p.lastError = end_.error;
    p.elapsedMs = uint32_t(duration_cast<milliseconds>((inputEnded_ ? inputEndedAt_ : steady_clock::now()) - start_).count());
    return p;
}

}  // namespace tarvelo
