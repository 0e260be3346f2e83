#include "serial/MSerialPort.h"

#include "framework/Log.h"

#include <thread>

namespace tarvelo {

TMSerialPort::TMSerialPort(SerialPlatform& platform) : platform_(platform) {}

TMSerialPort::~TMSerialPort()
{
    ClosePorts();
}

bool TMSerialPort::OpenPort(int32_t Port, int32_t BaudRate, int32_t DataBits, char Parity, float StopBits)
{
    // Ports of 99 and up are refused before the system is asked. An open
    // port is not looked for: its second open fails, being exclusive.
    if (count_ >= MaxRows || Port >= FirstRefusedPort)
        return false;
    PortHandle handle = platform_.open(Port, BaudRate, DataBits, Parity, StopBits);
    if (handle == InvalidPortHandle)
        return false;
    auto row = std::make_unique<TPortEntry>();
    row->Port = Port;
    row->Handle = handle;
    ports_[size_t(count_)] = std::move(row);
    ++count_;
    return true;
}

void TMSerialPort::SendData(int32_t Port, const uint8_t* Data, int32_t Len)
{
    if (Len <= 0 || !Data)
        return;
    for (int32_t i = 0; i < count_; ++i) {
        TPortEntry& row = *ports_[size_t(i)];
        if (row.Port != Port)
            continue;
        std::lock_guard lock(row.Lock);
        row.Ring.put(Data, Len);  // what does not fit is dropped
        return;
    }
}

void TMSerialPort::ClosePorts()
{
    // The workers read the table without a lock: they must be gone first.
    StopThreads();
    for (int32_t i = 0; i < count_; ++i) {
        platform_.close(ports_[size_t(i)]->Handle);
        ports_[size_t(i)].reset();
    }
    count_ = 0;
}

bool TMSerialPort::StartThreads()
{
    if (sendThread_ || recvThread_)
        return true;  // already running; a second pair would share the rows
    sendThread_ = std::make_unique<TSendThread>(*this);
    sendThread_->Start();
    recvThread_ = std::make_unique<TRecvThread>(*this);
    recvThread_->Start();
    return true;
}

bool TMSerialPort::StopThreads()
{
    if (sendThread_) {
        sendThread_->Stop();
        sendThread_.reset();
    }
    if (recvThread_) {
        recvThread_->Stop();
        recvThread_.reset();
    }
    return true;
}

// Runs on the receive thread, where a handler's exception would end the
// process: it is logged, and the thread goes on polling.
bool TMSerialPort::waitUntilSent(std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        bool queued = false;
        for (int32_t i = 0; i < count_ && !queued; ++i) {
            std::lock_guard lock(ports_[size_t(i)]->Lock);
            queued = !ports_[size_t(i)]->Ring.empty();
        }
        if (!queued)
            return true;
        if (!sendThread_ || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void TMSerialPort::DoReceiveData(int32_t index, const uint8_t* data, int32_t len)
{
    if (OnReceiveData)
        catchAndLog("serial", [&] { OnReceiveData(index, data, len); });
}

}  // namespace tarvelo
