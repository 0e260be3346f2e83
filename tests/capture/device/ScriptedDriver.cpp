#include "ScriptedDriver.h"

namespace tarvelo::test {
namespace {

class ScriptedSession : public DriverSession {
public:
    explicit ScriptedSession(DriverScript& script) : script_(script) {}

    bool getCaps(CAPDRIVERCAPS& caps) override
    {
        if (refuses("caps"))
            return false;
        caps.fHasOverlay = script_.hasOverlay;
        caps.fHasDlgVideoFormat = script_.hasFormatDialog;
        return true;
    }
    QSize frameSize() override { return script_.size; }
    bool setLive(bool) override { return true; }
    bool grab(QImage& frame) override
    {
        if (refuses("grab"))
            return false;
        frame = QImage(script_.size, QImage::Format_RGB32);
        frame.fill(Qt::darkCyan);
        return true;
    }
    bool startRecording(const RecordingRequest& request) override
    {
        script_.lastRecording = request;
        recording_ = !refuses("record");
        return recording_;
    }
    bool stopRecording() override
    {
        recording_ = false;
        return !refuses("stop");
    }
    RecordingProgress progress() override { return {recording_}; }
    std::vector<VideoMode> modes() override
    {
        if (!script_.hasFormatDialog)
            return {};
        return {{script_.size.width(), script_.size.height(), "BGRx"},
                {script_.sizeAfterDialog.width(), script_.sizeAfterDialog.height(), "BGRx"}};
    }
    VideoMode mode() override { return {script_.size.width(), script_.size.height(), "BGRx"}; }
    bool setMode(const VideoMode&) override
    {
        if (refuses("dialog"))
            return false;
        script_.size = script_.sizeAfterDialog;
        return true;
    }

private:
    bool refuses(const char* request) const { return script_.refused.count(request) != 0; }

    DriverScript& script_;
    bool recording_ = false;
};

}  // namespace

std::unique_ptr<DriverSession> ScriptedDriver::connect(FrameSink& sink)
{
    if (script_.refused.count("connect"))
        return nullptr;
    script_.sink = &sink;
    return std::make_unique<ScriptedSession>(script_);
}

}  // namespace tarvelo::test
