#pragma once
// The open ports as the send and receive threads see them: each row's
// handle, send ring and lock, the platform that moves the bytes, and where
// received bytes go. The serial component is one; the threads know no more
// of it than this.

#include "serial/SendRing.h"
#include "serial/SerialPlatform.h"

#include <cstdint>
#include <mutex>

namespace tarvelo {

struct TPortEntry {
    int32_t Port = 0;
    PortHandle Handle = InvalidPortHandle;
    SendRing Ring;    // guarded by Lock
    std::mutex Lock;
};

class PortTable {
public:
    virtual int32_t Count() const = 0;
    virtual TPortEntry& row(int32_t i) = 0;
    virtual SerialPlatform& platform() = 0;
    // Bytes read from the row of `index`'s port, on the receive thread.
    virtual void DoReceiveData(int32_t index, const uint8_t* data, int32_t len) = 0;

protected:
    ~PortTable() = default;
};

}  // namespace tarvelo
