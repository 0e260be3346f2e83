#include "framework/Log.h"
#include "framework/LogOutput.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tarvelo {
namespace {

void writeFully(int fd, const std::string& line)
{
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

}  // namespace

void WriteLogLine(const std::string& line)
{
    const char* path = std::getenv("TARVELO_LOG");
    if (path && *path) {
        int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            writeFully(fd, line);
            ::close(fd);
            return;
        }
    }
    writeFully(STDERR_FILENO, line);
}

void LocalTimeOf(std::time_t seconds, std::tm& local)
{
    localtime_r(&seconds, &local);
}

std::string systemErrorText(int error)
{
    char buffer[256];
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return std::string(text) + " (" + std::to_string(error) + ")";
}

}  // namespace tarvelo
