#include "capture/GstSupport.h"

#include <mutex>

namespace tarvelo {

bool EnsureGstreamer()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = gst_init_check(nullptr, nullptr, nullptr); });
    return ready;
}

}  // namespace tarvelo
