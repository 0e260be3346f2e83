#pragma once
// A TCP proxy on 127.0.0.1 in front of a server's Unix socket, for the
// faults of a network between a workstation and its database: a link that
// goes silent without closing, and one cut right after the server's reply
// went out.

#include <atomic>
#include <string>
#include <thread>

namespace tarvelo::test {

class TcpProxy {
public:
    explicit TcpProxy(std::string unixSocketPath);  // throws std::runtime_error
    ~TcpProxy();

    TcpProxy(const TcpProxy&) = delete;
    TcpProxy& operator=(const TcpProxy&) = delete;

    int port() const { return port_; }
    // Stops forwarding in both directions; the connections stay open.
    void stall() { stalled_ = true; }
    void resume() { stalled_ = false; }
    // The next server reply that holds `marker` is dropped and every
    // connection closed: the server did the work, the client never hears.
    void cutAfterReply(std::string marker);

private:
    void serve();

    std::string target_;
    int listener_ = -1;
    int port_ = 0;
    int wakePipe_[2] = {-1, -1};
    std::atomic<bool> stalled_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> cutArmed_{false};
    std::string cutMarker_;  // written before cutArmed_ is set
    std::thread thread_;
};

}  // namespace tarvelo::test
