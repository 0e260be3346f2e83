#pragma once
// What stands behind a capture window: an installed driver, and the session
// it opens when a window connects to it.

#include "capture/device/CaptureBlocks.h"

#include <QString>

#include <QImage>
#include <QSize>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace tarvelo {

// A frame size and pixel format a device can deliver.
struct VideoMode {
    int width = 0;  // 0: whatever the device gives
    int height = 0;
    std::string format;  // a GStreamer raw format name, empty for any
    bool operator==(const VideoMode&) const = default;
};

// How a connected driver reaches its window. Called on the driver's
// streaming threads; implementations are thread-safe.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // A live frame, shown by overlay or preview and kept as the current frame.
    virtual void frameArrived(const QImage& frame, VIDEOHDR* header) = 0;
    virtual void videoRecorded(VIDEOHDR* header) = 0;
    virtual void audioRecorded(WAVEHDR* header) = 0;
    virtual void statusChanged(int32_t id, const std::string& text) = 0;
};

struct RecordingRequest {
    QString file;             // empty: record without a file
    CAPTUREPARMS parms;
    WAVEFORMATEX audioFormat;
};

struct RecordingProgress {
    bool capturing = false;
    uint32_t frames = 0;
    uint32_t dropped = 0;
    uint32_t audioSamples = 0;
    uint32_t elapsedMs = 0;
    uint32_t lastError = 0;  // a CaptureStatusCode, 0 for none
    bool fileExists = false;
};

// What the status line says when a recording ends.
inline std::string RecordingSummary(uint32_t frames, uint32_t dropped, uint32_t elapsedMs)
{
    char summary[96];
    std::snprintf(summary, sizeof summary, "Captured %u frames (%u dropped) %u.%03u sec.", frames, dropped,
                  elapsedMs / 1000, elapsedMs % 1000);
    return summary;
}

// A connected device. Every request comes from the thread that connected
// it; only the FrameSink hears from the device's own threads.
class DriverSession {
public:
    virtual ~DriverSession() = default;
    virtual bool getCaps(CAPDRIVERCAPS& caps) = 0;
    virtual QSize frameSize() = 0;
    virtual bool setLive(bool on) = 0;  // frames flow to the sink while on
    // A frame newer than the request; false when none comes in time.
    virtual bool grab(QImage& frame) = 0;
    virtual bool startRecording(const RecordingRequest& request) = 0;
    virtual bool stopRecording() = 0;
    virtual RecordingProgress progress() = 0;
    // The sizes and formats the device offers (none: it offers no choice),
    // the one in use, and a change of it. A mode the device cannot deliver
    // is refused, and the picture goes on in the old one.
    virtual std::vector<VideoMode> modes() = 0;
    virtual VideoMode mode() = 0;
    virtual bool setMode(const VideoMode& mode) = 0;
    virtual bool hasAudio() { return false; }
};

class CaptureDriver {
public:
    virtual ~CaptureDriver() = default;
    virtual std::string description() const = 0;
    virtual std::string version() const { return "1.0"; }
    // Null when the device refuses (missing, busy, broken).
    virtual std::unique_ptr<DriverSession> connect(FrameSink& sink) = 0;
};

}  // namespace tarvelo
