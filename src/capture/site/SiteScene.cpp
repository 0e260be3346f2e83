#include "capture/site/SiteScene.h"

#include <array>
#include <cmath>

namespace tarvelo {
namespace {

struct Colour {
    uint8_t r, g, b;
};

Colour fromHue(double hue, double saturation, double value)
{
    double c = value * saturation;
    double h = std::fmod(hue, 360.0) / 60.0;
    double x = c * (1 - std::fabs(std::fmod(h, 2.0) - 1));
    std::array<double, 3> rgb{};
    switch (int(h)) {
    case 0: rgb = {c, x, 0}; break;
    case 1: rgb = {x, c, 0}; break;
    case 2: rgb = {0, c, x}; break;
    case 3: rgb = {0, x, c}; break;
    case 4: rgb = {x, 0, c}; break;
    default: rgb = {c, 0, x}; break;
    }
    double m = value - c;
    auto byte = [m](double v) { return uint8_t(std::lround((v + m) * 255)); };
    return {byte(rgb[0]), byte(rgb[1]), byte(rgb[2])};
}

// What a camera looks at, in scene units (the scene is 1 wide, 0.75 high
// at zoom 1).
class Scene {
public:
    explicit Scene(int64_t camera)
    {
        double hue = double(((camera % 360) + 360) % 360) * 137.5;  // the golden angle spreads neighbours
        light_ = fromHue(hue, 0.45, 0.9);
        dark_ = fromHue(hue + 30, 0.65, 0.45);
        landmark_ = fromHue(hue + 180, 0.9, 1.0);
        pattern_ = int(((camera % 3) + 3) % 3);
        landmarkX_ = 0.22 * std::cos(double(camera));
        landmarkY_ = 0.15 * std::sin(double(camera) * 1.7);
    }

    Colour at(double u, double v) const
    {
        double dx = u - landmarkX_, dy = v - landmarkY_;
        if (dx * dx + dy * dy < 0.11 * 0.11)
            return landmark_;
        if (nearLine(u) || nearLine(v))
            return Grid;
        return odd(u, v) ? light_ : dark_;
    }

private:
    static constexpr Colour Grid{24, 24, 24};

    static bool nearLine(double w) { return std::fabs(w * 4 - std::round(w * 4)) < 0.012; }

    bool odd(double u, double v) const
    {
        switch (pattern_) {
        case 0: return (int64_t(std::floor(u * 8)) + int64_t(std::floor(v * 8))) & 1;
        case 1: return int64_t(std::floor(std::sqrt(u * u + v * v) * 12)) & 1;
        default: return int64_t(std::floor((u + v) * 10)) & 1;
        }
    }

    Colour light_{}, dark_{}, landmark_{};
    int pattern_ = 0;
    double landmarkX_ = 0, landmarkY_ = 0;
};

}  // namespace

void PaintSiteScene(const SiteView& view, uint8_t* bgrx, int width, int height, int stride)
{
    Scene scene(view.camera);
    double across = 1.0 / view.zoom / width, down = 0.75 / view.zoom / height;
    for (int y = 0; y < height; ++y) {
        double v = view.tilt + (y + 0.5 - height / 2.0) * down;
        uint8_t* pixel = bgrx + size_t(y) * size_t(stride);
        for (int x = 0; x < width; ++x, pixel += 4) {
            Colour c = scene.at(view.pan + (x + 0.5 - width / 2.0) * across, v);
            pixel[0] = c.b;
            pixel[1] = c.g;
            pixel[2] = c.r;
            pixel[3] = 255;
        }
    }
}

}  // namespace tarvelo
