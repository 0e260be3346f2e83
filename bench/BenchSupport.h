#pragma once
// What the capture benchmarks share: letting the event loop run, opening
// the test pattern, and choosing a frame size in the driver's format dialog
// as a user would.

#include "capture/Video.h"

#include <QString>

namespace tarvelo::bench {

// Runs the event loop for `ms`, sleeping while nothing happens.
void pump(int ms);

bool chooseSize(TVideoCap& cap, const QString& size);

// Shows `cap` at 640 x 480 on the test-pattern driver; false (and says so)
// when the driver does not open.
bool openTestPattern(TVideoCap& cap);

}  // namespace tarvelo::bench
