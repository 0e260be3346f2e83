#include "serial/SendRing.h"

namespace tarvelo {

int32_t SendRing::put(const uint8_t* data, int32_t len)
{
    int32_t queuedNow = 0;
    for (; queuedNow < len; ++queuedNow) {
        int32_t next = (Tail + 1) % Size;
        if (next == Head)
            break;
        Buffer[Tail] = data[queuedNow];
        Tail = next;
    }
    return queuedNow;
}

int32_t SendRing::take(uint8_t* out, int32_t max)
{
    int32_t taken = 0;
    for (; taken < max && Head != Tail; ++taken) {
        out[taken] = Buffer[Head];
        Head = (Head + 1) % Size;
    }
    return taken;
}

}  // namespace tarvelo
