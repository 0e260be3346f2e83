#include "serial/SerialPort.h"

#include <cctype>
#include <cmath>

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

}  // namespace tarvelo
