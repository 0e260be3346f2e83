#include "serial/WorkerThread.h"

#include <chrono>

namespace tarvelo {

WorkerThread::WorkerThread(std::function<void()> pass) : pass_(std::move(pass)) {}

WorkerThread::~WorkerThread()
{
    stop();
}

void WorkerThread::start()
{
    if (!thread_.joinable() && !stopped_)
        thread_ = std::thread([this] { Execute(); });
}

void WorkerThread::stop()
{
    running_ = false;
    if (thread_.joinable())
        thread_.join();
}

void WorkerThread::Execute()
{
    while (running_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        pass_();
    }
    stopped_ = true;
}

}  // namespace tarvelo
