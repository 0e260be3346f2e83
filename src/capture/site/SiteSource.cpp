#include "capture/site/SiteSource.h"

#include "media/GstSupport.h"
#include "capture/site/SiteScene.h"
#include "capture/site/SiteView.h"

#include <chrono>
#include <optional>

namespace tarvelo {
namespace {

using Clock = std::chrono::steady_clock;

// A small file read twenty times a second costs nothing next to the painting,
// and a head's movement still looks smooth.
constexpr auto ReadInterval = std::chrono::milliseconds(50);

// Lives as long as the probe: only the source's streaming thread uses it.
class SiteProbe {
public:
    SiteProbe(std::string siteFile, GstElementPtr label) : file_(std::move(siteFile)), label_(std::move(label)) {}
    ~SiteProbe() { InCallback::waitUntilNone(inProbe_); }

    void onBuffer(GstPad* pad, GstPadProbeInfo* info)
    {
        InCallback inProbe(inProbe_);
        refresh();
        if (!view_)
            return;
        GstCapsPtr caps(gst_pad_get_current_caps(pad));
        int width = 0, height = 0;
        const GstStructure* s = caps ? gst_caps_get_structure(caps.get(), 0) : nullptr;
        if (!s || !gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height))
            return;
        GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
        GstMapInfo map{};
        if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE))
            return;
        if (map.size >= size_t(width) * size_t(height) * 4)
            PaintSiteScene(*view_, map.data, width, height, width * 4);
        gst_buffer_unmap(buffer, &map);
    }

private:
    void refresh()
    {
        Clock::time_point now = Clock::now();
        if (now < nextRead_)
            return;
        nextRead_ = now + ReadInterval;
        view_ = ReadSiteView(file_);
        int64_t camera = view_ ? view_->camera : 0;
        if (!label_ || (labelled_ && camera == labelledCamera_))
            return;
        std::string text = view_ ? "摄像机 " + std::to_string(camera) : std::string();
        g_object_set(label_.get(), "text", text.c_str(), nullptr);
        labelled_ = true;
        labelledCamera_ = camera;
    }

    std::string file_;
    GstElementPtr label_;
    std::optional<SiteView> view_;
    Clock::time_point nextRead_{};
    bool labelled_ = false;
    int64_t labelledCamera_ = 0;
    std::atomic<int> inProbe_{0};
};

GstPadProbeReturn onBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer probe)
{
    static_cast<SiteProbe*>(probe)->onBuffer(pad, info);
    return GST_PAD_PROBE_OK;
}

}  // namespace

std::string SiteSourceDescription()
{
    return "videotestsrc name=scene is-live=true pattern=smpte horizontal-speed=4"
           " ! video/x-raw,format=BGRx,width=640,height=480,framerate=30/1"
           " ! textoverlay name=sitelabel text=\"\" font-desc=\"Sans Bold 26\" halignment=left valignment=top"
           " shaded-background=true ! videoconvert ! videoscale";
}

void AttachSiteSource(GstElement* pipeline, const std::string& siteFile)
{
    GstElementPtr scene(gst_bin_get_by_name(GST_BIN(pipeline), "scene"));
    if (!scene)
        return;
    GstPadPtr pad(gst_element_get_static_pad(scene.get(), "src"));
    GstElementPtr label(gst_bin_get_by_name(GST_BIN(pipeline), "sitelabel"));
    auto* probe = new SiteProbe(siteFile, std::move(label));
    gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, &onBuffer, probe,
                      [](gpointer p) { delete static_cast<SiteProbe*>(p); });
}

}  // namespace tarvelo
