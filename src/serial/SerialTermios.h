#pragma once
// The termios settings the POSIX port functions give a port, on their own
// so that they can be checked where a driver would not keep them
// (pseudo-terminals always report 8 data bits and no parity).

#include "serial/SerialPort.h"

#include <termios.h>

namespace tarvelo {

termios LineTermios(termios base, uint8_t byteSize, ParityMode parity, StopBitsMode stop);

}  // namespace tarvelo
