// The serial port functions on POSIX termios (Linux).

#include "serial/CustomBaud.h"
#include "serial/SerialPort.h"
#include "serial/SerialTermios.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/serial.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace tarvelo {
namespace {

enum class RtsControl { Driver, Manual, None };

// What a PortHandle points at.
struct PosixPort {
    int fd = -1;
    uint32_t baud = 0;
    RtsControl rts = RtsControl::None;
    std::optional<termios> savedTermios;
    std::optional<serial_rs485> savedRs485;
};

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

PosixPort* portOf(PortHandle handle)
{
    return handle == InvalidPortHandle ? nullptr : reinterpret_cast<PosixPort*>(handle);
}

// No sharing: a second open of the same port, from this process or any
// other, must fail. TIOCEXCL alone does not stop root; the lock does.
int openExclusive(const std::string& path)
{
    FdCloser fd{::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)};
    if (fd.fd < 0 || !isatty(fd.fd) || flock(fd.fd, LOCK_EX | LOCK_NB) != 0)
        return -1;
    ioctl(fd.fd, TIOCEXCL);
    return fd.release();
}

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

namespace {

bool applySpeed(termios& tio, uint32_t baud)
{
    speed_t speed = standardSpeed(baud);
    if (speed != B0)
        return cfsetispeed(&tio, speed) == 0 && cfsetospeed(&tio, speed) == 0;
    return true;  // set after tcsetattr, through termios2
}

bool configure(PosixPort& port, int32_t baudRate, uint8_t byteSize, ParityMode parity, StopBitsMode stop)
{
    if (baudRate <= 0 || byteSize < 5 || byteSize > 8)
        return false;  // a format the line cannot carry
    termios current{};
    if (tcgetattr(port.fd, &current) != 0)
        return false;
    port.savedTermios = current;
    port.baud = static_cast<uint32_t>(baudRate);
    termios wanted = LineTermios(current, byteSize, parity, stop);
    if (!applySpeed(wanted, port.baud) || tcsetattr(port.fd, TCSANOW, &wanted) != 0)
        return false;
    return standardSpeed(port.baud) != B0 || SetCustomBaudRate(port.fd, port.baud);
}

// RTS only while sending: the driver's RS-485 mode does it in hardware;
// without it the send path raises RTS around each write. Pseudo-terminals
// have no modem lines at all.
void setUpRtsToggle(PosixPort& port)
{
    serial_rs485 rs485{};
    if (ioctl(port.fd, TIOCGRS485, &rs485) == 0) {
        port.savedRs485 = rs485;
        rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs485.flags &= ~SER_RS485_RTS_AFTER_SEND;
        if (ioctl(port.fd, TIOCSRS485, &rs485) == 0) {
            port.rts = RtsControl::Driver;
            return;
        }
    }
    int lines = 0;
    if (ioctl(port.fd, TIOCMGET, &lines) == 0) {
        port.rts = RtsControl::Manual;
        int rts = TIOCM_RTS;
        ioctl(port.fd, TIOCMBIC, &rts);
    }
}

void assertDtr(int fd)
{
    int dtr = TIOCM_DTR;
    ioctl(fd, TIOCMBIS, &dtr);  // fails on pseudo-terminals; nothing to do then
}

void setRts(int fd, bool on)
{
    int rts = TIOCM_RTS;
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &rts);
}

// A write blocks until all its bytes are taken, as on Windows, but not
// forever: when the line takes nothing for longer than it needs for a few
// hundred bytes (the other end stopped reading, a cable came loose), the
// write gives up and says how much went out.
std::chrono::milliseconds stallLimit(uint32_t baud, int32_t remaining)
{
    uint64_t bytes = uint64_t(std::min(remaining, 512));
    uint64_t lineMs = baud ? bytes * 12 * 1000 / baud : 0;
    return std::chrono::milliseconds(1000 + 2 * lineMs);
}

int32_t writeAll(int fd, const uint8_t* buf, int32_t count, uint32_t baud)
{
    int32_t done = 0;
    auto deadline = std::chrono::steady_clock::now() + stallLimit(baud, count);
    while (done < count) {
        ssize_t n = ::write(fd, buf + done, size_t(count - done));
        if (n > 0) {
            done += int32_t(n);
            deadline = std::chrono::steady_clock::now() + stallLimit(baud, count - done);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLOUT, 0};
        int ready = poll(&p, 1, int(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
            break;
    }
    return done;
}

}  // namespace

// Windows sizes the driver's queues to 1000 bytes each way here; the Linux
// tty layer has fixed buffers and no such call.
PortHandle OpenComm(int32_t Port, int32_t BaudRate, int32_t DataBits, char Parity, float StopBits)
{
    std::string path = PortDevicePath(Port);
    if (path.empty())
        return InvalidPortHandle;
    auto port = std::make_unique<PosixPort>();
    port->fd = openExclusive(path);
    if (port->fd < 0)
        return InvalidPortHandle;
    bool ok = configure(*port, BaudRate, ByteSizeFromDataBits(DataBits), ParityFromLetter(Parity),
                        StopBitsFromCount(StopBits));
    if (ok)
        setUpRtsToggle(*port);
    assertDtr(port->fd);
    if (!ok) {
        // The caller never sees this handle, so it is released here.
        CloseComm(reinterpret_cast<PortHandle>(port.release()));
        return InvalidPortHandle;
    }
    return reinterpret_cast<PortHandle>(port.release());
}

void CloseComm(PortHandle handle)
{
    std::unique_ptr<PosixPort> port(portOf(handle));
    if (!port)
        return;
    tcflush(port->fd, TCIOFLUSH);
    if (port->savedRs485)
        ioctl(port->fd, TIOCSRS485, &*port->savedRs485);
    if (port->savedTermios)
        tcsetattr(port->fd, TCSANOW, &*port->savedTermios);
    ::close(port->fd);  // also drops the lock
}

int32_t WriteComm(PortHandle handle, const uint8_t* buf, int32_t count)
{
    PosixPort* port = portOf(handle);
    if (!port || count <= 0)
        return 0;
    if (port->rts == RtsControl::Manual)
        setRts(port->fd, true);
    int32_t written = writeAll(port->fd, buf, count, port->baud);
    if (port->rts == RtsControl::Manual) {
        tcdrain(port->fd);
        setRts(port->fd, false);
    }
    return written;
}

// Only what is already waiting is taken: the port is non-blocking, so one
// read asks for it and returns at once when nothing is there, which costs
// the idle receive thread one call a pass instead of a query and a read.
// Windows also clears the line's error flags here (ClearCommError); a Linux
// tty keeps none to clear, and bad bytes simply arrive as they are.
int32_t ReadComm(PortHandle handle, uint8_t* buf, int32_t max)
{
    PosixPort* port = portOf(handle);
    if (!port || max <= 0)
        return 0;
    ssize_t n = ::read(port->fd, buf, size_t(max));
    return n > 0 ? int32_t(n) : 0;
}

}  // namespace tarvelo
