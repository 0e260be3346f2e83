#pragma once
// The serial component: a table of open ports, each with its own send ring
// and lock. Callers queue bytes with SendData and never wait for the line;
// a send thread and a receive thread do all port input and output.
//
// Order of use: OpenPort, StartThreads, SendData..., StopThreads, ClosePorts.
// Assign OnReceiveData before StartThreads; it runs on the receive thread.

#include "serial/PortTable.h"
#include "serial/RecvThread.h"
#include "serial/SendThread.h"

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace tarvelo {

class TMSerialPort final : public PortTable {
public:
    static constexpr int32_t MaxRows = 100;
    static constexpr int32_t FirstRefusedPort = 99;

    using TPortReceiveData = std::function<void(int32_t index, const uint8_t* data, int32_t len)>;

    explicit TMSerialPort(SerialPlatform& platform = SystemSerialPlatform());
    ~TMSerialPort();  // stops the threads and closes the ports left open

    TMSerialPort(const TMSerialPort&) = delete;
    TMSerialPort& operator=(const TMSerialPort&) = delete;

    bool OpenPort(int32_t Port, int32_t BaudRate, int32_t DataBits, char Parity, float StopBits);
    void SendData(int32_t Port, const uint8_t* Data, int32_t Len);
    void ClosePorts();

    bool StartThreads();
    bool StopThreads();

    // Waits, at most `limit`, until the send thread has taken every queued
    // byte. False when bytes are still queued.
    bool waitUntilSent(std::chrono::milliseconds limit);

    void DoReceiveData(int32_t index, const uint8_t* data, int32_t len) override;
    TPortReceiveData OnReceiveData;

    int32_t Count() const override { return count_; }
    TPortEntry& row(int32_t i) override { return *ports_[size_t(i)]; }
    SerialPlatform& platform() override { return platform_; }

private:
    SerialPlatform& platform_;
    std::array<std::unique_ptr<TPortEntry>, MaxRows> ports_;
    int32_t count_ = 0;
    std::unique_ptr<TSendThread> sendThread_;
    std::unique_ptr<TRecvThread> recvThread_;
};

}  // namespace tarvelo
