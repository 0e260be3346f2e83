#pragma once
// The installed capture drivers, 0 to 9. Where they come from is given at
// start: the library gives the machine's GStreamer drivers, a test gives
// scripted ones.

#include "capture/device/CaptureDriver.h"

#include <functional>
#include <memory>
#include <vector>

namespace tarvelo {

class DriverRegistry {
public:
    static constexpr int32_t MaxDrivers = 10;

    // Finds the drivers, at most `max` of them.
    using DriverSource = std::function<std::vector<std::shared_ptr<CaptureDriver>>(int32_t max)>;

    // Asked once, at the first request after it is set. Without a source
    // there are no drivers.
    static void setDriverSource(DriverSource source);

    static std::shared_ptr<CaptureDriver> driver(int32_t index);  // null when none
};

}  // namespace tarvelo
