#include "capture/GstDrivers.h"

#include "capture/GstSession.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tarvelo {
namespace {

const std::vector<VideoMode> TestPatternModes = {
    {160, 120, "BGRx"}, {320, 240, "BGRx"}, {352, 288, "BGRx"},  {640, 480, "BGRx"},
    {640, 480, "I420"}, {640, 480, "YUY2"}, {800, 600, "BGRx"}, {1280, 720, "BGRx"},
};

// A moving picture with a running clock, so that a live picture is plain to
// see, and a test tone for recordings with sound.
class TestPatternDriver final : public CaptureDriver {
public:
    std::string description() const override { return "Tarvelo test pattern"; }
    std::unique_ptr<DriverSession> connect(FrameSink& sink) override
    {
        SourceSpec source{"videotestsrc is-live=true pattern=smpte horizontal-speed=4", "30/1",
                        "clockoverlay time-format=\"%H:%M:%S\" font-desc=\"Sans 20\" halignment=right "
                        "valignment=bottom",
                        "audiotestsrc is-live=true wave=sine freq=440 volume=0.3",
                        TestPatternModes,
                        {320, 240, "BGRx"}};
        auto session = std::make_unique<GstSession>(std::move(source), sink);
        return session->start() ? std::move(session) : nullptr;
    }
};

class V4l2Driver final : public CaptureDriver {
public:
    V4l2Driver(std::string device, std::string card) : device_(std::move(device)), card_(std::move(card)) {}
    std::string description() const override { return card_; }
    std::string version() const override { return device_; }
    std::unique_ptr<DriverSession> connect(FrameSink& sink) override
    {
        SourceSpec source{"v4l2src device=" + device_, "", "", "autoaudiosrc", Modes(), {}};
        auto session = std::make_unique<GstSession>(std::move(source), sink);
        return session->start() ? std::move(session) : nullptr;
    }

private:
    static std::vector<VideoMode> Modes()
    {
        return {{}, {320, 240, ""}, {640, 480, ""}, {1280, 720, ""}};
    }
    std::string device_;
    std::string card_;
};

// The card name of a V4L2 device that captures video; empty for others.
std::string captureCardName(const std::string& device)
{
    int fd = ::open(device.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    v4l2_capability cap{};
    bool ok = ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
    ::close(fd);
    uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!ok || !(caps & V4L2_CAP_VIDEO_CAPTURE))
        return {};
    return reinterpret_cast<const char*>(cap.card);
}

}  // namespace

std::vector<std::shared_ptr<CaptureDriver>> SystemCaptureDrivers(int max)
{
    std::vector<std::shared_ptr<CaptureDriver>> drivers;
    if (!EnsureGstreamer())
        return drivers;
    for (int n = 0; n < 64 && int(drivers.size()) < max - 1; ++n) {
        std::string device = "/dev/video" + std::to_string(n);
        std::string card = captureCardName(device);
        if (!card.empty())
            drivers.push_back(std::make_shared<V4l2Driver>(device, card));
    }
    drivers.push_back(std::make_shared<TestPatternDriver>());
    return drivers;
}

}  // namespace tarvelo
