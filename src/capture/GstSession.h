#pragma once
// A connected capture driver on GStreamer. One pipeline runs from connect
// to disconnect: the live branch hands every frame to the capture window;
// while recording, a second branch writes Motion-JPEG (and PCM sound) into
// an AVI file. A bus thread watches for the end of a recording, its time
// limit and errors (a device unplugged, a full disk).

#include "capture/CaptureDriver.h"
#include "capture/GstSupport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvelo {

struct VideoMode {
    int width = 0;   // 0: whatever the device gives
    int height = 0;
    std::string format;  // a GStreamer raw format name, empty for any
    bool operator==(const VideoMode&) const = default;
};

struct SourceSpec {
    std::string video;     // a gst-launch description of the video source
    std::string frameRate;  // asked of the source, as "30/1"; empty for its own
    std::string decorate;   // what follows the source's caps (the test pattern's clock)
    std::string audio;  // of the sound source
    std::vector<VideoMode> modes;  // what the format dialog offers
    VideoMode initial;
};

class GstSession final : public DriverSession {
public:
    GstSession(SourceSpec source, FrameSink& sink);
    ~GstSession() override;

    bool start();  // false when the source cannot be played

    bool getCaps(CAPDRIVERCAPS& caps) override;
    QSize frameSize() override;
    bool setLive(bool on) override;
    bool grab(QImage& frame) override;
    bool startRecording(const RecordingRequest& request) override;
    bool stopRecording() override;
    RecordingProgress progress() override;
    bool formatDialog(QWidget* parent) override;
    bool hasAudio() override { return true; }

private:
    std::string videoChain() const;
    std::string recordingDescription(const RecordingRequest& request) const;
    bool play(const std::string& description, bool recording);
    void stopPipeline();
    void attachProbes(const RecordingRequest& request);
    void watchBus();
    void handle(GstMessage* message);
    void finishRecording(uint32_t error, const std::string& text);
    void onSample(GstElement* appsink);
    uint32_t framesDropped();

    static GstFlowReturn newSample(GstElement* appsink, gpointer self);

    SourceSpec source_;
    FrameSink& sink_;
    VideoMode mode_;

    std::recursive_mutex pipelineMutex_;  // the pipeline and what belongs to it
    GstElementPtr pipeline_;
    std::atomic<bool> recording_{false};
    std::atomic<bool> recordingEnds_{false};
    std::chrono::steady_clock::time_point recordingStart_;
    std::chrono::steady_clock::time_point recordingDeadline_;
    bool hasDeadline_ = false;
    QString recordingFile_;

    std::atomic<uint32_t> framesRecorded_{0};
    std::atomic<uint32_t> framesDroppedAtEnd_{0};
    std::atomic<uint64_t> samplesRecorded_{0};
    std::atomic<uint32_t> lastError_{0};
    uint32_t bytesPerSample_ = 1;

    std::mutex frameMutex_;
    std::condition_variable frameArrived_;
    QImage newest_;
    uint64_t frameCount_ = 0;

    std::mutex endMutex_;
    std::condition_variable recordingEnded_;

    std::atomic<bool> busRunning_{true};
    std::thread busThread_;
};

}  // namespace tarvelo
