#pragma once
// The cameras behind the virtual matrix. The decoder knows which camera
// each monitor shows; this keeps where each camera's head points, moves the
// head of the camera on this machine's monitor while a head command is
// held, and writes what that camera sees to the site file, which the
// library's test-pattern driver draws.

#include "MatrixDecoder.h"
#include "capture/site/SiteView.h"

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace matrixsim {

class VirtualSite {
public:
    using Clock = std::chrono::steady_clock;

    // Until a camera is switched there, monitor n shows camera n.
    VirtualSite(std::string file, int64_t localMonitor, Clock::time_point now);
    ~VirtualSite();  // the file goes with the simulator

    VirtualSite(const VirtualSite&) = delete;
    VirtualSite& operator=(const VirtualSite&) = delete;

    void apply(const MatrixEvent& event, Clock::time_point now);

    // Moves the heads that are held up to `now`; writes the file when the
    // view changed.
    void advance(Clock::time_point now);

    bool moving() const { return !held_.empty(); }
    tarvelo::SiteView view() const;

private:
    struct Head {
        double pan = 0;
        double tilt = 0;
        double zoom = 1;
    };

    void move(Head& head, tarvelo::HeadButton button, double seconds) const;
    void write();

    std::string file_;
    int64_t localMonitor_;
    int64_t camera_;  // on the local monitor
    std::map<int64_t, Head> heads_;
    std::set<tarvelo::HeadButton> held_;
    Clock::time_point movedUntil_;
    std::optional<tarvelo::SiteView> written_;
    bool writeFailed_ = false;
};

}  // namespace matrixsim
