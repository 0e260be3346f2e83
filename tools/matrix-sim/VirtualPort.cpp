#include "VirtualPort.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace matrixsim {

VirtualPort::VirtualPort(const std::string& dir, int number)
{
    termios raw{};
    cfmakeraw(&raw);
    char name[256] = {};
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    std::filesystem::create_directories(dir);
    link_ = dir + "/COM" + std::to_string(number);
    std::error_code ignored;
    std::filesystem::remove(link_, ignored);
    std::filesystem::create_symlink(name, link_);
}

VirtualPort::~VirtualPort()
{
    std::error_code ignored;
    std::filesystem::remove(link_, ignored);
    ::close(slave_);
    ::close(master_);
}

}  // namespace matrixsim
