#include "support/TcpProxy.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
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
        pipe(wakePipe_) != 0)
        throw std::runtime_error("the proxy cannot listen");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread(&TcpProxy::serve, this);
}

TcpProxy::~TcpProxy()
{
    stopping_ = true;
    (void)!write(wakePipe_[1], "x", 1);
    thread_.join();
    close(listener_);
    close(wakePipe_[0]);
    close(wakePipe_[1]);
}

void TcpProxy::cutAfterReply(std::string marker)
{
    cutMarker_ = std::move(marker);
    cutArmed_ = true;
}

// One thread moves every link's bytes. While stalled it polls nothing but
// the listener and its wake-up pipe, so the bytes wait in the kernel.
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
        std::vector<pollfd> fds{{listener_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        const bool forwarding = !stalled_;
        if (forwarding)
            for (const Link& link : links) {
                fds.push_back({link.client, POLLIN, 0});
                fds.push_back({link.server, POLLIN, 0});
            }
        if (poll(fds.data(), fds.size(), 50) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            int server = client >= 0 ? connectUnix(target_) : -1;
            if (server >= 0)
                links.push_back({client, server});
            else if (client >= 0)
                close(client);
        }
        if (!forwarding)
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
