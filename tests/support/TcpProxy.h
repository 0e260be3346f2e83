#pragma once
// A TCP proxy on 127.0.0.1 in front of a server's Unix socket, for the
// faults of a network between a workstation and its database: a link that
// goes silent without closing, and one cut right after the server's reply
// went out. It runs in a child process of its own, so that the test's
// process holds only the client's end of each link, as a workstation does.

#include <string>

namespace tarvelo::test {

class TcpProxy {
public:
    explicit TcpProxy(std::string unixSocketPath);  // throws std::runtime_error
    ~TcpProxy();

    TcpProxy(const TcpProxy&) = delete;
    TcpProxy& operator=(const TcpProxy&) = delete;

    int port() const { return port_; }
    // Stops forwarding in both directions; the connections stay open.
    void stall() { command("s"); }
    void resume() { command("r"); }
    // The next server reply that holds `marker` is dropped and every
    // connection closed: the server did the work, the client never hears.
    void cutAfterReply(std::string marker);
    // Stalls once the next server reply that holds `marker` has gone out:
    // a link gone silent in the middle of a result.
    void stallAfterReply(std::string marker);

private:
    // Sends a command to the child and waits until it has taken it.
    void command(const std::string& text);
    void serve();
    bool takeCommand();

    std::string target_;
    int listener_ = -1;
    int port_ = 0;
    int commands_[2] = {-1, -1};
    int answers_[2] = {-1, -1};
    int child_ = -1;
    // The child's own state.
    bool stalled_ = false;
    bool stopping_ = false;
    bool cutArmed_ = false;
    bool stallArmed_ = false;
    std::string cutMarker_;
    std::string stallMarker_;
};

}  // namespace tarvelo::test
