#include "capture/DriverRegistry.h"

#include "capture/GstDrivers.h"

#include <mutex>
#include <optional>

namespace tarvelo {
namespace {

struct Registry {
    std::mutex mutex;
    std::optional<std::vector<std::shared_ptr<CaptureDriver>>> drivers;  // empty: not yet looked for
    std::function<void(const std::string&)> log;
    bool windowCreationFails = false;
};

Registry& registry()
{
    static Registry r;
    return r;
}

}  // namespace

std::shared_ptr<CaptureDriver> DriverRegistry::driver(int32_t index)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (!r.drivers)
        r.drivers = SystemCaptureDrivers(MaxDrivers);
    if (index < 0 || index >= MaxDrivers || size_t(index) >= r.drivers->size())
        return nullptr;
    return (*r.drivers)[size_t(index)];
}

void DriverRegistry::installForTest(std::vector<std::shared_ptr<CaptureDriver>> drivers)
{
    std::lock_guard lock(registry().mutex);
    registry().drivers = std::move(drivers);
}

void DriverRegistry::restoreSystemDrivers()
{
    std::lock_guard lock(registry().mutex);
    registry().drivers.reset();
}

void DriverRegistry::setRequestLog(std::function<void(const std::string&)> log)
{
    std::lock_guard lock(registry().mutex);
    registry().log = std::move(log);
}

void DriverRegistry::logRequest(const std::string& request)
{
    std::function<void(const std::string&)> log;
    {
        std::lock_guard lock(registry().mutex);
        log = registry().log;
    }
    if (log)
        log(request);
}

void DriverRegistry::setWindowCreationFails(bool fails)
{
    registry().windowCreationFails = fails;
}

bool DriverRegistry::windowCreationFails()
{
    return registry().windowCreationFails;
}

}  // namespace tarvelo
