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

FrameRecorder::FrameRecorder(const RecordingRequest& request, FrameSink& sink, std::function<void()> endedByItself)
    : period_(periodOf(request.parms)),
      slotLimit_(slotLimitOf(request.parms)),
      allowedWaiting_(std::max<size_t>(2, size_t(seconds(1) / period_))),
      toFile_(!request.file.isEmpty()),
      sink_(sink),
      endedByItself_(std::move(endedByItself))
{
}

std::unique_ptr<FrameRecorder> FrameRecorder::start(const RecordingRequest& request, QSize frameSize,
                                                    const Devices& devices, FrameSink& sink,
                                                    std::function<void()> endedByItself, uint32_t& error,
                                                    std::string& why)
{
    std::unique_ptr<FrameRecorder> recorder(new FrameRecorder(request, sink, std::move(endedByItself)));
    // The sound input goes first, so one that cannot be opened leaves no
    // empty file behind.
    if (request.parms.fCaptureAudio && !recorder->openSound(request, devices.openSound, why)) {
        error = IDS_CAP_WAVE_OPEN_ERROR;
        return nullptr;
    }
    RecordingFormat format{frameSize, uint32_t(recorder->period_.count()), recorder->sound_ != nullptr,
                           request.audioFormat};
    std::promise<std::string> opened;
    std::future<std::string> outcome = opened.get_future();
    recorder->writer_ = std::thread(&FrameRecorder::run, recorder.get(), devices.openFile, request.file, format,
                                    std::move(opened));
    why = outcome.get();
    if (!why.empty()) {
        error = IDS_CAP_FILE_OPEN_ERROR;
        recorder->sound_.reset();
        recorder->writer_.join();
        return nullptr;
    }
    if (recorder->sound_)
        recorder->sound_->start();
    return recorder;
}

// A machine without a sound input records pictures only, as asked of a
// workstation that has none; one whose input cannot be opened fails.
bool FrameRecorder::openSound(const RecordingRequest& request, const SoundInputOpener& open, std::string& why)
{
    bytesPerSample_ = std::max<uint16_t>(request.audioFormat.nBlockAlign, 1);
    if (open)
        sound_ = open(request.audioFormat, [this](const char* samples, size_t bytes) { offerSound(samples, bytes); }, why);
    if (!sound_ && why.empty())
        logLine("capture", "there is no sound input: the recording has pictures only");
    return sound_ || why.empty();
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
            if (slot.sound.isEmpty())
                --picturesWaiting_;
        }
        if (!(slot.sound.isEmpty() ? write(file.get(), slot) : writeSound(file.get(), slot.sound)))
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
        failWriting(why);
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

void FrameRecorder::failWriting(const std::string& why)
{
    logLine("capture", "the recording cannot be written: " + why);
    {
        std::lock_guard lock(mutex_);
        end_.error = IDS_CAP_WRITEERROR;
    }
    endInput();
}

bool FrameRecorder::writeSound(RecordingFile* file, const QByteArray& samples)
{
    std::string why;
    if (file && !file->addSound(samples, why)) {
        failWriting(why);
        return false;
    }
    samples_ += uint32_t(samples.size() / bytesPerSample_);
    WAVEHDR header{const_cast<char*>(samples.constData()), uint32_t(samples.size()), uint32_t(samples.size()), 0, 1};
    catchAndLog("capture", [&] { sink_.audioRecorded(&header); });
    return true;
}

// Sound is never left out while the pictures keep up; a disk that stalls
// for seconds loses it with them.
void FrameRecorder::offerSound(const char* samples, size_t bytes)
{
    constexpr size_t SoundBlocksAllowed = 64;
    std::lock_guard lock(mutex_);
    if (inputEnded_ || waiting_.size() - picturesWaiting_ >= SoundBlocksAllowed)
        return;
    waiting_.push_back({0, QImage(), QByteArray(samples, qsizetype(bytes))});
    changed_.notify_all();
}

void FrameRecorder::offer(const QImage& picture)
{
    const uint64_t slot = uint64_t((steady_clock::now() - start_) / period_);
    {
        std::lock_guard lock(mutex_);
        if (inputEnded_ || int64_t(slot) <= lastSlotOffered_)
            return;  // more pictures than the recording's rate takes
        if (slotLimit_ == 0 || slot < slotLimit_) {
            if (picturesWaiting_ < allowedWaiting_) {
                waiting_.push_back({slot, picture, {}});
                ++picturesWaiting_;
            }  // else the encoder or disk is behind: the slot is repeated
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
    sound_.reset();  // its last samples are in the queue
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
    p.audioSamples = samples_;
    std::lock_guard lock(mutex_);
    p.lastError = end_.error;
    p.elapsedMs = uint32_t(duration_cast<milliseconds>((inputEnded_ ? inputEndedAt_ : steady_clock::now()) - start_).count());
    return p;
}

}  // namespace tarvelo
