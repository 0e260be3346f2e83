// The serial port functions on POSIX termios (Linux).

#include "framework/Log.h"
#include "serial/CustomBaud.h"
#include "serial/LineLoss.h"
#include "serial/SerialPort.h"
#include "serial/SerialTermios.h"

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/serial.h>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <shared_mutex>
#include <sys/stat.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace tarvelo {
namespace {

using Clock = std::chrono::steady_clock;

enum class RtsControl { Driver, Manual, None };

// What a PortHandle points at. The send thread writes and the receive
// thread reads at the same time (shared), while a lost line is closed and
// opened again only with both of them out (exclusive).
struct PosixPort : LineSettings {
    LineLoss line;
    int fd = -1;  // -1 while the line is lost
    RtsControl rts = RtsControl::None;
    std::optional<termios> savedTermios;
    std::optional<serial_rs485> savedRs485;

    std::atomic<uint32_t> emptyReads{0};
};

// A hung-up line reads as empty, like a quiet one; asking the line whether
// it hung up on every empty read would cost the idle receive thread a
// second call each pass, so it is asked on every 64th (about 70 ms).
constexpr uint32_t HangUpCheckEvery = 64;

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
// TIOCEXCL stays on the line after close unless it is cleared (see
// releaseLine).
int openExclusive(const std::string& path, std::string& why)
{
    FdCloser fd{::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)};
    if (fd.fd < 0) {
        why = "cannot open " + path + ": " + systemErrorText(errno);
        return -1;
    }
    if (!isatty(fd.fd)) {
        why = path + " is not a serial line";
        return -1;
    }
    if (flock(fd.fd, LOCK_EX | LOCK_NB) != 0) {
        why = path + " is in use by another program: " + systemErrorText(errno);
        return -1;
    }
    ioctl(fd.fd, TIOCEXCL);
    return fd.release();
}

bool configure(PosixPort& port, std::string& why)
{
    uint8_t byteSize = ByteSizeFromDataBits(port.dataBits);
    if (port.baudRate <= 0 || byteSize < 5 || byteSize > 8) {
        why = "a line cannot carry " + std::to_string(port.baudRate) + " baud with " + std::to_string(byteSize) +
              " data bits";
        return false;
    }
    termios current{};
    if (tcgetattr(port.fd, &current) != 0) {
        why = "cannot read the line settings: " + systemErrorText(errno);
        return false;
    }
    port.savedTermios = current;
    auto baud = uint32_t(port.baudRate);
    termios wanted =
        LineTermios(current, byteSize, ParityFromLetter(port.parity), StopBitsFromCount(port.stopBits));
    if (!ApplyStandardSpeed(wanted, baud) || tcsetattr(port.fd, TCSANOW, &wanted) != 0) {
        why = "the driver refuses the line settings: " + systemErrorText(errno);
        return false;
    }
    if (!IsStandardSpeed(baud) && !SetCustomBaudRate(port.fd, baud)) {
        why = "the driver refuses " + std::to_string(baud) + " baud: " + systemErrorText(errno);
        return false;
    }
    return true;
}

// RTS only while sending: the driver's RS-485 mode does it in hardware;
// without it the send path raises RTS around each write. Pseudo-terminals
// have no modem lines at all.
void setUpRtsToggle(PosixPort& port)
{
    port.rts = RtsControl::None;
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

// Gives the line back as it was found. The exclusive mode must be cleared
// by hand: it belongs to the line, not to our descriptor, and would refuse
// every later open by an ordinary user for as long as anyone else (the
// matrix's end of a pseudo-terminal, another program) keeps it open.
void releaseLine(PosixPort& port, bool discardQueued)
{
    if (port.fd < 0)
        return;
    if (discardQueued)
        tcflush(port.fd, TCIOFLUSH);
    if (port.savedRs485)
        ioctl(port.fd, TIOCSRS485, &*port.savedRs485);
    if (port.savedTermios)
        tcsetattr(port.fd, TCSANOW, &*port.savedTermios);
    ioctl(port.fd, TIOCNXCL);
    ::close(port.fd);  // also drops the lock
    port.fd = -1;
    port.savedRs485.reset();
    port.savedTermios.reset();
}

// Opens and configures the device the port's number names now (a COMn link
// may point somewhere else than before). On failure nothing stays open.
bool openLine(PosixPort& port, std::string& why)
{
    std::string path = PortDevicePath(port.number);
    if (path.empty()) {
        why = "no serial line has that number";
        return false;
    }
    port.fd = openExclusive(path, why);
    if (port.fd < 0)
        return false;
    bool ok = configure(port, why);
    if (ok)
        setUpRtsToggle(port);
    assertDtr(port.fd);
    if (!ok)
        releaseLine(port, true);
    return ok;
}

// The errors of a device that is gone: a USB adapter pulled out, a line
// hung up, the far end of a pseudo-terminal closed.
bool isLossError(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV;
}

bool hungUp(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
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

struct WriteResult {
    int32_t written = 0;
    std::string lossReason;  // empty while the line is there
};

WriteResult writeAll(int fd, const uint8_t* buf, int32_t count, uint32_t baud)
{
    WriteResult result;
    auto deadline = Clock::now() + stallLimit(baud, count);
    while (result.written < count) {
        ssize_t n = ::write(fd, buf + result.written, size_t(count - result.written));
        if (n > 0) {
            result.written += int32_t(n);
            deadline = Clock::now() + stallLimit(baud, count - result.written);
            continue;
        }
        if (n < 0 && isLossError(errno)) {
            result.lossReason = systemErrorText(errno);
            break;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLOUT, 0};
        int ready = poll(&p, 1, int(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0 && (p.revents & POLLHUP))
            result.lossReason = "the line hung up";
        if (ready <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
            break;
    }
    return result;
}

}  // namespace

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

// Windows sizes the driver's queues to 1000 bytes each way here; the Linux
// tty layer has fixed buffers and no such call.
PortHandle OpenComm(int32_t Port, int32_t BaudRate, int32_t DataBits, char Parity, float StopBits)
{
    auto port = std::make_unique<PosixPort>();
    static_cast<LineSettings&>(*port) = {Port, BaudRate, DataBits, Parity, StopBits};
    std::string why;
    if (!openLine(*port, why)) {
        logLine("serial", port->name() + ": " + why);
        return InvalidPortHandle;
    }
    return reinterpret_cast<PortHandle>(port.release());
}

void CloseComm(PortHandle handle)
{
    std::unique_ptr<PosixPort> port(portOf(handle));
    if (!port)
        return;
    std::unique_lock lock(port->line.lineMutex);
    releaseLine(*port, true);
}

// Bytes given while the line is lost are dropped: a camera head must not
// move on orders given long before its line came back.
int32_t WriteComm(PortHandle handle, const uint8_t* buf, int32_t count)
{
    PosixPort* port = portOf(handle);
    if (!port || count <= 0 || port->line.lost())
        return 0;
    WriteResult result;
    {
        std::shared_lock lock(port->line.lineMutex);
        if (port->fd < 0)
            return 0;
        if (port->rts == RtsControl::Manual)
            setRts(port->fd, true);
        result = writeAll(port->fd, buf, count, uint32_t(port->baudRate));
        if (port->rts == RtsControl::Manual && result.lossReason.empty()) {
            tcdrain(port->fd);
            setRts(port->fd, false);
        }
    }
    if (!result.lossReason.empty())
        port->line.markLost(port->name(), result.lossReason, [&] { releaseLine(*port, false); });
    return result.written;
}

// Only what is already waiting is taken: the port is non-blocking, so one
// read asks for it and returns at once when nothing is there, which costs
// the idle receive thread one call a pass instead of a query and a read.
// Windows also clears the line's error flags here (ClearCommError); a Linux
// tty keeps none to clear, and bad bytes simply arrive as they are.
// The receive thread polls all the time, so it is also the one that brings
// a lost line back.
int32_t ReadComm(PortHandle handle, uint8_t* buf, int32_t max)
{
    PosixPort* port = portOf(handle);
    if (!port || max <= 0)
        return 0;
    if (port->line.lost()) {
        port->line.tryToReturn(port->name(), [&] {
            std::string why;
            return openLine(*port, why);
        });
        return 0;
    }
    ssize_t n = 0;
    std::string lossReason;
    {
        std::shared_lock lock(port->line.lineMutex);
        if (port->fd < 0)
            return 0;
        n = ::read(port->fd, buf, size_t(max));
        if (n < 0 && isLossError(errno))
            lossReason = systemErrorText(errno);
        else if (n <= 0 && port->emptyReads.fetch_add(1, std::memory_order_relaxed) % HangUpCheckEvery == 0 &&
                 hungUp(port->fd))
            lossReason = "the line hung up";
    }
    if (!lossReason.empty())
        port->line.markLost(port->name(), lossReason, [&] { releaseLine(*port, false); });
    return n > 0 ? int32_t(n) : 0;
}

}  // namespace tarvelo
