#pragma once
// Moves queued bytes from each port's send ring to the port: at most 100
// bytes per port per pass, written outside the ring's lock.

#include "serial/WorkerThread.h"

#include <array>
#include <cstdint>

namespace tarvelo {

class PortTable;

class TSendThread {
public:
    static constexpr int32_t PieceSize = 100;

    // Serves the rows that are open now; rows added later are not served.
    explicit TSendThread(PortTable& owner);

    void Start() { worker_.start(); }
    void Stop() { worker_.stop(); }

private:
    void Pass();

    PortTable& Owner;
    const int32_t rows_;
    std::array<uint8_t, PieceSize> piece_{};
    WorkerThread worker_;  // last: stopped before the rest goes
};

}  // namespace tarvelo
