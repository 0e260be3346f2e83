#pragma once
// The virtual site: what the camera on the monitor wired to the capture card
// ("本机") looks at. The matrix simulator writes it to a small text file
// named by TARVELO_SITE; the test-pattern driver reads it and draws that
// camera's scene. The file holds four lines, for example
//
//   camera 12
//   pan 0.250
//   tilt -0.100
//   zoom 1.500
//
// pan and tilt are where the head points, in widths of the scene seen at
// zoom 1 (pan grows to the right, tilt downwards); zoom magnifies. The
// simulator replaces the file as a whole (rename), so a reader never sees
// half of it; no file means no simulator.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvelo {

inline constexpr const char* SiteFileVariable = "TARVELO_SITE";

struct SiteView {
    int64_t camera = 0;
    double pan = 0;
    double tilt = 0;
    double zoom = 1;

    bool operator==(const SiteView&) const = default;
};

std::string FormatSiteView(const SiteView& view);
// nullopt without a camera line, or with a position or zoom no head reaches
std::optional<SiteView> ParseSiteView(std::string_view text);

std::optional<SiteView> ReadSiteView(const std::string& path);
bool WriteSiteView(const std::string& path, const SiteView& view);  // whole or not at all

}  // namespace tarvelo
