#pragma once
// What the capture benchmarks share: letting the event loop run, and
// choosing a frame size in the driver's format dialog as a user would.

#include "capture/Video.h"

#include <QString>

namespace tarvelo::bench {

// Runs the event loop for `ms`, sleeping while nothing happens.
void pump(int ms);

bool chooseSize(TVideoCap& cap, const QString& size);

}  // namespace tarvelo::bench
