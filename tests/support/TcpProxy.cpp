#include "support/TcpProxy.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tarvelo::test {
namespace {

int connectUnix(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

struct Link {
    int client;
    int server;
};

}  // namespace

TcpProxy::TcpProxy(std::string unixSocketPath) : target_(std::move(unixSocketPath))
{
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        pipe2(commands_, O_CLOEXEC) != 0 || pipe2(answers_, O_CLOEXEC) != 0)
        throw std::runtime_error("the proxy cannot listen");
    port_ = ntohs(address.sin_port);
    child_ = fork();
    if (child_ < 0)
        throw std::runtime_error("the proxy cannot start");
    if (child_ == 0) {
        serve();
        _exit(0);
    }
    close(listener_);
}

TcpProxy::~TcpProxy()
{
    command("x");
    waitpid(child_, nullptr, 0);
    for (int fd : {commands_[0], commands_[1], answers_[0], answers_[1]})
        close(fd);
}

void TcpProxy::stallAfterReply(std::string marker)
{
    command("t" + marker);
}

void TcpProxy::cutAfterReply(std::string marker)
{
    command("c" + marker);
}

void TcpProxy::command(const std::string& text)
{
    std::string line = text + '\n';
    char taken = 0;
    if (write(commands_[1], line.data(), line.size()) != ssize_t(line.size()) || read(answers_[0], &taken, 1) != 1)
        throw std::runtime_error("the proxy does not answer");
}

// One command a line: stall, resume, cut or stall after a marker, exit.
bool TcpProxy::takeCommand()
{
    std::string line;
    char c = 0;
    while (read(commands_[0], &c, 1) == 1 && c != '\n')
        line += c;
    if (line.empty())
        return false;
    switch (line[0]) {
    case 's': stalled_ = true; break;
    case 'r': stalled_ = false; break;
    case 'c':
        cutMarker_ = line.substr(1);
        cutArmed_ = true;
        break;
    case 't':
        stallMarker_ = line.substr(1);
        stallArmed_ = true;
        break;
    default: stopping_ = true; break;
    }
    (void)!write(answers_[1], "k", 1);
    return true;
}

// The child moves every link's bytes. While stalled it polls nothing but
// the listener and its commands, so the bytes wait in the kernel.
void TcpProxy::serve()
{
    std::vector<Link> links;
    auto closeAll = [&] {
        for (const Link& link : links) {
            close(link.client);
            close(link.server);
        }
        links.clear();
    };
    while (!stopping_) {
        std::vector<pollfd> fds{{listener_, POLLIN, 0}, {commands_[0], POLLIN, 0}};
        const bool forwarding = !stalled_;
        if (forwarding)
            for (const Link& link : links) {
                fds.push_back({link.client, POLLIN, 0});
                fds.push_back({link.server, POLLIN, 0});
            }
        if (poll(fds.data(), fds.size(), 50) <= 0)
            continue;
        if ((fds[1].revents & (POLLIN | POLLHUP)) && !takeCommand())
            break;  // the test is gone
        if (fds[0].revents & POLLIN) {
            int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            int server = client >= 0 ? connectUnix(target_) : -1;
            if (server >= 0)
                links.push_back({client, server});
            else if (client >= 0)
                close(client);
        }
        if (!forwarding || stalled_ || stopping_)
            continue;
        bool cut = false;
        std::vector<bool> ended(links.size(), false);
        for (size_t i = 2; i < fds.size() && !cut; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const Link& link = links[(i - 2) / 2];
            const bool fromClient = fds[i].fd == link.client;
            char buffer[65536];
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got <= 0) {
                ended[(i - 2) / 2] = true;  // one side went: its link goes, as a router's would
                continue;
            }
            if (!fromClient && cutArmed_ &&
                std::string_view(buffer, size_t(got)).find(cutMarker_) != std::string_view::npos) {
                cutArmed_ = false;
                cut = true;
                continue;
            }
            (void)!write(fromClient ? link.server : link.client, buffer, size_t(got));
            if (!fromClient && stallArmed_ &&
                std::string_view(buffer, size_t(got)).find(stallMarker_) != std::string_view::npos) {
                stallArmed_ = false;
                stalled_ = true;
                break;
            }
        }
        if (cut) {
            closeAll();
            continue;
        }
        for (size_t l = links.size(); l-- > 0;)
            if (ended[l]) {
                close(links[l].client);
                close(links[l].server);
                links.erase(links.begin() + long(l));
            }
    }
    closeAll();
}

}  // namespace tarvelo::test
