#pragma once
// The console's side of the matrix link: switching cameras to this
// machine's monitor or the main monitor, and the camera-head commands.
// Commands are queued on the serial component and never waited for.

#include "matrix/MatrixProtocol.h"

#include <cstdint>
#include <string_view>

namespace tarvelo {

class TMSerialPort;

struct MatrixSettings {
    int32_t MatrixPort = 0;    // serial port number of the link
    bool PortOpen = false;     // the link opened when the console was created
    int32_t LocalMonitor = 1;  // matrix output feeding this machine
    int32_t MainMonitor = 2;   // matrix output of the main monitor
};

class MatrixControl {
public:
    static constexpr size_t CommandBufferSize = 1025;

    MatrixControl(TMSerialPort& serial, const MatrixSettings& settings);

    // Both do nothing while the link is down, CurrentPort included.
    void SwitchToMonitor(int32_t camera);
    void SwitchToTV(int32_t camera);

    // Sends the text as it is; a text longer than the command buffer is cut
    // to the buffer's length.
    void SendMatrixCommand(std::string_view text);

    void PressHeadButton(HeadButton button) { SendMatrixCommand(HeadCommand(button, true)); }
    void ReleaseHeadButton(HeadButton button) { SendMatrixCommand(HeadCommand(button, false)); }

    int32_t CurrentPort() const { return currentPort_; }
    const MatrixSettings& Settings() const { return settings_; }

private:
    void SwitchTo(int32_t monitor, int32_t camera);

    TMSerialPort& serial_;
    MatrixSettings settings_;
    int32_t currentPort_ = 0;  // the camera last switched, recorded with snapshots
};

}  // namespace tarvelo
