#include "serial/SerialPort.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sys/stat.h>

namespace tarvelo {

ParityMode ParityFromLetter(char letter)
{
    switch (std::tolower(static_cast<unsigned char>(letter))) {
    case 'o': return ParityMode::Odd;
    case 'e': return ParityMode::Even;
    case 'm': return ParityMode::Mark;
    case 's': return ParityMode::Space;
    default: return ParityMode::None;
    }
}

StopBitsMode StopBitsFromCount(float stopBits)
{
    // Ten times the count, truncated toward zero; values far outside any
    // integer range select one stop bit like every other unknown value.
    float tenfold = std::trunc(stopBits * 10.0f);
    if (tenfold == 15.0f)
        return StopBitsMode::OneAndHalf;
    if (tenfold == 20.0f)
        return StopBitsMode::Two;
    return StopBitsMode::One;
}

uint8_t ByteSizeFromDataBits(int32_t dataBits)
{
    return static_cast<uint8_t>(static_cast<uint32_t>(dataBits) & 0xFFu);
}

// COMn is $TARVELO_COMPORTS/COMn where that directory holds such an entry (a
// link to a USB adapter, a pseudo-terminal, ...), else the n-th on-board port.
std::string PortDevicePath(int32_t port)
{
    if (port <= 0)
        return {};
    std::string name = "COM" + std::to_string(port);
    if (const char* dir = std::getenv("TARVELO_COMPORTS"); dir && *dir) {
        std::string candidate = std::string(dir) + "/" + name;
        struct stat st{};
        if (lstat(candidate.c_str(), &st) == 0)
            return candidate;
    }
    return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace tarvelo
