// Bytes on the matrix line, as the simulator decodes them: split at any
// point, so that commands cut across reads are decoded too, and decoded
// exactly as the same bytes in one piece are.

#include "MatrixDecoder.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

// What the decoder made of the line: its commands in order, the bytes that
// were none merged between them (a cut may split one raw stretch in two),
// and which camera each monitor shows at the end.
struct Decoded {
    std::vector<std::string> items;
    std::map<int64_t, int64_t> monitors;
    bool operator==(const Decoded&) const = default;
};

void add(Decoded& decoded, const std::vector<matrixsim::MatrixEvent>& events)
{
    for (const auto& e : events) {
        if (e.kind != matrixsim::MatrixEvent::Kind::Raw)
            decoded.items.push_back(e.describe());
        else if (!decoded.items.empty() && decoded.items.back().front() == '\0')
            decoded.items.back() += e.raw;
        else
            decoded.items.push_back('\0' + e.raw);
    }
}

Decoded decode(std::string_view bytes, size_t cut)
{
    matrixsim::MatrixDecoder decoder;
    Decoded decoded;
    add(decoded, decoder.feed(bytes.substr(0, cut)));
    add(decoded, decoder.feed(bytes.substr(cut)));
    add(decoded, decoder.flush());
    if (decoder.pending())
        std::abort();  // flushed means nothing waits
    decoded.monitors = decoder.monitors();
    return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t cut = size > 1 ? data[0] % size : 0;
    if (!(decode(bytes, cut) == decode(bytes, bytes.size())))
        std::abort();  // a cut changes nothing
    return 0;
}
