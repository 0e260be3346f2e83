#pragma once
// The machine's capture drivers on GStreamer: its V4L2 capture devices in
// device order, then the built-in test pattern, at most `max` in all.

#include "capture/device/CaptureDriver.h"

#include <memory>
#include <vector>

namespace tarvelo {

std::vector<std::shared_ptr<CaptureDriver>> SystemCaptureDrivers(int32_t max);

}  // namespace tarvelo
