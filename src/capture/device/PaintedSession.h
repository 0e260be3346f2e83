#pragma once
// A capture device whose pictures are painted in-process at a steady rate,
// on a thread of its own: the test pattern and the virtual site's cameras
// where no media framework makes them (the Windows build). The painter
// thread is the session's only thread; the session's owner starts it at
// connect and stops and joins it when the session goes.

#include "capture/device/CaptureDriver.h"
#include "capture/device/PaintedRecorder.h"
#include "framework/PostedRequests.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvelo {

struct PaintedSource {
    std::vector<VideoMode> modes;  // what the format dialog offers
    VideoMode initial;
    int framesPerSecond = 30;
    // Paints the picture `elapsed` after the session began into `frame`
    // (RGB32, the mode's size). Runs on the painter thread only.
    std::function<void(QImage& frame, std::chrono::milliseconds elapsed)> paint;
    RecordingFileOpener openFile;  // null: the session cannot record to a file
};

class PaintedSession final : public DriverSession {
public:
    PaintedSession(PaintedSource source, FrameSink& sink);
    ~PaintedSession() override;

    bool getCaps(CAPDRIVERCAPS& caps) override;
    QSize frameSize() override;
    bool setLive(bool on) override;
    bool grab(QImage& frame) override;
    bool startRecording(const RecordingRequest& request) override;
    bool stopRecording() override;
    RecordingProgress progress() override;
    std::vector<VideoMode> modes() override { return source_.modes; }
    VideoMode mode() override;
    bool setMode(const VideoMode& mode) override;

private:
    void paintFrames();
    QImage paintOne(std::chrono::milliseconds elapsed);
    void finishRecording();

    PaintedSource source_;
    FrameSink& sink_;

    std::mutex mutex_;  // guards what follows; never held while the sink is called
    std::condition_variable newFrame_;
    VideoMode mode_;
    QImage newest_;
    uint64_t frameCount_ = 0;

    // The recording: made and finished by the owner, offered pictures by the painter.
    PostedRequests owner_;  // lives in the owning thread: a recording's own end is posted to it
    std::mutex recorderMutex_;
    std::unique_ptr<PaintedRecorder> recorder_;
    uint64_t recordingId_ = 0;
    RecordingProgress lastProgress_;
    QString recordingFile_;

    std::atomic<bool> stopping_{false};
    std::thread painter_;  // last: it starts once everything above is made
};

}  // namespace tarvelo
