// The virtual site's file, as the test-pattern driver reads it and paints
// what it says.

#include "capture/site/SiteScene.h"
#include "capture/site/SiteView.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto view = tarvelo::ParseSiteView(std::string_view(reinterpret_cast<const char*>(data), size));
    if (view) {
        std::vector<uint8_t> picture(8 * 6 * 4);
        tarvelo::PaintSiteScene(*view, picture.data(), 8, 6, 8 * 4);
    }
    return 0;
}
