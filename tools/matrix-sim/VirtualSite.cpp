#include "VirtualSite.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace matrixsim {
namespace {

// Per second held: a quarter of the scene's width sideways, a fifth of its
// height up or down, the picture magnified 1.8 times.
constexpr double PanSpeed = 0.25;
constexpr double TiltSpeed = 0.15;
constexpr double ZoomSpeed = 1.8;

}  // namespace

VirtualSite::VirtualSite(std::string file, int64_t localMonitor, Clock::time_point now)
    : file_(std::move(file)), localMonitor_(localMonitor), camera_(localMonitor), movedUntil_(now)
{
    write();
}

VirtualSite::~VirtualSite()
{
    ::unlink(file_.c_str());
}

void VirtualSite::apply(const MatrixEvent& event, Clock::time_point now)
{
    advance(now);  // what was held moved until now
    if (event.kind == MatrixEvent::Kind::Switch && event.monitor == localMonitor_)
        camera_ = event.camera;
    else if (event.kind == MatrixEvent::Kind::Head && event.start)
        held_.insert(event.head.button);
    else if (event.kind == MatrixEvent::Kind::Head)
        held_.erase(event.head.button);
    write();
}

void VirtualSite::advance(Clock::time_point now)
{
    double seconds = std::chrono::duration<double>(now - movedUntil_).count();
    movedUntil_ = now;
    if (held_.empty() || seconds <= 0)
        return;
    Head& head = heads_[camera_];
    for (tarvelo::HeadButton button : held_)
        move(head, button, seconds);
    write();
}

void VirtualSite::move(Head& head, tarvelo::HeadButton button, double seconds) const
{
    using tarvelo::HeadButton;
    switch (button) {
    case HeadButton::Left: head.pan -= PanSpeed * seconds; break;
    case HeadButton::Right: head.pan += PanSpeed * seconds; break;
    case HeadButton::Up: head.tilt -= TiltSpeed * seconds; break;
    case HeadButton::Down: head.tilt += TiltSpeed * seconds; break;
    case HeadButton::ZoomIn: head.zoom *= std::pow(ZoomSpeed, seconds); break;
    case HeadButton::ZoomOut: head.zoom /= std::pow(ZoomSpeed, seconds); break;
    default: return;  // focus and iris: the scene stays sharp and bright
    }
    head.pan = std::clamp(head.pan, -1.5, 1.5);
    head.tilt = std::clamp(head.tilt, -1.0, 1.0);
    head.zoom = std::clamp(head.zoom, 1.0, 6.0);
}

tarvelo::SiteView VirtualSite::view() const
{
    auto found = heads_.find(camera_);
    Head head = found == heads_.end() ? Head{} : found->second;
    return {camera_, head.pan, head.tilt, head.zoom};
}

void VirtualSite::write()
{
    tarvelo::SiteView now = view();
    if (written_ && *written_ == now)
        return;
    if (tarvelo::WriteSiteView(file_, now)) {
        written_ = now;
        writeFailed_ = false;
    } else if (!writeFailed_) {
        std::fprintf(stderr, "matrix-sim: cannot write %s\n", file_.c_str());
        writeFailed_ = true;
    }
}

}  // namespace matrixsim
