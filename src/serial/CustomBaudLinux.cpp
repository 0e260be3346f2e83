#include "serial/CustomBaud.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace tarvelo {

bool SetCustomBaudRate(int fd, uint32_t baud)
{
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_cflag &= ~CBAUD;
    tio.c_cflag |= BOTHER;
    tio.c_cflag &= ~(CBAUD << IBSHIFT);
    tio.c_cflag |= BOTHER << IBSHIFT;
    tio.c_ospeed = baud;
    tio.c_ispeed = baud;
    return ioctl(fd, TCSETS2, &tio) == 0;
}

uint32_t ReadBaudRate(int fd)
{
    struct termios2 tio {};
    return ioctl(fd, TCGETS2, &tio) == 0 ? tio.c_ospeed : 0;
}

}  // namespace tarvelo
