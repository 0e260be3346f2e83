#include "capture/GstSupport.h"

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

}  // namespace tarvelo
