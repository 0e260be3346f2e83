#pragma once
// Baud rates that termios has no constant for. Kept apart because the
// kernel's termios2 header cannot share a file with <termios.h>.

#include <cstdint>

namespace tarvelo {

// Sets both directions of `fd` to `baud` bits per second.
bool SetCustomBaudRate(int fd, uint32_t baud);

// The output speed the driver reports, 0 when it cannot be read.
uint32_t ReadBaudRate(int fd);

}  // namespace tarvelo
