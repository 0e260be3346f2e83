#pragma once
// A polling worker: sleeps one millisecond, runs one pass, again, until it
// is stopped. Stop returns only once the thread has left its loop.

#include <atomic>
#include <functional>
#include <thread>

namespace tarvelo {

class WorkerThread {
public:
    explicit WorkerThread(std::function<void()> pass);
    ~WorkerThread();

    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    void start();
    void stop();  // prompt: at most one sleep and one pass

    bool stopped() const { return stopped_.load(); }

private:
    void Execute();

    std::function<void()> pass_;
    std::atomic<bool> running_{true};
    std::atomic<bool> stopped_{false};
    std::thread thread_;
};

}  // namespace tarvelo
