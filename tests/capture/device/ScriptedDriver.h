#pragma once
// A capture driver whose every answer a test decides: it can refuse each
// request, lack overlay or the format dialog, and report a picture size.
// What it was asked to record is kept for the test to look at.

#include "capture/device/CaptureDriver.h"

#include <set>
#include <string>

namespace tarvelo::test {

struct DriverScript {
    std::string name = "Scripted driver";
    bool hasOverlay = true;
    bool hasFormatDialog = true;
    QSize size{320, 240};
    QSize sizeAfterDialog{640, 480};
    std::set<std::string> refused;  // "connect", "caps", "grab", "record", "stop", "dialog"
    RecordingRequest lastRecording;
    FrameSink* sink = nullptr;  // the window connected last
};

class ScriptedDriver : public CaptureDriver {
public:
    explicit ScriptedDriver(DriverScript& script) : script_(script) {}
    std::string description() const override { return script_.name; }
    std::unique_ptr<DriverSession> connect(FrameSink& sink) override;

private:
    DriverScript& script_;
};

}  // namespace tarvelo::test
