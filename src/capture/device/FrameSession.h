#pragma once
// A session whose pictures come from a producer of its own (a painter
// thread, a device's streaming thread). Each picture delivered is shown
// live, kept as the newest for grabs and offered to the recording. The
// producer belongs to the derived session, which stops it in its own
// destructor, before this part goes.

#include "capture/device/CaptureDriver.h"
#include "capture/device/FrameRecorder.h"
#include "framework/PostedRequests.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace tarvelo {

class FrameSession : public DriverSession {
public:
    FrameSession(FrameSink& sink, RecordingFileOpener openFile, SoundInputOpener openSound);

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
    // Grabs waiting now, and from now on, come back empty.
    void stopDelivering();

    FrameSink& sink_;

private:
    void finishRecording();

    const FrameRecorder::Devices devices_;
    std::mutex mutex_;  // guards what follows; never held while the sink is called
    std::condition_variable newFrame_;
    QImage newest_;
    uint64_t frameCount_ = 0;
    bool stopping_ = false;

    // The recording: made and finished by the owner, offered pictures by the producer.
    PostedRequests owner_;  // lives in the owning thread: a recording's own end is posted to it
    std::mutex recorderMutex_;
    std::unique_ptr<FrameRecorder> recorder_;  // destroyed (finished) before the owner goes
    uint64_t recordingId_ = 0;
    RecordingProgress lastProgress_;
    QString recordingFile_;
};

}  // namespace tarvelo
