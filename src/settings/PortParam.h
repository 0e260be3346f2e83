#pragma once

#include <cstdint>

namespace tarvelo {

// The line settings of the matrix link, as stored under "串口".
struct TPortParam {
    int32_t Port = 0;  // n of COMn
    int32_t BaudRate = 0;
    int32_t DataBits = 0;
    char Parity = 'n';  // n, o, e (m and s accepted when opening)
    int32_t StopBits = 0;
};

}  // namespace tarvelo
