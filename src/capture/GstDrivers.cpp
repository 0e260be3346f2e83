#include "capture/GstDrivers.h"

namespace tarvelo {

std::vector<std::shared_ptr<CaptureDriver>> SystemCaptureDrivers(int)
{
    return {};
}

}  // namespace tarvelo
