#pragma once
// The serial port functions: open a numbered port with its line settings,
// write, read what is waiting, close. Each platform has a file of its own
// behind these declarations.

#include <cstdint>
#include <string>

namespace tarvelo {

using PortHandle = intptr_t;
constexpr PortHandle InvalidPortHandle = -1;

// Opens port n exclusively, raw, with no flow control, DTR asserted and RTS
// raised only while sending. -1 when the port is missing, busy or refuses
// the settings; the reason is logged.
//
// A handle survives its device going away (a USB adapter pulled out, the
// line hung up): the loss is logged, writes are dropped while it lasts, and
// ReadComm tries once a second to open the same port with the same settings
// again, logging the line's return.
PortHandle OpenComm(int32_t Port, int32_t BaudRate, int32_t DataBits, char Parity, float StopBits);

// Discards what is still queued either way, then releases the port for the
// next user.
void CloseComm(PortHandle handle);

// Writes all of `count` bytes; the number written, 0 on failure.
int32_t WriteComm(PortHandle handle, const uint8_t* buf, int32_t count);

// Reads only what is already waiting, at most `max` bytes; never waits.
int32_t ReadComm(PortHandle handle, uint8_t* buf, int32_t max);

// The line-format rules, shared by every platform.
enum class ParityMode { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class StopBitsMode { One = 0, OneAndHalf = 1, Two = 2 };

ParityMode ParityFromLetter(char letter);        // unknown letters mean none
StopBitsMode StopBitsFromCount(float stopBits);  // by ten times the count, truncated
uint8_t ByteSizeFromDataBits(int32_t dataBits);  // the low 8 bits

// The device that port n names on this machine: "\\.\COMn" on Windows; on
// Linux a path, empty when n names none.
std::string PortDevicePath(int32_t port);

}  // namespace tarvelo
