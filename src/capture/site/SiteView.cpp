#include "capture/site/SiteView.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace tarvelo {

std::string FormatSiteView(const SiteView& view)
{
    char text[160];
    std::snprintf(text, sizeof text, "camera %lld\npan %.3f\ntilt %.3f\nzoom %.3f\n", (long long)view.camera,
                  view.pan, view.tilt, view.zoom);
    return text;
}

namespace {

// Far beyond where a head can point or zoom, yet small enough that a scene
// position stays a number the painter can round.
bool withinReach(const SiteView& view)
{
    constexpr double Far = 1e6;
    return std::fabs(view.pan) <= Far && std::fabs(view.tilt) <= Far && view.zoom >= 1 / 1000.0 && view.zoom <= Far;
}

}  // namespace

std::optional<SiteView> ParseSiteView(std::string_view text)
{
    SiteView view;
    bool haveCamera = false;
    std::istringstream lines{std::string(text)};
    std::string key;
    while (lines >> key) {
        if (key == "camera")
            haveCamera = bool(lines >> view.camera);
        else if (key == "pan")
            lines >> view.pan;
        else if (key == "tilt")
            lines >> view.tilt;
        else if (key == "zoom")
            lines >> view.zoom;
        if (!lines)
            return std::nullopt;
    }
    if (!haveCamera || !withinReach(view))
        return std::nullopt;
    return view;
}

std::optional<SiteView> ReadSiteView(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
        return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return ParseSiteView(text.str());
}

bool WriteSiteView(const std::string& path, const SiteView& view)
{
    std::string temporary = path + ".new";
    {
        std::ofstream file(temporary, std::ios::trunc);
        if (!(file << FormatSiteView(view)) || !file.flush())
            return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temporary.c_str());
    return false;
}

}  // namespace tarvelo
