#pragma once
// Polls each port for bytes already waiting (up to 1000 a pass) and hands
// them to the component's receive handler, on this thread.

#include "serial/WorkerThread.h"

#include <array>
#include <cstdint>

namespace tarvelo {

class PortTable;

class TRecvThread {
public:
    static constexpr int32_t ReadSize = 1000;

    explicit TRecvThread(PortTable& owner);

    void Start() { worker_.start(); }
    void Stop() { worker_.stop(); }

private:
    void Pass();

    PortTable& Owner;
    const int32_t rows_;
    std::array<uint8_t, 1025> buffer_{};
    WorkerThread worker_;
};

}  // namespace tarvelo
