#pragma once
// The send ring of one port: 8192 bytes, of which at most 8191 are queued
// at a time. Not locked itself; its port entry's lock guards it.

#include <array>
#include <cstdint>

namespace tarvelo {

class SendRing {
public:
    static constexpr int32_t Size = 8192;

    // Queues bytes in order until the ring is full; the rest are dropped.
    // Returns how many were queued.
    int32_t put(const uint8_t* data, int32_t len);

    // Takes up to `max` bytes, oldest first. Returns how many.
    int32_t take(uint8_t* out, int32_t max);

    bool empty() const { return Head == Tail; }
    int32_t queued() const { return (Tail - Head + Size) % Size; }

    int32_t Head = 0;  // next byte to send
    int32_t Tail = 0;  // where the next queued byte goes

private:
    std::array<uint8_t, Size> Buffer{};
};

}  // namespace tarvelo
