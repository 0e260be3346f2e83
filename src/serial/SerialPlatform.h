#pragma once
// The port functions as the serial component calls them, so that a test can
// stand in for the operating system and see every call.

#include "serial/SerialPort.h"

namespace tarvelo {

class SerialPlatform {
public:
    virtual ~SerialPlatform() = default;
    virtual PortHandle open(int32_t port, int32_t baudRate, int32_t dataBits, char parity, float stopBits) = 0;
    virtual void close(PortHandle handle) = 0;
    virtual int32_t write(PortHandle handle, const uint8_t* buf, int32_t count) = 0;
    virtual int32_t read(PortHandle handle, uint8_t* buf, int32_t max) = 0;
};

// The machine's own serial ports.
SerialPlatform& SystemSerialPlatform();

}  // namespace tarvelo
