#include "matrix/MatrixControl.h"

#include "serial/MSerialPort.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tarvelo {

MatrixControl::MatrixControl(TMSerialPort& serial, const MatrixSettings& settings)
    : serial_(serial), settings_(settings)
{
}

void MatrixControl::SwitchToMonitor(int32_t camera)
{
    SwitchTo(settings_.LocalMonitor, camera);
}

void MatrixControl::SwitchToTV(int32_t camera)
{
    SwitchTo(settings_.MainMonitor, camera);
}

void MatrixControl::SwitchTo(int32_t monitor, int32_t camera)
{
    if (!settings_.PortOpen)
        return;
    currentPort_ = camera;
    SendMatrixCommand(SwitchCommand(monitor, camera));
}

void MatrixControl::SendMatrixCommand(std::string_view text)
{
    std::array<uint8_t, CommandBufferSize> buffer;
    size_t length = std::min(text.size(), buffer.size());
    std::memcpy(buffer.data(), text.data(), length);
    serial_.SendData(settings_.MatrixPort, buffer.data(), int32_t(length));
}

}  // namespace tarvelo
