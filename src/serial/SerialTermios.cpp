#include "serial/SerialTermios.h"

namespace tarvelo {
namespace {

speed_t standardSpeed(uint32_t baud)
{
    switch (baud) {
    case 50: return B50;         case 75: return B75;         case 110: return B110;
    case 134: return B134;       case 150: return B150;       case 200: return B200;
    case 300: return B300;       case 600: return B600;       case 1200: return B1200;
    case 1800: return B1800;     case 2400: return B2400;     case 4800: return B4800;
    case 9600: return B9600;     case 19200: return B19200;   case 38400: return B38400;
    case 57600: return B57600;   case 115200: return B115200; case 230400: return B230400;
    case 460800: return B460800; case 500000: return B500000; case 576000: return B576000;
    case 921600: return B921600; case 1000000: return B1000000;
    default: return B0;
    }
}

tcflag_t sizeFlag(uint8_t byteSize)
{
    switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

tcflag_t parityFlags(ParityMode mode)
{
    switch (mode) {
    case ParityMode::Odd: return PARENB | PARODD;
    case ParityMode::Even: return PARENB;
    case ParityMode::Mark: return PARENB | CMSPAR | PARODD;
    case ParityMode::Space: return PARENB | CMSPAR;
    case ParityMode::None: break;
    }
    return 0;
}

}  // namespace

// Raw line, receiver on, modem status ignored, no flow control of any kind,
// received parity not checked (the parity mode still sets the format).
// Reads return at once with what is there.
termios LineTermios(termios tio, uint8_t byteSize, ParityMode parity, StopBitsMode stop)
{
    cfmakeraw(&tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CLOCAL | CREAD | sizeFlag(byteSize) | parityFlags(parity);
    // Linux has no separate 1.5: CSTOPB means 1.5 stop bits with 5 data bits.
    if (stop != StopBitsMode::One)
        tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return tio;
}

bool IsStandardSpeed(uint32_t baud)
{
    return standardSpeed(baud) != B0;
}

bool ApplyStandardSpeed(termios& tio, uint32_t baud)
{
    speed_t speed = standardSpeed(baud);
    if (speed != B0)
        return cfsetispeed(&tio, speed) == 0 && cfsetospeed(&tio, speed) == 0;
    return true;
}

}  // namespace tarvelo
