#pragma once
// The machine's video-input devices as DirectShow lists them (the Windows
// build): one driver each, named by the device's own name.

#include "capture/device/CaptureDriver.h"

#include <memory>
#include <vector>

namespace tarvelo {

std::vector<std::shared_ptr<CaptureDriver>> DirectShowCaptureDrivers(int32_t max);

}  // namespace tarvelo
