// The Windows build has no capture driver yet: the console runs as on a
// machine without a capture device, its status saying so.

#include "capture/device/SystemDrivers.h"

namespace tarvelo {

std::vector<std::shared_ptr<CaptureDriver>> SystemCaptureDrivers(int32_t)
{
    return {};
}

}  // namespace tarvelo
