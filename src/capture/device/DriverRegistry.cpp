#include "capture/device/DriverRegistry.h"

#include <mutex>
#include <optional>

namespace tarvelo {
namespace {

struct Registry {
    std::mutex mutex;
    DriverRegistry::DriverSource source;
    std::optional<std::vector<std::shared_ptr<CaptureDriver>>> drivers;  // empty: not yet looked for
};

Registry& registry()
{
    static Registry r;
    return r;
}

}  // namespace

void DriverRegistry::setDriverSource(DriverSource source)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.source = std::move(source);
    r.drivers.reset();
}

std::shared_ptr<CaptureDriver> DriverRegistry::driver(int32_t index)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (!r.drivers)
        r.drivers = r.source ? r.source(MaxDrivers) : std::vector<std::shared_ptr<CaptureDriver>>{};
    if (index < 0 || index >= MaxDrivers || size_t(index) >= r.drivers->size())
        return nullptr;
    return (*r.drivers)[size_t(index)];
}

}  // namespace tarvelo
