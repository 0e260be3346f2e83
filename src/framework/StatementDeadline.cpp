#include "framework/StatementDeadline.h"

#include "framework/Log.h"


namespace tarvelo {

StatementDeadline::StatementDeadline(int socket, std::chrono::milliseconds limit)
{
    if (socket >= 0)
        watcher_ = std::thread(&StatementDeadline::watch, this, socket, std::chrono::steady_clock::now() + limit);
}

StatementDeadline::~StatementDeadline()
{
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    wake_.notify_one();
    if (watcher_.joinable())
        watcher_.join();
}

bool StatementDeadline::expired()
{
    std::lock_guard lock(mutex_);
    return expired_;
}

// The socket stays open while we watch it: its connection is closed only on
// the thread that waits for the statement, after this object is gone.
void StatementDeadline::watch(int socket, std::chrono::steady_clock::time_point end)
{
    std::unique_lock lock(mutex_);
    if (wake_.wait_until(lock, end, [this] { return finished_; }))
        return;
    expired_ = true;
    std::string why;
    if (!ShutDownServerSocket(socket, why))
        logLine("database", "cannot end a statement past its time: " + why);
}

}  // namespace tarvelo
