// The capture drivers of the Windows build: the machine's video inputs, then
// the test pattern, painted in-process (the virtual site's camera where
// TARVELO_SITE names its file), as on Linux. Both record to OpenDML AVI files
// of our own writing.

#include "capture/device/directshow/DirectShowDrivers.h"
#include "capture/device/painted/PaintedPictures.h"
#include "capture/device/painted/PaintedSession.h"
#include "capture/device/SystemDrivers.h"

#include <cstdlib>

namespace tarvelo {
namespace {

const std::vector<VideoMode> TestPatternModes = {
    {160, 120, "BGRx"}, {320, 240, "BGRx"}, {352, 288, "BGRx"},   {640, 480, "BGRx"},
    {800, 600, "BGRx"}, {1280, 720, "BGRx"}, {1920, 1080, "BGRx"},
};

class TestPatternDriver final : public CaptureDriver {
public:
    std::string description() const override { return "Tarvelo test pattern"; }
    std::unique_ptr<DriverSession> connect(FrameSink& sink) override
    {
        PaintedSource source{TestPatternModes, {320, 240, "BGRx"}, 30, PaintTestPattern, OpenAviRecording, OpenWaveIn};
        if (QString site = qEnvironmentVariable(SiteFileVariable); !site.isEmpty())
            source.paint = SitePainter(site);
        return std::make_unique<PaintedSession>(std::move(source), sink);
    }
};

}  // namespace

std::vector<std::shared_ptr<CaptureDriver>> SystemCaptureDrivers(int32_t max)
{
    std::vector<std::shared_ptr<CaptureDriver>> drivers = DirectShowCaptureDrivers(max);
    if (int32_t(drivers.size()) < max)
        drivers.push_back(std::make_shared<TestPatternDriver>());
    return drivers;
}

}  // namespace tarvelo
