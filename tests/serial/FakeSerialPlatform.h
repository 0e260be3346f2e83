#pragma once
// Stands in for the operating system's serial ports: records every call,
// and answers reads from bytes the test puts in. Safe to call from the
// worker threads.

#include "serial/SerialPlatform.h"

#include <condition_variable>
#include <algorithm>
#include <map>
#include <set>
#include <mutex>
#include <string>
#include <vector>

namespace tarvelo::test {

class FakeSerialPlatform : public SerialPlatform {
public:
    PortHandle open(int32_t port, int32_t, int32_t, char, float) override
    {
        std::lock_guard lock(mutex_);
        calls_.push_back("open " + std::to_string(port));
        if (refused_.count(port) || openPorts_.count(port))
            return InvalidPortHandle;
        openPorts_.insert(port);
        return PortHandle(port + 1000);
    }
    void close(PortHandle handle) override
    {
        std::lock_guard lock(mutex_);
        calls_.push_back("close " + std::to_string(handle - 1000));
        openPorts_.erase(int32_t(handle - 1000));
    }
    int32_t write(PortHandle handle, const uint8_t* buf, int32_t count) override
    {
        std::lock_guard lock(mutex_);
        writes_[handle - 1000].emplace_back(buf, buf + count);
        changed_.notify_all();
        return count;
    }
    int32_t read(PortHandle handle, uint8_t* buf, int32_t max) override
    {
        std::lock_guard lock(mutex_);
        std::string& waiting = input_[handle - 1000];
        int32_t n = std::min<int32_t>(max, int32_t(waiting.size()));
        std::copy_n(waiting.begin(), n, buf);
        waiting.erase(0, size_t(n));
        return n;
    }

    void refuse(int32_t port) { std::lock_guard lock(mutex_); refused_.insert(port); }
    void arrive(int32_t port, const std::string& bytes) { std::lock_guard lock(mutex_); input_[port] += bytes; }
    size_t waitingInput(int32_t port) { std::lock_guard lock(mutex_); return input_[port].size(); }
    std::vector<std::string> calls() { std::lock_guard lock(mutex_); return calls_; }

    // The writes to a port so far, waiting up to two seconds for `atLeast` bytes.
    std::vector<std::string> writes(int32_t port, size_t atLeast = 0)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(2), [&] { return total(writes_[port]) >= atLeast; });
        return writes_[port];
    }

private:
    static size_t total(const std::vector<std::string>& pieces)
    {
        size_t n = 0;
        for (const auto& p : pieces)
            n += p.size();
        return n;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> calls_;
    std::set<int32_t> refused_, openPorts_;
    std::map<int64_t, std::vector<std::string>> writes_;
    std::map<int64_t, std::string> input_;
};

}  // namespace tarvelo::test
