#pragma once
// The machine's capture drivers, in the order the console numbers them,
// at most `max` in all: on Linux its V4L2 capture devices then the built-in
// test pattern (GStreamer); on Windows none yet.

#include "capture/device/CaptureDriver.h"

#include <memory>
#include <vector>

namespace tarvelo {

std::vector<std::shared_ptr<CaptureDriver>> SystemCaptureDrivers(int32_t max);

}  // namespace tarvelo
