#pragma once
// What a port keeps so that it survives its device going away (a USB
// adapter pulled out, a line hung up): the loss is logged once, writes are
// dropped while it lasts, and the receive thread tries once a second to
// open the same port with the same settings again. Each platform's port
// functions close and open the line; this keeps the when and the log.

#include "framework/Log.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace tarvelo {

// The settings a port was opened with; a lost line is opened again with them.
struct LineSettings {
    int32_t number = 0;
    int32_t baudRate = 0;
    int32_t dataBits = 0;
    char parity = 'n';
    float stopBits = 1;

    std::string name() const { return "COM" + std::to_string(number); }
};

class LineLoss {
public:
    // Shared by a read or a write; exclusive while the line is closed or
    // opened again, with both of them out.
    std::shared_mutex lineMutex;

    bool lost() const { return lost_; }

    // `release` closes the line, under the exclusive lock.
    template <typename Release>
    void markLost(const std::string& port, const std::string& reason, Release release)
    {
        {
            std::unique_lock lock(lineMutex);
            if (lost_)
                return;
            release();
            nextAttempt_ = ticksFromNow(ReturnAttemptPeriod);
            lost_ = true;
        }
        logLine("serial", port + ": the line was lost (" + reason + "); trying to open it again once a second");
    }

    // At most one attempt a second; `reopen` opens the line under the
    // exclusive lock and says whether it did.
    template <typename Reopen>
    void tryToReturn(const std::string& port, Reopen reopen)
    {
        if (Clock::now().time_since_epoch().count() < nextAttempt_)
            return;
        {
            std::unique_lock lock(lineMutex);
            if (!lost_)
                return;
            nextAttempt_ = ticksFromNow(ReturnAttemptPeriod);
            if (!reopen())
                return;
            lost_ = false;
        }
        logLine("serial", port + ": the line is back");
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto ReturnAttemptPeriod = std::chrono::seconds(1);

    static Clock::rep ticksFromNow(Clock::duration delay)
    {
        return (Clock::now() + delay).time_since_epoch().count();
    }

    std::atomic<bool> lost_{false};
    std::atomic<Clock::rep> nextAttempt_{0};
};

}  // namespace tarvelo
