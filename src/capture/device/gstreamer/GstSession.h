#pragma once
// A connected capture driver on GStreamer. One pipeline runs from connect
// to disconnect: the live branch hands every frame to the sink; while
// recording, a second branch writes Motion-JPEG (and PCM sound) into an AVI
// file.
//
// One way down: only the thread that created the session builds, starts
// and stops pipelines, all through one stop function. The bus thread only
// watches: it reports what it saw (the end of a recording, an error) and
// posts a request to the owning thread, which acts on it. No handler of
// the sink is called while a lock of the session is held.

#include "capture/device/CaptureDriver.h"
#include "media/GstSupport.h"
#include "framework/PostedRequests.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarvelo {

struct SourceSpec {
    std::string video;      // a gst-launch description of the video source
    std::string frameRate;  // asked of the source, as "30/1"; empty for its own
    std::string decorate;   // what follows the source's caps (the test pattern's clock)
    std::string audio;      // of the sound source
    std::vector<VideoMode> modes;  // what the format dialog offers
    VideoMode initial;
    std::function<void(GstElement* pipeline)> prepare;  // called on every pipeline built
};

class GstSession final : public DriverSession {
public:
    GstSession(SourceSpec source, FrameSink& sink);
    ~GstSession() override;  // a recording still running is finished first

    bool start();  // false when the source cannot be played

    bool getCaps(CAPDRIVERCAPS& caps) override;
    QSize frameSize() override;
    bool setLive(bool on) override;
    bool grab(QImage& frame) override;
    bool startRecording(const RecordingRequest& request) override;
    bool stopRecording() override;
    RecordingProgress progress() override;
    std::vector<VideoMode> modes() override { return source_.modes; }
    VideoMode mode() override { return mode_; }
    bool setMode(const VideoMode& mode) override;
    bool hasAudio() override { return true; }

private:
    // What the bus thread saw on the pipeline of one generation.
    struct BusEvent {
        uint64_t generation = 0;  // of the pipeline; 0 for a recorder's
        uint64_t recorder = 0;    // which recorder's; 0 for the pipeline's
        bool endOfStream = false;
        uint32_t error = 0;  // a CaptureStatusCode
        std::string text;
    };

    std::string videoChain() const;
    std::string recorderDescription(const RecordingRequest& request) const;
    GstElementPtr buildRecorder(const RecordingRequest& request);
    // The status that says why the recorder could not start; 0 when it runs.
    int32_t addRecorder(GstElementPtr recorder, std::string& why);
    void endRecorderInput();
    // The error the file's sink gave as it closed, or nothing.
    std::string removeRecorder();
    void keepEvent(BusEvent event);
    GstElementPtr build(const std::string& description);
    bool launch(GstElementPtr pipeline);
    void stopPipeline();
    void restoreLive();
    bool confirmLive();
    void attachProbes(GstElement* recorder, const RecordingRequest& request);
    void resetRecordingCounters(const RecordingRequest& request);

    void watchBus();
    void endAtDeadline();
    void report(GstMessage* message, uint64_t generation);
    void reportRecorderEnd(GstMessage* message);
    void act(uint64_t generation, uint64_t recorder);
    std::optional<BusEvent> takeEvent(uint64_t generation, uint64_t recorder);
    bool fromRecorder(GstMessage* message, uint64_t& recorder);
    void finishRecording(const BusEvent& end);
    uint32_t framesDropped();

    static GstFlowReturn newSample(GstElement* appsink, gpointer self);
    void onSample(GstElement* appsink);
    static GstFlowReturn newFeedSample(GstElement* appsink, gpointer self);
    void onFeedSample(GstElement* appsink);

    SourceSpec source_;
    FrameSink& sink_;
    VideoMode mode_;
    PostedRequests owner_;  // lives in the owning thread: requests are posted to it
    bool closing_ = false;

    // Written by the owning thread only; read by the bus thread under the lock.
    std::mutex pipelineMutex_;
    GstElementPtr pipeline_;
    uint64_t generation_ = 0;

    // The recording's bin in the pipeline, its entry for the feed's frames,
    // its own sound source and the valve that feeds it. Set by the owning
    // thread; used by the feed and bus threads under the lock.
    std::mutex recorderMutex_;
    GstElementPtr recorder_;
    GstElementPtr recorderEntry_;
    GstElementPtr recorderSound_;
    GstElementPtr recorderValve_;
    bool recorderInputEnded_ = false;
    std::atomic<uint64_t> recorderId_{0};

    std::atomic<bool> recording_{false};
    std::atomic<bool> endRequested_{false};  // end of stream sent into the recording
    std::chrono::steady_clock::time_point recordingStart_;
    std::atomic<std::chrono::steady_clock::rep> recordingDeadline_{0};  // 0: no time limit
    QString recordingFile_;
    std::atomic<uint32_t> framesRecorded_{0};
    // Frames not let in because about a second of them already waits for
    // the encoder or the disk.
    std::atomic<uint32_t> framesDroppedWaiting_{0};
    guint64 framesAllowedWaiting_ = 30;
    uint32_t framesDroppedAtEnd_ = 0;
    std::atomic<uint64_t> samplesRecorded_{0};
    std::atomic<uint32_t> bytesPerSample_{1};
    uint32_t lastError_ = 0;

    // Streaming threads inside the sink. Stopping a pipeline waits until
    // none is left: GStreamer waits for them too, but in a way that
    // ThreadSanitizer cannot see.
    std::atomic<int> inSink_{0};

    // Frames from the streaming threads and events from the bus thread.
    std::mutex eventsMutex_;
    std::condition_variable eventsChanged_;
    QImage newest_;
    uint64_t frameCount_ = 0;
    std::vector<BusEvent> events_;

    std::atomic<bool> busRunning_{true};
    std::thread busThread_;
};

}  // namespace tarvelo
