#pragma once
// When the last byte of a write has left a half-duplex (RS-485) line, so
// that RTS may drop and the converter turn round without cutting it off.
// The driver's empty output queue alone is not enough: the UART still
// holds bytes in its FIFO and shift register, and they leave no faster than
// the line's rate allows.

#include "serial/LineLoss.h"

#include <chrono>
#include <functional>

namespace tarvelo {

// One character's time on the line: start bit, data bits, parity bit and
// stop bits at the line's rate (1.5 stop bits count as 2).
std::chrono::microseconds CharacterTime(const LineSettings& line);

struct LineDrain {
    std::function<long()> queuedBytes;  // the driver's output queue (-1: cannot tell)
    std::function<std::chrono::steady_clock::time_point()> now = [] { return std::chrono::steady_clock::now(); };
    std::function<void(std::chrono::microseconds)> sleep;

    // Returns once the queue is empty and `bytes` characters, and one more
    // for the UART's own buffer, have had their time on the line since
    // `started`; gives up after `limit`. False when it gave up.
    bool waitUntilSent(std::chrono::steady_clock::time_point started, long bytes, const LineSettings& line,
                       std::chrono::milliseconds limit) const;
};

}  // namespace tarvelo
