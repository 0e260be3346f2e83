#include "serial/LineDrain.h"

#include <algorithm>
#include <cmath>

namespace tarvelo {

using std::chrono::microseconds;

microseconds CharacterTime(const LineSettings& line)
{
    int bits = 1 + std::max(5, int(line.dataBits)) + (line.parity == 'n' || line.parity == 'N' ? 0 : 1) +
               int(std::ceil(std::max(1.0f, line.stopBits)));
    long long rate = std::max(1, int(line.baudRate));
    return microseconds((bits * 1000000LL + rate - 1) / rate);
}

bool LineDrain::waitUntilSent(std::chrono::steady_clock::time_point started, long bytes, const LineSettings& line,
                              std::chrono::milliseconds limit) const
{
    const microseconds character = CharacterTime(line);
    const auto onTheLine = started + character * (std::max(0L, bytes) + 1);
    const auto giveUp = started + limit;
    for (;;) {
        auto at = now();
        long queued = queuedBytes();
        if (queued <= 0 && at >= onTheLine)
            return true;
        if (at >= giveUp)
            return false;
        // Still queued: about the time the queue needs; else the rest of the
        // last character's.
        auto wait = queued > 0 ? character * queued : std::chrono::duration_cast<microseconds>(onTheLine - at);
        sleep(std::clamp(wait, microseconds(100), std::chrono::duration_cast<microseconds>(giveUp - at)));
    }
}

}  // namespace tarvelo
