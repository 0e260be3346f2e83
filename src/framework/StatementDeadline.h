#pragma once
// A statement that a server never answers, on a link that went silent
// without closing (a firewall that dropped its idle state, a pulled cable,
// a peer that stopped forwarding), would keep the user-interface thread
// waiting for good. A deadline shuts the connection's socket down when its
// time is up, so the wait ends as a lost connection does.

#include <QSqlDatabase>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tarvelo {

// The socket of a connection to a server, or -1 where the driver gives none
// (SQLite, ODBC).
int ServerSocketOf(const QSqlDatabase& db);

// Ends every exchange on the socket, so that a read waiting on it returns.
bool ShutDownServerSocket(int socket, std::string& why);

class StatementDeadline {
public:
    // Nothing is watched for a socket of -1.
    StatementDeadline(int socket, std::chrono::milliseconds limit);
    ~StatementDeadline();  // the watch ends here, before the socket can close

    StatementDeadline(const StatementDeadline&) = delete;
    StatementDeadline& operator=(const StatementDeadline&) = delete;

    bool expired();

private:
    void watch(int socket, std::chrono::steady_clock::time_point end);

    std::mutex mutex_;
    std::condition_variable wake_;
    bool finished_ = false;
    bool expired_ = false;
    std::thread watcher_;
};

}  // namespace tarvelo
