#include "serial/SerialPlatform.h"

namespace tarvelo {
namespace {

class SystemPlatform final : public SerialPlatform {
public:
    PortHandle open(int32_t port, int32_t baudRate, int32_t dataBits, char parity, float stopBits) override
    {
        return OpenComm(port, baudRate, dataBits, parity, stopBits);
    }
    void close(PortHandle handle) override { CloseComm(handle); }
    int32_t write(PortHandle handle, const uint8_t* buf, int32_t count) override
    {
        return WriteComm(handle, buf, count);
    }
    int32_t read(PortHandle handle, uint8_t* buf, int32_t max) override { return ReadComm(handle, buf, max); }
};

}  // namespace

SerialPlatform& SystemSerialPlatform()
{
    static SystemPlatform platform;
    return platform;
}

}  // namespace tarvelo
