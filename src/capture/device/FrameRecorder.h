#pragma once
// A recording of the pictures a session offers, and of the machine's sound
// where asked for and there is an input. Each picture offered takes the
// slot of the recording's frame rate it falls in; slots that got no picture
// repeat the one before, and count as dropped. Pictures are encoded and
// written on the recorder's own thread, so a slow disk never holds up the
// live picture; about a second of them may wait, and more are left out.
// The recorder's thread is started by `start` and joined by `finish` or the
// destructor; the sound input's thread goes first.

#include "capture/device/CaptureDriver.h"
#include "capture/device/RecordingFile.h"
#include "capture/device/SoundInput.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <functional>
#include <mutex>
#include <thread>

namespace tarvelo {

struct RecordingEnd {
    uint32_t error = 0;  // a CaptureStatusCode, 0 when it ended well
    std::string text;
    uint32_t elapsedMs = 0;
};

class FrameRecorder {
public:
    struct Devices {
        RecordingFileOpener openFile;
        SoundInputOpener openSound;  // null: pictures only
    };
    // `endedByItself` is called, from a device thread, once the time limit
    // is reached or the file cannot be written; the owner then finishes.
    // Null, with the error (IDS_CAP_WAVE_OPEN_ERROR, IDS_CAP_FILE_OPEN_ERROR)
    // and its reason, when the sound input or the file cannot be opened.
    static std::unique_ptr<FrameRecorder> start(const RecordingRequest& request, QSize frameSize, const Devices& devices,
                                                FrameSink& sink, std::function<void()> endedByItself, uint32_t& error,
                                                std::string& why);
    ~FrameRecorder();

    void offer(const QImage& picture);  // from the producer's thread
    // Ends the input, writes what waits and closes the file.
    RecordingEnd finish();
    RecordingProgress progress();

private:
    struct Slot {
        uint64_t number = 0;
        QImage picture;
        QByteArray sound;  // a block of samples instead of a picture
    };
    FrameRecorder(const RecordingRequest& request, FrameSink& sink, std::function<void()> endedByItself);
    void run(RecordingFileOpener open, QString path, RecordingFormat format, std::promise<std::string> opened);
    bool write(RecordingFile* file, const Slot& slot);
    bool writeSound(RecordingFile* file, const QByteArray& samples);
    void offerSound(const char* samples, size_t bytes);
    bool openSound(const RecordingRequest& request, const SoundInputOpener& open, std::string& why);
    void failWriting(const std::string& why);
    bool writeOne(RecordingFile* file, const QImage& picture, uint64_t number);
    void endInput();

    const std::chrono::microseconds period_;
    const uint64_t slotLimit_;  // 0: no time limit
    const size_t allowedWaiting_;
    const bool toFile_;
    FrameSink& sink_;
    const std::function<void()> endedByItself_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();

    std::mutex mutex_;  // guards what follows; never held while the sink is called
    std::condition_variable changed_;
    std::deque<Slot> waiting_;
    size_t picturesWaiting_ = 0;
    int64_t lastSlotOffered_ = -1;
    bool inputEnded_ = false;
    std::chrono::steady_clock::time_point inputEndedAt_;
    RecordingEnd end_;

    // The recorder thread's own
    int64_t lastSlotWritten_ = -1;
    QImage lastPicture_;
    QByteArray lastJpeg_;

    std::atomic<uint32_t> frames_{0};
    std::atomic<uint32_t> dropped_{0};
    std::atomic<uint32_t> samples_{0};
    uint16_t bytesPerSample_ = 1;
    std::atomic<bool> finished_{false};
    std::thread writer_;
    std::unique_ptr<SoundInput> sound_;  // stopped before the writer ends
};

}  // namespace tarvelo
