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
#include <vector>

namespace tarvelo {

// The socket of a connection to a server, or -1 where the driver gives none
// (SQLite, ODBC).
int ServerSocketOf(const QSqlDatabase& db);

// Ends every exchange on the socket, so that a read waiting on it returns.
bool ShutDownServerSocket(int socket, std::string& why);

// A socket as it was when a connection opened it: its descriptor number may
// be given to another socket once the driver has closed it.
struct SocketIdentity {
    int socket = -1;
    unsigned long long inode = 0;
};

// The process's connected stream sockets: an ODBC driver names none of its
// own, so a connection's is the one that appears while it opens. None where
// the platform does not tell (Windows).
std::vector<SocketIdentity> ConnectedSockets();
bool StillOpen(const SocketIdentity& socket);

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
