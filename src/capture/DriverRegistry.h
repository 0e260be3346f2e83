#pragma once
// The installed capture drivers, 0 to 9: the machine's V4L2 capture
// devices in device order, then the built-in test pattern. Tests put
// scripted drivers in their place.

#include "capture/CaptureDriver.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvelo {

class DriverRegistry {
public:
    static constexpr int32_t MaxDrivers = 10;

    static std::shared_ptr<CaptureDriver> driver(int32_t index);  // null when none

    // Replaces the installed drivers until restoreSystemDrivers().
    static void installForTest(std::vector<std::shared_ptr<CaptureDriver>> drivers);
    static void restoreSystemDrivers();

    // Every capture request, in order, as "capName argument" (tests only).
    static void setRequestLog(std::function<void(const std::string&)> log);
    static void logRequest(const std::string& request);

    // Lets a test make the next window creations fail.
    static void setWindowCreationFails(bool fails);
    static bool windowCreationFails();
};

}  // namespace tarvelo
