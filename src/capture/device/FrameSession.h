#pragma once
// A session whose pictures come from a producer of its own (a painter
// thread, a device's streaming thread). Each picture delivered is shown
// live, kept as the newest for grabs and offered to the recording. The
// producer belongs to the derived session, which stops it in its own
// destructor, before this part goes.
//
// A device can go (unplugged, its driver stopped): the derived session
// says so, or the watch sees no picture for a while when pictures are
// expected. The status then says the video source was lost, a recording
// ends as failed rather than repeating its last picture, and the first
// picture after it says the source is back.

#include "capture/device/CaptureDriver.h"
#include "capture/device/FrameRecorder.h"
#include "framework/PostedRequests.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tarvelo {

class FrameSession : public DriverSession {
public:
    FrameSession(FrameSink& sink, RecordingFileOpener openFile, SoundInputOpener openSound);
    ~FrameSession() override;

    QSize frameSize() override;
    bool grab(QImage& frame) override;
    bool startRecording(const RecordingRequest& request) override;
    bool stopRecording() override;
    RecordingProgress progress() override;

protected:
    // From the producer only.
    void deliver(QImage frame, uint32_t timeMs);
    // The size pictures have before the first one comes.
    virtual QSize expectedSize() = 0;
    // The pictures kept are of the old mode: a grab waits for a new one.
    void forgetNewest();
    // Grabs waiting now, and from now on, come back empty; the watch ends.
    void stopDelivering();

    // From now on, no picture for `limit` while pictures are expected is a
    // lost source. Started once, by the derived session.
    void watchForStalls(std::chrono::milliseconds limit);
    // Whether pictures are expected now (the device runs).
    void expectPictures(bool expected);
    // From any thread: the device is gone, for `why`.
    void sourceLost(const std::string& why);
    // Whether it is gone: no picture since it was found lost.
    bool sourceIsLost();
    // Runs `request` later on the thread that owns the session.
    void postToOwner(std::function<void()> request) { owner_.post(std::move(request)); }

    FrameSink& sink_;

private:
    void finishRecording(uint32_t failure = 0);
    void watch(std::chrono::milliseconds limit);
    void reportLoss(const std::string& why);

    const FrameRecorder::Devices devices_;
    std::mutex mutex_;  // guards what follows; never held while the sink is called
    std::condition_variable newFrame_;
    QImage newest_;
    uint64_t frameCount_ = 0;
    bool stopping_ = false;
    bool expected_ = true;
    bool lost_ = false;
    std::thread watch_;  // joined by stopDelivering, or at the latest here

    // The recording: made and finished by the owner, offered pictures by the producer.
    PostedRequests owner_;  // lives in the owning thread: a recording's own end is posted to it
    std::mutex recorderMutex_;
    std::unique_ptr<FrameRecorder> recorder_;  // destroyed (finished) before the owner goes
    uint64_t recordingId_ = 0;
    RecordingProgress lastProgress_;
    QString recordingFile_;
};

}  // namespace tarvelo
