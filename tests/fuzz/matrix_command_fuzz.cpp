// Bytes on the matrix line, as the simulator decodes them: split at every
// point, so that commands cut across reads are decoded too.

#include "MatrixDecoder.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t cut = size > 1 ? data[0] % size : 0;
    matrixsim::MatrixDecoder decoder;
    size_t events = 0;
    for (const auto& e : decoder.feed(bytes.substr(0, cut)))
        events += !e.describe().empty();
    for (const auto& e : decoder.feed(bytes.substr(cut)))
        events += !e.describe().empty();
    for (const auto& e : decoder.flush())
        events += !e.describe().empty();
    if (decoder.pending())
        std::abort();  // flushed means nothing waits
    (void)events;
    return 0;
}
