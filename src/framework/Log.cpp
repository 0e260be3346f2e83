#include "framework/Log.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <stdexcept>
#include <unistd.h>

namespace tarvelo {
namespace {

std::mutex writeMutex;

std::string timeStamp()
{
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", int(millis));
    return text;
}

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

// A reason may come in several lines (libpq indents its continuation lines
// with tabs); the log keeps one entry to a line, so that a reader can grep it.
std::string oneLine(std::string_view text)
{
    std::string line;
    line.reserve(text.size());
    bool pendingSpace = false;
    for (char c : text) {
        bool breaks = c == '\n' || c == '\r' || c == '\t';
        if (breaks || (c == ' ' && pendingSpace)) {
            pendingSpace = true;
            continue;
        }
        if (pendingSpace && !line.empty() && line.back() != ' ')
            line += ' ';
        pendingSpace = false;
        line += c;
    }
    return line;
}

}  // namespace

void logLine(std::string_view subsystem, std::string_view text) noexcept
{
    try {
        std::string line = timeStamp() + " tarvelo " + std::string(subsystem) + ": " + oneLine(text) + "\n";
        std::lock_guard lock(writeMutex);
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
    } catch (...) {
        // Out of memory while logging: there is nothing left to tell.
    }
}

std::string systemErrorText(int error)
{
    char buffer[256];
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return std::string(text) + " (" + std::to_string(error) + ")";
}

std::string describeException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

}  // namespace tarvelo
