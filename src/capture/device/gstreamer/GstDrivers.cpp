#include "capture/device/SystemDrivers.h"

#include "capture/device/gstreamer/GstSession.h"
#include "capture/site/SiteSource.h"
#include "capture/site/SiteView.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tarvelo {
namespace {

const std::vector<VideoMode> TestPatternModes = {
    {160, 120, "BGRx"}, {320, 240, "BGRx"}, {352, 288, "BGRx"},  {640, 480, "BGRx"},
    {640, 480, "I420"}, {640, 480, "YUY2"}, {800, 600, "BGRx"}, {1280, 720, "BGRx"}, {1920, 1080, "BGRx"},
};

// A moving picture with a running clock, so that a live picture is plain to
// see, and a test tone for recordings with sound. Where TARVELO_SITE names a
// site file, it shows the virtual site's camera instead.
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
                          {320, 240, "BGRx"},
                          {}};
        const char* site = std::getenv(SiteFileVariable);
        if (site && *site) {
            source.video = SiteSourceDescription();
            source.prepare = [file = std::string(site)](GstElement* pipeline) { AttachSiteSource(pipeline, file); };
        }
        auto session = std::make_unique<GstSession>(std::move(source), sink);
        return session->start() ? std::move(session) : nullptr;
    }
};

void addMode(std::vector<VideoMode>& modes, const GstStructure* s)
{
    int width = 0, height = 0;
    if (!gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height))
        return;  // a range, not a size one can pick
    const char* format = gst_structure_get_string(s, "format");
    VideoMode mode{width, height, format ? format : ""};
    if (std::find(modes.begin(), modes.end(), mode) == modes.end())
        modes.push_back(mode);
}

// The raw frame sizes and formats the device offers, as its driver lists them.
std::vector<VideoMode> deviceModes(const std::string& device)
{
    std::vector<VideoMode> modes{{}};  // first: whatever the device gives by itself
    GstElement* made = gst_element_factory_make("v4l2src", nullptr);
    if (!made)
        return modes;
    GstElementPtr source(GST_ELEMENT(gst_object_ref_sink(made)));
    g_object_set(source.get(), "device", device.c_str(), nullptr);
    if (gst_element_set_state(source.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE) {
        GstPadPtr pad(gst_element_get_static_pad(source.get(), "src"));
        GstCapsPtr caps(gst_pad_query_caps(pad.get(), nullptr));
        for (guint i = 0; caps && i < gst_caps_get_size(caps.get()); ++i) {
            const GstStructure* s = gst_caps_get_structure(caps.get(), i);
            if (gst_structure_has_name(s, "video/x-raw"))
                addMode(modes, s);
        }
    }
    gst_element_set_state(source.get(), GST_STATE_NULL);
    return modes;
}

class V4l2Driver final : public CaptureDriver {
public:
    V4l2Driver(std::string device, std::string card) : device_(std::move(device)), card_(std::move(card)) {}
    std::string description() const override { return card_; }
    std::string version() const override { return device_; }
    std::unique_ptr<DriverSession> connect(FrameSink& sink) override
    {
        SourceSpec source{"v4l2src device=" + device_, "", "", "autoaudiosrc", deviceModes(device_), {}, {}};
        auto session = std::make_unique<GstSession>(std::move(source), sink);
        return session->start() ? std::move(session) : nullptr;
    }

private:
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

std::vector<std::shared_ptr<CaptureDriver>> SystemCaptureDrivers(int32_t max)
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
