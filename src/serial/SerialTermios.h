#pragma once
// The termios settings the POSIX port functions give a port, on their own
// so that they can be checked where a driver would not keep them
// (pseudo-terminals always report 8 data bits and no parity).

#include "serial/SerialPort.h"

#include <cstdint>
#include <termios.h>

namespace tarvelo {

termios LineTermios(termios base, uint8_t byteSize, ParityMode parity, StopBitsMode stop);

// Whether termios names `baud`; any other rate is set through termios2
// once the line is configured.
bool IsStandardSpeed(uint32_t baud);
// Sets a rate termios names; true, and nothing changed, for any other.
bool ApplyStandardSpeed(termios& tio, uint32_t baud);

}  // namespace tarvelo
