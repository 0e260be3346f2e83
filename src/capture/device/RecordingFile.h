#pragma once
// The file a recording is written to: Motion-JPEG key frames, one per
// frame time, and the sound's samples where it has sound; the index is
// written and everything is on the disk once it is closed. Made, used and
// closed on one thread.

#include "capture/device/CaptureBlocks.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <string>

namespace tarvelo {

class RecordingFile {
public:
    virtual ~RecordingFile() = default;
    // The next frame of the video stream; false, with the reason, when it
    // could not be written.
    virtual bool addFrame(const QByteArray& jpeg, std::string& why) = 0;
    // The next samples of the sound stream, where the file has one.
    virtual bool addSound(const QByteArray& samples, std::string& why) = 0;
    // Writes the index and flushes the file to the disk.
    virtual bool close(std::string& why) = 0;
};

struct RecordingFormat {
    QSize frameSize;
    uint32_t microSecPerFrame = 66667;
    bool withSound = false;
    WAVEFORMATEX sound;
};

// Null, with the reason, when the file cannot be made.
using RecordingFileOpener =
    std::function<std::unique_ptr<RecordingFile>(const QString& path, const RecordingFormat& format, std::string& why)>;

// An OpenDML AVI file of our own writing (AviRecordingFile), as the Windows
// build records; Linux records through GStreamer's muxer.
std::unique_ptr<RecordingFile> OpenAviRecording(const QString& path, const RecordingFormat& format, std::string& why);

}  // namespace tarvelo
