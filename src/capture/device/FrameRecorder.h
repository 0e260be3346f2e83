#pragma once
// A recording of the pictures a session offers. Each picture offered takes the slot of
// the recording's frame rate it falls in; slots that got no picture repeat
// the one before, and count as dropped. Pictures are encoded and written on
// the recorder's own thread, so a slow disk never holds up the live picture;
// about a second of them may wait, and more are left out. The recorder's
// thread is started by `start` and joined by `finish` or the destructor.

#include "capture/device/CaptureDriver.h"
#include "capture/device/RecordingFile.h"

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
    // `endedByItself` is called, from a device thread, once the time limit
    // is reached or the file cannot be written; the owner then finishes.
    // Null, with the reason, when the file cannot be made.
    static std::unique_ptr<FrameRecorder> start(const RecordingRequest& request, QSize frameSize,
                                                  const RecordingFileOpener& open, FrameSink& sink,
                                                  std::function<void()> endedByItself, std::string& why);
    ~FrameRecorder();

    void offer(const QImage& picture);  // from the painter thread
    // Ends the input, writes what waits and closes the file.
    RecordingEnd finish();
    RecordingProgress progress();

private:
    struct Slot {
        uint64_t number;
        QImage picture;
    };
    FrameRecorder(const RecordingRequest& request, FrameSink& sink, std::function<void()> endedByItself);
    void run(RecordingFileOpener open, QString path, RecordingFormat format, std::promise<std::string> opened);
    bool write(RecordingFile* file, const Slot& slot);
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
    std::atomic<bool> finished_{false};
    std::thread writer_;
};

}  // namespace tarvelo
