#include "media/GstSupport.h"

#include <dlfcn.h>
#include <mutex>

namespace tarvelo {

bool EnsureGstreamer()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        // GStreamer's own threads and plugins outlive a plug-in that is
        // unloaded; the library stays in the process for them.
        Dl_info info{};
        if (dladdr(reinterpret_cast<const void*>(&gst_init_check), &info) && info.dli_fname)
            dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
        ready = gst_init_check(nullptr, nullptr, nullptr);
    });
    return ready;
}

MappedSample::MappedSample(GstSample* sample)
{
    if (!sample)
        return;
    buffer_ = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    if (!buffer_ || !caps)
        return;
    GstStructure* s = gst_caps_get_structure(caps, 0);
    gst_structure_get_int(s, "width", &width_);
    gst_structure_get_int(s, "height", &height_);
    mapped_ = width_ > 0 && height_ > 0 && gst_buffer_map(buffer_, &map_, GST_MAP_READ);
}

MappedSample::~MappedSample()
{
    if (mapped_)
        gst_buffer_unmap(buffer_, &map_);
}

QImage MappedSample::copy() const
{
    if (!mapped_)
        return {};
    int stride = int(map_.size / size_t(height_));
    return QImage(map_.data, width_, height_, stride, QImage::Format_RGB32).copy();
}

}  // namespace tarvelo
