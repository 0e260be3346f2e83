#include "support/PseudoTerminal.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace tarvelo::test {

PortsDir::PortsDir()
{
    char pattern[] = "/tmp/tarvelo-ports-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    setenv("TARVELO_COMPORTS", path_.c_str(), 1);
}

PortsDir::~PortsDir()
{
    unsetenv("TARVELO_COMPORTS");
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

PseudoTerminal::PseudoTerminal(const PortsDir& dir, int number)
{
    int slave = -1;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master_, &slave, name, &raw, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    ::close(slave);  // the library opens the port side itself
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    portName_ = name;
    link_ = dir.path() + "/COM" + std::to_string(number);
    std::filesystem::create_symlink(name, link_);
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
    std::error_code ignored;
    std::filesystem::remove(link_, ignored);
}

std::string PseudoTerminal::read(size_t count, std::chrono::milliseconds limit)
{
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (out.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{master_, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0)
            break;
        char buffer[4096];
        ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        out.append(buffer, size_t(n));
    }
    return out;
}

std::string PseudoTerminal::drain(std::chrono::milliseconds quiet)
{
    std::string out;
    for (;;) {
        std::string more = read(1, quiet);
        if (more.empty())
            return out;
        out += more;
    }
}

void PseudoTerminal::write(const std::string& bytes)
{
    if (::write(master_, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        throw std::runtime_error("write to the pseudo-terminal failed");
}

void PseudoTerminal::closeMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

}  // namespace tarvelo::test
