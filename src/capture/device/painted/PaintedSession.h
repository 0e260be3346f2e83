#pragma once
// A capture device whose pictures are painted in-process at a steady rate,
// on a thread of its own: the test pattern and the virtual site's cameras
// where no media framework makes them (the Windows build). The painter
// thread is the session's only thread; the session's owner starts it at
// connect and stops and joins it when the session goes.

#include "capture/device/FrameSession.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
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
    SoundInputOpener openSound;    // null: it records no sound
    // A painter that hangs this long (a site file on a share that went
    // away) is a lost source; 0: never watched.
    std::chrono::milliseconds stallLimit{0};
};

class PaintedSession final : public FrameSession {
public:
    PaintedSession(PaintedSource source, FrameSink& sink);
    ~PaintedSession() override;

    bool getCaps(CAPDRIVERCAPS& caps) override;
    bool setLive(bool on) override;
    std::vector<VideoMode> modes() override { return source_.modes; }
    VideoMode mode() override;
    bool setMode(const VideoMode& mode) override;

private:
    QSize expectedSize() override;
    void paintFrames();
    QImage paintOne(std::chrono::milliseconds elapsed);

    PaintedSource source_;
    std::mutex mutex_;  // guards the mode and wakes the painter to stop
    std::condition_variable wake_;
    VideoMode mode_;
    std::atomic<bool> stopping_{false};
    std::thread painter_;  // last: it starts once everything above is made
};

}  // namespace tarvelo
