// The serial port functions on Win32's communications API.

#include "framework/Log.h"
#include "framework/WindowsError.h"
#include "serial/LineDrain.h"
#include "serial/LineLoss.h"
#include "serial/SerialPort.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

namespace tarvelo {
namespace {

constexpr DWORD DriverQueueBytes = 1000;

// RTS only while sending: the driver's toggle mode where it has one, else
// raised around each write by hand (Wine's serial driver, some USB ones).
enum class RtsControl { Driver, Manual };

// What a PortHandle points at. The send thread writes and the receive
// thread reads at the same time (shared), while a lost line is closed and
// opened again only with both of them out (exclusive).
struct Win32Port : LineSettings {
    LineLoss line;
    HANDLE handle = INVALID_HANDLE_VALUE;  // invalid while the line is lost
    RtsControl rts = RtsControl::Driver;
    std::string returnFailure;  // why the last attempt to reopen a lost line failed
};

// The errors of a device that is gone: a USB adapter pulled out, its
// driver unloaded, the line's far end closed.
bool isLossError(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_HANDLE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE:
        return true;
    default:
        return false;
    }
}

// The reason to give the line up after a failed call, or nothing when the
// failure is not the device's going.
std::string lossReasonOfLastError()
{
    DWORD error = GetLastError();
    return isLossError(error) ? windowsErrorText(error) : std::string();
}

Win32Port* portOf(PortHandle handle)
{
    return handle == InvalidPortHandle ? nullptr : reinterpret_cast<Win32Port*>(handle);
}

std::string lastError()
{
    return windowsErrorText(GetLastError());
}

void fillControlBlock(DCB& dcb, const Win32Port& port)
{
    dcb.BaudRate = DWORD(port.baudRate);
    dcb.ByteSize = ByteSizeFromDataBits(port.dataBits);
    dcb.Parity = BYTE(ParityFromLetter(port.parity));
    dcb.StopBits = BYTE(StopBitsFromCount(port.stopBits));
    // The whole flags word: binary, DTR held, RTS raised only while sending;
    // no parity check of what arrives, no flow control, no replacements.
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    dcb.fAbortOnError = FALSE;
    dcb.XonLim = 0;
    dcb.XoffLim = 0;
}

// Writes may not wait for ever: when the line takes nothing for longer
// than it needs for the bytes given, twice over, and a second more (the
// other end stopped its flow, a cable came loose), the write gives up and
// says how much went out. The send thread then goes on and can be stopped.
COMMTIMEOUTS timeoutsFor(int32_t baudRate)
{
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1;
    timeouts.WriteTotalTimeoutMultiplier = baudRate > 0 ? DWORD(2 * 12 * 1000 / baudRate + 1) : 0;
    timeouts.WriteTotalTimeoutConstant = 1000;
    return timeouts;
}

bool setLineFormat(HANDLE handle, DCB& dcb, Win32Port& port)
{
    port.rts = RtsControl::Driver;
    if (SetCommState(handle, &dcb))
        return true;
    DWORD refused = GetLastError();
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    if (SetCommState(handle, &dcb)) {
        port.rts = RtsControl::Manual;
        return true;
    }
    SetLastError(refused);
    return false;
}

bool configure(HANDLE handle, Win32Port& port, std::string& why)
{
    if (!SetupComm(handle, DriverQueueBytes, DriverQueueBytes)) {
        why = "the driver refuses its queue sizes: " + lastError();
        return false;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        why = "cannot read the line settings: " + lastError();
        return false;
    }
    fillControlBlock(dcb, port);
    if (!setLineFormat(handle, dcb, port)) {
        why = "the driver refuses the line settings: " + lastError();
        return false;
    }
    COMMTIMEOUTS timeouts = timeoutsFor(port.baudRate);
    if (!SetCommTimeouts(handle, &timeouts)) {
        why = "the driver refuses the time-outs: " + lastError();
        return false;
    }
    return true;
}

// Opens and configures the port; on failure nothing stays open.
bool openLine(Win32Port& port, std::string& why)
{
    std::string path = PortDevicePath(port.number);
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        why = "cannot open " + path + ": " + lastError();
        return false;
    }
    bool ok = configure(handle, port, why);
    EscapeCommFunction(handle, SETDTR);  // whatever came before; its failure changes nothing
    if (!ok) {
        CloseHandle(handle);
        return false;
    }
    port.handle = handle;
    return true;
}

void releaseLine(Win32Port& port, bool discardQueued)
{
    if (port.handle == INVALID_HANDLE_VALUE)
        return;
    if (discardQueued)
        PurgeComm(port.handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
    CloseHandle(port.handle);
    port.handle = INVALID_HANDLE_VALUE;
}

}  // namespace

// No leading zeros; a negative number keeps its sign (and opens nothing).
std::string PortDevicePath(int32_t port)
{
    return "\\\\.\\COM" + std::to_string(port);
}

PortHandle OpenComm(int32_t Port, int32_t BaudRate, int32_t DataBits, char Parity, float StopBits)
{
    auto port = std::make_unique<Win32Port>();
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
    std::unique_ptr<Win32Port> port(portOf(handle));
    if (!port)
        return;
    std::unique_lock lock(port->line.lineMutex);
    releaseLine(*port, true);
}

// FlushFileBuffers returns once the driver has handed the bytes on, not
// once they have left: RTS waits for an empty output queue and for every
// character's time on the line.
namespace {

void waitUntilSent(const Win32Port& port, std::chrono::steady_clock::time_point started, long bytes)
{
    FlushFileBuffers(port.handle);
    LineDrain drain;
    drain.queuedBytes = [&port]() -> long {
        DWORD errors = 0;
        COMSTAT status{};
        return ClearCommError(port.handle, &errors, &status) ? long(status.cbOutQue) : -1;
    };
    drain.sleep = [](std::chrono::microseconds wait) { std::this_thread::sleep_for(wait); };
    auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(CharacterTime(port) * (bytes + 1) * 4) +
                 std::chrono::milliseconds(200);
    if (!drain.waitUntilSent(started, bytes, port, limit))
        logLine("serial", port.name() + ": the driver still held bytes when RTS had to drop");
}

}  // namespace

// Bytes given while the line is lost are dropped: a camera head must not
// move on orders given long before its line came back.
int32_t WriteComm(PortHandle handle, const uint8_t* buf, int32_t count)
{
    Win32Port* port = portOf(handle);
    if (!port || count <= 0 || port->line.lost())
        return 0;
    DWORD written = 0;
    std::string lossReason;
    {
        std::shared_lock lock(port->line.lineMutex);
        auto started = std::chrono::steady_clock::now();
        if (port->handle == INVALID_HANDLE_VALUE)
            return 0;
        if (port->rts == RtsControl::Manual)
            EscapeCommFunction(port->handle, SETRTS);
        if (!WriteFile(port->handle, buf, DWORD(count), &written, nullptr)) {
            lossReason = lossReasonOfLastError();
            written = 0;
        }
        if (port->rts == RtsControl::Manual && lossReason.empty()) {
            waitUntilSent(*port, started, long(written));
            EscapeCommFunction(port->handle, CLRRTS);
        }
    }
    if (!lossReason.empty())
        port->line.markLost(port->name(), lossReason, [&] { releaseLine(*port, false); });
    return int32_t(written);
}

// Only what is already waiting is read, so a read never waits. The line's
// error flags (framing, overrun, parity) are cleared here and not reported.
// The receive thread polls all the time, so it is also the one that brings
// a lost line back.
int32_t ReadComm(PortHandle handle, uint8_t* buf, int32_t max)
{
    Win32Port* port = portOf(handle);
    if (!port || max <= 0)
        return 0;
    if (port->line.lost()) {
        port->line.tryToReturn(port->name(), [&] {
            std::string why;
            bool opened = openLine(*port, why);
            if (!opened && why != port->returnFailure)
                logLine("serial", port->name() + ": still lost: " + why);  // once for each new reason
            port->returnFailure = opened ? std::string() : why;
            return opened;
        });
        return 0;
    }
    DWORD read = 0;
    std::string lossReason;
    {
        std::shared_lock lock(port->line.lineMutex);
        if (port->handle == INVALID_HANDLE_VALUE)
            return 0;
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(port->handle, &errors, &status)) {
            lossReason = lossReasonOfLastError();
        } else if (status.cbInQue > 0) {
            DWORD wanted = std::min<DWORD>(status.cbInQue, DWORD(max));
            if (!ReadFile(port->handle, buf, wanted, &read, nullptr)) {
                lossReason = lossReasonOfLastError();
                read = 0;
            }
        }
    }
    if (!lossReason.empty())
        port->line.markLost(port->name(), lossReason, [&] { releaseLine(*port, false); });
    return int32_t(read);
}

}  // namespace tarvelo
